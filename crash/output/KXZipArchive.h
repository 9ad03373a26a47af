#pragma once
// The zip writer of the attachments: every member deflated (raw deflate), names in UTF-8, the
// member's last write time and its file attributes kept.
#include <string>
#include <vector>

#include "crash/output/KXFileStore.h"

namespace kx {

// Creates (replaces) the archive zipPath holding files[i] under names[i] (8-bit text, reduced to
// its last component; an empty, missing or unusable name stands for the file's own name). A file that cannot be opened is left out; a
// failed read, allocation or write fails the whole archive. True only when at least one member
// was written and nothing failed; otherwise no archive is left behind.
// packed: when given, receives the indexes of the files that went into the archive.
bool WriteZipArchive(IKXFileStore &store, const std::u16string &zipPath, const std::vector<std::u16string> &files,
                     const std::vector<std::string> &names, std::vector<size_t> *packed = nullptr);

} // namespace kx
