#pragma once
// The reporter's temporary directory: the system temporary path, the executable's file name
// without extension and ".Kestrelix", with a trailing backslash.
#include <string>

namespace kx {

// The directory, created when missing; empty when the system temporary path is unknown.
std::wstring KXTempDirectory(bool create = true);
// Deletes every file in the directory (nothing is descended into), then the directory.
void EmptyKXTempDirectory();

} // namespace kx
