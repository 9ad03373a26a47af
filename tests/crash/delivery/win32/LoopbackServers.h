#pragma once
// Small servers on 127.0.0.1 for the Win32 delivery tests, each on a Winsock thread of its own:
// an SMTP server that records the dialogue, an HTTP server that records each upload, and a UDP
// DNS responder that answers MX and NS questions. Every wait is bounded; a server stops when its
// object goes. Winsock must be started (the test program's main does it).
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kx::test {

// One accepted connection, read with a time-out on every wait.
class TestConnection {
public:
  explicit TestConnection(SOCKET s) : FSocket(s) {}
  // The next line without its CR LF; false on time-out or close.
  bool ReadLine(std::string &line);
  // Exactly count more bytes; false (with what came) on time-out or close.
  bool ReadExact(size_t count, std::string &out);
  // Everything up to and including the marker.
  bool ReadUntil(const std::string &marker, std::string &out);
  bool Send(const std::string &bytes);
  // Sends each piece with a send() of its own, a short pause between them.
  bool SendPieces(const std::vector<std::string> &pieces);

private:
  bool Fill();
  SOCKET FSocket;
  std::string FBuffer;
};

// Listens on 127.0.0.1 at a free port and hands the connections, one after the other, to the
// handler; the connection is closed when the handler returns.
class TestTcpServer {
public:
  explicit TestTcpServer(std::function<void(TestConnection &)> handler);
  ~TestTcpServer();
  TestTcpServer(const TestTcpServer &) = delete;
  TestTcpServer &operator=(const TestTcpServer &) = delete;
  uint16_t Port() const { return FPort; }
  int Connections() const { return FConnections; }

private:
  void Run();
  std::function<void(TestConnection &)> FHandler;
  SOCKET FListen = INVALID_SOCKET;
  uint16_t FPort = 0;
  std::atomic<bool> FStop{false};
  std::atomic<int> FConnections{0};
  std::thread FThread;
};

struct SmtpBehaviour {
  std::string greeting = "220 mx.test ESMTP ready";
  // The EHLO line that announces AUTH ("" for none): "250-AUTH LOGIN PLAIN", "250-AUTH=LOGIN PLAIN".
  std::string authLine = "250-AUTH LOGIN PLAIN";
  std::string account, password; // what AUTH LOGIN accepts
  bool refuseEhlo = false;       // EHLO gets 502
  // Replies go out in pieces: the greeting, each EHLO line with its first line cut after "250",
  // the final reply split in the middle.
  bool splitReplies = false;
  std::string quitReply = "221 mx.test closing";
  std::vector<std::string> rejectRecipients; // RCPT TO lines containing one of these get 550
};

class SmtpTestServer {
public:
  explicit SmtpTestServer(SmtpBehaviour behaviour = {});
  uint16_t Port() const { return FServer.Port(); }
  int Connections() const { return FServer.Connections(); }
  // Every command line received outside the data phase, over all connections.
  std::vector<std::string> Dialogue();
  // Each message as the receiver stores it: the data phase's lines up to the final ".", with the
  // transparency dot of a line that starts with "." removed.
  std::vector<std::string> Messages();

private:
  void Serve(TestConnection &connection);
  void Reply(TestConnection &connection, const std::vector<std::string> &lines);
  SmtpBehaviour FBehaviour;
  std::mutex FLock;
  std::vector<std::string> FDialogue;
  std::vector<std::string> FMessages;
  TestTcpServer FServer; // last: its thread stops before the records go
};

class HttpTestServer {
public:
  // response: the bytes sent back to every upload.
  explicit HttpTestServer(std::string response);
  uint16_t Port() const { return FServer.Port(); }
  int Connections() const { return FServer.Connections(); }
  struct Request {
    std::string header; // up to and including the empty line
    std::string body;   // Content-Length bytes after it
  };
  std::vector<Request> Requests();

private:
  void Serve(TestConnection &connection);
  std::string FResponse;
  std::mutex FLock;
  std::vector<Request> FRequests;
  TestTcpServer FServer;
};

// The DNS data the responder answers from.
struct DnsZone {
  // MX answers by domain, in answer order: (preference, host). Other domains get "no such name".
  std::map<std::string, std::vector<std::pair<uint16_t, std::string>>> mx;
  // The replies to the NS questions, in the order the questions come: (answers, authorities).
  std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> ns;
};

class DnsTestResponder {
public:
  explicit DnsTestResponder(DnsZone zone);
  ~DnsTestResponder();
  DnsTestResponder(const DnsTestResponder &) = delete;
  DnsTestResponder &operator=(const DnsTestResponder &) = delete;
  uint16_t Port() const { return FPort; }
  // "example.com MX" for each question, in order.
  std::vector<std::string> Questions();
  std::vector<uint16_t> Identifiers();

private:
  void Run();
  std::string Answer(const std::string &query);
  DnsZone FZone;
  size_t FNsReplies = 0;
  SOCKET FSocket = INVALID_SOCKET;
  uint16_t FPort = 0;
  std::atomic<bool> FStop{false};
  std::mutex FLock;
  std::vector<std::string> FQuestions;
  std::vector<uint16_t> FIdentifiers;
  std::thread FThread;
};

} // namespace kx::test
