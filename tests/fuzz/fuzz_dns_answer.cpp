// Fuzz target: the DNS answer parser. The first byte picks the query (MX or NS for one of two
// names); the rest is the response packet. Names are read strictly inside the packet: every name
// found is non-empty and at most 254 characters, and a name can be read at every offset without
// running away.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "crash/delivery/KXDnsMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 4096)
    return 0;
  static const char *const kNames[] = {"example.com", "mail.example.co.uk"};
  const uint16_t type = data[0] & 1 ? kx::kDnsTypeNS : kx::kDnsTypeMX;
  const auto query = kx::BuildDnsQuery(kNames[(data[0] >> 1) & 1], type, static_cast<uint16_t>(data[0] >> 2));
  if (!query)
    std::abort();
  const std::string packet(reinterpret_cast<const char *>(data + 1), size - 1);

  const kx::KXDnsAnswer answer = kx::ParseDnsAnswer(packet, *query);
  if (!answer.forQuery && (!answer.answers.empty() || !answer.authorities.empty()))
    std::abort();
  if (type == kx::kDnsTypeMX && !answer.authorities.empty())
    std::abort();
  for (const auto *names : {&answer.answers, &answer.authorities})
    for (const std::string &name : *names)
      if (name.empty() || name.size() > 254)
        std::abort();

  for (size_t offset = 0; offset < packet.size(); ++offset) {
    size_t at = offset;
    if (auto name = kx::ReadDnsName(packet, at)) {
      if (at <= offset || at > packet.size() || name->size() > 254)
        std::abort();
    } else if (at != offset) {
      std::abort(); // a failed read leaves the offset alone
    }
  }
  return 0;
}
