#include "crash/delivery/KXBoundary.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>

namespace kx {

namespace {

uint64_t SplitMix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

uint32_t DeviceWord() {
  try {
    static std::random_device device;
    return device();
  } catch (...) { // no device on this system: the counter and the clock still differ
    return 0;
  }
}

} // namespace

uint32_t SystemRandomWord() {
  static std::atomic<uint64_t> counter{0};
  const uint64_t count = counter.fetch_add(1, std::memory_order_relaxed);
  const uint64_t clock = static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
  const uint64_t mixed = SplitMix64((static_cast<uint64_t>(DeviceWord()) << 32) ^ SplitMix64(count) ^ clock);
  return static_cast<uint32_t>(mixed ^ (mixed >> 32));
}

std::string RandomBoundary(const KXRandomFn &random) {
  static constexpr std::string_view kChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string boundary(kBoundaryPrefix);
  for (size_t i = 0; i < kBoundaryRandomChars; ++i)
    boundary += kChars[(random ? random() : SystemRandomWord()) % kChars.size()];
  return boundary;
}

std::string ChooseBoundary(const KXContentContainsFn &contains, const KXRandomFn &random) {
  for (int attempt = 0; attempt < kBoundaryTries; ++attempt) {
    std::string candidate = RandomBoundary(random);
    if (!contains || !contains(candidate))
      return candidate;
  }
  return {};
}

void KXStreamFinder::Feed(std::string_view piece) {
  if (FFound || FNeedle.empty()) {
    FFound = true;
    return;
  }
  // Only the end of the previous pieces can begin a match that crosses into this one.
  const size_t keep = FNeedle.size() - 1;
  std::string window = FTail;
  window.append(piece.substr(0, std::min(piece.size(), keep)));
  if (window.find(FNeedle) != std::string::npos || piece.find(FNeedle) != std::string_view::npos) {
    FFound = true;
    return;
  }
  if (piece.size() >= keep) {
    FTail.assign(piece.substr(piece.size() - keep));
  } else {
    FTail.append(piece);
    if (FTail.size() > keep)
      FTail.erase(0, FTail.size() - keep);
  }
}

} // namespace kx
