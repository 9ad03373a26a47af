#pragma once
// Whether the process is blocked in the platform's loader: while a thread holds the loader lock or
// the process-environment lock, starting a thread or waiting for one can deadlock, so work is not
// handed to other threads then.
#include <windows.h>

namespace kx {

// True while the loader lock or the process-environment lock is owned by a thread (the calling one
// included). Repeats the test every 10 ms until both are free or waitMs has passed; 0 tests once
// without sleeping. Where the process environment block does not point at the locks, false.
bool ProcessLockHeld(DWORD waitMs);

} // namespace kx
