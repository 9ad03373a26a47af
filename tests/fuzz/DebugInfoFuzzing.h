#pragma once
// What the debug-information fuzz targets share: module files served from memory (the exe, its
// map file and its companion container), and the lookups the report makes on a model, so that
// the sanitizers see reads of whatever a reader produced.
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "crash/analysis/debuginfo/MapFile.h"

namespace kx::fuzz {

inline constexpr char kFuzzModuleName[] = "C:\\Program Files\\Tidewell\\Tidewell.exe";

class MemoryModuleFiles final : public IModuleFiles {
public:
  std::optional<std::vector<uint8_t>> exe, map, kes;
  std::string minDebugInfo; // the "MinDebugInfo" setting of the module

  std::optional<std::vector<uint8_t>> ReadFile(const std::string &path) override {
    const std::string ext = path.size() >= 4 ? path.substr(path.size() - 4) : std::string();
    if (path == kFuzzModuleName)
      return exe;
    if (ext == ".map")
      return map;
    if (ext == ".kes")
      return kes;
    return std::nullopt;
  }
  std::string SettingsProperty(const std::string &, const std::string &name) override {
    return name == "MinDebugInfo" ? minDebugInfo : std::string();
  }
};

// The lookups of the report and of the stack trace: lines, segments and publics at addresses in
// and around the code, the exception helpers by name, and the export of the model.
inline void ProbeModel(const TMapFile &m, const uint8_t *data, size_t size) {
  uint32_t probe = 0;
  if (size >= 4)
    std::memcpy(&probe, data + size - 4, 4);
  for (uint64_t a : {uint64_t(probe), m.BaseOfCode(), m.TopOfCode(), m.BaseOfCode() + 0x10, m.EntryPoint(),
                     uint64_t(0), uint64_t(0xFFFFFFFFu), ~uint64_t(0)}) {
    uint64_t next = 0;
    m.FindLine(a, next);
    m.FindLine(a);
    m.FindSegment(true, a);
    m.FindSegment(false, a);
    m.FindPublic(a);
  }
  for (int i = 0; i < m.SegmentCount() && i < 8; ++i) {
    const TMfSegment s = m.FindSegmentAt(i);
    m.FindPublic(true, s.Unit_, "x", false);
    m.FindAddress(s.Unit_, "x");
  }
  for (int i = 0; i < m.PublicCount() && i < 8; ++i)
    (void)m.FindPublicAt(i);
  for (const char *helper : {"@HandleOnException", "@HandleFinally", "@HandleAnyException", "@Halt0"})
    m.FindPublic(true, "System", helper, true);
}

} // namespace kx::fuzz
