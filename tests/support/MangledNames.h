#pragma once
// Finds compiler-mangled C++ names left in text meant for people (reports, tool output, model
// names): a token that starts, after an optional fastcall "@" and the symbol table's extra
// underscore, with "_Z" and a letter or digit ("_ZN5TForm8FormProcEP6HWND__jjl@16",
// "__ZN2kx3useEv", "@_Z4fastii@8"). A token begins at the start of the text or after a character
// that cannot be part of one (a dot counts as such: "Unit._ZN1A1fEv" is found), so "Foo_Zap"
// never counts.
#include <string>
#include <string_view>

namespace tidewell_test {

// The first mangled token of the text, or "" when there is none.
inline std::string FirstMangledName(std::string_view text) {
  auto identifier = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '@' ||
           c == '$';
  };
  for (size_t start = 0; start < text.size(); ++start) {
    if (!identifier(text[start]) || (start > 0 && identifier(text[start - 1])))
      continue;
    size_t i = start;
    if (text[i] == '@')
      ++i;
    if (i < text.size() && text[i] == '_' && text.substr(i + 1, 2) == "_Z")
      ++i;
    const bool mangled = text.substr(i, 2) == "_Z" && i + 2 < text.size() && identifier(text[i + 2]) &&
                         text[i + 2] != '_' && text[i + 2] != '@' && text[i + 2] != '$';
    if (!mangled)
      continue;
    size_t end = start;
    while (end < text.size() && (identifier(text[end]) || text[end] == '.'))
      ++end;
    return std::string(text.substr(start, end - start));
  }
  return {};
}

inline bool ContainsMangledName(std::string_view text) { return !FirstMangledName(text).empty(); }

} // namespace tidewell_test
