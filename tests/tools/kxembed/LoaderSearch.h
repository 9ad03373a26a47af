#pragma once
// Looks a resource up the way the Windows loader does, straight from the directory's bytes and
// without the PE reader's walk: at each level a binary search, among the named entries for a
// name (the query and the stored name in upper case, compared code unit by code unit, a shorter
// name first; resource compilers store names in upper case), among the numbered entries for an
// id. A directory in any other order makes some lookups fail here as they would in the loader.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crash/base/pe/PeImage.h"

namespace kxembed_test {

// A key: a name (non-empty) or an id.
struct LoaderKey {
  std::u16string Name;
  uint32_t Id = 0;
  LoaderKey(uint32_t id) : Id(id) {}
  LoaderKey(const char16_t *name) : Name(name) {}
  LoaderKey(std::u16string name) : Name(std::move(name)) {}
};

inline uint32_t LoaderRead32(const debuginfo::PeSource &image, uint64_t at) {
  uint8_t b[4] = {};
  if (!image.Read(at, b, 4))
    return 0xFFFFFFFFu;
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

inline std::u16string LoaderUpperCase(std::u16string s) {
  for (char16_t &c : s)
    if (c >= u'a' && c <= u'z')
      c = char16_t(c - u'a' + u'A');
  return s;
}

inline std::optional<std::u16string> LoaderName(const debuginfo::PeSource &image, uint64_t at) {
  uint8_t b[2];
  if (!image.Read(at, b, 2))
    return std::nullopt;
  std::u16string s(size_t(b[0] | b[1] << 8), u'\0');
  for (size_t i = 0; i < s.size(); ++i) {
    if (!image.Read(at + 2 + 2 * i, b, 2))
      return std::nullopt;
    s[i] = char16_t(b[0] | b[1] << 8);
  }
  return s;
}

// The target field of the entry for key in the table at root + table.
inline std::optional<uint32_t> LoaderFindEntry(const debuginfo::PeSource &image, uint32_t root, uint32_t table,
                                               const LoaderKey &key) {
  const uint32_t counts = LoaderRead32(image, uint64_t(root) + table + 12);
  const int named = int(counts & 0xFFFF), ids = int(counts >> 16);
  int low = key.Name.empty() ? named : 0;
  int high = key.Name.empty() ? named + ids - 1 : named - 1;
  const std::u16string query = LoaderUpperCase(key.Name);
  while (low <= high) {
    const int mid = (low + high) / 2;
    const uint64_t entry = uint64_t(root) + table + 16 + 8 * uint64_t(mid);
    const uint32_t field = LoaderRead32(image, entry);
    int order;
    if (key.Name.empty()) {
      order = key.Id < field ? -1 : key.Id > field ? 1 : 0;
    } else {
      std::optional<std::u16string> stored = LoaderName(image, uint64_t(root) + (field & 0x7FFFFFFFu));
      if (!stored)
        return std::nullopt;
      order = query.compare(LoaderUpperCase(*stored));
    }
    if (order == 0)
      return LoaderRead32(image, entry + 4);
    if (order < 0)
      high = mid - 1;
    else
      low = mid + 1;
  }
  return std::nullopt;
}

// The bytes of the resource (type, name, language) of the directory at root, found as the loader
// finds it; nothing when a lookup fails or the data cannot be read.
inline std::optional<std::vector<uint8_t>> LoaderFindResource(const debuginfo::PeSource &image, uint32_t root,
                                                              const LoaderKey &type, const LoaderKey &name,
                                                              uint32_t language) {
  std::optional<uint32_t> t = LoaderFindEntry(image, root, 0, type);
  if (!t || !(*t >> 31))
    return std::nullopt;
  std::optional<uint32_t> n = LoaderFindEntry(image, root, *t & 0x7FFFFFFFu, name);
  if (!n || !(*n >> 31))
    return std::nullopt;
  std::optional<uint32_t> l = LoaderFindEntry(image, root, *n & 0x7FFFFFFFu, language);
  if (!l || (*l >> 31))
    return std::nullopt;
  const uint32_t rva = LoaderRead32(image, uint64_t(root) + *l), size = LoaderRead32(image, uint64_t(root) + *l + 4);
  if (size > (64u << 20))
    return std::nullopt;
  std::vector<uint8_t> bytes(size);
  if (!image.Read(rva, bytes.data(), bytes.size()))
    return std::nullopt;
  return bytes;
}

// The same in an image file, through its section table.
inline std::optional<std::vector<uint8_t>> LoaderFindResource(const std::vector<uint8_t> &file, const LoaderKey &type,
                                                              const LoaderKey &name, uint32_t language) {
  std::optional<debuginfo::PeImage> pe = debuginfo::PeImage::Parse(file.data(), file.size());
  if (!pe)
    return std::nullopt;
  return LoaderFindResource(debuginfo::PeFileRvas(*pe, file), pe->Directory(debuginfo::kDirectoryResource).first,
                            type, name, language);
}

} // namespace kxembed_test
