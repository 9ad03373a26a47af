#pragma once
// The files of a send opened for shared reading: other programs may go on reading and writing
// them while they are sent.
#include <memory>
#include <string>

#include "crash/delivery/KXAttachmentFiles.h"

namespace kx {

// CreateFileW for reading, shared for reading and writing; the size is taken when the file is
// opened (GetFileSize). Null when the file cannot be opened.
std::unique_ptr<IKXFileSource> OpenSharedFile(const std::u16string &path);

} // namespace kx
