#include "crash/report/composition/win32/LiveReportFacts.h"

#include <lmcons.h>

#include <cstring>
#include <cwchar>
#include <iterator>
#include <optional>

#include "crash/analysis/debuginfo/win32/Win32Modules.h"
#include "crash/analysis/disasm/Disassembly.h"
#include "crash/analysis/disasm/PageCachedMemory.h"
#include "crash/analysis/stacktrace/CachedTraceTarget.h"
#include "crash/analysis/stacktrace/LocationLine.h"
#include "crash/analysis/stacktrace/win32/LiveThreadStack.h"
#include "crash/analysis/stacktrace/win32/LiveTraceTarget.h"
#include "crash/base/pe/win32/LoadedImage.h"
#include "crash/base/settings/KXText.h"
#include "crash/base/settings/win32/KXWin32Platform.h"
#include "crash/capture/threads/win32/ThreadRegistry.h"
#include "crash/report/composition/ReportText.h"
#include "crash/report/composition/win32/CompletionThread.h"
#include "crash/report/composition/win32/RegistryText.h"

namespace kx {

namespace {
using namespace tidewell;

bool NtFamily() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  return !GetVersionExA(&info) || info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// The version of the running system from ntdll, which no compatibility setting of the exe
// changes; nullopt where the call is missing (the 9x family) or fails.
std::optional<RTL_OSVERSIONINFOEXW> TrueNtVersion() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (!ntdll)
    return std::nullopt;
  using RtlGetVersionFn = LONG(WINAPI *)(RTL_OSVERSIONINFOEXW *);
  auto get = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void *>(GetProcAddress(ntdll, "RtlGetVersion")));
  RTL_OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!get || get(&info) != 0) // STATUS_SUCCESS
    return std::nullopt;
  return info;
}

std::string WindowsKey() { return std::string("Software\\Microsoft\\Windows") + (NtFamily() ? " NT" : "") + "\\CurrentVersion"; }

std::string ModulePath(HMODULE module) {
  char path[MAX_PATH * 2] = {};
  DWORD n = GetModuleFileNameA(module, path, DWORD(sizeof path));
  return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

HMODULE ReporterModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ReporterModule), &module);
  return module;
}

std::optional<int64_t> CounterMilliseconds() {
  LARGE_INTEGER count, frequency;
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 || !QueryPerformanceCounter(&count))
    return std::nullopt;
  return int64_t(count.QuadPart / frequency.QuadPart * 1000 + count.QuadPart % frequency.QuadPart * 1000 / frequency.QuadPart);
}

// Names and lines of the live process for the disassembly.
class LiveSymbols final : public disasm::SymbolProvider {
public:
  std::string ProcedureName(uint64_t address) const override {
    auto model = TModelCache::Process().ModelFor(Win32ModuleLocator::Instance(), address);
    return model ? ::ProcedureName(*model, address) : std::string();
  }
  int Line(uint64_t address) const override {
    return DescribeAddress(TModelCache::Process(), Win32ModuleLocator::Instance(), address).Line;
  }
  std::string ModuleFileName(uint64_t address) const override {
    return ExtractFileName(DescribeAddress(TModelCache::Process(), Win32ModuleLocator::Instance(), address).ModuleFileName);
  }
};

// The code of this process.
constexpr disasm::CpuMode kCpuMode = sizeof(void *) == 8 ? disasm::CpuMode::X64 : disasm::CpuMode::X86;

stacktrace::ThreadSnapshot SnapshotOf(const KXThreadStack &thread) {
  stacktrace::ThreadSnapshot s;
  s.ip = uintptr_t(thread.currentAddr);
  s.sp = uintptr_t(thread.stackBottom);
  s.fp = uintptr_t(thread.ebp);
  s.stack.bottom = uintptr_t(thread.stackBottom);
  s.stack.top = uintptr_t(thread.stackTop);
#if defined(_WIN64)
  // The crashed thread is walked from the registers of its exception.
  if (const auto &r = thread.registers; r && r->x64) {
    using namespace stacktrace;
    const uint64_t gpr[16] = {r->rax, r->rcx, r->rdx, r->rbx, r->rsp, r->rbp, r->rsi, r->rdi,
                              r->r8,  r->r9,  r->r10, r->r11, r->r12, r->r13, r->r14, r->r15};
    std::copy(std::begin(gpr), std::end(gpr), s.x64.gpr.begin());
    s.x64.rip = r->rip;
    s.x64.known = kX64KnownAll;
    s.hasX64 = true;
    s.ip = uintptr_t(r->rip);
  }
#endif
  return s;
}
} // namespace

// --- header facts ---------------------------------------------------------------------------------

std::string KXLiveReportFacts::ComputerName() { return KXWin32Platform().ComputerName(); }

std::string KXLiveReportFacts::WtsClientName() {
  if (!NtFamily() || !GetSystemMetrics(SM_REMOTESESSION))
    return {};
  HMODULE wts = LoadLibraryA("wtsapi32.dll");
  if (!wts)
    return {};
  using QueryFn = BOOL(WINAPI *)(HANDLE, DWORD, int, LPSTR *, DWORD *);
  using FreeFn = void(WINAPI *)(void *);
  auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void *>(GetProcAddress(wts, "WTSQuerySessionInformationA")));
  auto release = reinterpret_cast<FreeFn>(reinterpret_cast<void *>(GetProcAddress(wts, "WTSFreeMemory")));
  std::string name;
  LPSTR buffer = nullptr;
  DWORD bytes = 0;
  const int kClientName = 10; // WTSClientName
  if (query && release && query(nullptr, DWORD(-1), kClientName, &buffer, &bytes) && buffer) {
    if (bytes > 0)
      name.assign(buffer, strnlen(buffer, bytes - 1));
    release(buffer);
  }
  FreeLibrary(wts);
  return name;
}

std::string KXLiveReportFacts::UserName() {
  char name[UNLEN + 1] = {};
  DWORD size = sizeof name;
  return GetUserNameA(name, &size) ? std::string(name) : std::string();
}

bool KXLiveReportFacts::UserIsAdministrator() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &administrators))
    return false;
  BOOL member = FALSE;
  if (!CheckTokenMembership(nullptr, administrators, &member))
    member = FALSE;
  FreeSid(administrators);
  return member != FALSE;
}

std::string KXLiveReportFacts::RegisteredOwner() { return RegistryText(HKEY_LOCAL_MACHINE, WindowsKey(), "RegisteredOwner"); }

std::string KXLiveReportFacts::RegisteredOrganization() {
  return RegistryText(HKEY_LOCAL_MACHINE, WindowsKey(), "RegisteredOrganization");
}

KXOsVersion KXLiveReportFacts::OsVersion() {
  KXOsVersion os;
  OSVERSIONINFOEXA info{};
  if (auto real = TrueNtVersion()) {
    // GetVersionEx answers as the newest system the exe declares it supports; ntdll tells the
    // version that runs.
    info.dwMajorVersion = real->dwMajorVersion;
    info.dwMinorVersion = real->dwMinorVersion;
    info.dwBuildNumber = real->dwBuildNumber;
    info.dwPlatformId = real->dwPlatformId;
    info.wProductType = real->wProductType;
    os.servicePack = NarrowAnsi(std::u16string_view(reinterpret_cast<const char16_t *>(real->szCSDVersion),
                                                    wcsnlen(real->szCSDVersion, std::size(real->szCSDVersion))));
  } else {
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA *>(&info))) {
      info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
      if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA *>(&info)))
        throw std::runtime_error("no version");
    }
    os.servicePack = info.szCSDVersion;
  }
  os.ntFamily = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
  os.major = info.dwMajorVersion;
  os.minor = info.dwMinorVersion;
  os.build = os.ntFamily ? info.dwBuildNumber : (info.dwBuildNumber & 0xffff);
  os.workstation = info.wProductType == VER_NT_WORKSTATION || info.wProductType == 0;
  if (os.ntFamily) {
    os.r2 = GetSystemMetrics(SM_SERVERR2) != 0;
    os.tabletPc = GetSystemMetrics(SM_TABLETPC) != 0;
    os.starter = GetSystemMetrics(SM_STARTER) != 0;
    os.mediaCenter = GetSystemMetrics(SM_MEDIACENTER) != 0;
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    os.x64 = system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
  }
  return os;
}

std::string KXLiveReportFacts::SystemLanguage() {
  char name[128] = {};
  return GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SENGLANGUAGE, name, sizeof name) ? std::string(name) : std::string();
}

std::optional<int64_t> KXLiveReportFacts::SystemUpSeconds() {
  if (auto ms = CounterMilliseconds())
    return *ms / 1000;
  return std::nullopt;
}

std::optional<int64_t> KXLiveReportFacts::ProgramUpMilliseconds() {
  int64_t start = FStartTime ? FStartTime() : 0;
  auto now = CounterMilliseconds();
  if (start <= 0 || !now)
    return std::nullopt;
  return *now - start;
}

std::string KXLiveReportFacts::ProcessorName(int index) {
  return RegistryText(HKEY_LOCAL_MACHINE, "hardware\\description\\system\\centralProcessor\\" + std::to_string(index),
                      "ProcessorNameString");
}

bool KXLiveReportFacts::PhysicalMemory(uint64_t &availableBytes, uint64_t &totalBytes) {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status))
    return false;
  availableBytes = status.ullAvailPhys;
  totalBytes = status.ullTotalPhys;
  return true;
}

bool KXLiveReportFacts::SystemResources(int &, int &) { return false; } // the 9x family only

std::string KXLiveReportFacts::WindowsDirectory() {
  char path[MAX_PATH + 1] = {};
  UINT n = GetWindowsDirectoryA(path, sizeof path);
  return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

std::optional<uint64_t> KXLiveReportFacts::FreeDiskBytes(char driveLetter) {
  if (!driveLetter)
    return std::nullopt;
  char root[] = {driveLetter, ':', '\\', 0};
  ULARGE_INTEGER available, total, free;
  if (!GetDiskFreeSpaceExA(root, &available, &total, &free))
    return std::nullopt;
  return uint64_t(free.QuadPart);
}

char KXLiveReportFacts::DecimalSeparator() {
  char separator[8] = {};
  return GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, sizeof separator) && separator[0]
             ? separator[0]
             : ',';
}

KXDisplayMode KXLiveReportFacts::DisplayMode() {
  KXDisplayMode mode;
  HDC dc = GetDC(nullptr);
  if (!dc)
    throw std::runtime_error("no screen");
  mode.width = GetDeviceCaps(dc, HORZRES);
  mode.height = GetDeviceCaps(dc, VERTRES);
  mode.bitsPerPixel = GetDeviceCaps(dc, BITSPIXEL);
  mode.planes = GetDeviceCaps(dc, PLANES);
  ReleaseDC(nullptr, dc);
  return mode;
}

uint32_t KXLiveReportFacts::ProcessId() { return GetCurrentProcessId(); }

uint64_t KXLiveReportFacts::AllocatedMemory() {
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  uint64_t total = 0;
  auto address = reinterpret_cast<uintptr_t>(system.lpMinimumApplicationAddress);
  const auto end = reinterpret_cast<uintptr_t>(system.lpMaximumApplicationAddress);
  MEMORY_BASIC_INFORMATION info;
  while (address < end && VirtualQuery(reinterpret_cast<void *>(address), &info, sizeof info) == sizeof info) {
    if (info.State == MEM_COMMIT && info.Type != MEM_IMAGE)
      total += info.RegionSize;
    uintptr_t next = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    if (next <= address)
      break;
    address = next;
  }
  return total;
}

std::string KXLiveReportFacts::CommandLine() {
  const char *line = GetCommandLineA();
  return line ? std::string(line) : std::string();
}

bool KXLiveReportFacts::HasParameters() { return CommandLineHasParameters(CommandLine()); }

std::string KXLiveReportFacts::ExecutablePath() { return ModulePath(nullptr); }

std::string KXLiveReportFacts::ReporterModulePath() { return ModulePath(ReporterModule()); }

std::optional<KXLocalTime> KXLiveReportFacts::FileLastWrite(const std::string &path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  FILETIME local;
  SYSTEMTIME t;
  if (path.empty() || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
      !FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToSystemTime(&local, &t))
    return std::nullopt;
  return KXLocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

std::optional<KXFileVersion> KXLiveReportFacts::FileVersion(const std::string &path) {
  return KXWin32Platform().FileVersion(path);
}

std::string KXLiveReportFacts::LoadedModulePath(const std::string &name) {
  HMODULE module = GetModuleHandleA(name.c_str());
  return module ? ModulePath(module) : std::string();
}

int KXLiveReportFacts::LinkerMajorVersion() {
  std::optional<debuginfo::LoadedImage> image = debuginfo::ReadLoadedImage(ReporterModule());
  return image ? image->Headers.MajorLinkerVersion : -1;
}

// --- threads and stacks -----------------------------------------------------------------------------

uint32_t KXLiveReportFacts::CurrentThreadId() { return GetCurrentThreadId(); }

uint32_t KXLiveReportFacts::MainThreadId() { return kx::MainThreadId(); }

std::vector<uint32_t> KXLiveReportFacts::ThreadIds() {
  std::vector<DWORD> ids = ThreadList();
  return std::vector<uint32_t>(ids.begin(), ids.end());
}

std::string KXLiveReportFacts::ThreadTitle(uint32_t threadId, bool always, uint64_t &creatorAddr, uint32_t &creatorTid) {
  ThreadTitleInfo info = kx::ThreadTitle(threadId, always);
  creatorAddr = info.creatorAddr;
  creatorTid = info.creatorTid;
  return info.title;
}

bool KXLiveReportFacts::CaptureThread(uint32_t threadId, const KXCrashedStackHint *hint, KXThreadCapture &capture) {
  HANDLE thread = nullptr;
  const bool self = threadId == GetCurrentThreadId();
  if (self)
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
  else {
    thread = OpenThread(THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION | THREAD_SUSPEND_RESUME, FALSE, threadId);
    if (!thread)
      thread = OpenThread(THREAD_GET_CONTEXT, FALSE, threadId);
  }
  if (!thread)
    return false;
  stacktrace::ThreadSnapshot snapshot;
  bool ok = stacktrace::CaptureThread(thread, snapshot);
  int priority = 0;
  if (ok) {
    priority = GetThreadPriority(thread);
    if (priority == THREAD_PRIORITY_ERROR_RETURN)
      priority = 0;
  }
  CloseHandle(thread);
  if (!ok)
    return false;

  if (hint) {
    // The crashed thread is traced from where the exception left it.
    uintptr_t sp = 0, fp = 0;
    if (hint->hasContext) {
      sp = hint->contextEsp;
      fp = hint->contextEbp;
    } else if (hint->caughtEsp) {
      sp = hint->caughtEsp;
      fp = hint->caughtEbp;
    }
    stacktrace::StackRange range;
    if (sp && stacktrace::StackRangeOf(sp, range)) {
      snapshot.sp = sp;
      snapshot.fp = fp;
      snapshot.stack = range;
    }
  }
  capture.stackPointer = snapshot.stack.bottom;
  capture.stackEnd = snapshot.stack.top;
  capture.framePointer = snapshot.fp;
  capture.instructionPointer = snapshot.ip;
  capture.wasSuspended = !self && snapshot.wasSuspended;
  capture.priority = priority;
  return true;
}

std::vector<stacktrace::PreStackItem> KXLiveReportFacts::PrepareStack(const KXThreadStack &thread) {
  if (!stacktrace::Traceable(SnapshotOf(thread)))
    return {}; // a stack that cannot be traced needs no candidates
  return stacktrace::PrepareLiveStack(SnapshotOf(thread), thread.exceptThread, thread.exceptAddr);
}

stacktrace::TraceResult KXLiveReportFacts::TraceThread(const KXThreadStack &thread, const KXTraceOptions &options) {
  stacktrace::TraceRequest request;
  request.hideUglyItems = options.hideUglyItems;
  request.showRelativeAddrs = options.showRelativeAddrs;
  request.showRelativeLines = options.showRelativeLines;
  request.currentAddr = thread.exceptAddr;
  request.isException = thread.exceptThread;
  request.extException = thread.extException;
  request.creator = thread.creatorAddr;
  request.bcbTermination = thread.bcbTermination;
  request.preparedStack = thread.preparedStack.empty() ? nullptr : &thread.preparedStack;
  request.abort = options.abort;
  request.progress = options.progress;
  request.minDebugInfos = options.minDebugInfos;
  stacktrace::TraceResult result;
  if (!stacktrace::TraceLiveThread(SnapshotOf(thread), request, result)) {
    result = {};
    std::string top = LocationLine(thread.exceptThread ? thread.exceptAddr : thread.currentAddr,
                                   options.showRelativeAddrs, options.showRelativeLines);
    result.text = std::string(kStackNotTraceable) + ", location:\r\n" + top;
  }
  return result;
}

__attribute__((noinline)) std::string KXLiveReportFacts::LocationLine(uint64_t address, bool showRelativeAddrs,
                                                                      bool showRelativeLines) {
  if (address == 0)
    address = uint64_t(uintptr_t(__builtin_return_address(0))) - 1;
  const stacktrace::CachedTraceTarget target(stacktrace::LiveTraceTarget::Instance());
  return stacktrace::LocationLine(stacktrace::TraceCaches::Process(), target, address, showRelativeAddrs,
                                  showRelativeLines, stacktrace::RuntimeNames::Default(), kCpuMode);
}

uint64_t KXLiveReportFacts::RegionEnd(uint64_t address) {
  MEMORY_BASIC_INFORMATION info;
  if (address > UINTPTR_MAX ||
      VirtualQuery(reinterpret_cast<void *>(uintptr_t(address)), &info, sizeof info) != sizeof info)
    return 0;
  return uint64_t(reinterpret_cast<uintptr_t>(info.BaseAddress)) + info.RegionSize;
}

bool KXLiveReportFacts::ReadMemory(uint64_t address, uint8_t *buffer, size_t count) {
  if (address > UINTPTR_MAX)
    return false;
  SIZE_T read = 0;
  return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void *>(uintptr_t(address)), buffer, count,
                           &read) &&
         read == count;
}

std::string KXLiveReportFacts::Disassemble(uint64_t functionStart, uint64_t exceptAddr, int limit, bool format) {
  if (functionStart > UINTPTR_MAX || exceptAddr > UINTPTR_MAX)
    return {};
  static const LiveSymbols symbols;
  disasm::DisassemblyOptions options;
  options.symbols = &symbols;
  options.analysis.mode = kCpuMode;
  const disasm::PageCachedMemory memory(stacktrace::LiveTraceTarget::Instance().Memory());
  return disasm::DisassembleFunction(memory, functionStart, exceptAddr, limit, format, options);
}

std::shared_ptr<IKXCompletionThread> KXLiveReportFacts::StartThread(std::function<void()> work) {
  return KXCompletionThread::Start(std::move(work));
}

} // namespace kx
