#include "tools/kxform/FormSource.h"

#include <cctype>
#include <charconv>
#include <vector>

#include "crash/ui/assistant/FormStream.h"

namespace kx {

namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(uint8_t(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(uint8_t(text.back())))
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
      int code = -1;
      std::from_chars(value.data() + start, value.data() + i, code);
      if (i == start || code < 0 || code > 255) {
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
  TNVStreamWriter writer;
  std::vector<TOpenObject> open;
  bool done = false;
  int lineNo = 0;
  while (!source.empty()) {
    ++lineNo;
    const size_t end = source.find('\n');
    std::string_view line = Trimmed(source.substr(0, end));
    source = end == std::string_view::npos ? std::string_view() : source.substr(end + 1);
    if (line.empty() || line.front() == '#')
      continue;
    if (done)
      throw FormSourceError(lineNo, "text after the form's object");

    if (line.substr(0, 7) == "object " || line == "object") {
      std::string_view rest = Trimmed(line.substr(6));
      const size_t colon = rest.find(':');
      if (colon == std::string_view::npos)
        throw FormSourceError(lineNo, "an object is 'object Name: Class'");
      std::string_view name = Trimmed(rest.substr(0, colon)), className = Trimmed(rest.substr(colon + 1));
      if (!IsIdentifier(name) || !IsIdentifier(className) || name.size() > 255 || className.size() > 255)
        throw FormSourceError(lineNo, "an object's name and class are identifiers");
      if (!open.empty() && open.back().propertiesOpen) {
        writer.EndProperties();
        open.back().propertiesOpen = false;
      }
      writer.BeginObject(className, name);
      open.push_back({});
      continue;
    }
    if (line == "end") {
      if (open.empty())
        throw FormSourceError(lineNo, "'end' without an object");
      if (open.back().propertiesOpen)
        writer.EndProperties();
      writer.EndObject();
      open.pop_back();
      done = open.empty();
      continue;
    }

    const size_t equals = line.find('=');
    if (equals == std::string_view::npos)
      throw FormSourceError(lineNo, "a property is 'Name = value'");
    if (open.empty())
      throw FormSourceError(lineNo, "a property outside an object");
    if (!open.back().propertiesOpen)
      throw FormSourceError(lineNo, "properties come before the child objects");
    std::string_view name = Trimmed(line.substr(0, equals)), value = Trimmed(line.substr(equals + 1));
    if (!IsIdentifier(name) || name.size() > 255)
      throw FormSourceError(lineNo, "a property name is an identifier");
    if (value.empty())
      throw FormSourceError(lineNo, "a property needs a value");

    if (value.front() == '\'' || value.front() == '#') {
      std::string text, error;
      if (!ParseText(value, text, error))
        throw FormSourceError(lineNo, error);
      writer.String(name, text);
    } else if (std::isdigit(uint8_t(value.front())) || value.front() == '-') {
      int32_t number = 0;
      auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
      if (ec != std::errc() || ptr != value.data() + value.size())
        throw FormSourceError(lineNo, "not a 32-bit integer: " + std::string(value));
      writer.Integer(name, number);
    } else if (SameWord(value, "true") || SameWord(value, "false")) {
      writer.Boolean(name, SameWord(value, "true"));
    } else if (IsIdentifier(value) && value.size() <= 255) {
      writer.Ident(name, value);
    } else {
      throw FormSourceError(lineNo, "not a value: " + std::string(value));
    }
  }
  if (!open.empty())
    throw FormSourceError(lineNo, "an object is missing its 'end'");
  if (!done)
    throw FormSourceError(lineNo, "no object");
  return writer.Bytes();
}

} // namespace kx
