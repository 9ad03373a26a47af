#pragma once
// Memory held back for the handling of an exception: four reservations of 4 MB of address space
// and four committed blocks of 512 KB without access. CatchException gives them back to the
// process before it does any work, so that an exception caused by exhausted memory can still be
// handled, and makes them again at its end.
#include <cstddef>

namespace kx {

void MakeEmergencyReserve();
void ReleaseEmergencyReserve();

// Gives the reserve back when the heap cannot provide `bytes` now. For the paths that must
// allocate before CatchException runs: the fault mapping, and every exception object (through
// the linker's --wrap=__cxa_allocate_exception).
void EnsureHeapRoom(size_t bytes);

} // namespace kx
