#pragma once
// Putting a report on the clipboard.
#include <string>

namespace kx {

// Replaces the clipboard's content by the 8-bit text (CF_TEXT): the clipboard is opened without
// an owner window and emptied, then opened again for the text. True when the text was set;
// when the clipboard cannot be opened the second time nothing is set.
bool CopyToClipboard(const std::string &text);

} // namespace kx
