#pragma once
// The reporter's life in the process: StartReporter runs first thing in WinMain, StopReporter last.
#include <cstdint>

namespace kx {

// Takes over a restarted instance's exception times, empties the temporary directory, reads the
// settings, runs the checksum test, joins the thread registry, installs the exception host with
// its outputs (KXShellOutputs), the report composition with its modules, processes and hardware
// plug-ins, the host's windows (KXShellWindows), installs the catching points, starts the
// handling thread, registers the handler message, intercepts thread creation and, when
// configured, starts the freeze watch. True when the catching points are active; a module
// without a settings stream runs as if the reporter were absent.
bool StartReporter();
// Takes everything back in the reverse order.
void StopReporter();
// True from a StartReporter that made the catching points active until StopReporter; may be
// asked from any thread.
bool ReporterRunning();

// The start time in milliseconds of the performance counter (0 without one).
int64_t ReporterStartTime();

// The file integrity test: passes when the stored image checksum is 0, equals the file's
// checksum, or the file cannot be read.
bool ModuleFileChecksumOk(const wchar_t *path);

} // namespace kx
