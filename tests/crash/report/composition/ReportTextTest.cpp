// The text rules of the report: joining, header values, messages, sizes, durations, the operating
// system's name, registers and the stack dump.
#include <gtest/gtest.h>

#include "crash/analysis/stacktrace/CallStackText.h"
#include "crash/report/composition/ContextTexts.h"
#include "crash/report/composition/ReportText.h"
#include "crash/report/composition/SystemTexts.h"

namespace kx {
namespace {

TEST(ReportJoin, HeaderNamesArePaddedToTheLongestPlusOneAndValuesSitOnOneLine) {
  std::string text = JoinReport({{"date/time", "x"}, {"command line", "a\r\nb\rc\n\nd  e"}, {"pid", "1"}}, {});
  EXPECT_EQ(text, "date/time    : x\r\n"
                  "command line : a b c d e\r\n"
                  "pid          : 1");
}

TEST(ReportJoin, SectionLinesAreTrimmedEmptyLinesAreDotsAndTitlesGetOneColon) {
  std::string text = JoinReport({{"a", "1"}}, {{"main thread ($1a): <priority:2>", "line one   \r\n\r\nline three\r\n"},
                                              {"cpu registers", "eax = 00000000\n\rx"},
                                              {"empty", ""}});
  EXPECT_EQ(text, "a : 1\r\n"
                  "\r\n"
                  "main thread ($1a): <priority:2>\r\n"
                  "line one\r\n"
                  ".\r\n"
                  "line three\r\n"
                  ".\r\n"
                  "\r\n"
                  "cpu registers:\r\n"
                  "eax = 00000000\r\n"
                  ".\r\n"
                  "x\r\n"
                  "\r\n"
                  "empty:\r\n"
                  ".");
  // Without a header the text starts with the empty line of the first section.
  EXPECT_EQ(JoinReport({}, {{"s", "x"}}), "\r\n\r\ns:\r\nx");
}

TEST(ReportMessageRules, TrailingMarksBecomeOneDotAndLineBreaksSpaces) {
  EXPECT_EQ(ReportMessage("Access violation!!"), "Access violation.");
  EXPECT_EQ(ReportMessage("Done..!"), "Done.");
  EXPECT_EQ(ReportMessage(std::string("abc\0\0", 5)), "abc.");
  EXPECT_EQ(ReportMessage(""), ".");
  EXPECT_EQ(ReportMessage("first\r\nsecond  \n third"), "first second third.");
  EXPECT_TRUE(MessageIsClassName("EAbort.", "EAbort"));
  EXPECT_TRUE(MessageIsClassName("EAbort", "EAbort"));
  EXPECT_FALSE(MessageIsClassName("EAbort happened", "EAbort"));
  EXPECT_FALSE(MessageIsClassName("", ""));
}

TEST(SizeTexts, BytesKilobytesMegabytesGigabytes) {
  EXPECT_EQ(SizeText(0), "0 Bytes");
  EXPECT_EQ(SizeText(1023), "1023 Bytes");
  EXPECT_EQ(SizeText(1024), "1,00 KB");
  EXPECT_EQ(SizeText(1536), "1,50 KB");
  EXPECT_EQ(SizeText(1048575), "1023,99 KB");
  EXPECT_EQ(SizeText(1048576), "1,00 MB");
  EXPECT_EQ(SizeText(1048576, '.'), "1.00 MB");
  EXPECT_EQ(SizeText(1073741824), "1,00 GB");
  EXPECT_EQ(SizeText(5ull << 40), "5120,00 GB");
  EXPECT_EQ(SizeText(1034), "1,00 KB"); // cut, not rounded
  EXPECT_EQ(SizeText(1100, 0), "1,07 KB");
}

TEST(DurationTexts, TwoLargestPartsWithSingularAndPlural) {
  EXPECT_EQ(DurationText(0), "");
  EXPECT_EQ(DurationText(-5), "");
  EXPECT_EQ(DurationText(59), "59 seconds");
  EXPECT_EQ(DurationText(61), "1 minute 1 second");
  EXPECT_EQ(DurationText(312), "5 minutes 12 seconds");
  EXPECT_EQ(DurationText(3600), "1 hour");
  EXPECT_EQ(DurationText(3660), "1 hour 1 minute");
  EXPECT_EQ(DurationText(25 * 3600), "1 day 1 hour");
  EXPECT_EQ(DurationText(2 * 86400 + 3 * 3600 + 59), "2 days 3 hours");
  EXPECT_EQ(DurationText(86400 + 59), "1 day");
  EXPECT_EQ(ProgramUpTimeText(250), "250 milliseconds");
  EXPECT_EQ(ProgramUpTimeText(999), "999 milliseconds");
  EXPECT_EQ(ProgramUpTimeText(1000), "1 second");
}

TEST(OperatingSystem, NamesFromTheVersionTableWithMarksAndServicePack) {
  auto nt = [](uint32_t major, uint32_t minor, bool workstation) {
    KXOsVersion os;
    os.major = major;
    os.minor = minor;
    os.workstation = workstation;
    return OsName(os);
  };
  EXPECT_EQ(nt(3, 51, true), "Windows NT 3");
  EXPECT_EQ(nt(4, 0, true), "Windows NT 4");
  EXPECT_EQ(nt(5, 0, false), "Windows 2000");
  EXPECT_EQ(nt(5, 1, false), "Windows XP");
  EXPECT_EQ(nt(5, 2, true), "Windows XP"); // XP x64 is 5.2 workstation
  EXPECT_EQ(nt(5, 2, false), "Windows 2003");
  EXPECT_EQ(nt(6, 0, true), "Windows Vista");
  EXPECT_EQ(nt(6, 0, false), "Windows 2008");
  EXPECT_EQ(nt(6, 1, true), "Windows 7");
  EXPECT_EQ(nt(6, 1, false), "Windows 2008 R2");
  EXPECT_EQ(nt(6, 4, true), "Windows NT New"); // versions the table does not know yet
  EXPECT_EQ(nt(10, 1, true), "Windows NT New");
  EXPECT_EQ(nt(11, 0, false), "Windows NT New");
  auto w9x = [](uint32_t minor, uint32_t build) {
    KXOsVersion os;
    os.ntFamily = false;
    os.major = 4;
    os.minor = minor;
    os.build = build;
    return OsName(os);
  };
  EXPECT_EQ(w9x(0, 950), "Windows 95");
  EXPECT_EQ(w9x(0, 1111), "Windows 95 OSR-2");
  EXPECT_EQ(w9x(10, 1998), "Windows 98");
  EXPECT_EQ(w9x(10, 2222), "Windows 98 SE");
  EXPECT_EQ(w9x(10, 3000), "Windows ME");
  EXPECT_EQ(w9x(90, 3000), "Windows ME");
  EXPECT_EQ(w9x(91, 3000), "Windows 9x New");

  KXOsVersion xp;
  xp.major = 5;
  xp.minor = 1;
  xp.build = 2600;
  xp.mediaCenter = xp.tabletPc = true;
  xp.servicePack = "Service Pack 3";
  EXPECT_EQ(OperatingSystemText(xp), "Windows XP Tablet PC Media Center Service Pack 3 build 2600");
  KXOsVersion seven;
  seven.major = 6;
  seven.minor = 1;
  seven.build = 7601;
  seven.mediaCenter = seven.x64 = true; // no Media Center mark from Vista on
  EXPECT_EQ(OperatingSystemText(seven), "Windows 7 x64 build 7601");
}

TEST(OperatingSystem, WindowsEightAndLaterByVersionAndBuild) {
  auto nt = [](uint32_t major, uint32_t minor, uint32_t build, bool workstation) {
    KXOsVersion os;
    os.major = major;
    os.minor = minor;
    os.build = build;
    os.workstation = workstation;
    return OsName(os);
  };
  EXPECT_EQ(nt(6, 2, 9200, true), "Windows 8");
  EXPECT_EQ(nt(6, 2, 9200, false), "Windows 2012");
  EXPECT_EQ(nt(6, 3, 9600, true), "Windows 8.1");
  EXPECT_EQ(nt(6, 3, 9600, false), "Windows 2012 R2");
  // Workstations: 10 up to build 21999, 11 from 22000 on.
  EXPECT_EQ(nt(10, 0, 10240, true), "Windows 10");
  EXPECT_EQ(nt(10, 0, 19045, true), "Windows 10");
  EXPECT_EQ(nt(10, 0, 21999, true), "Windows 10");
  EXPECT_EQ(nt(10, 0, 22000, true), "Windows 11");
  EXPECT_EQ(nt(10, 0, 26100, true), "Windows 11");
  // Servers: 2016 below 17763, 2019 below 20348, 2022 below 26100, then 2025.
  EXPECT_EQ(nt(10, 0, 14393, false), "Windows 2016");
  EXPECT_EQ(nt(10, 0, 17762, false), "Windows 2016");
  EXPECT_EQ(nt(10, 0, 17763, false), "Windows 2019");
  EXPECT_EQ(nt(10, 0, 20347, false), "Windows 2019");
  EXPECT_EQ(nt(10, 0, 20348, false), "Windows 2022");
  EXPECT_EQ(nt(10, 0, 26099, false), "Windows 2022");
  EXPECT_EQ(nt(10, 0, 26100, false), "Windows 2025");

  // The whole field, as a system that is not hidden behind an older version reports it.
  KXOsVersion ten;
  ten.major = 10;
  ten.build = 19045;
  ten.x64 = true;
  EXPECT_EQ(OperatingSystemText(ten), "Windows 10 x64 build 19045");
  KXOsVersion server;
  server.major = 6;
  server.minor = 3;
  server.build = 9600;
  server.workstation = false;
  server.r2 = true; // SM_SERVERR2 on a 2012 R2: the name has its R2 already
  EXPECT_EQ(OperatingSystemText(server), "Windows 2012 R2 build 9600");
  // Tablet support is a running service from Windows 8 on, not an edition: no mark.
  KXOsVersion tablet = ten;
  tablet.build = 22631;
  tablet.tabletPc = true;
  EXPECT_EQ(OperatingSystemText(tablet), "Windows 11 x64 build 22631");
  KXOsVersion eight = tablet;
  eight.major = 6;
  eight.minor = 2;
  eight.build = 9200;
  EXPECT_EQ(OperatingSystemText(eight), "Windows 8 x64 build 9200");
  eight.minor = 1;
  eight.build = 7601;
  eight.servicePack = "Service Pack 1";
  EXPECT_EQ(OperatingSystemText(eight), "Windows 7 Tablet PC x64 Service Pack 1 build 7601");
}

TEST(HeaderValues, DatesMemoryDisplayProcessorAndVersions) {
  EXPECT_EQ(ReportDateTime({2013, 6, 4, 9, 5, 7, 85}), "2013-06-04, 09:05:07, 85ms");
  EXPECT_EQ(ReportDateTime({2013, 6, 4, 9, 5, 7, 0}), "2013-06-04, 09:05:07, 0ms");
  EXPECT_EQ(FileDateTime({2013, 6, 4, 9, 5, 7, 85}), "2013-06-04 09:05");
  EXPECT_EQ(PhysicalMemoryText(524287, 524288), "0/1 MB (free/total)");
  EXPECT_EQ(PhysicalMemoryText(1536ull << 20, 4096ull << 20), "1536/4096 MB (free/total)");
  EXPECT_EQ(SystemResourcesText(5, 80), "05/80 (gdi/user)");
  EXPECT_EQ(DisplayModeText(1920, 1080, 8, 4), "1920x1080, 32 bit");
  EXPECT_EQ(ProcessorText(1, "  Intel(R)  Pentium   4 "), "Intel(R) Pentium 4");
  EXPECT_EQ(ProcessorText(4, "AMD"), "4x AMD");
  EXPECT_EQ(ProcessorText(4, "   "), "");
  EXPECT_EQ(FileVersionText(KXFileVersion{{1, 0, 0, 12}, "9.9"}), "1.0.0.12");
  EXPECT_EQ(FileVersionText(KXFileVersion{{0, 0, 0, 0}, " 2.1 beta "}), "2.1 beta");
  EXPECT_EQ(DriveSpaceText('c', 1536, ','), "(C:) 1,50 KB");
  EXPECT_FALSE(CommandLineHasParameters("\"C:\\Program Files\\Tidewell.exe\"  "));
  EXPECT_FALSE(CommandLineHasParameters("Tidewell.exe"));
  EXPECT_FALSE(CommandLineHasParameters("\"C:\\unterminated quote"));
  EXPECT_TRUE(CommandLineHasParameters("\"C:\\Program Files\\Tidewell.exe\" /sim"));
  EXPECT_TRUE(CommandLineHasParameters("Tidewell.exe x"));
  EXPECT_TRUE(CommandLineHasParameters("\"a b\"x y"));
}

TEST(ThreadTexts, MarksCreatorLineInternalErrorsAndChecksumField) {
  EXPECT_EQ(ThreadSectionTitle("thread $d34", false, 2), "thread $d34: <priority:2>");
  EXPECT_EQ(ThreadSectionTitle("thread $d34", true, -1), "thread $d34: <suspended> <priority:-1>");
  EXPECT_EQ(ThreadSectionTitle("main thread ($1)", false, 0), "main thread ($1):");

  EXPECT_EQ(InsertCreatorLine("00401000 a\r\n00402000 b\r\n00403000 creator", "main thread ($1)"),
            "00401000 a\r\n00402000 b\r\n>> created by main thread ($1) at:\r\n00403000 creator");
  EXPECT_EQ(InsertCreatorLine("00403000 creator", "x"), ">> created by x at:\r\n00403000 creator");
  EXPECT_EQ(InsertCreatorLine(">> internal error in x", "x"), ">> internal error in x");
  EXPECT_EQ(InsertCreatorLine("", "x"), "");

  EXPECT_EQ(InternalErrorText("GetStackDump"), ">> internal error in GetStackDump");
  EXPECT_EQ(InternalErrorText("plugin", "00401000 ???"), ">> internal error in plugin:\r\n00401000 ???");
  EXPECT_EQ(CallstackCrcText({0x5d8b02ac, 0x0e41f1c9, 0x0e41f1c9}), "$5d8b02ac, $0e41f1c9, $0e41f1c9");
  // The four bytes of a value go through the table least significant first.
  EXPECT_EQ(CrcUpdateValue(0x1234, 0x04030201), tidewell::stacktrace::CrcUpdate(0x1234, std::string_view("\x01\x02\x03\x04", 4)));
  EXPECT_NE(CrcUpdateValue(0, 1), CrcUpdateValue(0, 0x01000000));
}

TEST(ContextSections, RegistersAndStackDumpLines) {
  KXRegisterContext c;
  c.rax = 0x12f5a0;
  c.rbp = 0xdeadbeef;
  c.rip = 0x401000;
  EXPECT_EQ(CpuRegistersText(c), "eax = 0012f5a0\r\nebx = 00000000\r\necx = 00000000\r\nedx = 00000000\r\n"
                                 "esi = 00000000\r\nedi = 00000000\r\neip = 00401000\r\nesp = 00000000\r\n"
                                 "ebp = deadbeef");

  std::vector<uint8_t> stack = {0xa8, 0xf5, 0x12, 0x00, 0, 0, 0, 0, 0x48, 0xe3, 0x45, 0, 0, 0, 0, 0,
                                ' ',  'A',  '~',  0x7f, 9};
  auto read = [&](uint64_t a, uint8_t *b, size_t n) {
    if (a < 0x12f5a0 || a + n > 0x12f5a0 + stack.size())
      return false;
    std::copy_n(stack.begin() + ptrdiff_t(a - 0x12f5a0), n, b);
    return true;
  };
  EXPECT_EQ(StackDumpText(0x12f5a0, 0x12f5a0 + stack.size(), read),
            "0012f5a0  a8 f5 12 00 00 00 00 00 - 48 e3 45 00 00 00 00 00  ........H.E.....\r\n"
            "0012f5b0  20 41 7e 7f 09                                     .A~..");
  // The end of the region stops the dump even where memory could be read.
  EXPECT_EQ(StackDumpText(0x12f5a0, 0x12f5a9, read),
            "0012f5a0  a8 f5 12 00 00 00 00 00 - 48                       ........H");
  // No known end: the reads decide; never more than 20 lines.
  auto zeros = [](uint64_t, uint8_t *b, size_t n) {
    std::fill_n(b, n, uint8_t(0));
    return true;
  };
  std::string big = StackDumpText(0x1000, 0, zeros);
  EXPECT_EQ(std::count(big.begin(), big.end(), '\n'), 19);
  EXPECT_EQ(big.substr(big.rfind('\n') + 1, 8), "00001130");
  EXPECT_EQ(StackDumpText(0x1000, 0x2000, [](uint64_t, uint8_t *, size_t) { return false; }), "");
  // The top of the address space ends the dump without wrapping around.
  std::string top = StackDumpText(UINT64_MAX - 31, 0, zeros);
  EXPECT_EQ(std::count(top.begin(), top.end(), '\n'), 1);
}

TEST(ContextSections, X64RegistersAndStackDumpInEightByteWords) {
  KXRegisterContext c;
  c.x64 = true;
  c.rax = 0x00007ff6a1b2c3d4;
  c.r15 = 0xfedcba9876543210;
  c.rip = 0x0000000140001234;
  c.rsp = 0x000000000022fd40;
  c.eflags = 0x246;
  c.cs = 0x33, c.ds = 0x2b, c.es = 0x2b, c.fs = 0x53, c.gs = 0x2b, c.ss = 0x2b;
  const std::string text = CpuRegistersText(c);
  EXPECT_EQ(text.substr(0, 48), "rax = 00007ff6a1b2c3d4\r\nrbx = 0000000000000000\r\n");
  // The full width of every register: the upper halves are not cut.
  EXPECT_NE(text.find("\r\nr15 = fedcba9876543210\r\nrip = 0000000140001234\r\nrsp = 000000000022fd40\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\r\nr8 = 0000000000000000\r\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.find("\r\neflags")),
            "\r\neflags = 00000246\r\ncs = 0033  ds = 002b  es = 002b  fs = 0053  gs = 002b  ss = 002b");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 18);

  std::vector<uint8_t> stack = {0x34, 0x12, 0x00, 0x40, 0x01, 0, 0, 0, 'H', 'i', 0, 0, 0, 0, 0, 0x80,
                                1,    2,    3,    4,    5,    6, 7, 8, 9};
  const uint64_t base = 0x000000000022fd40;
  auto read = [&](uint64_t a, uint8_t *b, size_t n) {
    if (a < base || a + n > base + stack.size())
      return false;
    std::copy_n(stack.begin() + ptrdiff_t(a - base), n, b);
    return true;
  };
  // Words are read little-endian; a line cut short shows only the whole words it has.
  EXPECT_EQ(StackDumpText(base, 0, read, true),
            "000000000022fd40  0000000140001234 - 8000000000006948  4..@....Hi......\r\n"
            "000000000022fd50  0807060504030201                     .........");
  EXPECT_EQ(StackDumpText(base, base + 4, read, true), "000000000022fd40" + std::string(2 + 16 + 3 + 16 + 2, ' ') + "4..@");
}

} // namespace
} // namespace kx
