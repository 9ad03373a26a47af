#include "tools/kxstream/FormSource.h"

#include <cctype>
#include <vector>

#include "crash/base/propstream/PropertyStream.h"

namespace kx {

namespace {

bool IsSpace(char c) { return std::isspace(uint8_t(c)); }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsSpace(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back()))
    text.remove_suffix(1);
  return text;
}

bool IsIdentifier(std::string_view text) {
  if (text.empty() || !(std::isalpha(uint8_t(text[0])) || text[0] == '_'))
    return false;
  for (char c : text)
    if (!(std::isalnum(uint8_t(c)) || c == '_' || c == '.'))
      return false;
  return true;
}

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i])))
      return false;
  return true;
}

// 'text', '' inside for a quote, joined with #code characters.
bool ParseText(std::string_view value, std::string &text, std::string &error) {
  size_t i = 0;
  while (i < value.size()) {
    if (value[i] == '\'') {
      ++i;
      while (true) {
        if (i >= value.size()) {
          error = "unterminated text";
          return false;
        }
        if (value[i] == '\'') {
          if (i + 1 < value.size() && value[i + 1] == '\'') {
            text += '\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        text += value[i++];
      }
    } else if (value[i] == '#') {
      ++i;
      const size_t start = i;
      while (i < value.size() && std::isdigit(uint8_t(value[i])))
        ++i;
      int32_t code = -1;
      if (ScanInt32(value.substr(start, i - start), false, code) != TIntegerScan::ok || code < 0 || code > 255) {
        error = "a character code is a number from 0 to 255";
        return false;
      }
      text += char(uint8_t(code));
    } else {
      error = "unexpected '" + std::string(1, value[i]) + "' in a text";
      return false;
    }
  }
  return true;
}

struct TOpenObject {
  bool propertiesOpen = true;
};

} // namespace

std::string CompileFormSource(std::string_view source) {
  TPropertyStreamWriter writer;
  std::vector<TOpenObject> open;
  bool done = false;
  TSourceLines lines(source, IsSpace);
  std::string_view line;
  while (lines.Next(line)) {
    const int lineNo = lines.Number();
    if (done)
      throw StreamSourceError(lineNo, "text after the form's object");

    if (line.substr(0, 7) == "object " || line == "object") {
      std::string_view rest = Trimmed(line.substr(6));
      const size_t colon = rest.find(':');
      if (colon == std::string_view::npos)
        throw StreamSourceError(lineNo, "an object is 'object Name: Class'");
      std::string_view name = Trimmed(rest.substr(0, colon)), className = Trimmed(rest.substr(colon + 1));
      if (!IsIdentifier(name) || !IsIdentifier(className) || name.size() > 255 || className.size() > 255)
        throw StreamSourceError(lineNo, "an object's name and class are identifiers");
      if (!open.empty() && open.back().propertiesOpen) {
        writer.EndList(); // the end of the properties
        open.back().propertiesOpen = false;
      }
      writer.BeginObject(className, name);
      open.push_back({});
      continue;
    }
    if (line == "end") {
      if (open.empty())
        throw StreamSourceError(lineNo, "'end' without an object");
      if (open.back().propertiesOpen)
        writer.EndList(); // the end of the properties
      writer.EndList(); // the end of the children
      open.pop_back();
      done = open.empty();
      continue;
    }

    const size_t equals = line.find('=');
    if (equals == std::string_view::npos)
      throw StreamSourceError(lineNo, "a property is 'Name = value'");
    if (open.empty())
      throw StreamSourceError(lineNo, "a property outside an object");
    if (!open.back().propertiesOpen)
      throw StreamSourceError(lineNo, "properties come before the child objects");
    std::string_view name = Trimmed(line.substr(0, equals)), value = Trimmed(line.substr(equals + 1));
    if (!IsIdentifier(name) || name.size() > 255)
      throw StreamSourceError(lineNo, "a property name is an identifier");
    if (value.empty())
      throw StreamSourceError(lineNo, "a property needs a value");

    if (value.front() == '\'' || value.front() == '#') {
      std::string text, error;
      if (!ParseText(value, text, error))
        throw StreamSourceError(lineNo, error);
      writer.String(name, text);
    } else if (std::isdigit(uint8_t(value.front())) || value.front() == '-') {
      int32_t number = 0;
      if (ScanInt32(value, false, number) != TIntegerScan::ok)
        throw StreamSourceError(lineNo, "not a 32-bit integer: " + std::string(value));
      writer.Integer(name, number);
    } else if (SameWord(value, "true") || SameWord(value, "false")) {
      writer.Boolean(name, SameWord(value, "true"));
    } else if (IsIdentifier(value) && value.size() <= 255) {
      writer.Ident(name, value);
    } else {
      throw StreamSourceError(lineNo, "not a value: " + std::string(value));
    }
  }
  if (!open.empty())
    throw StreamSourceError(lines.Number(), "an object is missing its 'end'");
  if (!done)
    throw StreamSourceError(lines.Number(), "no object");
  return writer.Bytes();
}

} // namespace kx
