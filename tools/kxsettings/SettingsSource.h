#pragma once
// The readable form of a settings stream: one property a line, "Name = value", where the value is
// true or false (boolean), a decimal 32-bit integer, or a double-quoted text with the escapes
// \" \\ \t \r \n and \xHH. Blank lines and lines starting with '#' are ignored.
#include <stdexcept>
#include <string>
#include <string_view>

#include "crash/base/settings/KXProperty.h"

namespace kx {

class SettingsSourceError : public std::runtime_error {
public:
  SettingsSourceError(int line, const std::string &message)
      : std::runtime_error(std::to_string(line) + ": " + message), FLine(line) {}
  int Line() const { return FLine; }

private:
  int FLine;
};

// Parses the source text; throws SettingsSourceError for the first malformed line or a name
// given twice.
TKXPropertyList ParseSettingsSource(std::string_view source);

// The whole stream for a source text: parsed, passwords enciphered, written.
std::vector<uint8_t> CompileSettingsSource(std::string_view source);

} // namespace kx
