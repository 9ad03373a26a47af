#pragma once
// How the engines read the files of the prepared attachments (KXPreparedAttachments, made by the
// attachment preparation of the bug report file module): through a callback, so that the engines
// stay free of the platform's file calls.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "crash/output/KXAttachmentPreparation.h"

namespace kx {

// One file opened for shared reading.
class IKXFileSource {
public:
  virtual ~IKXFileSource() = default;
  // The size when the file was opened.
  virtual uint64_t Size() = 0;
  // Reads up to count bytes into buffer; the number read, 0 at the end, -1 on a read error.
  virtual int64_t Read(char *buffer, size_t count) = 0;
};

// Opens a file for shared reading; null when it does not exist or cannot be opened.
using KXOpenFileFn = std::function<std::unique_ptr<IKXFileSource>(const std::u16string &path)>;

// An attachment whose file could be opened, ready to be sent.
struct KXOpenedAttachment {
  size_t index = 0; // into the prepared lists
  uint64_t size = 0;
  std::unique_ptr<IKXFileSource> source;
};

// Opens every prepared attachment in list order; files that cannot be opened are left out.
std::vector<KXOpenedAttachment> OpenAttachments(const KXPreparedAttachments &attachments,
                                                const KXOpenFileFn &openFile);

// Reads until count bytes are in buffer or the file ends; the number read, or -1 on a read error.
int64_t ReadFully(IKXFileSource &source, char *buffer, size_t count);

} // namespace kx
