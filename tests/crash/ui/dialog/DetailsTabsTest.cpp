// The details pane's tab captions, tab texts and tab updates.
#include <gtest/gtest.h>

#include "crash/ui/dialog/DetailsTabs.h"

namespace kx {
namespace {

using Captions = std::vector<std::string>;

TReportSnapshot Report(std::vector<TReportItem> sections) {
  TReportSnapshot r;
  r.header = {{"date/time", "2026-12-09, 09:00:00, 12ms"}, {"exception class", "EAccessViolation"}};
  r.sections = std::move(sections);
  return r;
}

TEST(DetailsTabs, CaptionsFollowTheSections) {
  EXPECT_EQ(WantedTabCaptions(Report({})), (Captions{"general", "call stack"}));
  const TReportSnapshot one = Report({{"main thread ($a1c)", "stack"}, {"modules", "m"}, {"cpu registers", "r"},
                                      {"disassembling", "d"}, {"plugin$x", "p"}});
  // Section 0 alone: singular; a later name with "$" that follows other sections is a section.
  EXPECT_EQ(WantedTabCaptions(one), (Captions{"general", "call stack", "modules", "cpu regs", "disasm", "plugin$x"}));
  const TReportSnapshot three =
      Report({{"main thread ($a1c)", "s0"}, {"worker ($b20)", "s1"}, {"thread $c44", "s2"}, {"modules", "m"}});
  EXPECT_EQ(WantedTabCaptions(three), (Captions{"general", "call stacks", "modules"}));
}

TEST(DetailsTabs, TabTexts) {
  const TReportSnapshot r =
      Report({{"main thread ($a1c)", "s0"}, {"worker ($b20)", "s1\r\n"}, {"modules", "m"}, {"hardware", "h"}});
  EXPECT_EQ(TabContent(r, 0), "date/time\t2026-12-09, 09:00:00, 12ms\r\nexception class\tEAccessViolation");
  EXPECT_EQ(TabContent(r, 1), ">> main thread ($a1c)\r\ns0\r\n\r\n>> worker ($b20)\r\ns1\r\n");
  EXPECT_EQ(TabContent(r, 2), "m");
  EXPECT_EQ(TabContent(r, 3), "h");
  EXPECT_EQ(TabContent(r, 4), "");
  EXPECT_EQ(TabContent(r, -1), "");
  EXPECT_EQ(TabSectionName(r, 2), "modules");
  EXPECT_EQ(TabSectionName(r, 3), "hardware");
  EXPECT_EQ(TabSectionName(r, 1), "");
  EXPECT_EQ(TabSectionName(r, 4), "");
  // Without thread stacks the sections start at tab 2 all the same.
  EXPECT_EQ(TabContent(Report({}), 1), "");
  EXPECT_EQ(TabContent(Report({}), 2), "");
}

// Applies the edits as the tab control would.
Captions Apply(Captions tabs, const TTabEdits &edits) {
  for (int d : edits.deletions)
    tabs.erase(tabs.begin() + d);
  for (const auto &[at, caption] : edits.insertions)
    tabs.insert(tabs.begin() + at, caption);
  return tabs;
}

TEST(DetailsTabs, SyncDeletesFromTheEndAndInsertsInPlace) {
  const Captions current{"general", "call stack", "modules", "old"};
  const Captions wanted{"general", "call stacks", "modules", "hardware"};
  const TTabEdits edits = SyncTabs(current, wanted);
  EXPECT_EQ(edits.deletions, (std::vector<int>{3, 1}));
  EXPECT_EQ(Apply(current, edits), wanted);
  EXPECT_TRUE(SyncTabs(wanted, wanted).Empty());
  EXPECT_EQ(Apply({}, SyncTabs({}, wanted)), wanted);
  // Captions in another order are rebuilt, never left swapped.
  const Captions swapped{"general", "modules", "call stacks", "hardware"};
  EXPECT_EQ(Apply(swapped, SyncTabs(swapped, wanted)), wanted);
}

} // namespace
} // namespace kx
