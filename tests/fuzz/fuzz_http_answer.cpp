// Fuzz target: the upload server's answer. The first byte says where to cut the answer into
// pieces; reading the pieces must judge as the whole answer judged at once, and a redirect
// location never carries a line break.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "crash/delivery/KXHttpAnswer.h"
#include "tests/fuzz/PieceStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 16384)
    return 0;
  const size_t step = 1 + data[0] * 3;
  const std::string answer(reinterpret_cast<const char *>(data + 1), size - 1);

  const kx::KXHttpAnswer whole = kx::JudgeHttpAnswer(answer.substr(0, kx::kHttpAnswerMaxBytes), true);
  if (whole.verdict == kx::KXHttpVerdict::incomplete)
    std::abort();
  if (whole.location.find_first_of("\r\n") != std::string::npos)
    std::abort();
  (void)kx::IsOpenableLocation(whole.location);

  PieceStream stream;
  for (size_t pos = 0; pos < answer.size(); pos += step)
    stream.pieces.push_back(answer.substr(pos, step));
  if (stream.pieces.size() >= static_cast<size_t>(kx::kHttpAnswerMaxReceives))
    return 0;
  const kx::KXHttpAnswer read = kx::ReadHttpAnswer(stream);
  if (read.verdict != whole.verdict || read.location != whole.location)
    std::abort();
  return 0;
}
