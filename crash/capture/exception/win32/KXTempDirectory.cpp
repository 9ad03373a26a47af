#include "crash/capture/exception/win32/KXTempDirectory.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <vector>

#include "crash/capture/exception/KXTempFolderName.h"

namespace kx {

namespace {

// Attempts at a fresh name before giving up: a name is taken only when someone made a folder of
// that name, which an unpredictable name makes rare.
constexpr int kNameAttempts = 16;

std::mutex gLock;
std::wstring gFolder; // this process's folder with a trailing backslash; empty until made

std::wstring FromU16(const std::u16string &text) { return std::wstring(text.begin(), text.end()); }
std::u16string ToU16(const std::wstring &text) { return std::u16string(text.begin(), text.end()); }

// The system's temporary path with a trailing backslash; empty when unknown.
std::wstring SystemTempPath() {
  wchar_t temp[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH)
    return {};
  std::wstring dir(temp, n);
  if (dir.back() != L'\\')
    dir += L'\\';
  return dir;
}

// The exe's file name without folder and extension.
std::wstring ExeName() {
  wchar_t exe[MAX_PATH];
  DWORD len = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring name(exe, len < MAX_PATH ? len : 0);
  size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos)
    name.erase(0, slash + 1);
  size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos)
    name.erase(dot);
  return name;
}

// The SID of the user this process runs as (a copy in the token's buffer).
std::vector<BYTE> ProcessUser() {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    return {};
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
    buffer.clear();
  CloseHandle(token);
  return buffer;
}

PSID UserSid(std::vector<BYTE> &tokenUser) {
  return tokenUser.empty() ? nullptr : reinterpret_cast<TOKEN_USER *>(tokenUser.data())->User.Sid;
}

struct LocalFreer {
  void operator()(void *p) const { LocalFree(p); }
};

// A protected access list with one entry: full access for the process's user, inherited by
// everything made inside. Null when it cannot be built (the folder is then not made).
std::unique_ptr<void, LocalFreer> OwnerOnlyDescriptor() {
  std::vector<BYTE> tokenUser = ProcessUser();
  PSID user = UserSid(tokenUser);
  LPWSTR userText = nullptr;
  if (!user || !ConvertSidToStringSidW(user, &userText))
    return nullptr;
  std::wstring sddl = L"O:" + std::wstring(userText) + L"D:P(A;OICI;FA;;;" + userText + L")";
  LocalFree(userText);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    return nullptr;
  return std::unique_ptr<void, LocalFreer>(descriptor);
}

uint32_t RandomWord() {
  try {
    std::random_device device;
    return device();
  } catch (...) { // no random device: the clock still makes each attempt's name differ
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<uint32_t>(counter.QuadPart * 2654435761u);
  }
}

std::wstring MakeFolder() {
  std::wstring temp = SystemTempPath();
  std::wstring exe = ExeName();
  auto descriptor = OwnerOnlyDescriptor();
  if (temp.empty() || exe.empty() || !descriptor)
    return {};
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::wstring folder = temp + FromU16(TempFolderName(ToU16(exe), GetCurrentProcessId(), RandomWord()));
    if (CreateDirectoryW(folder.c_str(), &attributes))
      return folder + L'\\';
    if (GetLastError() != ERROR_ALREADY_EXISTS)
      return {};
  }
  return {};
}

// Deletes the plain files directly inside folder (given with a trailing backslash).
void DeleteFilesIn(const std::wstring &folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return;
  do {
    if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
      DeleteFileW((folder + found.cFileName).c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

// Whether a process of that id runs. A process this one may not look at counts as running.
bool ProcessRuns(uint32_t id) {
  if (id == GetCurrentProcessId())
    return true;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (!process)
    return GetLastError() != ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  bool runs = !GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
  CloseHandle(process);
  return runs;
}

bool OwnedBy(const std::wstring &path, PSID user) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                            nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  bool same = owner && EqualSid(owner, user);
  LocalFree(descriptor);
  return same;
}

} // namespace

std::wstring KXTempDirectory() {
  std::lock_guard guard(gLock);
  if (gFolder.empty())
    gFolder = MakeFolder();
  return gFolder;
}

void EmptyKXTempDirectory() {
  std::lock_guard guard(gLock);
  if (!gFolder.empty())
    DeleteFilesIn(gFolder);
}

void RemoveKXTempDirectory() {
  std::lock_guard guard(gLock);
  if (gFolder.empty())
    return;
  DeleteFilesIn(gFolder);
  RemoveDirectoryW(gFolder.c_str());
  gFolder.clear();
}

void RemoveStaleKXTempDirectories() {
  std::wstring temp = SystemTempPath();
  std::wstring exe = ExeName();
  std::vector<BYTE> tokenUser = ProcessUser();
  PSID user = UserSid(tokenUser);
  if (temp.empty() || exe.empty() || !user)
    return;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((temp + FromU16(TempFolderPattern(ToU16(exe)))).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return;
  do {
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != FILE_ATTRIBUTE_DIRECTORY)
      continue;
    std::optional<uint32_t> process = TempFolderProcess(ToU16(found.cFileName), ToU16(exe));
    std::wstring folder = temp + found.cFileName;
    if (!process || ProcessRuns(*process) || !OwnedBy(folder, user))
      continue;
    DeleteFilesIn(folder + L'\\');
    RemoveDirectoryW(folder.c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

} // namespace kx
