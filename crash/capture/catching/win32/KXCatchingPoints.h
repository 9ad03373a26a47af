#pragma once
// The catching points: the runtime's exception paths (application handler and displays,
// synchronised calls, the outermost handlers), the terminate handler, the fault mapping and the
// frames of every thread created through CreateThread.
#include <windows.h>

namespace kx {

void InstallCatchingPoints();
void RemoveCatchingPoints();

// Intercepts CreateThread in the import tables of every loaded module; false when nothing could
// be patched.
bool InstallThreadCreationInterception();
void RemoveThreadCreationInterception();
// How many import-table entries are replaced right now.
size_t ThreadCreationPatchCount();

} // namespace kx
