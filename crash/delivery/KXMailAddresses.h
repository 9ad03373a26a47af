#pragma once
// The mail envelope's addresses: the recipient list, the sender and the angle-bracket forms.
// An address item is a bare address ("a@example.com") or a display name followed by the address
// in angle brackets ("Support <a@example.com>").
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// The recipient list as the send uses it: semicolons become commas, and spaces, control
// characters and separators are removed at both ends and around every separator, so empty items
// disappear ("a@x.com ; ;b@y.com," gives "a@x.com,b@y.com"). An item that still holds a CR, LF or
// NUL inside is dropped, as it would end the SMTP command or header line it is written into.
std::string NormalizeRecipients(std::string_view mailAddr);

// The items of a normalised list (none for an empty list).
std::vector<std::string> RecipientItems(std::string_view recipients);

// The sender: mailFrom when it is not empty; otherwise "Kestrelix " and the first recipient in
// short angle-bracket form when there is a recipient; otherwise "".
std::string MailSender(std::string_view mailFrom, std::string_view recipients);

// Short form: the whole text in "<" ">" when it has no "<", else the text from the first "<" on.
std::string ShortAngleAddress(std::string_view address);
// Full form: the whole text in "<" ">" when it has no "<", else the text unchanged.
std::string FullAngleAddress(std::string_view address);
// Every item of a recipient list in full form, joined by ", ".
std::string FullAngleRecipients(std::string_view recipients);

// The mail domain of an address: the text after its first "@" without a trailing ">".
std::string MailDomain(std::string_view address);

} // namespace kx
