// The Win32 delivery shell against real servers on 127.0.0.1 that run_with_servers.sh starts
// beside this program (aiosmtpd, a dnslib responder, Python's HTTP server; RealServers.conf):
// what arrives there, byte for byte, as the servers stored it.
#include <regex>

#include "crash/base/settings/KXSettingsStream.h"
#include "crash/base/settings/KXText.h"
#include "crash/delivery/KXBoundary.h"
#include "tests/crash/delivery/win32/DeliveryWin32Fixture.h"
#include "tests/crash/delivery/win32/MessageParts.h"

namespace kx::test {
namespace {

// The servers' ports and the folders of their records (TIDEWELL_TEST_SERVERS, a Unix path that
// Wine shows as drive Z:).
class RealServers {
public:
  static RealServers &Get() {
    static RealServers servers;
    return servers;
  }
  bool Found() const { return !FPorts.empty(); }
  const std::string &Where() const { return FWhere; }
  uint16_t Port(const std::string &name) const {
    auto it = FPorts.find(name);
    return it == FPorts.end() ? 0 : it->second;
  }
  // The record file of the server, "" when there is none.
  std::string Read(const std::string &server, const std::string &file) const {
    return Win32TestFolder::Read(FFolder + std::wstring(server.begin(), server.end()) + L"\\" +
                                 std::wstring(file.begin(), file.end()));
  }
  bool Exists(const std::string &server, const std::string &file) const {
    std::wstring path = FFolder + std::wstring(server.begin(), server.end()) + L"\\" + std::wstring(file.begin(), file.end());
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  // How many mails the SMTP server has stored; the record of the last one ("eml" or "env").
  int MailCount(const std::string &server) const {
    int n = 0;
    while (Exists(server, "mail-" + std::to_string(n + 1) + ".eml"))
      ++n;
    return n;
  }
  std::string LastMail(const std::string &server, const std::string &kind) const {
    return Read(server, "mail-" + std::to_string(MailCount(server)) + "." + kind);
  }

private:
  RealServers() {
    const char *where = std::getenv("TIDEWELL_TEST_SERVERS");
    if (!where || where[0] != '/')
      return;
    FWhere = where;
    FFolder = L"Z:";
    for (char c : FWhere)
      FFolder += c == '/' ? L'\\' : wchar_t(static_cast<unsigned char>(c));
    FFolder += L"\\";
    std::string ports = Win32TestFolder::Read(FFolder + L"ports.txt");
    size_t pos = 0;
    for (size_t end; (end = ports.find('\n', pos)) != std::string::npos; pos = end + 1) {
      std::string line = ports.substr(pos, end - pos);
      size_t space = line.find(' ');
      if (space != std::string::npos)
        FPorts[line.substr(0, space)] = static_cast<uint16_t>(std::stoi(line.substr(space + 1)));
    }
  }
  std::string FWhere;
  std::wstring FFolder;
  std::map<std::string, uint16_t> FPorts;
};

std::string HexOf(const std::string &bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

std::string ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name, size) : "";
}

class RealServersWin32 : public DeliveryWin32Test {
protected:
  void SetUp() override {
    DeliveryWin32Test::SetUp();
    ASSERT_TRUE(servers.Found()) << "no servers: run through tests/crash/delivery/win32/run_with_servers.sh "
                                    "(TIDEWELL_TEST_SERVERS='"
                                 << servers.Where() << "')";
  }
  void TearDown() override {
    DeliveryWin32Test::TearDown();
    EXPECT_EQ(network->Refused(), std::vector<std::string>{}) << "an address outside 127.0.0.1 was tried";
  }
  // Mail through the named server, no fallbacks.
  StreamBuilder ThroughServer(const std::string &server, const std::string &account = "",
                              const std::string &password = "") {
    return StreamBuilder()
        .Bool("MailAsSmtpClient", true)
        .Text("SmtpServer", "127.0.0.1")
        .Int("SmtpPort", servers.Port(server))
        .Text("SmtpAccount", account)
        .Text("SmtpPassword", EncipherPassword(password, "127.0.0.1", account))
        .Bool("MailViaMapi", false)
        .Bool("MailViaMailto", false);
  }
  StreamBuilder Upload(const std::string &server) {
    return StreamBuilder()
        .Bool("UploadViaHttp", true)
        .Text("HttpServer", "http://127.0.0.1:" + Port(servers.Port(server)) + "/bugs/upload.php");
  }
  RealServers &servers = RealServers::Get();
};

// The whole message as aiosmtpd stored it, through a server that wants AUTH LOGIN.
TEST_F(RealServersWin32, MailWithAuthLoginArrivesWhole) {
  auto refused = Exception(ThroughServer("smtp_auth", "reporter", "wrong").Text("MailAddr", "dev@example.com"));
  EXPECT_FALSE(Deliver(refused, Request(*refused, true)));
  EXPECT_FALSE(servers.Exists("smtp_auth", "mail-1.eml")) << "no mail with a wrong password";
  EXPECT_FALSE(refused->GetMailWasSent());

  auto e = Exception(ReportMail(ThroughServer("smtp_auth", "reporter", "s3cret")));
  auto shot = std::make_shared<FakeScreenShot>();
  SYSTEMTIME before;
  GetSystemTime(&before);
  ASSERT_TRUE(Deliver(e, Request(*e, false), shot));

  EXPECT_EQ(servers.Read("smtp_auth", "mail-1.env"),
            "FROM dev@example.com\nTO dev@example.com\nTO ops@example.org\nAUTH reporter\n");
  EXPECT_EQ(servers.Read("smtp_auth", "greetings.log"), "EHLO " + ComputerName() + "\nEHLO " + ComputerName() + "\n");
  ExpectReportMail(servers.Read("smtp_auth", "mail-1.eml"), before.wYear, oldReports + report + "\r\n\r\n",
                   FakeScreenShot::Png());
  EXPECT_TRUE(e->GetMailWasSent());
  EXPECT_EQ(GetFileAttributesW(bugFile.c_str()), INVALID_FILE_ATTRIBUTES);
}

// A server that refuses EHLO gets HELO; one that announces "AUTH=LOGIN" and cuts every reply
// in two segments still gets its login and the mail; QUIT answered other than 221 fails.
TEST_F(RealServersWin32, ServersThatAnswerDifferently) {
  auto helo = Exception(ThroughServer("smtp_helo").Text("MailAddr", "dev@example.com"));
  EXPECT_TRUE(Deliver(helo, Request(*helo, true)));
  EXPECT_EQ(servers.Read("smtp_helo", "greetings.log"), "EHLO " + ComputerName() + "\nHELO " + ComputerName() + "\n");
  EXPECT_EQ(servers.MailCount("smtp_helo"), 1);

  folder.Write(L"bug.txt", oldReports); // the mail above deleted it
  auto split = Exception(ThroughServer("smtp_split", "reporter", "s3cret").Text("MailAddr", "dev@example.com"));
  EXPECT_TRUE(Deliver(split, Request(*split, true)));
  EXPECT_EQ(servers.Read("smtp_split", "mail-1.env"), "FROM dev@example.com\nTO dev@example.com\nAUTH reporter\n");
  EXPECT_EQ(AttachmentOf(servers.Read("smtp_split", "mail-1.eml"), "bugreport.txt"), oldReports + report + "\r\n\r\n");

  folder.Write(L"bug.txt", oldReports);
  auto noQuit = Exception(ThroughServer("smtp_noquit").Text("MailAddr", "dev@example.com"));
  EXPECT_FALSE(Deliver(noQuit, Request(*noQuit, true))) << "QUIT not answered 221";
  EXPECT_EQ(servers.Read("smtp_noquit", "quits.log"), "QUIT\n");
  EXPECT_FALSE(noQuit->GetMailWasSent());
  EXPECT_EQ(Win32TestFolder::Read(bugFile), oldReports);
}

// Three recipients in direct mode: the DNS responder names each domain's exchanger, and each
// exchanger gets its own recipient.
TEST_F(RealServersWin32, DirectToEachRecipientsExchanger) {
  network->AddHost("mx.alpha.example", servers.Port("mx_alpha"));
  network->AddHost("mx.beta.example", servers.Port("mx_beta"));
  network->AddHost("mx.gamma.example", servers.Port("mx_gamma"));
  dnsPort = servers.Port("dns");
  KXWin32DeliveryConfig config = Config();
  config.dnsServers = std::vector<std::string>{"127.0.0.1"};
  auto e = Exception(StreamBuilder()
                         .Bool("MailAsSmtpServer", true)
                         .Text("MailAddr", "ann@alpha.example, Bob <bob@beta.example>; cy@gamma.example")
                         .Bool("MailViaMapi", false)
                         .Bool("MailViaMailto", false));
  ASSERT_TRUE(Deliver(e, Request(*e, false), nullptr, config));

  std::string queries = servers.Read("dns", "dns.log");
  EXPECT_EQ(std::regex_replace(queries, std::regex(" id [0-9]+"), ""),
            "query alpha.example MX\nquery beta.example MX\nquery gamma.example MX\n");
  const std::pair<const char *, const char *> delivered[] = {
      {"mx_alpha", "ann@alpha.example"}, {"mx_beta", "bob@beta.example"}, {"mx_gamma", "cy@gamma.example"}};
  for (const auto &[exchanger, recipient] : delivered) {
    EXPECT_EQ(servers.MailCount(exchanger), 1) << exchanger;
    EXPECT_EQ(servers.LastMail(exchanger, "env"), std::string("FROM ann@alpha.example\nTO ") + recipient + "\n");
  }
  EXPECT_EQ(servers.Read("mx_gamma", "mail-1.eml").rfind("To: <ann@alpha.example>, Bob <bob@beta.example>, <cy@gamma.example>\r\n", 0),
            0u);
  EXPECT_TRUE(e->GetMailWasSent());
}

// The root walk: with no system DNS server, the NS questions go down from the root server to
// the domain's name server, which names the exchanger.
TEST_F(RealServersWin32, RootWalkWhenTheSystemNamesNoDnsServer) {
  network->AddHost("ns.tld.test", 0);
  network->AddHost("ns.example.test", 0);
  network->AddHost("mx.example.test", servers.Port("smtp"));
  dnsPort = servers.Port("dns_walk");
  auto e = Exception(StreamBuilder()
                         .Bool("MailAsSmtpServer", true)
                         .Text("MailAddr", "dev@example.test")
                         .Bool("MailViaMapi", false)
                         .Bool("MailViaMailto", false));
  ASSERT_TRUE(Deliver(e, Request(*e, true)));
  EXPECT_EQ(std::regex_replace(servers.Read("dns_walk", "dns.log"), std::regex(" id [0-9]+"), ""),
            "query example.test NS\nquery example.test NS\nquery example.test MX\n");
  EXPECT_EQ(servers.LastMail("smtp", "env"), "FROM dev@example.test\nTO dev@example.test\n");
}

// The multipart upload as Python's HTTP server received it; the upload comes before mail.
TEST_F(RealServersWin32, UploadArrivesWholeAndComesBeforeMail) {
  network->AddHost("mx.example.com", servers.Port("mx_alpha"));
  const std::string address = "http://127.0.0.1:" + Port(servers.Port("http")) + "/bugs/upload.php";
  auto e = Exception(Upload("http")
                         .Text("HttpAccount", "uploader")
                         .Text("HttpPassword", EncipherPassword("pw", address, "uploader"))
                         .Bool("MailAsSmtpClient", true)
                         .Text("SmtpServer", "mx.example.com")
                         .Text("MailAddr", "dev@example.com")
                         .Text("MailFrom", "Reporter <crash@example.com>")
                         .Text("MailSubj", "Crash: %exceptClass%")
                         .Text("MailBody", "see the report")
                         .Text("AddFields", "Product=Tidewell|MailSubject=replaced")
                         .Int("ScrShotDepth", 4));
  const int mailsBefore = servers.MailCount("mx_alpha");
  ASSERT_TRUE(Deliver(e, Request(*e, false), std::make_shared<FakeScreenShot>()));

  const std::string raw = servers.Read("http", "request-1.raw");
  const size_t headerEnd = raw.find("\r\n\r\n");
  ASSERT_NE(headerEnd, std::string::npos) << raw;
  const std::string header = raw.substr(0, headerEnd + 4), body = raw.substr(headerEnd + 4);
  EXPECT_EQ(header.substr(0, header.find("\r\n")), "POST /bugs/upload.php HTTP/1.1");
  EXPECT_EQ(HeaderNames(header), (std::vector<std::string>{"Host", "Connection", "Pragma", "User-Agent", "Content-Type",
                                                           "Content-Length", "From", "Authorization"}));
  EXPECT_NE(header.find("\r\nContent-Type: multipart/form-data; boundary=" + std::string(kBoundaryPrefix)),
            std::string::npos);
  EXPECT_NE(header.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
  EXPECT_NE(header.find("\r\nAuthorization: Basic dXBsb2FkZXI6cHc=\r\n"), std::string::npos);
  bool closed = false;
  std::vector<FormPart> parts = Parts(body, closed);
  EXPECT_TRUE(closed);
  ASSERT_EQ(parts.size(), 7u);
  EXPECT_EQ(parts[0].disposition, "form-data; name=\"Product\"");
  EXPECT_EQ(parts[0].content, "Tidewell");
  EXPECT_EQ(parts[1].content, "Crash: EConvertError");
  EXPECT_EQ(parts[5].disposition, "form-data; name=\"BugReport\"; filename=\"bugreport.txt\"");
  EXPECT_EQ(parts[5].content, oldReports + report + "\r\n\r\n");
  EXPECT_EQ(parts[6].disposition, "form-data; name=\"ScreenShot\"; filename=\"screenshot.png\"");
  EXPECT_EQ(parts[6].content, FakeScreenShot::Png());
  // Python's own reading of the form agrees.
  const std::string parsed = servers.Read("http", "request-1.txt");
  EXPECT_NE(parsed.find("field Product " + HexOf("Tidewell") + "\n"), std::string::npos) << parsed;
  EXPECT_NE(parsed.find("file ScreenShot screenshot.png " + HexOf(FakeScreenShot::Png()) + "\n"), std::string::npos);

  EXPECT_EQ(servers.MailCount("mx_alpha"), mailsBefore) << "no mail after the upload";
  EXPECT_EQ(FakeMapi::Calls().size(), 0u);
  EXPECT_TRUE(e->GetMailWasSent());
}

// An answer whose status line and header lines come in separate segments is read whole.
TEST_F(RealServersWin32, AnswerSplitAcrossSegments) {
  auto e = Exception(Upload("http_split").Bool("MailViaMapi", false));
  EXPECT_TRUE(Deliver(e, Request(*e, true)));
  EXPECT_TRUE(servers.Exists("http_split", "request-1.raw"));
  EXPECT_TRUE(e->GetMailWasSent());
}

// 302 with a Location opens it; 302 without one fails, and the local fallbacks follow in order:
// MAPI, then the mail program.
TEST_F(RealServersWin32, RedirectsAndTheOrderOfTheFallbacks) {
  auto e = Exception(Upload("http_302").Bool("MailViaMapi", false));
  EXPECT_TRUE(Deliver(e, Request(*e, true)));
  EXPECT_EQ(hooks->Locations(), std::vector<std::string>{"https://bugs.example.com/thanks?id=42"});
  EXPECT_TRUE(e->GetMailWasSent());

  // 302 without Location fails. The upload was the network transport (it takes precedence over
  // the SMTP server, which is not tried); MAPI is next, then the mail program.
  folder.Write(L"bug.txt", oldReports);
  const std::string greetings = servers.Read("mx_beta", "greetings.log");
  RegisterMailto("mailer.exe %1");
  hooks->startResult = true;
  e = Exception(Upload("http_302_bare")
                    .Bool("MailAsSmtpClient", true)
                    .Text("SmtpServer", "127.0.0.1")
                    .Int("SmtpPort", servers.Port("mx_beta"))
                    .Text("MailAddr", "dev@example.com"));
  EXPECT_TRUE(Deliver(e, Request(*e, false)));
  EXPECT_TRUE(servers.Exists("http_302_bare", "request-1.raw"));
  EXPECT_EQ(hooks->Locations().size(), 1u);
  EXPECT_EQ(servers.Read("mx_beta", "greetings.log"), greetings) << "the SMTP server is not tried after the upload";
  ExpectLeftToTheMailProgram(e);
}

// A hidden send that fails everywhere shows nothing: no message box, no mail program.
TEST_F(RealServersWin32, AHiddenSendThatFailsShowsNothing) {
  RegisterMailto("mailer.exe %1");
  hooks->startResult = true;
  auto e = Exception(Upload("http_500")
                         .Bool("MailAsSmtpClient", true)
                         .Text("SmtpServer", "127.0.0.1")
                         .Int("SmtpPort", servers.Port("smtp_noquit"))
                         .Text("MailAddr", "dev@example.com")
                         .Text("SendFailMsg", "Nothing worked.")
                         .Bool("AutoSendBox", false));
  EXPECT_FALSE(Deliver(e, Request(*e, true)));
  EXPECT_EQ(hooks->Processes(), std::vector<std::string>{});
  EXPECT_EQ(hooks->Failures(), std::vector<std::string>{});
  EXPECT_FALSE(e->GetMailWasSent());
}

} // namespace
} // namespace kx::test
