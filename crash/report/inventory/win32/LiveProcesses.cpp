#include "crash/report/inventory/win32/LiveProcesses.h"

#include <windows.h>

#include <algorithm>

#include "crash/report/inventory/ProcessInformation.h"

namespace kx {

namespace {
constexpr ULONG kSystemProcessInformation = 5;

using NtQuerySystemInformationFn = LONG(WINAPI *)(ULONG, PVOID, ULONG, PULONG);
using GetModuleFileNameExWFn = DWORD(WINAPI *)(HANDLE, HMODULE, LPWSTR, DWORD);
using GetGuiResourcesFn = DWORD(WINAPI *)(HANDLE, DWORD);

template <class Fn> Fn Bind(HMODULE module, const char *name) {
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name))) : nullptr;
}

// The functions outside kernel32, looked up once. Their libraries stay loaded.
struct Functions {
  NtQuerySystemInformationFn querySystemInformation = nullptr;
  GetModuleFileNameExWFn moduleFileNameEx = nullptr;
  GetGuiResourcesFn guiResources = nullptr;

  Functions() {
    querySystemInformation = Bind<NtQuerySystemInformationFn>(GetModuleHandleW(L"ntdll.dll"),
                                                              "NtQuerySystemInformation");
    moduleFileNameEx = Bind<GetModuleFileNameExWFn>(LoadLibraryW(L"psapi.dll"), "GetModuleFileNameExW");
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    guiResources = Bind<GetGuiResourcesFn>(user32 ? user32 : LoadLibraryW(L"user32.dll"), "GetGuiResources");
  }
};

const Functions &Bound() {
  static const Functions functions;
  return functions;
}

std::u16string SystemDirectory() {
  wchar_t folder[MAX_PATH + 1] = {};
  UINT length = GetSystemDirectoryW(folder, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH)
    return {};
  return std::u16string(folder, folder + length);
}

// The main module's file name as the system gives it; nullopt when it cannot be read.
std::optional<std::u16string> MainModuleFileName(const Functions &fn, HANDLE process) {
  if (!fn.moduleFileNameEx)
    return std::nullopt;
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = fn.moduleFileNameEx(process, nullptr, name.data(), DWORD(name.size()));
    if (length == 0)
      return std::nullopt;
    if (length < name.size() - 1 || name.size() >= 32768)
      return std::u16string(name.begin(), name.begin() + length);
    name.resize(name.size() * 2);
  }
}

class ProcessHandle {
public:
  ProcessHandle(DWORD access, uint32_t processId) : FHandle(OpenProcess(access, FALSE, processId)) {}
  ~ProcessHandle() {
    if (FHandle)
      CloseHandle(FHandle);
  }
  ProcessHandle(const ProcessHandle &) = delete;
  ProcessHandle &operator=(const ProcessHandle &) = delete;
  HANDLE Get() const { return FHandle; }

private:
  HANDLE FHandle;
};
} // namespace

std::optional<size_t> QuerySystemProcessList(std::vector<uint8_t> &buffer) {
  const Functions &fn = Bound();
  if (!fn.querySystemInformation)
    return std::nullopt;
  auto query = [&](size_t size) -> std::optional<size_t> {
    buffer.assign(size, 0);
    ULONG filled = 0;
    if (fn.querySystemInformation(kSystemProcessInformation, buffer.data(), ULONG(size), &filled) < 0)
      return std::nullopt;
    return filled > 0 && filled <= size ? size_t(filled) : size;
  };
  ULONG needed = 0;
  fn.querySystemInformation(kSystemProcessInformation, nullptr, 0, &needed);
  if (needed > 0 && needed < 0x40000000)
    if (std::optional<size_t> filled = query(size_t(needed) * 2))
      return filled;
  for (size_t size = 128 * 1024; size <= 4 * 1024 * 1024; size *= 2)
    if (std::optional<size_t> filled = query(size))
      return filled;
  buffer.clear();
  return std::nullopt;
}

std::vector<KXProcessEntry> RunningProcesses() {
  std::vector<KXProcessEntry> processes;
  std::vector<uint8_t> buffer;
  std::optional<size_t> filled = QuerySystemProcessList(buffer);
  if (!filled)
    return processes;
  const std::vector<KXSystemProcess> list = ReadProcessInformation(
      buffer.data(), *filled, reinterpret_cast<uintptr_t>(buffer.data()), sizeof(void *) == 8);
  const Functions &fn = Bound();
  const std::u16string systemDirectory = SystemDirectory();
  processes.reserve(std::max<size_t>(64, list.size()));
  for (const KXSystemProcess &p : list) {
    KXProcessEntry entry;
    std::optional<std::u16string> moduleFileName;
    if (p.hasImageName) {
      ProcessHandle process(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, p.processId);
      if (process.Get())
        moduleFileName = MainModuleFileName(fn, process.Get());
    }
    NameProcess(p, moduleFileName ? &*moduleFileName : nullptr, systemDirectory, entry);
    ProcessHandle process(PROCESS_QUERY_INFORMATION, p.processId);
    if (process.Get()) {
      entry.priorityClass = int32_t(GetPriorityClass(process.Get()));
      if (fn.guiResources) {
        entry.gdiObjects = fn.guiResources(process.Get(), GR_GDIOBJECTS);
        entry.userObjects = fn.guiResources(process.Get(), GR_USEROBJECTS);
      }
    }
    processes.push_back(std::move(entry));
  }
  return processes;
}

std::u16string RunningProcessesText() { return ProcessListText(RunningProcesses()); }

} // namespace kx
