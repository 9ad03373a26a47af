// The linker text map: every kind of line, in the usual four-digit section layout and with
// three-digit section numbers.
#include "crash/analysis/debuginfo/MapFile.h"

#include <gtest/gtest.h>

namespace {

// Section 1 code (.text 0x2345 bytes, so section 2 code starts 0x3000 further), section 2
// code, section 3 data.
const char kMap[] =
    "\r\n"
    " Start         Length     Name                   Class\r\n"
    " 0001:00401000 00002345H .text                   CODE\r\n"
    " 0002:00404000 00000200H .itext                  ICODE\r\n"
    " 0003:00406000 00000400H .data                   DATA\r\n"
    "\r\n"
    "\r\n"
    "Detailed map of segments\r\n"
    "\r\n"
    " 0001:00000000 00001000 C=CODE     S=.text    G=(none)   M=System   ACBP=A9\r\n"
    " 0001:00001000 00001345 C=CODE     S=.text    G=(none)   M=Unit1.pas ACBP=A9\r\n"
    " 0002:00000000 00000200 C=ICODE    S=.itext   G=(none)   M=Project1.dpr ACBP=A9\r\n"
    " 0003:00000000 00000100 C=DATA     S=.data    G=DGROUP   M=C:\\src\\Data|Store ACBP=A9\r\n"
    " 0004:00000000 00000100 C=BSS      S=.bss     G=DGROUP   M=Beyond   ACBP=A9\r\n"
    " 0001:00002000 00000010 C=CODE short\r\n"
    "\r\n"
    "  Address         Publics by Name\r\n"
    "\r\n"
    " 0001:00000010       ByName.ShouldNotAppear\r\n"
    "\r\n"
    "  Address         Publics by Value\r\n"
    "\r\n"
    " 0001:00000000       System.TObject.Create\r\n"
    " 0001:00001000       Unit1.TForm1.Button1Click (Unit1.pas)\r\n"
    " 0001:00001040       Unit1\r\n"
    " 0002:00000010       Project1.Start\r\n"
    " 0003:00000020       Store.Table\r\n"
    " 0005:00000000       Beyond.Nothing\r\n"
    " 0001:0000\r\n"
    "\r\n"
    "Line numbers for System(System.pas) segment .text\r\n"
    "\r\n"
    "    10 0001:00000000    11 0001:00000008    12 0001:00000010\r\n"
    "    13 0001:00000010    14 0001:00000018\r\n"
    "\r\n"
    "Line numbers for Unit1(Unit1.pas) segment .text\r\n"
    "\r\n"
    "    28 0001:00001000    29 0001:00000FFF    30 0003:00000020\r\n"
    "    31 0001:00001010    27 0001:00001008    32 0002:00000004\r\n"
    "\r\n"
    "Program entry point at 0002:00000010\r\n";

TMapFile Load(const std::string &text) {
  TMapFile m;
  m.SetBounds(0x401000, 0x404200, 0x406000, 0x406400);
  EXPECT_TRUE(m.LoadTextMap(text));
  return m;
}

void CheckSample(const TMapFile &m) {
  ASSERT_EQ(m.SegmentCount(), 4);
  EXPECT_EQ(m.FindSegmentAt(0), (TMfSegment{true, true, 0x401000, 0x1000, "System", false}));
  EXPECT_EQ(m.FindSegmentAt(1), (TMfSegment{true, true, 0x402000, 0x1345, "Unit1", false}));
  EXPECT_EQ(m.FindSegmentAt(2), (TMfSegment{true, true, 0x404000, 0x200, "Project1", false}));
  EXPECT_EQ(m.FindSegmentAt(3), (TMfSegment{true, false, 0x406000, 0x100, "Store", false}));

  std::vector<std::pair<std::string, uint32_t>> publics;
  for (const auto &p : m.Publics())
    publics.emplace_back(p.Name, p.Address);
  EXPECT_EQ(publics, (std::vector<std::pair<std::string, uint32_t>>{
                         {"TObject.Create", 0x401000},
                         {"TForm1.Button1Click", 0x402000},
                         {"initialization", 0x402040},
                         {"Start", 0x404010},
                         {"Table", 0x406020}}));
  EXPECT_TRUE(m.FindPublicAt(2).Code);
  EXPECT_FALSE(m.FindPublicAt(4).Code);

  std::vector<std::pair<int32_t, uint32_t>> lines;
  for (const auto &l : m.Lines())
    lines.emplace_back(l.Line, l.Address);
  // 13 repeats 12's address and 27 goes backwards: dropped. 29 is on its block's first text
  // line and stays; 30 names the data section and is ignored.
  EXPECT_EQ(lines, (std::vector<std::pair<int32_t, uint32_t>>{
                       {10, 0x401000}, {11, 0x401008}, {12, 0x401010}, {14, 0x401018},
                       {29, 0x401FFF}, {28, 0x402000}, {31, 0x402010}, {32, 0x404004}}));
  EXPECT_EQ(m.EntryPoint(), 0x404010u);
  EXPECT_EQ(m.FindLine(0x402012), 31);
  EXPECT_EQ(m.FindPublic(true, "Unit1", "TForm1.Button1Click", true), 0x402000u);
}

TEST(TextMap, EveryKindOfLine) {
  TMapFile m = Load(kMap);
  CheckSample(m);
}

TEST(TextMap, ThreeDigitSectionsAndBareLineFeeds) {
  std::string text = kMap;
  for (size_t at = text.find("\n 000"); at != std::string::npos; at = text.find("\n 000", at + 1))
    text.erase(at + 2, 1); // "0001:" -> "001:" at line starts
  for (size_t at = text.find('\r'); at != std::string::npos; at = text.find('\r', at))
    text.erase(at, 1);
  TMapFile m = Load(text);
  CheckSample(m);
}

TEST(TextMap, DataSectionNumberFromOverview) {
  // Data in section 2: a section-2 public is data, and the code size is not needed.
  std::string text =
      " Start         Length     Name                   Class\r\n"
      " 0001:00401000 00001000H .text                   CODE\r\n"
      " 0002:00403000 00000100H .data                   DATA\r\n"
      "  Address         Publics by Value\r\n"
      " 0001:00000004       Main\r\n"
      " 0002:00000008       Counter\r\n";
  TMapFile m;
  m.SetBounds(0x401000, 0x402000, 0x403000, 0x403100);
  m.SetCodeOnly(true);
  ASSERT_TRUE(m.LoadTextMap(text));
  ASSERT_EQ(m.PublicCount(), 1); // the data public is dropped in code-only mode
  EXPECT_EQ(m.FindPublicAt(0).Address, 0x401004u);
}

TEST(TextMap, NothingUsable) {
  TMapFile m;
  EXPECT_FALSE(m.LoadTextMap(""));
  EXPECT_FALSE(m.LoadTextMap("Detailed map of segments\r\n 0001:0000 short\r\nLine numbers for X(x)\r\n"));
  EXPECT_FALSE(m.LoadTextMap(std::string("\0\xff\x80:::\n\n", 9)));
  EXPECT_EQ(m.SegmentCount() + m.PublicCount() + m.LineCount(), 0);
}

} // namespace
