#pragma once
// The resources an image is to carry: the leaves of its resource directory, each with its data
// where it already lies in the image or as bytes for the new section; the names kxembed accepts;
// and the entry order the loaders' binary search relies on.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crash/base/pe/PeImage.h"

namespace kxembed {

struct ResourceLeaf {
  debuginfo::PeResourceName Type, Name, Language;
  uint32_t CodePage = 0;
  // Data that stays where it lies in the image...
  uint32_t DataRva = 0;
  uint32_t DataSize = 0;
  // ...or the bytes the new resource section holds for it.
  std::optional<std::vector<uint8_t>> NewData;
};

inline constexpr size_t kMaxResourceNameLength = 64;

// 1 to 64 characters of A-Z, a-z, 0-9 and '_'.
bool IsValidResourceName(std::string_view name);

// A name as the resource compiler stores it: upper case, UTF-16.
std::u16string StoredResourceName(std::string_view name);

// The order of the entries of one directory table: named entries first, by their upper-case
// UTF-16 names compared code unit by code unit (a name before every longer name it begins),
// then numbered entries by ascending id.
bool ResourceNameLess(const debuginfo::PeResourceName &a, const debuginfo::PeResourceName &b);

// Orders leaves by type, then name, then language, each by ResourceNameLess.
bool ResourceLeafLess(const ResourceLeaf &a, const ResourceLeaf &b);

// Puts an RCDATA resource named `name` (valid, see above) with the given bytes, language
// neutral: every RCDATA resource of that name in any case and language gives way to it.
void PutRcData(std::vector<ResourceLeaf> &leaves, std::string_view name, std::vector<uint8_t> bytes);

} // namespace kxembed
