#pragma once
// A process made of byte buffers for the tracer's tests: module images with PE headers, a code
// section and optional exports and debug information, plain committed regions for stacks and
// heap code, and a small x86-32 assembler and stack writer to fill them.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "crash/analysis/debuginfo/MapFile.h"
#include "crash/analysis/stacktrace/TraceTarget.h"

namespace tidewell::stacktrace::test {

class SyntheticProcess : public ITraceTarget, public disasm::MemoryReader {
public:
  struct Region {
    uint64_t base = 0;
    std::vector<uint8_t> bytes;
    bool image = false;
    std::string fileName;
    bool isExecutable = false;
    std::shared_ptr<TMapFile> debugInfo;
    uint64_t ehFrameBegin = 0, ehFrameEnd = 0;
  };

  // An image at `base`: headers, code section at base + 0x1000 of `codeSize` bytes, and a data
  // section after it (0x1000 bytes) that can hold an export directory.
  void AddImage(const std::string &fileName, uint32_t base, uint32_t codeSize, bool isExecutable,
                const std::vector<std::pair<uint32_t, std::string>> &exports = {});
  // Committed memory that belongs to no module (stacks, heap, generated code).
  void AddPlain(uint64_t base, uint32_t size);
  // Bytes of a region made elsewhere (a PE32+ image built by a test), as an image or plain.
  void AddRegion(uint64_t base, std::vector<uint8_t> bytes, bool image, const std::string &fileName = {});
  // Debug information for the image at `base`, with the image's bounds; fill it and call Seal().
  TMapFile &DebugInfo(uint32_t base);
  // The unwind tables of the image at `base` lie at [begin, end).
  void SetUnwindTables(uint32_t base, uint32_t begin, uint32_t end);

  uint8_t *At(uint64_t address, uint32_t count = 1);
  void Put32(uint64_t address, uint32_t value);
  void Put64(uint64_t address, uint64_t value);

  // --- ITraceTarget ---
  const disasm::MemoryReader &Memory() const override { return *this; }
  MemoryRegion Query(uint64_t address) const override;
  ModuleFacts DescribeModule(uint64_t handle) const override;
  // --- MemoryReader ---
  bool Read(uint64_t address, void *buffer, uint32_t count) const override;

  // Called on every Query; may throw to stand for a failing platform call.
  std::function<void(uint64_t)> onQuery;
  // Addresses above 4 GiB can be read (a 64-bit process); otherwise reads there fail.
  bool wide = false;
  mutable uint64_t reads = 0;

private:
  const Region *Find(uint64_t address) const;
  std::map<uint64_t, Region> regions_;
};

// Emits x86-32 code at an address of the process.
class Asm {
public:
  Asm(SyntheticProcess &p, uint32_t at) : p_(p), here_(at) {}
  uint32_t Here() const { return here_; }
  void Bytes(std::initializer_list<uint8_t> bytes);
  void PushEbp() { Bytes({0x55}); }
  void MovEbpEsp() { Bytes({0x8B, 0xEC}); }
  void PopEbp() { Bytes({0x5D}); }
  void Leave() { Bytes({0xC9}); }
  void Ret() { Bytes({0xC3}); }
  void Nop() { Bytes({0x90}); }
  void SubEsp(uint8_t n) { Bytes({0x83, 0xEC, n}); }
  void AddEsp(uint8_t n) { Bytes({0x83, 0xC4, n}); }
  void MovEaxImm(uint32_t v);
  void XorEaxEax() { Bytes({0x31, 0xC0}); }
  // Instruction that faults on a null eax: mov eax, [eax]. Returns its address.
  uint32_t LoadThroughEax();
  // Each call returns the return address (the address after it); `site` gets the call's address.
  uint32_t CallRel(uint32_t target, uint32_t *site = nullptr);
  uint32_t CallCell(uint32_t cell, uint32_t *site = nullptr); // call dword ptr [cell], 6 bytes
  uint32_t CallEax(uint32_t *site = nullptr);                 // call eax, 2 bytes

private:
  SyntheticProcess &p_;
  uint32_t here_;
};

// Writes a stack downwards from its top, as pushes do.
class StackWriter {
public:
  StackWriter(SyntheticProcess &p, uint32_t top) : p_(p), sp_(top) {}
  uint32_t Push(uint32_t value); // returns the slot's address
  void Reserve(uint32_t slots, uint32_t fill = 0);
  uint32_t Sp() const { return sp_; }

private:
  SyntheticProcess &p_;
  uint32_t sp_;
};

// Adds a unit segment, a public per function and one line per given address to a model.
void AddFunction(TMapFile &model, const std::string &unit, const std::string &name, uint32_t start,
                 uint32_t end, const std::vector<std::pair<uint32_t, int32_t>> &lines = {});
void Seal(TMapFile &model);

} // namespace tidewell::stacktrace::test
