#include "crash/analysis/stacktrace/win32/LiveTraceTarget.h"

#include <windows.h>

#include "crash/analysis/debuginfo/ModelCache.h"
#include "crash/analysis/debuginfo/win32/Win32Modules.h"
#include "crash/base/pe/PeImage.h"

namespace tidewell::stacktrace {

LiveTraceTarget &LiveTraceTarget::Instance() {
  static LiveTraceTarget target;
  return target;
}

MemoryRegion LiveTraceTarget::Query(uint32_t address) const {
  MemoryRegion r;
  MEMORY_BASIC_INFORMATION info{};
  const void *at = reinterpret_cast<const void *>(static_cast<uintptr_t>(address));
  if (!VirtualQuery(at, &info, sizeof info) || info.State != MEM_COMMIT)
    return r;
  const uintptr_t base = reinterpret_cast<uintptr_t>(info.AllocationBase);
  r.committed = true;
  // Target addresses are 32-bit: an allocation above 4 GiB (64-bit builds) has no usable base.
  r.allocationBase = base <= UINT32_MAX ? static_cast<uint32_t>(base) : 0;
  r.image = info.Type == MEM_IMAGE;
  return r;
}

ModuleFacts LiveTraceTarget::DescribeModule(uint32_t handle) const {
  ModuleFacts facts;
  HMODULE module = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(handle));
  char path[MAX_PATH * 2] = {};
  const DWORD n = GetModuleFileNameA(module, path, sizeof path);
  if (n == 0 || n >= sizeof path)
    return facts;
  facts.fileName.assign(path, n);
  facts.isExecutable = module == GetModuleHandleA(nullptr);
  HMODULE own = nullptr;
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(&LiveTraceTarget::Instance), &own))
    facts.isReporter = own == module;
  auto model = TModelCache::Process().ModelFor(Win32ModuleLocator::Instance(), handle);
  if (model && model->IsValid())
    facts.debugInfo = model;
  // The unwind tables' section has a long name, resolved through the file's string table,
  // which is not loaded: the section table is read from the file.
  if (auto pe = Win32ModuleFiles::Instance().SectionTable(facts.fileName))
    if (const debuginfo::PeSection *eh = pe->FindSection(".eh_frame")) {
      facts.ehFrameBegin = handle + eh->VirtualAddress;
      facts.ehFrameEnd = facts.ehFrameBegin + eh->VirtualSize;
    }
  return facts;
}

} // namespace tidewell::stacktrace
