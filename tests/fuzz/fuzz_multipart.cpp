// Fuzz target: the multipart framing of the upload and of the mail. Byte 0 picks the transport
// (bit 0: mail), bytes 1 and 2 drive the boundary's random source (so that inputs can hold the
// candidates the choice will try), the rest is cut at 0xFF bytes into the contents: for the upload
// alternately a form field's value and an attached file, for the mail the body and then files.
// Whatever the contents, the message read back by its boundary must have exactly the parts
// written; a message that is not sent must not have reached the server at all.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "crash/base/settings/KXText.h"
#include "crash/delivery/KXHttpUpload.h"
#include "crash/delivery/KXMailText.h"
#include "crash/delivery/KXMimeMessage.h"
#include "crash/delivery/KXSmtpClient.h"
#include "tests/crash/delivery/MultipartParts.h"

namespace {

class MemoryFile : public kx::IKXFileSource {
public:
  explicit MemoryFile(const std::string &bytes) : FBytes(bytes) {}
  uint64_t Size() override { return FBytes.size(); }
  int64_t Read(char *buffer, size_t count) override {
    size_t n = std::min(count, FBytes.size() - FPos);
    FBytes.copy(buffer, n, FPos);
    FPos += n;
    return static_cast<int64_t>(n);
  }

private:
  const std::string &FBytes;
  size_t FPos = 0;
};

// A server that answers at once: an HTTP 200, or the SMTP codes the dialogue expects, keeping the
// data phase's text.
class AnsweringStream : public kx::IKXStreamSocket {
public:
  AnsweringStream(bool smtp, std::string &sent, std::string &message)
      : FSmtp(smtp), FSent(sent), FMessage(message) {
    FReplies = smtp ? "220 ready\r\n" : "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
  }
  bool Send(std::string_view bytes) override {
    FSent.append(bytes);
    if (FSmtp)
      Answer();
    return true;
  }
  kx::KXReceiveStatus Receive(size_t maxBytes, uint32_t, std::string &data) override {
    if (FReplies.empty())
      return kx::KXReceiveStatus::closed;
    size_t n = std::min(maxBytes, FReplies.size());
    data.append(FReplies, 0, n);
    FReplies.erase(0, n);
    return kx::KXReceiveStatus::data;
  }

private:
  void Answer() {
    for (;;) {
      if (FInData) {
        size_t end = FSent.find("\r\n.\r\n", FScan - 2);
        if (end == std::string::npos)
          return;
        FMessage = FSent.substr(FScan, end + 2 - FScan);
        FReplies += "250 OK\r\n";
        FInData = false;
        FScan = end + 5;
        continue;
      }
      size_t end = FSent.find("\r\n", FScan);
      if (end == std::string::npos)
        return;
      const std::string verb = FSent.substr(FScan, 4);
      FScan = end + 2;
      if (verb == "DATA") {
        FReplies += "354 go on\r\n";
        FInData = true;
      } else {
        FReplies += verb == "QUIT" ? "221 bye\r\n" : "250 OK\r\n";
      }
    }
  }

  bool FSmtp;
  std::string &FSent;
  std::string &FMessage;
  std::string FReplies;
  size_t FScan = 0;
  bool FInData = false;
};

class AnsweringNetwork : public kx::IKXNetwork {
public:
  bool smtp = false;
  std::string sent;    // everything the client sent
  std::string message; // the mail's data phase
  bool Start() override { return true; }
  void Stop() override {}
  std::optional<kx::KXIPv4> Resolve(const std::string &) override { return 0x7F000001; }
  std::unique_ptr<kx::IKXStreamSocket> Connect(kx::KXIPv4, uint16_t) override {
    return std::make_unique<AnsweringStream>(smtp, sent, message);
  }
  std::unique_ptr<kx::IKXDatagramSocket> OpenDatagram() override { return nullptr; }
  uint64_t TickMs() override { return 0; }
};

std::string Base64Lines(const std::string &bytes) {
  std::string lines;
  for (size_t pos = 0; pos < bytes.size(); pos += kx::kBase64LineBytes)
    lines += kx::Base64Line(std::string_view(bytes).substr(pos, kx::kBase64LineBytes));
  return lines.substr(0, lines.size() - 2); // the last CR LF belongs to the delimiter
}

void Check(bool sent, const std::string &wire, const std::vector<kx::test::MultipartPart> &expected) {
  if (!sent) {
    if (!wire.empty())
      std::abort(); // a refused message must not have reached the server
    return;
  }
  auto parts = kx::test::SplitMultipart(wire, kx::test::BoundaryFromHeader(wire));
  if (!parts || parts->size() != expected.size())
    std::abort();
  for (size_t i = 0; i < expected.size(); ++i)
    if ((*parts)[i].headerLines != expected[i].headerLines || (*parts)[i].body != expected[i].body)
      std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3 || size > 65536)
    return 0;
  const bool mail = data[0] & 1;
  const uint8_t key[2] = {data[1], data[2]};
  uint32_t drawn = 0;
  kx::KXRandomFn random = [&key, &drawn] {
    uint32_t word = key[drawn % 2] + drawn / kx::kBoundaryRandomChars;
    ++drawn;
    return word;
  };
  std::vector<std::string> contents(1);
  for (size_t i = 3; i < size; ++i) {
    if (data[i] == 0xFF)
      contents.emplace_back();
    else
      contents.back() += static_cast<char>(data[i]);
  }

  AnsweringNetwork network;
  network.smtp = mail;
  std::vector<kx::test::MultipartPart> expected;
  auto openFile = [&contents](const std::u16string &path) -> std::unique_ptr<kx::IKXFileSource> {
    return std::make_unique<MemoryFile>(contents.at(std::stoul(std::string(path.begin(), path.end()))));
  };
  auto fileName = [](size_t i) { return "file" + std::to_string(i) + ".bin"; };
  auto path = [](size_t i) {
    std::string digits = std::to_string(i);
    return std::u16string(digits.begin(), digits.end());
  };

  if (!mail) {
    kx::KXUploadJob job;
    job.httpServer = "http://upload.example.com/in";
    std::vector<kx::test::MultipartPart> files;
    for (size_t i = 0; i < contents.size(); ++i) {
      if (i % 2 == 0) {
        job.fields.emplace_back("F" + std::to_string(i), contents[i]);
        expected.push_back({{"Content-Disposition: form-data; name=\"F" + std::to_string(i) + "\""}, contents[i]});
      } else {
        job.attachments.Add(path(i), fileName(i), "A" + std::to_string(i));
        if (!contents[i].empty())
          files.push_back({{"Content-Disposition: form-data; name=\"A" + std::to_string(i) + "\"; filename=\"" +
                                fileName(i) + "\"",
                            "Content-Type: application/octet-stream"},
                           contents[i]});
      }
    }
    expected.insert(expected.end(), files.begin(), files.end());
    kx::KXUploadContext context{&network, openFile, kx::KXSendProgress(nullptr), random};
    Check(kx::UploadBugReport(job, kx::KXSendTexts(), context).sent, network.sent, expected);
  } else {
    kx::KXMailJob job;
    job.sender = "Kestrelix <crash@example.com>";
    job.recipients = "dev@example.com";
    job.server = "smtp.example.com";
    job.subject = "bug report";
    job.body = contents[0];
    expected.push_back({{"Content-Type: text/plain; charset=\"iso-8859-1\"", "Content-Transfer-Encoding: 8bit"},
                        kx::SmtpBodyText(contents[0])});
    for (size_t i = 1; i < contents.size(); ++i) {
      job.attachments.Add(path(i), fileName(i), "A");
      if (!contents[i].empty())
        expected.push_back({{"Content-Type: application/octet-stream; name=\"" + fileName(i) + "\"",
                             "Content-Transfer-Encoding: base64",
                             "Content-Disposition: attachment; filename=\"" + fileName(i) + "\""},
                            Base64Lines(contents[i])});
    }
    if (job.attachments.Empty())
      return 0; // a mail without attachments has no multipart framing
    kx::KXMailContext context;
    context.network = &network;
    context.openFile = openFile;
    context.computerName = "PC";
    context.random = random;
    Check(kx::SendMail(job.recipients, job, context), network.message, expected);
  }
  return 0;
}
