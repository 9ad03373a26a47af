#include "crash/capture/catching/win32/KXCatchException.h"

#include <windows.h>

#include <memory>
#include <new>

#include "crash/capture/catching/win32/KXEmergencyReserve.h"
#include "crash/capture/catching/win32/KXMemoryChecks.h"
#include "crash/capture/catching/win32/KXThreadRecord.h"
#include "crash/capture/exception/KXExceptMessage.h"
#include "crash/capture/exception/KXExceptionHost.h"
#include "crash/capture/exception/win32/KXHandlingThread.h"
#include "crash/capture/exception/win32/KXWin32ExceptionHost.h"
#include "crash/capture/threads/win32/FreezeWatch.h"
#include "crash/capture/threads/win32/ProcessLock.h"
#include "runtime/win32/Thread.h"

namespace kx {

namespace {
// The main thread waits for the handling while it dispatches its messages. False when it
// stopped waiting at the quit message (which is posted again for the program's own loop).
bool WaitDispatching(HANDLE event) {
  MSG msg;
  while (WaitForSingleObject(event, 0) != WAIT_OBJECT_0) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      PostQuitMessage(got == 0 ? int(msg.wParam) : 0);
      return false;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

// What the handling thread reads of one caught exception: the record, the registers it points at
// and the stack candidates prepared at the raise.
struct KXCaughtState {
  KXCaughtException caught;
  KXRegisterContext context;
  std::vector<tidewell::stacktrace::PreStackItem> prepared;
};

void Catch(const KXCaughtException &args) {
  // On the heap: a main thread that stops waiting at the quit message returns before the
  // handling ends, and the handling thread goes on reading the state; it is then left to it.
  // Only when even that allocation fails does the state live in this frame.
  std::unique_ptr<KXCaughtState> owned(new (std::nothrow) KXCaughtState);
  KXCaughtState inFrame;
  KXCaughtState &state = owned ? *owned : inFrame;
  KXCaughtException &caught = state.caught;
  KXRegisterContext &context = state.context;
  std::vector<tidewell::stacktrace::PreStackItem> &prepared = state.prepared;
  caught = args;
  bool hasContext = args.context != nullptr;
  if (hasContext)
    context = *args.context;
  CompleteCaughtParameters(caught.exceptObject, caught.exceptAddr, context, hasContext);
  caught.context = hasContext ? &context : nullptr;
  // The candidates prepared when this very exception was raised. Taken out of the thread's
  // record: code that runs on this thread while it waits may raise and refill the record.
  KXThreadRecord &raised = ThreadExceptionRecord();
  if (caught.exceptObject && raised.object == caught.exceptObject && raised.address == caught.exceptAddr)
    prepared = std::move(raised.prepared);
  caught.preparedStack = prepared.empty() ? nullptr : &prepared;

  // 4. A silent exception: no report, no dialog.
  if (ExceptInheritsFrom(caught.exceptObject, "EAbort")) {
    ClearThreadRecord();
    if (!caught.canContinue)
      ExceptionHost().ProcessEnd().CloseProcess();
    return;
  }

  // 5. Stack and frame pointer at the fault when the context belongs to the address.
  if (!caught.esp || !caught.ebp) {
    std::uintptr_t curEsp = 0, curEbp = 0;
    ExceptionHost().Data().CurrentStackPointers(curEsp, curEbp);
    if (!caught.esp)
      caught.esp = curEsp;
    if (!caught.ebp)
      caught.ebp = curEbp;
  }
  if (hasContext && uint64_t(caught.exceptAddr) - context.rip <= 4) {
    caught.esp = std::uintptr_t(context.rsp);
    caught.ebp = std::uintptr_t(context.rbp);
  }

  // 6. The thread.
  if (!caught.threadId)
    caught.threadId = GetCurrentThreadId();

  // 7-10. Handled here while the loader lock is held (no other thread could run); else handed over.
  if (ProcessLockHeld(250) || !HandlingThreadRunning()) {
    ProcessCaughtException(caught);
    return;
  }
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!event)
    return;
  KXHandOffRecord record;
  record.caught = &caught;
  record.event = event;
  PauseFreezeWatch(true);
  bool handled = true;
  if (WriteHandOffRecord(record)) {
    if (GetCurrentThreadId() == MainThreadID)
      handled = WaitDispatching(event);
    else
      WaitForSingleObject(event, INFINITE);
  }
  PauseFreezeWatch(false);
  // The handling thread still reads the state of a record whose wait ended at the quit message,
  // and sets its event: both stay with it (once, as the program ends).
  if (handled)
    CloseHandle(event);
  else
    owned.release();
}
} // namespace

void CompleteCaughtParameters(KXExceptObject &object, std::uintptr_t &address, KXRegisterContext &context,
                              bool &hasContext) {
  KXThreadRecord &r = ThreadExceptionRecord();
  if (!object)
    object = CurrentRuntimeException();
  if (!address && object && r.object == object)
    address = r.address;
  if (object && !IsValidExceptObject(object))
    object = {};
  if (object && r.object == object && r.address == address && r.hasContext) {
    context = r.context;
    hasContext = true;
  }
}

bool IsValidExceptObject(const KXExceptObject &object) {
  if (!object)
    return false;
  if (!InLoadedImage(object.type) || !ReadableMemory(object.object, 1))
    return false;
  const char *name = object.type->name();
  return InLoadedImage(name) && name[0] != 0;
}

void CatchException(const KXCaughtException &args) {
  // 1. Never on the handling thread, nor while the main thread runs synchronised handlers.
  if (GetCurrentThreadId() == HandlingThreadId() || RunningSynchronisedHandlers())
    return;
  ReleaseEmergencyReserve();
  try {
    Catch(args);
  } catch (...) {
  }
  ClearThreadRecord();
  MakeEmergencyReserve();
}

} // namespace kx
