#include "tests/crash/delivery/win32/MessageParts.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <regex>

#include "crash/base/settings/KXText.h"
#include "crash/delivery/KXBoundary.h"
#include "tests/crash/delivery/MultipartParts.h"

namespace kx::test {

std::vector<FormPart> Parts(const std::string &body, bool &closed) {
  // The body begins with the first delimiter: its line names the message's boundary.
  const std::string boundary = body.compare(0, 2, "--") == 0 ? body.substr(2, body.find("\r\n") - 2) : "";
  EXPECT_EQ(boundary.substr(0, kBoundaryPrefix.size()), kBoundaryPrefix) << "the body starts with a delimiter";
  const std::string delimiter = "\r\n--" + boundary;
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

void ExpectReportMail(const std::string &message, int year, const std::string &report, const std::string &png) {
  const std::string boundary = BoundaryFromHeader(message);
  ASSERT_EQ(boundary.size(), kBoundaryLength) << "the boundary named by the Content-Type line";
  const std::string header = message.substr(0, message.find("MIME-Version"));
  EXPECT_EQ(header.substr(0, header.find("Date: ")), "To: Dev Team <dev@example.com>, <ops@example.org>\r\n"
                                                     "From: Kestrelix <dev@example.com>\r\n"
                                                     "Subject: =?ISO-8859-1?Q?Crash=3A=20EConvertError?=\r\n");
  std::smatch date;
  ASSERT_TRUE(std::regex_search(header, date,
                                std::regex("\r\nDate: ([1-9]|[12][0-9]|3[01]) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|"
                                           "Nov|Dec) ([0-9]{4}) [0-2][0-9]:[0-5][0-9]:[0-5][0-9] UT\r\n")))
      << header;
  EXPECT_EQ(std::stoi(date[3]), year);
  std::smatch id;
  ASSERT_TRUE(std::regex_search(header, id, std::regex("\r\nMessage-ID: <([0-9a-f]{16})@Kestrelix>\r\n$"))) << header;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t sent = std::stoull(id[1], nullptr, 16), current = uint64_t(now.dwHighDateTime) << 32 | now.dwLowDateTime;
  EXPECT_LE(sent, current);
  EXPECT_GT(sent, current - 600ull * 10000000ull);

  // The body as a receiver keeps it: the lone "." went out as ". ", ".hidden" unchanged.
  const std::string body = message.substr(header.size());
  EXPECT_EQ(body.substr(0, body.find("--" + boundary + "\r\nContent-Type: application")),
            "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"" + boundary +
                "\"\r\n\r\nThis is a multi-part message in MIME format.\r\n\r\n--" + boundary +
                "\r\nContent-Type: text/plain; charset=\"iso-8859-1\"\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
                "first line\r\n. \r\n.hidden\r\nlast line\r\n");
  EXPECT_NE(message.find("--" + boundary + "\r\nContent-Type: application/octet-stream; name=\"bugreport.txt\"\r\n"
                         "Content-Transfer-Encoding: base64\r\n"
                         "Content-Disposition: attachment; filename=\"bugreport.txt\"\r\n\r\n"),
            std::string::npos);
  EXPECT_EQ(AttachmentOf(message, "bugreport.txt"), report);
  EXPECT_NE(message.find("Content-Type: image/png; name=\"screenshot.png\"\r\n"), std::string::npos);
  EXPECT_EQ(AttachmentOf(message, "screenshot.png"), png);
  EXPECT_EQ(message.substr(message.size() - boundary.size() - 8), "--" + boundary + "--\r\n\r\n");
}

} // namespace kx::test
