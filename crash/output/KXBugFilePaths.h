#pragma once
// Path rules of the bug report file. Paths are UTF-16 Windows paths; a forward slash counts as a
// backslash. An absolute path has a root: "X:\", "\\server\share\" or "\\?\X:\".
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// True for a path that the path rules take relative to the executable's folder: shorter than 3
// characters, or neither starting with a separator nor having a colon as its second character.
bool IsRelativePath(std::u16string_view path);

// Makes path absolute against the executable's full path: a relative path is appended to the
// executable's folder, a path starting with a single separator to the executable's drive (or
// share). Then NormalizePath.
std::u16string MakeAbsolutePath(std::u16string_view path, std::u16string_view exePath);

// Turns every '/' into '\', drops "." levels and empty levels, and removes every directory name
// followed by a ".." level together with it (".." at the root is dropped). The root and a
// trailing backslash stay.
std::u16string NormalizePath(std::u16string_view path);

// The length of the root of an absolute path ("C:\" 3, "\\srv\share\" up to its last backslash);
// 0 when the path has none.
size_t PathRootLength(std::u16string_view path);

// "C:\a\b.txt" gives "b.txt" and "C:\a\"; a name without separator gives itself and "".
std::u16string FileNamePart(std::u16string_view path);
std::u16string DirectoryPart(std::u16string_view path);
// The file name without its path and its last extension ("C:\x\Tidewell.exe" gives "Tidewell").
std::u16string FileBaseName(std::u16string_view path);

bool HasPathSeparator(std::u16string_view path);

// The folders above a file, outermost first, below the root ("C:\a\b\f.txt" gives "C:\a\" and
// "C:\a\b\"), each with a trailing backslash.
std::vector<std::u16string> ParentDirectories(std::u16string_view filePath);

} // namespace kx
