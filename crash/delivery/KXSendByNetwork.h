#pragma once
// The shared entry of the network transports: the HTTP upload when an upload address is given,
// otherwise mail over SMTP, through a server or straight to each recipient's mail exchanger.
#include <cstdint>
#include <string>
#include <vector>

#include "crash/delivery/KXAttachmentFiles.h"
#include "crash/delivery/KXDnsQuery.h"
#include "crash/delivery/KXHttpRequest.h"
#include "crash/delivery/KXMailExchanger.h"
#include "crash/delivery/KXMailText.h"
#include "crash/delivery/KXNetwork.h"
#include "crash/delivery/KXSendProgress.h"

namespace kx {

// What to send, as the send routine chooses it.
struct KXNetworkSend {
  std::string httpUrl; // non-empty: upload there
  std::string mailFrom;
  std::string rcptTo;  // the recipient list (mail)
  uint16_t port = 25;  // HttpPort, SmtpPort, or 25 for the mail exchangers
  std::string password;
  std::string account;
  std::string server;  // the mail server; empty: the recipients' mail exchangers
  KXFormFields fields; // upload only
  KXPreparedAttachments attachments;
  std::string body;
  std::string subject;
};

// What the transports need from around them.
struct KXNetworkEnvironment {
  IKXNetwork *network = nullptr;
  KXOpenFileFn openFile;
  IProgressAlert *progress = nullptr; // may be null
  KXSendTexts texts;
  std::string computerName;
  KXFileTime now = 0;
  std::string proxyList; // the system's HTTP proxy setting
  std::vector<std::string> systemDnsServers;
  std::vector<std::string> rootServers = kRootNameServers;
  KXDnsOptions dns;
};

struct KXNetworkResult {
  bool sent = false;
  std::string location; // where a "302" answer to an upload points
};

// Starts the network, replaces the progress areas by one preparation area of weight 1000 and the
// transport's own areas, runs the transport, stops the network and closes the progress window.
// In direct mode each recipient gets a mail of its own; the send succeeds when any one does.
KXNetworkResult SendByNetwork(const KXNetworkSend &send, KXNetworkEnvironment &environment);

} // namespace kx
