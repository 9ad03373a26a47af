#include "tests/crash/delivery/win32/GuardedNetwork.h"

#include <gtest/gtest.h>

namespace kx::test {

namespace {

constexpr KXIPv4 kLoopback = 0x7F000001;

class GuardedDatagram : public IKXDatagramSocket {
public:
  GuardedDatagram(std::unique_ptr<IKXDatagramSocket> inner, std::shared_ptr<NetworkLog> log)
      : FInner(std::move(inner)), FLog(std::move(log)) {}
  bool SendTo(KXIPv4 address, uint16_t port, std::string_view packet) override {
    if (address != kLoopback) {
      FLog->Refuse("sendto " + FormatAddress(address) + ":" + std::to_string(port));
      return false;
    }
    FLog->Record("sendto " + std::to_string(port));
    return FInner->SendTo(address, port, packet);
  }
  KXReceiveStatus ReceiveFrom(size_t maxBytes, uint32_t timeoutMs, std::string &packet, KXIPv4 &fromAddress,
                              uint16_t &fromPort) override {
    return FInner->ReceiveFrom(maxBytes, timeoutMs, packet, fromAddress, fromPort);
  }

private:
  std::unique_ptr<IKXDatagramSocket> FInner;
  std::shared_ptr<NetworkLog> FLog;
};

} // namespace

void NetworkLog::AddHost(const std::string &name, uint16_t smtpPort) {
  std::lock_guard<std::mutex> guard(FLock);
  FHosts[name] = smtpPort;
}

std::vector<std::string> NetworkLog::Events() {
  std::lock_guard<std::mutex> guard(FLock);
  return FEvents;
}

std::vector<std::string> NetworkLog::Refused() {
  std::lock_guard<std::mutex> guard(FLock);
  return FRefused;
}

void NetworkLog::Record(const std::string &event) {
  std::lock_guard<std::mutex> guard(FLock);
  FEvents.push_back(event);
}

void NetworkLog::Refuse(const std::string &what) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FRefused.push_back(what);
  }
  ADD_FAILURE() << "refused: " << what << " (the tests stay on 127.0.0.1)";
}

bool NetworkLog::FindHost(const std::string &name, uint16_t &smtpPort) {
  std::lock_guard<std::mutex> guard(FLock);
  auto it = FHosts.find(name);
  if (it == FHosts.end())
    return false;
  smtpPort = it->second;
  return true;
}

std::optional<KXIPv4> GuardedNetwork::Resolve(const std::string &name) {
  FLog->Record("resolve " + name);
  uint16_t port = 0;
  if (FLog->FindHost(name, port)) {
    FLastName = name;
    return kLoopback;
  }
  if (name == "localhost" || name == "127.0.0.1") {
    FLastName = name;
    return name == "localhost" ? std::optional<KXIPv4>(kLoopback) : FInner.Resolve(name); // no lookup at all
  }
  FLog->Refuse("resolve " + name);
  return std::nullopt;
}

std::unique_ptr<IKXStreamSocket> GuardedNetwork::Connect(KXIPv4 address, uint16_t port) {
  if (address != kLoopback) {
    FLog->Refuse("connect " + FormatAddress(address) + ":" + std::to_string(port));
    return nullptr;
  }
  if (port == 25) {
    uint16_t own = 0;
    if (!FLog->FindHost(FLastName, own) || own == 0) {
      FLog->Refuse("connect " + FLastName + " 25 (no test server listens there)");
      return nullptr;
    }
    port = own;
  }
  FLog->Record("connect " + FLastName + " " + std::to_string(port));
  return FInner.Connect(address, port);
}

std::unique_ptr<IKXDatagramSocket> GuardedNetwork::OpenDatagram() {
  auto inner = FInner.OpenDatagram();
  if (!inner)
    return nullptr;
  return std::make_unique<GuardedDatagram>(std::move(inner), FLog);
}

} // namespace kx::test
