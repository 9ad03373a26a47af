#include "crash/ui/assistant/EMailAddress.h"

#include <cstdint>

namespace kx {

namespace {
bool AddressCharacter(char c) {
  return c == '\'' || c == '+' || c == '-' || c == '_' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
         (c >= 'a' && c <= 'z');
}
bool Blank(char c) { return uint8_t(c) <= 32; }
} // namespace

bool ValidEMailAddress(std::string_view text) {
  if (text.empty() || Blank(text.front()) || Blank(text.back()))
    return false;
  const size_t at = text.find('@');
  if (at == std::string_view::npos || at == 0 || text.find('.', at + 1) == std::string_view::npos)
    return false;
  const size_t lastAt = text.rfind('@');
  if (text.front() == '.' || text.back() == '.' || (lastAt + 1 < text.size() && text[lastAt + 1] == '.'))
    return false;
  // Without the address characters and the dots exactly one "@" is left.
  bool character = false, dot = false;
  size_t others = 0;
  for (char c : text) {
    if (AddressCharacter(c))
      character = true;
    else if (c == '.')
      dot = true;
    else
      ++others;
  }
  return character && dot && others == 1; // the one left is the "@" found above
}

} // namespace kx
