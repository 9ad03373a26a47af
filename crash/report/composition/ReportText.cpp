#include "crash/report/composition/ReportText.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "crash/analysis/stacktrace/CallStackText.h"

namespace kx {

namespace {
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string CollapseSpaces(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (!(c == ' ' && !out.empty() && out.back() == ' '))
      out += c;
  return out;
}

// CR LF as one space, then every remaining CR and LF as one space.
std::string LineBreaksAsSpaces(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out += ' ';
      ++i;
    } else {
      out += (c == '\r' || c == '\n') ? ' ' : c;
    }
  }
  return out;
}

void AppendSectionLines(std::string &text, std::string_view content) {
  size_t start = 0;
  while (true) {
    size_t end = start;
    while (end < content.size() && content[end] != '\r' && content[end] != '\n')
      ++end;
    std::string_view line = content.substr(start, end - start);
    while (!line.empty() && IsBlank(line.back()))
      line.remove_suffix(1);
    text += "\r\n";
    if (line.empty())
      text += '.';
    else
      text += line;
    if (end >= content.size())
      break;
    start = end + 1;
    if (content[end] == '\r' && start < content.size() && content[start] == '\n')
      ++start;
  }
}
} // namespace

std::string Hex8(uint64_t value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%08" PRIx64, value);
  return buf;
}

std::string HexPlain(uint64_t value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%" PRIx64, value);
  return buf;
}

std::string OneLineValue(std::string_view value) { return CollapseSpaces(LineBreaksAsSpaces(value)); }

std::string JoinReport(const KXTextPairs &header, const KXTextPairs &sections) {
  size_t width = 0;
  for (const auto &[name, value] : header)
    width = std::max(width, name.size());
  ++width;
  std::string text;
  bool first = true;
  for (const auto &[name, value] : header) {
    if (!first)
      text += "\r\n";
    first = false;
    text += name;
    text.append(width - name.size(), ' ');
    text += ": ";
    text += OneLineValue(value);
  }
  for (const auto &[title, content] : sections) {
    text += "\r\n\r\n";
    text += title;
    if (title.find(':') == std::string::npos)
      text += ':';
    AppendSectionLines(text, content);
  }
  return text;
}

std::string ReportMessage(std::string_view message) {
  while (!message.empty() && (message.back() == '!' || message.back() == '.' || message.back() == '\0'))
    message.remove_suffix(1);
  std::string text(message);
  text += '.';
  for (char &c : text)
    if (c == '\r' || c == '\n')
      c = ' ';
  return CollapseSpaces(text);
}

bool MessageIsClassName(std::string_view message, std::string_view className) {
  while (!message.empty() && (message.back() == '!' || message.back() == '.' || message.back() == '\0'))
    message.remove_suffix(1);
  return !message.empty() && message == className;
}

std::string InternalErrorText(std::string_view producer, std::string_view location) {
  std::string text = ">> internal error in ";
  text += producer;
  if (!location.empty()) {
    text += ":\r\n";
    text += location;
  }
  return text;
}

std::string ThreadSectionTitle(std::string_view title, bool suspended, int priority) {
  std::string text(title);
  text += ':';
  if (suspended)
    text += " <suspended>";
  if (priority != 0)
    text += " <priority:" + std::to_string(priority) + ">";
  return text;
}

std::string InsertCreatorLine(std::string_view trace, std::string_view creatorTitle) {
  std::string text(trace);
  if (text.empty() || text.front() == '>')
    return text;
  std::string line = ">> created by ";
  line += creatorTitle;
  line += " at:";
  size_t lastCr = text.rfind('\r');
  if (lastCr == std::string::npos)
    return line + "\r\n" + text; // a trace of the creator line alone
  text.insert(lastCr, "\r\n" + line);
  return text;
}

std::string CallstackCrcText(const std::array<uint32_t, 3> &crc) {
  return "$" + Hex8(crc[0]) + ", $" + Hex8(crc[1]) + ", $" + Hex8(crc[2]);
}

uint32_t CrcUpdateValue(uint32_t crc, uint32_t value) {
  char bytes[4] = {char(value & 0xff), char((value >> 8) & 0xff), char((value >> 16) & 0xff), char(value >> 24)};
  return tidewell::stacktrace::CrcUpdate(crc, std::string_view(bytes, 4));
}

} // namespace kx
