#pragma once
// The settings platform over the live Win32 process: the module's TKESTRELIX resource (its
// language resource module first), guarded reads of module memory, message boxes and the machine
// facts that variable expansion needs. 8-bit texts are in the system code page.
#include <map>
#include <mutex>
#include <string>

#include "crash/base/settings/KXPlatform.h"

namespace kx {

// The name of the settings resource (type RCDATA).
inline constexpr const char *kSettingsResourceName = "TKESTRELIX";

// The language resource module that this copy of the runtime associates with a module (0: none).
// A handle loaded with LOAD_LIBRARY_AS_DATAFILE or LOAD_LIBRARY_AS_IMAGE_RESOURCE may be used.
void SetLanguageResourceModule(KXModule module, KXModule resourceModule);
KXModule LanguageResourceModule(KXModule module);

// True when the handle is usable for resource lookups: a data-file handle as LoadLibraryEx gives
// it, or the start of a committed image mapping. Anything else (null, a stray address, heap
// memory) is rejected before the loader parses it as an image.
bool IsResourceModuleHandle(KXModule module);

// The module whose image holds the address: the allocation base of the committed image memory
// around it, or 0.
KXModule ModuleOfAddress(std::uintptr_t address);

// The version resource of a file (fixed version, FileVersion string of the first translation), or
// nullopt when it has none.
std::optional<KXFileVersion> FileVersionOfFile(const std::wstring &path);

// The 8-bit/UTF-16 conversions of the system code page (ANSI code page). Characters the code page
// cannot hold become '?' (no best-fit substitutes).
std::string NarrowAnsi(std::u16string_view text);
std::u16string WidenAnsi(std::string_view text);

class KXWin32Platform : public IKXPlatform {
public:
  // The settings stream of the module's language resource module when that one carries it, else
  // of the module itself.
  std::optional<std::vector<uint8_t>> SettingsStream(KXModule module) override;
  // Each page is checked to be committed and readable and then read with ReadProcessMemory, so
  // that an unreadable address gives nullopt instead of a fault. Texts longer than
  // kMaxModuleText bytes without a NUL count as unreadable.
  std::optional<std::string> ReadModuleText(KXModule module, uint32_t offset) override;
  // MessageBoxA with an OK button.
  void ShowMessage(const std::string &caption, const std::string &text) override;
  KXModule ExeModule() override;
  std::string ModuleFileName(KXModule module) override;
  std::optional<KXFileVersion> FileVersion(const std::string &path) override;
  std::string ComputerName() override;
  std::string UserAppDataFolder() override;
  std::string CommonAppDataFolder() override;
  KXLocalTime LocalTime() override;

  // The module (or its language resource module) carries a TKESTRELIX RCDATA resource.
  virtual bool HasSettingsResource(KXModule module);

  static constexpr size_t kMaxModuleText = 64 * 1024;
};

} // namespace kx
