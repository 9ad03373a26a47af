#pragma once
// What the sends of this process take from around the send routine, as one value that every
// send carries along (the background send thread gets its own copy). Tests replace the parts
// that would leave the process or the machine: the network, the system's DNS servers and proxy,
// the root name servers and ports, MAPI, the mail program, the message box and the browser.
#include <windows.h>
#include <mapi.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crash/delivery/KXDeliverBugReport.h"

namespace kx {

struct KXWin32DeliveryConfig {
  // The mail exchangers' SMTP port, the root name servers, the DNS port and wait, the query
  // identifiers (random when not given).
  KXDeliveryOptions options;
  // Makes the network of one send; empty: Winsock (KXWin32Network).
  std::function<std::unique_ptr<IKXNetwork>()> makeNetwork;
  // Take the place of the system's DNS servers and HTTP proxy list when given.
  std::optional<std::vector<std::string>> dnsServers;
  std::optional<std::string> proxyList;
  // The root below which the mailto command key is read.
  HKEY classesRoot = HKEY_CLASSES_ROOT;
  // Stand-ins for the system's operations; empty: MAPISendMail of mapi32.dll, CreateProcessA,
  // MessageBoxA and ShellExecuteA.
  LPMAPISENDMAIL mapiSendMail = nullptr;
  std::function<bool(const std::string &commandLine)> startProcess;
  std::function<void(HWND parent, const std::string &text)> showFailure;
  std::function<void(const std::string &url)> openLocation;
};

// The configuration that new sends take: the product's until SetDeliveryConfig replaces it.
KXWin32DeliveryConfig DeliveryConfig();
void SetDeliveryConfig(KXWin32DeliveryConfig config);

} // namespace kx
