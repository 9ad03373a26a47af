#include "crash/delivery/KXAttachmentFiles.h"

namespace kx {

std::vector<KXOpenedAttachment> OpenAttachments(const KXPreparedAttachments &attachments,
                                                const KXOpenFileFn &openFile) {
  std::vector<KXOpenedAttachment> opened;
  if (!openFile)
    return opened;
  for (size_t i = 0; i < attachments.Count(); ++i) {
    auto source = openFile(attachments.files[i]);
    if (!source)
      continue;
    KXOpenedAttachment entry;
    entry.index = i;
    entry.size = source->Size();
    entry.source = std::move(source);
    opened.push_back(std::move(entry));
  }
  return opened;
}

int64_t ReadFully(IKXFileSource &source, char *buffer, size_t count) {
  size_t done = 0;
  while (done < count) {
    int64_t got = source.Read(buffer + done, count - done);
    if (got < 0)
      return -1;
    if (got == 0)
      break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

} // namespace kx
