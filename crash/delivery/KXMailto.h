#pragma once
// The mailto fallback: the command line that opens the user's mail program with the recipients,
// the subject and the bug report as body.
#include <cstddef>
#include <string>
#include <string_view>

namespace kx {

// The longest command line the system starts.
inline constexpr size_t kMaxCommandLine = 32766;

// Every byte up to 0x20 (control characters and space), from 0x7F (DEL and all non-ASCII bytes),
// '"', '#', '%', '&', '+', '<', '>', '?' and '\' becomes "%" and two upper-case hexadecimal
// digits; every other byte stays.
std::string MailtoEncode(std::string_view text);

// "mailto:" + recipients + "?subject=" + encoded subject + "&body=" + encoded body; commas in the
// recipients become semicolons when the command names Outlook.
std::string MailtoUrl(std::string_view command, std::string_view recipients, std::string_view subject,
                      std::string_view body);

// The registered command (environment variables already expanded) with "%1" replaced by the URL,
// or the URL appended after a space; the URL is always one quoted argument (quotes are added
// unless the command has them around "%1"). On the NT family the line is cut to 32766 characters, or
// shorter so that no "%XX" escape is split.
std::string MailtoCommandLine(std::string_view command, std::string_view url, bool ntFamily);

} // namespace kx
