#include "crash/report/inventory/InventoryText.h"

namespace kx {

std::u16string PadRight(std::u16string_view text, size_t width) {
  std::u16string padded(text);
  if (padded.size() < width)
    padded.append(width - padded.size(), u' ');
  return padded;
}

std::string PadRight(std::string_view text, size_t width) {
  std::string padded(text);
  if (padded.size() < width)
    padded.append(width - padded.size(), ' ');
  return padded;
}

void SplitFileName(std::u16string_view fullName, std::u16string &folder, std::u16string &fileName) {
  const size_t slash = fullName.rfind(u'\\');
  if (slash == std::u16string_view::npos) {
    folder.clear();
    fileName = fullName;
    return;
  }
  folder = fullName.substr(0, slash);
  fileName = fullName.substr(slash + 1);
}

std::u16string AsciiToUtf16(std::string_view text) { return std::u16string(text.begin(), text.end()); }

} // namespace kx
