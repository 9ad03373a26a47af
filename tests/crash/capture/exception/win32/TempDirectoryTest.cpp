// The per-process temporary folder on the real platform: made new for this process with an
// access list for its user only, emptied and removed on request, and at a start only the folders
// of ended processes of this exe are cleaned up.
#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <fstream>
#include <string>

#include "crash/capture/exception/KXTempFolderName.h"
#include "crash/capture/exception/win32/KXTempDirectory.h"

namespace kx {
namespace {

// No process has these ids: Windows hands out multiples of four well below them.
constexpr uint32_t kEndedProcess = 4294967292u;
constexpr uint32_t kAnotherEndedProcess = 4294967288u;

std::wstring Wide(const std::u16string &s) { return std::wstring(s.begin(), s.end()); }

std::wstring TempPath() {
  wchar_t temp[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  std::wstring dir(temp, n);
  if (!dir.empty() && dir.back() != L'\\')
    dir += L'\\';
  return dir;
}

std::wstring ExeName() {
  wchar_t exe[MAX_PATH];
  std::wstring name(exe, GetModuleFileNameW(nullptr, exe, MAX_PATH));
  name.erase(0, name.find_last_of(L'\\') + 1);
  return name.substr(0, name.find_last_of(L'.'));
}

bool Exists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void PutFile(const std::wstring &path) {
  std::ofstream(std::string(path.begin(), path.end())) << "data";
  ASSERT_TRUE(Exists(path)) << std::string(path.begin(), path.end());
}

std::u16string ExeName16() {
  const std::wstring exe = ExeName();
  return std::u16string(exe.begin(), exe.end());
}

std::wstring StaleFolder(uint32_t process, uint32_t random) {
  std::wstring folder = TempPath() + Wide(TempFolderName(ExeName16(), process, random));
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

TEST(TempDirectory, EachProcessMakesAFolderOfItsOwn) {
  const std::wstring dir = KXTempDirectory();
  ASSERT_FALSE(dir.empty());
  ASSERT_EQ(dir.rfind(TempPath(), 0), 0u);
  ASSERT_EQ(dir.back(), L'\\');
  std::wstring name = dir.substr(TempPath().size(), dir.size() - TempPath().size() - 1);
  EXPECT_EQ(TempFolderProcess(std::u16string(name.begin(), name.end()), ExeName16()), GetCurrentProcessId());
  EXPECT_EQ(KXTempDirectory(), dir) << "one folder for the life of the process";

  PutFile(dir + L"screenShot.png");
  CreateDirectoryW((dir + L"sub").c_str(), nullptr);
  EmptyKXTempDirectory();
  EXPECT_FALSE(Exists(dir + L"screenShot.png"));
  EXPECT_TRUE(Exists(dir + L"sub")) << "only files are deleted";
  RemoveDirectoryW((dir + L"sub").c_str());

  PutFile(dir + L"report.txt");
  RemoveKXTempDirectory();
  EXPECT_FALSE(Exists(dir));
  const std::wstring next = KXTempDirectory();
  ASSERT_FALSE(next.empty());
  EXPECT_NE(next, dir) << "a removed folder is made again under a new name";
  RemoveKXTempDirectory();
  EXPECT_FALSE(Exists(next));
}

// Whether this file system keeps the security descriptor a folder is made with: Wine keeps it
// in an extended attribute, which not every file system (or file system share) offers; without
// one it makes up a descriptor from the Unix permissions.
bool DescriptorsAreKept() {
  const std::wstring probe = TempPath() + L"kx_descriptor_probe";
  RemoveDirectoryW(probe.c_str());
  PSECURITY_DESCRIPTOR wanted = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;WD)", SDDL_REVISION_1, &wanted, nullptr))
    return false;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, wanted, FALSE};
  const bool made = CreateDirectoryW(probe.c_str(), &attributes);
  LocalFree(wanted);
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  bool kept = made && GetNamedSecurityInfoW(probe.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                            &dacl, nullptr, &descriptor) == ERROR_SUCCESS &&
              dacl && dacl->AceCount == 1;
  LocalFree(descriptor);
  RemoveDirectoryW(probe.c_str());
  return kept;
}

TEST(TempDirectory, OnlyTheProcesssUserMayEnterTheFolder) {
  if (!DescriptorsAreKept())
    GTEST_SKIP() << "this file system does not keep security descriptors (Wine on a file system without "
                    "extended attributes): a folder made with one access entry reads back with others";
  const std::wstring dir = KXTempDirectory();
  ASSERT_FALSE(dir.empty());
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoW(dir.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                  &owner, nullptr, &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing inherited from the shared temporary folder";
  ASSERT_NE(dacl, nullptr);
  ASSERT_EQ(dacl->AceCount, 1u);
  ACCESS_ALLOWED_ACE *ace = nullptr;
  ASSERT_TRUE(GetAce(dacl, 0, reinterpret_cast<void **>(&ace)));
  EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_TRUE(EqualSid(reinterpret_cast<PSID>(&ace->SidStart), owner)) << "the one entry is the owner's";
  LocalFree(descriptor);

  RemoveKXTempDirectory();
}

TEST(TempDirectory, AStartCleansUpOnlyFoldersOfEndedProcessesOfThisExe) {
  const std::wstring ended = StaleFolder(kEndedProcess, 0x11111111u);
  PutFile(ended + L"\\app.dmp");
  const std::wstring endedWithFolder = StaleFolder(kAnotherEndedProcess, 0x22222222u);
  PutFile(endedWithFolder + L"\\screenShot.png");
  CreateDirectoryW((endedWithFolder + L"\\kept").c_str(), nullptr);
  const std::wstring running = StaleFolder(GetCurrentProcessId(), 0x33333333u);
  PutFile(running + L"\\app.dmp");
  const std::wstring shared = TempPath() + ExeName() + L".Kestrelix"; // the old fixed name
  CreateDirectoryW(shared.c_str(), nullptr);
  PutFile(shared + L"\\report.txt");

  RemoveStaleKXTempDirectories();

  EXPECT_FALSE(Exists(ended)) << "an ended process's folder goes with its files";
  EXPECT_FALSE(Exists(endedWithFolder + L"\\screenShot.png"));
  EXPECT_TRUE(Exists(endedWithFolder + L"\\kept")) << "nothing is descended into";
  EXPECT_TRUE(Exists(running + L"\\app.dmp")) << "a running process's folder is left alone";
  EXPECT_TRUE(Exists(shared + L"\\report.txt")) << "a folder of another name is left alone";

  RemoveDirectoryW((endedWithFolder + L"\\kept").c_str());
  RemoveDirectoryW(endedWithFolder.c_str());
  DeleteFileW((running + L"\\app.dmp").c_str());
  RemoveDirectoryW(running.c_str());
  DeleteFileW((shared + L"\\report.txt").c_str());
  RemoveDirectoryW(shared.c_str());
}

TEST(TempDirectory, ALinkNamedLikeAStaleFolderIsNotFollowed) {
  const std::wstring victim = TempPath() + L"kx_temp_victim";
  CreateDirectoryW(victim.c_str(), nullptr);
  PutFile(victim + L"\\thesis.docx");
  const std::wstring link = TempPath() + Wide(TempFolderName(ExeName16(), kEndedProcess, 0x44444444u));
  if (!CreateSymbolicLinkW(link.c_str(), victim.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY)) {
    DeleteFileW((victim + L"\\thesis.docx").c_str());
    RemoveDirectoryW(victim.c_str());
    GTEST_SKIP() << "this system makes no directory links (error " << GetLastError() << ")";
  }
  RemoveStaleKXTempDirectories();
  EXPECT_TRUE(Exists(victim + L"\\thesis.docx")) << "the cleanup went through a link";
  RemoveDirectoryW(link.c_str());
  DeleteFileW((victim + L"\\thesis.docx").c_str());
  RemoveDirectoryW(victim.c_str());
}

} // namespace
} // namespace kx
