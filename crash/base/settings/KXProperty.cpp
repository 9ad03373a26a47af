#include "crash/base/settings/KXProperty.h"

#include <algorithm>
#include <cstring>

#include "crash/base/settings/KXText.h"

namespace kx {

namespace {
size_t TextLength(const std::vector<char> &block) {
  if (block.empty())
    return 0;
  const void *nul = std::memchr(block.data(), 0, block.size());
  return nul ? size_t(static_cast<const char *>(nul) - block.data()) : block.size();
}
} // namespace

std::string TKXProperty::Text() const { return std::string(vStr.data(), TextLength(vStr)); }

bool TKXProperty::HasWideText() const { return !vStr.empty() && vStr.size() > 3 * TextLength(vStr); }

std::u16string TKXProperty::WideText() const {
  if (!HasWideText())
    return WidenToUtf16(Text());
  std::u16string wide;
  for (size_t i = TextLength(vStr) + 1; i + 1 < vStr.size(); i += 2) {
    char16_t u = char16_t(uint8_t(vStr[i]) | uint16_t(uint8_t(vStr[i + 1])) << 8);
    if (u == 0)
      break;
    wide.push_back(u);
  }
  return wide;
}

void TKXProperty::SetText(std::string_view text) {
  vStr.clear();
  text = text.substr(0, text.find('\0')); // the block holds a NUL-terminated text
  if (text.empty())
    return;
  vStr.assign(text.begin(), text.end());
  vStr.push_back('\0');
}

void TKXProperty::SetWideText(std::u16string_view text) {
  vStr.clear();
  text = text.substr(0, text.find(u'\0'));
  if (text.empty())
    return;
  std::string narrow = NarrowUtf16(text);
  narrow.resize(std::min(narrow.size(), narrow.find('\0')));
  vStr.reserve(narrow.size() + 1 + 2 * (text.size() + 1));
  vStr.assign(narrow.begin(), narrow.end());
  vStr.push_back('\0');
  for (char16_t u : text) {
    vStr.push_back(char(u & 0xFF));
    vStr.push_back(char(u >> 8));
  }
  vStr.push_back('\0');
  vStr.push_back('\0');
}

TKXPropertyList::TKXPropertyList(size_t initialCapacity)
    : FInitialCapacity(initialCapacity), FCapacity(initialCapacity) {
  FProps.reserve(FCapacity);
}

TKXProperty *TKXPropertyList::Find(std::string_view name) {
  for (auto &p : FProps)
    if (p->name == name)
      return p.get();
  return nullptr;
}

const TKXProperty *TKXPropertyList::Find(std::string_view name) const {
  return const_cast<TKXPropertyList *>(this)->Find(name);
}

TKXProperty &TKXPropertyList::Append(std::string_view name, TPropertyType typ) {
  if (FProps.size() >= FCapacity) {
    FCapacity += kGrowBy;
    FProps.reserve(FCapacity);
  }
  auto prop = std::make_unique<TKXProperty>();
  prop->name = std::string(name);
  prop->typ = typ;
  FProps.push_back(std::move(prop));
  return *FProps.back();
}

void TKXPropertyList::Clear() {
  FProps.clear();
  FProps.shrink_to_fit();
  FCapacity = FInitialCapacity;
  FProps.reserve(FCapacity);
}

} // namespace kx
