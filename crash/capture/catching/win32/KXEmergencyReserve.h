#pragma once
// Memory held back for the handling of an exception: four reservations of 4 MB of address space
// and four committed blocks of 512 KB without access. CatchException gives them back to the
// process before it does any work, so that an exception caused by exhausted memory can still be
// handled, and makes them again at its end.
namespace kx {

void MakeEmergencyReserve();
void ReleaseEmergencyReserve();

} // namespace kx
