#include "tools/kestrace/win32/RemoteTrace.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <cstring>
#include <optional>

#include "crash/capture/traceprocess/TraceDelivery.h"
#include "tools/kestrace/ExportTable.h"

namespace kestrace {

namespace {
std::string SystemMessage(DWORD error) {
  char *text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, error, 0, reinterpret_cast<char *>(&text), 0, nullptr);
  std::string message = n && text ? std::string(text, n) : "error " + std::to_string(error);
  if (text)
    LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  return message;
}

class Handle {
public:
  explicit Handle(HANDLE h = nullptr) : FHandle(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~Handle() {
    if (FHandle)
      CloseHandle(FHandle);
  }
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;
  HANDLE Get() const { return FHandle; }
  explicit operator bool() const { return FHandle != nullptr; }

private:
  HANDLE FHandle;
};

// The load address of the process's exe: the first module of its loader list, or else of its
// module snapshot.
bool ExeModuleBase(HANDLE process, DWORD processId, uintptr_t &base, std::string &error) {
  HMODULE first = nullptr;
  DWORD needed = 0;
  if (EnumProcessModules(process, &first, sizeof first, &needed) && first) {
    base = reinterpret_cast<uintptr_t>(first);
    return true;
  }
  error = SystemMessage(GetLastError());
  for (int attempt = 0; attempt < 10; ++attempt) {
    Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId));
    if (!snapshot) {
      if (GetLastError() == ERROR_BAD_LENGTH)
        continue; // the process changed its modules meanwhile
      return false;
    }
    MODULEENTRY32W module{};
    module.dwSize = sizeof module;
    if (!Module32FirstW(snapshot.Get(), &module))
      return false;
    base = reinterpret_cast<uintptr_t>(module.modBaseAddr);
    return true;
  }
  return false;
}

// The delivery object: the global one where it may be made, else the session's own.
HANDLE CreateDeliveryObject(int32_t bufSize, std::string &error) {
  for (const char *name : {kx::kTraceMapGlobalName, kx::kTraceMapName}) {
    SetLastError(0);
    HANDLE map = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, DWORD(bufSize), name);
    if (map && GetLastError() == ERROR_ALREADY_EXISTS) {
      CloseHandle(map);
      error = std::string("another trace is running (the object ") + name + " exists)";
      return nullptr;
    }
    if (map)
      return map;
    error = "the shared memory for the report cannot be made: " + SystemMessage(GetLastError());
  }
  return nullptr;
}
} // namespace

std::vector<DWORD> ProcessesNamed(const std::wstring &name) {
  std::vector<DWORD> ids;
  Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot)
    return ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry))
    if (ExeNameMatches(entry.szExeFile, name))
      ids.push_back(entry.th32ProcessID);
  return ids;
}

RemoteTraceResult TraceRemoteProcess(DWORD processId, int32_t bufSize, DWORD timeoutMs, bool clipboard) {
  RemoteTraceResult result;
  const std::string which = "process " + std::to_string(processId);
  Handle process(OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                                 PROCESS_VM_WRITE | PROCESS_VM_READ | SYNCHRONIZE,
                             FALSE, processId));
  if (!process) {
    const DWORD error = GetLastError();
    result.code = error == ERROR_INVALID_PARAMETER ? kExitNoProcess : kExitCannotRun;
    result.message = which + " cannot be opened: " + SystemMessage(error);
    return result;
  }
  uintptr_t base = 0;
  std::string error;
  if (!ExeModuleBase(process.Get(), processId, base, error)) {
    result.message = "the modules of " + which + " cannot be read (a process of another bitness?): " + error;
    return result;
  }
  auto read = [&](uint32_t rva, void *buffer, size_t size) {
    SIZE_T done = 0;
    return ReadProcessMemory(process.Get(), reinterpret_cast<const void *>(base + rva), buffer, size, &done) &&
           done == size;
  };
  std::optional<uint32_t> rva = ExportRva(read, kx::kTraceProcessExportName);
  if (!rva) {
    result.message = which + " has no kesTraceProcess export: it is not a Tidewell";
    return result;
  }

  Handle map(clipboard ? nullptr : CreateDeliveryObject(bufSize, error));
  if (!clipboard && !map) {
    result.message = error;
    return result;
  }
  char *view = map ? static_cast<char *>(MapViewOfFile(map.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0)) : nullptr;
  if (!clipboard && !view) {
    result.message = "the shared memory for the report cannot be mapped: " + SystemMessage(GetLastError());
    return result;
  }
  const int32_t size = clipboard ? 0 : bufSize;
  Handle thread(CreateRemoteThread(process.Get(), nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(base + *rva),
                                   reinterpret_cast<void *>(static_cast<intptr_t>(size)), 0, nullptr));
  if (!thread) {
    result.message = "no thread can be started in " + which + ": " + SystemMessage(GetLastError());
  } else if (WaitForSingleObject(thread.Get(), timeoutMs) != WAIT_OBJECT_0) {
    result.code = kExitNoReport;
    result.message = which + " gave no report within " + std::to_string(timeoutMs / 1000) + " seconds";
  } else if (clipboard) {
    result.code = kExitReport;
    result.message = "the report of " + which + " is on the clipboard";
  } else {
    result.report.assign(view, strnlen(view, size_t(bufSize)));
    if (result.report.empty()) {
      result.code = kExitNoReport;
      result.message = which + " delivered no report (its crash reporter is not running)";
    } else {
      result.code = kExitReport;
      if (ReportMayBeCut(result.report.size(), bufSize))
        result.message = "the report may be cut: it fills the " + std::to_string(bufSize) +
                         " bytes given; try a larger --size";
    }
  }
  if (view)
    UnmapViewOfFile(view);
  return result;
}

} // namespace kestrace
