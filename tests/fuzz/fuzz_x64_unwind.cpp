// Fuzz target: the x86-64 unwinder over an unwind record, the code at RIP and a stack taken from
// the input. A PE32+ image based above 4 GiB holds two functions, [0x1000, 0x1100) and
// [0x1100, 0x1200), whose records lie in the record bytes at RVA 0x2000 and 0x2000 + 4 * byte 1
// (chained entries in them may point anywhere, the records included). Input: byte 0, RIP's
// offset in the first function; byte 1, where the second record starts; byte 2, the length of
// the code bytes (at most 64) written at RIP; the code bytes; one byte, the length of the record
// bytes; the record bytes; the rest, the stack (at most 4 KiB), RSP at its start, every other
// register pointing into it. Up to 16 frames are unwound. Checked: no fault, at most a bounded
// number of reads a step (so a chain loop ends), a step that succeeds moves RSP up, one that fails
// leaves the registers alone.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crash/analysis/stacktrace/X64Unwinder.h"

using namespace tidewell::stacktrace;

namespace {

constexpr uint64_t kBase = 0x00007FFA'00000000ull, kStack = 0x000000A0'00000000ull;
constexpr uint32_t kImageSize = 0x3000, kRecords = 0x2000, kPdata = 0x2800;
constexpr size_t kMaxReadsPerStep = 20000;

class Memory final : public debuginfo::PeSource {
public:
  std::vector<uint8_t> image = std::vector<uint8_t>(kImageSize, 0);
  std::vector<uint8_t> stack;
  mutable size_t reads = 0;
  bool Read(uint64_t address, void *out, size_t size) const override {
    ++reads;
    for (const auto &[base, bytes] : {std::pair<uint64_t, const std::vector<uint8_t> *>{kBase, &image}, {kStack, &stack}})
      if (address >= base && address - base <= bytes->size() && size <= bytes->size() - (address - base)) {
        if (size)
          std::memcpy(out, bytes->data() + (address - base), size);
        return true;
      }
    return false;
  }
  template <class T> void Put(uint32_t rva, T value) { std::memcpy(image.data() + rva, &value, sizeof value); }
};

void Check(bool ok) {
  if (!ok)
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4)
    return 0;
  size_t at = 0;
  const uint8_t ripOffset = data[at++], second = data[at++];
  const size_t codeLength = data[at++] % 65;
  if (size - at < codeLength + 1)
    return 0;
  Memory memory;
  std::memcpy(memory.image.data() + 0x1000 + ripOffset, data + at, codeLength);
  at += codeLength;
  const size_t recordLength = data[at++];
  if (size - at < recordLength)
    return 0;
  std::memcpy(memory.image.data() + kRecords, data + at, recordLength);
  at += recordLength;
  memory.stack.assign(data + at, data + at + std::min<size_t>(size - at, 4096));

  // Headers: DOS, signature, file header (AMD64, one section), PE32+ optional header.
  memory.Put<uint16_t>(0, 0x5A4D);
  memory.Put<uint32_t>(0x3C, 0x40);
  memory.Put<uint32_t>(0x40, 0x4550);
  memory.Put<uint16_t>(0x44, 0x8664);
  memory.Put<uint16_t>(0x46, 1);
  memory.Put<uint16_t>(0x54, 240);
  memory.Put<uint16_t>(0x58, 0x20B);
  memory.Put<uint64_t>(0x58 + 24, kBase);
  memory.Put<uint32_t>(0x58 + 56, kImageSize);
  memory.Put<uint32_t>(0x58 + 60, 0x400);
  memory.Put<uint32_t>(0x58 + 108, 16);
  memory.Put<uint32_t>(0x58 + 112 + 24, kPdata);
  memory.Put<uint32_t>(0x58 + 112 + 28, 24);
  memory.Put<uint32_t>(0x58 + 240 + 8, 0x1000);
  memory.Put<uint32_t>(0x58 + 240 + 12, 0x1000);
  const uint32_t pdata[] = {0x1000, 0x1100, kRecords, 0x1100, 0x1200, kRecords + 4u * second};
  std::memcpy(memory.image.data() + kPdata, pdata, sizeof pdata);

  X64Context context;
  for (size_t i = 0; i < 16; ++i)
    context.gpr[i] = kStack + 8 * i;
  context.rip = kBase + 0x1000 + ripOffset;
  for (int step = 0; step < 16; ++step) {
    const X64Context before = context;
    const uint64_t imageBase = context.rip - kBase < kImageSize ? kBase : 0;
    memory.reads = 0;
    const X64UnwindResult result = UnwindX64Frame(memory, imageBase, context);
    Check(memory.reads <= kMaxReadsPerStep);
    if (!X64UnwindSucceeded(result)) {
      Check(context.gpr == before.gpr && context.rip == before.rip && context.known == before.known);
      break;
    }
    Check(context.gpr[kX64Rsp] > before.gpr[kX64Rsp]);
    Check((context.known & kX64KnownRip) && (context.known & (1u << kX64Rsp)));
  }
  return 0;
}
