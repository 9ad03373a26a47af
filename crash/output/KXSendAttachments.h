#pragma once
// The attachments of one send: the list built and prepared in one go, and the bug report file
// marked for deletion only when its copy really goes out.
#include <string>
#include <string_view>

#include "crash/output/KXAttachmentList.h"
#include "crash/output/KXAttachmentPreparation.h"

namespace kx {

struct KXSendAttachments {
  KXPreparedAttachments prepared;
  // The bug report file to delete after a successful send; empty: none. Cleared when the copy of
  // the report is not among the files sent (missing, or its archive failed), so that a send
  // without the report never deletes the reports.
  std::u16string deleteAfterSend;
};

KXSendAttachments BuildSendAttachments(IKXFileStore &store, IKXBugFileSystem &bugFiles,
                                       const KXAttachmentSettings &settings, const KXAttachmentContext &context,
                                       std::string_view report);

} // namespace kx
