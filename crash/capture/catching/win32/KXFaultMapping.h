#pragma once
// System exceptions: a fault in the program's own code (which carries unwind tables) becomes a C++
// exception object thrown where the fault happened, so destructors run and the nearest catching
// point gets it with the registers of the fault; any other unhandled system exception takes the
// system-exception path. The thread-naming exception names a thread in the registry.
namespace kx {

void InstallFaultMapping();
void RemoveFaultMapping();

} // namespace kx
