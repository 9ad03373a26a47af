// Fuzz target: the settings stream of a module, read the way the reporter reads it: the settings
// registry asks the platform for the module's stream, reads it (LoadSettingsList: the stream, then
// the stored passwords deciphered) and shows the failure text, if any, in a message box. Every
// property read is then looked up by name and its text read and expanded as a setting's text is.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crash/base/settings/KXExpand.h"
#include "crash/base/settings/KXPlatform.h"
#include "crash/base/settings/KXSettingsObject.h"
#include "crash/base/settings/KXSettingsStream.h"

namespace {

class StreamPlatform final : public kx::IKXPlatform {
public:
  std::vector<uint8_t> stream;
  std::string shown;

  std::optional<std::vector<uint8_t>> SettingsStream(kx::KXModule) override { return stream; }
  std::optional<std::string> ReadModuleText(kx::KXModule, uint32_t) override { return std::nullopt; }
  void ShowMessage(const std::string &, const std::string &text) override { shown = text; }
  kx::KXModule ExeModule() override { return 0x400000; }
  std::string ModuleFileName(kx::KXModule) override { return "C:\\Program Files\\Tidewell\\Tidewell.exe"; }
  std::optional<kx::KXFileVersion> FileVersion(const std::string &) override { return std::nullopt; }
  std::string ComputerName() override { return "STATION"; }
  std::string UserAppDataFolder() override { return "C:\\Users\\user\\AppData\\Roaming"; }
  std::string CommonAppDataFolder() override { return "C:\\ProgramData"; }
  kx::KXLocalTime LocalTime() override { return {2026, 12, 10, 0, 15, 0, 0}; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  StreamPlatform platform;
  platform.stream.assign(data, data + size);
  kx::KXSettingsRegistry registry;
  kx::TKXSettingsModule *list = registry.Acquire(platform.ExeModule(), platform);
  if (!list)
    __builtin_trap(); // the platform always has a stream
  const kx::TKXPropertyList &props = list->props;

  // Without the signature nothing is read and nothing is reported.
  const auto signature = kx::SettingsStreamSignature();
  const bool signed_ = size >= signature.size() && std::equal(signature.begin(), signature.end(), data);
  if (!signed_ && props.Count() != 0)
    __builtin_trap();

  kx::KXExpandArgs args;
  args.module = platform.ExeModule();
  args.exceptClass = "EAccessViolation";
  args.exceptMsg = "Access violation";
  args.bugReport = "report";
  const kx::KXVersionVarFn versionVar = [&props](kx::KXModule) {
    const kx::TKXProperty *p = props.Find("VersionVar");
    return p ? p->Text() : std::string();
  };
  for (size_t i = 0; i < props.Count(); ++i) {
    const kx::TKXProperty &p = props[i];
    if (props.Find(p.name) == nullptr)
      __builtin_trap(); // every property read can be found by its name
    if (p.typ != kx::TPropertyType::ptString)
      continue;
    const std::string text = p.Text();
    if (text.size() > p.vStr.size())
      __builtin_trap();
    (void)kx::ExpandVariables(text, args, platform, versionVar);
    if (p.HasWideText())
      (void)kx::ExpandVariables(p.WideText(), args, platform, versionVar);
  }
  registry.Release(list);
  return 0;
}
