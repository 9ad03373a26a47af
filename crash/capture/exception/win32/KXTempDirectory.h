#pragma once
// The reporter's temporary folder: one per process under the system's temporary path, named as
// KXTempFolderName.h says and made new by this process with an access list that admits only the
// user the process runs as. A folder that exists already under the chosen name is never used,
// whoever made it, so nobody can prepare the folder, read what is written there or have this
// process delete through a junction.
#include <string>

namespace kx {

// The folder with a trailing backslash, made at the first call; empty when the temporary path is
// unknown or no new folder could be made (nothing is then written to a temporary folder).
std::wstring KXTempDirectory();
// Deletes the files of this process's folder, when it has one (subfolders and reparse points
// are left alone).
void EmptyKXTempDirectory();
// Empties and removes this process's folder; a later KXTempDirectory() makes a new one.
void RemoveKXTempDirectory();
// Removes what earlier processes of this exe left behind: their folders whose process no longer
// runs, that belong to this user and are no reparse points, with the plain files in them.
void RemoveStaleKXTempDirectories();

} // namespace kx
