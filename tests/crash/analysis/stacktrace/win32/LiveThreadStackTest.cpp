// The live binding: stack ranges, registers of a suspended thread, reads of its stack, and the
// module facts of this process; in x86-64 builds the system's unwind steps against the portable
// ones and a trace of a waiting thread. The tracer's choices are checked natively on synthetic
// memory.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "crash/analysis/stacktrace/win32/LiveThreadStack.h"
#include "crash/analysis/stacktrace/win32/LiveTraceTarget.h"

using namespace tidewell::stacktrace;

namespace {

std::atomic<uintptr_t> g_localAddress{0};

DWORD WINAPI Waiter(void *event) {
  volatile int local = 42;
  g_localAddress = reinterpret_cast<uintptr_t>(&local);
  WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
  return static_cast<DWORD>(local);
}

struct WaitingThread {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = nullptr;
  WaitingThread() {
    g_localAddress = 0;
    thread = CreateThread(nullptr, 0, Waiter, event, 0, nullptr);
    while (g_localAddress == 0)
      Sleep(1);
    Sleep(20); // let it reach the wait
  }
  ~WaitingThread() {
    SetEvent(event);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    CloseHandle(event);
  }
};

TEST(LiveThreadStack, RangeOfTheCallingThreadHoldsItsLocals) {
  volatile int local = 1;
  const uintptr_t at = reinterpret_cast<uintptr_t>(&local);
  StackRange range;
  ASSERT_TRUE(StackRangeOf(at, range));
  EXPECT_EQ(range.bottom, at);
  EXPECT_GT(range.top, at);
  uintptr_t base = 0, limit = 0;
  ASSERT_TRUE(ThreadStackBounds(GetCurrentThread(), base, limit));
  EXPECT_LE(range.top, base);
  EXPECT_GT(base, at);
  EXPECT_LE(limit, at);
  EXPECT_FALSE(StackRangeOf(0x10, range)); // nothing committed there
}

TEST(LiveThreadStack, SuspendedThreadGivesItsRegistersAndStack) {
  WaitingThread waiting;
  ThreadSnapshot snapshot;
  ASSERT_TRUE(CaptureThread(waiting.thread, snapshot));
  EXPECT_FALSE(snapshot.wasSuspended);
  uintptr_t base = 0, limit = 0;
  ASSERT_TRUE(ThreadStackBounds(waiting.thread, base, limit));
  // The waiting thread's stack pointer lies in its own stack, below its local variable.
  EXPECT_GT(snapshot.sp, limit);
  EXPECT_LT(snapshot.sp, base);
  EXPECT_LT(snapshot.sp, g_localAddress.load());
  EXPECT_GT(snapshot.stack.top, g_localAddress.load());
  EXPECT_NE(snapshot.ip, 0u);

  // Already suspended: reported as such, and left suspended.
  ASSERT_NE(SuspendThread(waiting.thread), DWORD(-1));
  ThreadSnapshot again;
  ASSERT_TRUE(CaptureThread(waiting.thread, again));
  EXPECT_TRUE(again.wasSuspended);
  EXPECT_EQ(ResumeThread(waiting.thread), 1u);

  if (snapshot.stack.top > UINT32_MAX)
    GTEST_SKIP() << "this thread's stack lies above 4 GiB";
  // The local variable is read back through the guarded read the tracer uses.
  uint32_t value = 0;
  EXPECT_TRUE(LiveTraceTarget::Instance().Memory().Read(static_cast<uint32_t>(g_localAddress.load()), &value, 4));
  EXPECT_EQ(value, 42u);
  const MemoryRegion region = LiveTraceTarget::Instance().Query(static_cast<uint32_t>(snapshot.sp));
  EXPECT_TRUE(region.committed);
  EXPECT_FALSE(region.image);
}

TEST(LiveThreadStack, ModulesOfThisProcess) {
  const uintptr_t code = reinterpret_cast<uintptr_t>(&Waiter);
  if (code > UINT32_MAX)
    GTEST_SKIP() << "this build's code lies above 4 GiB";
  const MemoryRegion region = LiveTraceTarget::Instance().Query(static_cast<uint32_t>(code));
  ASSERT_TRUE(region.committed);
  EXPECT_TRUE(region.image);
  EXPECT_EQ(region.allocationBase, reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)));
  const ModuleFacts facts = LiveTraceTarget::Instance().DescribeModule(region.allocationBase);
  EXPECT_TRUE(facts.isExecutable);
  EXPECT_TRUE(facts.isReporter);
  EXPECT_NE(facts.fileName.find("stacktrace_win32_tests"), std::string::npos) << facts.fileName;
  EXPECT_TRUE(LiveTraceTarget::Instance().DescribeModule(0x10).fileName.empty());
}

TEST(LiveThreadStack, TracesAWaitingThread) {
  WaitingThread waiting;
  ThreadSnapshot snapshot;
  ASSERT_TRUE(CaptureThread(waiting.thread, snapshot));
  TraceResult result;
  TraceRequest request;
  const bool traced = TraceLiveThread(snapshot, request, result);
  ASSERT_TRUE(traced);
  ASSERT_FALSE(result.items.empty());
  EXPECT_TRUE(result.items.front().IsTop);
#if defined(_WIN64)
  // The thread waits in the system, called from Waiter in this executable: a frame of the
  // walk lies in it, further out than the top.
  EXPECT_TRUE(snapshot.hasX64);
  bool ownFrame = false;
  for (size_t i = 1; i < result.items.size(); ++i)
    ownFrame = ownFrame || result.items[i].ModuleName.find("stacktrace_win32_tests") != std::string::npos;
  EXPECT_TRUE(ownFrame) << result.text;
  // x86-64 lines carry 16 address digits.
  EXPECT_EQ(result.text.find(' '), 16u) << result.text;
#endif
}

#if defined(_WIN64)
__attribute__((noinline)) void CaptureHere(CONTEXT &ctx) { RtlCaptureContext(&ctx); }

// The system's steps and the portable ones agree on this thread's own frames.
TEST(LiveThreadStack, SystemAndPortableUnwindAgree) {
  CONTEXT ctx{};
  CaptureHere(ctx);
  X64Context system;
  const DWORD64 gpr[16] = {ctx.Rax, ctx.Rcx, ctx.Rdx, ctx.Rbx, ctx.Rsp, ctx.Rbp, ctx.Rsi, ctx.Rdi,
                           ctx.R8,  ctx.R9,  ctx.R10, ctx.R11, ctx.R12, ctx.R13, ctx.R14, ctx.R15};
  for (size_t i = 0; i < 16; ++i)
    system.gpr[i] = gpr[i];
  system.rip = ctx.Rip;
  X64Context portable = system;
  const LiveTraceTarget &live = LiveTraceTarget::Instance();
  const MemoryPeSource memory(live.Memory());
  int steps = 0;
  for (; steps < 8 && system.rip; ++steps) {
    const MemoryRegion region = live.Query(portable.rip);
    ASSERT_TRUE(region.committed && region.image) << std::hex << portable.rip;
    const X64UnwindResult a = live.UnwindX64(system);
    const X64UnwindResult b = UnwindX64Frame(memory, region.allocationBase, portable);
    ASSERT_TRUE(X64UnwindSucceeded(a)) << X64UnwindResultName(a);
    ASSERT_TRUE(X64UnwindSucceeded(b)) << X64UnwindResultName(b);
    EXPECT_EQ(system.rip, portable.rip) << "step " << steps;
    EXPECT_EQ(system.gpr[kX64Rsp], portable.gpr[kX64Rsp]) << "step " << steps;
  }
  EXPECT_GE(steps, 2); // this test, then the test framework
}

// The list made at a raise over this thread's own stack holds its callers as unwound frames.
TEST(LiveThreadStack, OwnStackIsPreparedFromTheRegisters) {
  ThreadSnapshot snapshot;
  ASSERT_TRUE(CaptureThread(GetCurrentThread(), snapshot));
  ASSERT_TRUE(snapshot.hasX64);
  const std::vector<PreStackItem> list = PrepareOwnStack(snapshot, 0);
  ASSERT_FALSE(list.empty());
  EXPECT_TRUE(list.back().dontKill);
  const std::vector<PreStackItem> guarded = PrepareLiveStack(snapshot, false, 0);
  ASSERT_FALSE(guarded.empty());
  EXPECT_EQ(guarded.back().afterInstr, list.back().afterInstr);
}
#endif

} // namespace
