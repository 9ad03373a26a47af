#pragma once
// Judging the upload server's answer: "200" is success, "302" is success when it carries a
// "Location: " line, an interim "100" answer is skipped, anything else fails. The status line and
// the header lines are read whole even when they arrive in several pieces.
#include <cstdint>
#include <string>
#include <string_view>

#include "crash/delivery/KXNetwork.h"

namespace kx {

inline constexpr uint32_t kHttpAnswerWaitMs = 7000;
inline constexpr size_t kHttpAnswerMaxBytes = 5120;
inline constexpr int kHttpAnswerMaxReceives = 64;

enum class KXHttpVerdict { incomplete, success, failure };

struct KXHttpAnswer {
  KXHttpVerdict verdict = KXHttpVerdict::incomplete;
  std::string status;   // the second word of the judged status line
  std::string location; // the value of the Location line of a "302" answer
};

// Judges what has arrived of the answer. An answer is judged once its header (up to the empty
// line) is complete; final: nothing more will arrive, so what has arrived is judged as it stands.
KXHttpAnswer JudgeHttpAnswer(std::string_view received, bool final);

// Reads the answer, waiting up to 7 seconds for each piece, until it can be judged or 5120 bytes
// have arrived.
KXHttpAnswer ReadHttpAnswer(IKXStreamSocket &stream);

// Whether a redirect location may be opened with the shell's default handler: an http:// or
// https:// address (any letter case) with a host, free of spaces, control characters and quotes.
bool IsOpenableLocation(std::string_view location);

} // namespace kx
