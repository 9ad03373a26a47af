#pragma once
// One DNS question put to a list of servers over UDP: the query goes to every server whose name
// resolves, and the first usable response wins.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "crash/delivery/KXNetwork.h"

namespace kx {

struct KXDnsOptions {
  uint16_t port = 53;
  // How long to wait for each expected response.
  uint32_t waitMs = 5000;
  // The identifier of each query (1 when not given); the shell gives a random one.
  std::function<uint16_t()> nextIdentifier;
};

struct KXDnsNames {
  std::vector<std::string> answers;
  std::vector<std::string> authorities; // NS queries only
};

// Sends the query to every server that resolves and waits for the responses: a response counts
// only when it comes from the port of a server that was asked and answers this query (identifier
// and question); the first one that gives any names is the result. A counted response without
// names ends one expected response and a new wait of waitMs begins; a wait that passes without a
// counted response ends the query (other packets do not extend it). Nothing usable gives no names.
KXDnsNames QueryDns(IKXNetwork &network, const std::string &name, const std::vector<std::string> &servers,
                    uint16_t type, const KXDnsOptions &options);

} // namespace kx
