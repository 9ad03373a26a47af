#include "crash/capture/threads/ThreadTitles.h"

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

TEST(ThreadTitles, ProcessTraceListsTheReporterThreads) {
  ASSERT_FALSE(kx::ProcessTraceRunning());
  kx::BeginProcessTrace();
  kx::BeginProcessTrace(); // a second, overlapping trace
  EXPECT_EQ(FormatThreadTitle(0x10, kx::kHandleExceptionThreadName, "", false),
            "Kestrelix - HandleExceptionThread ($10)");
  EXPECT_EQ(FormatThreadTitle(0x11, kx::kTraceProcessThreadName, "", false), "Kestrelix - TraceProcessThread ($11)");
  EXPECT_EQ(FormatThreadTitle(0x12, "-", "TWorker", false), "");
  kx::EndProcessTrace(); // the first to end does not end the other's listing
  EXPECT_EQ(FormatThreadTitle(0x13, kx::kAntiFreezeThreadName, "", false), "Kestrelix - AntiFreezeThread ($13)");
  kx::EndProcessTrace();
  EXPECT_FALSE(kx::ProcessTraceRunning());
  EXPECT_EQ(FormatThreadTitle(0x13, kx::kAntiFreezeThreadName, "", false), "");
  kx::EndProcessTrace(); // an unmatched end changes nothing
  kx::BeginProcessTrace();
  EXPECT_TRUE(kx::ProcessTraceRunning());
  kx::EndProcessTrace();
}

} // namespace
