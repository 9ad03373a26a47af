// A library with its own settings stream and its own copy of the settings shell (and of the C++
// runtime). The test executable drives it through these exports.
#include <cstdint>

#include "crash/base/settings/win32/KXSettingsShell.h"

using namespace kx;

#define PROBE extern "C" __declspec(dllexport)

PROBE int ProbeStart() { return KXSettingsShell::Instance().Start()->IsValid() ? 1 : 0; }

PROBE void ProbeStop() { KXSettingsShell::Instance().Stop(); }

PROBE std::uintptr_t ProbeRegistry() {
  return reinterpret_cast<std::uintptr_t>(&KXSettingsShell::Instance().Context()->Registry());
}

PROBE std::uintptr_t ProbeReporterModule() { return KXSettingsShell::Instance().ReporterModule(); }

PROBE std::uint32_t ProbeSmtpPort(std::uintptr_t module) { return ModuleSettings(module)->GetSmtpPort(); }

PROBE void ProbeSetSmtpPort(std::uintptr_t module, std::uint32_t port) { ModuleSettings(module)->SetSmtpPort(port); }

PROBE int ProbeAutoSave(std::uintptr_t module) { return ModuleSettings(module)->GetAutoSave() ? 1 : 0; }

// The module whose settings this copy finds for the code that called this function.
PROBE std::uintptr_t ProbeCallerModule() { return CallerModuleSettings(1)->Module(); }

// Makes and drops the module's settings object again and again (so that its property list is
// created and freed each time when nobody else holds it); counts the reads that were not expected.
PROBE int ProbeChurn(std::uintptr_t module, std::uint32_t expectedSmtpPort, int rounds) {
  int unexpected = 0;
  std::shared_ptr<KXSettingsContext> context = KXSettingsShell::Instance().Context();
  for (int i = 0; i < rounds; ++i)
    if (CreateModuleSettings(context, module)->GetSmtpPort() != expectedSmtpPort)
      ++unexpected;
  return unexpected;
}
