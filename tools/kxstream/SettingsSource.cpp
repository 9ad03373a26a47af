#include "tools/kxstream/SettingsSource.h"

#include <set>

#include "crash/base/settings/KXSettingsStream.h"

namespace kx {

namespace {

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// The rest of a line after a value: blanks, optionally followed by a comment.
void ExpectEnd(std::string_view rest, int line) {
  size_t i = 0;
  while (i < rest.size() && IsBlank(rest[i]))
    ++i;
  if (i < rest.size() && rest[i] != '#')
    throw StreamSourceError(line, "unexpected text after the value: '" + std::string(rest.substr(i)) + "'");
}

std::string ParseText(std::string_view v, int line) {
  std::string text;
  size_t i = 1; // after the opening quote
  for (;;) {
    if (i >= v.size())
      throw StreamSourceError(line, "text without its closing quote");
    char c = v[i++];
    if (c == '"')
      break;
    if (c != '\\') {
      text += c;
      continue;
    }
    if (i >= v.size())
      throw StreamSourceError(line, "text without its closing quote");
    char e = v[i++];
    switch (e) {
    case '"':
    case '\\':
      text += e;
      break;
    case 't':
      text += '\t';
      break;
    case 'r':
      text += '\r';
      break;
    case 'n':
      text += '\n';
      break;
    case 'x': {
      int hi = i < v.size() ? HexDigit(v[i]) : -1;
      int lo = i + 1 < v.size() ? HexDigit(v[i + 1]) : -1;
      if (hi < 0 || lo < 0)
        throw StreamSourceError(line, "\\x needs two hexadecimal digits");
      text += char(hi * 16 + lo);
      i += 2;
      break;
    }
    default:
      throw StreamSourceError(line, std::string("unknown escape \\") + e);
    }
  }
  ExpectEnd(v.substr(i), line);
  return text;
}

void ParseValue(std::string_view v, int line, TKXPropertyList &list, const std::string &name) {
  if (v.empty())
    throw StreamSourceError(line, "missing value for " + name);
  if (v[0] == '"') {
    list.Append(name, TPropertyType::ptString).SetText(ParseText(v, line));
    return;
  }
  size_t end = 0;
  while (end < v.size() && !IsBlank(v[end]) && v[end] != '#')
    ++end;
  std::string_view word = v.substr(0, end);
  ExpectEnd(v.substr(end), line);
  if (word == "true" || word == "false") {
    list.Append(name, TPropertyType::ptBoolean).vBool = word == "true";
    return;
  }
  int32_t value = 0;
  switch (ScanInt32(word, true, value)) {
  case TIntegerScan::ok:
    break;
  case TIntegerScan::notANumber:
    throw StreamSourceError(line, "value of " + name + " is neither true, false, an integer nor a quoted text");
  case TIntegerScan::outOfRange:
    throw StreamSourceError(line, "integer out of the 32-bit range: " + std::string(word));
  }
  list.Append(name, TPropertyType::ptInteger).vInt = value;
}

} // namespace

TKXPropertyList ParseSettingsSource(std::string_view source) {
  TKXPropertyList list;
  std::set<std::string> seen;
  TSourceLines lines(source, IsBlank);
  std::string_view text;
  while (lines.Next(text)) {
    const int line = lines.Number();
    size_t i = 0;
    const size_t start = 0;
    while (i < text.size() && IsNameChar(text[i]))
      ++i;
    std::string name(text.substr(start, i - start));
    if (name.empty())
      throw StreamSourceError(line, "expected a property name");
    if (name.size() > 255)
      throw StreamSourceError(line, "property name longer than 255 characters");
    while (i < text.size() && IsBlank(text[i]))
      ++i;
    if (i == text.size() || text[i] != '=')
      throw StreamSourceError(line, "expected '=' after " + name);
    ++i;
    while (i < text.size() && IsBlank(text[i]))
      ++i;
    if (!seen.insert(name).second)
      throw StreamSourceError(line, name + " is given twice");
    ParseValue(text.substr(i), line, list, name);
  }
  return list;
}

std::vector<uint8_t> CompileSettingsSource(std::string_view source) {
  TKXPropertyList list = ParseSettingsSource(source);
  EncipherStoredPasswords(list);
  return WriteSettingsStream(list);
}

} // namespace kx
