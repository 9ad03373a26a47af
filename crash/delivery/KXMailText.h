#pragma once
// The texts of a mail that do not come from the settings: the Date and Message-ID values, the
// encoded subject and the body made safe for the SMTP data phase.
#include <cstdint>
#include <string>
#include <string_view>

namespace kx {

// A UTC time as the platform's FILETIME: 100-nanosecond steps since 1601-01-01 00:00 UTC.
using KXFileTime = uint64_t;

struct KXUtcTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
KXUtcTime UtcTimeFromFileTime(KXFileTime time);

// "5 Mar 2012 09:07:03 UT": day without leading zero, English month, year, time, " UT".
std::string MailDate(KXFileTime time);
// "<" + the 64-bit value in 16 lower-case hexadecimal digits + "@Kestrelix>".
std::string MailMessageId(KXFileTime time);

// "=?ISO-8859-1?Q?" + the subject with every byte other than an ASCII letter or digit written as
// "=" and two upper-case hexadecimal digits + "?=". A subject too long for one encoded word (75
// characters) becomes several words on folded lines (CR LF and a space between them).
std::string EncodedSubject(std::string_view subject);

// The body as the data phase carries it: every line ends in CR LF (a lone CR or LF becomes
// CR LF), a line that is only "." becomes ". ", and every line that starts with "." gets a second
// "." in front, which the receiving server removes again. The text ends as the body ended (with or
// without a line break).
std::string SmtpBodyText(std::string_view body);

} // namespace kx
