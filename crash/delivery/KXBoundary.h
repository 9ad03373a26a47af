#pragma once
// The multipart boundary of one upload or one mail: a fixed prefix and 32 random letters and
// digits (no quoting needed in an HTTP header), chosen again while the text that goes on the wire
// contains it, so that no content can end a part or start a forged one.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kx {

inline constexpr std::string_view kBoundaryPrefix = "KestrelixBoundary_";
inline constexpr size_t kBoundaryRandomChars = 32;
inline constexpr size_t kBoundaryLength = kBoundaryPrefix.size() + kBoundaryRandomChars;
// Candidates tried before a message is given up (with a working random source the first one
// practically never collides).
inline constexpr int kBoundaryTries = 8;

// A source of random 32-bit words.
using KXRandomFn = std::function<uint32_t()>;

// A word from std::random_device, mixed with a running counter and the clock, so that a device
// that repeats itself still yields different words.
uint32_t SystemRandomWord();

// The prefix and kBoundaryRandomChars letters and digits drawn from random (SystemRandomWord when
// random is empty).
std::string RandomBoundary(const KXRandomFn &random);

// Whether the message's wire text contains the given text anywhere.
using KXContentContainsFn = std::function<bool(std::string_view text)>;

// The first candidate of RandomBoundary that the content does not contain; "" when
// kBoundaryTries candidates all occur in it (the message must then not be sent).
std::string ChooseBoundary(const KXContentContainsFn &contains, const KXRandomFn &random);

// Looks for one text in content handed over piece by piece (a match may span pieces).
class KXStreamFinder {
public:
  explicit KXStreamFinder(std::string_view needle) : FNeedle(needle) {}
  void Feed(std::string_view piece);
  bool Found() const { return FFound; }

private:
  std::string FNeedle;
  std::string FTail; // the last needle.size() - 1 bytes seen
  bool FFound = false;
};

} // namespace kx
