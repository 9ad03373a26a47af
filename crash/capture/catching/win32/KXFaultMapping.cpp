#include "crash/capture/catching/win32/KXFaultMapping.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <memory>
#include <unwind.h>

#include "crash/base/pe/win32/LoadedImage.h"
#include "crash/capture/catching/KXSystemExceptions.h"
#include "crash/capture/catching/win32/KXCatchException.h"
#include "crash/capture/catching/win32/KXEmergencyReserve.h"
#include "crash/capture/catching/win32/KXMemoryChecks.h"
#include "crash/capture/catching/win32/KXThreadRecord.h"
#include "crash/capture/threads/win32/ThreadRegistry.h"
#include "runtime/Exception.h"

extern "C" void kx_fault_thunk() asm("kx_fault_thunk_sym");
extern "C" [[noreturn]] void kx_throw_mapped_fault() asm("kx_throw_mapped_fault_sym");
// libgcc's lookup of the DWARF frame description that covers a code address.
struct KXEhBases {
  void *tbase, *dbase, *func;
};
extern "C" const void *_Unwind_Find_FDE(void *pc, KXEhBases *bases);

// The thunk a faulting thread resumes in. The fault's address sits on the stack as the thunk's
// return address, so the unwinder continues in the faulting function as if it had made a call.
#if defined(__x86_64__)
// The system's unwind reads the thunk's frame through RBP, so that the stack may be aligned
// anyhow at the fault. The return address is the fault's address plus one: the unwinder and the
// C++ personality take a return address for the end of a call and look up the byte before it.
asm(R"(
  .text
  .globl kx_fault_thunk_sym
  .def kx_fault_thunk_sym; .scl 2; .type 32; .endef
  .seh_proc kx_fault_thunk_sym
kx_fault_thunk_sym:
  pushq %rbp
  .seh_pushreg %rbp
  movq %rsp, %rbp
  .seh_setframe %rbp, 0
  .seh_endprologue
  andq $-16, %rsp
  subq $32, %rsp
  call kx_throw_mapped_fault_sym
  nop
  .seh_endproc
)");
#else
asm(R"(
  .text
  .globl kx_fault_thunk_sym
kx_fault_thunk_sym:
  .cfi_startproc
  .cfi_signal_frame
  .cfi_def_cfa %esp, 4
  .cfi_offset %eip, -4
  subl $12, %esp
  .cfi_adjust_cfa_offset 12
  call kx_throw_mapped_fault_sym
  .cfi_endproc
)");
#endif

namespace kx {

namespace {
PVOID gVectoredHandler = nullptr;
LPTOP_LEVEL_EXCEPTION_FILTER gPreviousFilter = nullptr;
bool gFilterInstalled = false;

// What the mapping thunk throws, recorded by the vectored handler.
struct MappedFault {
  DWORD code = 0;
  bool write = false;
  std::uintptr_t accessed = 0;
  std::uintptr_t address = 0;
};
thread_local MappedFault tMappedFault;

// What making the exception object for a fault may take from the heap, at most.
constexpr size_t kObjectRoom = 4096;

std::optional<KXFaultModule> FaultModule(std::uintptr_t address) {
  KXModule module = ModuleOfAddress(address);
  if (!module)
    return std::nullopt;
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(reinterpret_cast<HMODULE>(module), path, MAX_PATH);
  if (!n)
    return std::nullopt;
  std::wstring name(path, n);
  name.erase(0, name.find_last_of(L"\\/") + 1);
  std::string narrow;
  for (wchar_t c : name)
    narrow += c < 0x80 ? char(c) : '?';
  return KXFaultModule{narrow};
}

bool IsMappedFault(DWORD code) {
  switch (code) {
  case EXCEPTION_ACCESS_VIOLATION:
  case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
  case EXCEPTION_FLT_DENORMAL_OPERAND:
  case EXCEPTION_FLT_DIVIDE_BY_ZERO:
  case EXCEPTION_FLT_INEXACT_RESULT:
  case EXCEPTION_FLT_INVALID_OPERATION:
  case EXCEPTION_FLT_OVERFLOW:
  case EXCEPTION_FLT_STACK_CHECK:
  case EXCEPTION_FLT_UNDERFLOW:
  case EXCEPTION_INT_DIVIDE_BY_ZERO:
  case EXCEPTION_INT_OVERFLOW:
  case EXCEPTION_PRIV_INSTRUCTION:
    return true;
  default:
    return false;
  }
}

// Code of the module that carries this reporter, built with unwind tables for every instruction.
bool HasOwnUnwindTables(std::uintptr_t pc) {
  if (!pc || ModuleOfAddress(pc) != ModuleOfAddress(reinterpret_cast<std::uintptr_t>(&HasOwnUnwindTables)))
    return false;
#if defined(__x86_64__)
  DWORD64 imageBase = 0;
  return RtlLookupFunctionEntry(pc, &imageBase, nullptr) != nullptr;
#else
  KXEhBases bases;
  return _Unwind_Find_FDE(reinterpret_cast<void *>(pc), &bases) != nullptr;
#endif
}

std::string MessageOf(const EXCEPTION_RECORD &r) {
  std::uintptr_t address = reinterpret_cast<std::uintptr_t>(r.ExceptionAddress);
  bool write = r.NumberParameters >= 1 && r.ExceptionInformation[0] != 0;
  std::uintptr_t accessed = r.NumberParameters >= 2 ? r.ExceptionInformation[1] : 0;
  return SystemExceptionMessage(r.ExceptionCode, address, write, accessed, FaultModule(address));
}

// The system-exception path: a KesException with the table's message, can continue false.
void SystemExceptionPath(const EXCEPTION_RECORD &r, const CONTEXT &c, uint32_t threadId) {
  KesException object(MessageOf(r));
  KXRegisterContext registers = RegistersOf(c);
  KXCaughtException args;
  args.exceptObject = KXExceptObject::Of(object);
  args.exceptAddr = reinterpret_cast<std::uintptr_t>(r.ExceptionAddress);
  args.context = &registers;
  args.source = TExceptSource::esSystemExceptionHandler;
  args.canContinue = false;
  args.threadId = threadId;
  CatchException(args);
}

// A stack overflow leaves too little stack for the handling: a thread made at start-up does it
// while the overflowed one waits. The fault is copied into static storage, so that the
// overflowed thread needs hardly any stack to hand it over.
struct OverflowJob {
  EXCEPTION_RECORD record;
  CONTEXT context;
  DWORD threadId;
};
OverflowJob gOverflowJob;
std::atomic<bool> gOverflowBusy{false};
HANDLE gOverflowStart = nullptr, gOverflowDone = nullptr, gOverflowThread = nullptr;
std::uintptr_t gOwnBegin = 0, gOwnEnd = 0;

DWORD WINAPI OverflowThread(void *) {
  while (WaitForSingleObject(gOverflowStart, INFINITE) == WAIT_OBJECT_0 && gOverflowBusy) {
    SystemExceptionPath(gOverflowJob.record, gOverflowJob.context, gOverflowJob.threadId);
    SetEvent(gOverflowDone);
  }
  return 0;
}

void StartOverflowThread() {
  if (gOverflowThread)
    return;
  std::uintptr_t own = ModuleOfAddress(reinterpret_cast<std::uintptr_t>(&HasOwnUnwindTables));
  // Without readable headers the range stays empty: an overflow is then left to the system.
  std::optional<debuginfo::LoadedImage> image = debuginfo::ReadLoadedImage(reinterpret_cast<const void *>(own));
  gOwnBegin = own;
  gOwnEnd = image ? own + image->Bytes.size() : own;
  gOverflowStart = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  gOverflowDone = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  DWORD id = 0;
  gOverflowThread = CreateThread(nullptr, 0, &OverflowThread, nullptr, 0, &id);
  if (gOverflowThread && ThreadRegistryJoined())
    StoreThreadInfo(id, gOverflowThread, "-"); // a helper of the reporter: no section in reports
}

void StopOverflowThread() {
  if (!gOverflowThread)
    return;
  gOverflowBusy = false;
  SetEvent(gOverflowStart);
  if (WaitForSingleObject(gOverflowThread, 2000) == WAIT_TIMEOUT)
    TerminateThread(gOverflowThread, 0);
  CloseHandle(gOverflowThread);
  CloseHandle(gOverflowStart);
  CloseHandle(gOverflowDone);
  gOverflowThread = gOverflowStart = gOverflowDone = nullptr;
}

// Runs on the overflowed stack: no calls that need much of it.
LONG HandleStackOverflow(EXCEPTION_POINTERS *ep) {
  std::uintptr_t pc = reinterpret_cast<std::uintptr_t>(ep->ExceptionRecord->ExceptionAddress);
  if (!gOverflowThread || pc < gOwnBegin || pc >= gOwnEnd || gOverflowBusy.exchange(true))
    return EXCEPTION_CONTINUE_SEARCH;
  std::memcpy(&gOverflowJob.record, ep->ExceptionRecord, sizeof(EXCEPTION_RECORD));
  std::memcpy(&gOverflowJob.context, ep->ContextRecord, sizeof(CONTEXT));
  gOverflowJob.threadId = GetCurrentThreadId();
  SignalObjectAndWait(gOverflowStart, gOverflowDone, INFINITE, FALSE);
  return EXCEPTION_CONTINUE_SEARCH;
}

void NameThread(const EXCEPTION_RECORD &r) {
  // { 0x1000, name, thread id, flags } as pointer-size values
  auto name = reinterpret_cast<const char *>(r.ExceptionInformation[1]);
  DWORD tid = DWORD(r.ExceptionInformation[2]);
  if (tid == DWORD(-1))
    tid = GetCurrentThreadId();
  if (!ReadableMemory(name, 1))
    return;
  std::string text(name, strnlen(name, 256));
  if (ThreadRegistryJoined())
    StoreThreadInfo(tid, nullptr, text.c_str());
}

LONG CALLBACK VectoredHandler(EXCEPTION_POINTERS *ep) {
  const EXCEPTION_RECORD &r = *ep->ExceptionRecord;
  if (r.ExceptionCode == kThreadNamingCode) {
    // A debugger saw it first; the name is recorded and the raiser goes on, also when it has no
    // handler of its own around the raise.
    if (r.NumberParameters >= 3 && r.ExceptionInformation[0] == 0x1000 && r.ExceptionFlags == 0) {
      NameThread(r);
      return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
  }
  if (r.ExceptionCode == EXCEPTION_STACK_OVERFLOW)
    return HandleStackOverflow(ep);
  std::uintptr_t pc = reinterpret_cast<std::uintptr_t>(r.ExceptionAddress);
  if (!IsMappedFault(r.ExceptionCode) || !HasOwnUnwindTables(pc))
    return EXCEPTION_CONTINUE_SEARCH;

  // Record the fault, then resume in the thunk with the fault's address as return address.
  // Preparing the stack and making the exception object need memory: in a process that has used
  // it up, the reserve goes back first.
  EnsureHeapRoom(kObjectRoom);
  KXThreadRecord &record = ThreadExceptionRecord();
  PrepareRaisingStack(record, *ep->ContextRecord, pc);
  record.address = pc;
  record.context = RegistersOf(*ep->ContextRecord);
  record.hasContext = true;
  tMappedFault.code = r.ExceptionCode;
  tMappedFault.write = r.NumberParameters >= 1 && r.ExceptionInformation[0] != 0;
  tMappedFault.accessed = r.NumberParameters >= 2 ? r.ExceptionInformation[1] : 0;
  tMappedFault.address = pc;
  CONTEXT &c = *ep->ContextRecord;
#if defined(__x86_64__)
  c.Rsp -= 8;
  *reinterpret_cast<DWORD64 *>(c.Rsp) = pc + 1;
  c.Rip = reinterpret_cast<DWORD64>(&kx_fault_thunk);
#else
  c.Esp -= 4;
  *reinterpret_cast<DWORD *>(c.Esp) = DWORD(pc);
  c.Eip = reinterpret_cast<DWORD>(&kx_fault_thunk);
#endif
  return EXCEPTION_CONTINUE_EXECUTION;
}

LONG WINAPI UnhandledFilter(EXCEPTION_POINTERS *ep) {
  const EXCEPTION_RECORD &r = *ep->ExceptionRecord;
  if (r.ExceptionCode != kThreadNamingCode)
    SystemExceptionPath(r, *ep->ContextRecord, 0);
  if (gPreviousFilter)
    return gPreviousFilter(ep);
  return EXCEPTION_EXECUTE_HANDLER;
}
} // namespace

void InstallFaultMapping() {
  if (!gVectoredHandler)
    gVectoredHandler = AddVectoredExceptionHandler(1, &VectoredHandler);
  if (!gFilterInstalled) {
    gPreviousFilter = SetUnhandledExceptionFilter(&UnhandledFilter);
    gFilterInstalled = true;
  }
  ULONG guarantee = 0x10000;
  SetThreadStackGuarantee(&guarantee);
  StartOverflowThread();
}

void RemoveFaultMapping() {
  StopOverflowThread();
  if (gVectoredHandler) {
    RemoveVectoredExceptionHandler(gVectoredHandler);
    gVectoredHandler = nullptr;
  }
  if (gFilterInstalled) {
    SetUnhandledExceptionFilter(gPreviousFilter);
    gPreviousFilter = nullptr;
    gFilterInstalled = false;
  }
}

} // namespace kx

// Throws the object that stands for the fault recorded on this thread.
extern "C" void kx_throw_mapped_fault() {
  using namespace kx;
  MappedFault f = tMappedFault;
  EXCEPTION_RECORD r{};
  r.ExceptionCode = f.code;
  r.ExceptionAddress = reinterpret_cast<void *>(f.address);
  r.NumberParameters = 2;
  r.ExceptionInformation[0] = f.write;
  r.ExceptionInformation[1] = f.accessed;
  // Making the object needs memory. A fault in a process that has used up its memory would
  // otherwise turn into std::bad_alloc here, before the catching gives the reserve back.
  EnsureHeapRoom(kObjectRoom);
  std::string message;
  try {
    message = MessageOf(r);
  } catch (const std::bad_alloc &) {
    ReleaseEmergencyReserve();
    message = MessageOf(r);
  }
  ThreadExceptionRecord().mappedFaultPending = true;
  switch (FaultClassOf(f.code)) {
  case KXFaultClass::accessViolation:
    throw EAccessViolation(message, f.code);
  case KXFaultClass::stackOverflow:
    throw EStackOverflow(message, f.code);
  case KXFaultClass::privilege:
    throw EPrivilege(message, f.code);
  case KXFaultClass::controlC:
    throw EControlC(message, f.code);
  case KXFaultClass::divByZero:
    throw EDivByZero(message, f.code);
  case KXFaultClass::rangeError:
    throw ERangeError(message, f.code);
  case KXFaultClass::intOverflow:
    throw EIntOverflow(message, f.code);
  case KXFaultClass::invalidOp:
    throw EInvalidOp(message, f.code);
  case KXFaultClass::zeroDivide:
    throw EZeroDivide(message, f.code);
  case KXFaultClass::overflow:
    throw EOverflow(message, f.code);
  case KXFaultClass::underflow:
    throw EUnderflow(message, f.code);
  case KXFaultClass::external:
    break;
  }
  throw EExternalException(message, f.code);
}
