#include "crash/delivery/KXMailto.h"

#include "crash/base/settings/KXText.h"

namespace kx {

namespace {

bool ContainsText(std::string_view text, std::string_view part) {
  for (size_t i = 0; i + part.size() <= text.size(); ++i)
    if (SameText(text.substr(i, part.size()), part))
      return true;
  return false;
}

} // namespace

std::string MailtoEncode(std::string_view text) {
  // Besides the characters that mean something in the URL or on the command line: every control
  // character, space, DEL, every byte from 0x80 and the backslash, so that the URL is one plain
  // ASCII word the command line cannot split or unquote.
  static constexpr std::string_view kEscaped = "\"#%&+<>?\\";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || kEscaped.find(c) != std::string_view::npos) {
      result += '%';
      result += kHex[byte >> 4];
      result += kHex[byte & 15];
    } else {
      result += c;
    }
  }
  return result;
}

std::string MailtoUrl(std::string_view command, std::string_view recipients, std::string_view subject,
                      std::string_view body) {
  std::string to(recipients);
  if (ContainsText(command, "OUTLOOK"))
    for (char &c : to)
      if (c == ',')
        c = ';';
  // The recipients are escaped as the subject and body are: a display name's spaces would split
  // the mail program's command line, and a "?" or "&" in them would start the query early.
  return "mailto:" + MailtoEncode(to) + "?subject=" + MailtoEncode(subject) + "&body=" + MailtoEncode(body);
}

std::string MailtoCommandLine(std::string_view command, std::string_view url, bool ntFamily) {
  const std::string quoted = "\"" + std::string(url) + "\"";
  std::string line;
  if (command.find("%1") != std::string_view::npos) {
    // Every "%1" of the command, in quotes unless the command quotes it itself; the URL's own text
    // is never searched.
    size_t start = 0;
    for (size_t at; (at = command.find("%1", start)) != std::string_view::npos; start = at + 2) {
      line.append(command.substr(start, at - start));
      const bool inQuotes = at > 0 && command[at - 1] == '"' && at + 2 < command.size() && command[at + 2] == '"';
      line.append(inQuotes ? std::string(url) : quoted);
    }
    line.append(command.substr(start));
  } else {
    line = command;
    if (!line.empty() && line.back() != ' ')
      line += ' ';
    line += quoted;
  }
  if (ntFamily && line.size() > kMaxCommandLine) {
    size_t keep = kMaxCommandLine;
    if (line[kMaxCommandLine - 1] == '%')
      keep = kMaxCommandLine - 1;
    else if (line[kMaxCommandLine - 2] == '%')
      keep = kMaxCommandLine - 2;
    line.resize(keep);
  }
  return line;
}

} // namespace kx
