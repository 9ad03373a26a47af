#pragma once
// The exception-handling thread: catching points write hand-off records into its pipe and wait for
// the record's event; the thread runs the handling sequence for one caught exception after the
// other.
#include <windows.h>

#include <type_traits>

#include "crash/capture/exception/KXHandlingSequence.h"

namespace kx {

// What goes through the pipe: the caught exception itself (by pointer; the catching thread keeps
// it alive until the event is set) and the event. A record without exception stops the thread.
struct KXHandOffRecord {
  const KXCaughtException *caught = nullptr;
  HANDLE event = nullptr; // manual-reset, set when the exception has been handled
};
static_assert(std::is_trivially_copyable_v<KXHandOffRecord>);

// The thread's name in the thread registry.
inline constexpr const char *kHandlingThreadName = "Kestrelix - HandleExceptionThread";

// Creates the pipe and starts the thread (highest priority). False when either fails.
bool StartHandlingThread();
// Stops the thread: resumes it; unless the process is blocked, writes a zero record, closes the
// write end and gives it 500 ms; then closes the read end and terminates it after a further 50 ms.
void StopHandlingThread();
bool HandlingThreadRunning();
DWORD HandlingThreadId();

// Writes one record into the pipe; true when all of it was written.
bool WriteHandOffRecord(const KXHandOffRecord &record);

} // namespace kx
