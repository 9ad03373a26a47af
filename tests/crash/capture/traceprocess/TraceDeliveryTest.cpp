// Where a report asked for through the export goes, and how much of it fits.
#include "crash/capture/traceprocess/TraceDelivery.h"

#include <gtest/gtest.h>

namespace kx {
namespace {

TEST(TraceDelivery, SizesBelowOneGoToTheClipboard) {
  EXPECT_TRUE(TraceGoesToClipboard(0));
  EXPECT_TRUE(TraceGoesToClipboard(-1));
  EXPECT_TRUE(TraceGoesToClipboard(INT32_MIN));
  EXPECT_FALSE(TraceGoesToClipboard(1));
  EXPECT_FALSE(TraceGoesToClipboard(INT32_MAX));
}

TEST(TraceDelivery, TheTextAndItsZeroFitTheBuffer) {
  // bufSize 1: only the terminating zero.
  EXPECT_EQ(DeliveredLength(500, 1, 4096), 0u);
  // bufSize - 1 characters fit whole; bufSize characters lose the last one.
  EXPECT_EQ(DeliveredLength(9, 10, 4096), 9u);
  EXPECT_EQ(DeliveredLength(10, 10, 4096), 9u);
  EXPECT_EQ(DeliveredLength(0, 10, 4096), 0u);
  EXPECT_EQ(DeliveredLength(100000, INT32_MAX, 1u << 20), 100000u);
}

TEST(TraceDelivery, NeverMoreThanTheObjectHolds) {
  // A caller that names a larger size than its object has gets what the object holds.
  EXPECT_EQ(DeliveredLength(10000, 1 << 20, 4096), 4095u);
  EXPECT_EQ(DeliveredLength(2u << 20, INT32_MAX, 1u << 20), (1u << 20) - 1);
  EXPECT_EQ(DeliveredLength(10, 1 << 20, 1), 0u);
  EXPECT_EQ(DeliveredLength(10, 1 << 20, 0), 0u);
}

} // namespace
} // namespace kx
