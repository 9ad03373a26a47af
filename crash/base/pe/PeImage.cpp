#include "crash/base/pe/PeImage.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace debuginfo {

namespace {
bool Get16(const uint8_t *data, size_t size, uint64_t pos, uint32_t &out) {
  if (pos + 2 > size)
    return false;
  out = data[pos] | (data[pos + 1] << 8);
  return true;
}
bool Get32(const uint8_t *data, size_t size, uint64_t pos, uint32_t &out) {
  if (pos + 4 > size)
    return false;
  out = data[pos] | (data[pos + 1] << 8) | (data[pos + 2] << 16) | (uint32_t(data[pos + 3]) << 24);
  return true;
}
} // namespace

std::optional<PeImage> PeImage::Parse(const uint8_t *data, size_t size) {
  PeImage img;
  uint32_t v = 0, peOffset = 0;
  if (!Get16(data, size, 0, v) || v != 0x5A4D || !Get32(data, size, 0x3C, peOffset))
    return std::nullopt;
  uint64_t pe = peOffset;
  if (!Get32(data, size, pe, v) || v != 0x00004550)
    return std::nullopt;
  uint64_t fh = pe + 4;
  uint32_t sectionCount = 0, optSize = 0, magic = 0;
  if (!Get16(data, size, fh + 2, sectionCount) || !Get32(data, size, fh + 4, img.TimeDateStamp) ||
      !Get32(data, size, fh + 8, img.PointerToSymbolTable) ||
      !Get32(data, size, fh + 12, img.NumberOfSymbols) || !Get16(data, size, fh + 16, optSize))
    return std::nullopt;
  uint64_t oh = fh + 20;
  if (!Get16(data, size, oh, magic) || (magic != 0x10B && magic != 0x20B))
    return std::nullopt;
  // PE32+ has no BaseOfData, a 64-bit ImageBase and its directories 16 bytes further on. Such an
  // image is accepted only where it is based below 4 GiB, so its addresses fit 32 bits.
  const bool plus = magic == 0x20B;
  const uint32_t dirsAt = plus ? 112 : 96;
  uint32_t dirCount = 0, imageBaseHigh = 0;
  if (optSize < dirsAt || !Get32(data, size, oh + 4, img.SizeOfCode) ||
      !Get32(data, size, oh + 8, img.SizeOfInitializedData) ||
      !Get32(data, size, oh + 12, img.SizeOfUninitializedData) ||
      !Get32(data, size, oh + 16, img.AddressOfEntryPoint) ||
      !Get32(data, size, oh + 20, img.BaseOfCode) ||
      !Get32(data, size, oh + (plus ? 24 : 28), img.ImageBase) ||
      !Get32(data, size, oh + 56, img.SizeOfImage) || !Get32(data, size, oh + 60, img.SizeOfHeaders) ||
      !Get32(data, size, oh + 64, img.CheckSum) ||
      !Get32(data, size, oh + dirsAt - 4, dirCount))
    return std::nullopt;
  if (plus) {
    if (!Get32(data, size, oh + 28, imageBaseHigh) || imageBaseHigh != 0)
      return std::nullopt;
  } else if (!Get32(data, size, oh + 24, img.BaseOfData)) {
    return std::nullopt;
  }
  img.Pe32Plus = plus;
  dirCount = std::min<uint32_t>(dirCount, (optSize - dirsAt) / 8);
  dirCount = std::min<uint32_t>(dirCount, 16);
  for (uint32_t i = 0; i < dirCount; ++i) {
    uint32_t rva = 0, len = 0;
    if (!Get32(data, size, oh + dirsAt + 8 * i, rva) || !Get32(data, size, oh + dirsAt + 4 + 8 * i, len))
      return std::nullopt;
    img.DataDirectories.emplace_back(rva, len);
  }
  uint64_t sh = oh + optSize;
  for (uint32_t i = 0; i < sectionCount; ++i, sh += 40) {
    PeSection s;
    if (sh + 40 > size)
      return std::nullopt;
    const char *name = reinterpret_cast<const char *>(data + sh);
    s.Name.assign(name, strnlen(name, 8));
    if (std::optional<uint64_t> at = img.LongNameOffset(s.Name); at && *at < size) {
      std::string longName;
      for (uint64_t i = *at; i < size && data[i] && longName.size() < 256; ++i)
        longName += char(data[i]);
      s.Name = std::move(longName);
    }
    Get32(data, size, sh + 8, s.VirtualSize);
    Get32(data, size, sh + 12, s.VirtualAddress);
    Get32(data, size, sh + 16, s.SizeOfRawData);
    Get32(data, size, sh + 20, s.PointerToRawData);
    Get32(data, size, sh + 36, s.Characteristics);
    img.Sections.push_back(std::move(s));
  }
  return img;
}

std::vector<uint8_t> PeImage::MapImage(const uint8_t *data, size_t size) const {
  const uint32_t imageSize = std::min<uint32_t>(SizeOfImage, 256u << 20);
  std::vector<uint8_t> image(imageSize, 0);
  const uint64_t headers = std::min<uint64_t>({SizeOfHeaders, size, imageSize});
  if (headers > 0) // an image that claims no size has no buffer to copy into
    std::memcpy(image.data(), data, size_t(headers));
  for (const PeSection &s : Sections) {
    if (s.PointerToRawData >= size || s.VirtualAddress >= imageSize)
      continue;
    uint64_t n = std::min<uint64_t>(s.SizeOfRawData, s.VirtualSize ? s.VirtualSize : s.SizeOfRawData);
    n = std::min<uint64_t>(n, size - s.PointerToRawData);
    n = std::min<uint64_t>(n, imageSize - s.VirtualAddress);
    std::memcpy(image.data() + s.VirtualAddress, data + s.PointerToRawData, size_t(n));
  }
  return image;
}

std::optional<uint32_t> PeImage::FileOffsetOfRva(uint32_t rva) const {
  for (const PeSection &s : Sections) {
    if (rva >= s.VirtualAddress && uint64_t(rva) < uint64_t(s.VirtualAddress) + s.SizeOfRawData)
      return s.PointerToRawData + (rva - s.VirtualAddress);
  }
  return std::nullopt;
}

std::optional<uint64_t> PeImage::LongNameOffset(const std::string &name) const {
  if (name.size() < 2 || name[0] != '/' || !PointerToSymbolTable)
    return std::nullopt;
  return PointerToSymbolTable + uint64_t(NumberOfSymbols) * 18 + std::strtoull(name.c_str() + 1, nullptr, 10);
}

const PeSection *PeImage::FindSection(std::string_view name) const {
  for (const PeSection &s : Sections)
    if (s.Name == name)
      return &s;
  return nullptr;
}

std::optional<std::pair<uint32_t, uint32_t>>
PeImage::FindResourceData(const uint8_t *data, size_t size, uint32_t type,
                      std::string_view name) const {
  if (DataDirectories.size() < 3 || DataDirectories[2].first == 0)
    return std::nullopt;
  auto rootOffset = FileOffsetOfRva(DataDirectories[2].first);
  if (!rootOffset)
    return std::nullopt;
  const uint64_t root = *rootOffset;

  // Walks one directory level; calls match(entryNameField) and returns the entry's target.
  auto findEntry = [&](uint64_t dir, auto &&match) -> std::optional<uint32_t> {
    uint32_t named = 0, ids = 0;
    if (!Get16(data, size, dir + 12, named) || !Get16(data, size, dir + 14, ids))
      return std::nullopt;
    for (uint32_t i = 0; i < named + ids; ++i) {
      uint32_t nameField = 0, target = 0;
      if (!Get32(data, size, dir + 16 + 8 * i, nameField) ||
          !Get32(data, size, dir + 20 + 8 * i, target))
        return std::nullopt;
      if (match(nameField))
        return target;
    }
    return std::nullopt;
  };
  auto typeEntry = findEntry(root, [&](uint32_t f) { return f == type; });
  if (!typeEntry || !(*typeEntry & 0x80000000u))
    return std::nullopt;
  auto nameMatches = [&](uint32_t f) {
    if (!(f & 0x80000000u))
      return false;
    uint64_t pos = root + (f & 0x7FFFFFFFu);
    uint32_t len = 0;
    if (!Get16(data, size, pos, len) || len != name.size() || pos + 2 + 2 * uint64_t(len) > size)
      return false;
    for (uint32_t i = 0; i < len; ++i) {
      uint32_t ch = data[pos + 2 + 2 * i] | (data[pos + 3 + 2 * i] << 8);
      if (ch > 0x7F || std::toupper(int(ch)) != std::toupper((unsigned char)name[i]))
        return false;
    }
    return true;
  };
  auto nameEntry = findEntry(root + (*typeEntry & 0x7FFFFFFFu), nameMatches);
  if (!nameEntry || !(*nameEntry & 0x80000000u))
    return std::nullopt;
  auto langEntry = findEntry(root + (*nameEntry & 0x7FFFFFFFu), [](uint32_t) { return true; });
  if (!langEntry || (*langEntry & 0x80000000u))
    return std::nullopt;
  uint32_t dataRva = 0, dataSize = 0;
  if (!Get32(data, size, root + *langEntry, dataRva) ||
      !Get32(data, size, root + *langEntry + 4, dataSize))
    return std::nullopt;
  auto offset = FileOffsetOfRva(dataRva);
  if (!offset || uint64_t(*offset) + dataSize > size)
    return std::nullopt;
  return std::make_pair(*offset, dataSize);
}

} // namespace debuginfo
