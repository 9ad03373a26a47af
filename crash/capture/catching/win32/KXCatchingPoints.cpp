#include "crash/capture/catching/win32/KXCatchingPoints.h"

#include <cxxabi.h>

#include <exception>

#include "crash/capture/catching/win32/KXCatchException.h"
#include "crash/capture/catching/win32/KXFaultMapping.h"
#include "crash/capture/catching/win32/KXMemoryChecks.h"
#include "crash/capture/catching/win32/KXThreadRecord.h"
#include "crash/capture/threads/win32/ImportPatch.h"
#include "crash/capture/threads/win32/ThreadRegistry.h"
#include "runtime/ClassInfo.h"
#include "runtime/Exception.h"
#include "runtime/win32/RuntimeHooks.h"
#include "runtime/win32/Thread.h"

namespace kx {

namespace {
void Catch(TExceptSource source, bool canContinue, KXExceptObject object = {}, std::uintptr_t address = 0,
           void *related = nullptr) {
  KXCaughtException args;
  args.source = source;
  args.canContinue = canContinue;
  args.exceptObject = object;
  args.exceptAddr = address;
  args.relatedObject = related;
  CatchException(args);
}

std::terminate_handler gPreviousTerminate = nullptr;

[[noreturn]] void TerminateHandler() {
  // An exception for which no handler was found (one that escaped main, a thread's function or
  // a window procedure) is the current one here, the stack still as it was at the throw: the
  // report names it. A bare call of std::terminate reports the runtime's own text.
  if (std::exception_ptr current = std::current_exception()) {
    Catch(TExceptSource::esBcbAbnormalProgramTermination, false, ObjectOfException(current));
  } else {
    KesException object("Abnormal program termination");
    Catch(TExceptSource::esBcbAbnormalProgramTermination, false, KXExceptObject::Of(object));
  }
  TerminateProcess(GetCurrentProcess(), 3);
  std::abort();
}

// --- thread frames -------------------------------------------------------------------------------

using CreateThreadFn = HANDLE(WINAPI *)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD);
CreateThreadFn gCreateThread = nullptr;
ImportPatcher gPatcher;

struct FrameRecord {
  LPTHREAD_START_ROUTINE start;
  void *parameter;
  std::uintptr_t creator;
  DWORD creatorTid;
  bool threadObject;
};

// The class name when the parameter is a runtime thread object (TThread or derived); every read
// is checked first.
std::string ThreadObjectClass(void *parameter) {
  if (!ReadableMemory(parameter, sizeof(void *)))
    return {};
  void *const *vtable = *static_cast<void *const *const *>(parameter);
  if (!InLoadedImage(vtable) || !ReadableMemory(vtable - 1, sizeof(void *)))
    return {};
  auto *type = static_cast<const std::type_info *>(vtable[-1]);
  if (!InLoadedImage(type) || !ReadableMemory(type, sizeof(std::type_info)) || !InLoadedImage(type->name()))
    return {};
  try {
    if (!InheritsFromName(*type, "TThread"))
      return {};
    return ClassName(*type);
  } catch (...) {
    return {};
  }
}

// Calls the routine with a frame pointer, so that the call works whether the routine removes its
// parameter from the stack or not: the epilogue restores the stack pointer from the frame.
__attribute__((noinline, optimize("no-omit-frame-pointer"))) DWORD CallRoutine(LPTHREAD_START_ROUTINE start,
                                                                              void *parameter) {
  return start(parameter);
}

DWORD WINAPI ThreadFrame(void *p) {
  FrameRecord record = *static_cast<FrameRecord *>(p);
  delete static_cast<FrameRecord *>(p);
  // A thread object was still being constructed when it asked for its thread, so its class read
  // then as the base class; by the time the thread runs it is complete.
  if (record.threadObject && ThreadRegistryJoined()) {
    std::string className = ThreadObjectClass(record.parameter);
    if (!className.empty())
      StoreThreadInfo(GetCurrentThreadId(), nullptr, nullptr, record.creatorTid, record.creator, className.c_str());
  }
  DWORD result;
  try {
    result = CallRoutine(record.start, record.parameter);
  } catch (...) {
    Catch(TExceptSource::esThreadFrame, true);
    result = 0xFFFFFFFF;
  }
  if (ThreadRegistryJoined())
    StoreThreadInfo(GetCurrentThreadId());
  return result;
}

HANDLE WINAPI CreateThreadInterceptor(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                                      LPVOID parameter, DWORD flags, LPDWORD threadId) {
  // The creator: the caller of CreateThread; for a thread object the code that made the object.
  void *frames[8] = {};
  USHORT depth = RtlCaptureStackBackTrace(1, 8, frames, nullptr);
  std::uintptr_t creator = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  std::string className = ThreadObjectClass(parameter);
  if (!className.empty()) {
    // Skip the frames of the thread classes' constructors (TThread's and the derived ones').
    KXModule own = ModuleOfAddress(reinterpret_cast<std::uintptr_t>(&CreateThreadInterceptor));
    for (USHORT i = 1; i < depth; ++i) {
      if (ModuleOfAddress(reinterpret_cast<std::uintptr_t>(frames[i])) != own)
        break;
      creator = reinterpret_cast<std::uintptr_t>(frames[i]);
      if (i >= 2)
        break;
    }
  }
  auto *record = new (std::nothrow) FrameRecord{start, parameter, creator, GetCurrentThreadId(), !className.empty()};
  HANDLE thread = nullptr;
  DWORD id = 0;
  if (record) {
    thread = gCreateThread(security, stackSize, &ThreadFrame, record, flags | CREATE_SUSPENDED, &id);
    if (!thread)
      delete record;
  } else {
    thread = gCreateThread(security, stackSize, start, parameter, flags, &id);
  }
  if (thread) {
    if (ThreadRegistryJoined())
      StoreThreadInfo(id, thread, nullptr, GetCurrentThreadId(), creator,
                      className.empty() ? nullptr : className.c_str());
    if (record && !(flags & CREATE_SUSPENDED))
      ResumeThread(thread);
  }
  if (threadId)
    *threadId = id;
  return thread;
}
} // namespace

bool InstallThreadCreationInterception() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  gCreateThread = reinterpret_cast<CreateThreadFn>(reinterpret_cast<void *>(GetProcAddress(kernel, "CreateThread")));
  if (!gCreateThread)
    return false;
  auto own = reinterpret_cast<HMODULE>(ModuleOfAddress(reinterpret_cast<std::uintptr_t>(&CreateThreadInterceptor)));
  bool inExe = own == GetModuleHandleW(nullptr);
  return gPatcher.Replace(AsFarProc(gCreateThread), AsFarProc(&CreateThreadInterceptor), inExe, own) > 0;
}

void RemoveThreadCreationInterception() { gPatcher.UndoAll(); }

size_t ThreadCreationPatchCount() { return gPatcher.PatchedCount(); }

void InstallCatchingPoints() {
  TRuntimeHooks &hooks = RuntimeHooks();
  hooks.topLevelException = [] {
    Catch(TExceptSource::esExceptProc, GetCurrentThreadId() != MainThreadID);
  };
  hooks.showException = [](std::exception_ptr e, const void *address) {
    Catch(TExceptSource::esSysUtilsShowException, true, ObjectOfException(e), reinterpret_cast<std::uintptr_t>(address));
  };
  hooks.synchronizeException = [] {
    Catch(TExceptSource::esTThreadSynchronize, true);
    return true;
  };
  hooks.applicationException = [](void *sender) {
    Catch(TExceptSource::esApplicationHandleException, true, {}, 0, sender);
  };
  hooks.applicationShowException = [](std::exception_ptr e) {
    Catch(TExceptSource::esApplicationShowException, true, ObjectOfException(e));
  };
  gPreviousTerminate = std::set_terminate(&TerminateHandler);
  InstallFaultMapping();
}

void RemoveCatchingPoints() {
  RemoveFaultMapping();
  std::set_terminate(gPreviousTerminate);
  gPreviousTerminate = nullptr;
  RuntimeHooks() = TRuntimeHooks{};
}

} // namespace kx
