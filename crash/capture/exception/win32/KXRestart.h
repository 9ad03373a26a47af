#pragma once
// Restarting the program: the new instance gets the old one's process id and exception times
// through a named shared-memory record, waits until the old one has ended and takes the times over.
#include <windows.h>

#include <cstdint>
#include <string>

#include "crash/capture/exception/KXExceptionTimes.h"

namespace kx {

// "KestrelixRestart" + "$" + the process id in lower-case hexadecimal.
std::string RestartRecordName(DWORD processId);

// The 88-byte record: the old process id, a handle of the record duplicated into the new
// process, and the ten exception times.
struct KXRestartRecord {
  uint32_t oldProcessId;
  uint32_t duplicatedHandle;
  int64_t exceptionTimes[10];
};
static_assert(sizeof(KXRestartRecord) == 88);

// Starts the program again with the current command line and hands it the exception times; then
// ends this process with exit code 2 (also when the new process could not be started).
[[noreturn]] void RestartProcess(const TExceptionTimes &times);

// At start-up: when this process was started by a restart, waits until the old process has ended
// and takes its exception times over. True when a record was found.
bool TakeOverRestart(TExceptionTimes &times, DWORD *oldProcessId = nullptr);

} // namespace kx
