#pragma once
// A pretend weather station, with the faults the example asks for.

// Reads the logger interval; the station does not answer, so it throws std::runtime_error.
int ReadInterval();
// Stores a reading through the pointer it is given.
void StoreReading(int *slot, int value);
