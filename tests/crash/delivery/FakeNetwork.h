#pragma once
// Scripted stand-ins for the network. Every address the engines try to reach must be 127.0.0.1:
// anything else fails the test instead of being contacted, so a path that would leave the machine
// is found here and never sent. Time is simulated: a wait that nothing answers passes at once.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "crash/delivery/KXAttachmentFiles.h"
#include "crash/delivery/KXNetwork.h"

namespace kx::test {

inline constexpr KXIPv4 kLoopback = 0x7F000001;

// Marks a pause in a scripted stream: the next Receive times out.
inline const std::string kSilence = std::string("\0silence\0", 9);

// A stream whose server side is a function of what the client sent: after each Send, respond()
// may queue segments that later Receive calls return one at a time.
class ScriptedStream : public IKXStreamSocket {
public:
  std::string sent;
  std::deque<std::string> incoming;
  std::function<void(ScriptedStream &)> respond;
  bool failSends = false;
  bool closedWhenEmpty = true;

  bool Send(std::string_view bytes) override {
    if (failSends)
      return false;
    sent.append(bytes);
    if (respond)
      respond(*this);
    return true;
  }
  KXReceiveStatus Receive(size_t maxBytes, uint32_t, std::string &data) override {
    if (incoming.empty())
      return closedWhenEmpty ? KXReceiveStatus::closed : KXReceiveStatus::timeout;
    std::string segment = incoming.front();
    incoming.pop_front();
    if (segment == kSilence)
      return KXReceiveStatus::timeout;
    if (segment.size() > maxBytes) {
      incoming.push_front(segment.substr(maxBytes));
      segment.resize(maxBytes);
    }
    data += segment;
    return KXReceiveStatus::data;
  }
};

// A datagram exchange: every query sent is handed to answer(), which returns the packets that
// arrive later, each with its sender and its delay after the send.
struct FakeDatagramReply {
  std::string packet;
  KXIPv4 from = kLoopback;
  uint16_t fromPort = 53;
  uint64_t delayMs = 10;
};

class FakeNetwork;

class FakeDatagram : public IKXDatagramSocket {
public:
  explicit FakeDatagram(FakeNetwork &network) : FNetwork(network) {}
  bool SendTo(KXIPv4 address, uint16_t port, std::string_view packet) override;
  KXReceiveStatus ReceiveFrom(size_t maxBytes, uint32_t timeoutMs, std::string &packet, KXIPv4 &fromAddress,
                              uint16_t &fromPort) override;

private:
  struct Pending {
    uint64_t at;
    FakeDatagramReply reply;
  };
  FakeNetwork &FNetwork;
  std::vector<Pending> FPending;
};

class FakeNetwork : public IKXNetwork {
public:
  // Names the fake resolves (dotted addresses resolve as they stand).
  std::map<std::string, KXIPv4> names;
  // Makes the stream for a connection to 127.0.0.1 on the port.
  std::function<std::unique_ptr<IKXStreamSocket>(uint16_t port)> connect;
  // Answers a datagram sent to 127.0.0.1.
  std::function<std::vector<FakeDatagramReply>(std::string_view packet, uint16_t port)> answer;
  std::vector<std::string> resolved;
  std::vector<uint16_t> connectedPorts;
  std::vector<std::string> datagramsSent;
  uint64_t now = 1000000;
  int starts = 0, stops = 0;

  bool Start() override {
    ++starts;
    return true;
  }
  void Stop() override { ++stops; }
  std::optional<KXIPv4> Resolve(const std::string &name) override {
    resolved.push_back(name);
    if (auto dotted = ParseDottedAddress(name))
      return dotted;
    auto it = names.find(name);
    if (it == names.end())
      return std::nullopt;
    return it->second;
  }
  std::unique_ptr<IKXStreamSocket> Connect(KXIPv4 address, uint16_t port) override {
    if (address != kLoopback) {
      ADD_FAILURE() << "connection to " << FormatAddress(address) << " refused: tests stay on 127.0.0.1";
      return nullptr;
    }
    connectedPorts.push_back(port);
    return connect ? connect(port) : nullptr;
  }
  std::unique_ptr<IKXDatagramSocket> OpenDatagram() override { return std::make_unique<FakeDatagram>(*this); }
  uint64_t TickMs() override { return now; }
};

inline bool FakeDatagram::SendTo(KXIPv4 address, uint16_t port, std::string_view packet) {
  if (address != kLoopback) {
    ADD_FAILURE() << "datagram to " << FormatAddress(address) << " refused: tests stay on 127.0.0.1";
    return false;
  }
  FNetwork.datagramsSent.emplace_back(packet);
  if (FNetwork.answer)
    for (FakeDatagramReply &reply : FNetwork.answer(packet, port))
      FPending.push_back({FNetwork.now + reply.delayMs, std::move(reply)});
  return true;
}

inline KXReceiveStatus FakeDatagram::ReceiveFrom(size_t maxBytes, uint32_t timeoutMs, std::string &packet,
                                                 KXIPv4 &fromAddress, uint16_t &fromPort) {
  auto next = FPending.end();
  for (auto it = FPending.begin(); it != FPending.end(); ++it)
    if (next == FPending.end() || it->at < next->at)
      next = it;
  if (next == FPending.end() || next->at > FNetwork.now + timeoutMs) {
    FNetwork.now += timeoutMs;
    return KXReceiveStatus::timeout;
  }
  FNetwork.now = std::max(FNetwork.now, next->at);
  packet = next->reply.packet.substr(0, maxBytes);
  fromAddress = next->reply.from;
  fromPort = next->reply.fromPort;
  FPending.erase(next);
  return KXReceiveStatus::data;
}

// Files held in memory, opened by their UTF-16 path.
class MemoryFiles {
public:
  std::map<std::u16string, std::string> files;
  std::map<std::u16string, size_t> failReadAt; // a read error once this many bytes were read

  KXOpenFileFn Opener() {
    return [this](const std::u16string &path) -> std::unique_ptr<IKXFileSource> {
      auto it = files.find(path);
      if (it == files.end())
        return nullptr;
      auto fail = failReadAt.find(path);
      return std::make_unique<Source>(it->second, fail == failReadAt.end() ? std::string::npos : fail->second);
    };
  }

private:
  class Source : public IKXFileSource {
  public:
    Source(std::string data, size_t failAt) : FData(std::move(data)), FFailAt(failAt) {}
    uint64_t Size() override { return FData.size(); }
    int64_t Read(char *buffer, size_t count) override {
      if (FPos >= FFailAt)
        return -1;
      size_t n = std::min(count, FData.size() - FPos);
      if (FFailAt != std::string::npos)
        n = std::min(n, FFailAt - FPos);
      std::copy_n(FData.data() + FPos, n, buffer);
      FPos += n;
      return static_cast<int64_t>(n);
    }

  private:
    std::string FData;
    size_t FFailAt;
    size_t FPos = 0;
  };
};

} // namespace kx::test
