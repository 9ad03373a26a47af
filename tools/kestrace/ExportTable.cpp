#include "tools/kestrace/ExportTable.h"

#include <string>

namespace kestrace {

namespace {
template <class T> bool Read(const ImageReader &read, uint32_t rva, T &value) { return read(rva, &value, sizeof value); }

constexpr uint16_t kPe32Magic = 0x10b, kPe32PlusMagic = 0x20b;
constexpr uint32_t kMaxNames = 65536;
} // namespace

std::optional<uint32_t> ExportRva(const ImageReader &read, std::string_view name) {
  uint16_t mz = 0;
  uint32_t ntHeaders = 0, signature = 0;
  if (!Read(read, 0, mz) || mz != 0x5a4d || !Read(read, 0x3c, ntHeaders) || !Read(read, ntHeaders, signature) ||
      signature != 0x00004550)
    return std::nullopt;
  const uint32_t optional = ntHeaders + 24;
  uint16_t magic = 0;
  if (!Read(read, optional, magic) || (magic != kPe32Magic && magic != kPe32PlusMagic))
    return std::nullopt;
  const uint32_t directories = optional + (magic == kPe32Magic ? 92 : 108);
  uint32_t directoryCount = 0, exportRva = 0, exportSize = 0;
  if (!Read(read, directories, directoryCount) || directoryCount < 1 || !Read(read, directories + 4, exportRva) ||
      !Read(read, directories + 8, exportSize) || exportRva == 0)
    return std::nullopt;

  uint32_t functionCount = 0, nameCount = 0, functions = 0, names = 0, ordinals = 0;
  if (!Read(read, exportRva + 20, functionCount) || !Read(read, exportRva + 24, nameCount) ||
      !Read(read, exportRva + 28, functions) || !Read(read, exportRva + 32, names) ||
      !Read(read, exportRva + 36, ordinals))
    return std::nullopt;
  std::string candidate(name.size() + 1, '\0');
  for (uint32_t i = 0; i < nameCount && i < kMaxNames; ++i) {
    uint32_t nameRva = 0;
    if (!Read(read, names + 4 * i, nameRva))
      return std::nullopt;
    // The name and its terminating zero.
    if (!read(nameRva, candidate.data(), candidate.size()) || candidate.back() != '\0' ||
        std::string_view(candidate.data(), name.size()) != name)
      continue;
    uint16_t index = 0;
    uint32_t functionRva = 0;
    if (!Read(read, ordinals + 2 * i, index) || index >= functionCount ||
        !Read(read, functions + 4 * uint32_t(index), functionRva) || functionRva == 0)
      return std::nullopt;
    if (functionRva >= exportRva && functionRva - exportRva < exportSize)
      return std::nullopt; // forwarded: the address is a "module.function" text
    return functionRva;
  }
  return std::nullopt;
}

} // namespace kestrace
