// The HTTP upload through the Win32 host, against an upload server of the test on 127.0.0.1: the
// request's header and multipart body, answers 200 and 302, the system's proxy, and the upload
// taking precedence over mail.
#include "crash/base/settings/KXSettingsStream.h"
#include "crash/base/settings/KXText.h"
#include "crash/delivery/KXBoundary.h"
#include "tests/crash/delivery/win32/DeliveryWin32Fixture.h"
#include "tests/crash/delivery/win32/LoopbackServers.h"
#include "tests/crash/delivery/win32/MessageParts.h"

namespace kx::test {
namespace {

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";

class UploadWin32 : public DeliveryWin32Test {
protected:
  StreamBuilder Upload(const std::string &address) {
    return StreamBuilder().Bool("UploadViaHttp", true).Text("HttpServer", address);
  }
};

TEST_F(UploadWin32, MultipartFormWithFieldsAndFiles) {
  HttpTestServer server(kOk);
  SmtpTestServer smtp;
  ASSERT_NE(server.Port(), 0);
  network->AddHost("mx.example.com", smtp.Port());
  const std::string address = "http://127.0.0.1:" + Port(server.Port()) + "/bugs/upload.php";
  auto e = Exception(Upload(address)
                         .Text("HttpAccount", "uploader")
                         .Text("HttpPassword", EncipherPassword("pw", address, "uploader")) // as stored
                         .Bool("MailAsSmtpClient", true)
                         .Text("SmtpServer", "mx.example.com")
                         .Text("MailAddr", "dev@example.com")
                         .Text("MailFrom", "Reporter <crash@example.com>")
                         .Text("MailSubj", "Crash: %exceptClass%")
                         .Text("MailBody", "see the report")
                         .Text("AddFields", "Product=Tidewell|MailSubject=replaced")
                         .Int("ScrShotDepth", 4));
  ASSERT_TRUE(Deliver(e, Request(*e, false), std::make_shared<FakeScreenShot>()));

  ASSERT_EQ(server.Requests().size(), 1u);
  const HttpTestServer::Request request = server.Requests()[0];
  EXPECT_EQ(request.header.substr(0, request.header.find("\r\n")), "POST /bugs/upload.php HTTP/1.1");
  EXPECT_EQ(HeaderNames(request.header), (std::vector<std::string>{"Host", "Connection", "Pragma", "User-Agent",
                                                                    "Content-Type", "Content-Length", "From",
                                                                    "Authorization"}));
  auto has = [&](const std::string &line) { return request.header.find("\r\n" + line + "\r\n") != std::string::npos; };
  EXPECT_TRUE(has("Host: 127.0.0.1:" + Port(server.Port()))) << request.header;
  EXPECT_TRUE(has("Connection: close"));
  EXPECT_TRUE(has("Pragma: no-cache"));
  EXPECT_TRUE(has("User-Agent: Kestrelix/3.0"));
  EXPECT_NE(request.header.find("\r\nContent-Type: multipart/form-data; boundary=" + std::string(kBoundaryPrefix)),
            std::string::npos);
  EXPECT_TRUE(has("Content-Length: " + std::to_string(request.body.size())));
  EXPECT_TRUE(has("From: <crash@example.com>"));
  EXPECT_TRUE(has("Authorization: Basic dXBsb2FkZXI6cHc="));

  bool closed = false;
  std::vector<FormPart> parts = Parts(request.body, closed);
  EXPECT_TRUE(closed) << "the body ends with the closing delimiter, exactly at Content-Length";
  ASSERT_EQ(parts.size(), 7u);
  const std::pair<std::string, std::string> fields[] = {{"Product", "Tidewell"},
                                                        {"MailSubject", "Crash: EConvertError"},
                                                        {"MailFrom", "Reporter <crash@example.com>"},
                                                        {"MailBody", "see the report"},
                                                        {"MailAddr", "dev@example.com"}};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(parts[i].disposition, "form-data; name=\"" + fields[i].first + "\"");
    EXPECT_EQ(parts[i].content, fields[i].second);
    EXPECT_EQ(parts[i].type, "");
  }
  EXPECT_EQ(parts[5].disposition, "form-data; name=\"BugReport\"; filename=\"bugreport.txt\"");
  EXPECT_EQ(parts[5].type, "application/octet-stream");
  EXPECT_EQ(parts[5].content, oldReports + report + "\r\n\r\n");
  EXPECT_EQ(parts[6].disposition, "form-data; name=\"ScreenShot\"; filename=\"screenshot.png\"");
  EXPECT_EQ(parts[6].content, FakeScreenShot::Png());

  // The upload wins: no mail, no MAPI; a real success deletes the bug report file.
  EXPECT_EQ(smtp.Connections(), 0);
  EXPECT_EQ(FakeMapi::Calls().size(), 0u);
  EXPECT_TRUE(e->GetMailWasSent());
  EXPECT_EQ(GetFileAttributesW(bugFile.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(UploadWin32, RedirectsAndAddressesWithoutPath) {
  HttpTestServer redirect("HTTP/1.1 302 Found\r\nLocation: https://bugs.example.com/thanks?id=42\r\n\r\n");
  auto e = Exception(Upload("127.0.0.1:" + Port(redirect.Port())).Bool("MailViaMapi", false));
  EXPECT_TRUE(Deliver(e, Request(*e, true)));
  ASSERT_EQ(redirect.Requests().size(), 1u);
  EXPECT_EQ(redirect.Requests()[0].header.rfind("POST / HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(hooks->Locations(), std::vector<std::string>{"https://bugs.example.com/thanks?id=42"});
  EXPECT_TRUE(e->GetMailWasSent());

  // A 302 without a Location line fails; MAPI is next, then the mail program.
  HttpTestServer bare("HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n");
  folder.Write(L"bug.txt", oldReports);
  RegisterMailto("mailer.exe %1");
  hooks->startResult = true;
  e = Exception(Upload("http://127.0.0.1/in").Int("HttpPort", bare.Port()).Text("MailAddr", "dev@example.com"));
  EXPECT_TRUE(Deliver(e, Request(*e, false)));
  EXPECT_EQ(bare.Requests().size(), 1u);
  EXPECT_EQ(hooks->Locations().size(), 1u);
  ExpectLeftToTheMailProgram(e);
}

TEST_F(UploadWin32, ThroughTheSystemProxy) {
  HttpTestServer proxy(kOk);
  KXWin32DeliveryConfig config = Config();
  config.proxyList = "http=127.0.0.1:" + Port(proxy.Port()) + " https=127.0.0.1:1";
  // upload.example.com is never looked up: the guarded network would refuse it.
  auto e = Exception(Upload("http://upload.example.com/in/bugs").Int("HttpPort", 8080).Bool("MailViaMapi", false));
  EXPECT_TRUE(Deliver(e, Request(*e, true), nullptr, config));
  ASSERT_EQ(proxy.Requests().size(), 1u);
  const std::string header = proxy.Requests()[0].header;
  EXPECT_EQ(header.rfind("POST /in/bugs HTTP/1.1\r\nHost: upload.example.com:8080\r\n", 0), 0u) << header;
}

} // namespace
} // namespace kx::test
