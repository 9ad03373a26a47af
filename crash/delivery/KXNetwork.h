#pragma once
// What the delivery engines need from the network: TCP byte streams for SMTP and HTTP, UDP
// datagrams for DNS, name resolution and a millisecond clock. The Win32 shell implements it over
// Winsock; tests implement it with scripted fakes or with real sockets on 127.0.0.1.
//
// Addresses are IPv4 addresses as 32-bit numbers, most significant byte first (1.2.3.4 is
// 0x01020304).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kx {

using KXIPv4 = uint32_t;

enum class KXReceiveStatus {
  data,    // at least one byte arrived
  timeout, // nothing arrived within the wait
  closed,  // the peer closed the connection (streams only)
  failed,  // the socket reported an error
};

// One connected TCP stream. Closing happens when the object is destroyed.
class IKXStreamSocket {
public:
  virtual ~IKXStreamSocket() = default;
  // Sends all of bytes (blocking); false when the connection fails.
  virtual bool Send(std::string_view bytes) = 0;
  // Waits up to timeoutMs for data and appends what is available, at most maxBytes, to data.
  virtual KXReceiveStatus Receive(size_t maxBytes, uint32_t timeoutMs, std::string &data) = 0;
};

// One UDP socket bound to any local port. Closing happens when the object is destroyed.
class IKXDatagramSocket {
public:
  virtual ~IKXDatagramSocket() = default;
  virtual bool SendTo(KXIPv4 address, uint16_t port, std::string_view packet) = 0;
  // Waits up to timeoutMs for one datagram (at most maxBytes of it) and tells where it came from.
  virtual KXReceiveStatus ReceiveFrom(size_t maxBytes, uint32_t timeoutMs, std::string &packet, KXIPv4 &fromAddress,
                                      uint16_t &fromPort) = 0;
};

class IKXNetwork {
public:
  virtual ~IKXNetwork() = default;
  // Starts and stops the platform's socket layer around one send (Winsock 1.1 on Windows).
  virtual bool Start() = 0;
  virtual void Stop() = 0;
  // A dotted IPv4 address as it stands, else the first address of a host lookup; nullopt when
  // the name cannot be resolved.
  virtual std::optional<KXIPv4> Resolve(const std::string &name) = 0;
  // A connected TCP stream (blocking connect, no time-out of its own); null on failure.
  virtual std::unique_ptr<IKXStreamSocket> Connect(KXIPv4 address, uint16_t port) = 0;
  // A UDP socket bound to any local port; null on failure.
  virtual std::unique_ptr<IKXDatagramSocket> OpenDatagram() = 0;
  // A monotonic clock in milliseconds.
  virtual uint64_t TickMs() = 0;
};

// "a.b.c.d" with four decimal parts of 0 to 255; nullopt for anything else.
std::optional<KXIPv4> ParseDottedAddress(std::string_view text);
std::string FormatAddress(KXIPv4 address);

} // namespace kx
