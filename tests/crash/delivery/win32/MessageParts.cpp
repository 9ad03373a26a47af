#include "MessageParts.h"

#include <gtest/gtest.h>

#include "KXBoundary.h"
#include "KXText.h"

namespace kx::test {

std::vector<FormPart> Parts(const std::string &body, bool &closed) {
  const std::string delimiter = "\r\n--" + std::string(kMultipartBoundary);
  const std::string text = "\r\n" + body;
  std::vector<FormPart> parts;
  closed = false;
  size_t at = text.find(delimiter);
  while (at != std::string::npos) {
    size_t start = at + delimiter.size();
    if (text.compare(start, 4, "--\r\n") == 0) {
      closed = start + 4 == text.size();
      break;
    }
    size_t next = text.find(delimiter, start);
    std::string part = text.substr(start, next == std::string::npos ? std::string::npos : next - start);
    FormPart p;
    size_t headerEnd = part.find("\r\n\r\n");
    std::string header = part.substr(0, headerEnd);
    p.content = headerEnd == std::string::npos ? "" : part.substr(headerEnd + 4);
    size_t d = header.find("Content-Disposition: ");
    if (d != std::string::npos)
      p.disposition = header.substr(d + 21, header.find("\r\n", d) - d - 21);
    size_t t = header.find("Content-Type: ");
    if (t != std::string::npos)
      p.type = header.substr(t + 14, header.find("\r\n", t) - t - 14);
    parts.push_back(p);
    at = next;
  }
  return parts;
}

std::vector<std::string> HeaderNames(const std::string &header) {
  std::vector<std::string> names;
  size_t pos = header.find("\r\n") + 2;
  for (size_t end; (end = header.find("\r\n", pos)) != std::string::npos && end > pos; pos = end + 2)
    names.push_back(header.substr(pos, header.find(':', pos) - pos));
  return names;
}

std::string AttachmentOf(const std::string &message, const std::string &name) {
  size_t at = message.find("filename=\"" + name + "\"\r\n");
  if (at == std::string::npos)
    return "<no part>";
  size_t pos = message.find("\r\n\r\n", at) + 4;
  std::string data;
  bool shortLine = false;
  for (size_t end; (end = message.find("\r\n", pos)) != std::string::npos && end > pos; pos = end + 2) {
    if (message.compare(pos, 2, "--") == 0)
      break;
    EXPECT_FALSE(shortLine) << "a short line before the last";
    shortLine = end - pos != 76;
    EXPECT_LE(end - pos, 76u);
    data += Base64Decode(message.substr(pos, end - pos)).value_or("<invalid>");
  }
  return data;
}

} // namespace kx::test
