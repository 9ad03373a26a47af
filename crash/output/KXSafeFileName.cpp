#include "crash/output/KXSafeFileName.h"

#include "crash/base/settings/KXText.h"

namespace kx {

namespace {

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 open a device wherever they stand in a path, with any
// extension and with spaces before it.
bool IsDeviceName(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ')
    stem.remove_suffix(1);
  for (const char *device : {"CON", "PRN", "AUX", "NUL"})
    if (SameText(stem, device))
      return true;
  if (stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9')
    return SameText(stem.substr(0, 3), "COM") || SameText(stem.substr(0, 3), "LPT");
  return false;
}

} // namespace

std::optional<std::string> SafeFileName(std::string_view name) {
  const size_t separator = name.find_last_of("\\/:");
  if (separator != std::string_view::npos)
    name.remove_prefix(separator + 1);
  if (name.empty() || name.back() == '.' || name.back() == ' ' || IsDeviceName(name))
    return std::nullopt;
  for (char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || std::string_view("<>\"|?*").find(c) != std::string_view::npos)
      return std::nullopt;
  }
  return std::string(name);
}

} // namespace kx
