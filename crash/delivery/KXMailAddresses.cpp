#include "crash/delivery/KXMailAddresses.h"

#include "crash/delivery/KXHeaderValue.h"

namespace kx {

namespace {

bool IsSeparatorOrBlank(char c) {
  return static_cast<unsigned char>(c) <= 32 || c == ',' || c == ';';
}

std::string_view TrimItem(std::string_view item) {
  while (!item.empty() && IsSeparatorOrBlank(item.front()))
    item.remove_prefix(1);
  while (!item.empty() && IsSeparatorOrBlank(item.back()))
    item.remove_suffix(1);
  return item;
}

} // namespace

std::string NormalizeRecipients(std::string_view mailAddr) {
  std::string result;
  size_t start = 0;
  while (start <= mailAddr.size()) {
    size_t end = mailAddr.find_first_of(",;", start);
    if (end == std::string_view::npos)
      end = mailAddr.size();
    std::string_view item = TrimItem(mailAddr.substr(start, end - start));
    // An item over several lines would put commands of its own into the envelope: it is dropped.
    if (!item.empty() && IsSingleLineValue(item)) {
      if (!result.empty())
        result += ',';
      result += item;
    }
    start = end + 1;
  }
  return result;
}

std::vector<std::string> RecipientItems(std::string_view recipients) {
  std::vector<std::string> items;
  std::string normal = NormalizeRecipients(recipients);
  size_t start = 0;
  while (start < normal.size()) {
    size_t end = normal.find(',', start);
    if (end == std::string::npos)
      end = normal.size();
    items.emplace_back(normal.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

std::string MailSender(std::string_view mailFrom, std::string_view recipients) {
  if (!mailFrom.empty())
    return std::string(mailFrom);
  std::vector<std::string> items = RecipientItems(recipients);
  if (items.empty())
    return {};
  return "Kestrelix " + ShortAngleAddress(items.front());
}

std::string ShortAngleAddress(std::string_view address) {
  size_t open = address.find('<');
  if (open == std::string_view::npos)
    return "<" + std::string(address) + ">";
  return std::string(address.substr(open));
}

std::string FullAngleAddress(std::string_view address) {
  if (address.find('<') == std::string_view::npos)
    return "<" + std::string(address) + ">";
  return std::string(address);
}

std::string FullAngleRecipients(std::string_view recipients) {
  std::string result;
  for (const std::string &item : RecipientItems(recipients)) {
    if (!result.empty())
      result += ", ";
    result += FullAngleAddress(item);
  }
  return result;
}

std::string MailDomain(std::string_view address) {
  size_t at = address.find('@');
  if (at == std::string_view::npos)
    return {};
  std::string_view domain = address.substr(at + 1);
  if (!domain.empty() && domain.back() == '>')
    domain.remove_suffix(1);
  return std::string(domain);
}

} // namespace kx
