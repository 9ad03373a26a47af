#pragma once
// Reading what a mail or upload server received, as a receiver splits it: the parts of a
// multipart form body, the header's field names, the base64 attachment of a mail; and the
// check of the report mail that the SMTP tests send.
#include <string>
#include <vector>

namespace kx::test {

struct FormPart {
  std::string disposition; // the Content-Disposition value
  std::string type;        // the Content-Type value, if any
  std::string content;
};

// The parts of a multipart body with the boundary its first delimiter line names; closed: the closing delimiter ends
// it.
std::vector<FormPart> Parts(const std::string &body, bool &closed);

// The field names of a request or message header, after its first line.
std::vector<std::string> HeaderNames(const std::string &header);

// The decoded base64 lines of the mail's attachment part with this file name ("<no part>" when
// there is none); a test failure when a line but the last is not 76 characters long.
std::string AttachmentOf(const std::string &message, const std::string &name);

// Checks the report mail that the mail tests send, byte for byte where the receiver keeps them:
// to "Dev Team <dev@example.com>; ops@example.org" from dev@example.com, subject "Crash:
// %exceptClass%" of an EConvertError, body "first line\r\n.\r\n.hidden\r\nlast line" (the lone
// "." goes out as ". "), then bugreport.txt with `report` and screenshot.png with `png`. The Date
// must lie in `year`, the Message-ID be made in the last ten minutes.
void ExpectReportMail(const std::string &message, int year, const std::string &report, const std::string &png);

} // namespace kx::test
