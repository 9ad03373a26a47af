// The send routine's order of transports and fallbacks, against a recording host.
#include <gtest/gtest.h>

#include "crash/delivery/KXDeliverBugReport.h"
#include "tests/crash/delivery/DnsPackets.h"
#include "tests/crash/delivery/FakeSmtpServer.h"
#include "tests/crash/delivery/RecordingProgress.h"

namespace kx {
namespace {

using namespace test;

class RecordingHost : public IKXDeliveryHost {
public:
  FakeNetwork network;
  MemoryFiles files;
  std::shared_ptr<RecordingProgress> progress = std::make_shared<RecordingProgress>();
  KXPreparedAttachments prepared;
  std::vector<std::string> events;
  bool lockHeld = false;
  bool threadStarts = true;
  std::vector<KXDeliveryRequest> threads;
  KXMapiOutcome mapiOutcome = KXMapiOutcome::failed;
  std::vector<KXMapiMail> mapiMails;
  std::optional<std::string> mailtoCommand = "mail.exe \"%1\"";
  std::vector<std::string> processes;
  std::vector<std::string> failures;
  std::vector<std::string> opened;

  bool ProcessLockHeld(uint32_t) override { return lockHeld; }
  void LeaveTopmost(KXWindowHandle) override { events.push_back("leave topmost"); }
  bool StartSendThread(const KXDeliveryRequest &request) override {
    threads.push_back(request);
    return threadStarts;
  }
  std::shared_ptr<IProgressAlert> CreateProgress(const std::string &title) override {
    events.push_back("progress " + title);
    return progress;
  }
  void ShowFailure(KXWindowHandle, const std::string &text) override { failures.push_back(text); }
  KXPreparedAttachments PrepareAttachments(const KXDeliveryRequest &) override {
    events.push_back("prepare");
    return prepared;
  }
  std::unique_ptr<IKXFileSource> OpenFile(const std::u16string &path) override { return files.Opener()(path); }
  void DeleteScreenShotFile() override { events.push_back("delete screenshot"); }
  void KeepBugReportFile() override { events.push_back("keep file"); }
  void DeleteMarkedBugReportFile() override { events.push_back("delete file"); }
  void MarkSent() override { events.push_back("sent"); }
  IKXNetwork &Network() override { return network; }
  std::string ComputerName() override { return "WORKSTATION"; }
  KXFileTime UtcNow() override { return 129754120230000000ull; }
  std::string HttpProxyList() override { return {}; }
  std::vector<std::string> SystemDnsServers() override { return {"ns.example.net"}; }
  void OpenLocation(const std::string &url) override { opened.push_back(url); }
  KXMapiOutcome SendViaMapi(const KXMapiMail &mail) override {
    mapiMails.push_back(mail);
    return mapiOutcome;
  }
  std::optional<std::string> MailtoCommand() override { return mailtoCommand; }
  bool IsNtFamily() override { return true; }
  bool StartProcess(const std::string &commandLine) override {
    processes.push_back(commandLine);
    return true;
  }

  bool Has(const std::string &event) const { return std::find(events.begin(), events.end(), event) != events.end(); }
};

KXDeliveryRequest Request(bool hidden = false) {
  KXDeliveryRequest request;
  request.bugReport = "date/time : 2012-03-05\r\nexception class   : EAccessViolation\r\n"
                      "exception message : Access violation\r\n\r\nmain thread:\r\n";
  request.parentWindow = reinterpret_cast<KXWindowHandle>(0x1234);
  request.hidden = hidden;
  request.settings.mailAddr = "dev@example.com; ops@example.com";
  request.settings.mailSubject = "%exceptClass% in %appname%";
  request.settings.mailBody = "Message: %EXCEPTMSG%";
  request.settings.mailViaMapi = false;
  request.settings.mailViaMailto = false;
  return request;
}

TEST(DeliverBugReport, UploadIsPreferredOverMailThenMapiAndMailto) {
  RecordingHost host;
  KXDeliveryRequest request = Request();
  request.settings.uploadViaHttp = true;
  request.settings.httpServer = "http://127.0.0.1/upload";
  request.settings.mailAsSmtpServer = true;
  request.settings.mailViaMapi = true;
  request.settings.mailViaMailto = true;
  host.network.connect = [](uint16_t) {
    auto stream = std::make_unique<ScriptedStream>();
    stream->incoming.push_back("HTTP/1.1 500 Oops\r\n\r\n");
    return stream;
  };
  EXPECT_TRUE(DeliverBugReport(request, host));
  EXPECT_EQ(host.network.connectedPorts, std::vector<uint16_t>{80}) << "only the upload, no mail";
  ASSERT_EQ(host.mapiMails.size(), 1u);
  EXPECT_EQ(host.mapiMails[0].subject, "EAccessViolation in %appname%");
  EXPECT_EQ(host.mapiMails[0].body, "Message: Access violation");
  EXPECT_EQ(host.mapiMails[0].flags, kMapiLogonUi | kMapiDialog);
  EXPECT_EQ(host.mapiMails[0].recipients.size(), 2u);
  ASSERT_EQ(host.processes.size(), 1u);
  EXPECT_EQ(host.processes[0].rfind("mail.exe \"mailto:dev@example.com,ops@example.com?subject=EAccessViolation%20in%20"
                                    "%25appname%25&body=date/time%20:%202012-03-05%0D%0A",
                                    0),
            0u);
  EXPECT_TRUE(host.Has("keep file"));
  EXPECT_FALSE(host.Has("sent"));
  EXPECT_FALSE(host.Has("delete screenshot")) << "MAPI still needs the screenshot";
  EXPECT_TRUE(host.failures.empty());
}

TEST(DeliverBugReport, MailtoAloneBuildsNothing) {
  RecordingHost host;
  KXDeliveryRequest request = Request();
  request.settings.mailViaMailto = true;
  EXPECT_TRUE(DeliverBugReport(request, host));
  EXPECT_FALSE(host.Has("prepare"));
  EXPECT_EQ(host.progress->shows, 0);
  EXPECT_EQ(host.processes.size(), 1u);
  EXPECT_NE(host.processes[0].find("&body=date/time%20:%202012-03-05%0D%0Aexception%20class"), std::string::npos);
}

TEST(DeliverBugReport, SkippedTransportsFailAndHiddenSendsShowNothing) {
  {
    // SMTP through a server without recipients: skipped without an error of its own.
    RecordingHost host;
    KXDeliveryRequest request = Request();
    request.settings.mailAddr = " ; ";
    request.settings.mailAsSmtpClient = true;
    request.settings.smtpServer = "127.0.0.1";
    EXPECT_FALSE(DeliverBugReport(request, host));
    EXPECT_EQ(host.network.starts, 0);
    EXPECT_EQ(host.failures, std::vector<std::string>{request.settings.sendFailure});
  }
  {
    RecordingHost host;
    KXDeliveryRequest request = Request(true);
    request.settings.uploadViaHttp = true;
    request.settings.mailViaMapi = true;
    request.settings.mailViaMailto = true;
    EXPECT_FALSE(DeliverBugReport(request, host));
    EXPECT_TRUE(host.failures.empty());
    EXPECT_TRUE(host.processes.empty()) << "no mailto when hidden";
    EXPECT_EQ(host.progress->shows, 0) << "hidden without AutoSendBox";
    ASSERT_EQ(host.mapiMails.size(), 1u);
    EXPECT_EQ(host.mapiMails[0].flags, 0u) << "silent MAPI";
  }
}

TEST(DeliverBugReport, MapiCancellationEndsTheFallbacks) {
  RecordingHost host;
  host.mapiOutcome = KXMapiOutcome::cancelled;
  KXDeliveryRequest request = Request();
  request.settings.mailViaMapi = true;
  request.settings.mailViaMailto = true;
  EXPECT_TRUE(DeliverBugReport(request, host));
  EXPECT_TRUE(host.processes.empty());
  EXPECT_TRUE(host.failures.empty());
  EXPECT_FALSE(host.Has("sent"));

  RecordingHost blocked;
  blocked.lockHeld = true;
  blocked.mapiOutcome = KXMapiOutcome::sent;
  EXPECT_TRUE(DeliverBugReport(request, blocked));
  EXPECT_TRUE(blocked.mapiMails.empty()) << "a blocked process does not call MAPI";
  EXPECT_EQ(blocked.processes.size(), 1u);
}

TEST(DeliverBugReport, SmtpSuccessMarksSentAndDeletesTheFile) {
  RecordingHost host;
  FakeSmtpServer server;
  host.network.connect = [&](uint16_t) { return server.Stream(); };
  host.network.names["smtp.example.com"] = kLoopback;
  host.files.files[u"C:\\tmp\\bugreport.txt"] = "report";
  host.prepared.Add(u"C:\\tmp\\bugreport.txt", "bugreport.txt", "BugReport");
  KXDeliveryRequest request = Request();
  request.settings.mailAsSmtpClient = true;
  request.settings.smtpServer = "smtp.example.com";
  request.settings.smtpPort = 587;
  request.settings.mailViaMapi = true;
  request.settings.mailViaMailto = true;
  EXPECT_TRUE(DeliverBugReport(request, host));
  EXPECT_EQ(host.network.connectedPorts, std::vector<uint16_t>{587});
  EXPECT_EQ(server.messages.size(), 1u);
  EXPECT_NE(server.messages[0].find("Subject: =?ISO-8859-1?Q?EAccessViolation=20in=20=25appname=25?="),
            std::string::npos);
  EXPECT_TRUE(host.mapiMails.empty());
  EXPECT_TRUE(host.processes.empty());
  EXPECT_TRUE(host.Has("sent"));
  EXPECT_TRUE(host.Has("delete file"));
  EXPECT_TRUE(host.Has("delete screenshot"));
  EXPECT_EQ(host.progress->shows, 1);
  EXPECT_EQ(host.progress->shownOwner, request.parentWindow);
  EXPECT_GE(host.progress->closes, 1);
  EXPECT_EQ(host.events.front(), "progress " + request.settings.sendBoxTitle);
}

TEST(DeliverBugReport, DirectMailGoesToEachRecipientsExchanger) {
  RecordingHost host;
  FakeSmtpServer server;
  host.network.connect = [&](uint16_t) { return server.Stream(); };
  host.network.names["ns.example.net"] = kLoopback;
  host.network.names["mx.example.com"] = kLoopback;
  host.network.answer = [](std::string_view query, uint16_t) {
    if (query.find(Labels("example.com")) == std::string_view::npos)
      return std::vector<FakeDatagramReply>{};
    return std::vector<FakeDatagramReply>{{Response(query, {1, 0}, MxRecord(5, Labels("mx.example.com")))}};
  };
  KXDeliveryRequest request = Request();
  request.settings.mailAddr = "dev@example.com,nobody@example.org";
  request.settings.mailAsSmtpServer = true;
  KXDeliveryOptions options;
  options.directSmtpPort = 2525;
  EXPECT_TRUE(DeliverBugReport(request, host, options));
  EXPECT_EQ(host.network.connectedPorts, std::vector<uint16_t>{2525}) << "example.org has no exchanger";
  EXPECT_EQ(server.commands[2], "RCPT TO:<dev@example.com>");
  // Two recipients' areas after the preparation area; the second mail started at its own.
  EXPECT_EQ(host.progress->areas.size(), 1u + 2u * 12u);
}

TEST(DeliverBugReport, BackgroundThreadAndItsFallback) {
  RecordingHost host;
  KXDeliveryRequest request = Request();
  request.inBackground = true;
  request.settings.mailViaMailto = true;
  EXPECT_TRUE(DeliverBugReport(request, host));
  ASSERT_EQ(host.threads.size(), 1u);
  EXPECT_TRUE(host.threads[0].inThread);
  EXPECT_EQ(host.threads[0].parentWindow, nullptr);
  EXPECT_TRUE(host.processes.empty()) << "the thread does the work";

  RecordingHost noThread;
  noThread.threadStarts = false;
  EXPECT_TRUE(DeliverBugReport(request, noThread));
  EXPECT_EQ(noThread.processes.size(), 1u) << "sent on the calling thread instead";

  RecordingHost blocked;
  blocked.lockHeld = true;
  EXPECT_TRUE(DeliverBugReport(request, blocked));
  EXPECT_TRUE(blocked.threads.empty());
}

TEST(DeliverBugReport, RedirectIsOpenedOnlyForWebAddresses) {
  for (const char *location : {"https://bugs.example.com/thanks", "file:///C:/evil.exe"}) {
    RecordingHost host;
    host.network.connect = [location](uint16_t) {
      auto stream = std::make_unique<ScriptedStream>();
      stream->incoming.push_back(std::string("HTTP/1.1 302 Found\r\nLocation: ") + location + "\r\n\r\n");
      return stream;
    };
    KXDeliveryRequest request = Request();
    request.settings.uploadViaHttp = true;
    request.settings.httpServer = "127.0.0.1/in";
    EXPECT_TRUE(DeliverBugReport(request, host));
    EXPECT_TRUE(host.Has("sent"));
    EXPECT_EQ(host.opened.size(), location[0] == 'h' ? 1u : 0u) << location;
  }
}

TEST(DeliverBugReport, StartingProgressAreas) {
  KXDeliverySettings s;
  s.mailAsSmtpServer = true;
  s.uploadViaHttp = true;
  const KXSendTexts &t = s.texts;
  EXPECT_EQ(SendProgressAreas(s, true),
            (std::vector<KXProgressArea>{{100, t.prepareAttach}, {100, t.mxLookup}, {100, t.connect}, {200, t.auth},
                                         {100, t.sendMail}, {100, t.fields}, {100, t.sendAttach}, {100, t.sendFinalize}}));
  s = KXDeliverySettings();
  EXPECT_EQ(SendProgressAreas(s, true), (std::vector<KXProgressArea>{{100, t.prepareAttach}}));
}

} // namespace
} // namespace kx
