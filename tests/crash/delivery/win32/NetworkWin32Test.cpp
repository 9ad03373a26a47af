// The platform pieces on their own: Winsock streams and datagrams on 127.0.0.1, files read while
// another program writes them, the mailto command from the registry, and the message MAPI gets.
#include "crash/delivery/KXMapiMessage.h"
#include "crash/delivery/win32/KXWin32FileSource.h"
#include "crash/delivery/win32/KXWin32Mailto.h"
#include "crash/delivery/win32/KXWin32Mapi.h"
#include "crash/delivery/win32/KXWin32Network.h"
#include "crash/delivery/win32/KXWin32Proxy.h"
#include "crash/delivery/win32/KXWin32SystemDns.h"
#include "tests/crash/delivery/win32/DeliveryWin32Fixture.h"
#include "tests/crash/delivery/win32/LoopbackServers.h"
#include "tests/support/TestTime.h"

namespace kx::test {
namespace {

constexpr KXIPv4 kLoopback = 0x7F000001;

// A port on 127.0.0.1 that nobody listens on.
uint16_t ClosedPort(int type) {
  SOCKET s = socket(AF_INET, type, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
  int length = sizeof sa;
  getsockname(s, reinterpret_cast<sockaddr *>(&sa), &length);
  closesocket(s);
  return ntohs(sa.sin_port);
}

// Receives until the text holds the marker or the stream reports anything but data.
KXReceiveStatus ReceiveUntil(IKXStreamSocket &stream, const std::string &marker, std::string &text) {
  KXReceiveStatus status = KXReceiveStatus::data;
  while (text.find(marker) == std::string::npos &&
         (status = stream.Receive(1024, tidewell_test::ScaledMs(5000), text)) == KXReceiveStatus::data) {
  }
  return status;
}

TEST(Win32Network, StreamsOnLoopback) {
  KXWin32Network network;
  ASSERT_TRUE(network.Start());
  EXPECT_EQ(network.Resolve("127.0.0.1"), kLoopback);
  EXPECT_EQ(network.Resolve(""), std::nullopt);

  TestTcpServer server([](TestConnection &c) {
    c.Send("hello\r\n");
    std::string line;
    if (c.ReadLine(line) && line == "ping")
      c.SendPieces({"po", "ng\r\n"});
    Sleep(600); // quiet for a while, then close
  });
  ASSERT_NE(server.Port(), 0);
  auto stream = network.Connect(kLoopback, server.Port());
  ASSERT_TRUE(stream);
  std::string text;
  EXPECT_EQ(ReceiveUntil(*stream, "hello\r\n", text), KXReceiveStatus::data);
  ASSERT_TRUE(stream->Send("ping\r\n"));
  text.clear();
  EXPECT_EQ(ReceiveUntil(*stream, "pong\r\n", text), KXReceiveStatus::data);
  EXPECT_EQ(text, "pong\r\n");
  // Nothing more for 200 ms: a time-out, then the close.
  const ULONGLONG before = GetTickCount64();
  EXPECT_EQ(stream->Receive(1024, 200, text), KXReceiveStatus::timeout);
  EXPECT_GE(GetTickCount64() - before, 150u);
  EXPECT_EQ(stream->Receive(1024, tidewell_test::ScaledMs(5000), text), KXReceiveStatus::closed);
  stream.reset();

  EXPECT_EQ(network.Connect(kLoopback, ClosedPort(SOCK_STREAM)), nullptr);
  network.Stop();
}

TEST(Win32Network, DatagramsOnLoopback) {
  KXWin32Network network;
  ASSERT_TRUE(network.Start());
  SOCKET peer = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(peer, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
  int length = sizeof sa;
  getsockname(peer, reinterpret_cast<sockaddr *>(&sa), &length);
  const uint16_t peerPort = ntohs(sa.sin_port);

  auto datagram = network.OpenDatagram();
  ASSERT_TRUE(datagram);
  // A datagram to a port nobody listens on does not end a later wait early.
  EXPECT_TRUE(datagram->SendTo(kLoopback, ClosedPort(SOCK_DGRAM), "lost"));
  ASSERT_TRUE(datagram->SendTo(kLoopback, peerPort, "question"));

  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(peer, &readable);
  timeval wait{long(tidewell_test::ScaledMs(5000) / 1000), 0};
  ASSERT_EQ(select(0, &readable, nullptr, nullptr, &wait), 1) << "the question did not arrive";
  char buffer[64];
  sockaddr_in from{};
  int fromLength = sizeof from;
  int n = recvfrom(peer, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &fromLength);
  ASSERT_EQ(std::string(buffer, size_t(n > 0 ? n : 0)), "question");
  EXPECT_EQ(ntohl(from.sin_addr.s_addr), kLoopback);
  sendto(peer, "answer", 6, 0, reinterpret_cast<sockaddr *>(&from), fromLength);

  std::string packet;
  KXIPv4 fromAddress = 0;
  uint16_t fromPort = 0;
  ASSERT_EQ(datagram->ReceiveFrom(512, tidewell_test::ScaledMs(5000), packet, fromAddress, fromPort),
            KXReceiveStatus::data);
  EXPECT_EQ(packet, "answer");
  EXPECT_EQ(fromAddress, kLoopback);
  EXPECT_EQ(fromPort, peerPort);
  const ULONGLONG before = GetTickCount64();
  EXPECT_EQ(datagram->ReceiveFrom(512, 300, packet, fromAddress, fromPort), KXReceiveStatus::timeout);
  EXPECT_GE(GetTickCount64() - before, 250u);
  closesocket(peer);
  network.Stop();
}

class Win32Platform : public DeliveryWin32Test {};

// Read only: nothing is sent to the servers or the proxy found.
TEST(Win32SystemSettings, DnsServersAndProxyAreReadWithoutTheNetwork) {
  std::vector<std::string> servers = NetworkParamsDnsServers();
  for (const std::string &server : servers)
    EXPECT_TRUE(ParseDottedAddress(server)) << server;
  EXPECT_TRUE(IsNtFamilySystem());
  EXPECT_EQ(SystemDnsServers(), servers) << "a system of the NT family after NT 4 asks GetNetworkParams";
  const std::string proxy = SystemHttpProxyList();
  EXPECT_EQ(proxy.find('\0'), std::string::npos);
}

TEST_F(Win32Platform, SharedFilesAndTheMailtoCommand) {
  // A file that another program holds open for writing is still read.
  const std::string content = std::string(5000, 'x') + "end";
  std::wstring path = folder.Write(L"held.log", content);
  HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  auto file = OpenSharedFile(folder.U16(L"held.log"));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Size(), content.size());
  std::string read(content.size() + 10, '\0');
  EXPECT_EQ(ReadFully(*file, read.data(), read.size()), int64_t(content.size()));
  read.resize(content.size());
  EXPECT_EQ(read, content);
  file.reset();
  CloseHandle(writer);
  EXPECT_EQ(OpenSharedFile(folder.U16(L"missing.log")), nullptr);

  EXPECT_EQ(ReadMailtoCommand(classes), std::nullopt);
  RegisterMailto("");
  EXPECT_EQ(ReadMailtoCommand(classes), std::nullopt);
  SetEnvironmentVariableA("TIDEWELL_TEST_MAILER", "C:\\Mail\\mailer.exe");
  RegisterMailto("\"%TIDEWELL_TEST_MAILER%\" /compose \"%1\"", REG_EXPAND_SZ);
  EXPECT_EQ(ReadMailtoCommand(classes), "\"C:\\Mail\\mailer.exe\" /compose \"%1\"");
  const std::string longCommand = "\"C:\\" + std::string(400, 'p') + "\\mailer.exe\" %1";
  RegisterMailto(longCommand);
  EXPECT_EQ(ReadMailtoCommand(classes), longCommand);
}

TEST_F(Win32Platform, TheHostKeepsTrackOfTheFilesOfASend) {
  auto e = Exception(StreamBuilder().Int("ScrShotDepth", 4));
  std::shared_ptr<IKXSettings> settings(e, static_cast<IKXException *>(e.get()));
  auto shot = std::make_shared<FakeScreenShot>();
  {
    KXWin32DeliveryHost host(settings, shot, temp, Config());
    KXPreparedAttachments prepared = host.PrepareAttachments(Request(*e, false));
    ASSERT_EQ(prepared.sendAs, (std::vector<std::string>{"bugreport.txt", "screenshot.png"}));
    EXPECT_EQ(prepared.files[1], folder.U16(L"tmp\\screenShot.png"));
    EXPECT_EQ(Win32TestFolder::Read(temp + L"screenShot.png"), FakeScreenShot::Png());
    EXPECT_EQ(shot->savedFormat, 1);
    host.DeleteScreenShotFile();
    EXPECT_EQ(GetFileAttributesW((temp + L"screenShot.png").c_str()), INVALID_FILE_ATTRIBUTES);
    // Kept for the mail program: not deleted after all.
    host.KeepBugReportFile();
    host.DeleteMarkedBugReportFile();
    EXPECT_EQ(Win32TestFolder::Read(bugFile), oldReports);
  }
  // A read-only, hidden bug report file is deleted all the same.
  ASSERT_TRUE(SetFileAttributesW(bugFile.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  KXWin32DeliveryHost host(settings, nullptr, temp, Config());
  host.PrepareAttachments(Request(*e, false));
  host.DeleteMarkedBugReportFile();
  EXPECT_EQ(GetFileAttributesW(bugFile.c_str()), INVALID_FILE_ATTRIBUTES);
  host.MarkSent();
  EXPECT_TRUE(e->GetMailWasSent());
}

TEST_F(Win32Platform, MapiGetsTheWholeMessage) {
  HWND parent = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"crash dialog", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr,
                                nullptr, nullptr);
  ASSERT_TRUE(parent);
  ShowWindow(parent, SW_SHOWNOACTIVATE);
  ASSERT_TRUE(GetWindowLongW(parent, GWL_EXSTYLE) & WS_EX_TOPMOST);
  KXMapiMail mail;
  mail.subject = "bug report";
  mail.body = "line 1\r\nline 2";
  mail.recipients = MapiRecipients("Dev Team <dev@example.com>,ops@example.org");
  mail.attachments.Add(folder.U16(L"tmp\\bugreport.txt"), "bugreport.txt", "BugReport");
  mail.attachments.Add(folder.U16(L"tmp\\screenShot.png"), "screenshot.png", "ScreenShot");
  mail.flags = kMapiLogonUi | kMapiDialog;
  mail.parentWindow = parent;

  FakeMapi::Reset(0);
  EXPECT_EQ(SendThroughMapi(mail, &FakeMapi::SendMail), KXMapiOutcome::sent);
  std::vector<MapiCall> calls = FakeMapi::Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].subject, "bug report");
  EXPECT_EQ(calls[0].body, "line 1\r\nline 2");
  ASSERT_EQ(calls[0].recipients.size(), 2u);
  EXPECT_EQ(calls[0].recipients[0], "1|" + mail.recipients[0].name + "|SMTP:dev@example.com");
  EXPECT_EQ(calls[0].recipients[1], "1|ops@example.org|SMTP:ops@example.org");
  EXPECT_EQ(calls[0].files, (std::vector<std::string>{"-1|" + Narrow8(temp) + "bugreport.txt|bugreport.txt",
                                                      "-1|" + Narrow8(temp) + "screenShot.png|screenshot.png"}));
  EXPECT_EQ(calls[0].flags, FLAGS(MAPI_LOGON_UI | MAPI_DIALOG));
  EXPECT_EQ(calls[0].uiParam, reinterpret_cast<ULONG_PTR>(parent));
  // The topmost dialog leaves the band for the mail program and comes back.
  EXPECT_FALSE(calls[0].parentTopmost);
  EXPECT_TRUE(GetWindowLongW(parent, GWL_EXSTYLE) & WS_EX_TOPMOST);

  FakeMapi::Reset(MAPI_USER_ABORT);
  EXPECT_EQ(SendThroughMapi(mail, &FakeMapi::SendMail), KXMapiOutcome::cancelled);
  FakeMapi::Reset(MAPI_E_LOGIN_FAILURE);
  EXPECT_EQ(SendThroughMapi(mail, &FakeMapi::SendMail), KXMapiOutcome::failed);
  EXPECT_EQ(SendThroughMapi(mail, nullptr), KXMapiOutcome::failed);
  DestroyWindow(parent);
}

} // namespace
} // namespace kx::test
