#pragma once
// What the settings core needs from the machine and the operating system. The Win32 shell
// implements it over the live process; tests implement it over fixed values.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kx {

// A module handle (load address) of the process.
using KXModule = std::uintptr_t;

struct KXFileVersion {
  uint16_t parts[4] = {0, 0, 0, 0}; // the fixed file version, most significant part first
  std::string fileVersionText;      // the "FileVersion" string of the first translation
};

struct KXLocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

class IKXPlatform {
public:
  virtual ~IKXPlatform() = default;

  // --- settings resources ---
  // The settings stream ("TKESTRELIX" resource) of a module, or nullopt when it carries none.
  virtual std::optional<std::vector<uint8_t>> SettingsStream(KXModule module) = 0;
  // The NUL-terminated text at module + offset, or nullopt when reading it faults.
  virtual std::optional<std::string> ReadModuleText(KXModule module, uint32_t offset) = 0;
  // Shows a message box with an OK button.
  virtual void ShowMessage(const std::string &caption, const std::string &text) = 0;

  // --- machine facts used by variable expansion ---
  virtual KXModule ExeModule() = 0;
  // The full path of a module's file.
  virtual std::string ModuleFileName(KXModule module) = 0;
  // The version resource of a file, or nullopt when it has none.
  virtual std::optional<KXFileVersion> FileVersion(const std::string &path) = 0;
  virtual std::string ComputerName() = 0;
  // The user's and the all-users application-data folders ("" when unknown).
  virtual std::string UserAppDataFolder() = 0;
  virtual std::string CommonAppDataFolder() = 0;
  virtual KXLocalTime LocalTime() = 0;
};

} // namespace kx
