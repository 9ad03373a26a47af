#include "crash/capture/catching/win32/KXThreadRecord.h"

#include <cxxabi.h>

#include "crash/analysis/stacktrace/win32/LiveThreadStack.h"

namespace kx {

namespace {
thread_local KXThreadRecord tRecord;
thread_local bool tPreparing = false;
}

KXThreadRecord &ThreadExceptionRecord() { return tRecord; }

void ClearThreadRecord() {
  tRecord.object = {};
  tRecord.address = 0;
  tRecord.prepared.clear();
}

void PrepareRaisingStack(KXThreadRecord &record, const CONTEXT &context, std::uintptr_t exceptAddr) {
  record.prepared.clear();
  // The preparation allocates: an allocation failure inside it raises again and comes back here.
  if (tPreparing)
    return;
  tPreparing = true;
  try {
    tidewell::stacktrace::ThreadSnapshot snapshot;
    if (tidewell::stacktrace::CaptureThread(GetCurrentThread(), snapshot, &context))
      record.prepared = tidewell::stacktrace::PrepareOwnStack(snapshot, exceptAddr);
  } catch (...) {
    record.prepared.clear();
  }
  tPreparing = false;
}

KXRegisterContext RegistersOf(const CONTEXT &c) {
  KXRegisterContext r;
#if defined(__x86_64__)
  r.x64 = true;
  r.rax = c.Rax, r.rbx = c.Rbx, r.rcx = c.Rcx, r.rdx = c.Rdx, r.rsi = c.Rsi, r.rdi = c.Rdi;
  r.rbp = c.Rbp, r.rsp = c.Rsp, r.rip = c.Rip;
  r.r8 = c.R8, r.r9 = c.R9, r.r10 = c.R10, r.r11 = c.R11, r.r12 = c.R12, r.r13 = c.R13, r.r14 = c.R14, r.r15 = c.R15;
#else
  r.rax = c.Eax, r.rbx = c.Ebx, r.rcx = c.Ecx, r.rdx = c.Edx, r.rsi = c.Esi, r.rdi = c.Edi;
  r.rbp = c.Ebp, r.rsp = c.Esp, r.rip = c.Eip;
#endif
  r.eflags = c.EFlags;
  r.cs = uint16_t(c.SegCs);
  r.ds = uint16_t(c.SegDs);
  r.es = uint16_t(c.SegEs);
  r.fs = uint16_t(c.SegFs);
  r.gs = uint16_t(c.SegGs);
  r.ss = uint16_t(c.SegSs);
  return r;
}

KXExceptObject ObjectOfException(const std::exception_ptr &exception) {
  if (!exception)
    return {};
  // libstdc++'s exception_ptr holds nothing but the address of the thrown object.
  static_assert(sizeof(std::exception_ptr) == sizeof(void *));
  void *object = *reinterpret_cast<void *const *>(&exception);
  return {object, exception.__cxa_exception_type()};
}

KXExceptObject CurrentRuntimeException() {
  if (!abi::__cxa_current_exception_type())
    return {};
  return ObjectOfException(std::current_exception());
}

} // namespace kx

// The raise recorder: the linker routes every throw of the program (and of the C++ runtime
// linked into it) here with --wrap=__cxa_throw.
extern "C" {
[[noreturn]] void __real___cxa_throw(void *object, std::type_info *type, void (*destructor)(void *));

// On x86 RtlCaptureContext reads the caller's frame through EBP and gives the registers as they
// will be when the caller returns: here, those of the throwing code at its call. So this function
// keeps a frame pointer in the optimised build too. On x86-64 it gives this function's own
// registers, and one step of the system's unwind makes them the caller's.
[[noreturn]] __attribute__((optimize("no-omit-frame-pointer"))) void
__wrap___cxa_throw(void *object, std::type_info *type, void (*destructor)(void *)) {
  // A throw inside the preparation of another (its memory ran out) is caught there and must
  // leave the record of the outer one alone.
  if (kx::tPreparing)
    __real___cxa_throw(object, type, destructor);
  kx::KXThreadRecord &r = kx::ThreadExceptionRecord();
  r.object = {object, type};
  if (r.mappedFaultPending) {
    r.mappedFaultPending = false;
  } else {
    CONTEXT context;
    RtlCaptureContext(&context);
    r.address = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
#if defined(__x86_64__)
    r.hasContext = tidewell::stacktrace::UnwindToCaller(context) && context.Rip == r.address;
    r.context = kx::RegistersOf(context);
    r.context.rip = r.address;
    if (r.hasContext)
      kx::PrepareRaisingStack(r, context, r.address);
    else
      r.prepared.clear();
#else
    r.context = kx::RegistersOf(context);
    r.context.rip = uint32_t(r.address);
    r.hasContext = true;
    kx::PrepareRaisingStack(r, context, r.address);
#endif
  }
  __real___cxa_throw(object, type, destructor);
}
}
