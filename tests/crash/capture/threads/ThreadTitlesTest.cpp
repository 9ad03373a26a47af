#include "ThreadTitles.h"

#include <gtest/gtest.h>

namespace {

using kx::FormatThreadTitle;

TEST(ThreadTitles, NamedThreadsShowNameAndHexId) {
  EXPECT_EQ(FormatThreadTitle(0x1a2c, "main thread", "", false), "main thread ($1a2c)");
  // A name wins over a class name.
  EXPECT_EQ(FormatThreadTitle(0xd34, "reader", "TJvHidDeviceReadThread", false), "reader ($d34)");
  EXPECT_EQ(FormatThreadTitle(0, "x", "", true), "x ($0)");
}

TEST(ThreadTitles, UnnamedThreadsShowIdAndClassName) {
  EXPECT_EQ(FormatThreadTitle(0xd34, "", "", false), "thread $d34");
  EXPECT_EQ(FormatThreadTitle(0xd34, "", "TJvHidDeviceReadThread", false), "thread $d34 (TJvHidDeviceReadThread)");
  EXPECT_EQ(FormatThreadTitle(0xffffffffu, "", "", false), "thread $ffffffff");
}

TEST(ThreadTitles, HiddenNamesAreLeftOutUnlessAlways) {
  for (const char *name : {"-", kx::kAntiFreezeThreadName, kx::kHandleExceptionThreadName, kx::kTraceProcessThreadName})
    EXPECT_EQ(FormatThreadTitle(0x10, name, "TWorker", false), "") << name;
  // Asked for always, "-" counts as no name, the reporter's names are shown.
  EXPECT_EQ(FormatThreadTitle(0x10, "-", "TWorker", true), "thread $10 (TWorker)");
  EXPECT_EQ(FormatThreadTitle(0x10, "-", "", true), "thread $10");
  EXPECT_EQ(FormatThreadTitle(0x10, kx::kAntiFreezeThreadName, "", true), "Kestrelix - AntiFreezeThread ($10)");
  // Names that merely resemble hidden ones are shown.
  EXPECT_EQ(FormatThreadTitle(0x10, "--", "", false), "-- ($10)");
  EXPECT_EQ(FormatThreadTitle(0x10, "Kestrelix", "", false), "Kestrelix ($10)");
}

} // namespace
