#pragma once
// The parts of the Simple MAPI fallback that do not need the platform: the recipients, the flags
// and the meaning of the result. The Win32 shell fills MapiMessage and calls MAPISendMail.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

struct KXMapiRecipient {
  std::string name;    // the text before "<" (the whole item without one)
  std::string address; // "SMTP:" + the text between "<" and ">" (the whole item without "<")
  bool operator==(const KXMapiRecipient &other) const = default;
};

// One recipient of class To per item of the recipient list.
std::vector<KXMapiRecipient> MapiRecipients(std::string_view recipients);

// MAPI_LOGON_UI and MAPI_DIALOG as MAPISendMail takes them.
inline constexpr uint32_t kMapiLogonUi = 0x00000001;
inline constexpr uint32_t kMapiDialog = 0x00000008;

// No flags for a hidden send with recipients (the mail goes silently); otherwise the user sees
// the logon and the message.
uint32_t MapiSendFlags(bool hidden, bool hasRecipients);

enum class KXMapiOutcome { sent, cancelled, failed };
// 0 (success) is sent, 1 (MAPI_USER_ABORT) cancelled, anything else failed.
KXMapiOutcome MapiOutcome(uint32_t result);

} // namespace kx
