// The sections as the crash dialog's details pane shows them: modules and processes split into
// their columns by column detection, hardware as a one-column tree.
#include "DetailsViews.h"
#include "HardwareList.h"
#include "KXText.h"
#include "ModuleList.h"
#include "ProcessList.h"

#include <gtest/gtest.h>

namespace kx {
namespace {

// The cells of a row, trimmed as the list view shows them.
std::vector<std::string> Cells(const TDetailsRow &row) {
  std::vector<std::string> cells;
  for (const std::string &cell : SplitText(row.captions, '\t'))
    cells.push_back(Trim(cell));
  return cells;
}

std::vector<std::string> Captions(const TDetailsTable &table) {
  std::vector<std::string> captions;
  for (const TDetailsColumn &c : table.columns)
    captions.push_back(c.caption);
  return captions;
}

TEST(DetailsPane, ModulesAreATableOfAddressNameVersionAndFolder) {
  std::string text = NarrowUtf16(ModuleListText({
      {0x00400000, u"Tidewell.exe", u"C:\\Program Files\\Tidewell", u"1.0.0.0"},
      {0x7c900000, u"ntdll.dll", u"C:\\WINDOWS\\system32", u"5.1.2600.5512"},
      {0x7c800000, u"kernel32.dll", u"C:\\WINDOWS\\system32", u"5.1.2600.5781"},
      {0x10000000, u"plain.dll", u"C:\\Tools", u""},
  }));
  TDetailsTable table = PrepareDetailsView(3, "modules", text);
  ASSERT_TRUE(table.IsTable()) << text;
  EXPECT_EQ(Captions(table), (std::vector<std::string>{"handle", "file name", "version", "path"}));
  ASSERT_EQ(table.rows.size(), 4u);
  EXPECT_EQ(Cells(table.rows[0]), (std::vector<std::string>{"00400000", "Tidewell.exe", "1.0.0.0",
                                                             "C:\\Program Files\\Tidewell"}));
  EXPECT_EQ(Cells(table.rows[3]), (std::vector<std::string>{"10000000", "plain.dll", "", "C:\\Tools"}));
}

TEST(DetailsPane, ProcessesAreATableWithOrWithoutTheSessionColumn) {
  auto process = [](std::u16string file, std::u16string path, uint32_t id, uint32_t session, int32_t priority) {
    KXProcessEntry p;
    p.fileName = std::move(file);
    p.path = std::move(path);
    p.processId = id;
    p.sessionId = session;
    p.priorityClass = priority;
    p.gdiObjects = id % 97;
    p.userObjects = id % 13;
    return p;
  };
  std::vector<KXProcessEntry> processes = {
      process(u"Idle", u"", 0, 0, -1),
      process(u"System", u"", 4, 0, 0x20),
      process(u"smss.exe", u"C:\\Windows\\System32", 0x148, 0, 0x80),
      process(u"services.exe", u"C:\\Windows\\System32", 0x260, 0, 0x20),
  };
  TDetailsTable table = PrepareDetailsView(4, "processes", NarrowUtf16(ProcessListText(processes)));
  ASSERT_TRUE(table.IsTable());
  EXPECT_EQ(Captions(table), (std::vector<std::string>{"id", "file name", "gdi objects", "user objects", "priority",
                                                       "path"}));
  EXPECT_EQ(Cells(table.rows[2]), (std::vector<std::string>{"148", "smss.exe", "37", "3", "high",
                                                             "C:\\Windows\\System32"}));

  processes.push_back(process(u"explorer.exe", u"C:\\Windows", 0x1a2c, 1, 0x4000));
  table = PrepareDetailsView(4, "processes", NarrowUtf16(ProcessListText(processes)));
  ASSERT_TRUE(table.IsTable());
  EXPECT_EQ(Captions(table), (std::vector<std::string>{"id", "file name", "session", "gdi objects", "user objects",
                                                       "priority", "path"}));
  EXPECT_EQ(Cells(table.rows[4]), (std::vector<std::string>{"1a2c", "explorer.exe", "1", "7", "5", "below normal",
                                                             "C:\\Windows"}));
  EXPECT_EQ(Cells(table.rows[1]), (std::vector<std::string>{"0004", "System", "0", "4", "4", "normal", ""}));
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
  EXPECT_NE(table.rows[0].forceColor, 0u);
  EXPECT_EQ(table.rows[3].captions, "\xa0 - Communications Port (COM1) (driver 5.1)");
}

} // namespace
} // namespace kx
