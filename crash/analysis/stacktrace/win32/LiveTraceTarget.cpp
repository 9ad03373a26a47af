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

MemoryRegion LiveTraceTarget::Query(uint64_t address) const {
  MemoryRegion r;
  if (address > UINTPTR_MAX)
    return r;
  MEMORY_BASIC_INFORMATION info{};
  const void *at = reinterpret_cast<const void *>(static_cast<uintptr_t>(address));
  if (!VirtualQuery(at, &info, sizeof info) || info.State != MEM_COMMIT)
    return r;
  r.committed = true;
  r.allocationBase = reinterpret_cast<uintptr_t>(info.AllocationBase);
  r.image = info.Type == MEM_IMAGE;
  return r;
}

namespace {

// The address type the model cache takes: a module it cannot address has no model.
template <class Result, class Cache, class Locator, class Address>
Address ModelAddressOf(Result (Cache::*)(Locator &, Address));
using ModelAddress = decltype(ModelAddressOf(&TModelCache::ModelFor));

} // namespace

ModuleFacts LiveTraceTarget::DescribeModule(uint64_t handle) const {
  ModuleFacts facts;
  if (handle > UINTPTR_MAX)
    return facts;
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
  if (uint64_t(ModelAddress(handle)) == handle) {
    auto model = TModelCache::Process().ModelFor(Win32ModuleLocator::Instance(), ModelAddress(handle));
    if (model && model->IsValid())
      facts.debugInfo = model;
  }
  // The unwind tables' section has a long name, resolved through the file's string table,
  // which is not loaded: the section table is read from the file.
  if (auto pe = Win32ModuleFiles::Instance().SectionTable(facts.fileName))
    if (const debuginfo::PeSection *eh = pe->FindSection(".eh_frame")) {
      facts.ehFrameBegin = handle + eh->VirtualAddress;
      facts.ehFrameEnd = facts.ehFrameBegin + eh->VirtualSize;
    }
  return facts;
}

#if defined(_WIN64)

namespace {

void ToContext(const X64Context &from, CONTEXT &to) {
  DWORD64 *const gpr[16] = {&to.Rax, &to.Rcx, &to.Rdx, &to.Rbx, &to.Rsp, &to.Rbp, &to.Rsi, &to.Rdi,
                            &to.R8,  &to.R9,  &to.R10, &to.R11, &to.R12, &to.R13, &to.R14, &to.R15};
  for (size_t i = 0; i < 16; ++i)
    *gpr[i] = from.gpr[i];
  to.Rip = from.rip;
}

void FromContext(const CONTEXT &from, X64Context &to) {
  const DWORD64 gpr[16] = {from.Rax, from.Rcx, from.Rdx, from.Rbx, from.Rsp, from.Rbp, from.Rsi, from.Rdi,
                           from.R8,  from.R9,  from.R10, from.R11, from.R12, from.R13, from.R14, from.R15};
  for (size_t i = 0; i < 16; ++i)
    to.gpr[i] = gpr[i];
  to.rip = from.Rip;
}

} // namespace

X64UnwindResult LiveTraceTarget::UnwindX64(X64Context &context) const {
  DWORD64 imageBase = 0;
  PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.rip, &imageBase, nullptr);
  if (!function)
    return ITraceTarget::UnwindX64(context); // a leaf, or RIP in no module
  // The system's step reads the stack without a guard: the portable step over the guarded
  // read goes first, and only a step it could make is handed to the system.
  X64Context portable = context;
  const X64UnwindResult result = UnwindX64Frame(MemoryPeSource(Memory()), imageBase, portable);
  if (!X64UnwindSucceeded(result))
    return result;
  CONTEXT registers{};
  registers.ContextFlags = CONTEXT_FULL;
  ToContext(context, registers);
  PVOID handlerData = nullptr;
  DWORD64 establisher = 0;
  RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.rip, function, &registers, &handlerData, &establisher,
                   nullptr);
  X64Context system = context;
  FromContext(registers, system);
  if (system.gpr[kX64Rsp] <= context.gpr[kX64Rsp])
    return X64UnwindResult::NoProgress;
  // What the caller's frame can be said to know is the same whichever step computed it.
  system.known = portable.known;
  context = system;
  return result;
}

#else

X64UnwindResult LiveTraceTarget::UnwindX64(X64Context &context) const { return ITraceTarget::UnwindX64(context); }

#endif

} // namespace tidewell::stacktrace
