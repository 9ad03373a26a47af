#pragma once
// The send routine: tries the configured transports in their fixed order (the HTTP upload, else
// mail straight to the recipients' mail exchangers, else mail through the configured server), then
// falls back to Simple MAPI and to the mail program's mailto command, reports progress, and tells
// the user when nothing worked. Everything that needs the platform goes through IKXDeliveryHost.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crash/capture/exception/ProgressAlert.h"
#include "crash/delivery/KXAttachmentFiles.h"
#include "crash/delivery/KXDeliverySettings.h"
#include "crash/delivery/KXDnsQuery.h"
#include "crash/delivery/KXHttpRequest.h"
#include "crash/delivery/KXMailExchanger.h"
#include "crash/delivery/KXMailText.h"
#include "crash/delivery/KXMapiMessage.h"
#include "crash/delivery/KXNetwork.h"

namespace kx {

struct KXDeliveryRequest {
  std::string bugReport;
  KXWindowHandle parentWindow = nullptr;
  bool hidden = false;       // no progress window unless AutoSendBox, no mailto, no failure message
  bool inBackground = false; // run on a thread of its own
  bool inThread = false;     // already running on that thread
  KXDeliverySettings settings;
};

// The mail handed to Simple MAPI.
struct KXMapiMail {
  std::string subject;
  std::string body;
  std::vector<KXMapiRecipient> recipients; // class To
  KXPreparedAttachments attachments;       // path, file name = send-as name, position -1
  uint32_t flags = 0;
  KXWindowHandle parentWindow = nullptr;
};

// Values that only tests change.
struct KXDeliveryOptions {
  uint16_t directSmtpPort = 25;
  std::vector<std::string> rootServers = kRootNameServers;
  KXDnsOptions dns;
};

class IKXDeliveryHost {
public:
  virtual ~IKXDeliveryHost() = default;

  // --- threads and windows ---
  // True while the process is blocked (the loader or process-environment lock is held).
  virtual bool ProcessLockHeld(uint32_t waitMs) = 0;
  // Takes the window out of the topmost band (no move, no size).
  virtual void LeaveTopmost(KXWindowHandle window) = 0;
  // Starts a thread that runs DeliverBugReport(request) with a host of its own; the request comes
  // with inThread set and no parent window. False when no thread could be started.
  virtual bool StartSendThread(const KXDeliveryRequest &request) = 0;
  // The progress window (title, picture KXISEND32); null when it cannot be made.
  virtual std::shared_ptr<IProgressAlert> CreateProgress(const std::string &title) = 0;
  // A message box owned by the window with the text, the default caption and the error icon.
  virtual void ShowFailure(KXWindowHandle parent, const std::string &text) = 0;

  // --- attachments and the bug report file ---
  // Builds the attachment list (the bug report, the screenshot, AddAttachs) and prepares it
  // (zip archives); marks the bug report file for deletion after a successful send when that
  // applies.
  virtual KXPreparedAttachments PrepareAttachments(const KXDeliveryRequest &request) = 0;
  virtual std::unique_ptr<IKXFileSource> OpenFile(const std::u16string &path) = 0;
  virtual void DeleteScreenShotFile() = 0;
  // The bug report file is no longer to be deleted after the send.
  virtual void KeepBugReportFile() = 0;
  // Clears the attributes of the bug report file and deletes it, when it is marked for deletion.
  virtual void DeleteMarkedBugReportFile() = 0;
  // SetMailWasSent(true) on the exception object.
  virtual void MarkSent() = 0;

  // --- network ---
  virtual IKXNetwork &Network() = 0;
  virtual std::string ComputerName() = 0;
  virtual KXFileTime UtcNow() = 0;
  // The system's HTTP proxy list ("" for none).
  virtual std::string HttpProxyList() = 0;
  // The system's DNS servers, the current one first (none: the root walk is used).
  virtual std::vector<std::string> SystemDnsServers() = 0;
  // Opens an address with the shell's default handler.
  virtual void OpenLocation(const std::string &url) = 0;

  // --- the local mail program ---
  // Calls MAPISendMail (topmost band and a paused main thread handled around it); failed when
  // it cannot be found.
  virtual KXMapiOutcome SendViaMapi(const KXMapiMail &mail) = 0;
  // The registered mailto command with environment variables expanded; nullopt when missing.
  virtual std::optional<std::string> MailtoCommand() = 0;
  virtual bool IsNtFamily() = 0;
  // Starts the command line as a new process; true when it started.
  virtual bool StartProcess(const std::string &commandLine) = 0;
};

// True when the report was handed over (sent, left to the mail program, or cancelled there by the
// user) or a background thread was started for it.
bool DeliverBugReport(const KXDeliveryRequest &request, IKXDeliveryHost &host,
                      const KXDeliveryOptions &options = KXDeliveryOptions());

// The HTTP form fields: a copy of AddFields with the non-empty sender, subject, body and
// recipients set (not appended) as "MailFrom", "MailSubject", "MailBody" and "MailAddr".
KXFormFields UploadFormFields(const std::shared_ptr<IKXFields> &addFields, const std::string &sender,
                              const std::string &subject, const std::string &body, const std::string &recipients);

// The progress areas the send routine starts with, before a network transport replaces them.
std::vector<KXProgressArea> SendProgressAreas(const KXDeliverySettings &settings, bool hasAttachments);

} // namespace kx
