// The processes section: names and folders, priority texts, the columns with and without the
// session column, and the system's process-information records.
#include "crash/report/inventory/ProcessInformation.h"
#include "crash/report/inventory/ProcessList.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kx {
namespace {

TEST(ProcessNames, PathRulesAndIdle) {
  const std::u16string system = u"C:\\Windows\\system32";
  EXPECT_EQ(NormaliseProcessPath(u"\\systemroot\\System32\\smss.exe", system), u"C:\\Windows\\system32\\smss.exe");
  EXPECT_EQ(NormaliseProcessPath(u"\\??\\C:\\Windows\\csrss.exe", system), u"C:\\Windows\\csrss.exe");
  EXPECT_EQ(NormaliseProcessPath(u"C:\\a\\??\\b.exe", system), u"C:\\a\\??\\b.exe");

  KXProcessEntry e;
  const std::u16string smss = u"\\SystemRoot\\System32\\smss.exe";
  NameProcess({0, 0, false, u""}, &smss, system, e);
  EXPECT_EQ(e.fileName + u"|" + e.path, u"Idle|");
  NameProcess({0x148, 0, true, u"smss.exe"}, &smss, system, e);
  EXPECT_EQ(e.fileName + u"|" + e.path, u"smss.exe|C:\\Windows\\system32");
  NameProcess({0x2c0, 1, true, u"svchost.exe"}, nullptr, system, e); // main module not readable
  EXPECT_EQ(e.fileName + u"|" + e.path, u"svchost.exe|");
  EXPECT_EQ(e.processId, 0x2c0u);
  EXPECT_EQ(e.sessionId, 1u);
}

TEST(ProcessPriority, TextsOfTheClasses) {
  const std::pair<int32_t, const char *> classes[] = {
      {0x20, "normal"},        {0x40, "idle"},         {0x80, "high"}, {0x100, "realtime"}, {0x4000, "below normal"},
      {0x8000, "above normal"}, {0, ""},              {-1, ""},      {0x1234, "$1234"}};
  for (const auto &[value, text] : classes)
    EXPECT_EQ(PriorityClassText(value), text) << value;
}

TEST(ProcessLines, SessionColumnOnlyWhenSomeSessionIsNotZero) {
  std::vector<KXProcessEntry> processes = {{u"Idle", u"", 0, 0, -1, 0, 0},
                                           {u"svc.exe", u"C:\\x", 0x10, 0, 0x4000, 7, 100}};
  EXPECT_EQ(ProcessListText(processes), u"00 " u"Idle    " u"0 " u"0   " u"             "
                                        u"\r\n"
                                        u"10 " u"svc.exe " u"7 " u"100 " u"below normal " u"C:\\x");
  processes.push_back({u"explorer.exe", u"C:\\Windows", 0x1a2c, 12, 0x20, 1234, 56});
  EXPECT_EQ(ProcessListText(processes), u"0000 " u"Idle         " u"0  " u"0    " u"0   " u"             "
                                        u"\r\n"
                                        u"0010 " u"svc.exe      " u"0  " u"7    " u"100 " u"below normal " u"C:\\x"
                                        u"\r\n"
                                        u"1a2c " u"explorer.exe " u"12 " u"1234 " u"56  " u"normal       " u"C:\\Windows");
}

// A process-information buffer with records of 0x100 bytes and the names at its end.
struct RecordBuffer {
  bool wide;
  uint64_t address;
  std::vector<uint8_t> bytes = std::vector<uint8_t>(4096, 0xCD);
  size_t next = 0, names = 4096;

  template <class T> void Put(size_t at, T value) { std::memcpy(bytes.data() + at, &value, sizeof value); }
  void SetName(size_t record, uint16_t size, uint64_t at) {
    Put<uint16_t>(record + 0x38, size);
    wide ? Put<uint64_t>(record + 0x40, at) : Put<uint32_t>(record + 0x3c, uint32_t(at));
  }
  size_t Record(uint32_t id, uint32_t session, std::u16string name) {
    const size_t at = next;
    std::memset(bytes.data() + at, 0, 0x100);
    if (at > 0)
      Put<uint32_t>(at - 0x100, 0x100);
    next += 0x100;
    wide ? Put<uint64_t>(at + 0x50, id) : Put<uint32_t>(at + 0x44, id);
    Put<uint32_t>(at + (wide ? 0x64 : 0x50), session);
    names -= name.size() * 2;
    std::memcpy(bytes.data() + names, name.data(), name.size() * 2);
    SetName(at, uint16_t(name.size() * 2), name.empty() ? 0 : address + names);
    return at;
  }
  std::vector<KXSystemProcess> Read(size_t size = 4096) const {
    return ReadProcessInformation(bytes.data(), size, address, wide);
  }
};

TEST(ProcessInformation, RecordsOfBothLayoutsAndNothingReadOutsideTheBuffer) {
  for (bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "64-bit" : "32-bit");
    RecordBuffer buffer{wide, wide ? 0x1F0000000ull : 0x00a30000ull};
    buffer.Record(0, 0, u"");
    const size_t system = buffer.Record(4, 0, u"System");
    buffer.Record(0x1a2c, 1, u"explorer.exe");
    std::vector<KXSystemProcess> p = buffer.Read();
    ASSERT_EQ(p.size(), 3u);
    EXPECT_FALSE(p[0].hasImageName);
    EXPECT_EQ(p[1].imageName, u"System");
    EXPECT_EQ(p[2].processId, 0x1a2cu);
    EXPECT_EQ(p[2].sessionId, 1u);
    EXPECT_EQ(p[2].imageName, u"explorer.exe");
    // A buffer that ends inside a record, or a chain that points beyond the buffer, ends the list.
    EXPECT_EQ(buffer.Read(0x200 + ProcessRecordMinimumSize(wide) - 1).size(), 2u);
    buffer.Put<uint32_t>(system, 0x10000);
    EXPECT_EQ(buffer.Read().size(), 2u);
    // A name outside the buffer is not read.
    buffer.SetName(system, 10, buffer.address + 4096 - 8);
    EXPECT_TRUE(buffer.Read()[1].hasImageName);
    EXPECT_EQ(buffer.Read()[1].imageName, u"");
  }
  EXPECT_TRUE(ReadProcessInformation(nullptr, 4096, 0, false).empty());
}

} // namespace
} // namespace kx
