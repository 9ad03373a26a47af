#include "crash/delivery/KXSmtpClient.h"

#include "crash/base/settings/KXText.h"
#include "crash/delivery/KXHeaderValue.h"
#include "crash/delivery/KXMailAddresses.h"
#include "crash/delivery/KXMimeMessage.h"
#include "crash/delivery/KXServerConnection.h"
#include "crash/delivery/KXSmtpReply.h"

namespace kx {

namespace {

constexpr size_t kSendChunk = 1024;

// Reads the file in chunks of one base64 line and hands each line's wire text (with its CR LF)
// and the bytes read so far to sink, which returns false to stop. False on a read error or a file
// shorter than size.
template <typename Sink> bool ForEachBase64Line(IKXFileSource &source, uint64_t size, Sink &&sink) {
  char chunk[kBase64LineBytes];
  uint64_t done = 0;
  while (done < size) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(kBase64LineBytes, size - done));
    int64_t got = ReadFully(source, chunk, want);
    if (got <= 0)
      return false;
    done += static_cast<uint64_t>(got);
    if (!sink(Base64Line(std::string_view(chunk, static_cast<size_t>(got))), done))
      return true;
  }
  return true;
}

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
  bool SendAttachment(IKXFileSource &source, const std::u16string &path, const std::string &sendAs,
                      std::string_view boundary) {
    const uint64_t size = source.Size();
    if (size == 0)
      return true;
    if (!SendText(MimeAttachmentHeader(boundary, AttachmentContentType(path), sendAs)))
      return false;
    bool sent = true;
    const bool read = ForEachBase64Line(source, size, [&](std::string_view lines, uint64_t done) {
      sent = SendText(lines);
      if (sent)
        FProgress.SetPosition(done, size);
      return sent;
    });
    if (!read) {
      SendText("\r\n");
      return false;
    }
    if (!sent)
      return false;
    FProgress.AreaDone();
    return true;
  }

private:
  IKXStreamSocket &FStream;
  KXSendProgress &FProgress;
};

// Whether the candidate occurs in the wire text of the mail outside its multipart framing: the
// header block, the body and each sent attachment's part header and base64 lines.
bool MailContains(const KXMailJob &job, const std::string &headerBlock, const std::string &bodyText,
                  const KXMailContext &context, std::string_view candidate) {
  auto has = [candidate](std::string_view text) { return text.find(candidate) != std::string_view::npos; };
  if (has(headerBlock) || has(bodyText))
    return true;
  for (size_t i = 0; i < job.attachments.Count(); ++i) {
    if (!IsSingleLineValue(job.attachments.sendAs[i]))
      continue;
    auto source = context.openFile ? context.openFile(job.attachments.files[i]) : nullptr;
    if (!source || source->Size() == 0)
      continue;
    if (has(MimeAttachmentHeader("", AttachmentContentType(job.attachments.files[i]), job.attachments.sendAs[i])))
      return true;
    KXStreamFinder finder(candidate);
    ForEachBase64Line(*source, source->Size(), [&finder](std::string_view lines, uint64_t) {
      finder.Feed(lines);
      return !finder.Found();
    });
    if (finder.Found())
      return true;
  }
  return false;
}

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
  // A sender over several lines would write commands and headers of its own.
  if (!IsSingleLineValue(sender))
    return result;

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
  const std::string headerBlock = MailHeaderBlock(job.recipients, sender, job.subject, context.now);
  std::string boundary;
  if (!job.attachments.Empty()) {
    boundary = ChooseBoundary(
        [&](std::string_view candidate) { return MailContains(job, headerBlock, bodyText, context, candidate); },
        context.random);
    if (boundary.empty())
      return result;
  }
  if (!session.Command("DATA", "354"))
    return result;
  progress.AreaDone();

  result.end = KXDialogueEnd::abort;
  if (!session.SendText(headerBlock))
    return result;
  progress.AreaDone();

  if (!job.attachments.Empty()) {
    if (!session.SendText(MimePrologue(boundary, bodyText)))
      return result;
    progress.AreaDone();
    for (size_t i = 0; i < job.attachments.Count(); ++i) {
      auto source = context.openFile ? context.openFile(job.attachments.files[i]) : nullptr;
      if (!source || !IsSingleLineValue(job.attachments.sendAs[i]))
        continue;
      if (!session.SendAttachment(*source, job.attachments.files[i], job.attachments.sendAs[i], boundary))
        return result;
    }
    if (!session.SendText(MimeClosingDelimiter(boundary)))
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
  if (!context.network || !IsSingleLineValue(context.computerName))
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
