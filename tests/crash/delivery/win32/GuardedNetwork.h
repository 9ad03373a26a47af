#pragma once
// The Win32 network as the tests let it run: only 127.0.0.1 is ever contacted. The names a test
// lists stand for 127.0.0.1, each with the port of its own SMTP server for a connection to port
// 25 (the mail exchangers of direct sending); "localhost" and "127.0.0.1" resolve without a
// lookup. Any other name is not looked up, any other address not contacted: the test fails.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "crash/delivery/win32/KXWin32Network.h"

namespace kx::test {

// Shared by a test and the networks of its sends, on any thread.
class NetworkLog {
public:
  // A test name for 127.0.0.1, with the port that a connection to port 25 goes to instead.
  void AddHost(const std::string &name, uint16_t smtpPort);
  // "resolve NAME", "connect NAME PORT" (NAME: the last name resolved), "sendto PORT", in order.
  std::vector<std::string> Events();
  // What was refused (a failure of the test as well).
  std::vector<std::string> Refused();

  void Record(const std::string &event);
  void Refuse(const std::string &what);
  bool FindHost(const std::string &name, uint16_t &smtpPort);

private:
  std::mutex FLock;
  std::map<std::string, uint16_t> FHosts;
  std::vector<std::string> FEvents;
  std::vector<std::string> FRefused;
};

class GuardedNetwork : public IKXNetwork {
public:
  explicit GuardedNetwork(std::shared_ptr<NetworkLog> log) : FLog(std::move(log)) {}
  bool Start() override { return FInner.Start(); }
  void Stop() override { FInner.Stop(); }
  std::optional<KXIPv4> Resolve(const std::string &name) override;
  std::unique_ptr<IKXStreamSocket> Connect(KXIPv4 address, uint16_t port) override;
  std::unique_ptr<IKXDatagramSocket> OpenDatagram() override;
  uint64_t TickMs() override { return FInner.TickMs(); }

private:
  KXWin32Network FInner;
  std::shared_ptr<NetworkLog> FLog;
  std::string FLastName;
};

} // namespace kx::test
