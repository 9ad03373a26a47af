#pragma once
// IKXNetwork over Winsock (ws2_32, linked), started as version 1.1 around each send.
#include <memory>
#include <string>

#include "crash/delivery/KXNetwork.h"

namespace kx {

class KXWin32Network : public IKXNetwork {
public:
  KXWin32Network() = default;
  // Balances a Start that was not stopped.
  ~KXWin32Network() override;
  KXWin32Network(const KXWin32Network &) = delete;
  KXWin32Network &operator=(const KXWin32Network &) = delete;

  // WSAStartup(1.1) and WSACleanup; each Start that succeeded is balanced by one Stop.
  bool Start() override;
  void Stop() override;
  // A dotted address as it stands, else the first IPv4 address of gethostbyname.
  std::optional<KXIPv4> Resolve(const std::string &name) override;
  // A blocking connect; the stream sends until all bytes are gone and receives with select.
  std::unique_ptr<IKXStreamSocket> Connect(KXIPv4 address, uint16_t port) override;
  // A UDP socket bound to INADDR_ANY, port 0.
  std::unique_ptr<IKXDatagramSocket> OpenDatagram() override;
  // GetTickCount64.
  uint64_t TickMs() override;

private:
  int FStarted = 0;
};

} // namespace kx
