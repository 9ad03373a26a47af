#pragma once
// Reading what a mail or upload server received, as a receiver splits it: the parts of a
// multipart form body, the header's field names, the base64 attachment of a mail.
#include <string>
#include <vector>

namespace kx::test {

struct FormPart {
  std::string disposition; // the Content-Disposition value
  std::string type;        // the Content-Type value, if any
  std::string content;
};

// The parts of a multipart body with the product's boundary; closed: the closing delimiter ends
// it.
std::vector<FormPart> Parts(const std::string &body, bool &closed);

// The field names of a request or message header, after its first line.
std::vector<std::string> HeaderNames(const std::string &header);

// The decoded base64 lines of the mail's attachment part with this file name ("<no part>" when
// there is none); a test failure when a line but the last is not 76 characters long.
std::string AttachmentOf(const std::string &message, const std::string &name);

} // namespace kx::test
