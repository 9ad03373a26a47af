#include "crash/delivery/KXSmtpClient.h"

#include "crash/base/settings/KXText.h"
#include "crash/delivery/KXMailAddresses.h"
#include "crash/delivery/KXMimeMessage.h"
#include "crash/delivery/KXServerConnection.h"
#include "crash/delivery/KXSmtpReply.h"

namespace kx {

namespace {

constexpr size_t kSendChunk = 1024;

// One connection's dialogue with the server.
class KXSmtpSession {
public:
  KXSmtpSession(IKXStreamSocket &stream, KXSendProgress &progress) : FStream(stream), FProgress(progress) {}

  // Sends text in chunks of at most 1024 bytes.
  bool SendText(std::string_view text) {
    while (!text.empty()) {
      std::string_view chunk = text.substr(0, kSendChunk);
      if (!FStream.Send(chunk))
        return false;
      text.remove_prefix(chunk.size());
    }
    return true;
  }

  bool Command(const std::string &command, std::string_view code, bool *authLogin = nullptr) {
    return SendText(command + "\r\n") && ReadSmtpReply(FStream, code, authLogin);
  }

  // One attachment part: its header, then base64 lines of 57-byte chunks. An empty file sends
  // nothing and counts as sent.
  bool SendAttachment(IKXFileSource &source, const std::u16string &path, const std::string &sendAs) {
    const uint64_t size = source.Size();
    if (size == 0)
      return true;
    if (!SendText(MimeAttachmentHeader(AttachmentContentType(path), sendAs)))
      return false;
    uint64_t done = 0;
    char chunk[kBase64LineBytes];
    while (done < size) {
      size_t want = static_cast<size_t>(std::min<uint64_t>(kBase64LineBytes, size - done));
      int64_t got = ReadFully(source, chunk, want);
      if (got <= 0) {
        SendText("\r\n");
        return false;
      }
      if (!SendText(Base64Line(std::string_view(chunk, static_cast<size_t>(got)))))
        return false;
      done += static_cast<uint64_t>(got);
      FProgress.SetPosition(done, size);
    }
    FProgress.AreaDone();
    return true;
  }

private:
  IKXStreamSocket &FStream;
  KXSendProgress &FProgress;
};

bool HasCredentials(const KXMailJob &job) {
  return !job.account.empty() || !job.password.empty();
}

// How the dialogue after HELO ended.
enum class KXDialogueEnd {
  quit,   // failed or finished outside the data phase: say QUIT
  abort,  // failed inside the data phase: close without the final dot, so the server drops it
};

struct KXDialogueResult {
  KXDialogueEnd end = KXDialogueEnd::quit;
  bool sent = false;
};

KXDialogueResult RunDialogue(KXSmtpSession &session, const std::string &recipients, const KXMailJob &job,
                             bool authLogin, KXMailContext &context) {
  KXSendProgress &progress = context.progress;
  KXDialogueResult result;

  std::string sender = job.sender;
  if (sender.empty()) {
    std::vector<std::string> items = RecipientItems(recipients);
    sender = items.empty() ? std::string() : items.front();
  }

  if (HasCredentials(job)) {
    if (!authLogin || !session.Command("AUTH LOGIN", "334") || !session.Command(Base64Encode(job.account), "334") ||
        !session.Command(Base64Encode(job.password), "235"))
      return result;
  }
  progress.AreaDone();

  if (!session.Command("MAIL FROM:" + ShortAngleAddress(sender), "250"))
    return result;
  progress.AreaDone();

  int accepted = 0;
  for (const std::string &item : RecipientItems(recipients))
    if (session.Command("RCPT TO:" + ShortAngleAddress(item), "250"))
      ++accepted;
  if (accepted == 0)
    return result;
  progress.AreaDone();

  if (job.subject.empty() && job.body.empty()) {
    result.sent = session.Command("RSET", "250");
    return result;
  }

  const std::string bodyText = SmtpBodyText(job.body);
  if (!session.Command("DATA", "354"))
    return result;
  progress.AreaDone();

  result.end = KXDialogueEnd::abort;
  if (!session.SendText(MailHeaderBlock(job.recipients, sender, job.subject, context.now)))
    return result;
  progress.AreaDone();

  if (!job.attachments.Empty()) {
    if (!session.SendText(MimePrologue(bodyText)))
      return result;
    progress.AreaDone();
    for (size_t i = 0; i < job.attachments.Count(); ++i) {
      auto source = context.openFile ? context.openFile(job.attachments.files[i]) : nullptr;
      if (!source)
        continue;
      if (!session.SendAttachment(*source, job.attachments.files[i], job.attachments.sendAs[i]))
        return result;
    }
    if (!session.SendText(MimeClosingDelimiter()))
      return result;
  } else {
    if (!session.SendText("\r\n" + bodyText))
      return result;
    progress.AreaDone();
  }

  result.end = KXDialogueEnd::quit;
  result.sent = session.Command("\r\n.", "250");
  progress.AreaDone();
  return result;
}

} // namespace

std::vector<KXProgressArea> MailProgressAreas(const KXSendTexts &texts, bool direct,
                                              const std::vector<uint64_t> &attachmentSizes) {
  std::vector<KXProgressArea> areas;
  if (direct)
    areas.push_back({500, texts.mxLookup});
  areas.push_back({100, texts.connect});
  areas.push_back({100, ""});
  areas.push_back({200, ""});
  areas.push_back({200, texts.auth});
  areas.push_back({100, texts.sendMail});
  for (int i = 0; i < 4; ++i)
    areas.push_back({100, ""});
  for (uint64_t size : attachmentSizes)
    if (size > 0)
      areas.push_back({static_cast<int64_t>((size + 56) / 57 * 3), texts.sendAttach});
  areas.push_back({500, texts.sendFinalize});
  areas.push_back({100, ""});
  return areas;
}

bool SendMail(const std::string &recipients, const KXMailJob &job, KXMailContext &context) {
  if (!context.network)
    return false;
  KXSendProgress &progress = context.progress;

  std::string server = job.server;
  if (server.empty()) {
    server = context.findMailExchanger ? context.findMailExchanger(recipients) : std::string();
    progress.AreaDone();
    if (server.empty())
      return false;
  }

  auto stream = ConnectToServer(*context.network, server, job.port, progress);
  if (!stream || !ReadSmtpReply(*stream, "220"))
    return false;

  KXSmtpSession session(*stream, progress);
  bool authLogin = false;
  if (!session.Command("EHLO " + context.computerName, "250", &authLogin)) {
    authLogin = false;
    if (!session.Command("HELO " + context.computerName, "250"))
      return false;
  }
  progress.AreaDone();

  KXDialogueResult dialogue = RunDialogue(session, recipients, job, authLogin, context);
  if (dialogue.end == KXDialogueEnd::abort)
    return false;
  bool quitAnswered = session.Command("QUIT", "221");
  progress.AreaDone();
  return dialogue.sent && quitAnswered;
}

} // namespace kx
