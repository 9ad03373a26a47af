#pragma once
// The arithmetic of the freeze watch: the probe interval and the count of probes that the watched
// thread did not answer. The watch probes once per interval; ten unanswered probes in a row are a
// freeze. After a report the interval grows by half, so a freeze that goes on is reported again
// after a longer time (timeout 60000: first report after about 60 s, the next about 90 s later).
#include <atomic>
#include <cstdint>

namespace kx {

class FreezeMissCounter {
public:
  static constexpr int32_t kMissesPerFreeze = 10;

  explicit FreezeMissCounter(uint32_t timeoutMs = 0) { Restart(timeoutMs); }

  // A new timeout: interval := timeout / 10, no misses.
  void Restart(uint32_t timeoutMs) {
    FTimeout = timeoutMs;
    FInterval = BaseInterval();
    FMisses = 0;
  }

  // The watched thread answered: misses := 0, interval := timeout / 10.
  void Answered() {
    FMisses = 0;
    FInterval = BaseInterval();
  }

  // A probe went unanswered. True when this miss completes a freeze; the caller reports it and
  // then calls Reported().
  bool Missed() { return ++FMisses >= kMissesPerFreeze; }

  // After a report: misses := 0, interval grows by half.
  void Reported() {
    FMisses = 0;
    FInterval = FInterval + FInterval / 2;
  }

  // Forgets the misses counted so far (pausing the watch, exception handling).
  void ResetMisses() { FMisses = 0; }

  uint32_t Interval() const { return FInterval; }
  int32_t Misses() const { return FMisses; }

private:
  // At least 1 ms, so that a tiny timeout never makes the watch spin.
  uint32_t BaseInterval() const { return FTimeout / 10 ? FTimeout / 10 : 1; }

  uint32_t FTimeout = 0;
  std::atomic<uint32_t> FInterval{1};
  std::atomic<int32_t> FMisses{0};
};

} // namespace kx
