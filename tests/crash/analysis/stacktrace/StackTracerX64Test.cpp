// Traces of a synthetic x86-64 program whose true call chain is known (X64Program): frames
// unwound exactly where the image has unwind data, the 8-byte scan where unwinding fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>

#include "crash/analysis/stacktrace/CachedTraceTarget.h"
#include "crash/analysis/stacktrace/LocationLine.h"
#include "crash/analysis/stacktrace/ReturnAddress.h"
#include "crash/analysis/stacktrace/StackTracer.h"
#include "tests/crash/analysis/stacktrace/X64Program.h"

namespace tidewell::stacktrace::test {
namespace {

constexpr uint64_t kHigh = 0x00007FF6'12340000ull; // above 4 GiB, as x86-64 modules load
constexpr uint64_t kLow = 0x10000000;              // below: the debug information can hold it

std::vector<uint64_t> Addrs(const TraceResult &r) {
  std::vector<uint64_t> out;
  for (const auto &item : r.items)
    out.push_back(item.Addr);
  return out;
}
std::vector<std::string> Names(const TraceResult &r) {
  std::vector<std::string> out;
  for (const auto &item : r.items)
    out.push_back(item.FunctionName);
  return out;
}

// The x86-64 return-address test: the call forms that end right at the value.
TEST(X64Trace, ReturnAddressTestKnowsTheCallForms) {
  const std::vector<std::vector<uint8_t>> calls = {
      {0xE8, 1, 2, 3, 4},                         // call rel32
      {0xFF, 0x15, 1, 2, 3, 4},                   // call [rip + disp32]
      {0x48, 0xFF, 0x15, 1, 2, 3, 4},             // rex.w call [rip + disp32]
      {0xFF, 0xD0},                               // call rax
      {0x41, 0xFF, 0xD3},                         // call r11
      {0xFF, 0x50, 0x08},                         // call [rax + 8]
      {0xFF, 0x54, 0x24, 0x08},                   // call [rsp + 8]
      {0x41, 0xFF, 0x94, 0x24, 1, 2, 0, 0},       // call [r12 + disp32]
      {0xFF, 0x1D, 1, 2, 3, 4},                   // call far [rip + disp32]
  };
  const std::vector<std::vector<uint8_t>> others = {
      {0xFF, 0x25, 1, 2, 3, 4},                   // jmp [rip + disp32]
      {0xFF, 0xE0},                               // jmp rax
      {0xFF, 0x15, 1, 2, 3, 4, 0x90},             // a call that ends one byte earlier
      {0x9A, 1, 2, 3, 4, 5, 6},                   // far call ptr16:32: invalid in 64-bit mode
      {0x48, 0x89, 0xC8},                         // mov rax, rcx
  };
  constexpr uint64_t kAt = 0x00007FF6'00000000ull;
  auto test = [&](const std::vector<uint8_t> &code) {
    std::vector<uint8_t> bytes(16 + code.size() + 1, 0x90); // nops before the instruction
    std::copy(code.begin(), code.end(), bytes.begin() + 16);
    bytes.back() = 0xCC;
    const disasm::BufferMemory memory(kAt, bytes);
    const uint64_t value = kAt + 16 + code.size();
    return CouldBeReturnAddress64(memory, value) &&
           CouldBeReturnAddress(memory, value, disasm::CpuMode::X64);
  };
  for (const auto &c : calls)
    EXPECT_TRUE(test(c)) << int(c[0]) << " " << int(c[1]) << " " << c.size();
  for (const auto &c : others)
    EXPECT_FALSE(test(c)) << int(c[0]) << " " << int(c[1]) << " " << c.size();
  // Too close to the start of memory, or with the bytes before it unreadable.
  const std::vector<uint8_t> call = {0xE8, 1, 2, 3, 4};
  const disasm::BufferMemory shortMemory(kAt, call);
  EXPECT_FALSE(CouldBeReturnAddress64(shortMemory, kAt + 5));
  EXPECT_FALSE(CouldBeReturnAddress64(shortMemory, 4));
  // The 32-bit test never accepts an address above 4 GiB.
  EXPECT_FALSE(CouldBeReturnAddress(shortMemory, kAt + 5));
}

TEST(X64Trace, UnwindDataGivesTheTrueChainInSixteenDigitLines) {
  X64Program p(kHigh);
  TraceCaches caches;
  const TraceResult r = StackTrace(p.process, caches, p.Request());
  ASSERT_TRUE(r.failedPhase.empty()) << r.text;
  // The stale return address into Main in A's locals is not a frame.
  EXPECT_EQ(Addrs(r), (std::vector<uint64_t>{p.fault, p.siteA, p.siteMain, p.siteStart}));
  EXPECT_EQ(Names(r), (std::vector<std::string>{"B", "A", "Main", "Start"}));
  ASSERT_EQ(r.items.size(), 4u);
  EXPECT_TRUE(r.items[0].IsTop);
  EXPECT_FALSE(r.items[1].IsTop || r.items[2].IsTop || r.items[3].IsTop);
  for (const auto &item : r.items)
    EXPECT_EQ(item.ModuleName, "prog64.dll");
  EXPECT_EQ(r.exceptAddr, p.fault);
  EXPECT_EQ(r.exceptFunc, p.b);
  EXPECT_EQ(r.exceptFuncAddr, p.fault);
  EXPECT_EQ(r.text, "00007ff612341300 prog64.dll  B\r\n"
                    "00007ff61234120a prog64.dll  A\r\n"
                    "00007ff61234110a prog64.dll  Main\r\n"
                    "00007ff612341004 prog64.dll  Start");
  EXPECT_TRUE(r.checksum.any);
  // The same program 4 GiB lower gives different addresses but the same checksum values: a
  // line's value counts the distance from its function, not the address.
  X64Program low(kLow);
  TraceCaches lowCaches;
  const TraceResult l = StackTrace(low.process, lowCaches, low.Request());
  EXPECT_EQ(l.checksum.chain, r.checksum.chain);
  EXPECT_EQ(l.text.substr(0, 17), "0000000010001300 ");
}

TEST(X64Trace, DebugInformationNamesTheUnwoundFrames) {
  X64Program p(kLow, true);
  TraceCaches caches;
  TraceRequest q = p.Request();
  q.showRelativeAddrs = true;
  const TraceResult r = StackTrace(p.process, caches, q);
  ASSERT_EQ(r.items.size(), 4u) << r.text;
  EXPECT_EQ(Names(r), (std::vector<std::string>{"B", "A", "Main", "Start"}));
  EXPECT_EQ(r.items[0].UnitName, "Prog");
  EXPECT_EQ(r.items[3].UnitName, "Boot");
  EXPECT_EQ(r.items[0].Line, 40);
  EXPECT_EQ(r.items[1].Line, 30);
  EXPECT_EQ(r.items[2].Line, 20);
  EXPECT_EQ(r.items[3].Line, 10);
  EXPECT_TRUE(r.checksum.hasLineInfo);
  EXPECT_EQ(r.text.substr(0, r.text.find("\r\n")), "0000000010001300 +0 prog64.dll Prog 40 B");
  EXPECT_EQ(LocationLine(caches, p.process, p.siteA, false, false, RuntimeNames::Default(), disasm::CpuMode::X64),
            "000000001000120a prog64.dll Prog 30 A");
}

TEST(X64Trace, AbnormalTerminationDropsTheThrowFrames) {
  X64Program p(kLow, true, "__cxa_throw");
  TraceCaches caches;
  TraceRequest q = p.Request();
  q.bcbTermination = true;
  const TraceResult r = StackTrace(p.process, caches, q);
  EXPECT_EQ(Names(r), (std::vector<std::string>{"A", "Main", "Start"}));
  q.bcbTermination = false;
  EXPECT_EQ(Names(StackTrace(p.process, caches, q)), (std::vector<std::string>{"__cxa_throw", "A", "Main", "Start"}));
}

TEST(X64Trace, WhereUnwindingFailsTheScanGoesOn) {
  {
    // A call through a null cell: RIP 0 lies in no module; the stack is scanned from RSP, and
    // the stale return address into Main is left out by the chain.
    X64Program p(kHigh);
    p.process.Put64(p.cell, 0);
    TraceCaches caches;
    TraceRequest q = p.Request();
    q.currentAddr = 0;
    q.x64Context = p.NullCallContext();
    const TraceResult r = StackTrace(p.process, caches, q);
    EXPECT_EQ(Addrs(r), (std::vector<uint64_t>{0, p.siteA, p.siteMain, p.siteStart})) << r.text;
    EXPECT_EQ(r.text.substr(0, 21), "0000000000000000 ??? ");
  }
  {
    // Main's unwind record is malformed: A and B are exact, Start is found by the scan.
    X64Program p(kHigh);
    *p.process.At(p.mainUnwindInfo) = 7; // version 7
    TraceCaches caches;
    const TraceResult r = StackTrace(p.process, caches, p.Request());
    EXPECT_EQ(Addrs(r), (std::vector<uint64_t>{p.fault, p.siteA, p.siteMain, p.siteStart})) << r.text;
  }
  {
    // Only RIP and RSP known: A's frame needs its frame register (RBP), so the walk stops
    // there and the scan finds the rest.
    X64Program p(kHigh);
    TraceCaches caches;
    TraceRequest q = p.Request();
    q.x64Context.reset();
    const TraceResult r = StackTrace(p.process, caches, q);
    EXPECT_EQ(Addrs(r), (std::vector<uint64_t>{p.fault, p.siteA, p.siteMain, p.siteStart})) << r.text;
  }
}

// A target whose unwind step is counted, or refused.
class HookedTarget final : public ITraceTarget {
public:
  explicit HookedTarget(const ITraceTarget &inner) : inner_(inner) {}
  const disasm::MemoryReader &Memory() const override { return inner_.Memory(); }
  MemoryRegion Query(uint64_t a) const override { return inner_.Query(a); }
  ModuleFacts DescribeModule(uint64_t h) const override { return inner_.DescribeModule(h); }
  X64UnwindResult UnwindX64(X64Context &context) const override {
    ++calls;
    return refuse ? X64UnwindResult::BadUnwindInfo : inner_.UnwindX64(context);
  }
  mutable int calls = 0;
  bool refuse = false;

private:
  const ITraceTarget &inner_;
};

TEST(X64Trace, TheTargetsUnwindStepIsUsedThroughTheCache) {
  X64Program p(kHigh);
  HookedTarget hooked(p.process);
  const CachedTraceTarget cached(hooked);
  TraceCaches caches;
  const TraceResult r = StackTrace(cached, caches, p.Request());
  EXPECT_EQ(hooked.calls, 4); // B, A, Main, Start (whose caller is 0)
  EXPECT_EQ(r.items.size(), 4u);

  // A target that unwinds nothing leaves the whole stack to the scan.
  hooked.refuse = true;
  hooked.calls = 0;
  TraceCaches fresh;
  const TraceResult s = StackTrace(cached, fresh, p.Request());
  EXPECT_EQ(hooked.calls, 1);
  EXPECT_EQ(Addrs(s), (std::vector<uint64_t>{p.fault, p.siteA, p.siteMain, p.siteStart})) << s.text;
}

TEST(X64Trace, PreparedListKeepsTheFramesOfAnOverwrittenStack) {
  X64Program p(kHigh);
  const std::vector<PreStackItem> list = PrepareStackX64(p.process, p.FaultContext(), X64Program::kStackTop);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].afterInstr, p.retStart);
  EXPECT_EQ(list[1].afterInstr, p.retMain);
  EXPECT_EQ(list[2].afterInstr, p.retA);
  for (const auto &item : list)
    EXPECT_TRUE(item.dontKill);

  // The handler's own calls overwrite the stack before the trace runs.
  for (uint64_t slot = X64Program::kStackTop - 0xA8; slot < X64Program::kStackTop; slot += 8)
    p.process.Put64(slot, 0xCCCCCCCCCCCCCCCCull);
  TraceCaches caches;
  TraceRequest q = p.Request();
  q.preparedStack = &list;
  const TraceResult r = StackTrace(p.process, caches, q);
  EXPECT_EQ(Addrs(r), (std::vector<uint64_t>{p.fault, p.siteA, p.siteMain, p.siteStart})) << r.text;

  // Where unwinding fails the list holds the scanned candidates, unflagged.
  const std::vector<PreStackItem> scanned = PrepareStackX64(p.process, p.NullCallContext(), X64Program::kStackTop);
  X64Program fresh(kHigh);
  const std::vector<PreStackItem> fromNull = PrepareStackX64(fresh.process, fresh.NullCallContext(), X64Program::kStackTop);
  ASSERT_EQ(fromNull.size(), 4u); // retStart, retMain, the stale retMainJunk, retA
  EXPECT_EQ(fromNull[0].afterInstr, fresh.retStart);
  EXPECT_EQ(fromNull[2].afterInstr, fresh.retMainJunk);
  EXPECT_FALSE(fromNull[0].dontKill || fromNull[1].dontKill || fromNull[2].dontKill);
  EXPECT_TRUE(fromNull[3].dontKill); // the return address at RSP of a frame in no module
  EXPECT_TRUE(scanned.empty()); // the overwritten stack holds nothing that follows a call

  // A stack pointer outside the stack gives no list.
  X64Context outside = fresh.FaultContext();
  outside.gpr[kX64Rsp] = X64Program::kStackTop;
  EXPECT_TRUE(PrepareStackX64(fresh.process, outside, X64Program::kStackTop).empty());
}

class AbortAt final : public ITraceProgress {
public:
  AbortAt(std::atomic<bool> &flag, int at) : flag_(flag), at_(at) {}
  void SetProgress(int perMille) override {
    seen = std::max(seen, perMille);
    if (perMille >= at_)
      flag_ = true;
  }
  int seen = -1;

private:
  std::atomic<bool> &flag_;
  int at_;
};

TEST(X64Trace, AbortGivesAnEmptyResult) {
  X64Program p(kHigh);
  std::atomic<bool> abort{true};
  TraceCaches caches;
  TraceRequest q = p.Request();
  q.abort = &abort;
  TraceResult r = StackTrace(p.process, caches, q);
  EXPECT_TRUE(r.aborted);
  EXPECT_TRUE(r.items.empty());
  EXPECT_TRUE(r.text.empty());
  EXPECT_TRUE(PrepareStackX64(p.process, p.FaultContext(), X64Program::kStackTop, &abort).empty());

  // Aborted from the progress of a later phase.
  abort = false;
  AbortAt stopper(abort, 100);
  q.progress = &stopper;
  r = StackTrace(p.process, caches, q);
  EXPECT_TRUE(r.aborted);
  EXPECT_TRUE(r.items.empty());
  EXPECT_GE(stopper.seen, 100);

  // Without an abort the progress reaches the end.
  abort = false;
  AbortAt watcher(abort, 2000);
  q.progress = &watcher;
  r = StackTrace(p.process, caches, q);
  EXPECT_FALSE(r.aborted);
  EXPECT_EQ(watcher.seen, 1000);
}

TEST(X64Trace, CreatorEndsTheChain) {
  X64Program p(kHigh);
  TraceCaches caches;
  TraceRequest q = p.Request();
  q.creator = p.retStart; // the thread was created from Start's call
  const TraceResult r = StackTrace(p.process, caches, q);
  ASSERT_FALSE(r.items.empty());
  EXPECT_TRUE(r.items.back().IsCreator);
  EXPECT_EQ(r.items.front().Addr, p.fault);
}

// Random stacks, registers and code bytes: the trace ends without a fault (ASan/UBSan) and
// within the stack.
TEST(X64Trace, RandomStacksAndRegistersDoNotFault) {
  std::mt19937_64 random(20261211);
  for (int round = 0; round < 40; ++round) {
    X64Program p(kHigh);
    const uint64_t values[] = {p.retA, p.retMain, p.retStart, p.retMainJunk, p.fault, 0,
                               X64Program::kStackTop - 8, p.base, p.base + 0x3FFF, ~0ull};
    for (uint64_t slot = X64Program::kStackTop - 0x400; slot < X64Program::kStackTop; slot += 8)
      p.process.Put64(slot, random() % 3 ? values[random() % 10] : random());
    // Scribble over code and unwind records too.
    for (int n = 0; n < 8; ++n)
      *p.process.At(p.base + 0x1000 + random() % 0x1400) = uint8_t(random());
    X64Context c = p.FaultContext();
    c.rip = values[random() % 10];
    c.gpr[kX64Rsp] = X64Program::kStackTop - 8 * (1 + random() % 0x80);
    c.gpr[kX64Rbp] = values[random() % 10];
    TraceCaches caches;
    TraceRequest q = p.Request();
    q.x64Context = c;
    q.stackBottom = c.gpr[kX64Rsp];
    q.currentAddr = c.rip;
    const TraceResult r = StackTrace(p.process, caches, q);
    EXPECT_TRUE(r.failedPhase.empty()) << r.text;
    EXPECT_LE(r.items.size(), 0x81u);
  }
}

} // namespace
} // namespace tidewell::stacktrace::test
