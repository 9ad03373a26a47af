#pragma once
// What the Win32 delivery tests share: a send configuration that stays on 127.0.0.1 and records
// what would reach the user or other programs (MAPI, the mail program, the message box, the
// browser), an exception object with the test's settings, a folder for the bug report file and
// the reporter's temporary files, a registry root for the mailto command, and a screenshot.
#include <gtest/gtest.h>
#include <windows.h>
#include <mapi.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "crash/delivery/win32/KXWin32DeliveryHost.h"
#include "runtime/Exception.h"
#include "tests/crash/capture/exception/FakeHost.h"
#include "tests/crash/delivery/win32/GuardedNetwork.h"
#include "tests/crash/output/TestReports.h"
#include "tests/crash/output/win32/Win32TestFolder.h"

namespace kx::test {

// What the configuration's stand-ins saw, from any thread.
class HookLog {
public:
  bool startResult = false; // what the mail program's start answers
  void Started(const std::string &commandLine);
  void Failed(const std::string &text);
  void Opened(const std::string &url);
  std::vector<std::string> Processes();
  std::vector<std::string> Failures();
  std::vector<std::string> Locations();

private:
  std::mutex FLock;
  std::vector<std::string> FProcesses, FFailures, FLocations;
};

// MAPISendMail as the tests give it: records each call and answers with the set result.
struct MapiCall {
  std::string subject, body;
  std::vector<std::string> recipients; // "class|name|address"
  std::vector<std::string> files;      // "position|path|file name"
  FLAGS flags = 0;
  ULONG_PTR uiParam = 0;
  bool parentTopmost = false; // the parent window was in the topmost band during the call
};
class FakeMapi {
public:
  static void Reset(ULONG result);
  static std::vector<MapiCall> Calls();
  static ULONG WINAPI SendMail(LHANDLE session, ULONG_PTR uiParam, lpMapiMessage message, FLAGS flags,
                               ULONG reserved);
};

// A screenshot whose PNG file is fixed bytes.
class FakeScreenShot : public INVBitmap {
public:
  static std::string Png();
  int savedFormat = -1;
  int32_t GetWidth() override { return 4; }
  int32_t GetHeight() override { return 3; }
  bool Draw(NVDeviceContext, int32_t, int32_t) override { return false; }
  std::string AsBmpStr() override { return {}; }
  std::string AsPngStr(int32_t) override { return Png(); }
  bool SaveBmp(const std::u16string &) override { return false; }
  bool SavePng(const std::u16string &file, int32_t format) override;
  std::shared_ptr<INVBitmap> Zoom(int32_t, int32_t) override { return nullptr; }
};

// The configuration of the whole test program until a test sets its own: nothing leaves the
// process (main installs it before the first test).
KXWin32DeliveryConfig QuietConfig();

// Waits until the file holds the marker (at most ms, scaled); its content.
std::string WaitForFileWith(const std::wstring &path, const std::string &marker, unsigned ms);

class DeliveryWin32Test : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // The configuration of this test's sends: the guarded network with this test's log, the DNS
  // responder's port, no system DNS servers or proxy, the root name server "root.test", the
  // registry root of this test, and the recording stand-ins.
  KXWin32DeliveryConfig Config();
  // An exception object for the error with these settings (made with a recording exception host).
  std::shared_ptr<TIKXException> Exception(StreamBuilder settings);
  // The request of a send of the test report with the object's settings.
  KXDeliveryRequest Request(IKXSettings &settings, bool hidden);
  // DeliverBugReport with a Win32 host for the object, on this thread.
  bool Deliver(const std::shared_ptr<TIKXException> &e, const KXDeliveryRequest &request,
               std::shared_ptr<INVBitmap> screenShot = nullptr);
  bool Deliver(const std::shared_ptr<TIKXException> &e, const KXDeliveryRequest &request,
               std::shared_ptr<INVBitmap> screenShot, const KXWin32DeliveryConfig &config);
  // The mail that ExpectReportMail (MessageParts.h) checks: recipients, subject, body, and a
  // screenshot attached.
  static StreamBuilder ReportMail(StreamBuilder settings) {
    return settings.Text("MailAddr", "Dev Team <dev@example.com>; ops@example.org")
        .Text("MailSubj", "Crash: %exceptClass%")
        .Text("MailBody", "first line\r\n.\r\n.hidden\r\nlast line")
        .Int("ScrShotDepth", 4);
  }
  // Writes the mailto command of this test's registry root.
  void RegisterMailto(const std::string &command, DWORD type = REG_SZ);
  // After the network transport failed: MAPI was tried once, then the mail program registered
  // as "mailer.exe %1" started with a mailto for dev@example.com, nothing shown as a failure;
  // the report is not marked sent and the bug report file keeps the older reports.
  void ExpectLeftToTheMailProgram(const std::shared_ptr<TIKXException> &e);

  Win32TestFolder folder{L"kxsend-"};
  std::wstring temp;        // the reporter's temporary folder of the sends
  std::wstring bugFile;     // the bug report file, with one older report in it
  std::string oldReports;   // its content
  EConvertError error{"'abc' is not a valid integer value"};
  std::string report = CrashReport(kCrcA);
  std::shared_ptr<NetworkLog> network = std::make_shared<NetworkLog>();
  std::shared_ptr<HookLog> hooks = std::make_shared<HookLog>();
  uint16_t dnsPort = 9;
  HKEY classes = nullptr;
  std::wstring classesPath;
  // The settings belong to this program's module, which holds the windows' resources.
  KXModule module = KXModule(GetModuleHandleW(nullptr));
  FakePlatform platform;
  std::shared_ptr<KXSettingsContext> context;
  std::vector<std::unique_ptr<FakeHost>> exceptionHosts; // one per exception object, kept to the end
};

std::string Narrow8(const std::wstring &ascii);
std::string Port(uint16_t port);

} // namespace kx::test
