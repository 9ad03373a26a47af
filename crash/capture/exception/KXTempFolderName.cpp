#include "crash/capture/exception/KXTempFolderName.h"

#include "crash/base/settings/KXText.h"

namespace kx {

namespace {

constexpr std::u16string_view kSuffix = u".Kestrelix.";
constexpr size_t kRandomDigits = 8;

bool IsHexDigit(char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'); }

} // namespace

std::u16string TempFolderName(std::u16string_view exeName, uint32_t processId, uint32_t random) {
  std::u16string name(exeName);
  name += kSuffix;
  name += [&] {
    std::u16string digits;
    do {
      digits.insert(digits.begin(), static_cast<char16_t>(u'0' + processId % 10));
      processId /= 10;
    } while (processId != 0);
    return digits;
  }();
  name += u'-';
  for (int shift = 28; shift >= 0; shift -= 4)
    name += u"0123456789abcdef"[(random >> shift) & 0xF];
  return name;
}

std::u16string TempFolderPattern(std::u16string_view exeName) {
  std::u16string pattern(exeName);
  pattern += kSuffix;
  pattern += u'*';
  return pattern;
}

std::optional<uint32_t> TempFolderProcess(std::u16string_view folderName, std::u16string_view exeName) {
  const size_t prefix = exeName.size() + kSuffix.size();
  if (folderName.size() < prefix + 2 + kRandomDigits ||
      !SameTextW(folderName.substr(0, exeName.size()), exeName) ||
      folderName.substr(exeName.size(), kSuffix.size()) != kSuffix)
    return std::nullopt;
  std::u16string_view rest = folderName.substr(prefix);
  const size_t dash = rest.size() - kRandomDigits - 1;
  if (rest[dash] != u'-')
    return std::nullopt;
  for (char16_t c : rest.substr(dash + 1))
    if (!IsHexDigit(c))
      return std::nullopt;
  std::u16string_view digits = rest.substr(0, dash);
  if (digits.size() > 10 || (digits.size() > 1 && digits[0] == u'0'))
    return std::nullopt;
  uint64_t id = 0;
  for (char16_t c : digits) {
    if (c < u'0' || c > u'9')
      return std::nullopt;
    id = id * 10 + (c - u'0');
  }
  if (id > UINT32_MAX)
    return std::nullopt;
  return static_cast<uint32_t>(id);
}

} // namespace kx
