// Random code and random stacks: the tracer ends, stays inside its memory and reports no
// internal error, whatever the bytes are.
#include <gtest/gtest.h>

#include <random>

#include "crash/analysis/stacktrace/StackTracer.h"
#include "tests/crash/analysis/stacktrace/SyntheticProcess.h"

namespace tidewell::stacktrace::test {
namespace {

TEST(RandomInput, TracesOfRandomMemoryEndCleanly) {
  std::mt19937 rng(20261209);
  constexpr uint32_t kBase = 0x00400000, kCode = kBase + 0x1000, kCodeSize = 0x2000;
  for (int round = 0; round < 200; ++round) {
    SyntheticProcess p;
    p.AddImage(round % 2 ? "lib.dll" : "app.exe", kBase, kCodeSize, round % 2 == 0,
               {{0x1000, "First"}, {0x1800, "Second"}});
    p.AddPlain(0x00100000, 0x1000);
    p.AddPlain(0x00200000, 0x800); // generated code outside any module
    uint8_t *code = p.At(kCode, kCodeSize);
    for (uint32_t i = 0; i < kCodeSize; ++i) {
      // Mostly calls and frame set-ups, so that many values pass the return-address test.
      const uint32_t r = rng() % 8;
      code[i] = r == 0 ? 0xE8 : r == 1 ? 0xFF : r == 2 ? 0x55 : uint8_t(rng());
    }
    uint8_t *heap = p.At(0x00200000, 0x800);
    for (uint32_t i = 0; i < 0x800; ++i)
      heap[i] = uint8_t(rng());
    if (round % 3 == 0) {
      TMapFile &model = p.DebugInfo(kBase);
      for (uint32_t f = 0; f < 16; ++f)
        AddFunction(model, "Unit" + std::to_string(f % 3), "F" + std::to_string(f), kCode + f * 0x200,
                    kCode + (f + 1) * 0x200, {{kCode + f * 0x200, int32_t(f * 10 + 1)}});
      Seal(model);
    }
    // The stack: return addresses after random places, frame pointers, junk.
    for (uint32_t slot = 0x00100000; slot < 0x00101000; slot += 4) {
      const uint32_t r = rng() % 6;
      uint32_t v = r < 3   ? kCode + rng() % kCodeSize
                   : r == 3 ? 0x00100000 + (rng() % 0x1000 & ~3u)
                   : r == 4 ? 0x00200000 + rng() % 0x800
                            : uint32_t(rng());
      p.Put32(slot, v);
    }
    TraceRequest q;
    q.currentAddr = round % 4 == 0 ? uint32_t(rng()) : kCode + rng() % kCodeSize;
    q.isException = round % 5 != 0;
    q.extException = round % 2 == 0;
    q.stackBottom = 0x00100000 + (rng() % 0x100) * 4;
    q.stackTop = 0x00101000;
    q.ebp = 0x00100000 + (rng() % 0x400) * 4;
    q.creator = round % 7 == 0 ? kCode + rng() % kCodeSize : 0;
    q.bcbTermination = round % 6 == 0;
    q.showRelativeAddrs = q.showRelativeLines = round % 2 == 1;
    std::vector<PreStackItem> prepared;
    if (round % 4 == 1) {
      prepared = PrepareStack(p, q.ebp, q.stackTop, q.stackBottom, q.isException, q.currentAddr);
      q.preparedStack = &prepared;
    }
    TraceCaches caches;
    const TraceResult r = StackTrace(p, caches, q);
    EXPECT_TRUE(r.failedPhase.empty()) << "round " << round << ": " << r.text;
    if (!q.dontAddTopItem && !q.bcbTermination) {
      ASSERT_FALSE(r.items.empty()) << "round " << round;
      EXPECT_TRUE(r.items.front().IsTop) << "round " << round;
    }
    for (size_t i = 1; i < r.items.size(); ++i)
      EXPECT_FALSE(r.items[i].IsTop);
  }
}

} // namespace
} // namespace tidewell::stacktrace::test
