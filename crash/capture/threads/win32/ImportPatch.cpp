#include "crash/capture/threads/win32/ImportPatch.h"

#include <tlhelp32.h>

#include "crash/base/pe/win32/LoadedImage.h"

#include <algorithm>
#include <string>

namespace kx {

namespace {

// True when [rva, rva + size) lies inside an image of imageSize bytes.
bool InImage(ULONG_PTR rva, ULONG_PTR size, ULONG_PTR imageSize) {
  return rva <= imageSize && size <= imageSize - rva;
}

bool WritePointer(FARPROC *slot, FARPROC value) {
  DWORD old = 0;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_EXECUTE_READWRITE, &old))
    return false;
  InterlockedExchangePointer(reinterpret_cast<PVOID volatile *>(slot), reinterpret_cast<PVOID>(value));
  DWORD ignored = 0;
  VirtualProtect(slot, sizeof *slot, old, &ignored);
  return true;
}

void ReportBrokenImportTable() {
  char path[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  MessageBoxA(nullptr, "The import table is invalid.\r\n\r\nThis way Kestrelix can't install the thread hooks.",
              path, MB_OK);
}

} // namespace

std::vector<HMODULE> LoadedModules() {
  std::vector<HMODULE> modules;
  HANDLE snapshot = INVALID_HANDLE_VALUE;
  // The snapshot can fail with ERROR_BAD_LENGTH while modules are being loaded: try again.
  for (int attempt = 0; attempt < 10 && snapshot == INVALID_HANDLE_VALUE; ++attempt) {
    snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
    if (snapshot == INVALID_HANDLE_VALUE && GetLastError() != ERROR_BAD_LENGTH)
      break;
  }
  if (snapshot == INVALID_HANDLE_VALUE)
    return modules;
  MODULEENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Module32FirstW(snapshot, &entry); more; more = Module32NextW(snapshot, &entry)) {
    modules.push_back(reinterpret_cast<HMODULE>(entry.modBaseAddr));
    entry.dwSize = sizeof entry;
  }
  CloseHandle(snapshot);
  return modules;
}

bool ImportPatcher::PatchModule(HMODULE module, FARPROC original, FARPROC replacement, int &count) {
  // Only images of this process's kind hold import address tables of pointers this code writes.
  std::optional<debuginfo::LoadedImage> image = debuginfo::ReadLoadedImage(module);
  if (!image || image->Headers.Pe32Plus != (sizeof(void *) == 8))
    return true; // not an image this code understands: nothing to patch
  auto base = reinterpret_cast<const BYTE *>(module);
  const ULONG_PTR imageSize = image->Bytes.size();
  const auto [directoryRva, directorySize] = image->Headers.Directory(debuginfo::kDirectoryImport);
  if (!directoryRva || !directorySize)
    return true; // imports nothing
  if (!InImage(directoryRva, directorySize, imageSize))
    return false;
  std::optional<std::vector<debuginfo::PeImport>> imports =
      debuginfo::ReadImports(debuginfo::PeSpan(image->Bytes), directoryRva, directorySize);
  if (!imports)
    return false;
  for (const debuginfo::PeImport &import : *imports) {
    ULONG_PTR table = import.AddressTable;
    if (!table || !InImage(table, sizeof(FARPROC), imageSize))
      return false;
    for (ULONG_PTR slotRva = table; InImage(slotRva, sizeof(FARPROC), imageSize); slotRva += sizeof(FARPROC)) {
      auto slot = reinterpret_cast<FARPROC *>(const_cast<BYTE *>(base) + slotRva);
      FARPROC value = *slot;
      if (!value)
        break;
      if (value != original)
        continue;
      if (WritePointer(slot, replacement)) {
        FLog.push_back({module, slot, original, replacement});
        ++count;
      }
    }
  }
  return true;
}

int ImportPatcher::Replace(FARPROC original, FARPROC replacement, bool allModules, HMODULE own) {
  if (!original || !replacement || original == replacement)
    return 0;
  std::lock_guard<std::mutex> guard(FLock);
  std::vector<HMODULE> modules;
  if (allModules)
    modules = LoadedModules();
  if (own && std::find(modules.begin(), modules.end(), own) == modules.end())
    modules.push_back(own);
  int count = 0;
  for (HMODULE module : modules) {
    // Keep the module loaded while its tables are read and written.
    HMODULE pinned = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(module), &pinned) ||
        pinned != module) {
      if (pinned)
        FreeLibrary(pinned);
      continue;
    }
    bool valid = PatchModule(module, original, replacement, count);
    FreeLibrary(pinned);
    if (!valid && module == own && IsDebuggerPresent())
      ReportBrokenImportTable();
  }
  if (count)
    FlushInstructionCache(GetCurrentProcess(), nullptr, 0);
  return count;
}

bool ImportPatcher::Restore(const Patch &patch) {
  // The module may have been unloaded since: only touch the entry while it still lies in that
  // module's image and holds the interceptor.
  MEMORY_BASIC_INFORMATION info{};
  if (!VirtualQuery(patch.slot, &info, sizeof info) || info.State != MEM_COMMIT || info.Type != MEM_IMAGE ||
      info.AllocationBase != patch.module || (info.Protect & (PAGE_NOACCESS | PAGE_GUARD)))
    return false;
  if (*reinterpret_cast<FARPROC volatile *>(patch.slot) != patch.replacement)
    return false;
  return WritePointer(patch.slot, patch.original);
}

int ImportPatcher::Undo(FARPROC replacement) {
  std::lock_guard<std::mutex> guard(FLock);
  int restored = 0;
  auto kept = std::remove_if(FLog.begin(), FLog.end(), [&](const Patch &patch) {
    if (patch.replacement != replacement)
      return false;
    restored += Restore(patch);
    return true;
  });
  FLog.erase(kept, FLog.end());
  return restored;
}

int ImportPatcher::UndoAll() {
  std::lock_guard<std::mutex> guard(FLock);
  int restored = 0;
  // Newest first, so that an entry patched twice ends with its first value.
  for (auto patch = FLog.rbegin(); patch != FLog.rend(); ++patch)
    restored += Restore(*patch);
  FLog.clear();
  return restored;
}

size_t ImportPatcher::PatchedCount() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FLog.size();
}

} // namespace kx
