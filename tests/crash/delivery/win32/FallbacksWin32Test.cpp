// The local fallbacks through the Win32 host: Simple MAPI, the registered mail program started
// with the mailto address, the failure message box, and a hidden send that fails showing nothing.
#include "crash/ui/progress/win32/ProgressAlertWin32.h"
#include "tests/crash/delivery/win32/DeliveryWin32Fixture.h"
#include "tests/crash/delivery/win32/LoopbackServers.h"
#include "tests/support/TestTime.h"

namespace kx::test {
namespace {

std::wstring ThisProgram() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, n);
}

// Counts the windows this thread creates and activates while it lives.
class WindowWatch {
public:
  WindowWatch() {
    gCount = 0;
    FHook = SetWindowsHookExW(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
  }
  ~WindowWatch() {
    if (FHook)
      UnhookWindowsHookEx(FHook);
  }
  bool Installed() const { return FHook != nullptr; }
  int Count() const { return gCount; }

private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND || code == HCBT_ACTIVATE)
      ++gCount;
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  static inline int gCount = 0;
  HHOOK FHook = nullptr;
};

// A send on a thread of its own.
struct SendJob {
  std::shared_ptr<TIKXException> e;
  KXDeliveryRequest request;
  KXWin32DeliveryConfig config;
  std::wstring temp;
  bool result = true;
};

DWORD WINAPI RunSendJob(LPVOID parameter) {
  auto *job = static_cast<SendJob *>(parameter);
  KXWin32DeliveryHost host(std::shared_ptr<IKXSettings>(job->e, static_cast<IKXException *>(job->e.get())), nullptr,
                           job->temp, job->config);
  job->result = host.Deliver(job->request);
  return 0;
}

class FallbacksWin32 : public DeliveryWin32Test {
protected:
  StreamBuilder LocalOnly() { return StreamBuilder().Text("MailAddr", "dev@example.com"); }
};

TEST_F(FallbacksWin32, MapiThenTheMailProgramThenTheMessage) {
  RegisterMailto("\"C:\\Mail\\mailer.exe\" /mailurl:%1");
  auto e = Exception(LocalOnly().Text("SendFailMsg", "Nothing worked."));
  EXPECT_FALSE(Deliver(e, Request(*e, false)));
  std::vector<MapiCall> mapi = FakeMapi::Calls();
  ASSERT_EQ(mapi.size(), 1u);
  EXPECT_EQ(mapi[0].flags, FLAGS(MAPI_LOGON_UI | MAPI_DIALOG));
  EXPECT_EQ(mapi[0].subject, "bug report");
  EXPECT_EQ(mapi[0].recipients, std::vector<std::string>{"1|dev@example.com|SMTP:dev@example.com"});
  EXPECT_EQ(mapi[0].files, std::vector<std::string>{"-1|" + Narrow8(temp) + "bug.txt|bugreport.txt"});
  ASSERT_EQ(hooks->Processes().size(), 1u);
  EXPECT_EQ(hooks->Processes()[0].rfind("\"C:\\Mail\\mailer.exe\" /mailurl:\"mailto:dev@example.com?subject=bug%20report&body=date/time", 0),
            0u)
      << hooks->Processes()[0];
  EXPECT_EQ(hooks->Failures(), std::vector<std::string>{"Nothing worked."});
  EXPECT_FALSE(e->GetMailWasSent());

  // MAPI sends: nothing after it; marked sent and the bug report file deleted.
  FakeMapi::Reset(SUCCESS_SUCCESS);
  e = Exception(LocalOnly());
  EXPECT_TRUE(Deliver(e, Request(*e, false)));
  EXPECT_EQ(FakeMapi::Calls().size(), 1u);
  EXPECT_EQ(hooks->Processes().size(), 1u);
  EXPECT_EQ(hooks->Failures().size(), 1u);
  EXPECT_TRUE(e->GetMailWasSent());
  EXPECT_EQ(GetFileAttributesW(bugFile.c_str()), INVALID_FILE_ATTRIBUTES);

  // The user cancels in the mail program: final, but not sent; the file stays.
  folder.Write(L"bug.txt", oldReports);
  FakeMapi::Reset(MAPI_USER_ABORT);
  e = Exception(LocalOnly());
  EXPECT_TRUE(Deliver(e, Request(*e, false)));
  EXPECT_EQ(hooks->Processes().size(), 1u);
  EXPECT_EQ(hooks->Failures().size(), 1u);
  EXPECT_FALSE(e->GetMailWasSent());
  EXPECT_EQ(Win32TestFolder::Read(bugFile), oldReports);
}

TEST_F(FallbacksWin32, AHiddenSendThatFailsShowsNothing) {
  HttpTestServer failing("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n");
  RegisterMailto("mailer.exe %1");
  hooks->startResult = true;
  auto e = Exception(LocalOnly()
                         .Bool("UploadViaHttp", true)
                         .Text("HttpServer", "127.0.0.1:" + Port(failing.Port()))
                         .Bool("AutoSendBox", false));
  WindowWatch windows;
  ASSERT_TRUE(windows.Installed());
  EXPECT_FALSE(Deliver(e, Request(*e, true)));
  EXPECT_EQ(windows.Count(), 0) << "no progress window, no message box";
  EXPECT_EQ(failing.Requests().size(), 1u);
  // MAPI goes silently to the recipients; no mail program, no message.
  ASSERT_EQ(FakeMapi::Calls().size(), 1u);
  EXPECT_EQ(FakeMapi::Calls()[0].flags, FLAGS(0));
  EXPECT_EQ(hooks->Processes(), std::vector<std::string>{});
  EXPECT_EQ(hooks->Failures(), std::vector<std::string>{});
  EXPECT_FALSE(e->GetMailWasSent());
}

TEST_F(FallbacksWin32, MailtoAloneStartsTheRegisteredProgram) {
  // This program stands in for the mail program and writes down the command line it got.
  const std::wstring out = folder.Path + L"mailer-command-line.txt";
  SetEnvironmentVariableW(L"TIDEWELL_TEST_MAILER", ThisProgram().c_str());
  RegisterMailto("\"%TIDEWELL_TEST_MAILER%\" --record-command-line \"" + Narrow8(out) + "\" %1", REG_EXPAND_SZ);
  KXWin32DeliveryConfig config = Config();
  config.startProcess = nullptr; // CreateProcessA
  auto e = Exception(LocalOnly().Bool("MailViaMapi", false).Text("MailSubj", "Crash & \"sure\"?"));
  WindowWatch windows;
  EXPECT_TRUE(Deliver(e, Request(*e, false), nullptr, config));
  EXPECT_EQ(windows.Count(), 0) << "no progress window without MAPI or a network transport";
  EXPECT_EQ(FakeMapi::Calls().size(), 0u);
  WIN32_FIND_DATAW found;
  HANDLE none = FindFirstFileW((temp + L"*.*").c_str(), &found);
  int files = 0;
  if (none != INVALID_HANDLE_VALUE) {
    do
      files += (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : 1;
    while (FindNextFileW(none, &found));
    FindClose(none);
  }
  EXPECT_EQ(files, 0) << "no attachments are prepared for the mail program";

  const std::string line = WaitForFileWith(out, "<end>", 30000);
  ASSERT_NE(line.find("<end>"), std::string::npos) << "the mail program did not start";
  // The URL is one quoted argument.
  size_t url = line.find(" \"mailto:");
  ASSERT_NE(url, std::string::npos) << line;
  ++url;
  const std::string expected = "mailto:dev@example.com?subject=Crash%20%26%20%22sure%22%3F&body=date/time";
  EXPECT_EQ(line.substr(url + 1, expected.size()), expected);
  EXPECT_NE(line.find("85ms%0D%0Acomputer%20name"), std::string::npos) << "the whole report is the body";
  EXPECT_NE(line.find("'abc'%20is%20not%20a%20valid%20integer%20value.%0D%0A%0D%0Amain%20thread:"),
            std::string::npos);
  EXPECT_FALSE(e->GetMailWasSent());
}

TEST_F(FallbacksWin32, TheFailureMessageBox) {
  // The send runs on a thread of its own so that this one can find the box and close it.
  KXWin32DeliveryConfig config = Config();
  config.showFailure = nullptr; // MessageBoxA
  auto e = Exception(LocalOnly().Text("SendFailMsg", "Sending did not work."));
  SendJob job{e, Request(*e, false), config, temp};
  HANDLE thread = CreateThread(nullptr, 0, &RunSendJob, &job, 0, nullptr);
  ASSERT_TRUE(thread);

  HWND box = nullptr;
  const DWORD start = GetTickCount();
  while (!box && GetTickCount() - start < tidewell_test::ScaledMs(20000)) {
    Sleep(50);
    for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w && !box;
         w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      if (pid == GetCurrentProcessId())
        box = w;
    }
  }
  ASSERT_TRUE(box) << "no message box appeared";
  // The box's window exists before its controls: read them once it is shown.
  std::string texts;
  while (GetTickCount() - start < tidewell_test::ScaledMs(20000)) {
    texts.clear();
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      char text[256] = {};
      GetWindowTextA(child, text, sizeof text);
      texts += std::string(text) + "|";
    }
    if (IsWindowVisible(box) && texts.find("Sending did not work.|") != std::string::npos)
      break;
    Sleep(50);
  }
  char caption[64] = {};
  GetWindowTextA(box, caption, sizeof caption);
  EXPECT_NE(texts.find("Sending did not work.|"), std::string::npos) << texts;
  EXPECT_STREQ(caption, "Error");
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  if (WaitForSingleObject(thread, tidewell_test::ScaledMs(20000)) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "the send did not end after the message box closed";
    TerminateThread(thread, 1);
  }
  CloseHandle(thread);
  EXPECT_FALSE(job.result);
}

} // namespace
} // namespace kx::test
