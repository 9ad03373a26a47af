// The SMTP reply reader and the mail dialogue against a scripted server.
#include <gtest/gtest.h>

#include "crash/base/settings/KXText.h"
#include "crash/delivery/KXBoundary.h"
#include "crash/delivery/KXSmtpClient.h"
#include "crash/delivery/KXSmtpReply.h"
#include "tests/crash/delivery/FakeSmtpServer.h"
#include "tests/crash/delivery/MultipartParts.h"
#include "tests/crash/delivery/RecordingProgress.h"

namespace kx {
namespace {

using test::FakeNetwork;
using test::FakeSmtpServer;
using test::kSilence;
using test::MemoryFiles;
using test::RecordingProgress;
using test::ScriptedStream;
using test::SmtpScript;

bool Read(std::vector<std::string> segments, const char *code, bool *auth = nullptr, size_t *left = nullptr) {
  ScriptedStream stream;
  stream.incoming.assign(segments.begin(), segments.end());
  bool ok = ReadSmtpReply(stream, code, auth);
  if (left)
    *left = stream.incoming.size();
  return ok;
}

TEST(SmtpReply, RepliesInPiecesAreReadWhole) {
  bool auth = false;
  // The code alone first, the rest of a multi-line reply later, split inside a line.
  EXPECT_TRUE(Read({"250", "-mx.example.com\r\n250-AUTH=LO", "GIN PLAIN\r\n250 OK\r\n"}, "250", &auth));
  EXPECT_TRUE(auth);
  EXPECT_TRUE(Read({"2", "50 OK\r\n"}, "250"));
  // The last line must be complete; an unfinished one counts only when the server goes quiet.
  size_t left = 0;
  EXPECT_TRUE(Read({"250 O", "K\r\n", "354 next\r\n"}, "250", nullptr, &left));
  EXPECT_EQ(left, 1u) << "the next reply stays unread";
  EXPECT_TRUE(Read({"250 OK"}, "250"));
  EXPECT_TRUE(Read({"250-first\r\n250 last", kSilence}, "250"));
  EXPECT_TRUE(Read({"221\r\n"}, "221")); // a code without text
}

TEST(SmtpReply, WrongOrMissingCodeFails) {
  size_t left = 0;
  EXPECT_FALSE(Read({"550 no\r\n", "250 OK\r\n"}, "250", nullptr, &left));
  EXPECT_EQ(left, 1u) << "a wrong code is judged at once";
  EXPECT_FALSE(Read({"25", kSilence, "0 OK\r\n"}, "250"));
  EXPECT_FALSE(Read({"250-first\r\n", kSilence}, "250"));
  EXPECT_FALSE(Read({"250-first\r\n550 but no\r\n"}, "250"));
  EXPECT_FALSE(Read({}, "220"));
  EXPECT_FALSE(Read({"\r\n250 OK\r\n"}, "250"));
}

TEST(SmtpReply, AuthLoginIsFoundInEitherForm) {
  struct Case {
    const char *reply;
    bool offered;
  } cases[] = {
      {"250-mx\r\n250 AUTH LOGIN\r\n", true},
      {"250-mx\r\n250-auth plain login cram-md5\r\n250 OK\r\n", true},
      {"250-mx\r\n250-AUTH=LOGIN\r\n250 OK\r\n", true},
      {"250-mx\r\n250-AUTH PLAIN\r\n250 X-LOGIN\r\n", false},
      {"250-mx\r\n250-AUTH LOGINX PLAIN\r\n250 OK\r\n", false},
      {"250-mx\r\n250-XAUTH LOGIN\r\n250 OK\r\n", false},
  };
  for (const Case &c : cases) {
    bool auth = false;
    EXPECT_TRUE(Read({c.reply}, "250", &auth)) << c.reply;
    EXPECT_EQ(auth, c.offered) << c.reply;
  }
}

// One mail sent through a scripted server.
struct MailRun {
  FakeNetwork network;
  MemoryFiles files;
  RecordingProgress progress;
  std::unique_ptr<FakeSmtpServer> server;
  KXMailJob job;
  int connections = 0;

  explicit MailRun(SmtpScript script = {}) : server(std::make_unique<FakeSmtpServer>(std::move(script))) {
    network.names["smtp.example.com"] = test::kLoopback;
    network.connect = [this](uint16_t) {
      ++connections;
      return server->Stream();
    };
    job.sender = "Kestrelix <crash@example.com>";
    job.recipients = "dev@example.com";
    job.server = "smtp.example.com";
    job.port = 2525;
    job.subject = "bug report";
    job.body = "please find the bug report attached";
  }
  KXRandomFn random; // empty: the system's
  bool Send(const std::string &recipients = "") {
    KXMailContext context;
    context.random = random;
    context.network = &network;
    context.openFile = files.Opener();
    context.computerName = "WORKSTATION";
    context.now = 129754120230000000ull;
    context.progress = KXSendProgress(&progress);
    return SendMail(recipients.empty() ? job.recipients : recipients, job, context);
  }
  const std::vector<std::string> &Commands() { return server->commands; }
};

TEST(SmtpClient, AuthenticatedMailWithAttachments) {
  MailRun run;
  run.job.account = "reporter";
  run.job.password = "s3cret";
  run.job.recipients = "dev@example.com, Ops <ops@example.com>";
  run.job.body = "line one\r\n.\r\n.hidden";
  std::string png(200, '\0');
  for (size_t i = 0; i < png.size(); ++i)
    png[i] = static_cast<char>(i * 7);
  run.files.files[u"C:\\tmp\\screenShot.PNG"] = png;
  run.files.files[u"C:\\tmp\\bugreport.txt"] = "report\r\n";
  run.files.files[u"C:\\tmp\\empty.log"] = "";
  run.job.attachments.Add(u"C:\\tmp\\screenShot.PNG", "screenshot.png", "ScreenShot");
  run.job.attachments.Add(u"C:\\tmp\\missing.txt", "missing.txt", "Missing");
  run.job.attachments.Add(u"C:\\tmp\\bugreport.txt", "bugreport.txt", "BugReport");
  run.job.attachments.Add(u"C:\\tmp\\empty.log", "empty.log", "empty");

  ASSERT_TRUE(run.Send());
  EXPECT_EQ(run.network.connectedPorts, std::vector<uint16_t>{2525});
  EXPECT_EQ(run.Commands(), (std::vector<std::string>{
                                "EHLO WORKSTATION", "AUTH LOGIN", Base64Encode("reporter"), Base64Encode("s3cret"),
                                "MAIL FROM:<crash@example.com>", "RCPT TO:<dev@example.com>",
                                "RCPT TO:<ops@example.com>", "DATA", "QUIT"}));
  ASSERT_EQ(run.server->messages.size(), 1u);
  const std::string &m = run.server->messages[0];
  const std::string b = test::BoundaryFromHeader(m);
  ASSERT_EQ(b.size(), kBoundaryLength);
  const std::string head = "To: <dev@example.com>, Ops <ops@example.com>\r\n"
                           "From: Kestrelix <crash@example.com>\r\n"
                           "Subject: =?ISO-8859-1?Q?bug=20report?=\r\n"
                           "Date: 5 Mar 2012 09:07:03 UT\r\n"
                           "Message-ID: <01ccfaaf5473d580@Kestrelix>\r\n"
                           "MIME-Version: 1.0\r\n"
                           "Content-Type: multipart/mixed; boundary=\"" + b + "\"\r\n\r\n"
                           "This is a multi-part message in MIME format.\r\n\r\n--" + b + "\r\n"
                           "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n"
                           "Content-Transfer-Encoding: 8bit\r\n\r\n"
                           "line one\r\n. \r\n.hidden\r\n"
                           "--" + b + "\r\nContent-Type: image/png; name=\"screenshot.png\"\r\n"
                           "Content-Transfer-Encoding: base64\r\n"
                           "Content-Disposition: attachment; filename=\"screenshot.png\"\r\n\r\n";
  ASSERT_EQ(m.substr(0, head.size()), head);
  // 200 bytes: three lines of 76 characters and one of 40, decoding to the file.
  size_t pos = head.size();
  std::string decoded;
  for (size_t expected : {76u, 76u, 76u, 40u}) {
    size_t end = m.find("\r\n", pos);
    EXPECT_EQ(end - pos, expected);
    decoded += Base64Decode(m.substr(pos, end - pos)).value_or("?");
    pos = end + 2;
  }
  EXPECT_EQ(decoded, png);
  const std::string tail = "--" + b + "\r\nContent-Type: application/octet-stream; name=\"bugreport.txt\"\r\n"
                           "Content-Transfer-Encoding: base64\r\n"
                           "Content-Disposition: attachment; filename=\"bugreport.txt\"\r\n\r\n" +
                           Base64Encode("report\r\n") + "\r\n--" + b + "--\r\n\r\n";
  EXPECT_EQ(m.substr(pos), tail);

  // Every area of the mail was passed: the bar ends full.
  std::vector<uint64_t> sizes{200, 8, 0};
  EXPECT_EQ(run.progress.current, static_cast<int>(MailProgressAreas({}, false, sizes).size()));
}

// A body that holds the old fixed delimiter and the first boundary candidate, each followed by a
// forged part, is sent with the second candidate and reads back as exactly the parts written.
TEST(SmtpClient, BodyHoldingADelimiterCannotForgeParts) {
  KXRandomFn random = test::SequenceRandom(11);
  const std::string first = RandomBoundary(random), second = RandomBoundary(random);
  MailRun run;
  run.random = test::SequenceRandom(11);
  run.job.body = "text" + test::ForgedFieldPart(test::kOldFixedBoundary) + test::ForgedFieldPart(first) +
                 "\r\n--" + first + "--\r\nafter";
  run.files.files[u"r"] = "report";
  run.job.attachments.Add(u"r", "report.txt", "Report");
  ASSERT_TRUE(run.Send());
  ASSERT_EQ(run.server->messages.size(), 1u);
  const std::string &m = run.server->messages[0];
  EXPECT_EQ(test::BoundaryFromHeader(m), second);
  auto parts = test::SplitMultipart(m, second);
  ASSERT_TRUE(parts);
  ASSERT_EQ(parts->size(), 2u);
  EXPECT_EQ((*parts)[0].body, SmtpBodyText(run.job.body));
  EXPECT_EQ((*parts)[1].body, Base64Encode("report"));
}

// A recipient item with a line break inside never becomes a command line or a To address of its
// own; a sender with one fails the mail before MAIL FROM.
TEST(SmtpClient, AddressesCannotAddCommands) {
  {
    MailRun run;
    run.job.recipients = "a@b.com\r\nRCPT TO:<spy@x.com>; dev@example.com;x@y.com\nDATA";
    ASSERT_TRUE(run.Send());
    EXPECT_EQ(run.Commands(), (std::vector<std::string>{"EHLO WORKSTATION", "MAIL FROM:<crash@example.com>",
                                                        "RCPT TO:<dev@example.com>", "DATA", "QUIT"}));
    ASSERT_EQ(run.server->messages.size(), 1u);
    EXPECT_EQ(run.server->messages[0].substr(0, run.server->messages[0].find("\r\n")), "To: <dev@example.com>");
  }
  {
    MailRun run;
    run.job.sender = "Kestrelix <crash@example.com>\r\nRCPT TO:<spy@x.com>";
    EXPECT_FALSE(run.Send());
    for (const std::string &command : run.Commands())
      EXPECT_EQ(command.find("spy"), std::string::npos) << command;
    EXPECT_TRUE(run.server->messages.empty());
  }
  {
    MailRun run;
    run.job.recipients = std::string("spy@x.com\0RCPT TO:<spy@x.com>", 30);
    EXPECT_FALSE(run.Send()) << "no recipient is left";
    for (const std::string &command : run.Commands())
      EXPECT_EQ(command.find("RCPT"), std::string::npos) << command;
  }
}

// A send-as name with a line break leaves its attachment out; quotes in one are escaped.
TEST(SmtpClient, AttachmentNamesCannotAddHeaders) {
  MailRun run;
  run.files.files[u"f"] = "data";
  run.job.attachments.Add(u"f", "r.txt\r\nBcc: spy@x.com", "A");
  const std::string quoted = "a\\\"; filename=\"evil.exe";
  run.job.attachments.Add(u"f", quoted, "B");
  ASSERT_TRUE(run.Send());
  const std::string &m = run.server->messages.at(0);
  EXPECT_EQ(m.find("Bcc"), std::string::npos);
  auto parts = test::SplitMultipart(m, test::BoundaryFromHeader(m));
  ASSERT_TRUE(parts);
  ASSERT_EQ(parts->size(), 2u) << "the text and one attachment";
  const std::vector<std::string> &lines = (*parts)[1].headerLines;
  ASSERT_EQ(lines.size(), 3u);
  const test::HeaderParams type = test::ReadHeaderParams(lines[0]);
  const test::HeaderParams disposition = test::ReadHeaderParams(lines[2]);
  EXPECT_FALSE(type.malformed || disposition.malformed);
  EXPECT_EQ(type.values, (std::map<std::string, std::string>{{"name", quoted}}));
  EXPECT_EQ(disposition.values, (std::map<std::string, std::string>{{"filename", quoted}}));
}

TEST(SmtpClient, ComputerNameOverSeveralLinesFailsTheMail) {
  MailRun run;
  KXMailContext context;
  context.network = &run.network;
  context.computerName = "PC\r\nRCPT TO:<spy@x.com>";
  EXPECT_FALSE(SendMail(run.job.recipients, run.job, context));
  EXPECT_EQ(run.connections, 0);
}

TEST(SmtpClient, ProgressAreasOfOneMail) {
  KXSendTexts texts;
  auto areas = MailProgressAreas(texts, true, {0, 57, 58});
  ASSERT_EQ(areas.size(), 14u); // 11, the MX area and two attachments
  EXPECT_EQ(areas[0], (KXProgressArea{500, texts.mxLookup}));
  EXPECT_EQ(areas[4], (KXProgressArea{200, texts.auth}));
  EXPECT_EQ(areas[10], (KXProgressArea{3, texts.sendAttach}));
  EXPECT_EQ(areas[11], (KXProgressArea{6, texts.sendAttach}));
  EXPECT_EQ(areas[12], (KXProgressArea{500, texts.sendFinalize}));
  EXPECT_EQ(MailProgressAreas(texts, false, {}).size(), 11u);
}

TEST(SmtpClient, EhloReplyInTwoSegmentsNeedsNoHelo) {
  SmtpScript script;
  script.replies["EHLO"] = {"250", "-mx.example.com\r\n250 OK\r\n"};
  MailRun run(script);
  EXPECT_TRUE(run.Send());
  EXPECT_EQ(run.Commands().front(), "EHLO WORKSTATION");
  EXPECT_EQ(run.Commands()[1], "MAIL FROM:<crash@example.com>");
}

TEST(SmtpClient, HeloFallbackAndMissingAuthLogin) {
  SmtpScript script;
  script.replies["EHLO"] = {"500 what?\r\n"};
  {
    MailRun run(script);
    EXPECT_TRUE(run.Send());
    EXPECT_EQ(run.Commands()[1], "HELO WORKSTATION");
  }
  {
    // Credentials are configured but HELO offers no AUTH: nothing is sent, QUIT follows.
    MailRun run(script);
    run.job.account = "reporter";
    EXPECT_FALSE(run.Send());
    EXPECT_EQ(run.Commands(), (std::vector<std::string>{"EHLO WORKSTATION", "HELO WORKSTATION", "QUIT"}));
  }
  {
    script.replies["HELO"] = {"500 go away\r\n"};
    MailRun run(script);
    EXPECT_FALSE(run.Send());
    EXPECT_EQ(run.Commands().back(), "HELO WORKSTATION") << "no QUIT after both greetings failed";
  }
}

TEST(SmtpClient, RecipientsRejectedAndQuitAnsweredWrongly) {
  SmtpScript someRejected;
  someRejected.rcptReplies[0] = {"550 unknown user\r\n"};
  MailRun partial(someRejected);
  EXPECT_TRUE(partial.Send("a@example.com,b@example.com"));

  SmtpScript allRejected;
  allRejected.replies["RCPT"] = {"550 unknown user\r\n"};
  MailRun none(allRejected);
  EXPECT_FALSE(none.Send("a@example.com,b@example.com"));
  EXPECT_EQ(none.Commands().back(), "QUIT");
  EXPECT_TRUE(none.server->messages.empty());

  SmtpScript badQuit;
  badQuit.replies["QUIT"] = {"250 whatever\r\n"};
  MailRun accepted(badQuit);
  EXPECT_FALSE(accepted.Send());
  EXPECT_EQ(accepted.server->messages.size(), 1u) << "accepted, but QUIT was not answered with 221";
}

TEST(SmtpClient, EmptySubjectAndBodyOnlyResets) {
  MailRun run;
  run.job.subject.clear();
  run.job.body.clear();
  EXPECT_TRUE(run.Send());
  EXPECT_EQ(run.Commands(), (std::vector<std::string>{"EHLO WORKSTATION", "MAIL FROM:<crash@example.com>",
                                                      "RCPT TO:<dev@example.com>", "RSET", "QUIT"}));
}

TEST(SmtpClient, UnreadableAttachmentAbandonsTheMessage) {
  MailRun run;
  run.files.files[u"a.bin"] = std::string(300, 'x');
  run.files.failReadAt[u"a.bin"] = 120;
  run.job.attachments.Add(u"a.bin", "a.bin", "a");
  EXPECT_FALSE(run.Send());
  // The data phase never ended, so the server drops the partial message; no QUIT went into it.
  EXPECT_TRUE(run.server->dataOpen);
  EXPECT_TRUE(run.server->messages.empty());
}

TEST(SmtpClient, WithoutAttachmentsTheBodyFollowsTheHeader) {
  MailRun run;
  ASSERT_TRUE(run.Send());
  const std::string &m = run.server->messages.at(0);
  EXPECT_NE(m.find("Message-ID: <01ccfaaf5473d580@Kestrelix>\r\n\r\nplease find the bug report attached\r\n"),
            std::string::npos);
  EXPECT_EQ(m.find("MIME-Version"), std::string::npos);
}

TEST(SmtpClient, DirectModeAsksForTheMailExchanger) {
  MailRun run;
  run.job.server.clear();
  run.network.names["mx.example.com"] = test::kLoopback;
  std::vector<std::string> asked;
  KXMailContext context;
  context.network = &run.network;
  context.computerName = "WORKSTATION";
  context.findMailExchanger = [&](const std::string &address) {
    asked.push_back(address);
    return address == "dev@example.com" ? std::string("mx.example.com") : std::string();
  };
  EXPECT_TRUE(SendMail("dev@example.com", run.job, context));
  EXPECT_FALSE(SendMail("other@example.org", run.job, context));
  EXPECT_EQ(asked, (std::vector<std::string>{"dev@example.com", "other@example.org"}));
  EXPECT_EQ(run.connections, 1);
}

TEST(SmtpClient, GreetingMustBe220) {
  SmtpScript script;
  script.greeting = {"554 no service\r\n"};
  MailRun run(script);
  EXPECT_FALSE(run.Send());
  EXPECT_TRUE(run.Commands().empty());
}

} // namespace
} // namespace kx
