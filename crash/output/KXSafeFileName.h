#pragma once
// Names from the settings that become file names: of an archive in the temporary folder, of a
// member inside it, of an attachment the receiver saves. They name a file, never a path.
#include <optional>
#include <string>
#include <string_view>

namespace kx {

// The name reduced to its last component (the text after the last '\', '/' or ':'); nullopt when
// nothing usable as a Windows file name is left: an empty name, "." or "..", a name holding a
// control character (below 0x20, or 0x7F) or one of < > " | ? *, a name ending in a dot or a space
// (the system would cut them off and open another file), or a device name (CON, PRN, AUX, NUL,
// COM1-COM9, LPT1-LPT9, with or without an extension).
std::optional<std::string> SafeFileName(std::string_view name);

} // namespace kx
