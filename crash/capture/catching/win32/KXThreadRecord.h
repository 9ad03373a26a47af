#pragma once
// The per-thread exception record: the latest exception raised (or fault mapped) on the thread,
// its code address and the registers at that moment. Filled by the raise recorder (every C++
// throw passes through it) and by the fault mapping; cleared when the exception was handed over.
#include <windows.h>

#include <exception>
#include <vector>

#include "crash/analysis/stacktrace/ReturnAddress.h"
#include "crash/capture/exception/KXException.h"

namespace kx {

struct KXThreadRecord {
  KXExceptObject object;
  std::uintptr_t address = 0;
  KXRegisterContext context;
  bool hasContext = false;
  // Set by the fault mapping just before it throws the mapped object: the throw keeps the
  // fault's address and registers and only records the object.
  bool mappedFaultPending = false;
  // The stack's candidate return addresses, taken while the raising frames were still intact
  // (the unwinding and the handler's own calls overwrite them before a report is made).
  std::vector<tidewell::stacktrace::PreStackItem> prepared;
};

KXThreadRecord &ThreadExceptionRecord();
void ClearThreadRecord();

// Fills the record's prepared candidates from the calling thread's stack, from the context's
// stack pointer up to the stack's end and stopping at the slot that holds `exceptAddr`. Never
// throws; a failure, or a raise while one is being prepared, leaves the list empty.
void PrepareRaisingStack(KXThreadRecord &record, const CONTEXT &context, std::uintptr_t exceptAddr);

// The registers of a platform context as the report shows them.
KXRegisterContext RegistersOf(const CONTEXT &context);


// The object an exception_ptr holds, with its dynamic type.
KXExceptObject ObjectOfException(const std::exception_ptr &exception);

// The exception the calling thread is handling (the innermost of its active exceptions), or an
// empty object outside a catch block.
KXExceptObject CurrentRuntimeException();

} // namespace kx
