#include "crash/delivery/KXHeaderValue.h"

namespace kx {

bool IsSingleLineValue(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string EscapedQuotedValue(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    if (c == '"' || c == '\\')
      escaped += '\\';
    escaped += c;
  }
  return escaped;
}

} // namespace kx
