// Fuzz target: the SMTP reply reader. The first byte picks the expected code; the rest is what the
// server sends, cut into pieces at the positions the second byte suggests. Reading the pieces as
// they arrive must come to the same verdict as judging the whole reply at once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "crash/delivery/KXSmtpReply.h"
#include "tests/fuzz/PieceStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2 || size > 16384)
    return 0;
  static const char *const kCodes[] = {"220", "250", "334", "235", "354", "221"};
  const std::string code = kCodes[data[0] % 6];
  const size_t step = 1 + data[1] % 97;
  const std::string reply(reinterpret_cast<const char *>(data + 2), size - 2);

  const kx::KXSmtpReplyJudgement whole = kx::JudgeSmtpReply(reply, code, true);
  if (whole.state == kx::KXReplyState::incomplete)
    std::abort(); // a final judgement always decides

  PieceStream stream;
  for (size_t pos = 0; pos < reply.size(); pos += step)
    stream.pieces.push_back(reply.substr(pos, step));
  if (stream.pieces.size() >= static_cast<size_t>(kx::kSmtpReplyMaxReceives))
    return 0;
  bool authLogin = false;
  const bool accepted = kx::ReadSmtpReply(stream, code, &authLogin);
  if (accepted != (whole.state == kx::KXReplyState::accepted))
    std::abort();
  if (accepted && authLogin != whole.authLogin)
    std::abort();
  return 0;
}
