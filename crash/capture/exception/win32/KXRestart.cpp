#include "crash/capture/exception/win32/KXRestart.h"

#include <cstring>

#include "crash/base/settings/KXSettingsObject.h"

namespace kx {

std::string RestartRecordName(DWORD processId) { return "KestrelixRestart" + KXProcessSuffix(processId); }

namespace {
// Creates the record for the new process; the mapping stays open until this process ends.
void HandOver(const PROCESS_INFORMATION &pi, const TExceptionTimes &times) {
  std::string name = RestartRecordName(pi.dwProcessId);
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(KXRestartRecord),
                                      name.c_str());
  if (!mapping)
    return;
  auto *record = static_cast<KXRestartRecord *>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(KXRestartRecord)));
  if (!record)
    return;
  HANDLE duplicate = nullptr;
  DuplicateHandle(GetCurrentProcess(), mapping, pi.hProcess, &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS);
  record->oldProcessId = GetCurrentProcessId();
  // Handles are 32-bit values on every Windows, also in 64-bit processes.
  record->duplicatedHandle = uint32_t(reinterpret_cast<uintptr_t>(duplicate));
  std::memcpy(record->exceptionTimes, times.data(), sizeof record->exceptionTimes);
  UnmapViewOfFile(record);
}
} // namespace

void RestartProcess(const TExceptionTimes &times) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring commandLine = GetCommandLineW();
  // The command line may name the program relative to a directory that is not the current one.
  wchar_t exe[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  if (CreateProcessW(n && n < MAX_PATH ? exe : nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si,
                     &pi)) {
    HandOver(pi, times);
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  TerminateProcess(GetCurrentProcess(), 2);
  ExitProcess(2); // not reached
}

bool TakeOverRestart(TExceptionTimes &times, DWORD *oldProcessId) {
  std::string name = RestartRecordName(GetCurrentProcessId());
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
  if (!mapping)
    return false;
  bool taken = false;
  if (auto *record = static_cast<const KXRestartRecord *>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0))) {
    if (record->duplicatedHandle)
      CloseHandle(reinterpret_cast<HANDLE>(uintptr_t(record->duplicatedHandle)));
    if (HANDLE old = OpenProcess(SYNCHRONIZE, FALSE, record->oldProcessId)) {
      WaitForSingleObject(old, INFINITE);
      CloseHandle(old);
    }
    std::memcpy(times.data(), record->exceptionTimes, sizeof record->exceptionTimes);
    if (oldProcessId)
      *oldProcessId = record->oldProcessId;
    UnmapViewOfFile(record);
    taken = true;
  }
  CloseHandle(mapping);
  return taken;
}

} // namespace kx
