#pragma once
// The network over real POSIX sockets, for end-to-end tests against servers on this machine. Only
// 127.0.0.1 is reachable: "localhost" and the dotted loopback address resolve, every other name
// and address fails the test instead of being contacted.
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "crash/delivery/KXNetwork.h"

namespace kx::test {

class LoopbackNetwork : public IKXNetwork {
public:
  bool Start() override { return true; }
  void Stop() override {}
  std::optional<KXIPv4> Resolve(const std::string &name) override;
  std::unique_ptr<IKXStreamSocket> Connect(KXIPv4 address, uint16_t port) override;
  std::unique_ptr<IKXDatagramSocket> OpenDatagram() override;
  uint64_t TickMs() override;
};

// A server of servers/loopback_servers.py started for one test: it runs until the object goes.
class LoopbackServer {
public:
  // Starts the script with the arguments and waits for its port; Port() is 0 when that failed.
  LoopbackServer(const std::string &python, const std::vector<std::string> &arguments);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer &) = delete;
  LoopbackServer &operator=(const LoopbackServer &) = delete;
  uint16_t Port() const { return FPort; }

private:
  pid_t FPid = -1;
  int FStdin = -1;
  uint16_t FPort = 0;
};

// A fresh folder under the system's temporary folder, removed with its files when the object goes.
class TempFolder {
public:
  TempFolder();
  ~TempFolder();
  const std::string &Path() const { return FPath; }
  std::string Read(const std::string &name) const;

private:
  std::string FPath;
};

} // namespace kx::test
