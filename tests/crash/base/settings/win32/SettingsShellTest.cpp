// The settings shell in a real Win32 process: the executable's copy of the shell, a library with
// its own settings and its own copy of the shell, a library without settings and a library whose
// settings defer to another module, all in this process and sharing one registry.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <thread>

#include "crash/base/settings/KXText.h"
#include "crash/base/settings/win32/KXSettingsShell.h"

using namespace kx;

namespace {

KXModule Exe() { return KXModule(GetModuleHandleW(nullptr)); }

std::wstring BesideExe(const wchar_t *name) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  folder.erase(folder.find_last_of(L"\\/") + 1);
  return folder + name;
}

// A library loaded for one test.
class Library {
public:
  explicit Library(const wchar_t *name, DWORD flags = 0)
      : FHandle(LoadLibraryExW(BesideExe(name).c_str(), nullptr, flags)) {}
  ~Library() { Free(); }
  Library(const Library &) = delete;
  Library &operator=(const Library &) = delete;
  KXModule Module() const { return KXModule(FHandle); }
  template <class F> F Get(const char *name) { return reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(FHandle, name))); }
  void Free() {
    if (FHandle)
      FreeLibrary(FHandle);
    FHandle = nullptr;
  }

private:
  HMODULE FHandle;
};

using CallBackFn = std::uintptr_t (*)(std::uintptr_t (*)());

// Records message boxes instead of showing them.
class QuietPlatform : public KXWin32Platform {
public:
  std::vector<std::pair<std::string, std::string>> messages;
  void ShowMessage(const std::string &caption, const std::string &text) override {
    messages.emplace_back(caption, text);
  }
};

std::string BufferNameOfThisProcess() {
  char name[64];
  std::snprintf(name, sizeof name, "KestrelixSettingsBuf2$%lx", GetCurrentProcessId());
  return name;
}

TIKXSettings *Object(const std::shared_ptr<IKXModuleSettings> &settings) {
  return dynamic_cast<TIKXSettings *>(settings.get());
}

// Lets a fixed number of threads wait for each other, again and again.
class Barrier {
public:
  explicit Barrier(int count) : FCount(count) {}
  void ArriveAndWait() {
    std::unique_lock lock(FLock);
    int generation = FGeneration;
    if (++FArrived == FCount) {
      FArrived = 0;
      ++FGeneration;
      FAll.notify_all();
      return;
    }
    FAll.wait(lock, [&] { return FGeneration != generation; });
  }

private:
  std::mutex FLock;
  std::condition_variable FAll;
  int FCount, FArrived = 0, FGeneration = 0;
};

// Callbacks that a library calls, so that the executable sees a return address in the library.
std::shared_ptr<IKXModuleSettings> gFound;

__attribute__((noinline)) std::uintptr_t FindForCaller() {
  gFound = CallerModuleSettings(1);
  return gFound->Module();
}

__attribute__((noinline)) std::shared_ptr<IKXModuleSettings> TwoFramesUp() {
  std::shared_ptr<IKXModuleSettings> found = CallerModuleSettings(2);
  asm volatile("" ::: "memory"); // no tail call: this frame must stay
  return found;
}

__attribute__((noinline)) std::uintptr_t FindForCallerTwoUp() {
  gFound = TwoFramesUp();
  return gFound->Module();
}

// The same chain as optimised code has it: the frames between keep no frame pointer, so the
// frame-pointer chain skips them and lands beyond the library's frame.
__attribute__((noinline, optimize("O2", "omit-frame-pointer"))) std::shared_ptr<IKXModuleSettings>
TwoFramelessUp() {
  std::shared_ptr<IKXModuleSettings> found = CallerModuleSettings(2);
  asm volatile("" ::: "memory");
  return found;
}

__attribute__((noinline, optimize("O2", "omit-frame-pointer"))) std::uintptr_t FindForCallerFrameless() {
  gFound = TwoFramelessUp();
  return gFound->Module();
}

// The executable's copy of the shell started as WinMain starts it.
class ExeSettings : public ::testing::Test {
protected:
  void SetUp() override {
    main = KXSettingsShell::Instance().Start();
    ASSERT_TRUE(main);
  }
  void TearDown() override {
    gFound.reset();
    main.reset();
    KXSettingsShell::Instance().Stop();
  }
  KXSettingsRegistry &Registry() { return KXSettingsShell::Instance().Context()->Registry(); }
  std::uintptr_t RegistryAddress() { return reinterpret_cast<std::uintptr_t>(&Registry()); }

  std::shared_ptr<IKXModuleSettings> main;
};

} // namespace

TEST_F(ExeSettings, MainSettingsComeFromTheExecutablesResource) {
  EXPECT_TRUE(main->IsValid());
  EXPECT_EQ(main->Module(), Exe());
  EXPECT_TRUE(main->Enabled());
  EXPECT_EQ(main->FreezeTimeout(), 60000u);
  EXPECT_EQ(main->GetAutoDelay(), 60u); // not in the stream: the built-in value
  EXPECT_FALSE(main->GetAutoSave());
  EXPECT_EQ(main->GetSmtpPort(), 2525u);
  EXPECT_EQ(KXSettingsShell::Instance().MainSettings(), main);
  // A second start keeps the main settings.
  EXPECT_EQ(KXSettingsShell::Instance().Start(), main);

  // The shared object is named after this process; the mutex is closed again once it is set up.
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, BufferNameOfThisProcess().c_str());
  EXPECT_NE(mapping, nullptr);
  if (mapping)
    CloseHandle(mapping);
  std::string mutexName = BufferNameOfThisProcess();
  mutexName.replace(0, std::string("KestrelixSettingsBuf2").size(), "KestrelixSettingsMtx");
  HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, mutexName.c_str());
  EXPECT_EQ(mutex, nullptr);
  if (mutex)
    CloseHandle(mutex);
  EXPECT_EQ(ProcessRegistryAddress(), RegistryAddress());
}

TEST_F(ExeSettings, LibraryCopySharesTheRegistryAndTheModuleLists) {
  Library own(L"kxprobe_own.dll");
  ASSERT_NE(own.Module(), 0u);
  auto start = own.Get<int (*)()>("ProbeStart");
  auto stop = own.Get<void (*)()>("ProbeStop");
  auto registry = own.Get<std::uintptr_t (*)()>("ProbeRegistry");
  auto reporter = own.Get<std::uintptr_t (*)()>("ProbeReporterModule");
  auto smtpPort = own.Get<uint32_t (*)(std::uintptr_t)>("ProbeSmtpPort");
  auto setSmtpPort = own.Get<void (*)(std::uintptr_t, uint32_t)>("ProbeSetSmtpPort");
  auto autoSave = own.Get<int (*)(std::uintptr_t)>("ProbeAutoSave");
  auto callerModule = own.Get<std::uintptr_t (*)()>("ProbeCallerModule");
  ASSERT_TRUE(start && stop && registry && reporter && smtpPort && setSmtpPort && autoSave && callerModule);

  ASSERT_EQ(start(), 1);
  EXPECT_EQ(reporter(), own.Module());
  EXPECT_EQ(registry(), RegistryAddress());
  EXPECT_EQ(Registry().ListCount(), 2u); // the executable's list and the library's

  EXPECT_EQ(smtpPort(own.Module()), 4242u);
  EXPECT_EQ(ModuleSettings(own.Module())->GetSmtpPort(), 4242u);
  // One list per module for the whole process: what one copy sets, the other reads.
  ModuleSettings(own.Module())->SetSmtpPort(4343);
  EXPECT_EQ(smtpPort(own.Module()), 4343u);
  setSmtpPort(Exe(), 2626);
  EXPECT_EQ(main->GetSmtpPort(), 2626u);
  main->Reload();
  ModuleSettings(own.Module())->Reload();
  EXPECT_EQ(main->GetSmtpPort(), 2525u);
  EXPECT_EQ(smtpPort(own.Module()), 4242u);

  // The library's copy finds the executable's settings for code of the executable, and its own
  // main settings are those of its module.
  EXPECT_EQ(callerModule(), Exe());
  EXPECT_EQ(autoSave(own.Module()), 1);

  stop();
  own.Free();
  // The library's list went with its last reference; the executable's copy goes on.
  EXPECT_EQ(Registry().ListCount(), 1u);
  EXPECT_EQ(ProcessRegistryAddress(), RegistryAddress());
  EXPECT_EQ(main->GetSmtpPort(), 2525u);
}

TEST_F(ExeSettings, BothCopiesMakeAndFreeTheSameListsConcurrently) {
  Library own(L"kxprobe_own.dll");
  Library defer(L"kxprobe_defer.dll");
  auto start = own.Get<int (*)()>("ProbeStart");
  auto stop = own.Get<void (*)()>("ProbeStop");
  auto churn = own.Get<int (*)(std::uintptr_t, uint32_t, int)>("ProbeChurn");
  ASSERT_TRUE(start && stop && churn && defer.Module());
  ASSERT_EQ(start(), 1);
  constexpr int kRounds = 300;
  std::atomic<int> unexpected{0};
  std::shared_ptr<KXSettingsContext> context = KXSettingsShell::Instance().Context();
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    // The library's copy and the executable's copy on the same two modules.
    threads.emplace_back([&] { unexpected += churn(defer.Module(), 999, kRounds); });
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i)
        if (CreateModuleSettings(context, defer.Module())->GetSmtpPort() != 999)
          ++unexpected;
    });
    threads.emplace_back([&] { unexpected += churn(own.Module(), 4242, kRounds); });
  }
  for (std::thread &thread : threads)
    thread.join();
  EXPECT_EQ(unexpected.load(), 0);
  EXPECT_EQ(Registry().ListCount(), 2u); // the two main settings' lists remain
  stop();
  EXPECT_EQ(Registry().ListCount(), 1u);
}

TEST_F(ExeSettings, LibraryWithoutStreamReadsTheExecutablesValues) {
  Library plain(L"kxprobe_plain.dll");
  ASSERT_NE(plain.Module(), 0u);
  std::shared_ptr<IKXModuleSettings> settings = ModuleSettings(plain.Module());
  EXPECT_FALSE(settings->IsValid());
  EXPECT_EQ(settings->Module(), plain.Module());
  EXPECT_FALSE(settings->GetAutoSave()); // the executable's value; the built-in one is true
  EXPECT_EQ(settings->GetSmtpPort(), 2525u);
  settings->SetSmtpPort(1); // an invalid object stores nothing
  EXPECT_EQ(settings->GetSmtpPort(), 2525u);

  // Code of the library asks the executable's copy: it gets the executable's settings.
  auto callBack = plain.Get<CallBackFn>("ProbeCallBack");
  ASSERT_TRUE(callBack);
  EXPECT_EQ(callBack(&FindForCaller), Exe());
  EXPECT_FALSE(gFound->GetAutoSave());
}

TEST_F(ExeSettings, CallerLevelsFollowTheCallChain) {
  Library own(L"kxprobe_own.dll");
  auto callBack = own.Get<CallBackFn>("ProbeCallBack");
  ASSERT_TRUE(callBack);
  // Called back from a library with settings: level 1 is the library's call site, level 2 from
  // one frame deeper reaches the same place.
  EXPECT_EQ(callBack(&FindForCaller), own.Module());
  EXPECT_EQ(gFound->GetSmtpPort(), 4242u);
  EXPECT_TRUE(gFound->GetAutoSave());
  EXPECT_EQ(callBack(&FindForCallerTwoUp), own.Module());
  EXPECT_EQ(callBack(&FindForCallerFrameless), own.Module());
  // Level 0 is the calling code itself, here the executable: the reporter module.
  EXPECT_EQ(CallerModuleSettings(0)->Module(), Exe());
  gFound.reset();
}

TEST_F(ExeSettings, LibraryWhoseSettingsDeferGetsTheExecutables) {
  Library defer(L"kxprobe_defer.dll");
  ASSERT_NE(defer.Module(), 0u);
  std::shared_ptr<IKXModuleSettings> settings = ModuleSettings(defer.Module());
  EXPECT_EQ(settings->Module(), Exe());
  EXPECT_EQ(settings->GetSmtpPort(), 2525u);
  auto callBack = defer.Get<CallBackFn>("ProbeCallBack");
  ASSERT_TRUE(callBack);
  EXPECT_EQ(callBack(&FindForCaller), Exe());
}

TEST_F(ExeSettings, LanguageResourceModuleIsSearchedFirst) {
  Library plain(L"kxprobe_plain.dll");
  Library defer(L"kxprobe_defer.dll");
  Library language(L"kxprobe_own.dll", LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(language.Module(), 0u);
  KXWin32Platform &platform = KXSettingsShell::Instance().Platform();
  EXPECT_FALSE(platform.HasSettingsResource(plain.Module()));

  SetLanguageResourceModule(plain.Module(), language.Module());
  SetLanguageResourceModule(defer.Module(), language.Module());
  EXPECT_TRUE(platform.HasSettingsResource(plain.Module()));
  std::shared_ptr<IKXModuleSettings> settings = ModuleSettings(plain.Module());
  EXPECT_TRUE(settings->IsValid());
  EXPECT_EQ(settings->GetSmtpPort(), 4242u);
  EXPECT_TRUE(settings->GetAutoSave());
  // The language module's stream wins over the module's own (which defers).
  settings = ModuleSettings(defer.Module());
  EXPECT_EQ(settings->Module(), defer.Module());
  EXPECT_EQ(settings->GetSmtpPort(), 4242u);

  settings.reset();
  SetLanguageResourceModule(plain.Module(), 0);
  SetLanguageResourceModule(defer.Module(), 0);
  EXPECT_FALSE(ModuleSettings(plain.Module())->IsValid());
  EXPECT_EQ(ModuleSettings(defer.Module())->Module(), Exe());
}

TEST_F(ExeSettings, TextsExpandWithTheFileVersionAndNames) {
  main->SetMailSubject("%APPNAME% %ModVersion% %modname%");
  EXPECT_EQ(main->GetMailSubject(), "settings_win32_tests.exe 3.1.4.1 settings_win32_tests.exe");
  // The system code page carries the euro sign in position 0x80 (Windows-1252).
  if (GetACP() == 1252) {
    Object(main)->SetPropStrW("MailBody", u"5 \u20ac \u4e2d");
    EXPECT_EQ(main->GetMailBody(), "5 \x80 ?");
  }
  main->Reload();
}

TEST_F(ExeSettings, VersionVarIsReadFromTheModuleImage) {
  static const char kVersion[] = "7.7.7-probe";
  std::uintptr_t offset = reinterpret_cast<std::uintptr_t>(kVersion) - Exe();
  ASSERT_TRUE(Object(main)->SetPropInt("VersionVar", int32_t(offset)));
  std::shared_ptr<IKXModuleSettings> settings = ModuleSettings(Exe());
  EXPECT_EQ(settings->VersionVar(), "7.7.7-probe");
  settings->SetMailSubject("%appversion%");
  EXPECT_EQ(settings->GetMailSubject(), "7.7.7-probe");
  main->Reload();
}

TEST(ModuleSettings, UnknownValueTypeShowsTheFailureAndKeepsWhatWasRead) {
  Library bad(L"kxprobe_bad.dll");
  ASSERT_NE(bad.Module(), 0u);
  auto platform = std::make_unique<QuietPlatform>();
  QuietPlatform &messages = *platform;
  KXSettingsShell shell(std::move(platform), Exe());
  std::shared_ptr<IKXModuleSettings> main = shell.Start();
  std::shared_ptr<IKXModuleSettings> settings = shell.ModuleSettings(bad.Module());
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0].first, "Kestrelix");
  EXPECT_EQ(messages.messages[0].second, "Internal error: Invalid settings resource ($07).");
  // NoSettings false was read before the failure, so the library's own object is used.
  EXPECT_EQ(settings->Module(), bad.Module());
  EXPECT_TRUE(settings->IsValid());
  EXPECT_FALSE(settings->NoOwnSettings());
  EXPECT_EQ(settings->GetSmtpPort(), 2525u); // not in its stream: the executable's value
  // The list stays in the registry while referenced: no second message.
  EXPECT_EQ(shell.ModuleSettings(bad.Module())->Module(), bad.Module());
  EXPECT_EQ(messages.messages.size(), 1u);
}

TEST(ModuleSearch, WalksTheLoadedModulesInAddressOrder) {
  Library own(L"kxprobe_own.dll");
  Library defer(L"kxprobe_defer.dll");
  Library plain(L"kxprobe_plain.dll");
  ASSERT_TRUE(own.Module() && defer.Module() && plain.Module());
  KXModule carriers[] = {Exe(), own.Module(), defer.Module()};
  KXModule first = *std::min_element(std::begin(carriers), std::end(carriers));

  {
    // The reporter module carries no settings: the first carrier in address order.
    auto platform = std::make_unique<QuietPlatform>();
    QuietPlatform &messages = *platform;
    KXSettingsShell shell(std::move(platform), plain.Module());
    std::shared_ptr<IKXModuleSettings> found = shell.SearchSettings();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->Module(), first);
    EXPECT_EQ(shell.ModuleSettings(defer.Module())->Module(), first == defer.Module() ? defer.Module() : first);
    // Code of the executable gets its settings; addresses outside any image get the search result.
    EXPECT_EQ(shell.AddressModuleSettings(reinterpret_cast<std::uintptr_t>(&Exe))->Module(), Exe());
    auto heap = std::make_unique<int>(0);
    EXPECT_EQ(shell.AddressModuleSettings(reinterpret_cast<std::uintptr_t>(heap.get()))->Module(), first);
    EXPECT_EQ(shell.AddressModuleSettings(0)->Module(), first);
    // A handle that is no module gives an invalid object, without touching its memory.
    EXPECT_FALSE(shell.ModuleSettings(reinterpret_cast<std::uintptr_t>(heap.get()))->IsValid());
    EXPECT_FALSE(shell.ModuleSettings(0x1000)->IsValid());
    EXPECT_TRUE(messages.messages.empty());
  }
  {
    // The reporter module is the lowest carrier and its settings defer, as do all others but the
    // highest one: the walk passes over the deferring ones.
    std::sort(std::begin(carriers), std::end(carriers));
    KXModule lowest = carriers[0], highest = carriers[2];
    KXSettingsShell shell(std::make_unique<QuietPlatform>(), lowest);
    std::vector<std::shared_ptr<IKXModuleSettings>> held;
    for (KXModule module : carriers) {
      held.push_back(CreateModuleSettings(shell.Context(), module));
      ASSERT_TRUE(Object(held.back())->SetPropBool("NoSettings", module != highest));
    }
    std::shared_ptr<IKXModuleSettings> found = shell.SearchSettings();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->Module(), highest);
    EXPECT_EQ(shell.ModuleSettings(lowest)->Module(), highest);
    // Nothing usable: the search keeps the reporter module's own settings.
    ASSERT_TRUE(Object(held.back())->SetPropBool("NoSettings", true));
    EXPECT_EQ(shell.SearchSettings()->Module(), lowest);
    for (const auto &settings : held)
      settings->Reload();
  }
  EXPECT_EQ(ProcessRegistryAddress(), 0u);
}

TEST(Win32Platform, ReadsModuleTextUnderAFaultGuard) {
  KXWin32Platform platform;
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const size_t page = info.dwPageSize;
  // One readable page followed by reserved memory.
  auto base = static_cast<char *>(VirtualAlloc(nullptr, 2 * page, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_TRUE(base);
  ASSERT_TRUE(VirtualAlloc(base, page, MEM_COMMIT, PAGE_READWRITE));
  KXModule module = reinterpret_cast<KXModule>(base);
  std::strcpy(base + 16, "Tidewell 1.0");
  EXPECT_EQ(platform.ReadModuleText(module, 16), "Tidewell 1.0");
  std::memcpy(base + page - 3, "ab", 3); // ends with its NUL on the last readable byte
  EXPECT_EQ(platform.ReadModuleText(module, uint32_t(page - 3)), "ab");
  std::memcpy(base + page - 3, "abc", 3); // runs into the reserved page
  EXPECT_EQ(platform.ReadModuleText(module, uint32_t(page - 3)), std::nullopt);
  EXPECT_EQ(platform.ReadModuleText(module, uint32_t(page)), std::nullopt);
  EXPECT_EQ(platform.ReadModuleText(UINTPTR_MAX - 8, 100), std::nullopt);
  VirtualFree(base, 0, MEM_RELEASE);
}

TEST(Win32Platform, MachineFacts) {
  KXWin32Platform platform;
  std::string exe = platform.ModuleFileName(Exe());
  ASSERT_GT(exe.size(), 4u);
  EXPECT_TRUE(SameText(ExtractFileName(exe), "settings_win32_tests.exe")) << exe;
  std::optional<KXFileVersion> version = platform.FileVersion(exe);
  ASSERT_TRUE(version);
  EXPECT_EQ(version->parts[0], 3);
  EXPECT_EQ(version->parts[1], 1);
  EXPECT_EQ(version->parts[2], 4);
  EXPECT_EQ(version->parts[3], 1);
  EXPECT_EQ(version->fileVersionText, "3.1.4.1 test");
  EXPECT_FALSE(platform.FileVersion(ExtractFilePath(exe) + "no-such-file.dll"));

  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD length = sizeof name;
  ASSERT_TRUE(GetComputerNameA(name, &length));
  EXPECT_EQ(platform.ComputerName(), std::string(name, length));
  for (const std::string &folder : {platform.UserAppDataFolder(), platform.CommonAppDataFolder()}) {
    DWORD attributes = GetFileAttributesA(folder.c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) << folder;
  }
  SYSTEMTIME before;
  GetLocalTime(&before);
  KXLocalTime now = platform.LocalTime();
  EXPECT_EQ(now.year, before.wYear);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
}

TEST(Win32Platform, SystemCodePageConversion) {
  if (GetACP() != 1252)
    GTEST_SKIP() << "the checks are written for code page 1252, this system uses " << GetACP();
  KXSettingsShell::Instance().Context(); // installs the conversion
  EXPECT_EQ(WidenToUtf16("\x80\xe9"), u"\u20ac\u00e9");
  EXPECT_EQ(NarrowUtf16(u"\u20ac\u00e9"), "\x80\xe9");
  // No best-fit substitutes: a letter the code page lacks is lost, not turned into a look-alike.
  EXPECT_EQ(NarrowUtf16(u"\u0100\u4e2d"), "??");
  EXPECT_EQ(NarrowUtf16(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
  KXSettingsShell::Instance().Stop();
}

TEST(ProcessRegistry, ConcurrentFirstAttachMakesOneRegistry) {
  ASSERT_EQ(ProcessRegistryAddress(), 0u); // every earlier test gave its references back
  constexpr int kThreads = 6, kRounds = 25;
  Barrier sync(kThreads);
  std::vector<std::uintptr_t> seen(kThreads);
  std::atomic<int> mismatches{0}, leftovers{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        {
          KXSettingsShell shell(std::make_unique<QuietPlatform>(), Exe());
          sync.ArriveAndWait();
          std::shared_ptr<IKXModuleSettings> main = shell.Start();
          seen[t] = reinterpret_cast<std::uintptr_t>(&shell.Context()->Registry());
          if (main->GetSmtpPort() != 2525)
            ++mismatches;
          sync.ArriveAndWait();
          if (seen[t] != seen[0])
            ++mismatches;
          sync.ArriveAndWait();
        }
        sync.ArriveAndWait();
        if (t == 0 && ProcessRegistryAddress() != 0)
          ++leftovers;
        sync.ArriveAndWait();
      }
    });
  for (std::thread &thread : threads)
    thread.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(leftovers.load(), 0);
}

// Runs in a fresh child process (this executable again), where no registry exists yet.
TEST(ProcessRegistry, UnreachableOrForeignSharedObject) {
  if (GetEnvironmentVariableA("KX_SETTINGS_SHELL_CHILD", nullptr, 0) == 0) {
    std::wstring self = BesideExe(L"settings_win32_tests.exe");
    std::wstring command = L"\"" + self + L"\" --gtest_filter=ProcessRegistry.UnreachableOrForeignSharedObject";
    SetEnvironmentVariableA("KX_SETTINGS_SHELL_CHILD", "1");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessW(self.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process);
    SetEnvironmentVariableA("KX_SETTINGS_SHELL_CHILD", nullptr);
    ASSERT_TRUE(started);
    WaitForSingleObject(process.hProcess, 120000);
    DWORD code = 99;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(code, 0u) << "the child's checks failed";
    return;
  }

  ASSERT_EQ(ProcessRegistryAddress(), 0u);
  const std::string name = BufferNameOfThisProcess();
  {
    // Another kind of object holds the name: no registry, one message, invalid settings.
    HANDLE squatter = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    ASSERT_TRUE(squatter);
    auto platform = std::make_unique<QuietPlatform>();
    QuietPlatform &messages = *platform;
    KXSettingsShell shell(std::move(platform), Exe());
    std::shared_ptr<IKXModuleSettings> main = shell.Start();
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].first, "Kestrelix");
    EXPECT_EQ(messages.messages[0].second, "internal error (opening settings buffer)");
    EXPECT_FALSE(main->IsValid());
    EXPECT_EQ(main->FreezeTimeout(), 60u); // the built-in value, not the resource's 60000
    EXPECT_TRUE(main->GetAutoSave());
    main.reset();
    shell.Stop();
    CloseHandle(squatter);
  }
  {
    // A shared object whose address is no registry of this process is not trusted.
    HANDLE foreign = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(void *), name.c_str());
    ASSERT_TRUE(foreign);
    void *view = MapViewOfFile(foreign, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(void *));
    ASSERT_TRUE(view);
    static int notARegistry[64] = {};
    *static_cast<void **>(view) = notARegistry;
    EXPECT_EQ(AttachProcessRegistry(), nullptr);
    *static_cast<void **>(view) = reinterpret_cast<void *>(0x10);
    EXPECT_EQ(AttachProcessRegistry(), nullptr);
    UnmapViewOfFile(view);
    CloseHandle(foreign);
  }
  // Once the name is free again the registry is made, and it goes with its last reference.
  std::shared_ptr<KXSettingsRegistry> registry = AttachProcessRegistry();
  ASSERT_TRUE(registry);
  EXPECT_EQ(ProcessRegistryAddress(), reinterpret_cast<std::uintptr_t>(registry.get()));
  std::shared_ptr<KXSettingsRegistry> again = AttachProcessRegistry();
  EXPECT_EQ(again, registry);
  registry.reset();
  EXPECT_NE(ProcessRegistryAddress(), 0u);
  again.reset();
  EXPECT_EQ(ProcessRegistryAddress(), 0u);
}
