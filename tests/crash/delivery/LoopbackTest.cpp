// The engines end to end over real sockets, against servers on 127.0.0.1: an SMTP server
// (aiosmtpd), a DNS server (dnslib) and an upload server (Python's http.server).
#include <gtest/gtest.h>

#include "crash/base/settings/KXText.h"
#include "crash/delivery/KXBoundary.h"
#include "crash/delivery/KXSendByNetwork.h"
#include "tests/crash/delivery/FakeNetwork.h"
#include "tests/crash/delivery/LoopbackNetwork.h"

namespace kx {
namespace {

using test::LoopbackNetwork;
using test::LoopbackServer;
using test::MemoryFiles;
using test::TempFolder;

const std::string kPython = TIDEWELL_SERVER_PYTHON;

#define REQUIRE_SERVERS()                                                                                            \
  if (kPython.empty())                                                                                                 \
  GTEST_SKIP() << "no python3 with aiosmtpd and dnslib (Debian python3-aiosmtpd, python3-dnslib)"

std::string Screenshot() {
  std::string png = "\x89PNG\r\n\x1a\n";
  for (int i = 0; i < 1000; ++i)
    png += static_cast<char>(i * 31 + 7);
  return png;
}

struct LoopbackSend {
  LoopbackNetwork network;
  MemoryFiles files;
  KXNetworkEnvironment environment;
  KXNetworkSend send;

  LoopbackSend() {
    files.files[u"C:\\tmp\\screenShot.png"] = Screenshot();
    environment.network = &network;
    environment.openFile = files.Opener();
    environment.computerName = "WORKSTATION";
    environment.now = 129754120230000000ull;
    environment.rootServers = {};
    send.mailFrom = "Kestrelix <crash@example.com>";
    send.rcptTo = "dev@example.com";
    send.subject = "Fehler in Tidewell";
    send.body = "first line\r\n.\r\n.hidden\r\nlast line";
    send.attachments.Add(u"C:\\tmp\\screenShot.png", "screenshot.png", "ScreenShot");
  }
};

// The base64 lines of the message's part for the named file, decoded.
std::string AttachmentOf(const std::string &message, const std::string &name) {
  size_t at = message.find("filename=\"" + name + "\"");
  if (at == std::string::npos)
    return {};
  size_t pos = message.find("\r\n\r\n", at) + 4;
  std::string data;
  for (size_t end; (end = message.find("\r\n", pos)) != std::string::npos && end > pos; pos = end + 2) {
    if (message.compare(pos, 2, "--") == 0)
      break;
    EXPECT_LE(end - pos, 76u);
    data += Base64Decode(message.substr(pos, end - pos)).value_or("<invalid>");
  }
  return data;
}

TEST(Loopback, MailThroughAServerWithAuthLogin) {
  REQUIRE_SERVERS();
  TempFolder out;
  LoopbackServer smtp(kPython, {"smtp", out.Path(), "reporter", "s3cret"});
  ASSERT_NE(smtp.Port(), 0);

  LoopbackSend run;
  run.send.server = "127.0.0.1";
  run.send.port = smtp.Port();
  run.send.account = "reporter";
  run.send.password = "wrong";
  EXPECT_FALSE(SendByNetwork(run.send, run.environment).sent);

  run.send.password = "s3cret";
  ASSERT_TRUE(SendByNetwork(run.send, run.environment).sent);
  EXPECT_EQ(out.Read("mail-1.env"), "FROM crash@example.com\nTO dev@example.com\nAUTH reporter\n");
  const std::string message = out.Read("mail-1.eml");
  EXPECT_NE(message.find("Subject: =?ISO-8859-1?Q?Fehler=20in=20Tidewell?=\r\n"), std::string::npos);
  EXPECT_NE(message.find("Content-Type: multipart/mixed; boundary=\"" + std::string(kBoundaryPrefix)),
            std::string::npos);
  EXPECT_NE(message.find("\r\n\r\nfirst line\r\n. \r\n.hidden\r\nlast line\r\n--"), std::string::npos);
  EXPECT_EQ(AttachmentOf(message, "screenshot.png"), Screenshot());
}

TEST(Loopback, MailStraightToTheExchangerFoundByDns) {
  REQUIRE_SERVERS();
  TempFolder out;
  LoopbackServer smtp(kPython, {"smtp", out.Path()});
  LoopbackServer dns(kPython, {"dns", out.Path(), "example.com", "localhost"});
  ASSERT_NE(smtp.Port(), 0);
  ASSERT_NE(dns.Port(), 0);

  LoopbackSend run;
  run.send.rcptTo = "dev@example.com,nobody@example.org";
  run.send.port = smtp.Port();
  run.environment.systemDnsServers = {"127.0.0.1"};
  run.environment.dns.port = dns.Port();
  run.environment.dns.waitMs = 2000;
  run.environment.dns.nextIdentifier = [] { return uint16_t{0x2BAD}; };
  ASSERT_TRUE(SendByNetwork(run.send, run.environment).sent);
  EXPECT_EQ(out.Read("mail-1.env"), "FROM crash@example.com\nTO dev@example.com\n");
  EXPECT_EQ(out.Read("mail-2.env"), "") << "example.org has no exchanger";
  EXPECT_EQ(out.Read("dns.log"), "query example.com MX id 11181\nquery example.org MX id 11181\n");
  const std::string message = out.Read("mail-1.eml");
  EXPECT_NE(message.find("To: <dev@example.com>, <nobody@example.org>\r\n"), std::string::npos);
  EXPECT_EQ(AttachmentOf(message, "screenshot.png"), Screenshot());
}

std::string Hex(const std::string &bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes)
    hex += {digits[c >> 4], digits[c & 15]};
  return hex;
}

TEST(Loopback, UploadIsAcceptedAsMultipartForm) {
  REQUIRE_SERVERS();
  TempFolder out;
  LoopbackServer http(kPython, {"http", out.Path(), "200"});
  ASSERT_NE(http.Port(), 0);

  LoopbackSend run;
  run.send.httpUrl = "http://127.0.0.1:" + std::to_string(http.Port()) + "/bugs/upload.php";
  run.send.port = 80; // the port in the address wins
  run.send.account = "uploader";
  run.send.password = "pw";
  run.send.fields = {{"MailSubject", "bug report"}, {"MailBody", "line 1\r\nline 2"}};
  run.files.files[u"C:\\tmp\\bugreport.txt"] = std::string(5000, 'r') + "\r\nend";
  run.send.attachments.Add(u"C:\\tmp\\bugreport.txt", "bugreport.txt", "BugReport");
  ASSERT_TRUE(SendByNetwork(run.send, run.environment).sent);

  const std::string summary = out.Read("request-1.txt");
  auto has = [&summary](const std::string &line) { return summary.find(line + "\n") != std::string::npos; };
  EXPECT_TRUE(has("path /bugs/upload.php")) << summary;
  EXPECT_TRUE(has("header Host: 127.0.0.1:" + std::to_string(http.Port())));
  EXPECT_TRUE(has("header Authorization: Basic " + Base64Encode("uploader:pw")));
  EXPECT_TRUE(has("header From: <crash@example.com>"));
  EXPECT_TRUE(has("field MailSubject " + Hex("bug report")));
  EXPECT_TRUE(has("field MailBody " + Hex("line 1\r\nline 2")));
  EXPECT_TRUE(has("file ScreenShot screenshot.png " + Hex(Screenshot())));
  EXPECT_TRUE(has("file BugReport bugreport.txt " + Hex(std::string(5000, 'r') + "\r\nend")));
  const size_t lengthAt = summary.find("header Content-Length: ");
  ASSERT_NE(lengthAt, std::string::npos);
  EXPECT_TRUE(has("received " + summary.substr(lengthAt + 23, summary.find('\n', lengthAt) - lengthAt - 23)));
}

TEST(Loopback, UploadRedirectIsReported) {
  REQUIRE_SERVERS();
  TempFolder out;
  LoopbackServer http(kPython, {"http", out.Path(), "302:https://bugs.example.com/thanks?id=42"});
  ASSERT_NE(http.Port(), 0);
  LoopbackSend run;
  run.send.httpUrl = "127.0.0.1/in";
  run.send.port = http.Port();
  KXNetworkResult result = SendByNetwork(run.send, run.environment);
  EXPECT_TRUE(result.sent);
  EXPECT_EQ(result.location, "https://bugs.example.com/thanks?id=42");
}

// Content that holds the boundary every message once had, each time followed by forged parts: a
// receiver that parses the message (Python's email module on the server side) finds only the
// parts that were sent.
const std::string kOldBoundary = "KestrelixBoundary_7d41c09ef2a83b6";
const std::string kForging = "report line\r\n--" + kOldBoundary +
                             "\r\nContent-Type: application/octet-stream\r\n"
                             "Content-Disposition: attachment; filename=\"evil.bat\"\r\n\r\nformat c:\r\n--" +
                             kOldBoundary +
                             "\r\nContent-Disposition: form-data; name=\"MailAddr\"\r\n\r\nspy@evil.example\r\n--" +
                             kOldBoundary + "--\r\nafter";

std::vector<std::string> Lines(const std::string &text, const std::string &prefix = "") {
  std::vector<std::string> lines;
  for (size_t pos = 0, end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1)
    if (text.compare(pos, prefix.size(), prefix) == 0)
      lines.push_back(text.substr(pos, end - pos));
  return lines;
}

TEST(Loopback, ContentHoldingTheOldBoundaryForgesNoPartOfAMail) {
  REQUIRE_SERVERS();
  TempFolder out;
  LoopbackServer smtp(kPython, {"smtp", out.Path()});
  ASSERT_NE(smtp.Port(), 0);
  LoopbackSend run;
  run.send.server = "127.0.0.1";
  run.send.port = smtp.Port();
  run.send.body = kForging;
  run.files.files[u"C:\\tmp\\bugreport.txt"] = kForging;
  run.send.attachments.Add(u"C:\\tmp\\bugreport.txt", "bugreport.txt", "BugReport");
  ASSERT_TRUE(SendByNetwork(run.send, run.environment).sent);

  const std::vector<std::string> parts = Lines(out.Read("mail-1.parts"));
  ASSERT_EQ(parts.size(), 3u) << out.Read("mail-1.parts");
  EXPECT_EQ(parts[0].rfind("part text/plain - ", 0), 0u) << parts[0];
  EXPECT_NE(parts[0].find(Hex("spy@evil.example")), std::string::npos) << "the forged text stays in the body";
  EXPECT_EQ(parts[1], "part image/png screenshot.png " + Hex(Screenshot()));
  EXPECT_EQ(parts[2].substr(parts[2].rfind(' ') + 1), Hex(kForging));
  EXPECT_EQ(parts[2].rfind("part ", 0), 0u);
  EXPECT_NE(parts[2].find(" bugreport.txt "), std::string::npos) << parts[2];
}

TEST(Loopback, ContentHoldingTheOldBoundaryForgesNoPartOfAnUpload) {
  REQUIRE_SERVERS();
  TempFolder out;
  LoopbackServer http(kPython, {"http", out.Path(), "200"});
  ASSERT_NE(http.Port(), 0);
  LoopbackSend run;
  run.send.httpUrl = "http://127.0.0.1:" + std::to_string(http.Port()) + "/in";
  run.send.fields = {{"MailBody", kForging}};
  run.files.files[u"C:\\tmp\\bugreport.txt"] = kForging;
  run.send.attachments.Add(u"C:\\tmp\\bugreport.txt", "bugreport.txt", "BugReport");
  ASSERT_TRUE(SendByNetwork(run.send, run.environment).sent);

  const std::string summary = out.Read("request-1.txt");
  std::vector<std::string> parts = Lines(summary, "field ");
  for (const std::string &file : Lines(summary, "file "))
    parts.push_back(file);
  EXPECT_EQ(parts, (std::vector<std::string>{"field MailBody " + Hex(kForging),
                                             "file ScreenShot screenshot.png " + Hex(Screenshot()),
                                             "file BugReport bugreport.txt " + Hex(kForging)}))
      << summary;
}

} // namespace
} // namespace kx
