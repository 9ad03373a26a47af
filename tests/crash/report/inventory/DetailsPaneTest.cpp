// The sections as the crash dialog's details pane shows them: modules and processes split into
// their columns by column detection, hardware as a one-column tree.
#include "crash/base/settings/KXText.h"
#include "crash/report/inventory/HardwareList.h"
#include "crash/report/inventory/ModuleList.h"
#include "crash/report/inventory/ProcessList.h"
#include "crash/ui/dialog/DetailsViews.h"

#include <gtest/gtest.h>

namespace kx {
namespace {

using Strings = std::vector<std::string>;

Strings Cells(const TDetailsRow &row) {
  Strings cells;
  for (const std::string &cell : SplitText(row.captions, '\t'))
    cells.push_back(Trim(cell));
  return cells;
}

Strings Captions(const TDetailsTable &table) {
  Strings captions;
  for (const TDetailsColumn &c : table.columns)
    captions.push_back(c.caption);
  return captions;
}

KXProcessEntry Process(std::u16string file, std::u16string path, uint32_t id, uint32_t session, int32_t priority) {
  return {std::move(file), std::move(path), id, session, priority, id % 97, id % 13};
}

TEST(DetailsPane, ModulesAndProcessesAreTables) {
  TDetailsTable modules = PrepareDetailsView(3, "modules", NarrowUtf16(ModuleListText({
      {0x00400000, u"Tidewell.exe", u"C:\\Program Files\\Tidewell", u"1.0.0.0"},
      {0x7c900000, u"ntdll.dll", u"C:\\WINDOWS\\system32", u"5.1.2600.5512"},
      {0x10000000, u"plain.dll", u"C:\\Tools", u""}})));
  ASSERT_TRUE(modules.IsTable());
  EXPECT_EQ(Captions(modules), (Strings{"handle", "file name", "version", "path"}));
  EXPECT_EQ(Cells(modules.rows[0]), (Strings{"00400000", "Tidewell.exe", "1.0.0.0", "C:\\Program Files\\Tidewell"}));
  EXPECT_EQ(Cells(modules.rows[2]), (Strings{"10000000", "plain.dll", "", "C:\\Tools"}));

  std::vector<KXProcessEntry> processes = {Process(u"Idle", u"", 0, 0, -1), Process(u"System", u"", 4, 0, 0x20),
                                           Process(u"smss.exe", u"C:\\Windows\\System32", 0x148, 0, 0x80)};
  TDetailsTable table = PrepareDetailsView(4, "processes", NarrowUtf16(ProcessListText(processes)));
  ASSERT_TRUE(table.IsTable());
  EXPECT_EQ(Captions(table), (Strings{"id", "file name", "gdi objects", "user objects", "priority", "path"}));
  EXPECT_EQ(Cells(table.rows[2]), (Strings{"148", "smss.exe", "37", "3", "high", "C:\\Windows\\System32"}));
  processes.push_back(Process(u"explorer.exe", u"C:\\Windows", 0x1a2c, 1, 0x4000));
  table = PrepareDetailsView(4, "processes", NarrowUtf16(ProcessListText(processes)));
  ASSERT_TRUE(table.IsTable());
  EXPECT_EQ(Captions(table), (Strings{"id", "file name", "session", "gdi objects", "user objects", "priority", "path"}));
  EXPECT_EQ(Cells(table.rows[3]), (Strings{"1a2c", "explorer.exe", "1", "7", "5", "below normal", "C:\\Windows"}));
}

TEST(DetailsPane, HardwareIsATreeInTheFixedPitchFont) {
  KXHardwareList list;
  list.Add("Display adapters", "Standard VGA Graphics Adapter", "");
  list.Add("Ports", "Communications Port (COM1)", " (driver 5.1)");
  TDetailsTable table = PrepareDetailsView(5, "hardware", list.Text());
  ASSERT_TRUE(table.IsTable());
  EXPECT_TRUE(table.fixedPitch);
  EXPECT_EQ(table.columns.size(), 1u);
  ASSERT_EQ(table.rows.size(), 4u);
  EXPECT_EQ(table.rows[0].captions, "+ Display adapters");
  EXPECT_EQ(table.rows[3].captions, "\xa0 - Communications Port (COM1) (driver 5.1)");
}

} // namespace
} // namespace kx
