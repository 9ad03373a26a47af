#include "tools/kxembed/ResourceTree.h"

#include <algorithm>

namespace kxembed {

namespace {

char16_t UpperCase(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c; }

bool SameNameIgnoringCase(const std::u16string &a, const std::u16string &b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char16_t x, char16_t y) { return UpperCase(x) == UpperCase(y); });
}

} // namespace

bool IsValidResourceName(std::string_view name) {
  if (name.empty() || name.size() > kMaxResourceNameLength)
    return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  });
}

std::u16string StoredResourceName(std::string_view name) {
  std::u16string stored;
  for (char c : name)
    stored.push_back(UpperCase(char16_t(static_cast<unsigned char>(c))));
  return stored;
}

bool ResourceNameLess(const debuginfo::PeResourceName &a, const debuginfo::PeResourceName &b) {
  if (a.IsString != b.IsString)
    return a.IsString;
  if (!a.IsString)
    return a.Id < b.Id;
  return std::lexicographical_compare(a.String.begin(), a.String.end(), b.String.begin(), b.String.end(),
                                      [](char16_t x, char16_t y) { return UpperCase(x) < UpperCase(y); });
}

bool ResourceLeafLess(const ResourceLeaf &a, const ResourceLeaf &b) {
  if (ResourceNameLess(a.Type, b.Type) || ResourceNameLess(b.Type, a.Type))
    return ResourceNameLess(a.Type, b.Type);
  if (ResourceNameLess(a.Name, b.Name) || ResourceNameLess(b.Name, a.Name))
    return ResourceNameLess(a.Name, b.Name);
  return ResourceNameLess(a.Language, b.Language);
}

void PutRcData(std::vector<ResourceLeaf> &leaves, std::string_view name, std::vector<uint8_t> bytes) {
  ResourceLeaf leaf;
  leaf.Type.Id = debuginfo::kResourceTypeRcData;
  leaf.Name.IsString = true;
  leaf.Name.String = StoredResourceName(name);
  leaf.DataSize = uint32_t(bytes.size());
  leaf.NewData = std::move(bytes);
  std::erase_if(leaves, [&](const ResourceLeaf &old) {
    return !old.Type.IsString && old.Type.Id == debuginfo::kResourceTypeRcData && old.Name.IsString &&
           SameNameIgnoringCase(old.Name.String, leaf.Name.String);
  });
  leaves.push_back(std::move(leaf));
}

} // namespace kxembed
