#include "tests/crash/delivery/win32/LoopbackServers.h"

#include <algorithm>

#include "crash/base/settings/KXText.h"
#include "tests/crash/delivery/DnsPackets.h"
#include "tests/support/TestTime.h"

namespace kx::test {

namespace {

// How long a server waits for the client's next bytes.
unsigned ServerWaitMs() { return tidewell_test::ScaledMs(15000); }

bool WaitReadable(SOCKET s, unsigned ms) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval wait{long(ms / 1000), long(ms % 1000) * 1000};
  return select(0, &readable, nullptr, nullptr, &wait) > 0;
}

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sa;
}

uint16_t BoundPort(SOCKET s) {
  sockaddr_in sa{};
  int length = sizeof sa;
  if (getsockname(s, reinterpret_cast<sockaddr *>(&sa), &length) != 0)
    return 0;
  return ntohs(sa.sin_port);
}

std::string Upper(std::string text) {
  for (char &c : text)
    c = char(toupper(static_cast<unsigned char>(c)));
  return text;
}

} // namespace

// --- connections and the TCP server ---------------------------------------------------------------

bool TestConnection::Fill() {
  if (!WaitReadable(FSocket, ServerWaitMs()))
    return false;
  char buffer[4096];
  int n = recv(FSocket, buffer, sizeof buffer, 0);
  if (n <= 0)
    return false;
  FBuffer.append(buffer, size_t(n));
  return true;
}

bool TestConnection::ReadLine(std::string &line) {
  size_t end;
  while ((end = FBuffer.find("\r\n")) == std::string::npos)
    if (!Fill())
      return false;
  line = FBuffer.substr(0, end);
  FBuffer.erase(0, end + 2);
  return true;
}

bool TestConnection::ReadExact(size_t count, std::string &out) {
  while (FBuffer.size() < count)
    if (!Fill()) {
      out += FBuffer;
      FBuffer.clear();
      return false;
    }
  out += FBuffer.substr(0, count);
  FBuffer.erase(0, count);
  return true;
}

bool TestConnection::ReadUntil(const std::string &marker, std::string &out) {
  size_t at;
  while ((at = FBuffer.find(marker)) == std::string::npos)
    if (!Fill())
      return false;
  out += FBuffer.substr(0, at + marker.size());
  FBuffer.erase(0, at + marker.size());
  return true;
}

bool TestConnection::Send(const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    int n = send(FSocket, bytes.data() + done, int(bytes.size() - done), 0);
    if (n <= 0)
      return false;
    done += size_t(n);
  }
  return true;
}

bool TestConnection::SendPieces(const std::vector<std::string> &pieces) {
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0)
      Sleep(60);
    if (!Send(pieces[i]))
      return false;
  }
  return true;
}

TestTcpServer::TestTcpServer(std::function<void(TestConnection &)> handler) : FHandler(std::move(handler)) {
  FListen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in sa = Loopback(0);
  if (FListen == INVALID_SOCKET || bind(FListen, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 ||
      listen(FListen, 8) != 0)
    return;
  FPort = BoundPort(FListen);
  FThread = std::thread([this] { Run(); });
}

TestTcpServer::~TestTcpServer() {
  FStop = true;
  if (FThread.joinable())
    FThread.join();
  if (FListen != INVALID_SOCKET)
    closesocket(FListen);
}

void TestTcpServer::Run() {
  while (!FStop) {
    if (!WaitReadable(FListen, 100))
      continue;
    SOCKET s = accept(FListen, nullptr, nullptr);
    if (s == INVALID_SOCKET)
      continue;
    BOOL noDelay = TRUE; // every send() leaves as a segment of its own
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&noDelay), sizeof noDelay);
    ++FConnections;
    TestConnection connection(s);
    FHandler(connection);
    // A graceful end: whatever the client still sends is read, so that closing never resets the
    // connection under an answer that the client has not read yet.
    shutdown(s, SD_SEND);
    char drain[1024];
    for (int i = 0; i < 20 && WaitReadable(s, 100) && recv(s, drain, sizeof drain, 0) > 0; ++i) {
    }
    closesocket(s);
  }
}

// --- SMTP ------------------------------------------------------------------------------------------

SmtpTestServer::SmtpTestServer(SmtpBehaviour behaviour)
    : FBehaviour(std::move(behaviour)), FServer([this](TestConnection &c) { Serve(c); }) {}

std::vector<std::string> SmtpTestServer::Dialogue() {
  std::lock_guard<std::mutex> guard(FLock);
  return FDialogue;
}

std::vector<std::string> SmtpTestServer::Messages() {
  std::lock_guard<std::mutex> guard(FLock);
  return FMessages;
}

void SmtpTestServer::Reply(TestConnection &connection, const std::vector<std::string> &lines) {
  if (!FBehaviour.splitReplies) {
    std::string all;
    for (const std::string &line : lines)
      all += line + "\r\n";
    connection.Send(all);
    return;
  }
  std::vector<std::string> pieces;
  for (const std::string &line : lines) {
    size_t cut = lines.size() > 1 && pieces.empty() ? 3 : line.size() / 2; // "250" alone first
    pieces.push_back(line.substr(0, cut));
    pieces.push_back(line.substr(cut) + "\r\n");
  }
  connection.SendPieces(pieces);
}

void SmtpTestServer::Serve(TestConnection &connection) {
  Reply(connection, {FBehaviour.greeting});
  std::string line;
  while (connection.ReadLine(line)) {
    {
      std::lock_guard<std::mutex> guard(FLock);
      FDialogue.push_back(line);
    }
    const std::string command = Upper(line.substr(0, line.find(' ')));
    if (command == "EHLO") {
      if (FBehaviour.refuseEhlo) {
        Reply(connection, {"502 command not implemented"});
        continue;
      }
      std::vector<std::string> lines{"250-mx.test greets " + line.substr(5)};
      if (!FBehaviour.authLine.empty())
        lines.push_back(FBehaviour.authLine);
      lines.push_back("250 8BITMIME");
      Reply(connection, lines);
    } else if (command == "HELO") {
      Reply(connection, {"250 mx.test"});
    } else if (Upper(line) == "AUTH LOGIN") {
      std::string account, password;
      Reply(connection, {"334 VXNlcm5hbWU6"});
      if (!connection.ReadLine(account))
        return;
      Reply(connection, {"334 UGFzc3dvcmQ6"});
      if (!connection.ReadLine(password))
        return;
      {
        std::lock_guard<std::mutex> guard(FLock);
        FDialogue.push_back(account);
        FDialogue.push_back(password);
      }
      bool ok = Base64Decode(account) == FBehaviour.account && Base64Decode(password) == FBehaviour.password;
      Reply(connection, {ok ? "235 authenticated" : "535 authentication failed"});
    } else if (command == "MAIL") {
      Reply(connection, {"250 sender ok"});
    } else if (command == "RCPT") {
      bool rejected = std::any_of(FBehaviour.rejectRecipients.begin(), FBehaviour.rejectRecipients.end(),
                                  [&](const std::string &r) { return line.find(r) != std::string::npos; });
      Reply(connection, {rejected ? "550 no such user here" : "250 recipient ok"});
    } else if (command == "DATA") {
      Reply(connection, {"354 end data with <CR><LF>.<CR><LF>"});
      std::string message, dataLine;
      bool ended = false;
      while (connection.ReadLine(dataLine)) {
        if (dataLine == ".") {
          ended = true;
          break;
        }
        if (!dataLine.empty() && dataLine[0] == '.')
          dataLine.erase(0, 1);
        message += dataLine + "\r\n";
      }
      if (!ended)
        return;
      {
        std::lock_guard<std::mutex> guard(FLock);
        FMessages.push_back(message);
      }
      Reply(connection, {"250 queued as 1"});
    } else if (command == "RSET") {
      Reply(connection, {"250 reset"});
    } else if (command == "QUIT") {
      Reply(connection, {FBehaviour.quitReply});
      return;
    } else {
      Reply(connection, {"500 unknown command"});
    }
  }
}

// --- HTTP ------------------------------------------------------------------------------------------

HttpTestServer::HttpTestServer(std::string response)
    : FResponse(std::move(response)), FServer([this](TestConnection &c) { Serve(c); }) {}

std::vector<HttpTestServer::Request> HttpTestServer::Requests() {
  std::lock_guard<std::mutex> guard(FLock);
  return FRequests;
}

void HttpTestServer::Serve(TestConnection &connection) {
  Request request;
  if (!connection.ReadUntil("\r\n\r\n", request.header))
    return;
  size_t length = 0;
  const std::string upper = Upper(request.header);
  size_t at = upper.find("\r\nCONTENT-LENGTH:");
  if (at != std::string::npos)
    length = size_t(std::strtoul(request.header.c_str() + at + 17, nullptr, 10));
  connection.ReadExact(std::min<size_t>(length, 64u << 20), request.body);
  {
    std::lock_guard<std::mutex> guard(FLock);
    FRequests.push_back(request);
  }
  connection.Send(FResponse);
}

// --- DNS -------------------------------------------------------------------------------------------

DnsTestResponder::DnsTestResponder(DnsZone zone) : FZone(std::move(zone)) {
  FSocket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in sa = Loopback(0);
  if (FSocket == INVALID_SOCKET || bind(FSocket, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0)
    return;
  FPort = BoundPort(FSocket);
  FThread = std::thread([this] { Run(); });
}

DnsTestResponder::~DnsTestResponder() {
  FStop = true;
  if (FThread.joinable())
    FThread.join();
  if (FSocket != INVALID_SOCKET)
    closesocket(FSocket);
}

std::vector<std::string> DnsTestResponder::Questions() {
  std::lock_guard<std::mutex> guard(FLock);
  return FQuestions;
}

std::vector<uint16_t> DnsTestResponder::Identifiers() {
  std::lock_guard<std::mutex> guard(FLock);
  return FIdentifiers;
}

void DnsTestResponder::Run() {
  while (!FStop) {
    if (!WaitReadable(FSocket, 100))
      continue;
    char buffer[512];
    sockaddr_in from{};
    int fromLength = sizeof from;
    int n = recvfrom(FSocket, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &fromLength);
    if (n < 12)
      continue;
    std::string response = Answer(std::string(buffer, size_t(n)));
    if (!response.empty())
      sendto(FSocket, response.data(), int(response.size()), 0, reinterpret_cast<sockaddr *>(&from), fromLength);
  }
}

std::string DnsTestResponder::Answer(const std::string &query) {
  // The question: labels from offset 12, then type and class.
  std::string name;
  size_t at = 12;
  while (at < query.size() && query[at] != 0) {
    size_t length = static_cast<unsigned char>(query[at]);
    if (!name.empty())
      name += '.';
    name += query.substr(at + 1, length);
    at += length + 1;
  }
  if (at + 5 > query.size())
    return {};
  const uint16_t type = uint16_t(static_cast<unsigned char>(query[at + 1]) << 8 | static_cast<unsigned char>(query[at + 2]));
  const uint16_t id = uint16_t(static_cast<unsigned char>(query[0]) << 8 | static_cast<unsigned char>(query[1]));
  const std::string question = query.substr(0, at + 5);
  {
    std::lock_guard<std::mutex> guard(FLock);
    FQuestions.push_back(name + (type == 15 ? " MX" : type == 2 ? " NS" : " ?"));
    FIdentifiers.push_back(id);
  }
  if (type == 15) {
    auto it = FZone.mx.find(name);
    if (it == FZone.mx.end())
      return Response(question, {}, "", 3);
    std::string records;
    for (const auto &[preference, host] : it->second)
      records += MxRecord(preference, Labels(host));
    return Response(question, {uint16_t(it->second.size()), 0}, records);
  }
  if (type == 2 && FNsReplies < FZone.ns.size()) {
    const auto &[answers, authorities] = FZone.ns[FNsReplies++];
    std::string records;
    for (const std::string &host : answers)
      records += Record(2, Labels(host));
    for (const std::string &host : authorities)
      records += Record(2, Labels(host));
    return Response(question, {uint16_t(answers.size()), uint16_t(authorities.size())}, records);
  }
  return Response(question, {}, "", 3);
}

} // namespace kx::test
