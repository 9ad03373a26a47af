#include "crash/report/composition/ContextTexts.h"

#include "crash/analysis/disasm/Decoder.h"
#include "crash/report/composition/ReportText.h"

namespace kx {

namespace {

using tidewell::disasm::Hex16;

std::string Hex4(uint16_t value) {
  static const char digits[] = "0123456789abcdef";
  return {digits[value >> 12], digits[(value >> 8) & 15], digits[(value >> 4) & 15], digits[value & 15]};
}

} // namespace

std::string CpuRegistersText(const KXRegisterContext &c) {
  std::string text;
  auto line = [&text](const char *name, const std::string &value) {
    if (!text.empty())
      text += "\r\n";
    text += name;
    text += " = ";
    text += value;
  };
  if (!c.x64) {
    const std::pair<const char *, uint64_t> regs[] = {{"eax", c.rax}, {"ebx", c.rbx}, {"ecx", c.rcx},
                                                      {"edx", c.rdx}, {"esi", c.rsi}, {"edi", c.rdi},
                                                      {"eip", c.rip}, {"esp", c.rsp}, {"ebp", c.rbp}};
    for (const auto &[name, value] : regs)
      line(name, Hex8(uint32_t(value)));
    return text;
  }
  const std::pair<const char *, uint64_t> regs[] = {
      {"rax", c.rax}, {"rbx", c.rbx}, {"rcx", c.rcx}, {"rdx", c.rdx}, {"rsi", c.rsi}, {"rdi", c.rdi},
      {"r8", c.r8},   {"r9", c.r9},   {"r10", c.r10}, {"r11", c.r11}, {"r12", c.r12}, {"r13", c.r13},
      {"r14", c.r14}, {"r15", c.r15}, {"rip", c.rip}, {"rsp", c.rsp}, {"rbp", c.rbp}};
  for (const auto &[name, value] : regs)
    line(name, Hex16(value));
  line("eflags", Hex8(c.eflags));
  text += "\r\ncs = " + Hex4(c.cs) + "  ds = " + Hex4(c.ds) + "  es = " + Hex4(c.es) + "  fs = " + Hex4(c.fs) +
          "  gs = " + Hex4(c.gs) + "  ss = " + Hex4(c.ss);
  return text;
}

std::string StackDumpText(uint64_t start, uint64_t end, const KXReadMemoryFn &read, bool x64) {
  static const char digits[] = "0123456789abcdef";
  if (end == 0 || end < start)
    end = UINT64_MAX;
  std::string text;
  uint64_t address = start;
  for (int line = 0; line < 20 && address < end; ++line) {
    uint8_t bytes[16];
    int count = 0;
    while (count < 16 && address + uint64_t(count) < end && read(address + uint64_t(count), &bytes[count], 1))
      ++count;
    if (count == 0)
      break;
    if (!text.empty())
      text += "\r\n";
    if (x64) {
      text += Hex16(address);
      text += "  ";
      for (int word = 0; word < 2; ++word) {
        if (word == 1)
          text += count >= 16 ? " - " : "   ";
        if (count >= (word + 1) * 8) {
          uint64_t value = 0;
          for (int i = 7; i >= 0; --i)
            value = value << 8 | bytes[word * 8 + i];
          text += Hex16(value);
        } else {
          text += std::string(16, ' ');
        }
      }
      text += "  ";
    } else {
      text += Hex8(address);
      text += "  ";
      for (int i = 0; i < 16; ++i) {
        if (i == 8)
          text += count > 8 ? "- " : "  ";
        if (i < count) {
          text += digits[bytes[i] >> 4];
          text += digits[bytes[i] & 15];
          text += ' ';
        } else {
          text += "   ";
        }
      }
      text += ' ';
    }
    for (int i = 0; i < count; ++i)
      text += (bytes[i] >= 33 && bytes[i] <= 126) ? char(bytes[i]) : '.';
    if (count < 16)
      break;
    address += 16;
    if (address < start) // wrapped around the top of the address space
      break;
  }
  return text;
}

} // namespace kx
