#pragma once
// Intercepting a platform function through the import address tables of loaded modules: every
// table entry that holds the function's address gets the interceptor's address. Each replaced entry
// is logged, and undoing gives back the original address to exactly those logged entries that
// still hold the interceptor (a module that another component patched later, or that was unloaded,
// is left alone).
#include <windows.h>

#include <mutex>
#include <vector>

namespace kx {

class ImportPatcher {
public:
  ImportPatcher() = default;
  ~ImportPatcher() = default;
  ImportPatcher(const ImportPatcher &) = delete;
  ImportPatcher &operator=(const ImportPatcher &) = delete;

  // Replaces original by replacement in the import tables of every loaded module (allModules) or
  // of own only. Returns the number of entries replaced. A module whose import directory is broken
  // is not patched further; when it is own and a debugger is attached, a message box says so.
  int Replace(FARPROC original, FARPROC replacement, bool allModules, HMODULE own);
  // Restores the logged entries of one replacement; returns how many were restored.
  int Undo(FARPROC replacement);
  // Restores every logged entry and empties the log.
  int UndoAll();
  // Number of logged entries.
  size_t PatchedCount() const;

private:
  struct Patch {
    HMODULE module;
    FARPROC *slot;
    FARPROC original;
    FARPROC replacement;
  };
  // Replaces the entries of one module; false when its import directory is broken.
  bool PatchModule(HMODULE module, FARPROC original, FARPROC replacement, int &count);
  static bool Restore(const Patch &patch);

  mutable std::mutex FLock;
  std::vector<Patch> FLog;
};

// Any function pointer as the FARPROC the patcher takes.
template <typename Function> FARPROC AsFarProc(Function function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(function));
}

// The base addresses of the modules loaded in this process.
std::vector<HMODULE> LoadedModules();

} // namespace kx
