#pragma once
// Property records and property lists: the named, typed values that drive the crash reporter.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

enum class TPropertyType : uint8_t { ptString = 0, ptInteger = 1, ptBoolean = 2, ptBinary = 3 };

// One property. A string value is kept as one block: the 8-bit text and its NUL, optionally
// followed (only when set from UTF-16 text) by the same text in UTF-16 with its own NUL. An
// empty string is an empty block.
struct TKXProperty {
  std::string name;
  TPropertyType typ = TPropertyType::ptString;
  bool vBool = false;
  int32_t vInt = 0;
  std::vector<char> vStr;

  // The 8-bit text: the block up to its first NUL.
  std::string Text() const;
  // True when the block carries the UTF-16 copy (it is larger than three times the text length).
  bool HasWideText() const;
  // The UTF-16 copy when the block carries one, else the 8-bit text widened.
  std::u16string WideText() const;
  // Replaces the block with the 8-bit text (an empty text stores no block). The block holds a
  // NUL-terminated text: anything after an embedded NUL is dropped, here and in SetWideText.
  void SetText(std::string_view text);
  // Replaces the block with the 8-bit conversion, its NUL, the UTF-16 text and its NUL
  // (3·n + 3 bytes for n characters that all convert one to one).
  void SetWideText(std::u16string_view text);
};

// An ordered list of properties with the allocation rules of the settings lists: it starts with
// room for a given number of entries and grows by 20 whenever it is full. Entries never move once
// added, so a pointer returned by Find or Append stays valid until the list is cleared.
class TKXPropertyList {
public:
  static constexpr size_t kResourceCapacity = 131;
  static constexpr size_t kGrowBy = 20;

  explicit TKXPropertyList(size_t initialCapacity = kResourceCapacity);

  size_t Count() const { return FProps.size(); }
  size_t Capacity() const { return FCapacity; }
  TKXProperty &operator[](size_t i) { return *FProps[i]; }
  const TKXProperty &operator[](size_t i) const { return *FProps[i]; }

  // First entry with exactly this name (case-sensitive), or null.
  TKXProperty *Find(std::string_view name);
  const TKXProperty *Find(std::string_view name) const;
  // Appends an entry with empty values and returns it.
  TKXProperty &Append(std::string_view name, TPropertyType typ);
  // Frees every entry; the capacity returns to its initial value.
  void Clear();

private:
  size_t FInitialCapacity;
  size_t FCapacity;
  std::vector<std::unique_ptr<TKXProperty>> FProps;
};

} // namespace kx
