#pragma once
// Time limits of tests that wait for another thread or process. They bound events that normally
// come at once, so that a hung program fails the test instead of hanging it. On a slow machine
// (Wine in an emulated machine, where scripts/wine-run.sh sets TIDEWELL_TEST_TIME_SCALE) every
// limit stretches by that factor.
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

namespace tidewell_test {

inline int TimeScale() {
  static const int scale = [] {
    const char *text = std::getenv("TIDEWELL_TEST_TIME_SCALE");
    int value = text ? std::atoi(text) : 1;
    return value >= 1 && value <= 100 ? value : 1;
  }();
  return scale;
}

// A limit of ms milliseconds on this machine.
inline unsigned ScaledMs(unsigned ms) { return ms * unsigned(TimeScale()); }

// Polls done every 10 ms until it holds (true) or limit, stretched by the time scale, has passed
// (false).
inline bool WaitUntil(const std::function<bool()> &done,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit * TimeScale();
  while (!done()) {
    if (std::chrono::steady_clock::now() > end)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

} // namespace tidewell_test
