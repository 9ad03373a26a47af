#include "tests/crash/delivery/win32/DeliveryWin32Fixture.h"

#include "crash/delivery/KXDeliverySettings.h"
#include "tests/support/TestTime.h"

namespace kx::test {

namespace {

std::mutex gMapiLock;
ULONG gMapiResult = 2; // MAPI_E_FAILURE
std::vector<MapiCall> gMapiCalls;

std::string Text(const char *text) { return text ? text : "<null>"; }

} // namespace

std::string Narrow8(const std::wstring &ascii) { return std::string(ascii.begin(), ascii.end()); }
std::string Port(uint16_t port) { return std::to_string(port); }

// --- the stand-ins ---------------------------------------------------------------------------------

void HookLog::Started(const std::string &commandLine) {
  std::lock_guard<std::mutex> guard(FLock);
  FProcesses.push_back(commandLine);
}
void HookLog::Failed(const std::string &text) {
  std::lock_guard<std::mutex> guard(FLock);
  FFailures.push_back(text);
}
void HookLog::Opened(const std::string &url) {
  std::lock_guard<std::mutex> guard(FLock);
  FLocations.push_back(url);
}
std::vector<std::string> HookLog::Processes() {
  std::lock_guard<std::mutex> guard(FLock);
  return FProcesses;
}
std::vector<std::string> HookLog::Failures() {
  std::lock_guard<std::mutex> guard(FLock);
  return FFailures;
}
std::vector<std::string> HookLog::Locations() {
  std::lock_guard<std::mutex> guard(FLock);
  return FLocations;
}

void FakeMapi::Reset(ULONG result) {
  std::lock_guard<std::mutex> guard(gMapiLock);
  gMapiResult = result;
  gMapiCalls.clear();
}

std::vector<MapiCall> FakeMapi::Calls() {
  std::lock_guard<std::mutex> guard(gMapiLock);
  return gMapiCalls;
}

ULONG WINAPI FakeMapi::SendMail(LHANDLE, ULONG_PTR uiParam, lpMapiMessage message, FLAGS flags, ULONG) {
  MapiCall call;
  call.subject = Text(message->lpszSubject);
  call.body = Text(message->lpszNoteText);
  for (ULONG i = 0; i < message->nRecipCount; ++i)
    call.recipients.push_back(std::to_string(message->lpRecips[i].ulRecipClass) + "|" +
                              Text(message->lpRecips[i].lpszName) + "|" + Text(message->lpRecips[i].lpszAddress));
  for (ULONG i = 0; i < message->nFileCount; ++i)
    call.files.push_back(std::to_string(long(message->lpFiles[i].nPosition)) + "|" +
                         Text(message->lpFiles[i].lpszPathName) + "|" + Text(message->lpFiles[i].lpszFileName));
  call.flags = flags;
  call.uiParam = uiParam;
  HWND parent = reinterpret_cast<HWND>(uiParam);
  call.parentTopmost = parent && (GetWindowLongW(parent, GWL_EXSTYLE) & WS_EX_TOPMOST);
  std::lock_guard<std::mutex> guard(gMapiLock);
  gMapiCalls.push_back(call);
  return gMapiResult;
}

std::string FakeScreenShot::Png() { return std::string("\x89PNG\r\n\x1a\n", 8) + std::string(300, '\x5a') + "IEND"; }

bool FakeScreenShot::SavePng(const std::u16string &file, int32_t format) {
  savedFormat = format;
  HANDLE h = CreateFileW(reinterpret_cast<const wchar_t *>(file.c_str()), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return false;
  const std::string png = Png();
  DWORD written = 0;
  bool ok = WriteFile(h, png.data(), DWORD(png.size()), &written, nullptr) && written == png.size();
  CloseHandle(h);
  return ok;
}

KXWin32DeliveryConfig QuietConfig() {
  static auto log = std::make_shared<NetworkLog>();
  KXWin32DeliveryConfig config;
  config.makeNetwork = [] { return std::make_unique<GuardedNetwork>(log); };
  config.dnsServers = std::vector<std::string>{};
  config.proxyList = "";
  config.options.rootServers = {"127.0.0.1"};
  config.options.dns.port = 9;
  config.options.dns.waitMs = 500;
  config.classesRoot = nullptr; // no mailto command
  config.mapiSendMail = &FakeMapi::SendMail;
  config.startProcess = [](const std::string &) { return false; };
  config.showFailure = [](HWND, const std::string &) {};
  config.openLocation = [](const std::string &) {};
  return config;
}

std::string WaitForFileWith(const std::wstring &path, const std::string &marker, unsigned ms) {
  const DWORD start = GetTickCount();
  std::string content;
  while (GetTickCount() - start < tidewell_test::ScaledMs(ms)) {
    content = Win32TestFolder::Read(path);
    if (content.find(marker) != std::string::npos)
      return content;
    Sleep(50);
  }
  return content;
}

// --- the fixture ------------------------------------------------------------------------------------

void DeliveryWin32Test::SetUp() {
  ASSERT_TRUE(folder.Created);
  temp = folder.Path + L"tmp\\";
  ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
  oldReports = CrashReport(kCrcB, "2026-12-08, 17:00:00, 1ms") + "\r\n\r\n";
  bugFile = folder.Write(L"bug.txt", oldReports);
  FakeMapi::Reset(2);
  platform.fileNames[module] = "C:\\Apps\\Tidewell\\Tidewell.exe";

  classesPath = L"Software\\TidewellTests\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount()) + L"\\Classes";
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, classesPath.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &classes, nullptr),
            ERROR_SUCCESS);
}

void DeliveryWin32Test::TearDown() {
  EXPECT_EQ(network->Refused(), std::vector<std::string>{});
  SetExceptionHost(nullptr);
  if (classes) {
    RegCloseKey(classes);
    std::wstring parent = classesPath.substr(0, classesPath.rfind(L'\\'));
    RegDeleteTreeW(HKEY_CURRENT_USER, parent.c_str());
  }
}

KXWin32DeliveryConfig DeliveryWin32Test::Config() {
  KXWin32DeliveryConfig config;
  auto log = network;
  auto seen = hooks;
  config.makeNetwork = [log] { return std::make_unique<GuardedNetwork>(log); };
  config.dnsServers = std::vector<std::string>{};
  config.proxyList = "";
  config.options.rootServers = {"root.test"};
  config.options.dns.port = dnsPort;
  config.options.dns.waitMs = 3000;
  config.classesRoot = classes;
  config.mapiSendMail = &FakeMapi::SendMail;
  config.startProcess = [seen](const std::string &commandLine) {
    seen->Started(commandLine);
    return seen->startResult;
  };
  config.showFailure = [seen](HWND, const std::string &text) { seen->Failed(text); };
  config.openLocation = [seen](const std::string &url) { seen->Opened(url); };
  network->AddHost("root.test", 0);
  return config;
}

std::shared_ptr<TIKXException> DeliveryWin32Test::Exception(StreamBuilder settings) {
  platform.streams[module] = settings.Text("BugRepFile", Narrow8(bugFile)).End();
  context = std::make_shared<KXSettingsContext>(platform, std::make_shared<KXSettingsRegistry>());
  exceptionHosts.push_back(std::make_unique<FakeHost>(CreateModuleSettings(context, module)));
  SetExceptionHost(exceptionHosts.back().get());
  KXCaughtException caught;
  caught.exceptObject = KXExceptObject::Of(error);
  return CreateExceptionObject(caught);
}

KXDeliveryRequest DeliveryWin32Test::Request(IKXSettings &settings, bool hidden) {
  KXDeliveryRequest request;
  request.bugReport = report;
  request.hidden = hidden;
  request.settings = ReadDeliverySettings(settings);
  return request;
}

bool DeliveryWin32Test::Deliver(const std::shared_ptr<TIKXException> &e, const KXDeliveryRequest &request,
                                std::shared_ptr<INVBitmap> screenShot) {
  return Deliver(e, request, std::move(screenShot), Config());
}

bool DeliveryWin32Test::Deliver(const std::shared_ptr<TIKXException> &e, const KXDeliveryRequest &request,
                                std::shared_ptr<INVBitmap> screenShot, const KXWin32DeliveryConfig &config) {
  KXWin32DeliveryHost host(std::shared_ptr<IKXSettings>(e, static_cast<IKXException *>(e.get())),
                           std::move(screenShot), temp, config);
  return host.Deliver(request);
}

void DeliveryWin32Test::RegisterMailto(const std::string &command, DWORD type) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(classes, "mailto\\shell\\open\\command", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, nullptr, 0, type, reinterpret_cast<const BYTE *>(command.c_str()), DWORD(command.size() + 1));
  RegCloseKey(key);
}

void DeliveryWin32Test::ExpectLeftToTheMailProgram(const std::shared_ptr<TIKXException> &e) {
  EXPECT_EQ(FakeMapi::Calls().size(), 1u);
  ASSERT_EQ(hooks->Processes().size(), 1u);
  EXPECT_EQ(hooks->Processes()[0].rfind("mailer.exe \"mailto:dev@example.com?subject=bug%20report&body=", 0), 0u);
  EXPECT_EQ(hooks->Failures(), std::vector<std::string>{});
  EXPECT_FALSE(e->GetMailWasSent());
  EXPECT_EQ(Win32TestFolder::Read(bugFile), oldReports);
}

} // namespace kx::test
