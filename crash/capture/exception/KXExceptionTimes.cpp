#include "crash/capture/exception/KXExceptionTimes.h"

#include <algorithm>
#include <mutex>

namespace kx {

namespace {
std::mutex &TimesLock() {
  static std::mutex lock;
  return lock;
}
TExceptionTimes &Times() {
  static TExceptionTimes times{};
  return times;
}
} // namespace

TExceptionTimes ExceptionTimes() {
  std::lock_guard g(TimesLock());
  return Times();
}

void SetExceptionTimes(const TExceptionTimes &times) {
  std::lock_guard g(TimesLock());
  Times() = times;
}

void RecordExceptionTime(int64_t now) {
  std::lock_guard g(TimesLock());
  TExceptionTimes &times = Times();
  std::move_backward(times.begin(), times.end() - 1, times.end());
  times[0] = now;
}

bool AutoActionDue(uint32_t value, const TExceptionTimes &times, int64_t now) {
  if (value == 0)
    return false;
  if (value == 1)
    return true;
  return std::all_of(times.begin(), times.end(),
                     [&](int64_t t) { return t != 0 && now - t <= int64_t(value); });
}

} // namespace kx
