#include "tests/crash/delivery/LoopbackNetwork.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kx::test {

namespace {

constexpr KXIPv4 kLoopbackAddress = 0x7F000001;

bool RefuseOutside(KXIPv4 address) {
  if (address == kLoopbackAddress)
    return false;
  ADD_FAILURE() << "refused to contact " << FormatAddress(address) << ": tests stay on 127.0.0.1";
  return true;
}

sockaddr_in SocketAddress(KXIPv4 address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(address);
  return sa;
}

// Waits for the socket to become readable: 1 yes, 0 time-out, -1 error.
int WaitReadable(int fd, uint32_t timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  int r = ::poll(&p, 1, static_cast<int>(timeoutMs));
  return r < 0 ? -1 : r;
}

class Stream : public IKXStreamSocket {
public:
  explicit Stream(int fd) : FFd(fd) {}
  ~Stream() override { ::close(FFd); }
  bool Send(std::string_view bytes) override {
    while (!bytes.empty()) {
      ssize_t n = ::send(FFd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0)
        return false;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }
  KXReceiveStatus Receive(size_t maxBytes, uint32_t timeoutMs, std::string &data) override {
    int ready = WaitReadable(FFd, timeoutMs);
    if (ready <= 0)
      return ready == 0 ? KXReceiveStatus::timeout : KXReceiveStatus::failed;
    std::string buffer(maxBytes, '\0');
    ssize_t n = ::recv(FFd, buffer.data(), buffer.size(), 0);
    if (n < 0)
      return KXReceiveStatus::failed;
    if (n == 0)
      return KXReceiveStatus::closed;
    data.append(buffer.data(), static_cast<size_t>(n));
    return KXReceiveStatus::data;
  }

private:
  int FFd;
};

class Datagram : public IKXDatagramSocket {
public:
  explicit Datagram(int fd) : FFd(fd) {}
  ~Datagram() override { ::close(FFd); }
  bool SendTo(KXIPv4 address, uint16_t port, std::string_view packet) override {
    if (RefuseOutside(address))
      return false;
    sockaddr_in sa = SocketAddress(address, port);
    return ::sendto(FFd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&sa), sizeof sa) ==
           static_cast<ssize_t>(packet.size());
  }
  KXReceiveStatus ReceiveFrom(size_t maxBytes, uint32_t timeoutMs, std::string &packet, KXIPv4 &fromAddress,
                              uint16_t &fromPort) override {
    int ready = WaitReadable(FFd, timeoutMs);
    if (ready <= 0)
      return ready == 0 ? KXReceiveStatus::timeout : KXReceiveStatus::failed;
    std::string buffer(maxBytes, '\0');
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    ssize_t n = ::recvfrom(FFd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr *>(&from), &fromLength);
    if (n < 0)
      return KXReceiveStatus::failed;
    packet.assign(buffer.data(), static_cast<size_t>(n));
    fromAddress = ntohl(from.sin_addr.s_addr);
    fromPort = ntohs(from.sin_port);
    return KXReceiveStatus::data;
  }

private:
  int FFd;
};

} // namespace

std::optional<KXIPv4> LoopbackNetwork::Resolve(const std::string &name) {
  if (name == "localhost")
    return kLoopbackAddress;
  std::optional<KXIPv4> address = ParseDottedAddress(name);
  if (!address || RefuseOutside(*address)) {
    if (!address)
      ADD_FAILURE() << "refused to look up \"" << name << "\": tests stay on 127.0.0.1";
    return std::nullopt;
  }
  return address;
}

std::unique_ptr<IKXStreamSocket> LoopbackNetwork::Connect(KXIPv4 address, uint16_t port) {
  if (RefuseOutside(address))
    return nullptr;
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0)
    return nullptr;
  sockaddr_in sa = SocketAddress(address, port);
  if (::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<Stream>(fd);
}

std::unique_ptr<IKXDatagramSocket> LoopbackNetwork::OpenDatagram() {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0)
    return nullptr;
  sockaddr_in any = SocketAddress(kLoopbackAddress, 0);
  if (::bind(fd, reinterpret_cast<sockaddr *>(&any), sizeof any) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<Datagram>(fd);
}

uint64_t LoopbackNetwork::TickMs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

LoopbackServer::LoopbackServer(const std::string &python, const std::vector<std::string> &arguments) {
  int in[2], out[2];
  if (::pipe(in) != 0)
    return;
  if (::pipe(out) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return;
  }
  const std::string script = std::string(TIDEWELL_DELIVERY_SERVERS) + "/loopback_servers.py";
  std::vector<std::string> argv{python, script};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  FPid = ::fork();
  if (FPid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::close(in[1]);
    ::close(out[0]);
    std::vector<char *> args;
    for (std::string &a : argv)
      args.push_back(a.data());
    args.push_back(nullptr);
    ::execv(python.c_str(), args.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  FStdin = in[1];
  std::string line;
  char c;
  // The server announces its port within 20 seconds or counts as failed.
  while (FPid > 0 && WaitReadable(out[0], 20000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n')
    line += c;
  ::close(out[0]);
  if (line.rfind("PORT ", 0) == 0)
    FPort = static_cast<uint16_t>(std::stoi(line.substr(5)));
}

LoopbackServer::~LoopbackServer() {
  if (FStdin >= 0)
    ::close(FStdin); // the server ends when its input closes
  if (FPid <= 0)
    return;
  for (int i = 0; i < 50; ++i) {
    if (::waitpid(FPid, nullptr, WNOHANG) == FPid)
      return;
    ::usleep(100000);
  }
  ::kill(FPid, SIGKILL);
  ::waitpid(FPid, nullptr, 0);
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tidewell-delivery-XXXXXX").string();
  if (::mkdtemp(pattern.data()))
    FPath = pattern;
}

TempFolder::~TempFolder() {
  if (!FPath.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
}

std::string TempFolder::Read(const std::string &name) const {
  std::ifstream file(FPath + "/" + name, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

} // namespace kx::test
