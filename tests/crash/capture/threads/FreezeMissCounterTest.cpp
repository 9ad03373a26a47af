#include "crash/capture/threads/FreezeMissCounter.h"

#include <gtest/gtest.h>

namespace {

// Runs the watch's loop over a timeline in which the watched thread answers only while
// answering(t) holds; returns the times (ms) at which a freeze is reported, up to endMs.
template <typename Answering>
std::vector<uint64_t> Reports(uint32_t timeoutMs, uint64_t endMs, Answering answering) {
  kx::FreezeMissCounter counter(timeoutMs);
  std::vector<uint64_t> reports;
  for (uint64_t t = 0; t < endMs;) {
    t += counter.Interval();
    if (answering(t))
      counter.Answered();
    else if (counter.Missed()) {
      reports.push_back(t);
      counter.Reported();
    }
  }
  return reports;
}

TEST(FreezeMissCounter, LongFreezeIsReportedAfterTimeoutThenAfterHalfAsLongAgain) {
  // Blocked from the start for 65 s with the 60 s timeout: one report at 60 s.
  auto reports = Reports(60000, 65000, [](uint64_t) { return false; });
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], 60000u);
  // Staying blocked, the next report comes 90 s after the first (interval 9000 x 10), then 135 s.
  reports = Reports(60000, 60000 + 90000 + 135000 + 1, [](uint64_t) { return false; });
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[1] - reports[0], 90000u);
  EXPECT_EQ(reports[2] - reports[1], 135000u);
}

TEST(FreezeMissCounter, AnswerRestoresIntervalAndClearsMisses) {
  kx::FreezeMissCounter counter(60000);
  for (int i = 0; i < 9; ++i)
    EXPECT_FALSE(counter.Missed());
  EXPECT_TRUE(counter.Missed());
  counter.Reported();
  EXPECT_EQ(counter.Interval(), 9000u);
  counter.Answered();
  EXPECT_EQ(counter.Interval(), 6000u);
  EXPECT_EQ(counter.Misses(), 0);
}

TEST(FreezeMissCounter, ShortFreezesAreNotAddedUp) {
  // Frozen for 9 intervals, answering for one, frozen for 9 again: never ten misses in a row.
  auto reports = Reports(1000, 10000, [](uint64_t t) { return (t / 100) % 10 == 9; });
  EXPECT_TRUE(reports.empty());
  // A reset by a pause in the middle of a freeze starts the count again.
  kx::FreezeMissCounter counter(1000);
  for (int i = 0; i < 9; ++i)
    counter.Missed();
  counter.ResetMisses();
  for (int i = 0; i < 9; ++i)
    EXPECT_FALSE(counter.Missed());
  EXPECT_EQ(counter.Interval(), 100u);
}

TEST(FreezeMissCounter, TinyTimeoutStillHasAnInterval) {
  kx::FreezeMissCounter counter(5);
  EXPECT_EQ(counter.Interval(), 1u);
  counter.Restart(0);
  EXPECT_EQ(counter.Interval(), 1u);
}

} // namespace
