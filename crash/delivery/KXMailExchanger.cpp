#include "crash/delivery/KXMailExchanger.h"

#include "crash/base/settings/KXText.h"
#include "crash/delivery/KXDnsMessage.h"
#include "crash/delivery/KXMailAddresses.h"

namespace kx {

namespace {

constexpr int kMaxReferralSteps = 10;

std::string FirstAnswer(const KXDnsNames &names) {
  return names.answers.empty() ? std::string() : names.answers.front();
}

// The first MX answer for the domain, else for its parent when that differs.
std::string AskForExchanger(const std::string &domain, const std::string &parent,
                            const std::vector<std::string> &servers, const KXDnsQueryFn &query) {
  std::string exchanger = FirstAnswer(query(domain, servers, kDnsTypeMX));
  if (exchanger.empty() && domain != parent)
    exchanger = FirstAnswer(query(parent, servers, kDnsTypeMX));
  return exchanger;
}

} // namespace

std::string ParentDomain(std::string_view domain) {
  size_t cut = domain.size();
  for (int dots = 0; dots < 3; ++dots) {
    if (cut == 0)
      return std::string(domain);
    size_t dot = domain.rfind('.', cut - 1);
    if (dot == std::string_view::npos)
      return std::string(domain);
    cut = dot;
  }
  return std::string(domain.substr(cut + 1));
}

std::string FindMailExchanger(const std::string &address, const std::vector<std::string> &systemServers,
                              const std::vector<std::string> &rootServers, const KXDnsQueryFn &query) {
  const std::string domain = MailDomain(address);
  if (domain.empty() || !query)
    return {};
  const std::string parent = ParentDomain(domain);
  if (!systemServers.empty())
    return AskForExchanger(domain, parent, systemServers, query);

  KXDnsNames names = query(parent, rootServers, kDnsTypeNS);
  std::vector<std::string> answers = names.answers;
  std::vector<std::string> referrals = names.authorities;
  if (referrals.empty())
    return {};
  names = query(parent, referrals, kDnsTypeNS);
  answers = names.answers;
  std::vector<std::string> nextReferrals = names.authorities;
  for (int step = 0; step < kMaxReferralSteps && answers.empty() && !nextReferrals.empty(); ++step) {
    names = query(parent, nextReferrals, kDnsTypeNS);
    answers = names.answers;
    referrals = names.authorities;
    nextReferrals = referrals;
  }
  if (answers.empty() && !referrals.empty())
    answers = referrals;
  return AskForExchanger(domain, parent, answers, query);
}

std::vector<std::string> SplitNameServerList(std::string_view value) {
  const char separator = value.find(',') != std::string_view::npos ? ',' : ' ';
  std::vector<std::string> servers;
  for (const std::string &item : SplitText(value, separator)) {
    std::string server = Trim(item);
    if (!server.empty())
      servers.push_back(server);
  }
  return servers;
}

std::vector<std::string> OrderDnsServers(const std::string &current, const std::vector<std::string> &list) {
  std::vector<std::string> servers;
  if (!current.empty())
    servers.push_back(current);
  for (const std::string &server : list)
    if (!server.empty() && server != current)
      servers.push_back(server);
  return servers;
}

} // namespace kx
