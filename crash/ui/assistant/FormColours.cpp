#include "crash/ui/assistant/FormColours.h"

#include <algorithm>

namespace kx {

namespace {
int32_t Channel(uint32_t colour, int shift) { return int32_t((colour >> shift) & 0xFF); }
uint32_t Clamped(int64_t value) { return uint32_t(std::clamp<int64_t>(value, 0, 255)); }
} // namespace

uint32_t AdjustColour(uint32_t colour, int32_t amount) {
  int clamping = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const int64_t v = int64_t(Channel(colour, shift)) + amount;
    if (v < 0 || v > 255)
      ++clamping;
  }
  const int64_t by = clamping >= 2 ? -int64_t(amount) : int64_t(amount);
  uint32_t result = 0;
  for (int shift = 0; shift < 24; shift += 8)
    result |= Clamped(Channel(colour, shift) + by) << shift;
  return result;
}

uint32_t HalfwayToWhite(uint32_t colour) {
  uint32_t result = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const int32_t c = Channel(colour, shift);
    result |= uint32_t(c + (255 - c) / 2) << shift;
  }
  return result;
}

TNVButtonScheme ButtonScheme(int32_t index) {
  switch (index) {
  case 0:
    return {0x80A080, 0x020102};
  case 1:
    return {0xA08080, 0x010202};
  default:
    return {0x8080A0, 0x020201};
  }
}

uint32_t FocusedButtonRow(int32_t k, uint32_t step) {
  uint32_t result = 0;
  for (int shift = 0; shift < 24; shift += 8)
    result |= Clamped(int64_t(k) * (6 - 3 * Channel(step, shift))) << shift;
  return result;
}

uint32_t NormalButtonRow(int32_t j, uint32_t step) {
  const int64_t steps = (int64_t(j) + 1) / 2;
  uint32_t result = 0;
  for (int shift = 0; shift < 24; shift += 8)
    result |= Clamped(255 - steps * Channel(step, shift)) << shift;
  return result;
}

uint32_t StepBoxRow(uint32_t window, int32_t row) {
  uint32_t result = 0;
  for (int shift = 0; shift < 24; shift += 8)
    result |= Clamped(Channel(window, shift) - 2 * (int64_t(row) - 7)) << shift;
  return result;
}

} // namespace kx
