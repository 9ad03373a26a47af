#include "crash/output/win32/KXMiniDump.h"

#include <dbghelp.h>

#include "crash/capture/threads/win32/ProcessLock.h"
#include "crash/output/KXAttachmentList.h"
#include "crash/output/win32/KXWin32BugFileSystem.h"

namespace kx {

namespace {
constexpr DWORD kLockWaitMs = 250;
// Threads and their stacks, modules, unloaded modules, thread times and the memory that stack
// values point into: enough for a call stack with locals, small enough to mail.
constexpr MINIDUMP_TYPE kDumpType = MINIDUMP_TYPE(MiniDumpNormal | MiniDumpWithIndirectlyReferencedMemory |
                                                  MiniDumpWithUnloadedModules | MiniDumpWithThreadInfo);

using MiniDumpWriteDumpFn = BOOL(WINAPI *)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                           PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);

std::string SystemMessage(DWORD error) {
  std::string text = "error " + std::to_string(error);
  char *message = nullptr;
  if (FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<LPSTR>(&message), 0, nullptr) &&
      message) {
    std::string reason = message;
    LocalFree(message);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
      reason.pop_back();
    text += ": " + reason;
  }
  return text;
}

// Binds dbghelp.dll of the system folder (never a copy beside the executable).
HMODULE LoadDbgHelp() {
  wchar_t folder[MAX_PATH];
  UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH)
    return nullptr;
  std::wstring path(folder, n);
  path += L"\\dbghelp.dll";
  return LoadLibraryW(path.c_str());
}

KXMiniDumpResult Write(HANDLE process, DWORD threadId, const EXCEPTION_RECORD *record, const CONTEXT *context,
                       const std::u16string &path) {
  KXMiniDumpResult result;
  if (ProcessLockHeld(kLockWaitMs)) {
    result.error = "no minidump: the process is blocked in the loader";
    return result;
  }
  HMODULE dbghelp = LoadDbgHelp();
  if (!dbghelp) {
    result.error = "no minidump: dbghelp.dll cannot be loaded (" + SystemMessage(GetLastError()) + ")";
    return result;
  }
  auto writeDump = reinterpret_cast<MiniDumpWriteDumpFn>(
      reinterpret_cast<void *>(GetProcAddress(dbghelp, "MiniDumpWriteDump")));
  if (!writeDump) {
    result.error = "no minidump: dbghelp.dll has no MiniDumpWriteDump";
    FreeLibrary(dbghelp);
    return result;
  }
  const wchar_t *file = reinterpret_cast<const wchar_t *>(path.c_str());
  HANDLE out = CreateFileW(file, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    result.error = "no minidump: the file cannot be created (" + SystemMessage(GetLastError()) + ")";
    FreeLibrary(dbghelp);
    return result;
  }

  // Copies, so that dbghelp never writes into the recorded exception.
  EXCEPTION_RECORD recordCopy{};
  CONTEXT contextCopy{};
  EXCEPTION_POINTERS pointers{};
  MINIDUMP_EXCEPTION_INFORMATION exception{};
  PMINIDUMP_EXCEPTION_INFORMATION exceptionParam = nullptr;
  if (record && context) {
    recordCopy = *record;
    contextCopy = *context;
    pointers.ExceptionRecord = &recordCopy;
    pointers.ContextRecord = &contextCopy;
    exception.ThreadId = threadId;
    exception.ExceptionPointers = &pointers;
    exception.ClientPointers = FALSE; // the pointers are in this process
    exceptionParam = &exception;
  }
  DWORD processId = GetProcessId(process);
  BOOL ok = writeDump(process, processId, out, kDumpType, exceptionParam, nullptr, nullptr);
  if (!ok) {
    // An older dbghelp may not know every flag: the plain dump.
    LARGE_INTEGER start{};
    if (SetFilePointerEx(out, start, nullptr, FILE_BEGIN) && SetEndOfFile(out))
      ok = writeDump(process, processId, out, MiniDumpNormal, exceptionParam, nullptr, nullptr);
  }
  DWORD error = ok ? 0 : GetLastError();
  if (!CloseHandle(out) && ok) {
    ok = FALSE;
    error = GetLastError();
  }
  FreeLibrary(dbghelp);
  if (!ok) {
    DeleteFileW(file);
    result.error = "no minidump: MiniDumpWriteDump failed (" + SystemMessage(error) + ")";
    return result;
  }
  result.written = true;
  return result;
}
} // namespace

KXMiniDumpResult WriteMiniDump(HANDLE process, DWORD threadId, const EXCEPTION_RECORD *record,
                               const CONTEXT *context, const std::u16string &path) {
  try {
    return Write(process, threadId, record, context, path);
  } catch (...) {
    KXMiniDumpResult failed;
    failed.error = "no minidump: out of memory";
    return failed;
  }
}

std::u16string MiniDumpPath(const std::wstring &tempDirectory) {
  return MiniDumpFile(std::u16string(tempDirectory.begin(), tempDirectory.end()), ExecutablePath());
}

} // namespace kx
