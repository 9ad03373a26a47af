#pragma once
// Small text helpers of the module, process and hardware sections: right padding, splitting a
// full file name at its last backslash, and plain ASCII text as UTF-16.
#include <cstddef>
#include <string>
#include <string_view>

namespace kx {

// The text followed by spaces up to width characters (unchanged when it is as long or longer).
std::u16string PadRight(std::u16string_view text, size_t width);
std::string PadRight(std::string_view text, size_t width);

// Splits a full file name at its last backslash: the folder without that backslash, and the name.
// Without a backslash the whole text is the name and the folder is empty.
void SplitFileName(std::u16string_view fullName, std::u16string &folder, std::u16string &fileName);

// ASCII text (digits, hexadecimal, fixed words) as UTF-16.
std::u16string AsciiToUtf16(std::string_view text);

} // namespace kx
