// Mail over SMTP through the Win32 host, against SMTP servers and a DNS responder of the test on
// 127.0.0.1: the dialogue, the bytes of the message, and direct sending to each recipient's
// mail exchanger.

#include "crash/base/settings/KXSettingsStream.h"
#include "crash/base/settings/KXText.h"
#include "tests/crash/delivery/win32/DeliveryWin32Fixture.h"
#include "tests/crash/delivery/win32/LoopbackServers.h"
#include "tests/crash/delivery/win32/MessageParts.h"

namespace kx::test {
namespace {

class SmtpWin32 : public DeliveryWin32Test {
protected:
  // Mail through the server (MailAsSmtpClient), no fallbacks.
  StreamBuilder ThroughServer(uint16_t port, const std::string &account = "", const std::string &password = "") {
    return StreamBuilder()
        .Bool("MailAsSmtpClient", true)
        .Text("SmtpServer", "127.0.0.1")
        .Int("SmtpPort", port)
        .Text("SmtpAccount", account)
        .Text("SmtpPassword", EncipherPassword(password, "127.0.0.1", account)) // stored as the tool writes it
        .Bool("MailViaMapi", false)
        .Bool("MailViaMailto", false);
  }
};

std::string ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name, size) : "";
}

std::vector<std::string> Without(std::vector<std::string> lines, const std::string &prefix) {
  lines.erase(std::remove_if(lines.begin(), lines.end(), [&](const std::string &l) { return l.rfind(prefix, 0) == 0; }),
              lines.end());
  return lines;
}

TEST_F(SmtpWin32, ThroughTheServerWithAuthLogin) {
  SmtpBehaviour behaviour;
  behaviour.account = "reporter";
  behaviour.password = "s3cret";
  SmtpTestServer server(behaviour);
  ASSERT_NE(server.Port(), 0);

  // A wrong password: no mail, QUIT, nothing marked or deleted.
  auto refused = Exception(ThroughServer(server.Port(), "reporter", "wrong").Text("MailAddr", "dev@example.com"));
  EXPECT_FALSE(Deliver(refused, Request(*refused, true)));
  EXPECT_EQ(server.Messages().size(), 0u);
  EXPECT_EQ(server.Dialogue().back(), "QUIT");
  EXPECT_FALSE(refused->GetMailWasSent());
  EXPECT_EQ(Win32TestFolder::Read(bugFile), oldReports);

  auto e = Exception(ReportMail(ThroughServer(server.Port(), "reporter", "s3cret")));
  auto shot = std::make_shared<FakeScreenShot>();
  SYSTEMTIME before;
  GetSystemTime(&before);
  ASSERT_TRUE(Deliver(e, Request(*e, false), shot));

  const std::string name = ComputerName();
  std::vector<std::string> dialogue = server.Dialogue();
  auto second = std::find(dialogue.rbegin(), dialogue.rend(), "EHLO " + name); // after the refused attempt
  ASSERT_NE(second, dialogue.rend());
  dialogue.erase(dialogue.begin(), second.base() - 1);
  EXPECT_EQ(dialogue, (std::vector<std::string>{"EHLO " + name, "AUTH LOGIN", Base64Encode("reporter"),
                                                Base64Encode("s3cret"), "MAIL FROM:<dev@example.com>",
                                                "RCPT TO:<dev@example.com>", "RCPT TO:<ops@example.org>", "DATA",
                                                "QUIT"}));
  ASSERT_EQ(server.Messages().size(), 1u);
  ExpectReportMail(server.Messages()[0], before.wYear, oldReports + report + "\r\n\r\n", FakeScreenShot::Png());
  EXPECT_EQ(shot->savedFormat, 1);

  // A real success: marked sent, the bug report file and the screenshot copy gone.
  EXPECT_TRUE(e->GetMailWasSent());
  EXPECT_EQ(GetFileAttributesW(bugFile.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW((temp + L"screenShot.png").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(SmtpWin32, ServersThatAnswerDifferently) {
  const std::string name = ComputerName();
  auto settings = [&](uint16_t port, const std::string &account = "", const std::string &password = "") {
    return ThroughServer(port, account, password).Text("MailAddr", "dev@example.com").Bool("AttachBugRep", false);
  };

  // EHLO refused: HELO, and the mail goes without attachments.
  SmtpBehaviour old;
  old.refuseEhlo = true;
  SmtpTestServer oldServer(old);
  auto e = Exception(settings(oldServer.Port()));
  EXPECT_TRUE(Deliver(e, Request(*e, true)));
  std::vector<std::string> dialogue = oldServer.Dialogue();
  ASSERT_GE(dialogue.size(), 2u);
  EXPECT_EQ(dialogue[0], "EHLO " + name);
  EXPECT_EQ(dialogue[1], "HELO " + name);
  ASSERT_EQ(oldServer.Messages().size(), 1u);
  const std::string plain = oldServer.Messages()[0];
  EXPECT_EQ(plain.find("MIME-Version"), std::string::npos);
  EXPECT_EQ(plain.substr(plain.find("@Kestrelix>\r\n") + 13), "\r\nplease find the bug report attached\r\n");

  // Replies in pieces and the old "AUTH=LOGIN" form: EHLO holds, AUTH LOGIN goes through.
  SmtpBehaviour pieces;
  pieces.splitReplies = true;
  pieces.authLine = "250-AUTH=LOGIN PLAIN";
  pieces.account = "a";
  pieces.password = "p";
  SmtpTestServer piecesServer(pieces);
  e = Exception(settings(piecesServer.Port(), "a", "p"));
  EXPECT_TRUE(Deliver(e, Request(*e, true)));
  dialogue = piecesServer.Dialogue();
  EXPECT_EQ(std::count(dialogue.begin(), dialogue.end(), "HELO " + name), 0);
  EXPECT_EQ(std::count(dialogue.begin(), dialogue.end(), "AUTH LOGIN"), 1);
  EXPECT_EQ(piecesServer.Messages().size(), 1u);

  // An account but no AUTH LOGIN on offer: no mail, QUIT.
  SmtpBehaviour noAuth;
  noAuth.authLine = "";
  SmtpTestServer noAuthServer(noAuth);
  e = Exception(settings(noAuthServer.Port(), "a", "p"));
  EXPECT_FALSE(Deliver(e, Request(*e, true)));
  EXPECT_EQ(noAuthServer.Dialogue(), (std::vector<std::string>{"EHLO " + name, "QUIT"}));

  // QUIT answered with 250: the message went, but the send counts as failed.
  SmtpBehaviour badQuit;
  badQuit.quitReply = "250 whatever";
  SmtpTestServer badQuitServer(badQuit);
  e = Exception(settings(badQuitServer.Port()));
  EXPECT_FALSE(Deliver(e, Request(*e, true)));
  EXPECT_EQ(badQuitServer.Messages().size(), 1u);
  EXPECT_EQ(badQuitServer.Dialogue().back(), "QUIT");
  EXPECT_FALSE(e->GetMailWasSent());
}

TEST_F(SmtpWin32, StraightToEachRecipientsExchanger) {
  SmtpBehaviour rejecting;
  rejecting.rejectRecipients = {"bob@"};
  SmtpTestServer alpha, beta(rejecting), gamma;
  // The first MX record counts, even with the larger preference; mx2.alpha.example has no server.
  DnsTestResponder dns({{{"alpha.example", {{20, "mx1.alpha.example"}, {10, "mx2.alpha.example"}}},
                         {"beta.example", {{10, "mx.beta.example"}}},
                         {"gamma.example", {{5, "mx.gamma.example"}}}},
                        {}});
  ASSERT_NE(dns.Port(), 0);
  network->AddHost("mx1.alpha.example", alpha.Port());
  network->AddHost("mx2.alpha.example", 0);
  network->AddHost("mx.beta.example", beta.Port());
  network->AddHost("mx.gamma.example", gamma.Port());
  dnsPort = dns.Port();
  KXWin32DeliveryConfig config = Config();
  config.dnsServers = std::vector<std::string>{"127.0.0.1"};

  auto e = Exception(StreamBuilder()
                         .Bool("MailAsSmtpServer", true)
                         .Text("MailAddr", "ann@alpha.example, Bob <bob@beta.example>; cy@gamma.example")
                         .Bool("MailViaMapi", false)
                         .Bool("MailViaMailto", false));
  ASSERT_TRUE(Deliver(e, Request(*e, false), nullptr, config));

  EXPECT_EQ(dns.Questions(), (std::vector<std::string>{"alpha.example MX", "beta.example MX", "gamma.example MX"}));
  std::vector<uint16_t> ids = dns.Identifiers();
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_FALSE(ids[0] == ids[1] && ids[1] == ids[2]) << "query identifiers are random";
  auto recipients = [](SmtpTestServer &s) {
    std::vector<std::string> d = s.Dialogue();
    std::vector<std::string> r;
    std::copy_if(d.begin(), d.end(), std::back_inserter(r), [](const std::string &l) { return l.rfind("RCPT", 0) == 0; });
    return r;
  };
  EXPECT_EQ(alpha.Connections(), 1);
  EXPECT_EQ(beta.Connections(), 1);
  EXPECT_EQ(gamma.Connections(), 1);
  EXPECT_EQ(recipients(alpha), std::vector<std::string>{"RCPT TO:<ann@alpha.example>"});
  EXPECT_EQ(recipients(beta), std::vector<std::string>{"RCPT TO:<bob@beta.example>"});
  EXPECT_EQ(recipients(gamma), std::vector<std::string>{"RCPT TO:<cy@gamma.example>"});
  EXPECT_EQ(alpha.Messages().size(), 1u);
  EXPECT_EQ(beta.Messages().size(), 0u) << "bob was refused";
  ASSERT_EQ(gamma.Messages().size(), 1u);
  EXPECT_EQ(gamma.Messages()[0].rfind("To: <ann@alpha.example>, Bob <bob@beta.example>, <cy@gamma.example>\r\n", 0),
            0u);
  EXPECT_TRUE(e->GetMailWasSent());
  std::vector<std::string> events = Without(Without(network->Events(), "resolve"), "sendto");
  EXPECT_EQ(events, (std::vector<std::string>{"connect mx1.alpha.example " + Port(alpha.Port()),
                                              "connect mx.beta.example " + Port(beta.Port()),
                                              "connect mx.gamma.example " + Port(gamma.Port())}));
}

TEST_F(SmtpWin32, RootWalkWhenTheSystemNamesNoDnsServer) {
  SmtpTestServer exchanger;
  DnsTestResponder dns({{{"example.test", {{10, "mx.example.test"}}}},
                        {{{}, {"ns.tld.test"}}, {{"ns.example.test"}, {}}}});
  ASSERT_NE(dns.Port(), 0);
  network->AddHost("ns.tld.test", 0);
  network->AddHost("ns.example.test", 0);
  network->AddHost("mx.example.test", exchanger.Port());
  dnsPort = dns.Port();

  auto e = Exception(StreamBuilder()
                         .Bool("MailAsSmtpServer", true)
                         .Text("MailAddr", "dev@example.test")
                         .Bool("MailViaMapi", false)
                         .Bool("MailViaMailto", false));
  ASSERT_TRUE(Deliver(e, Request(*e, true)));
  EXPECT_EQ(dns.Questions(), (std::vector<std::string>{"example.test NS", "example.test NS", "example.test MX"}));
  std::vector<std::string> resolved;
  for (const std::string &event : network->Events())
    if (event.rfind("resolve ", 0) == 0)
      resolved.push_back(event.substr(8));
  EXPECT_EQ(resolved, (std::vector<std::string>{"root.test", "ns.tld.test", "ns.example.test", "mx.example.test"}));
  EXPECT_EQ(exchanger.Messages().size(), 1u);
}

} // namespace
} // namespace kx::test
