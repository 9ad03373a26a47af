#include "crash/delivery/win32/KXWin32Network.h"

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace kx {

namespace {

sockaddr_in SocketAddress(KXIPv4 address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(address);
  return sa;
}

// Waits up to timeoutMs for the socket to become readable: 1 yes, 0 time-out, -1 error.
int WaitReadable(SOCKET s, uint32_t timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval wait;
  wait.tv_sec = long(timeoutMs / 1000);
  wait.tv_usec = long(timeoutMs % 1000) * 1000;
  int ready = select(0, &readable, nullptr, nullptr, &wait);
  return ready == SOCKET_ERROR ? -1 : (ready > 0 ? 1 : 0);
}

int ReceiveLength(size_t maxBytes) { return int(std::min<size_t>(maxBytes, INT_MAX)); }

class KXWin32Stream : public IKXStreamSocket {
public:
  explicit KXWin32Stream(SOCKET s) : FSocket(s) {}
  ~KXWin32Stream() override { closesocket(FSocket); }
  KXWin32Stream(const KXWin32Stream &) = delete;
  KXWin32Stream &operator=(const KXWin32Stream &) = delete;

  bool Send(std::string_view bytes) override {
    while (!bytes.empty()) {
      int n = send(FSocket, bytes.data(), int(std::min<size_t>(bytes.size(), INT_MAX)), 0);
      if (n == SOCKET_ERROR || n <= 0)
        return false;
      bytes.remove_prefix(size_t(n));
    }
    return true;
  }

  KXReceiveStatus Receive(size_t maxBytes, uint32_t timeoutMs, std::string &data) override {
    int ready = WaitReadable(FSocket, timeoutMs);
    if (ready <= 0)
      return ready == 0 ? KXReceiveStatus::timeout : KXReceiveStatus::failed;
    std::string buffer(size_t(ReceiveLength(maxBytes)), '\0');
    int n = recv(FSocket, buffer.data(), int(buffer.size()), 0);
    if (n == SOCKET_ERROR)
      return KXReceiveStatus::failed;
    if (n == 0)
      return KXReceiveStatus::closed;
    data.append(buffer.data(), size_t(n));
    return KXReceiveStatus::data;
  }

private:
  SOCKET FSocket;
};

class KXWin32Datagram : public IKXDatagramSocket {
public:
  explicit KXWin32Datagram(SOCKET s) : FSocket(s) {}
  ~KXWin32Datagram() override { closesocket(FSocket); }
  KXWin32Datagram(const KXWin32Datagram &) = delete;
  KXWin32Datagram &operator=(const KXWin32Datagram &) = delete;

  bool SendTo(KXIPv4 address, uint16_t port, std::string_view packet) override {
    sockaddr_in to = SocketAddress(address, port);
    int n = sendto(FSocket, packet.data(), int(packet.size()), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    return n != SOCKET_ERROR && size_t(n) == packet.size();
  }

  // A "port unreachable" from an earlier send arrives as WSAECONNRESET on the next receive; it
  // says nothing about the other servers, so the wait goes on until its end.
  KXReceiveStatus ReceiveFrom(size_t maxBytes, uint32_t timeoutMs, std::string &packet, KXIPv4 &fromAddress,
                              uint16_t &fromPort) override {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
      ULONGLONG now = GetTickCount64();
      uint32_t left = now >= deadline ? 0 : uint32_t(deadline - now);
      int ready = WaitReadable(FSocket, left);
      if (ready <= 0)
        return ready == 0 ? KXReceiveStatus::timeout : KXReceiveStatus::failed;
      std::string buffer(size_t(ReceiveLength(maxBytes)), '\0');
      sockaddr_in from{};
      int fromLength = sizeof from;
      int n = recvfrom(FSocket, buffer.data(), int(buffer.size()), 0, reinterpret_cast<sockaddr *>(&from),
                       &fromLength);
      if (n == SOCKET_ERROR) {
        int error = WSAGetLastError();
        if (error == WSAECONNRESET) {
          if (left == 0)
            return KXReceiveStatus::timeout;
          continue;
        }
        if (error != WSAEMSGSIZE) // a longer datagram arrives cut to the buffer, as elsewhere
          return KXReceiveStatus::failed;
        n = int(buffer.size());
      }
      packet.assign(buffer.data(), size_t(n));
      fromAddress = ntohl(from.sin_addr.s_addr);
      fromPort = ntohs(from.sin_port);
      return KXReceiveStatus::data;
    }
  }

private:
  SOCKET FSocket;
};

} // namespace

KXWin32Network::~KXWin32Network() {
  while (FStarted > 0)
    Stop();
}

bool KXWin32Network::Start() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
    return false;
  ++FStarted;
  return true;
}

void KXWin32Network::Stop() {
  if (FStarted <= 0)
    return;
  WSACleanup();
  --FStarted;
}

std::optional<KXIPv4> KXWin32Network::Resolve(const std::string &name) {
  if (std::optional<KXIPv4> dotted = ParseDottedAddress(name))
    return dotted;
  if (name.empty())
    return std::nullopt;
  hostent *host = gethostbyname(name.c_str());
  if (!host || host->h_addrtype != AF_INET || host->h_length != 4 || !host->h_addr_list || !host->h_addr_list[0])
    return std::nullopt;
  u_long address;
  memcpy(&address, host->h_addr_list[0], sizeof address);
  return KXIPv4(ntohl(address));
}

std::unique_ptr<IKXStreamSocket> KXWin32Network::Connect(KXIPv4 address, uint16_t port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET)
    return nullptr;
  sockaddr_in to = SocketAddress(address, port);
  if (connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to) == SOCKET_ERROR) {
    closesocket(s);
    return nullptr;
  }
  return std::make_unique<KXWin32Stream>(s);
}

std::unique_ptr<IKXDatagramSocket> KXWin32Network::OpenDatagram() {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET)
    return nullptr;
  sockaddr_in any = SocketAddress(INADDR_ANY, 0);
  if (bind(s, reinterpret_cast<sockaddr *>(&any), sizeof any) == SOCKET_ERROR) {
    closesocket(s);
    return nullptr;
  }
  return std::make_unique<KXWin32Datagram>(s);
}

uint64_t KXWin32Network::TickMs() { return GetTickCount64(); }

} // namespace kx
