#pragma once
// A scripted SMTP server on a ScriptedStream: it reads the client's command lines, keeps what the
// data phase carried, and answers each command with the script's segments or a default reply.
#include <map>
#include <string>
#include <vector>

#include "tests/crash/delivery/FakeNetwork.h"

namespace kx::test {

struct SmtpScript {
  std::vector<std::string> greeting = {"220 mx.example.com ESMTP\r\n"};
  // Replies by command: "EHLO", "HELO", "AUTH", "AUTH-USER", "AUTH-PASS", "MAIL", "RCPT", "RSET",
  // "DATA", "." (end of data), "QUIT". Each reply is a list of segments.
  std::map<std::string, std::vector<std::string>> replies;
  // Replies for the n-th RCPT (0-based), overriding "RCPT".
  std::map<int, std::vector<std::string>> rcptReplies;
};

class FakeSmtpServer {
public:
  explicit FakeSmtpServer(SmtpScript script = {}) : FScript(std::move(script)) {}

  std::vector<std::string> commands; // command lines outside the data phase
  std::vector<std::string> messages; // each message as delivered (dots unstuffed, no final ".")
  bool dataOpen = false;             // a data phase that never ended

  std::unique_ptr<ScriptedStream> Stream() {
    auto stream = std::make_unique<ScriptedStream>();
    for (const std::string &segment : FScript.greeting)
      stream->incoming.push_back(segment);
    stream->respond = [this](ScriptedStream &s) { Consume(s); };
    return stream;
  }

private:
  void Reply(ScriptedStream &stream, const std::string &key, std::vector<std::string> fallback) {
    auto it = FScript.replies.find(key);
    for (const std::string &segment : it != FScript.replies.end() ? it->second : fallback)
      stream.incoming.push_back(segment);
  }

  static bool Accepted(const std::vector<std::string> &segments, const char *code) {
    return !segments.empty() && segments.front().rfind(code, 0) == 0;
  }

  void Consume(ScriptedStream &stream) {
    for (;;) {
      size_t end = stream.sent.find("\r\n", FDone);
      if (end == std::string::npos)
        return;
      std::string line = stream.sent.substr(FDone, end - FDone);
      FDone = end + 2;
      if (dataOpen) {
        if (line == ".") {
          dataOpen = false;
          messages.push_back(FData);
          FData.clear();
          Reply(stream, ".", {"250 queued\r\n"});
        } else {
          // The receiving side removes the first of a line's leading dots.
          FData += (line.rfind('.', 0) == 0 ? line.substr(1) : line) + "\r\n";
        }
        continue;
      }
      commands.push_back(line);
      if (FAuthStep == 1) {
        FAuthStep = 2;
        Reply(stream, "AUTH-USER", {"334 UGFzc3dvcmQ6\r\n"});
        continue;
      }
      if (FAuthStep == 2) {
        FAuthStep = 0;
        Reply(stream, "AUTH-PASS", {"235 ok\r\n"});
        continue;
      }
      std::string verb = line.substr(0, line.find_first_of(" :"));
      for (char &c : verb)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (verb == "EHLO") {
        Reply(stream, verb, {"250-mx.example.com\r\n250-SIZE 1000000\r\n250 AUTH LOGIN PLAIN\r\n"});
      } else if (verb == "AUTH") {
        auto it = FScript.replies.find("AUTH");
        std::vector<std::string> reply = it != FScript.replies.end() ? it->second : std::vector<std::string>{"334 VXNlcm5hbWU6\r\n"};
        if (Accepted(reply, "334"))
          FAuthStep = 1;
        for (const std::string &segment : reply)
          stream.incoming.push_back(segment);
      } else if (verb == "RCPT") {
        auto it = FScript.rcptReplies.find(FRcpt++);
        if (it != FScript.rcptReplies.end())
          for (const std::string &segment : it->second)
            stream.incoming.push_back(segment);
        else
          Reply(stream, verb, {"250 ok\r\n"});
      } else if (verb == "DATA") {
        auto it = FScript.replies.find("DATA");
        std::vector<std::string> reply = it != FScript.replies.end() ? it->second : std::vector<std::string>{"354 go ahead\r\n"};
        if (Accepted(reply, "354"))
          dataOpen = true;
        for (const std::string &segment : reply)
          stream.incoming.push_back(segment);
      } else if (verb == "QUIT") {
        Reply(stream, verb, {"221 bye\r\n"});
      } else if (verb == "HELO" || verb == "MAIL" || verb == "RSET") {
        Reply(stream, verb, {"250 ok\r\n"});
      } else {
        stream.incoming.push_back("500 unknown\r\n");
      }
    }
  }

  SmtpScript FScript;
  size_t FDone = 0;
  int FAuthStep = 0;
  int FRcpt = 0;
  std::string FData;
};

} // namespace kx::test
