#include "crash/base/settings/win32/KXSettingsShell.h"

#include <windows.h>

#include <unwind.h>

#include "crash/base/settings/KXText.h"

namespace kx {

// --- process-wide registry ---------------------------------------------------------------------

namespace {

// What the shared-memory object points to. Every module copy of the reporter compiles this same
// layout, and its blocks come from the one CRT heap of the process, so any copy may free it.
struct KXRegistryRecord {
  static constexpr uint32_t kMagic = 0x3152584B; // "KXR1"
  uint32_t magic = kMagic;
  uint32_t processId = GetCurrentProcessId();
  int32_t attachCount = 0; // module copies holding the record; guarded by the named mutex
  KXSettingsRegistry registry;
};

// Holds the named mutex for the current scope.
class KXNamedMutexLock {
public:
  KXNamedMutexLock() {
    FMutex = CreateMutexA(nullptr, FALSE, KXSettingsMutexName(GetCurrentProcessId()).c_str());
    if (!FMutex)
      return;
    // An abandoned mutex (its owner thread ended while holding it) is owned all the same.
    DWORD wait = WaitForSingleObject(FMutex, INFINITE);
    FOwned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  }
  ~KXNamedMutexLock() {
    if (FOwned)
      ReleaseMutex(FMutex);
    if (FMutex)
      CloseHandle(FMutex);
  }
  KXNamedMutexLock(const KXNamedMutexLock &) = delete;
  KXNamedMutexLock &operator=(const KXNamedMutexLock &) = delete;
  bool Owned() const { return FOwned; }

private:
  HANDLE FMutex = nullptr;
  bool FOwned = false;
};

// A record address found in the shared-memory object is only trusted when it points to readable
// and writable memory of this process that holds a record of this process.
bool IsRecord(const KXRegistryRecord *record) {
  MEMORY_BASIC_INFORMATION mbi{};
  if (!VirtualQuery(record, &mbi, sizeof mbi) || mbi.State != MEM_COMMIT ||
      !(mbi.Protect & (PAGE_READWRITE | PAGE_EXECUTE_READWRITE)) || (mbi.Protect & PAGE_GUARD))
    return false;
  auto end = reinterpret_cast<std::uintptr_t>(mbi.BaseAddress) + mbi.RegionSize;
  if (reinterpret_cast<std::uintptr_t>(record) + sizeof(KXRegistryRecord) > end)
    return false;
  return record->magic == KXRegistryRecord::kMagic && record->processId == GetCurrentProcessId();
}

struct KXRegistryAttachment {
  HANDLE mapping;
  KXRegistryRecord *volatile *slot;
  KXRegistryRecord *record;

  void operator()(KXSettingsRegistry *) const {
    {
      KXNamedMutexLock lock;
      // Without the mutex the record cannot be freed safely; it is then left to the process.
      if (--record->attachCount == 0 && lock.Owned()) {
        *slot = nullptr;
        // Lists still referenced (a settings object that outlived its module copy) keep it.
        if (record->registry.RefCount() == 0)
          delete record;
      }
      UnmapViewOfFile(const_cast<KXRegistryRecord **>(slot));
      CloseHandle(mapping);
    }
  }
};

std::string BufferName() { return KXSettingsBufferName(GetCurrentProcessId()); }

} // namespace

std::shared_ptr<KXSettingsRegistry> AttachProcessRegistry() {
  KXNamedMutexLock lock;
  if (!lock.Owned())
    return nullptr;
  // The object holds one address: 4 bytes in a 32-bit process.
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      DWORD(sizeof(KXRegistryRecord *)), BufferName().c_str());
  if (!mapping)
    return nullptr;
  void *view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(KXRegistryRecord *));
  if (!view) {
    CloseHandle(mapping);
    return nullptr;
  }
  auto slot = static_cast<KXRegistryRecord *volatile *>(view);
  KXRegistryRecord *record = *slot;
  if (record && !IsRecord(record)) {
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    return nullptr;
  }
  if (!record) {
    record = new (std::nothrow) KXRegistryRecord;
    if (!record) {
      UnmapViewOfFile(view);
      CloseHandle(mapping);
      return nullptr;
    }
    *slot = record;
  }
  ++record->attachCount;
  try {
    return std::shared_ptr<KXSettingsRegistry>(&record->registry, KXRegistryAttachment{mapping, slot, record});
  } catch (...) {
    // The deleter has run and given the reference back.
    return nullptr;
  }
}

std::uintptr_t ProcessRegistryAddress() {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, BufferName().c_str());
  if (!mapping)
    return 0;
  std::uintptr_t address = 0;
  if (void *view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(KXRegistryRecord *))) {
    if (auto record = *static_cast<KXRegistryRecord *const volatile *>(view))
      address = reinterpret_cast<std::uintptr_t>(&record->registry);
    UnmapViewOfFile(view);
  }
  CloseHandle(mapping);
  return address;
}

// --- shell -------------------------------------------------------------------------------------

namespace {

// The platform of a shell whose registry could not be reached: no module yields a stream, so no
// property list is made and every settings object is invalid.
class KXNoStreamPlatform : public IKXPlatform {
public:
  explicit KXNoStreamPlatform(IKXPlatform &inner) : FInner(inner) {}
  std::optional<std::vector<uint8_t>> SettingsStream(KXModule) override { return std::nullopt; }
  std::optional<std::string> ReadModuleText(KXModule module, uint32_t offset) override {
    return FInner.ReadModuleText(module, offset);
  }
  void ShowMessage(const std::string &caption, const std::string &text) override { FInner.ShowMessage(caption, text); }
  KXModule ExeModule() override { return FInner.ExeModule(); }
  std::string ModuleFileName(KXModule module) override { return FInner.ModuleFileName(module); }
  std::optional<KXFileVersion> FileVersion(const std::string &path) override { return FInner.FileVersion(path); }
  std::string ComputerName() override { return FInner.ComputerName(); }
  std::string UserAppDataFolder() override { return FInner.UserAppDataFolder(); }
  std::string CommonAppDataFolder() override { return FInner.CommonAppDataFolder(); }
  KXLocalTime LocalTime() override { return FInner.LocalTime(); }

private:
  IKXPlatform &FInner;
};

void ThisModuleMarker() {}

} // namespace

KXSettingsShell &KXSettingsShell::Instance() {
  // The platform is never freed: settings objects that outlive the shell still reach it.
  static KXSettingsShell shell(std::unique_ptr<KXWin32Platform>(new KXWin32Platform),
                               ModuleOfAddress(reinterpret_cast<std::uintptr_t>(&ThisModuleMarker)));
  static const bool keep = shell.FKeepPlatform = true;
  (void)keep;
  return shell;
}

KXSettingsShell::KXSettingsShell(std::unique_ptr<KXWin32Platform> platform, KXModule reporterModule)
    : FPlatform(std::move(platform)), FReporter(reporterModule) {}

KXSettingsShell::~KXSettingsShell() {
  Stop();
  if (FKeepPlatform) {
    // Keep the platform (and the fallback) of the module copy's own shell alive for settings
    // objects that are still held during the rest of the shutdown.
    (void)FPlatform.release();
    (void)FFallbackPlatform.release();
  }
}

std::shared_ptr<KXSettingsContext> KXSettingsShell::Context() {
  std::shared_ptr<KXSettingsContext> context;
  {
    std::lock_guard g(FLock);
    if (FContext)
      return FContext;
    SetCodePageConversion(&NarrowAnsi, &WidenAnsi);
    if (std::shared_ptr<KXSettingsRegistry> registry = AttachProcessRegistry()) {
      FContext = std::make_shared<KXSettingsContext>(*FPlatform, std::move(registry));
      return FContext;
    }
    if (!FFallbackPlatform)
      FFallbackPlatform = std::make_unique<KXNoStreamPlatform>(*FPlatform);
    FContext = std::make_shared<KXSettingsContext>(*FFallbackPlatform, std::make_shared<KXSettingsRegistry>());
    context = FContext;
  }
  // The message box waits for the user; other threads of this copy go on meanwhile.
  FPlatform->ShowMessage("Kestrelix", "internal error (opening settings buffer)");
  return context;
}

std::shared_ptr<IKXModuleSettings> KXSettingsShell::Start() {
  std::shared_ptr<KXSettingsContext> context = Context();
  {
    std::lock_guard g(FLock);
    if (FMain)
      return FMain;
  }
  // Looked up before it is registered: while there is no main settings object every lookup is
  // primary.
  std::shared_ptr<IKXModuleSettings> main = ModuleSettings(FReporter);
  std::lock_guard g(FLock);
  if (FMain)
    return FMain;
  FMain = main;
  context->SetMainSettings(main);
  return FMain;
}

void KXSettingsShell::DropMainSettings() {
  std::shared_ptr<IKXModuleSettings> main;
  std::lock_guard g(FLock);
  main = std::move(FMain);
  if (FContext)
    FContext->SetMainSettings(nullptr);
}

void KXSettingsShell::Stop() {
  std::shared_ptr<IKXModuleSettings> main;
  std::shared_ptr<KXSettingsContext> context;
  {
    std::lock_guard g(FLock);
    main = std::move(FMain);
    context = std::move(FContext);
    if (context)
      context->SetMainSettings(nullptr);
  }
  // Released outside the lock: the last release detaches from the registry under its mutex.
}

std::shared_ptr<IKXModuleSettings> KXSettingsShell::MainSettings() {
  std::lock_guard g(FLock);
  return FMain;
}

std::shared_ptr<IKXModuleSettings> KXSettingsShell::Create(KXModule module) {
  return CreateModuleSettings(Context(), module, true);
}

bool KXSettingsShell::Uses(const std::shared_ptr<IKXModuleSettings> &settings) {
  return settings && settings->IsValid() && !settings->NoOwnSettings();
}

std::shared_ptr<IKXModuleSettings> KXSettingsShell::ModuleSettings(KXModule module) {
  std::shared_ptr<IKXModuleSettings> own = Create(module);
  // A module without settings gets its invalid object, whose lookups go to the main settings.
  if (!own->IsValid() || !own->NoOwnSettings())
    return own;
  std::shared_ptr<IKXModuleSettings> found = SearchSettings();
  return Uses(found) ? found : own;
}

std::shared_ptr<IKXModuleSettings> KXSettingsShell::AddressModuleSettings(std::uintptr_t address) {
  KXModule module = ModuleOfAddress(address);
  std::shared_ptr<IKXModuleSettings> candidate;
  if (module && module != FReporter && FPlatform->HasSettingsResource(module))
    candidate = Create(module);
  if (!candidate || (candidate->IsValid() && candidate->NoOwnSettings())) {
    std::shared_ptr<IKXModuleSettings> found = SearchSettings();
    if (!candidate || Uses(found))
      candidate = found;
  }
  return candidate ? candidate : Create(FReporter);
}

std::shared_ptr<IKXModuleSettings> KXSettingsShell::SearchSettings() {
  std::shared_ptr<IKXModuleSettings> result;
  if (FReporter && FPlatform->HasSettingsResource(FReporter))
    result = Create(FReporter);
  if (!result || result->NoOwnSettings()) {
    KXModule ide = KXModule(GetModuleHandleA("KestrelixIde_.bpl"));
    if (ide && FPlatform->HasSettingsResource(ide))
      result = Create(ide);
  }
  if (result && !result->NoOwnSettings())
    return result;
  // Every loaded image in address order: the start of each committed image allocation.
  std::uintptr_t address = 0;
  MEMORY_BASIC_INFORMATION mbi{};
  while (VirtualQuery(reinterpret_cast<const void *>(address), &mbi, sizeof mbi)) {
    auto base = reinterpret_cast<std::uintptr_t>(mbi.BaseAddress);
    if (mbi.State == MEM_COMMIT && mbi.Type == MEM_IMAGE && mbi.AllocationBase == mbi.BaseAddress &&
        FPlatform->HasSettingsResource(base)) {
      if (!result)
        return Create(base);
      std::shared_ptr<IKXModuleSettings> settings = Create(base);
      if (!settings->NoOwnSettings())
        return settings;
    }
    std::uintptr_t next = base + mbi.RegionSize;
    if (next <= address)
      break;
    address = next;
  }
  return result;
}

// --- this module copy's shortcuts ----------------------------------------------------------------

std::shared_ptr<IKXModuleSettings> ModuleSettings(KXModule module) {
  return KXSettingsShell::Instance().ModuleSettings(module);
}

namespace {

// One step of the unwinder's walk: the frame `skip` steps up gives its return address.
struct KXFrameSearch {
  int skip;
  std::uintptr_t address = 0;
};

_Unwind_Reason_Code VisitFrame(_Unwind_Context *context, void *argument) {
  auto *search = static_cast<KXFrameSearch *>(argument);
  if (search->skip-- > 0)
    return _URC_NO_REASON;
  search->address = _Unwind_GetIP(context);
  return _URC_END_OF_STACK; // found: stop walking
}

} // namespace

__attribute__((noinline)) std::shared_ptr<IKXModuleSettings> CallerModuleSettings(int level) {
  std::uintptr_t at = 0;
  if (level <= 0) {
    at = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  } else {
    // The unwind tables step over optimised frames that keep no frame pointer; frame 0 of the walk
    // is this function. Where a frame between has no tables, the frame-pointer chain is the rest.
    KXFrameSearch search{level + 1};
    _Unwind_Backtrace(&VisitFrame, &search);
    at = search.address;
    void *address = nullptr;
    if (!at && RtlCaptureStackBackTrace(DWORD(level) + 1, 1, &address, nullptr) == 1)
      at = reinterpret_cast<std::uintptr_t>(address);
  }
  // A return address may lie just past the module's last call; the call itself is one byte back.
  return KXSettingsShell::Instance().AddressModuleSettings(at ? at - 1 : 0);
}

std::shared_ptr<IKXModuleSettings> AddressModuleSettings(std::uintptr_t address) {
  return KXSettingsShell::Instance().AddressModuleSettings(address);
}

} // namespace kx
