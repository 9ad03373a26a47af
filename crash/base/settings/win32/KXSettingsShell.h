#pragma once
// The reporter settings of a Win32 process.
//
// Every module of the process that carries its own copy of the reporter (the executable, and any
// library linked with this code) has one KXSettingsShell: its platform, its settings context and
// its main settings. All copies share one registry of module property lists, found through the
// shared-memory object KXSettingsBufferName(pid) and created under the mutex
// KXSettingsMutexName(pid).
//
// Start-up of a module copy (WinMain of the executable):
//     std::shared_ptr<kx::IKXModuleSettings> main = kx::KXSettingsShell::Instance().Start();
//     if (!main->IsValid()) kx::KXSettingsShell::Instance().DropMainSettings();
// and at the end kx::KXSettingsShell::Instance().Stop().
#include <cstdint>
#include <memory>
#include <mutex>

#include "crash/base/settings/KXSettingsObject.h"
#include "crash/base/settings/win32/KXWin32Platform.h"

namespace kx {

// References the process-wide registry; the last reference of the process frees it. Returns
// null when the shared-memory object can be neither opened nor created.
std::shared_ptr<KXSettingsRegistry> AttachProcessRegistry();
// The registry's address as the shared-memory object holds it (0 when it does not exist).
std::uintptr_t ProcessRegistryAddress();

class KXSettingsShell {
public:
  // The shell of this module copy: its platform is KXWin32Platform and its reporter module the
  // module that contains this code.
  static KXSettingsShell &Instance();

  // A shell over the given platform with the given reporter module. The settings objects made
  // through it refer to its platform, so they must be gone before the shell is destroyed (the
  // module copy's own shell keeps its platform for ever).
  KXSettingsShell(std::unique_ptr<KXWin32Platform> platform, KXModule reporterModule);
  ~KXSettingsShell();
  KXSettingsShell(const KXSettingsShell &) = delete;
  KXSettingsShell &operator=(const KXSettingsShell &) = delete;

  // Installs the system code page conversion, references the registry, and creates and registers
  // the main settings: ModuleSettings(reporter module). Returns them (invalid when the reporter
  // module carries no settings). A second call returns the existing main settings.
  std::shared_ptr<IKXModuleSettings> Start();
  // Forgets the main settings (start-up does this when they are invalid).
  void DropMainSettings();
  // Drops the main settings and this shell's reference on the context; the registry goes when
  // the last settings object of the process is gone.
  void Stop();

  std::shared_ptr<IKXModuleSettings> MainSettings();
  // The context; created on first use (also without Start: then every lookup is primary).
  std::shared_ptr<KXSettingsContext> Context();
  KXWin32Platform &Platform() { return *FPlatform; }
  KXModule ReporterModule() const { return FReporter; }

  // The settings of a module: its own when valid and NoSettings is false; an invalid object when
  // it carries none; else the search result when that is valid with NoSettings false, else its own.
  std::shared_ptr<IKXModuleSettings> ModuleSettings(KXModule module);
  // The settings for code at an address: its module's settings when that module is not the
  // reporter module and carries settings that are to be used, else the search result, else the
  // reporter module's settings.
  std::shared_ptr<IKXModuleSettings> AddressModuleSettings(std::uintptr_t address);
  // The search: the reporter module, then "KestrelixIde_.bpl", then every loaded module in address
  // order. Null when no module carries settings.
  std::shared_ptr<IKXModuleSettings> SearchSettings();

private:
  std::shared_ptr<IKXModuleSettings> Create(KXModule module);
  bool Uses(const std::shared_ptr<IKXModuleSettings> &settings); // valid and NoSettings false

  std::unique_ptr<KXWin32Platform> FPlatform;
  KXModule FReporter;
  std::mutex FLock;
  std::shared_ptr<KXSettingsContext> FContext;
  std::shared_ptr<IKXModuleSettings> FMain;
  std::unique_ptr<IKXPlatform> FFallbackPlatform; // used when the registry cannot be reached
  bool FKeepPlatform = false;                     // the module copy's own shell never frees them
};

// The settings of this module copy's shell for a module (see KXSettingsShell::ModuleSettings).
std::shared_ptr<IKXModuleSettings> ModuleSettings(KXModule module);
// The settings for the code that called this function (level 0) or level frames further up.
std::shared_ptr<IKXModuleSettings> CallerModuleSettings(int level = 0);
// The settings for the code at an address.
std::shared_ptr<IKXModuleSettings> AddressModuleSettings(std::uintptr_t address);

} // namespace kx
