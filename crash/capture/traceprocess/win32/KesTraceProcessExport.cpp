// The executable's one export. A tool outside the process starts a thread here (the routine has
// the form of a thread entry: one 32-bit argument, stdcall, a 32-bit result) after creating the
// shared-memory object that receives the report. Linked with --kill-at, it is exported as
// "kesTraceProcess" without the stdcall decoration.
#include <windows.h>

#include <cstdint>

#include "crash/capture/traceprocess/win32/TraceProcess.h"

extern "C" __declspec(dllexport) DWORD WINAPI kesTraceProcess(int32_t bufSize) { return kx::TraceProcess(bufSize); }
