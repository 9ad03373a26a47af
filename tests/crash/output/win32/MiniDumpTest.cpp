// The minidump of the test process: a "MDMP" file whose exception stream names the given thread
// and exception; failures give a reason and leave no file.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "crash/output/win32/KXMiniDump.h"
#include "tests/crash/output/win32/Win32TestFolder.h"

namespace kx::test {
namespace {

constexpr uint32_t kExceptionStream = 6;

uint32_t U32(const std::string &b, size_t at) {
  uint32_t v = 0;
  if (at + 4 <= b.size())
    std::memcpy(&v, b.data() + at, 4);
  return v;
}

// The offset of the stream of the given type, or 0.
size_t FindStream(const std::string &dump, uint32_t type) {
  uint32_t count = U32(dump, 8), directory = U32(dump, 12);
  for (uint32_t i = 0; i < count; ++i) {
    size_t entry = size_t(directory) + i * 12;
    if (entry + 12 > dump.size())
      return 0;
    if (U32(dump, entry) == type)
      return U32(dump, entry + 8);
  }
  return 0;
}

TEST(MiniDump, OfTheOwnProcessCarriesTheExceptionOfTheGivenThread) {
  Win32TestFolder folder(L"kxdump-");
  ASSERT_TRUE(folder.Created);
  CONTEXT context{};
  context.ContextFlags = CONTEXT_FULL;
  RtlCaptureContext(&context);
  EXCEPTION_RECORD record{};
  record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
  record.ExceptionAddress = reinterpret_cast<void *>(uintptr_t(0x401234));
  record.NumberParameters = 2;
  record.ExceptionInformation[0] = 0;
  record.ExceptionInformation[1] = 0x10;
  std::u16string path = folder.U16(L"Tidewell.dmp");

  KXMiniDumpResult result = WriteMiniDump(GetCurrentProcess(), GetCurrentThreadId(), &record, &context, path);
  ASSERT_TRUE(result.written) << result.error;
  EXPECT_EQ(result.error, "");
  std::string dump = Win32TestFolder::Read(path);
  ASSERT_GT(dump.size(), 32u);
  EXPECT_EQ(dump.substr(0, 4), "MDMP");
  size_t stream = FindStream(dump, kExceptionStream);
  ASSERT_NE(stream, 0u) << "no exception stream";
  EXPECT_EQ(U32(dump, stream), GetCurrentThreadId());
  EXPECT_EQ(U32(dump, stream + 8), EXCEPTION_ACCESS_VIOLATION);
  std::printf("minidump: %ls (%u bytes)\n", (folder.Path + L"Tidewell.dmp").c_str(), unsigned(dump.size()));
}

TEST(MiniDump, WithoutAnExceptionAndWhenTheFileCannotBeMade) {
  Win32TestFolder folder(L"kxdump-");
  ASSERT_TRUE(folder.Created);
  std::u16string path = folder.U16(L"plain.dmp");
  KXMiniDumpResult plain = WriteMiniDump(GetCurrentProcess(), GetCurrentThreadId(), nullptr, nullptr, path);
  ASSERT_TRUE(plain.written) << plain.error;
  std::string dump = Win32TestFolder::Read(path);
  EXPECT_EQ(dump.substr(0, 4), "MDMP");
  EXPECT_EQ(FindStream(dump, kExceptionStream), 0u);

  std::u16string nowhere = folder.U16(L"missing folder\\x.dmp");
  KXMiniDumpResult failed = WriteMiniDump(GetCurrentProcess(), GetCurrentThreadId(), nullptr, nullptr, nowhere);
  EXPECT_FALSE(failed.written);
  EXPECT_NE(failed.error.find("cannot be created"), std::string::npos) << failed.error;
}

TEST(MiniDump, ItsFileIsNamedAfterTheExecutableInTheTemporaryFolder) {
  wchar_t exe[MAX_PATH];
  std::wstring name(exe, GetModuleFileNameW(nullptr, exe, MAX_PATH));
  name = name.substr(name.find_last_of(L'\\') + 1);
  name = name.substr(0, name.find_last_of(L'.'));
  std::wstring expected = L"C:\\temp\\app.Kestrelix\\" + name + L".dmp";
  EXPECT_EQ(MiniDumpPath(L"C:\\temp\\app.Kestrelix\\"), std::u16string(expected.begin(), expected.end()));
  EXPECT_EQ(MiniDumpPath(L""), u"");
}

} // namespace
} // namespace kx::test
