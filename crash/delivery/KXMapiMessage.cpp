#include "crash/delivery/KXMapiMessage.h"

#include "crash/delivery/KXMailAddresses.h"

namespace kx {

std::vector<KXMapiRecipient> MapiRecipients(std::string_view recipients) {
  std::vector<KXMapiRecipient> result;
  for (const std::string &item : RecipientItems(recipients)) {
    KXMapiRecipient recipient;
    size_t open = item.find('<');
    if (open == std::string::npos) {
      recipient.name = item;
      recipient.address = "SMTP:" + item;
    } else {
      recipient.name = item.substr(0, open);
      size_t close = item.find('>', open + 1);
      recipient.address = "SMTP:" + item.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
    }
    result.push_back(std::move(recipient));
  }
  return result;
}

uint32_t MapiSendFlags(bool hidden, bool hasRecipients) {
  return hidden && hasRecipients ? 0 : kMapiLogonUi | kMapiDialog;
}

KXMapiOutcome MapiOutcome(uint32_t result) {
  if (result == 0)
    return KXMapiOutcome::sent;
  if (result == 1)
    return KXMapiOutcome::cancelled;
  return KXMapiOutcome::failed;
}

} // namespace kx
