#pragma once
// A platform with fixed machine facts and settings streams held in memory.
#include <map>
#include <string>
#include <vector>

#include "crash/base/settings/KXPlatform.h"
#include "crash/base/settings/KXProperty.h"
#include "crash/base/settings/KXSettingsStream.h"

namespace kx::test {

constexpr KXModule kExe = 0x400000;
constexpr KXModule kLib = 0x10000000;
constexpr KXModule kOtherLib = 0x20000000;

class FakePlatform : public IKXPlatform {
public:
  std::map<KXModule, std::vector<uint8_t>> streams;
  std::map<KXModule, std::string> fileNames{{kExe, "C:\\Apps\\Tidewell\\Tidewell.exe"},
                                            {kLib, "C:\\Apps\\Tidewell\\plugins\\Probe.dll"},
                                            {kOtherLib, "C:\\Apps\\Tidewell\\Other.dll"}};
  std::map<std::string, KXFileVersion> versions;
  std::map<std::pair<KXModule, uint32_t>, std::string> moduleTexts;
  std::vector<std::pair<std::string, std::string>> messages;
  std::string computerName = "BENCH-7";
  std::string userAppData = "C:\\Users\\ann\\AppData\\Roaming\\";
  std::string commonAppData = "C:\\ProgramData";
  KXLocalTime now{2026, 3, 9, 14, 3, 7, 45};
  int clockReads = 0;

  std::optional<std::vector<uint8_t>> SettingsStream(KXModule module) override {
    auto it = streams.find(module);
    if (it == streams.end())
      return std::nullopt;
    return it->second;
  }
  std::optional<std::string> ReadModuleText(KXModule module, uint32_t offset) override {
    auto it = moduleTexts.find({module, offset});
    if (it == moduleTexts.end())
      return std::nullopt; // stands for an access fault
    return it->second;
  }
  void ShowMessage(const std::string &caption, const std::string &text) override {
    messages.emplace_back(caption, text);
  }
  KXModule ExeModule() override { return kExe; }
  std::string ModuleFileName(KXModule module) override { return fileNames[module]; }
  std::optional<KXFileVersion> FileVersion(const std::string &path) override {
    auto it = versions.find(path);
    if (it == versions.end())
      return std::nullopt;
    return it->second;
  }
  std::string ComputerName() override { return computerName; }
  std::string UserAppDataFolder() override { return userAppData; }
  std::string CommonAppDataFolder() override { return commonAppData; }
  KXLocalTime LocalTime() override {
    ++clockReads;
    return now;
  }
};

// Builds a settings stream byte by byte, for any value type.
class StreamBuilder {
public:
  StreamBuilder() {
    auto sig = SettingsStreamSignature();
    bytes.assign(sig.begin(), sig.end());
  }
  StreamBuilder &Name(const std::string &name) {
    bytes.push_back(uint8_t(name.size()));
    bytes.insert(bytes.end(), name.begin(), name.end());
    return *this;
  }
  StreamBuilder &Byte(uint8_t b) {
    bytes.push_back(b);
    return *this;
  }
  StreamBuilder &U16(uint16_t v) { return Byte(uint8_t(v)).Byte(uint8_t(v >> 8)); }
  StreamBuilder &U32(uint32_t v) { return U16(uint16_t(v)).U16(uint16_t(v >> 16)); }
  StreamBuilder &Raw(const std::string &s) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  StreamBuilder &Int(const std::string &name, int32_t v) { return Name(name).Byte(kStreamInt32).U32(uint32_t(v)); }
  StreamBuilder &Bool(const std::string &name, bool v) { return Name(name).Byte(v ? kStreamTrue : kStreamFalse); }
  StreamBuilder &Text(const std::string &name, const std::string &v) {
    return Name(name).Byte(kStreamLString).U32(uint32_t(v.size())).Raw(v);
  }
  std::vector<uint8_t> End() {
    std::vector<uint8_t> out = bytes;
    out.push_back(0);
    out.push_back(0);
    return out;
  }
  std::vector<uint8_t> bytes;
};

} // namespace kx::test
