// The processes section: names and folders of processes, priority texts, the column layout with
// and without the session column, and reading the system's process-information records.
#include "ProcessInformation.h"
#include "ProcessList.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kx {
namespace {

KXProcessEntry Process(std::u16string file, std::u16string path, uint32_t id, uint32_t session, int32_t priority,
                       uint32_t gdi, uint32_t user) {
  KXProcessEntry p;
  p.fileName = std::move(file);
  p.path = std::move(path);
  p.processId = id;
  p.sessionId = session;
  p.priorityClass = priority;
  p.gdiObjects = gdi;
  p.userObjects = user;
  return p;
}

TEST(ProcessNames, PathRulesAndIdle) {
  const std::u16string system = u"C:\\Windows\\system32";
  EXPECT_EQ(NormaliseProcessPath(u"\\SystemRoot\\System32\\smss.exe", system), u"C:\\Windows\\system32\\smss.exe");
  EXPECT_EQ(NormaliseProcessPath(u"\\systemroot\\system32\\smss.exe", system), u"C:\\Windows\\system32\\smss.exe");
  EXPECT_EQ(NormaliseProcessPath(u"\\??\\C:\\Windows\\system32\\csrss.exe", system),
            u"C:\\Windows\\system32\\csrss.exe");
  // Only a leading prefix counts; other names stay as they are.
  EXPECT_EQ(NormaliseProcessPath(u"C:\\a\\??\\b.exe", system), u"C:\\a\\??\\b.exe");
  EXPECT_EQ(NormaliseProcessPath(u"\\SystemRoot\\notepad.exe", system), u"\\SystemRoot\\notepad.exe");

  KXProcessEntry entry;
  KXSystemProcess idle{0, 0, false, u""};
  const std::u16string modulePath = u"\\SystemRoot\\System32\\smss.exe";
  NameProcess(idle, &modulePath, system, entry);
  EXPECT_EQ(entry.fileName, u"Idle");
  EXPECT_EQ(entry.path, u"");

  KXSystemProcess smss{0x148, 0, true, u"smss.exe"};
  NameProcess(smss, &modulePath, system, entry);
  EXPECT_EQ(entry.fileName, u"smss.exe");
  EXPECT_EQ(entry.path, u"C:\\Windows\\system32");
  EXPECT_EQ(entry.processId, 0x148u);

  // Without a readable main module only the entry's name is known.
  KXSystemProcess service{0x2c0, 1, true, u"svchost.exe"};
  NameProcess(service, nullptr, system, entry);
  EXPECT_EQ(entry.fileName, u"svchost.exe");
  EXPECT_EQ(entry.path, u"");
  EXPECT_EQ(entry.sessionId, 1u);
  const std::u16string none;
  NameProcess(service, &none, system, entry);
  EXPECT_EQ(entry.fileName, u"svchost.exe");
  EXPECT_EQ(entry.path, u"");
}

TEST(ProcessPriority, TextsOfTheClasses) {
  EXPECT_EQ(PriorityClassText(0x20), "normal");
  EXPECT_EQ(PriorityClassText(0x40), "idle");
  EXPECT_EQ(PriorityClassText(0x80), "high");
  EXPECT_EQ(PriorityClassText(0x100), "realtime");
  EXPECT_EQ(PriorityClassText(0x4000), "below normal");
  EXPECT_EQ(PriorityClassText(0x8000), "above normal");
  EXPECT_EQ(PriorityClassText(0), "");
  EXPECT_EQ(PriorityClassText(-1), "");
  EXPECT_EQ(PriorityClassText(0x1234), "$1234");
  EXPECT_EQ(PriorityClassText(-2), "$fffffffe");
}

TEST(ProcessLines, SessionColumnOnlyWhenSomeSessionIsNotZero) {
  std::vector<KXProcessEntry> processes = {
      Process(u"Idle", u"", 0, 0, -1, 0, 0),
      Process(u"System", u"", 4, 0, 0x20, 0, 0),
      Process(u"svc.exe", u"C:\\x", 0x10, 0, 0x4000, 7, 100),
  };
  EXPECT_EQ(ProcessListText(processes), u"00 " u"Idle    " u"0 " u"0   " u"             "
                                        u"\r\n"
                                        u"04 " u"System  " u"0 " u"0   " u"normal       "
                                        u"\r\n"
                                        u"10 " u"svc.exe " u"7 " u"100 " u"below normal " u"C:\\x");

  processes.push_back(Process(u"explorer.exe", u"C:\\Windows", 0x1a2c, 1, 0x1234, 1234, 56));
  EXPECT_EQ(ProcessListText(processes), u"0000 " u"Idle         " u"0 " u"0    " u"0   " u"             "
                                        u"\r\n"
                                        u"0004 " u"System       " u"0 " u"0    " u"0   " u"normal       "
                                        u"\r\n"
                                        u"0010 " u"svc.exe      " u"0 " u"7    " u"100 " u"below normal " u"C:\\x"
                                        u"\r\n"
                                        u"1a2c " u"explorer.exe " u"1 " u"1234 " u"56  " u"$1234        " u"C:\\Windows");
  EXPECT_EQ(ProcessListText({}), u"");
}

TEST(ProcessLines, SessionWidthComesFromTheNonZeroSessionsOnly) {
  std::vector<KXProcessEntry> processes = {
      Process(u"a.exe", u"C:", 0xabcde, 12, 0x80, 1, 1),
      Process(u"b.exe", u"C:", 0x1, 0, 0x100, 22, 333),
  };
  EXPECT_EQ(ProcessListText(processes), u"abcde " u"a.exe " u"12 " u"1  " u"1   " u"high     " u"C:"
                                        u"\r\n"
                                        u"00001 " u"b.exe " u"0  " u"22 " u"333 " u"realtime " u"C:");
}

// A process-information buffer as the system fills it, with the names at its end.
class RecordBuffer {
public:
  RecordBuffer(bool pointers64, uint64_t address) : F64(pointers64), FAddress(address), FBytes(4096, 0xCD) {}

  // Appends a record of the given size (0x100 if not given); returns its offset.
  size_t Record(uint32_t id, uint32_t session, const std::u16string *name, size_t size = 0x100) {
    const size_t at = FNext;
    std::memset(FBytes.data() + at, 0, size);
    if (FLast != SIZE_MAX)
      Put<uint32_t>(FLast, uint32_t(at - FLast));
    FLast = at;
    FNext += size;
    if (F64) {
      Put<uint64_t>(at + 0x50, id);
      Put<uint32_t>(at + 0x64, session);
    } else {
      Put<uint32_t>(at + 0x44, id);
      Put<uint32_t>(at + 0x50, session);
    }
    if (name) {
      FNameEnd -= name->size() * 2;
      std::memcpy(FBytes.data() + FNameEnd, name->data(), name->size() * 2);
      SetName(at, uint16_t(name->size() * 2), FAddress + FNameEnd);
    }
    return at;
  }
  void SetName(size_t record, uint16_t bytes, uint64_t address) {
    Put<uint16_t>(record + 0x38, bytes);
    if (F64)
      Put<uint64_t>(record + 0x40, address);
    else
      Put<uint32_t>(record + 0x3c, uint32_t(address));
  }
  template <class T> void Put(size_t at, T value) { std::memcpy(FBytes.data() + at, &value, sizeof value); }

  std::vector<KXSystemProcess> Read(size_t size = SIZE_MAX) const {
    return ReadProcessInformation(FBytes.data(), std::min(size, FBytes.size()), FAddress, F64);
  }

private:
  bool F64;
  uint64_t FAddress;
  std::vector<uint8_t> FBytes;
  size_t FNext = 0, FLast = SIZE_MAX, FNameEnd = 4096;
};

void ExpectProcess(const KXSystemProcess &p, uint32_t id, uint32_t session, bool hasName, const std::u16string &name) {
  EXPECT_EQ(p.processId, id);
  EXPECT_EQ(p.sessionId, session);
  EXPECT_EQ(p.hasImageName, hasName);
  EXPECT_EQ(p.imageName, name);
}

TEST(ProcessInformation, RecordsOfA32BitAndA64BitProcess) {
  const std::u16string system = u"System", explorer = u"explorer.exe";
  for (bool pointers64 : {false, true}) {
    SCOPED_TRACE(pointers64 ? "64-bit" : "32-bit");
    RecordBuffer buffer(pointers64, pointers64 ? 0x1F0000000ull : 0x00a30000ull);
    buffer.Record(0, 0, nullptr);
    buffer.Record(4, 0, &system, 0x180);
    buffer.Record(0x1a2c, 1, &explorer);
    std::vector<KXSystemProcess> processes = buffer.Read();
    ASSERT_EQ(processes.size(), 3u);
    ExpectProcess(processes[0], 0, 0, false, u"");
    ExpectProcess(processes[1], 4, 0, true, u"System");
    ExpectProcess(processes[2], 0x1a2c, 1, true, u"explorer.exe");
  }
  EXPECT_EQ(ProcessRecordMinimumSize(false), 0x54u);
  EXPECT_EQ(ProcessRecordMinimumSize(true), 0x68u);
}

TEST(ProcessInformation, NothingIsReadOutsideTheBuffer) {
  const std::u16string name = u"a.exe";
  RecordBuffer buffer(false, 0x10000);
  buffer.Record(8, 0, &name);
  size_t second = buffer.Record(12, 0, &name);
  buffer.Record(16, 0, &name);
  // The buffer ends inside the third record: two are read.
  EXPECT_EQ(buffer.Read(0x200 + 0x53).size(), 2u);
  EXPECT_EQ(buffer.Read(0x200 + 0x54).size(), 3u);
  // A chain that points beyond the buffer ends there.
  buffer.Put<uint32_t>(second, 0x10000);
  EXPECT_EQ(buffer.Read().size(), 2u);
  // A name outside the buffer is not read; the process still has one.
  buffer.SetName(second, 10, 0x10000 + 4096 - 8);
  std::vector<KXSystemProcess> processes = buffer.Read();
  ASSERT_EQ(processes.size(), 2u);
  ExpectProcess(processes[1], 12, 0, true, u"");
  buffer.SetName(second, 10, 0x8000);
  ExpectProcess(buffer.Read()[1], 12, 0, true, u"");
  // A name of length 0 or at address 0 is no name.
  buffer.SetName(second, 0, 0x10000 + 4000);
  ExpectProcess(buffer.Read()[1], 12, 0, false, u"");
  buffer.SetName(second, 10, 0);
  ExpectProcess(buffer.Read()[1], 12, 0, false, u"");
  // Too small for one record, or no buffer at all.
  EXPECT_TRUE(buffer.Read(0x53).empty());
  EXPECT_TRUE(ReadProcessInformation(nullptr, 4096, 0, false).empty());
}

} // namespace
} // namespace kx
