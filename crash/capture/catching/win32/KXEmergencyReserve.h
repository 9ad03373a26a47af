#pragma once
// Memory held back for the handling of an exception: four reservations of 4 MB of address space
// and four committed blocks of 512 KB without access. CatchException gives them back to the
// process before it does any work, so that an exception caused by exhausted memory can still be
// handled, and makes them again at its end. Besides, a block of 64 KB of the heap stays held
// for the case that the handling itself uses up the memory again: then it is the last room for
// the exception objects (EnsureHeapRoom).
#include <cstddef>

namespace kx {

void MakeEmergencyReserve();
void ReleaseEmergencyReserve();

// When the heap cannot provide `bytes` now: gives the reserve back, or, when that is back
// already, the held heap block. For the paths that must allocate before CatchException runs (the
// fault mapping) and for every exception object (through the linker's
// --wrap=__cxa_allocate_exception).
void EnsureHeapRoom(size_t bytes);

} // namespace kx
