#pragma once
// Finds compiler-mangled C++ names left in text meant for people (reports, tool output, model
// names): "_Z" followed by a letter or digit, where the "_Z" does not continue a word of letters
// or digits. That finds "_ZN5TForm8FormProcEP6HWND__jjl@16", "__ZN2kx3useEv", "@_Z4fastii@8",
// "Unit._ZN1A1fEv" and the name inside "_GLOBAL__sub_I__ZN2kx5StartEv", but not "Foo_Zap".
#include <string>
#include <string_view>

namespace tidewell_test {

// The first identifier of the text that holds a mangled name (with the "@", "_" and clone
// suffixes around it), or "" when there is none.
inline std::string FirstMangledName(std::string_view text) {
  auto alnum = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); };
  auto symbolChar = [&](char c) { return alnum(c) || c == '_' || c == '@' || c == '$' || c == '.'; };
  for (size_t at = text.find("_Z"); at != std::string_view::npos; at = text.find("_Z", at + 1)) {
    if ((at > 0 && alnum(text[at - 1])) || at + 2 >= text.size() || !alnum(text[at + 2]))
      continue;
    size_t start = at, end = at;
    while (start > 0 && symbolChar(text[start - 1]) && text[start - 1] != '.')
      --start;
    while (end < text.size() && symbolChar(text[end]))
      ++end;
    return std::string(text.substr(start, end - start));
  }
  return {};
}

inline bool ContainsMangledName(std::string_view text) { return !FirstMangledName(text).empty(); }

} // namespace tidewell_test
