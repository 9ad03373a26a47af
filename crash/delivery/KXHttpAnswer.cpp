#include "crash/delivery/KXHttpAnswer.h"

#include "crash/base/settings/KXText.h"

namespace kx {

namespace {

std::string_view SecondWord(std::string_view line) {
  size_t pos = 0;
  for (int word = 0; word < 2; ++word) {
    while (pos < line.size() && line[pos] == ' ')
      ++pos;
    size_t end = line.find(' ', pos);
    if (end == std::string_view::npos)
      end = line.size();
    if (word == 1)
      return line.substr(pos, end - pos);
    pos = end;
  }
  return {};
}

bool StartsWithText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

bool HasControlCharacter(std::string_view text) {
  for (unsigned char c : text)
    if (c < 32 || c == 127)
      return true;
  return false;
}

// The value of the first "Location: " line that ends in CR LF and whose value is one line of
// text; false when there is none. A lone LF ends a line too, so no value can span two lines.
bool FindLocation(std::string_view head, std::string &location) {
  static constexpr std::string_view kName = "Location: ";
  size_t pos = head.find('\n'); // the status line is not a header line
  while (pos != std::string_view::npos) {
    const size_t start = pos + 1;
    pos = head.find('\n', start);
    if (pos == std::string_view::npos)
      return false;
    std::string_view line = head.substr(start, pos - start);
    if (line.empty() || line.back() != '\r')
      continue;
    line.remove_suffix(1);
    if (!StartsWithText(line, kName))
      continue;
    std::string value = Trim(line.substr(kName.size()));
    if (HasControlCharacter(value))
      continue;
    location = value;
    return true;
  }
  return false;
}

} // namespace

KXHttpAnswer JudgeHttpAnswer(std::string_view received, bool final) {
  KXHttpAnswer answer;
  size_t pos = 0;
  for (;;) {
    std::string_view rest = received.substr(pos);
    size_t headerEnd = rest.find("\r\n\r\n");
    if (headerEnd == std::string_view::npos && !final)
      return answer; // incomplete
    // The header with the CR LF of its last line.
    std::string_view head = headerEnd == std::string_view::npos ? rest : rest.substr(0, headerEnd + 2);
    std::string_view statusLine = head.substr(0, head.find("\r\n"));
    answer.status = std::string(SecondWord(statusLine));

    if (answer.status == "100") {
      if (headerEnd == std::string_view::npos) {
        answer.verdict = KXHttpVerdict::failure;
        return answer;
      }
      pos += headerEnd + 4;
      if (pos >= received.size()) {
        answer.verdict = final ? KXHttpVerdict::failure : KXHttpVerdict::incomplete;
        return answer;
      }
      continue;
    }
    if (answer.status == "200") {
      answer.verdict = KXHttpVerdict::success;
    } else if (answer.status == "302") {
      answer.verdict = FindLocation(head, answer.location) ? KXHttpVerdict::success : KXHttpVerdict::failure;
    } else {
      answer.verdict = KXHttpVerdict::failure;
    }
    return answer;
  }
}

KXHttpAnswer ReadHttpAnswer(IKXStreamSocket &stream) {
  std::string buffer;
  KXHttpAnswer answer;
  for (int receives = 0;; ++receives) {
    bool final = receives >= kHttpAnswerMaxReceives || buffer.size() >= kHttpAnswerMaxBytes;
    if (!final) {
      KXReceiveStatus status = stream.Receive(kHttpAnswerMaxBytes - buffer.size(), kHttpAnswerWaitMs, buffer);
      final = status != KXReceiveStatus::data;
    }
    answer = JudgeHttpAnswer(buffer, final);
    if (answer.verdict != KXHttpVerdict::incomplete)
      return answer;
    if (final) {
      answer.verdict = KXHttpVerdict::failure;
      return answer;
    }
  }
}

bool IsOpenableLocation(std::string_view location) {
  size_t hostStart;
  if (StartsWithText(location, "http://"))
    hostStart = 7;
  else if (StartsWithText(location, "https://"))
    hostStart = 8;
  else
    return false;
  if (hostStart >= location.size() || location[hostStart] == '/')
    return false;
  for (unsigned char c : location)
    if (c <= 32 || c == 127 || c == '"')
      return false;
  return true;
}

} // namespace kx
