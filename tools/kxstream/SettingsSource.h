#pragma once
// The readable form of a settings stream: one property a line, "Name = value", where the value is
// true or false (boolean), a decimal 32-bit integer, or a double-quoted text with the escapes
// \" \\ \t \r \n and \xHH. Blank lines and lines starting with '#' are ignored; a '#' after a
// value starts a comment.
#include <cstdint>
#include <string_view>
#include <vector>

#include "crash/base/settings/KXProperty.h"
#include "tools/kxstream/StreamSource.h"

namespace kx {

// Parses the source text; throws StreamSourceError for the first malformed line or a name given
// twice.
TKXPropertyList ParseSettingsSource(std::string_view source);

// The whole stream for a source text: parsed, passwords enciphered, written.
std::vector<uint8_t> CompileSettingsSource(std::string_view source);

} // namespace kx
