#pragma once
// Mailing the bug report over SMTP: through a configured server (with AUTH LOGIN when an account
// or password is set) or straight to a recipient's mail exchanger, as a MIME message with the
// prepared attachments in base64.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "crash/delivery/KXAttachmentFiles.h"
#include "crash/delivery/KXBoundary.h"
#include "crash/delivery/KXMailText.h"
#include "crash/delivery/KXNetwork.h"
#include "crash/delivery/KXSendProgress.h"

namespace kx {

// One mail as the send routine fills it.
struct KXMailJob {
  std::string sender;     // may be empty
  std::string recipients; // the whole comma-separated list (the To: line names all of them)
  std::string server;     // empty: straight to each recipient's mail exchanger
  uint16_t port = 25;
  std::string account;
  std::string password;
  std::string subject;
  std::string body;
  KXPreparedAttachments attachments; // the field names are not used by mail
};

// What a mail needs from around it.
struct KXMailContext {
  IKXNetwork *network = nullptr;
  KXOpenFileFn openFile;
  std::string computerName;
  KXFileTime now = 0;
  // The mail exchanger's host name for a recipient address ("" when none is found).
  std::function<std::string(const std::string &address)> findMailExchanger;
  KXSendProgress progress;
  KXRandomFn random; // the boundary's random source; empty for the system's
};

// The progress areas of one mail (once per recipient in direct mode): MxLookMsg 500 (direct mode
// only), ConnMsg 100, two untitled areas (100, 200), AuthMsg 200, SendMailMsg 100, four untitled
// areas of 100, SendAttMsg ((s + 56) div 57) x 3 for every attachment of size s above 0,
// SendFinalMsg 500 and an untitled area of 100.
std::vector<KXProgressArea> MailProgressAreas(const KXSendTexts &texts, bool direct,
                                              const std::vector<uint64_t> &attachmentSizes);

// Sends one mail to the recipients (a single item in direct mode, where its mail exchanger is
// looked up; the whole list with a server). True when the server accepted the message and
// answered QUIT with "221". Recipients that are not one line are dropped from the list (see
// NormalizeRecipients); a sender or computer name that is not one line fails the mail, and an
// attachment whose send-as name is not one line is left out.
bool SendMail(const std::string &recipients, const KXMailJob &job, KXMailContext &context);

} // namespace kx
