#include "crash/analysis/stacktrace/CallStackText.h"

#include "crash/analysis/debuginfo/Crc32.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace tidewell::stacktrace {

namespace {

std::string Hex(uint64_t v, int width) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%0*llx", width, static_cast<unsigned long long>(v));
  return buf;
}
int HexDigits(uint64_t v) {
  int n = 1;
  while (v >>= 4)
    ++n;
  return n;
}
void PadRight(std::string &out, const std::string &text, size_t width) {
  out += text;
  if (text.size() < width)
    out.append(width - text.size(), ' ');
}
// Right-aligned before the column's final space.
void PadLeft(std::string &out, const std::string &text, size_t width) {
  if (text.size() + 1 < width)
    out.append(width - 1 - text.size(), ' ');
  out += text;
  out += ' ';
}

} // namespace

uint32_t CrcUpdate(uint32_t crc, std::string_view data) {
  // The table step without the standard CRC's inversions at both ends.
  return ~debuginfo::Crc32(data.data(), data.size(), ~crc);
}

std::string ReportLower(std::string_view text) {
  std::string out(text);
  for (char &c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u >= 'A' && u <= 'Z') || u == 0xC4 || u == 0xD6 || u == 0xDC)
      c = static_cast<char>(u + 0x20);
  }
  return out;
}

uint32_t LineChecksumValue(const StackItem &item) {
  const auto fold = [](uint64_t x) { return uint32_t(x) ^ uint32_t(x >> 32); };
  if (!item.FunctionAddr || item.ModuleName.empty() || item.FunctionName.empty())
    return fold(item.Addr);
  uint32_t v = uint32_t(item.Addr - item.FunctionAddr); // a distance within one function
  v = CrcUpdate(v, ReportLower(item.ModuleName));
  if (!item.UnitName.empty())
    v = CrcUpdate(v, ReportLower(item.UnitName));
  return CrcUpdate(v, ReportLower(item.FunctionName));
}

std::string CallStackLines(const StackTraceItems &items, const CallStackOptions &options,
                           CallStackChecksum *checksum) {
  const bool rel = options.showRelativeLines;
  auto passes = [&](const StackItem &it) {
    return it.IsTop || it.IsCreator ||
           (!it.FunctionName.empty() && (it.Line > 0 || !options.hideUglyItems));
  };
  auto lineText = [&](const StackItem &it) -> std::string {
    const int32_t first = it.FirstLine(rel), second = it.SecondLine(rel);
    if (rel && second > 0)
      return "+" + std::to_string(first);
    return first > 0 ? std::to_string(first) : std::string();
  };

  // Column widths over every item that passes the first test.
  size_t relDigits = 0, moduleWidth = 0, unitWidth = 0, secondWidth = 0, lineWidth = 0;
  bool anyRel = false;
  for (const auto &it : items) {
    if (!passes(it))
      continue;
    if (it.FunctionAddr && it.Addr > it.FunctionAddr) {
      anyRel = true;
      relDigits = std::max<size_t>(relDigits, size_t(HexDigits(it.Addr - it.FunctionAddr)));
    }
    moduleWidth = std::max(moduleWidth, it.ModuleName.size() + 1);
    unitWidth = std::max(unitWidth, it.UnitName.size() + 1);
    if (it.SecondLine(rel) > 0)
      secondWidth = std::max(secondWidth, std::to_string(it.SecondLine(rel)).size() + 1);
    lineWidth = std::max(lineWidth, lineText(it).size() + 1);
  }
  const bool relColumn = options.showRelativeAddrs && anyRel;
  const bool lineColumn = lineWidth > 1;

  std::string out;
  CallStackChecksum sum;
  bool written = false;
  uint64_t lastAddr = 0;
  const int addressDigits = options.mode == disasm::CpuMode::X64 ? 16 : 8;
  for (const auto &it : items) {
    if (!passes(it))
      continue;
    if (written && !it.IsTop && !it.IsCreator && it.Addr == lastAddr)
      continue;
    if (written)
      out += "\r\n";
    out += Hex(it.Addr, addressDigits);
    out += ' ';
    if (relColumn) {
      out += '+';
      out += Hex(it.RelAddr(), int(relDigits));
      out += ' ';
    }
    PadRight(out, it.ModuleName, moduleWidth);
    PadRight(out, it.UnitName, unitWidth);
    if (secondWidth) {
      const int32_t second = it.SecondLine(rel);
      PadLeft(out, second > 0 ? std::to_string(second) : std::string(), secondWidth);
    }
    if (lineColumn)
      PadLeft(out, lineText(it), lineWidth);
    out += it.FunctionName;

    const uint32_t v = LineChecksumValue(it);
    if (!sum.any) {
      sum.firstLine = sum.chain = v;
      sum.any = true;
    } else {
      const char bytes[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
      sum.chain = CrcUpdate(sum.chain, std::string_view(bytes, 4));
    }
    if (it.Line > 0)
      sum.hasLineInfo = true;
    written = true;
    lastAddr = it.Addr;
  }
  if (checksum)
    *checksum = sum;
  return out;
}

} // namespace tidewell::stacktrace
