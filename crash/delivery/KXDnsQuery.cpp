#include "crash/delivery/KXDnsQuery.h"

#include <algorithm>

#include "crash/delivery/KXDnsMessage.h"

namespace kx {

KXDnsNames QueryDns(IKXNetwork &network, const std::string &name, const std::vector<std::string> &servers,
                    uint16_t type, const KXDnsOptions &options) {
  KXDnsNames names;
  const uint16_t identifier = options.nextIdentifier ? options.nextIdentifier() : 1;
  std::optional<std::string> query = BuildDnsQuery(name, type, identifier);
  if (!query)
    return names;
  auto socket = network.OpenDatagram();
  if (!socket)
    return names;

  std::vector<KXIPv4> asked;
  for (const std::string &server : servers) {
    std::optional<KXIPv4> address = network.Resolve(server);
    if (address && socket->SendTo(*address, options.port, *query))
      asked.push_back(*address);
  }

  size_t expected = asked.size();
  while (expected > 0) {
    // Each expected response gets its own wait; packets that do not count do not extend it.
    const uint64_t deadline = network.TickMs() + options.waitMs;
    for (;;) {
      const uint64_t now = network.TickMs();
      if (now >= deadline)
        return names;
      std::string packet;
      KXIPv4 from = 0;
      uint16_t fromPort = 0;
      KXReceiveStatus status =
          socket->ReceiveFrom(kDnsMaxPacket, static_cast<uint32_t>(deadline - now), packet, from, fromPort);
      if (status != KXReceiveStatus::data)
        return names;
      if (fromPort != options.port || std::find(asked.begin(), asked.end(), from) == asked.end())
        continue;
      KXDnsAnswer answer = ParseDnsAnswer(packet, *query);
      if (!answer.forQuery)
        continue;
      if (!answer.answers.empty() || !answer.authorities.empty()) {
        names.answers = std::move(answer.answers);
        names.authorities = std::move(answer.authorities);
        return names;
      }
      break;
    }
    --expected;
  }
  return names;
}

} // namespace kx
