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

void PrepareRaisingStack(KXThreadRecord &record, std::uintptr_t esp, std::uintptr_t ebp, std::uintptr_t exceptAddr) {
  record.prepared.clear();
  // The preparation allocates: an allocation failure inside it raises again and comes back here.
  if (tPreparing)
    return;
  tPreparing = true;
  try {
    tidewell::stacktrace::ThreadSnapshot snapshot;
    snapshot.sp = esp;
    snapshot.fp = ebp;
    if (exceptAddr <= UINT32_MAX && tidewell::stacktrace::StackRangeOf(esp, snapshot.stack))
      record.prepared = tidewell::stacktrace::PrepareOwnStack(snapshot, uint32_t(exceptAddr));
  } catch (...) {
    record.prepared.clear();
  }
  tPreparing = false;
}

KXRegisterContext RegistersOf(const CONTEXT &c) {
  KXRegisterContext r;
  r.eax = c.Eax;
  r.ebx = c.Ebx;
  r.ecx = c.Ecx;
  r.edx = c.Edx;
  r.esi = c.Esi;
  r.edi = c.Edi;
  r.ebp = c.Ebp;
  r.esp = c.Esp;
  r.eip = c.Eip;
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
// keeps a frame pointer in the optimised build too.
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
    r.context = kx::RegistersOf(context);
    r.address = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
    r.context.eip = uint32_t(r.address);
    r.hasContext = true;
    kx::PrepareRaisingStack(r, context.Esp, context.Ebp, r.address);
  }
  __real___cxa_throw(object, type, destructor);
}
}
