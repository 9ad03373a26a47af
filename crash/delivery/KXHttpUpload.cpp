#include "crash/delivery/KXHttpUpload.h"

#include "crash/delivery/KXServerConnection.h"

namespace kx {

namespace {

constexpr size_t kFileChunk = 1024;

// Sends the file's bytes as read, exactly as many as its size said when it was opened.
bool SendFileBytes(IKXStreamSocket &stream, IKXFileSource &source, uint64_t size, KXSendProgress &progress) {
  char chunk[kFileChunk];
  uint64_t done = 0;
  while (done < size) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(kFileChunk, size - done));
    int64_t got = source.Read(chunk, want);
    if (got <= 0) // a read error, or a file that became shorter than the length announced
      return false;
    if (!stream.Send(std::string_view(chunk, static_cast<size_t>(got))))
      return false;
    done += static_cast<uint64_t>(got);
    progress.SetPosition(done, size);
  }
  return true;
}

} // namespace

std::vector<KXProgressArea> UploadProgressAreas(const KXSendTexts &texts, uint64_t fieldsLength,
                                                const std::vector<uint64_t> &attachmentPartLengths) {
  std::vector<KXProgressArea> areas;
  areas.push_back({100, texts.connect});
  areas.push_back({100, ""});
  areas.push_back({static_cast<int64_t>(fieldsLength + 100), texts.fields});
  for (uint64_t length : attachmentPartLengths)
    areas.push_back({static_cast<int64_t>(length / 16), texts.sendAttach});
  areas.push_back({100, ""});
  areas.push_back({500, texts.sendFinalize});
  return areas;
}

KXUploadResult UploadBugReport(const KXUploadJob &job, const KXSendTexts &texts, KXUploadContext &context) {
  KXUploadResult result;
  KXSendProgress &progress = context.progress;

  const std::string fieldsPart = HttpFieldsPart(job.fields);
  std::vector<KXOpenedAttachment> opened = OpenAttachments(job.attachments, context.openFile);
  std::erase_if(opened, [](const KXOpenedAttachment &a) { return a.size == 0; });
  std::vector<uint64_t> partLengths;
  uint64_t attachmentsLength = 0;
  for (const KXOpenedAttachment &a : opened) {
    partLengths.push_back(
        HttpAttachmentPartLength(job.attachments.fields[a.index], job.attachments.sendAs[a.index], a.size));
    attachmentsLength += partLengths.back();
  }
  progress.AddAreas(UploadProgressAreas(texts, fieldsPart.size(), partLengths));
  progress.AreaDone();

  if (!context.network)
    return result;
  const KXUploadTarget target = ParseUploadTarget(job.httpServer);
  const KXHostPort origin = SplitHostPort(target.host, job.httpPort);
  const std::string proxy = HttpProxyName(job.proxyList);
  const KXHostPort peer = proxy.empty() ? origin : SplitHostPort(proxy, job.httpPort);

  auto stream = ConnectToServer(*context.network, peer.name, peer.port, progress);
  if (!stream)
    return result;

  KXHttpRequestHeader header;
  header.path = target.path;
  header.hostHeader = origin.name + ":" + std::to_string(origin.port);
  header.sender = job.sender;
  header.account = job.account;
  header.password = job.password;
  header.fieldsLength = fieldsPart.size();
  header.attachmentsLength = attachmentsLength;
  if (!stream->Send(HttpRequestHeader(header) + fieldsPart))
    return result;
  progress.AreaDone();

  for (KXOpenedAttachment &a : opened) {
    if (!stream->Send(HttpAttachmentPartHeader(job.attachments.fields[a.index], job.attachments.sendAs[a.index])) ||
        !SendFileBytes(*stream, *a.source, a.size, progress))
      return result;
    progress.AreaDone();
  }
  if (!stream->Send(HttpClosingDelimiter()))
    return result;
  progress.AreaDone();

  KXHttpAnswer answer = ReadHttpAnswer(*stream);
  progress.AreaDone();
  result.sent = answer.verdict == KXHttpVerdict::success;
  result.location = answer.location;
  return result;
}

} // namespace kx
