#pragma once
// Values from the settings or the API that are written into protocol lines and header lines.
#include <string>
#include <string_view>

namespace kx {

// Whether text can stand inside one protocol or header line: it holds no CR, LF or NUL, which
// would end the line and let the rest pass for a command or header of its own.
bool IsSingleLineValue(std::string_view text);

// text for the inside of a quoted header parameter (name="...", filename="..."): a backslash
// before every '"' and '\'.
std::string EscapedQuotedValue(std::string_view text);

} // namespace kx
