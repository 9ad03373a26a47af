// The call-stack lines in the report's columns and the checksum values over them.
#include <gtest/gtest.h>

#include <cstring>

#include "crash/analysis/debuginfo/Crc32.h"
#include "crash/analysis/stacktrace/CallStackText.h"

namespace tidewell::stacktrace::test {
namespace {

StackItem Item(uint32_t addr, uint32_t start, const std::string &module, const std::string &unit,
               int32_t line, int32_t functionLine, const std::string &name) {
  StackItem i;
  i.Addr = addr;
  i.FunctionAddr = start;
  i.ModuleName = module;
  i.UnitName = unit;
  i.Line = line;
  i.FunctionLine = functionLine;
  i.FunctionName = name;
  return i;
}

TEST(CallStackText, ColumnsFollowTheWidestEntries) {
  StackTraceItems items{
      Item(0x0045a1f3, 0x0045a1d8, "Tidewell.exe", "MainUnit", 131, 126, "TForm1.btnSetClick"),
      Item(0x00412345, 0x00412000, "Tidewell.exe", "Controls", 2001, 1990, "TControl.Click"),
      Item(0x7c80b729, 0x7c80b700, "kernel32.dll", "", 0, 0, "BaseThreadInitThunk"),
  };
  items[0].IsTop = true;
  CallStackOptions o;
  o.showRelativeAddrs = o.showRelativeLines = true;
  EXPECT_EQ(CallStackLines(items, o),
            "0045a1f3 +01b Tidewell.exe MainUnit  131  +5 TForm1.btnSetClick\r\n"
            "00412345 +345 Tidewell.exe Controls 2001 +11 TControl.Click\r\n"
            "7c80b729 +029 kernel32.dll                   BaseThreadInitThunk");
  // Without relative addresses and lines: no "+" column, absolute lines, no second column.
  o.showRelativeAddrs = o.showRelativeLines = false;
  EXPECT_EQ(CallStackLines(items, o),
            "0045a1f3 Tidewell.exe MainUnit  131 TForm1.btnSetClick\r\n"
            "00412345 Tidewell.exe Controls 2001 TControl.Click\r\n"
            "7c80b729 kernel32.dll               BaseThreadInitThunk");
}

TEST(CallStackText, WhichItemsAreWritten) {
  StackTraceItems items{
      Item(0x00401010, 0, "app.exe", "", 0, 0, ""),                 // top: always
      Item(0x00401020, 0x00401000, "app.exe", "U", 0, 0, "NoLine"), // ugly: no line
      Item(0x00401030, 0x00401000, "app.exe", "U", 7, 0, "F"),
      Item(0x00401030, 0x00401000, "app.exe", "U", 7, 0, "F"),      // same address again
      Item(0x00401040, 0, "app.exe", "", 0, 0, ""),                 // no name
      Item(0x00401030, 0, "app.exe", "", 0, 0, ""),                 // creator: always
  };
  items[0].IsTop = true;
  items[5].IsCreator = true;
  CallStackOptions o;
  o.hideUglyItems = true;
  CallStackChecksum sum;
  std::string text = CallStackLines(items, o, &sum);
  EXPECT_EQ(text, "00401010 app.exe     \r\n00401030 app.exe U 7 F\r\n00401030 app.exe     ");
  EXPECT_TRUE(sum.hasLineInfo);
  o.hideUglyItems = false;
  text = CallStackLines(items, o);
  EXPECT_NE(text.find("00401020 app.exe U   NoLine"), std::string::npos) << text;
  EXPECT_TRUE(CallStackLines({}, o).empty());
}

TEST(CallStackText, ChecksumUsesOffsetAndLowerCaseNames) {
  const StackItem named = Item(0x00401234, 0x00401200, "APP.EXE", "MainUnit", 10, 0, "TForm1.Click");
  // The value: offset in the function, then the table step over "app.exe", "mainunit",
  // "tform1.click" without inversions.
  uint32_t v = 0x34;
  for (const char *s : {"app.exe", "mainunit", "tform1.click"})
    v = ~debuginfo::Crc32(s, std::strlen(s), ~v);
  EXPECT_EQ(LineChecksumValue(named), v);
  // Without a function start, or without a name: the raw address.
  StackItem raw = named;
  raw.FunctionAddr = 0;
  EXPECT_EQ(LineChecksumValue(raw), 0x00401234u);
  // Only A-Z and the three Latin-1 umlauts are lowered.
  EXPECT_EQ(ReportLower("AbZ\xC4\xD6\xDC\xC9"), "abz\xE4\xF6\xFC\xC9");
  // An empty unit is left out.
  StackItem noUnit = named;
  noUnit.UnitName.clear();
  uint32_t w = 0x34;
  for (const char *s : {"app.exe", "tform1.click"})
    w = ~debuginfo::Crc32(s, std::strlen(s), ~w);
  EXPECT_EQ(LineChecksumValue(noUnit), w);

  // Two lines: the second one's four bytes go into the chain value. (A line at the same
  // address as the one before would be skipped.)
  noUnit.Addr = 0x00401234 + 0x10;
  w = 0x44;
  for (const char *s : {"app.exe", "tform1.click"})
    w = ~debuginfo::Crc32(s, std::strlen(s), ~w);
  CallStackChecksum sum;
  CallStackLines({named, noUnit}, CallStackOptions{}, &sum);
  EXPECT_EQ(sum.firstLine, v);
  const uint8_t bytes[4] = {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)};
  EXPECT_EQ(sum.chain, ~debuginfo::Crc32(bytes, 4, ~v));
}

} // namespace
} // namespace tidewell::stacktrace::test
