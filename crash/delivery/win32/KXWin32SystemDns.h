#pragma once
// The DNS servers the system is set up with, asked for the mail exchanger of a recipient.
#include <string>
#include <vector>

namespace kx {

// Windows 95 and NT 3.x/4: the registry value DhcpNameServer, or NameServer when that is empty,
// under HKLM\System\CurrentControlSet\Services\VxD\MSTCP (95) or ...\Tcpip\Parameters (NT).
// Every later system: GetNetworkParams of iphlpapi.dll (bound at run time), the current server
// first. Empty when none is known.
std::vector<std::string> SystemDnsServers();

// The GetNetworkParams part alone.
std::vector<std::string> NetworkParamsDnsServers();

} // namespace kx
