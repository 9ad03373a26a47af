#include "crash/analysis/debuginfo/SymbolNames.h"

#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <memory>
#include <optional>

namespace debuginfo {

namespace {

bool IsIdentifierChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsItanium(std::string_view s) { return s.size() > 2 && s[0] == '_' && s[1] == 'Z'; }

// Where the Itanium name of an undecorated symbol starts: at 0, or behind the prefix of the
// functions GCC writes to construct and destroy a unit's globals, which it names after the
// unit's first function ("_GLOBAL__sub_I__ZN2kx5StartEv"); npos for other names.
size_t ItaniumStart(std::string_view s) {
  if (IsItanium(s))
    return 0;
  for (std::string_view prefix : {"_GLOBAL__sub_I_", "_GLOBAL__sub_D_"})
    if (s.starts_with(prefix) && IsItanium(s.substr(prefix.size())))
      return prefix.size();
  return std::string_view::npos;
}

// The byte count of a stdcall or fastcall decoration: decimal without leading zeros, and a
// multiple of 4 (every argument takes whole stack slots).
bool IsArgumentSize(std::string_view digits) {
  if (digits.empty() || digits.size() > 6 || (digits.size() > 1 && digits[0] == '0'))
    return false;
  unsigned value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9')
      return false;
    value = value * 10 + unsigned(c - '0');
  }
  return value % 4 == 0;
}

// GCC appends the suffixes of cloned functions (".cold", ".constprop.0", ".isra.0") after the
// decoration: "__ZL4ProcP6HWND__jjl@16.constprop.0". The position where they start, else npos.
size_t CloneSuffixStart(std::string_view s, size_t from) {
  size_t dot = s.find('.', from);
  if (dot == std::string_view::npos)
    return dot;
  for (size_t i = dot; i < s.size(); ++i)
    if (!(IsIdentifierChar(s[i]) || (s[i] == '.' && i + 1 < s.size() && IsIdentifierChar(s[i + 1]))))
      return std::string_view::npos;
  return dot;
}

std::optional<std::string> Demangled(const std::string &name) {
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> out(abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status),
                                                  &std::free);
  if (status != 0 || !out)
    return std::nullopt;
  return std::string(out.get());
}

// If an "operator" keyword of a function name starts at i (not part of a longer identifier),
// the position after its symbol ("operator<" -> after "<", "operator()" -> after "()"); for
// named operators ("operator new", conversions) the position after the keyword. npos otherwise.
size_t OperatorEnd(const std::string &s, size_t i) {
  static const char kKeyword[] = "operator";
  const size_t n = sizeof kKeyword - 1;
  if (s.compare(i, n, kKeyword) != 0 || (i > 0 && IsIdentifierChar(s[i - 1])) ||
      (i + n < s.size() && IsIdentifierChar(s[i + n])))
    return std::string::npos;
  static const char *const kSymbols[] = {"()", "[]", "->*", "->", "<=>", "<<=", ">>=", "<<", ">>", "<=", ">=",
                                         "==", "!=", "&&", "||", "++", "--", "+=", "-=", "*=", "/=", "%=",
                                         "&=", "|=", "^=", "<", ">", "=", "!", "+", "-", "*", "/", "%",
                                         "&", "|", "^", "~", ","};
  for (const char *symbol : kSymbols)
    if (s.compare(i + n, std::strlen(symbol), symbol) == 0)
      return i + n + std::strlen(symbol);
  return i + n;
}

bool Opens(char c) { return c == '<' || c == '(' || c == '[' || c == '{'; }
bool Closes(char c) { return c == '>' || c == ')' || c == ']' || c == '}'; }

} // namespace

std::string UndecoratedSymbol(std::string_view symbol, SymbolSource source) {
  std::string_view name = symbol, suffix;
  bool stdcall = false, fastcall = false;
  const size_t at = symbol.rfind('@');
  if (at != std::string_view::npos && at > 0) {
    const size_t clone = CloneSuffixStart(symbol, at + 1);
    const size_t end = clone == std::string_view::npos ? symbol.size() : clone;
    std::string_view base = symbol.substr(0, at);
    fastcall = base.size() > 1 && base[0] == '@';
    if (fastcall)
      base.remove_prefix(1);
    if (base[0] != '@' && IsArgumentSize(symbol.substr(at + 1, end - at - 1))) {
      name = base;
      suffix = symbol.substr(end);
      stdcall = !fastcall;
    } else {
      fastcall = false;
    }
  }
  // The symbol table's extra underscore: always there on C++ names, on stdcall names as part of
  // the decoration, and on every other C name that comes from the table (fastcall has "@").
  if (name.starts_with("__Z"))
    name.remove_prefix(1);
  else if (!IsItanium(name) && !fastcall && (stdcall || source == SymbolSource::CoffTable) &&
           name.size() > 1 && name[0] == '_')
    name.remove_prefix(1);
  return std::string(name) + std::string(suffix);
}

std::string DemangleSymbol(std::string_view symbol, SymbolSource source) {
  std::string name = UndecoratedSymbol(symbol, source);
  const size_t start = ItaniumStart(name);
  if (start == std::string::npos)
    return name;
  auto demangled = Demangled(name.substr(start));
  return demangled ? name.substr(0, start) + *demangled : std::string(symbol);
}

std::string FunctionDisplayName(const std::string &demangled) {
  std::string s = demangled;
  // Clones of the function (" [clone .cold]", " [clone .constprop.0]"): the same function.
  for (size_t at; s.ends_with("]") && (at = s.rfind(" [clone .")) != std::string::npos;)
    s.resize(at);
  // ABI tags ("VendorName[abi:cxx11]") are not part of the name as written.
  for (size_t at; (at = s.find("[abi:")) != std::string::npos;) {
    size_t end = s.find(']', at);
    s.erase(at, end == std::string::npos ? std::string::npos : end + 1 - at);
  }
  // Trailing qualifiers of member functions.
  for (bool again = true; again;) {
    again = false;
    for (const char *q : {" const", " volatile", " &&", " &", " noexcept"}) {
      size_t n = std::strlen(q);
      if (s.size() > n && s.compare(s.size() - n, n, q) == 0) {
        s.resize(s.size() - n);
        again = true;
      }
    }
  }
  // The parameter list: the parenthesis group at the end.
  if (!s.empty() && s.back() == ')') {
    int depth = 0;
    for (size_t i = s.size(); i-- > 0;) {
      if (s[i] == ')')
        ++depth;
      else if (s[i] == '(' && --depth == 0) {
        s.resize(i);
        break;
      }
    }
  }
  // A return type in front (templates): the last blank outside brackets separates it. Blanks
  // after an operator keyword belong to its name ("operator int (*)(int)").
  int depth = 0;
  size_t cut = std::string::npos;
  for (size_t i = 0; i < s.size(); ++i) {
    char ch = s[i];
    if (depth == 0) {
      if (size_t end = OperatorEnd(s, i); end != std::string::npos) {
        if (end == i + 8)
          break; // named operator or conversion: the rest is its name
        i = end - 1;
        continue;
      }
    }
    if (Opens(ch))
      ++depth;
    else if (Closes(ch) && depth > 0)
      --depth;
    else if (ch == ' ' && depth == 0 && s.compare(i + 1, 5, "const") != 0 && s.compare(i + 1, 8, "volatile") != 0)
      cut = i; // not the qualifier of an enclosing function ("f() const::{lambda()#1}")
  }
  if (cut != std::string::npos)
    s = s.substr(cut + 1);
  const std::string anon = "(anonymous namespace)::";
  for (size_t at; (at = s.find(anon)) != std::string::npos;)
    s.erase(at, anon.size());
  // Scope separators outside brackets become dots; an operator's symbol is copied as it is.
  std::string out;
  depth = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    char ch = s[i];
    if (depth == 0) {
      if (size_t end = OperatorEnd(s, i); end != std::string::npos) {
        out.append(s, i, end - i);
        i = end - 1;
        continue;
      }
    }
    if (Opens(ch))
      ++depth;
    else if (Closes(ch) && depth > 0)
      --depth;
    if (depth == 0 && ch == ':' && i + 1 < s.size() && s[i + 1] == ':') {
      out += '.';
      ++i;
      continue;
    }
    out += ch;
  }
  return out;
}

std::string ReadableFunctionName(std::string_view symbol, SymbolSource source) {
  std::string name = UndecoratedSymbol(symbol, source);
  const size_t start = ItaniumStart(name);
  if (start == std::string::npos)
    return name;
  auto demangled = Demangled(name.substr(start));
  return demangled ? name.substr(0, start) + FunctionDisplayName(*demangled) : std::string(symbol);
}

} // namespace debuginfo
