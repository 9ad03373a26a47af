#pragma once
// The e-mail address check of the contact form.
#include <string_view>

namespace kx {

// True for a text of the shape local part, "@", domain with at least one dot: not empty, no white
// space at either end, the "@" after the first character and a dot after it, no dot at either end
// or right after the "@", and nothing but letters, digits, apostrophe, "+", "-", "_", dots and
// exactly one "@".
bool ValidEMailAddress(std::string_view text);

} // namespace kx
