#pragma once
// Finding the mail exchanger of a recipient's domain: ask the system's DNS servers, or, when the
// system names none, walk down from two root name servers to the domain's name servers and ask
// those.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "crash/delivery/KXDnsQuery.h"

namespace kx {

// The root name servers asked when the system names no DNS server (resolved by host name).
inline const std::vector<std::string> kRootNameServers = {"a.root-servers.net", "b.root-servers.net"};

// One DNS question to a list of servers (QueryDns in the product, a script in tests).
using KXDnsQueryFn =
    std::function<KXDnsNames(const std::string &name, const std::vector<std::string> &servers, uint16_t type)>;

// The last three dot-separated labels of a domain (the domain itself when it has at most three).
std::string ParentDomain(std::string_view domain);

// The host name of the mail exchanger of the address's domain, "" when none is found.
// With system servers: the first MX answer for the domain, else for its parent domain. Without:
// the root walk (NS queries for the parent domain, following referrals at most 10 times), then
// the MX question to the name servers found.
std::string FindMailExchanger(const std::string &address, const std::vector<std::string> &systemServers,
                              const std::vector<std::string> &rootServers, const KXDnsQueryFn &query);

// The system's DNS servers from a registry value: split at commas when it has one, else at spaces;
// empty items are dropped.
std::vector<std::string> SplitNameServerList(std::string_view value);
// The system's DNS servers from the network parameters: the current server first, then every
// server of the list that differs from it.
std::vector<std::string> OrderDnsServers(const std::string &current, const std::vector<std::string> &list);

} // namespace kx
