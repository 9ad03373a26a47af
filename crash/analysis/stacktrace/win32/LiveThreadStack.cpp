#include "crash/analysis/stacktrace/win32/LiveThreadStack.h"

#include <windows.h>

#include <winternl.h>

#include <cstring>

#include "crash/analysis/disasm/PageCachedMemory.h"
#include "crash/analysis/stacktrace/CachedTraceTarget.h"
#include "crash/analysis/stacktrace/win32/LiveTraceTarget.h"

namespace tidewell::stacktrace {

bool StackRangeOf(uintptr_t stackPointer, StackRange &range) {
  MEMORY_BASIC_INFORMATION info{};
  if (!VirtualQuery(reinterpret_cast<const void *>(stackPointer), &info, sizeof info) ||
      info.State != MEM_COMMIT)
    return false;
  range.bottom = stackPointer;
  range.top = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
  return true;
}

namespace {

struct ThreadBasicInformation {
  LONG ExitStatus;
  PVOID TebBaseAddress;
  struct {
    HANDLE UniqueProcess;
    HANDLE UniqueThread;
  } ClientId;
  ULONG_PTR AffinityMask;
  LONG Priority;
  LONG BasePriority;
};

using NtQueryInformationThreadFn = LONG(NTAPI *)(HANDLE, int, PVOID, ULONG, PULONG);

} // namespace

bool ThreadStackBounds(void *thread, uintptr_t &base, uintptr_t &limit) {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (!ntdll)
    return false;
  auto query = reinterpret_cast<NtQueryInformationThreadFn>(
      reinterpret_cast<void *>(GetProcAddress(ntdll, "NtQueryInformationThread")));
  if (!query)
    return false;
  ThreadBasicInformation info{};
  ULONG length = 0;
  if (query(static_cast<HANDLE>(thread), 0 /* ThreadBasicInformation */, &info, sizeof info, &length) < 0 ||
      !info.TebBaseAddress)
    return false;
  NT_TIB tib{};
  SIZE_T read = 0;
  if (!ReadProcessMemory(GetCurrentProcess(), info.TebBaseAddress, &tib, sizeof tib, &read) ||
      read != sizeof tib)
    return false;
  base = reinterpret_cast<uintptr_t>(tib.StackBase);
  limit = reinterpret_cast<uintptr_t>(tib.StackLimit);
  return base > limit;
}

#if defined(_WIN64)
bool UnwindToCaller(CONTEXT &context) {
  DWORD64 imageBase = 0;
  PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr);
  if (!function) {
    // A leaf function: the return address is on top of the stack.
    context.Rip = *reinterpret_cast<const DWORD64 *>(context.Rsp);
    context.Rsp += 8;
    return context.Rip != 0;
  }
  void *handlerData = nullptr;
  DWORD64 establisher = 0;
  RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, function, &context, &handlerData, &establisher,
                   nullptr);
  return context.Rip != 0;
}

namespace {

void KeepX64(const CONTEXT &ctx, ThreadSnapshot &snapshot) {
  const DWORD64 gpr[16] = {ctx.Rax, ctx.Rcx, ctx.Rdx, ctx.Rbx, ctx.Rsp, ctx.Rbp, ctx.Rsi, ctx.Rdi,
                           ctx.R8,  ctx.R9,  ctx.R10, ctx.R11, ctx.R12, ctx.R13, ctx.R14, ctx.R15};
  for (size_t i = 0; i < 16; ++i)
    snapshot.x64.gpr[i] = gpr[i];
  snapshot.x64.rip = ctx.Rip;
  snapshot.x64.known = kX64KnownAll;
  snapshot.hasX64 = true;
}

} // namespace
#endif

// For the calling thread, RtlCaptureContext gives the registers as they will be when this
// function returns: on x86 it reads its caller's frame through EBP (this function keeps a frame
// pointer); on x86-64 it gives them inside this function, and one unwind step by the system
// moves them to the caller.
__attribute__((noinline, optimize("no-omit-frame-pointer"))) bool CaptureThread(void *thread, ThreadSnapshot &snapshot,
                                                                                const void *context) {
  CONTEXT ctx{};
  if (context) {
    ctx = *static_cast<const CONTEXT *>(context);
  } else if (GetThreadId(static_cast<HANDLE>(thread)) == GetCurrentThreadId()) {
    RtlCaptureContext(&ctx);
#if defined(_WIN64)
    if (!UnwindToCaller(ctx))
      return false;
#endif
  } else {
    const DWORD previous = SuspendThread(static_cast<HANDLE>(thread));
    if (previous == DWORD(-1))
      return false;
    snapshot.wasSuspended = previous > 0;
#if defined(_WIN64)
    ctx.ContextFlags = CONTEXT_FULL;
#else
    ctx.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
#endif
    const BOOL ok = GetThreadContext(static_cast<HANDLE>(thread), &ctx);
    ResumeThread(static_cast<HANDLE>(thread));
    if (!ok)
      return false;
  }
#if defined(_WIN64)
  snapshot.ip = ctx.Rip;
  snapshot.sp = ctx.Rsp;
  snapshot.fp = ctx.Rbp;
  KeepX64(ctx, snapshot);
#else
  snapshot.ip = ctx.Eip;
  snapshot.sp = ctx.Esp;
  snapshot.fp = ctx.Ebp;
#endif
  return StackRangeOf(snapshot.sp, snapshot.stack);
}

bool Traceable(const ThreadSnapshot &s) {
  return s.stack.top > s.stack.bottom;
}

namespace {

// The calling thread's stack above its stack pointer is committed and stays so while the thread
// runs below it: read in place. Everything else goes to the guarded read.
class OwnStackMemory final : public disasm::MemoryReader {
public:
  OwnStackMemory(const StackRange &range, const disasm::MemoryReader &other) : range_(range), other_(other) {}
  bool Read(uint64_t address, void *buffer, uint32_t count) const override {
    if (address >= range_.bottom && uint64_t(address) + count <= range_.top) {
      std::memcpy(buffer, reinterpret_cast<const void *>(uintptr_t(address)), count);
      return true;
    }
    return other_.Read(address, buffer, count);
  }
  bool PageGranular() const override { return other_.PageGranular(); }

private:
  StackRange range_;
  const disasm::MemoryReader &other_;
};

} // namespace

#if defined(_WIN64)
namespace {

// The registers the walk starts from: the snapshot's own, or what the plain fields give.
X64Context StartOf(const ThreadSnapshot &s) {
  if (s.hasX64)
    return s.x64;
  X64Context c;
  c.rip = s.ip;
  c.gpr[kX64Rsp] = s.sp;
  c.gpr[kX64Rbp] = s.fp;
  c.known = kX64KnownRip | (1u << kX64Rsp) | (1u << kX64Rbp);
  return c;
}

// This process with the calling thread's stack read in place.
class OwnStackTarget final : public ITraceTarget {
public:
  OwnStackTarget(const StackRange &range, const ITraceTarget &live)
      : live_(live), stack_(range, live.Memory()), memory_(stack_) {}
  const disasm::MemoryReader &Memory() const override { return memory_; }
  MemoryRegion Query(uint64_t address) const override { return live_.Query(address); }
  ModuleFacts DescribeModule(uint64_t handle) const override { return live_.DescribeModule(handle); }
  X64UnwindResult UnwindX64(X64Context &context) const override { return live_.UnwindX64(context); }

private:
  const ITraceTarget &live_;
  OwnStackMemory stack_;
  disasm::PageCachedMemory memory_;
};

} // namespace

std::vector<PreStackItem> PrepareOwnStack(const ThreadSnapshot &s, uint64_t exceptAddr) {
  if (s.stack.bottom >= s.stack.top)
    return {};
  volatile char here = 0;
  const uintptr_t ownStackPointer = reinterpret_cast<uintptr_t>(&here);
  if (s.stack.bottom < ownStackPointer)
    return PrepareLiveStack(s, true, exceptAddr); // not above this frame: read it guarded
  const OwnStackTarget target(s.stack, LiveTraceTarget::Instance());
  X64Context start = StartOf(s);
  start.gpr[kX64Rsp] = s.stack.bottom;
  return PrepareStackX64(target, start, s.stack.top);
}

std::vector<PreStackItem> PrepareLiveStack(const ThreadSnapshot &s, bool isException, uint64_t exceptAddr) {
  (void)isException;
  (void)exceptAddr; // the walk starts at the registers: it does not look for the address
  if (s.stack.bottom >= s.stack.top)
    return {};
  const CachedTraceTarget target(LiveTraceTarget::Instance());
  X64Context start = StartOf(s);
  start.gpr[kX64Rsp] = s.stack.bottom;
  return PrepareStackX64(target, start, s.stack.top);
}

bool TraceLiveThread(const ThreadSnapshot &s, TraceRequest request, TraceResult &result) {
  if (!Traceable(s))
    return false;
  request.mode = disasm::CpuMode::X64;
  request.stackBottom = s.stack.bottom;
  request.stackTop = s.stack.top;
  request.ebp = 0;
  if (!request.currentAddr && !request.isException)
    request.currentAddr = s.ip;
  if (!request.x64Context) {
    X64Context start = StartOf(s);
    start.gpr[kX64Rsp] = s.stack.bottom;
    request.x64Context = start;
  }
  const CachedTraceTarget target(LiveTraceTarget::Instance());
  result = StackTrace(target, TraceCaches::Process(), request);
  return true;
}

#else

std::vector<PreStackItem> PrepareOwnStack(const ThreadSnapshot &s, uint64_t exceptAddr) {
  if (s.stack.top > UINT32_MAX || s.stack.bottom >= s.stack.top)
    return {};
  volatile char here = 0;
  const uintptr_t ownStackPointer = reinterpret_cast<uintptr_t>(&here);
  if (s.stack.bottom < ownStackPointer)
    return PrepareLiveStack(s, true, exceptAddr); // not above this frame: read it guarded
  const uint32_t fp = s.fp <= UINT32_MAX ? static_cast<uint32_t>(s.fp) : 0;
  const OwnStackMemory stack(s.stack, LiveTraceTarget::Instance().Memory());
  const disasm::PageCachedMemory memory(stack);
  return PrepareStack(memory, fp, static_cast<uint32_t>(s.stack.top), static_cast<uint32_t>(s.stack.bottom), true,
                      exceptAddr);
}

std::vector<PreStackItem> PrepareLiveStack(const ThreadSnapshot &s, bool isException,
                                           uint64_t exceptAddr) {
  if (s.stack.top > UINT32_MAX || s.stack.bottom >= s.stack.top)
    return {};
  const uint32_t fp = s.fp <= UINT32_MAX ? static_cast<uint32_t>(s.fp) : 0;
  const CachedTraceTarget target(LiveTraceTarget::Instance());
  return PrepareStack(target.Memory(), fp, static_cast<uint32_t>(s.stack.top),
                      static_cast<uint32_t>(s.stack.bottom), isException, exceptAddr);
}

bool TraceLiveThread(const ThreadSnapshot &s, TraceRequest request, TraceResult &result) {
  if (!Traceable(s))
    return false;
  request.stackBottom = static_cast<uint32_t>(s.stack.bottom);
  request.stackTop = static_cast<uint32_t>(s.stack.top);
  request.ebp = static_cast<uint32_t>(s.fp);
  if (!request.currentAddr && !request.isException)
    request.currentAddr = static_cast<uint32_t>(s.ip);
  const CachedTraceTarget target(LiveTraceTarget::Instance());
  result = StackTrace(target, TraceCaches::Process(), request);
  return true;
}

#endif

} // namespace tidewell::stacktrace
