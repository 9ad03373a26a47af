#include "tests/crash/analysis/stacktrace/SyntheticProcess.h"

#include <cstring>
#include <stdexcept>

namespace tidewell::stacktrace::test {

namespace {
void Put16At(uint8_t *b, uint32_t v) {
  b[0] = uint8_t(v);
  b[1] = uint8_t(v >> 8);
}
void Put32At(uint8_t *b, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[i] = uint8_t(v >> (8 * i));
}
} // namespace

void SyntheticProcess::AddImage(const std::string &fileName, uint32_t base, uint32_t codeSize,
                                bool isExecutable,
                                const std::vector<std::pair<uint32_t, std::string>> &exports) {
  codeSize = (codeSize + 0xFFF) & ~0xFFFu;
  const uint32_t dataRva = 0x1000 + codeSize;
  Region r;
  r.base = base;
  r.image = true;
  r.fileName = fileName;
  r.isExecutable = isExecutable;
  r.bytes.assign(dataRva + 0x1000, 0);
  uint8_t *b = r.bytes.data();
  b[0] = 'M';
  b[1] = 'Z';
  Put32At(b + 0x3C, 0x80);
  Put32At(b + 0x80, 0x00004550);
  uint8_t *fh = b + 0x84;
  Put16At(fh, 0x14C);
  Put16At(fh + 2, 2);
  Put16At(fh + 16, 0xE0);
  uint8_t *oh = fh + 20;
  Put16At(oh, 0x10B);
  Put32At(oh + 4, codeSize);        // SizeOfCode
  Put32At(oh + 8, 0x1000);          // SizeOfInitializedData
  Put32At(oh + 16, 0x1000);         // AddressOfEntryPoint
  Put32At(oh + 20, 0x1000);         // BaseOfCode
  Put32At(oh + 24, dataRva);        // BaseOfData
  Put32At(oh + 28, base);           // ImageBase
  Put32At(oh + 56, dataRva + 0x1000); // SizeOfImage
  Put32At(oh + 60, 0x400);          // SizeOfHeaders
  Put32At(oh + 92, 16);             // NumberOfRvaAndSizes
  uint8_t *sh = oh + 0xE0;
  std::memcpy(sh, ".text", 5);
  Put32At(sh + 8, codeSize);
  Put32At(sh + 12, 0x1000);
  Put32At(sh + 36, 0x60000020);
  sh += 40;
  std::memcpy(sh, ".data", 5);
  Put32At(sh + 8, 0x1000);
  Put32At(sh + 12, dataRva);
  Put32At(sh + 36, 0xC0000040);
  if (!exports.empty()) {
    // Directory at dataRva: functions, names, ordinals and name strings follow it.
    const uint32_t n = uint32_t(exports.size());
    const uint32_t functions = dataRva + 40, names = functions + 4 * n, ordinals = names + 4 * n;
    uint32_t strings = ordinals + 2 * n;
    uint8_t *d = b + dataRva;
    Put32At(d + 0x14, n);
    Put32At(d + 0x18, n);
    Put32At(d + 0x1C, functions);
    Put32At(d + 0x20, names);
    Put32At(d + 0x24, ordinals);
    for (uint32_t i = 0; i < n; ++i) {
      Put32At(b + functions + 4 * i, exports[i].first);
      Put32At(b + names + 4 * i, strings);
      Put16At(b + ordinals + 2 * i, i);
      std::memcpy(b + strings, exports[i].second.c_str(), exports[i].second.size() + 1);
      strings += uint32_t(exports[i].second.size() + 1);
    }
    Put32At(oh + 96, dataRva);
    Put32At(oh + 100, strings - dataRva);
  }
  regions_[base] = std::move(r);
}

void SyntheticProcess::AddPlain(uint64_t base, uint32_t size) {
  Region r;
  r.base = base;
  r.bytes.assign(size, 0);
  regions_[base] = std::move(r);
}

void SyntheticProcess::AddRegion(uint64_t base, std::vector<uint8_t> bytes, bool image, const std::string &fileName) {
  Region r;
  r.base = base;
  r.bytes = std::move(bytes);
  r.image = image;
  r.fileName = fileName;
  regions_[base] = std::move(r);
}

TMapFile &SyntheticProcess::DebugInfo(uint32_t base) {
  Region &r = regions_.at(base);
  if (!r.debugInfo) {
    r.debugInfo = std::make_shared<TMapFile>();
    const uint64_t codeEnd = r.base + r.bytes.size() - 0x1000;
    r.debugInfo->SetBounds(base + 0x1000, uint32_t(codeEnd), uint32_t(codeEnd), uint32_t(r.base + r.bytes.size()));
    r.debugInfo->SetModuleFileName(r.fileName);
  }
  return *r.debugInfo;
}

void SyntheticProcess::SetUnwindTables(uint32_t base, uint32_t begin, uint32_t end) {
  Region &r = regions_.at(base);
  r.ehFrameBegin = begin;
  r.ehFrameEnd = end;
}

const SyntheticProcess::Region *SyntheticProcess::Find(uint64_t address) const {
  auto it = regions_.upper_bound(address);
  if (it == regions_.begin())
    return nullptr;
  --it;
  const Region &r = it->second;
  return address - r.base < r.bytes.size() ? &r : nullptr;
}

uint8_t *SyntheticProcess::At(uint64_t address, uint32_t count) {
  const Region *r = Find(address);
  if (!r || address - r->base + count > r->bytes.size())
    throw std::out_of_range("synthetic address not mapped");
  return const_cast<uint8_t *>(r->bytes.data()) + (address - r->base);
}

void SyntheticProcess::Put32(uint64_t address, uint32_t value) { Put32At(At(address, 4), value); }

void SyntheticProcess::Put64(uint64_t address, uint64_t value) {
  Put32(address, uint32_t(value));
  Put32(address + 4, uint32_t(value >> 32));
}

bool SyntheticProcess::Read(uint64_t address, void *buffer, uint32_t count) const {
  ++reads;
  if (count == 0)
    return true;
  if (address > UINT32_MAX && !wide) // a 32-bit process
    return false;
  const Region *r = Find(address);
  if (!r || count > r->bytes.size() - (address - r->base))
    return false;
  std::memcpy(buffer, r->bytes.data() + (address - r->base), count);
  return true;
}

MemoryRegion SyntheticProcess::Query(uint64_t address) const {
  if (onQuery)
    onQuery(address);
  MemoryRegion m;
  if (const Region *r = Find(address)) {
    m.committed = true;
    m.allocationBase = r->base;
    m.image = r->image;
  }
  return m;
}

ModuleFacts SyntheticProcess::DescribeModule(uint64_t handle) const {
  ModuleFacts f;
  auto it = regions_.find(handle);
  if (it == regions_.end() || !it->second.image)
    return f;
  f.fileName = "C:\\Program Files\\Test\\" + it->second.fileName;
  f.isExecutable = it->second.isExecutable;
  f.debugInfo = it->second.debugInfo;
  f.ehFrameBegin = it->second.ehFrameBegin;
  f.ehFrameEnd = it->second.ehFrameEnd;
  return f;
}

void Asm::Bytes(std::initializer_list<uint8_t> bytes) {
  uint8_t *to = p_.At(here_, uint32_t(bytes.size()));
  for (uint8_t b : bytes)
    *to++ = b;
  here_ += uint32_t(bytes.size());
}

void Asm::MovEaxImm(uint32_t v) {
  Bytes({0xB8});
  p_.Put32(here_, v);
  here_ += 4;
}

uint32_t Asm::LoadThroughEax() {
  const uint32_t at = here_;
  Bytes({0x8B, 0x00});
  return at;
}

uint32_t Asm::CallRel(uint32_t target, uint32_t *site) {
  if (site)
    *site = here_;
  Bytes({0xE8});
  p_.Put32(here_, target - (here_ + 4));
  here_ += 4;
  return here_;
}

uint32_t Asm::CallCell(uint32_t cell, uint32_t *site) {
  if (site)
    *site = here_;
  Bytes({0xFF, 0x15});
  p_.Put32(here_, cell);
  here_ += 4;
  return here_;
}

uint32_t Asm::CallEax(uint32_t *site) {
  if (site)
    *site = here_;
  Bytes({0xFF, 0xD0});
  return here_;
}

uint32_t StackWriter::Push(uint32_t value) {
  sp_ -= 4;
  p_.Put32(sp_, value);
  return sp_;
}

void StackWriter::Reserve(uint32_t slots, uint32_t fill) {
  for (uint32_t i = 0; i < slots; ++i)
    Push(fill);
}

void AddFunction(TMapFile &model, const std::string &unit, const std::string &name, uint32_t start,
                 uint32_t end, const std::vector<std::pair<uint32_t, int32_t>> &lines) {
  model.AddSegment(true, start, end - start, unit, !lines.empty());
  model.AddPublic(true, name, start, false);
  for (const auto &[address, line] : lines)
    model.AddLine(line, address);
}

void Seal(TMapFile &model) {
  model.SortSegments();
  model.SortPublics();
  model.SortLines();
  model.SetValid(true);
}

} // namespace tidewell::stacktrace::test
