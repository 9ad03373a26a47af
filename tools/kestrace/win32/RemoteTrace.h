#pragma once
// Asking another process for its report: the delivery object, a thread started in that process at
// its kesTraceProcess export, and reading what it delivered.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/kestrace/TraceCommand.h"

namespace kestrace {

// The ids of the running processes whose exe file name matches (see ExeNameMatches).
std::vector<DWORD> ProcessesNamed(const std::wstring &name);

struct RemoteTraceResult {
  ExitCode code = kExitCannotRun;
  std::string report;  // the delivered text (8-bit, the system code page)
  std::string message; // what went wrong, or a note about the report
};

// Creates the delivery object ("Global\kesTraceProcessMap", or "kesTraceProcessMap" where a global
// object may not be made) of bufSize bytes, starts a thread in the process at the export's
// address in its exe module, waits up to timeoutMs for it and reads the text. With clipboard the
// thread is started with size 0 and no object is made. A thread that does not end in time is left
// running (ending it could leave the process's locks held); it then finds no object and delivers
// nothing.
RemoteTraceResult TraceRemoteProcess(DWORD processId, int32_t bufSize, DWORD timeoutMs, bool clipboard);

} // namespace kestrace
