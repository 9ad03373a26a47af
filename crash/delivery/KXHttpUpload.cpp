#include "crash/delivery/KXHttpUpload.h"

#include "crash/delivery/KXHeaderValue.h"
#include "crash/delivery/KXServerConnection.h"

namespace kx {

namespace {

constexpr size_t kFileChunk = 1024;

// Whether the first size bytes of the file contain the text (as far as the file can be read).
bool FileContains(IKXFileSource &source, uint64_t size, std::string_view text) {
  KXStreamFinder finder(text);
  char chunk[kFileChunk];
  uint64_t done = 0;
  while (done < size && !finder.Found()) {
    int64_t got = source.Read(chunk, static_cast<size_t>(std::min<uint64_t>(kFileChunk, size - done)));
    if (got <= 0)
      break;
    finder.Feed(std::string_view(chunk, static_cast<size_t>(got)));
    done += static_cast<uint64_t>(got);
  }
  return finder.Found();
}

// Whether any text of the body that is not the multipart framing contains the candidate: the
// field names and contents, the attachments' names and the files' bytes (read from a second
// opening, so that the sources that will be sent stay at their start).
bool UploadContains(const KXUploadJob &job, const std::vector<KXOpenedAttachment> &opened,
                    const KXOpenFileFn &openFile, std::string_view candidate) {
  auto has = [candidate](std::string_view text) { return text.find(candidate) != std::string_view::npos; };
  for (const auto &[name, content] : job.fields)
    if (has(name) || has(content))
      return true;
  for (const KXOpenedAttachment &a : opened) {
    if (has(job.attachments.fields[a.index]) || has(job.attachments.sendAs[a.index]))
      return true;
    auto again = openFile ? openFile(job.attachments.files[a.index]) : nullptr;
    if (again && FileContains(*again, a.size, candidate))
      return true;
  }
  return false;
}

// Sends the file's bytes as read, exactly as many as its size said when it was opened. Bytes
// that turn out to hold the boundary (the file changed since it was checked) stop the body
// before its end, so that the server drops the request.
bool SendFileBytes(IKXStreamSocket &stream, IKXFileSource &source, uint64_t size, std::string_view boundary,
                   KXSendProgress &progress) {
  KXStreamFinder finder(boundary);
  char chunk[kFileChunk];
  uint64_t done = 0;
  while (done < size) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(kFileChunk, size - done));
    int64_t got = source.Read(chunk, want);
    if (got <= 0) // a read error, or a file that became shorter than the length announced
      return false;
    finder.Feed(std::string_view(chunk, static_cast<size_t>(got)));
    if (finder.Found() || !stream.Send(std::string_view(chunk, static_cast<size_t>(got))))
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

  std::vector<KXOpenedAttachment> opened = OpenAttachments(job.attachments, context.openFile);
  // An empty file has no part; a name that is not one line would add header lines of its own.
  std::erase_if(opened, [&job](const KXOpenedAttachment &a) {
    return a.size == 0 || !IsSingleLineValue(job.attachments.fields[a.index]) ||
           !IsSingleLineValue(job.attachments.sendAs[a.index]);
  });
  const std::string boundary = ChooseBoundary(
      [&](std::string_view candidate) { return UploadContains(job, opened, context.openFile, candidate); },
      context.random);
  const std::string fieldsPart = HttpFieldsPart(boundary, job.fields);
  std::vector<uint64_t> partLengths;
  uint64_t attachmentsLength = 0;
  for (const KXOpenedAttachment &a : opened) {
    partLengths.push_back(HttpAttachmentPartLength(boundary, job.attachments.fields[a.index],
                                                   job.attachments.sendAs[a.index], a.size));
    attachmentsLength += partLengths.back();
  }
  progress.AddAreas(UploadProgressAreas(texts, fieldsPart.size(), partLengths));
  progress.AreaDone();

  if (!context.network || boundary.empty() || !IsSingleLineValue(job.httpServer) || !IsSingleLineValue(job.sender))
    return result;
  const KXUploadTarget target = ParseUploadTarget(job.httpServer);
  const KXHostPort origin = SplitHostPort(target.host, job.httpPort);
  const std::string proxy = HttpProxyName(job.proxyList);
  const KXHostPort peer = proxy.empty() ? origin : SplitHostPort(proxy, job.httpPort);

  auto stream = ConnectToServer(*context.network, peer.name, peer.port, progress);
  if (!stream)
    return result;

  KXHttpRequestHeader header;
  header.boundary = boundary;
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
    if (!stream->Send(
            HttpAttachmentPartHeader(boundary, job.attachments.fields[a.index], job.attachments.sendAs[a.index])) ||
        !SendFileBytes(*stream, *a.source, a.size, boundary, progress))
      return result;
    progress.AreaDone();
  }
  if (!stream->Send(HttpClosingDelimiter(boundary)))
    return result;
  progress.AreaDone();

  KXHttpAnswer answer = ReadHttpAnswer(*stream);
  progress.AreaDone();
  result.sent = answer.verdict == KXHttpVerdict::success;
  result.location = answer.location;
  return result;
}

} // namespace kx
