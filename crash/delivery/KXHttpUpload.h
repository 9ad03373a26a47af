#pragma once
// The HTTP upload of a bug report: one multipart/form-data POST with the form fields and the
// prepared attachments, optionally through the system's HTTP proxy and with Basic authorisation.
#include <cstdint>
#include <string>
#include <vector>

#include "crash/delivery/KXAttachmentFiles.h"
#include "crash/delivery/KXBoundary.h"
#include "crash/delivery/KXHttpAnswer.h"
#include "crash/delivery/KXHttpRequest.h"
#include "crash/delivery/KXNetwork.h"
#include "crash/delivery/KXSendProgress.h"

namespace kx {

struct KXUploadJob {
  std::string httpServer; // the upload address (HttpServer)
  uint16_t httpPort = 80;
  std::string sender;
  std::string account;
  std::string password;
  KXFormFields fields;
  KXPreparedAttachments attachments;
  std::string proxyList; // the system's proxy setting, "" for none
};

struct KXUploadContext {
  IKXNetwork *network = nullptr;
  KXOpenFileFn openFile;
  KXSendProgress progress;
  KXRandomFn random; // the boundary's random source; empty for the system's
};

struct KXUploadResult {
  bool sent = false;
  std::string location; // the address a "302" answer points to
};

// The progress areas of an upload: ConnMsg 100, an untitled area 100, FieldMsg (fields part
// length + 100), SendAttMsg (part length div 16) for every attachment part, an untitled area 100
// and SendFinalMsg 500.
std::vector<KXProgressArea> UploadProgressAreas(const KXSendTexts &texts, uint64_t fieldsLength,
                                                const std::vector<uint64_t> &attachmentPartLengths);

// Runs the upload: adds its progress areas, marks the preparation area done, connects, sends and
// judges the answer. Attachments whose field or send-as name is not one line are left out; a
// sender or upload address that is not one line fails the upload before it connects, and so does
// content that every boundary candidate occurs in.
KXUploadResult UploadBugReport(const KXUploadJob &job, const KXSendTexts &texts, KXUploadContext &context);

} // namespace kx
