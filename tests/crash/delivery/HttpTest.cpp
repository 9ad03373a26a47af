// The upload request, its transmission and the judging of the answer.
#include <gtest/gtest.h>

#include "crash/base/settings/KXText.h"
#include "crash/delivery/KXBoundary.h"
#include "crash/delivery/KXDeliverBugReport.h"
#include "crash/delivery/KXHttpUpload.h"
#include "tests/crash/delivery/FakeNetwork.h"
#include "tests/crash/delivery/MultipartParts.h"
#include "tests/crash/delivery/RecordingProgress.h"

namespace kx {
namespace {

using test::FakeNetwork;
using test::kSilence;
using test::MemoryFiles;
using test::RecordingProgress;
using test::ScriptedStream;

TEST(HttpRequest, TargetProxyAndPort) {
  KXUploadTarget t = ParseUploadTarget("https://bugs.example.com/upload/report.php?x=1");
  EXPECT_EQ(t.host, "bugs.example.com");
  EXPECT_EQ(t.path, "/upload/report.php?x=1");
  t = ParseUploadTarget("bugs.example.com:8080/in");
  EXPECT_EQ(t.host, "bugs.example.com:8080");
  EXPECT_EQ(t.path, "/in");
  // An address without a path posts to "/" on that host.
  t = ParseUploadTarget("http://bugs.example.com");
  EXPECT_EQ(t.host, "bugs.example.com");
  EXPECT_EQ(t.path, "/");

  EXPECT_EQ(SplitHostPort("proxy:3128", 80).name, "proxy");
  EXPECT_EQ(SplitHostPort("proxy:3128", 80).port, 3128);
  for (const char *text : {"proxy", "proxy:", "proxy:http", "proxy:0", "proxy:70000"}) {
    EXPECT_EQ(SplitHostPort(text, 81).port, 81) << text;
    EXPECT_EQ(SplitHostPort(text, 81).name, text);
  }

  EXPECT_EQ(HttpProxyName(""), "");
  EXPECT_EQ(HttpProxyName("proxy.example.com:8080"), "proxy.example.com:8080");
  EXPECT_EQ(HttpProxyName("http://proxy.example.com:8080"), "proxy.example.com:8080");
  EXPECT_EQ(HttpProxyName("ftp=f:21 http=web:3128 https=s:443"), "web:3128");
  EXPECT_EQ(HttpProxyName("https=s:443 http=web:3128"), "web:3128");
}

TEST(HttpRequest, FormFieldsAreSetNotAppended) {
  auto fields = NewFieldList();
  FieldsEx(*fields).AcceptData();
  fields->Add("Product", "Tidewell");
  fields->Add("mailaddr", "old@example.com");
  KXFormFields form = UploadFormFields(fields, "Kestrelix <a@example.com>", "bug report", "", "a@example.com");
  EXPECT_EQ(form, (KXFormFields{{"Product", "Tidewell"},
                                {"MailAddr", "a@example.com"},
                                {"MailFrom", "Kestrelix <a@example.com>"},
                                {"MailSubject", "bug report"}}));
  EXPECT_EQ(fields->GetContent("MailAddr"), "old@example.com") << "the settings' list stays as it was";
  EXPECT_TRUE(UploadFormFields(nullptr, "", "", "", "").empty());
}

// One upload against a scripted server that answers once the request has arrived.
struct UploadRun {
  FakeNetwork network;
  MemoryFiles files;
  RecordingProgress progress;
  KXUploadJob job;
  std::vector<std::string> answer{"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"};
  std::string request; // everything the client sent

  UploadRun() {
    network.names["bugs.example.com"] = test::kLoopback;
    network.names["proxy.example.com"] = test::kLoopback;
    network.connect = [this](uint16_t) {
      auto s = std::make_unique<ScriptedStream>();
      s->incoming.assign(answer.begin(), answer.end());
      s->respond = [this](ScriptedStream &self) { request = self.sent; };
      return s;
    };
    job.httpServer = "http://bugs.example.com/upload.php";
    job.httpPort = 8080;
  }
  KXRandomFn random; // empty: the system's
  KXUploadResult Run() {
    KXUploadContext context{&network, files.Opener(), KXSendProgress(&progress), random};
    return UploadBugReport(job, KXSendTexts(), context);
  }
  std::string Body() { return request.substr(request.find("\r\n\r\n") + 4); }
};

TEST(HttpUpload, RequestHeaderFieldsAndParts) {
  UploadRun run;
  run.job.sender = "Kestrelix <crash@example.com>";
  run.job.account = "uploader";
  run.job.password = "pa:ss";
  run.job.fields = {{"MailSubject", "bug report"}, {"Build", "1.0"}};
  run.files.files[u"C:\\tmp\\bugreport.txt"] = std::string(3000, 'r');
  run.files.files[u"C:\\tmp\\empty.txt"] = "";
  run.job.attachments.Add(u"C:\\tmp\\bugreport.txt", "bugreport.txt", "BugReport");
  run.job.attachments.Add(u"C:\\tmp\\empty.txt", "empty.txt", "Empty");
  run.job.attachments.Add(u"C:\\tmp\\gone.txt", "gone.txt", "Gone");

  KXUploadResult result = run.Run();
  EXPECT_TRUE(result.sent);
  EXPECT_EQ(run.network.connectedPorts, std::vector<uint16_t>{8080});
  const std::string b = test::BoundaryFromHeader(run.request);
  ASSERT_EQ(b.size(), kBoundaryLength);
  EXPECT_EQ(b.substr(0, kBoundaryPrefix.size()), kBoundaryPrefix);
  const std::string body = run.Body();
  const std::string header = run.request.substr(0, run.request.size() - body.size() - 2);
  EXPECT_EQ(header, "POST /upload.php HTTP/1.1\r\n"
                    "Host: bugs.example.com:8080\r\n"
                    "Connection: close\r\n"
                    "Pragma: no-cache\r\n"
                    "User-Agent: Kestrelix/3.0\r\n"
                    "Content-Type: multipart/form-data; boundary=" + b + "\r\n"
                    "Content-Length: " + std::to_string(body.size()) + "\r\n"
                    "From: <crash@example.com>\r\n"
                    "Authorization: Basic " + Base64Encode("uploader:pa:ss") + "\r\n");
  EXPECT_EQ(body, "--" + b + "\r\nContent-Disposition: form-data; name=\"MailSubject\"\r\n\r\nbug report\r\n"
                  "--" + b + "\r\nContent-Disposition: form-data; name=\"Build\"\r\n\r\n1.0\r\n"
                  "--" + b + "\r\nContent-Disposition: form-data; name=\"BugReport\"; filename=\"bugreport.txt\"\r\n"
                  "Content-Type: application/octet-stream\r\n\r\n" + std::string(3000, 'r') + "\r\n"
                  "--" + b + "--\r\n");

  // The part length that weights the progress matches the bytes sent.
  const uint64_t part = HttpAttachmentPartLength(b, "BugReport", "bugreport.txt", 3000);
  EXPECT_EQ(HttpAttachmentPartHeader(b, "BugReport", "bugreport.txt").size() + 3000, part);
  EXPECT_EQ(run.progress.areas,
            UploadProgressAreas(KXSendTexts(), HttpFieldsPart(b, run.job.fields).size(), {part}));
  EXPECT_EQ(run.progress.current, static_cast<int>(run.progress.areas.size()) + 1) << "preparation area included";
}

TEST(HttpUpload, ProxyCarriesTheRequestForTheTarget) {
  UploadRun run;
  run.job.httpServer = "bugs.example.com:9000/in";
  run.job.proxyList = "http=proxy.example.com:3128";
  EXPECT_TRUE(run.Run().sent);
  EXPECT_EQ(run.network.connectedPorts, std::vector<uint16_t>{3128});
  EXPECT_EQ(run.request.substr(0, run.request.find("\r\nConnection")),
            "POST /in HTTP/1.1\r\nHost: bugs.example.com:9000");
  EXPECT_EQ(run.request.find("From:"), std::string::npos);
  EXPECT_EQ(run.request.find("Authorization:"), std::string::npos);
}

TEST(HttpUpload, FailuresOnTheWay) {
  {
    UploadRun run;
    run.job.httpServer = "http://unknown.example.com/x";
    EXPECT_FALSE(run.Run().sent);
    EXPECT_TRUE(run.network.connectedPorts.empty());
  }
  {
    // A file that turns out shorter than announced cannot complete the body.
    UploadRun run;
    run.files.files[u"f"] = std::string(5000, 'x');
    run.files.failReadAt[u"f"] = 2048;
    run.job.attachments.Add(u"f", "f.bin", "F");
    EXPECT_FALSE(run.Run().sent);
    const std::string b = test::BoundaryFromHeader(run.request);
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(run.request.find("--" + b + "--"), std::string::npos);
  }
  {
    UploadRun run;
    run.answer = {"HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n"};
    EXPECT_FALSE(run.Run().sent) << "302 without a Location line";
  }
  {
    UploadRun run;
    run.answer = {"HTTP/1.1 302 Found\r\nlocation: https://bugs.example.com/thanks?id=7\r\n\r\n"};
    KXUploadResult result = run.Run();
    EXPECT_TRUE(result.sent);
    EXPECT_EQ(result.location, "https://bugs.example.com/thanks?id=7");
  }
}

// Content that holds the old fixed delimiter and the first boundary candidate, each followed by a
// forged field, is sent with the second candidate and reads back as exactly the parts written.
TEST(HttpUpload, ContentHoldingADelimiterCannotForgeParts) {
  KXRandomFn random = test::SequenceRandom(7);
  const std::string first = RandomBoundary(random), second = RandomBoundary(random);
  ASSERT_NE(first, second);
  const std::string comment = "see below" + test::ForgedFieldPart(test::kOldFixedBoundary) +
                              test::ForgedFieldPart(first) + "\r\n--" + first + "--\r\n";
  const std::string report = test::ForgedFieldPart(first) + "\r\n" + test::ForgedFieldPart(test::kOldFixedBoundary);

  UploadRun run;
  run.random = test::SequenceRandom(7);
  run.job.fields = {{"Comment", comment}};
  run.files.files[u"r"] = report;
  run.job.attachments.Add(u"r", "report.txt", "Report");
  ASSERT_TRUE(run.Run().sent);
  EXPECT_EQ(test::BoundaryFromHeader(run.request), second) << "the first candidate occurs in the content";
  auto parts = test::SplitMultipart(run.request, second);
  ASSERT_TRUE(parts);
  ASSERT_EQ(parts->size(), 2u);
  EXPECT_EQ((*parts)[0].headerLines, std::vector<std::string>{"Content-Disposition: form-data; name=\"Comment\""});
  EXPECT_EQ((*parts)[0].body, comment);
  EXPECT_EQ((*parts)[1].headerLines,
            (std::vector<std::string>{"Content-Disposition: form-data; name=\"Report\"; filename=\"report.txt\"",
                                      "Content-Type: application/octet-stream"}));
  EXPECT_EQ((*parts)[1].body, report);
}

TEST(HttpUpload, ContentHoldingEveryCandidateIsNotSent) {
  KXRandomFn random = test::SequenceRandom(3);
  std::string report;
  for (int i = 0; i < kBoundaryTries; ++i)
    report += RandomBoundary(random) + "\n";
  UploadRun run;
  run.random = test::SequenceRandom(3);
  run.files.files[u"r"] = report;
  run.job.attachments.Add(u"r", "report.txt", "Report");
  EXPECT_FALSE(run.Run().sent);
  EXPECT_TRUE(run.network.connectedPorts.empty());
}

TEST(HttpUpload, BoundariesDifferBetweenUploads) {
  UploadRun one, two;
  ASSERT_TRUE(one.Run().sent);
  ASSERT_TRUE(two.Run().sent);
  EXPECT_NE(test::BoundaryFromHeader(one.request), test::BoundaryFromHeader(two.request));
}

// Names with quotes or line breaks cannot add a parameter, a header line or a part.
TEST(HttpUpload, NamesCannotAddHeadersOrParameters) {
  UploadRun run;
  const std::string quoted = "a\\\"; filename=\"evil.exe";
  run.job.fields = {{quoted, "v1"}, {"x\r\nX-Injected: 1", "v2"}, {std::string("n\0ul", 4), "v3"}, {"ok", "v4"}};
  run.files.files[u"f"] = "data";
  run.job.attachments.Add(u"f", "r\"\r\nContent-Type: text/html", "Broken");
  run.job.attachments.Add(u"f", "r.txt", "Field\nX-Injected: 2");
  run.job.attachments.Add(u"f", quoted, "Report");
  ASSERT_TRUE(run.Run().sent);
  EXPECT_EQ(run.request.find("X-Injected"), std::string::npos);
  EXPECT_EQ(run.request.find("text/html"), std::string::npos);
  auto parts = test::SplitMultipart(run.request, test::BoundaryFromHeader(run.request));
  ASSERT_TRUE(parts);
  ASSERT_EQ(parts->size(), 3u);
  const test::HeaderParams field = test::ReadHeaderParams((*parts)[0].headerLines.at(0));
  EXPECT_FALSE(field.malformed);
  EXPECT_EQ(field.duplicates, 0);
  EXPECT_EQ(field.values, (std::map<std::string, std::string>{{"name", quoted}}));
  EXPECT_EQ((*parts)[1].body, "v4");
  const test::HeaderParams file = test::ReadHeaderParams((*parts)[2].headerLines.at(0));
  EXPECT_FALSE(file.malformed);
  EXPECT_EQ(file.duplicates, 0);
  EXPECT_EQ(file.values, (std::map<std::string, std::string>{{"name", "Report"}, {"filename", quoted}}));
  EXPECT_EQ((*parts)[2].body, "data");
  // The announced length counts the escaped names.
  const std::string body = run.Body();
  EXPECT_NE(run.request.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
}

TEST(HttpUpload, HeaderValuesOverSeveralLinesFailTheUpload) {
  for (auto change : std::vector<std::function<void(KXUploadJob &)>>{
           [](KXUploadJob &job) { job.sender = "a@b.com\r\nX-Injected: 1"; },
           [](KXUploadJob &job) { job.httpServer = "http://bugs.example.com/in HTTP/1.1\r\nX-Injected: 1\r\n"; },
           [](KXUploadJob &job) { job.httpServer = std::string("http://bugs.example.com/\0x", 26); }}) {
    UploadRun run;
    change(run.job);
    EXPECT_FALSE(run.Run().sent);
    EXPECT_TRUE(run.network.connectedPorts.empty());
  }
}

KXHttpAnswer Judge(std::vector<std::string> segments) {
  ScriptedStream stream;
  stream.incoming.assign(segments.begin(), segments.end());
  return ReadHttpAnswer(stream);
}

TEST(HttpAnswer, StatusAndHeadersAreReadWhole) {
  EXPECT_EQ(Judge({"HTTP/1.1 2", "00 OK\r\n", "Server: x\r\n\r\n"}).verdict, KXHttpVerdict::success);
  // An interim answer, then the real one in later pieces.
  EXPECT_EQ(Judge({"HTTP/1.1 100 Continue\r\n\r\n", "HTTP/1.1 200 OK\r\n\r\n"}).verdict, KXHttpVerdict::success);
  EXPECT_EQ(Judge({"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 404 Not Found\r\n\r\n"}).verdict,
            KXHttpVerdict::failure);
  KXHttpAnswer redirect = Judge({"HTTP/1.1 302 Found\r\nServer: x\r\nLocat", "ion: http://example.com/ok\r\n\r\n"});
  EXPECT_EQ(redirect.verdict, KXHttpVerdict::success);
  EXPECT_EQ(redirect.location, "http://example.com/ok");
  // A server that sends its status line and then goes quiet is judged by what it sent.
  EXPECT_EQ(Judge({"HTTP/1.1 200 OK\r\n", kSilence}).verdict, KXHttpVerdict::success);
  EXPECT_EQ(Judge({"HTTP/1.1 302 Found\r\nLocation: http://x/", kSilence}).verdict, KXHttpVerdict::failure);
  // A lone LF ends a header line: a value cannot continue on the next line.
  EXPECT_EQ(Judge({"HTTP/1.1 302 Found\r\nLocation: http://a.example\nc/x\r\n\r\n"}).verdict,
            KXHttpVerdict::failure);
  EXPECT_EQ(Judge({"HTTP/1.1 100 Continue\r\n\r\n", kSilence}).verdict, KXHttpVerdict::failure);
  EXPECT_EQ(Judge({}).verdict, KXHttpVerdict::failure);
  EXPECT_EQ(Judge({"HTTP/1.1 500 Internal\r\n\r\n"}).status, "500");
}

TEST(HttpAnswer, OnlyWebAddressesAreOpened) {
  for (const char *url : {"http://example.com/thanks", "HTTPS://example.com", "https://example.com:8443/a?b=c"})
    EXPECT_TRUE(IsOpenableLocation(url)) << url;
  for (const char *url : {"file:///C:/Windows/system32/calc.exe", "C:\\Windows\\notepad.exe", "javascript:alert(1)",
                          "http://", "http:///x", "http://ex ample.com", "http://example.com/\"&calc", "mailto:a@b",
                          "\\\\server\\share\\x.exe", "http://example.com/\r\nx"})
    EXPECT_FALSE(IsOpenableLocation(url)) << url;
}

} // namespace
} // namespace kx
