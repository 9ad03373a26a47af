#pragma once
// Reading an SMTP server's reply: the expected three-digit code, multi-line replies ("250-..."
// lines up to the line whose fourth character is not "-") and whether the server offers
// AUTH LOGIN. A reply that arrives in several pieces is read until its last line is complete.
#include <cstdint>
#include <string>
#include <string_view>

#include "crash/delivery/KXNetwork.h"

namespace kx {

inline constexpr uint32_t kSmtpReplyWaitMs = 7000;
inline constexpr size_t kSmtpReceiveChunk = 1024;
// A reply longer than this, or still incomplete after this many receives, is judged as it stands.
inline constexpr size_t kSmtpReplyMaxBytes = 64 * 1024;
inline constexpr int kSmtpReplyMaxReceives = 256;

enum class KXReplyState { incomplete, accepted, rejected };

struct KXSmtpReplyJudgement {
  KXReplyState state = KXReplyState::incomplete;
  bool authLogin = false; // a line "AUTH ..." (or "AUTH=...") names the mechanism LOGIN
};

// Judges what has arrived of a reply. Every "=" counts as a space. The reply must begin with the
// code and end with a complete line that begins with the code and whose fourth character is not
// "-". final: nothing more will arrive, so an unfinished last line counts as it stands and an
// incomplete reply is rejected.
KXSmtpReplyJudgement JudgeSmtpReply(std::string_view received, std::string_view code, bool final);

// Reads one reply from the stream, waiting up to 7 seconds for each piece. True when it carries
// the code; authLogin (when given) tells whether AUTH LOGIN is offered.
bool ReadSmtpReply(IKXStreamSocket &stream, std::string_view code, bool *authLogin = nullptr);

} // namespace kx
