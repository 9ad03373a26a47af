#include "crash/delivery/KXMailText.h"

#include <cstdio>

namespace kx {

namespace {

constexpr const char *kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr char kUpperHex[] = "0123456789ABCDEF";

// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDays1601To1970 = 134774;

bool IsAsciiAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

KXUtcTime UtcTimeFromFileTime(KXFileTime time) {
  const uint64_t seconds = time / 10000000u;
  const int64_t days = static_cast<int64_t>(seconds / 86400) - kDays1601To1970;
  const uint64_t daySeconds = seconds % 86400;
  // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  KXUtcTime result;
  result.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  result.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  result.year = static_cast<int>(yoe + era * 400 + (result.month <= 2 ? 1 : 0));
  result.hour = static_cast<int>(daySeconds / 3600);
  result.minute = static_cast<int>(daySeconds / 60 % 60);
  result.second = static_cast<int>(daySeconds % 60);
  return result;
}

std::string MailDate(KXFileTime time) {
  KXUtcTime t = UtcTimeFromFileTime(time);
  char text[48];
  std::snprintf(text, sizeof text, "%d %s %04d %02d:%02d:%02d UT", t.day, kMonths[t.month - 1], t.year, t.hour,
                t.minute, t.second);
  return text;
}

std::string MailMessageId(KXFileTime time) {
  char text[40];
  std::snprintf(text, sizeof text, "<%016llx@Kestrelix>", static_cast<unsigned long long>(time));
  return text;
}

std::string EncodedSubject(std::string_view subject) {
  static constexpr std::string_view kPrefix = "=?ISO-8859-1?Q?";
  static constexpr std::string_view kSuffix = "?=";
  static constexpr size_t kMaxWord = 75;
  std::string result;
  std::string word(kPrefix);
  for (unsigned char c : subject) {
    std::string piece;
    if (IsAsciiAlnum(c)) {
      piece = static_cast<char>(c);
    } else {
      piece = {'=', kUpperHex[c >> 4], kUpperHex[c & 15]};
    }
    if (word.size() + piece.size() + kSuffix.size() > kMaxWord) {
      result += word;
      result += kSuffix;
      result += "\r\n ";
      word = kPrefix;
    }
    word += piece;
  }
  result += word;
  result += kSuffix;
  return result;
}

std::string SmtpBodyText(std::string_view body) {
  std::string result;
  result.reserve(body.size() + body.size() / 16 + 8);
  size_t i = 0;
  while (i < body.size()) {
    // One line: up to CR LF, a lone CR or a lone LF.
    size_t end = i;
    while (end < body.size() && body[end] != '\r' && body[end] != '\n')
      ++end;
    std::string_view line = body.substr(i, end - i);
    if (line == ".") {
      result += ".. "; // the line ". ", its dot doubled for the data phase
    } else {
      if (!line.empty() && line.front() == '.')
        result += '.';
      result += line;
    }
    if (end >= body.size())
      break;
    result += "\r\n";
    if (body[end] == '\r' && end + 1 < body.size() && body[end + 1] == '\n')
      ++end;
    i = end + 1;
  }
  return result;
}

} // namespace kx
