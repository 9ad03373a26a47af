// The exception host's send: the crash dialog's send button and the automatic send reach the
// Win32 delivery, in the background with the send thread's handle handed back, or on the
// calling thread; the send thread keeps the exception object alive until it is done.
#include "crash/capture/exception/win32/KXWin32ExceptionHost.h"
#include "crash/shell/win32/KXShellOutputs.h"
#include "crash/shell/win32/KXShellWindows.h"
#include "tests/crash/delivery/win32/DeliveryWin32Fixture.h"
#include "tests/crash/delivery/win32/LoopbackServers.h"
#include "tests/support/TestTime.h"

namespace kx::test {
namespace {

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";

class ExceptionSendWin32 : public DeliveryWin32Test {
protected:
  void SetUp() override {
    DeliveryWin32Test::SetUp();
    SetDeliveryConfig(Config()); // the sends the exception host starts
    InstallShellOutputs(KXWin32ExceptionHost::Instance());
    InstallShellWindows(KXWin32ExceptionHost::Instance());
  }
  void TearDown() override {
    SetDeliveryConfig(QuietConfig());
    DeliveryWin32Test::TearDown();
  }
  StreamBuilder Upload(uint16_t port) {
    return StreamBuilder()
        .Bool("UploadViaHttp", true)
        .Text("HttpServer", "127.0.0.1:" + Port(port) + "/in")
        .Bool("MailViaMapi", false)
        .Bool("MailViaMailto", false);
  }
  static bool Ends(HANDLE thread) { return WaitForSingleObject(thread, tidewell_test::ScaledMs(30000)) == WAIT_OBJECT_0; }
};

TEST_F(ExceptionSendWin32, AutomaticSendInTheBackground) {
  HttpTestServer server(kOk);
  auto e = Exception(Upload(server.Port()));
  IKXOutputHost &host = KXWin32ExceptionHost::Instance().Outputs();
  HANDLE thread = reinterpret_cast<HANDLE>(host.StartSend(*e, report, false, 0, true, true, false));
  ASSERT_TRUE(thread) << "a background send hands its thread back";
  ASSERT_TRUE(Ends(thread));
  CloseHandle(thread);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_NE(server.Requests()[0].body.find(oldReports + report + "\r\n\r\n"), std::string::npos);
  EXPECT_TRUE(e->GetMailWasSent());
  EXPECT_EQ(GetFileAttributesW(bugFile.c_str()), INVALID_FILE_ATTRIBUTES);

  // The caller lets go of the exception at once: the send thread still has it.
  std::weak_ptr<TIKXException> watch = e;
  thread = reinterpret_cast<HANDLE>(host.StartSend(*e, report, false, 0, true, true, false));
  ASSERT_TRUE(thread);
  e.reset();
  ASSERT_TRUE(Ends(thread));
  CloseHandle(thread);
  EXPECT_EQ(server.Requests().size(), 2u);
  EXPECT_TRUE(watch.expired());
}

TEST_F(ExceptionSendWin32, ForegroundSendReturnsNoThread) {
  HttpTestServer server(kOk);
  auto e = Exception(Upload(server.Port()).Bool("SendInBackgr", false));
  EXPECT_EQ(KXWin32ExceptionHost::Instance().Outputs().StartSend(*e, report, false, 0, false, false, true), 0u);
  EXPECT_EQ(server.Requests().size(), 1u) << "done when StartSend returns";
  EXPECT_TRUE(e->GetMailWasSent());
}

TEST_F(ExceptionSendWin32, TheSendButtonOfAnExceptionOfTheWin32Host) {
  HttpTestServer server(kOk);
  platform.streams[module] = Upload(server.Port()).Bool("GnNoBugRep", true).Text("BugRepFile", Narrow8(bugFile)).End();
  context = std::make_shared<KXSettingsContext>(platform, std::make_shared<KXSettingsRegistry>());
  SetExceptionHost(&KXWin32ExceptionHost::Instance());
  KXCaughtException caught;
  caught.moduleSettings = CreateModuleSettings(context, module);
  std::shared_ptr<TIKXException> e = CreateExceptionObject(caught);
  ASSERT_TRUE(e);
  e->SetBugReport(report);
  e->SendBugReport(0);
  HANDLE thread = reinterpret_cast<HANDLE>(*e->PSendThread());
  ASSERT_TRUE(thread) << "SendInBackgr is on";
  ASSERT_TRUE(Ends(thread));
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_NE(server.Requests()[0].body.find(report), std::string::npos);
  EXPECT_TRUE(e->GetMailWasSent());
  e.reset(); // closes the thread handle
}

} // namespace
} // namespace kx::test
