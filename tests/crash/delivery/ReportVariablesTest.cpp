#include <gtest/gtest.h>

#include "crash/delivery/KXDeliverySettings.h"

using namespace kx;

namespace {
const std::string kReport = "date/time         : 2026-12-09, 09:05:07, 85ms\r\n"
                            "exception class   : %exceptMsg%\r\n"
                            "exception message : %bugReport% %computerName% %userappdata% %LF%\r\n"
                            "\r\n"
                            "main thread:";
} // namespace

TEST(ReportVariables, ReportTextsAreFilledInOnePassAndNeverExpanded) {
  EXPECT_EQ(ExpandReportVariables("Bug: %exceptMsg%", kReport),
            "Bug: %bugReport% %computerName% %userappdata% %LF%");
  EXPECT_EQ(ExpandReportVariables("%EXCEPTCLASS% / %exceptmsg%", kReport),
            "%exceptMsg% / %bugReport% %computerName% %userappdata% %LF%");
  EXPECT_EQ(ExpandReportVariables("[%bugReport%]", kReport), "[" + kReport + "]");
  // Without the fields: an empty class, "Unknown" for the message; other names stay.
  EXPECT_EQ(ExpandReportVariables("%exceptClass%|%exceptMsg%|%computerName%|100%", "date/time : x"),
            "|Unknown|%computerName%|100%");
}
