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

// For the calling thread, RtlCaptureContext (which on x86 reads its caller's frame through EBP)
// gives the registers as they will be when this function returns: it keeps a frame pointer.
__attribute__((noinline, optimize("no-omit-frame-pointer"))) bool CaptureThread(void *thread, ThreadSnapshot &snapshot,
                                                                                const void *context) {
  CONTEXT ctx{};
  if (context) {
    ctx = *static_cast<const CONTEXT *>(context);
  } else if (GetThreadId(static_cast<HANDLE>(thread)) == GetCurrentThreadId()) {
    RtlCaptureContext(&ctx);
  } else {
    const DWORD previous = SuspendThread(static_cast<HANDLE>(thread));
    if (previous == DWORD(-1))
      return false;
    snapshot.wasSuspended = previous > 0;
    ctx.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
    const BOOL ok = GetThreadContext(static_cast<HANDLE>(thread), &ctx);
    ResumeThread(static_cast<HANDLE>(thread));
    if (!ok)
      return false;
  }
  snapshot.ip = ctx.Eip;
  snapshot.sp = ctx.Esp;
  snapshot.fp = ctx.Ebp;
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

std::vector<PreStackItem> PrepareOwnStack(const ThreadSnapshot &s, uint32_t exceptAddr) {
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
                                           uint32_t exceptAddr) {
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

} // namespace tidewell::stacktrace
