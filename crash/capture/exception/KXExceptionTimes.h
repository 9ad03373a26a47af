#pragma once
// The times of the last ten exceptions that were not hidden (whole seconds since 1601-01-01 UTC,
// newest first, 0 where unused). They decide the automatic close and restart and are carried over
// a restart of the program.
#include <array>
#include <cstdint>

namespace kx {

using TExceptionTimes = std::array<int64_t, 10>;

// The process's ring.
TExceptionTimes ExceptionTimes();
void SetExceptionTimes(const TExceptionTimes &times);
// Shifts the ring towards the old end and puts now in front.
void RecordExceptionTime(int64_t now);

// Whether an automatic close or restart with this setting is due: 0 never, 1 always, N only when
// all ten entries are set and none is more than N seconds before now.
bool AutoActionDue(uint32_t value, const TExceptionTimes &times, int64_t now);

} // namespace kx
