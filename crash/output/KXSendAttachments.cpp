#include "crash/output/KXSendAttachments.h"

#include <algorithm>

#include "crash/output/KXBugFilePaths.h"

namespace kx {

KXSendAttachments BuildSendAttachments(IKXFileStore &store, IKXBugFileSystem &bugFiles,
                                       const KXAttachmentSettings &settings, const KXAttachmentContext &context,
                                       std::string_view report) {
  KXAttachmentList list = BuildAttachmentList(store, bugFiles, settings, context, report);
  KXSendAttachments send;
  send.prepared = PrepareAttachments(store, *list.items, context.exePath, context.tempDirectory);
  // Preparation made every path absolute in the same way.
  const std::vector<std::u16string> &sent = send.prepared.sources;
  std::u16string copy = MakeAbsolutePath(list.bugReportCopy, context.exePath);
  if (!list.bugReportCopy.empty() && std::find(sent.begin(), sent.end(), copy) != sent.end())
    send.deleteAfterSend = list.deleteAfterSend;
  return send;
}

} // namespace kx
