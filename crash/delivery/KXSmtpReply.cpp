#include "crash/delivery/KXSmtpReply.h"

#include "crash/base/settings/KXText.h"

namespace kx {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool StartsWithText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

bool ContainsText(std::string_view text, std::string_view part) {
  if (part.size() > text.size())
    return false;
  for (size_t i = 0; i + part.size() <= text.size(); ++i)
    if (SameText(text.substr(i, part.size()), part))
      return true;
  return false;
}

// "AUTH LOGIN ..." or "AUTH PLAIN LOGIN" after the code and its separator.
bool OffersAuthLogin(std::string_view line) {
  if (line.size() < 4)
    return false;
  std::string_view text = line.substr(4);
  if (!StartsWithText(text, "AUTH "))
    return false;
  std::string mechanisms(text.substr(4));
  mechanisms += ' ';
  return ContainsText(mechanisms, " LOGIN ");
}

} // namespace

KXSmtpReplyJudgement JudgeSmtpReply(std::string_view received, std::string_view code, bool final) {
  KXSmtpReplyJudgement result;
  std::string text(received);
  for (char &c : text)
    if (c == '=')
      c = ' ';

  if (text.size() <= code.size()) {
    result.state = !final && StartsWith(code, text) ? KXReplyState::incomplete : KXReplyState::rejected;
    return result;
  }
  if (!StartsWith(text, code)) {
    result.state = KXReplyState::rejected;
    return result;
  }

  size_t pos = 0;
  while (pos < text.size()) {
    size_t lineEnd = text.find('\n', pos);
    std::string_view line;
    if (lineEnd == std::string::npos) {
      if (!final) {
        result.state = KXReplyState::incomplete;
        return result;
      }
      line = std::string_view(text).substr(pos);
      pos = text.size();
    } else {
      line = std::string_view(text).substr(pos, lineEnd - pos);
      pos = lineEnd + 1;
    }
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    if (!result.authLogin && OffersAuthLogin(line))
      result.authLogin = true;
    if (line.size() < 4 || line[3] != '-') {
      result.state = StartsWith(line, code) ? KXReplyState::accepted : KXReplyState::rejected;
      return result;
    }
  }
  result.state = final ? KXReplyState::rejected : KXReplyState::incomplete;
  return result;
}

bool ReadSmtpReply(IKXStreamSocket &stream, std::string_view code, bool *authLogin) {
  std::string buffer;
  KXSmtpReplyJudgement judgement;
  for (int receives = 0;; ++receives) {
    bool final = receives >= kSmtpReplyMaxReceives || buffer.size() >= kSmtpReplyMaxBytes;
    if (!final) {
      KXReceiveStatus status = stream.Receive(kSmtpReceiveChunk, kSmtpReplyWaitMs, buffer);
      final = status != KXReceiveStatus::data;
    }
    judgement = JudgeSmtpReply(buffer, code, final);
    if (judgement.state != KXReplyState::incomplete || final)
      break;
  }
  if (authLogin && judgement.state == KXReplyState::accepted && judgement.authLogin)
    *authLogin = true;
  return judgement.state == KXReplyState::accepted;
}

} // namespace kx
