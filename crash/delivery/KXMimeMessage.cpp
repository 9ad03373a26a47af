#include "crash/delivery/KXMimeMessage.h"

#include "crash/base/settings/KXText.h"
#include "crash/delivery/KXHeaderValue.h"
#include "crash/delivery/KXMailAddresses.h"

namespace kx {

std::string MailHeaderBlock(std::string_view recipients, std::string_view sender, std::string_view subject,
                            KXFileTime now) {
  std::string block;
  block += "To: " + FullAngleRecipients(recipients) + "\r\n";
  block += "From: " + FullAngleAddress(sender) + "\r\n";
  block += "Subject: " + EncodedSubject(subject) + "\r\n";
  block += "Date: " + MailDate(now) + "\r\n";
  block += "Message-ID: " + MailMessageId(now) + "\r\n";
  return block;
}

std::string MimePrologue(std::string_view boundary, std::string_view bodyText) {
  std::string text;
  text += "MIME-Version: 1.0\r\n";
  text += "Content-Type: multipart/mixed; boundary=\"" + std::string(boundary) + "\"\r\n\r\n";
  text += "This is a multi-part message in MIME format.\r\n\r\n";
  text += "--" + std::string(boundary) + "\r\n";
  text += "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n";
  text += "Content-Transfer-Encoding: 8bit\r\n\r\n";
  text += bodyText;
  text += "\r\n";
  return text;
}

std::string AttachmentContentType(std::u16string_view path) {
  static constexpr std::u16string_view kPng = u".png";
  if (path.size() >= kPng.size() && SameTextW(path.substr(path.size() - kPng.size()), kPng))
    return "image/png";
  return "application/octet-stream";
}

std::string MimeAttachmentHeader(std::string_view boundary, std::string_view contentType,
                                 std::string_view sendAsName) {
  const std::string name = EscapedQuotedValue(sendAsName);
  std::string text;
  text += "--" + std::string(boundary) + "\r\n";
  text += "Content-Type: " + std::string(contentType) + "; name=\"" + name + "\"\r\n";
  text += "Content-Transfer-Encoding: base64\r\n";
  text += "Content-Disposition: attachment; filename=\"" + name + "\"\r\n\r\n";
  return text;
}

std::string Base64Line(std::string_view chunk) {
  return Base64Encode(chunk) + "\r\n";
}

std::string MimeClosingDelimiter(std::string_view boundary) {
  return "--" + std::string(boundary) + "--\r\n";
}

} // namespace kx
