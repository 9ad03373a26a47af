#pragma once
// The colour arithmetic of the forms' painting. Colours are COLORREF values (0x00BBGGRR).
#include <cstdint>

namespace kx {

// Adds amount to every channel (a negative amount darkens), each clamped to 0..255; when two or
// more channels would clamp, the colour is adjusted the other way instead.
uint32_t AdjustColour(uint32_t colour, int32_t amount);
// Every channel half way towards white.
uint32_t HalfwayToWhite(uint32_t colour);

// The colours of an owner-drawn main button by its role.
struct TNVButtonScheme {
  uint32_t frame = 0; // the focused button's dotted frame
  uint32_t step = 0;  // the gradient step per row
};
// Item 0 (Continue) green, item 1 (Skip) blue, Cancel and every other button red.
TNVButtonScheme ButtonScheme(int32_t index);

// Row k (0 at 3 rows above the bottom, counting upwards) of a focused button: black growing by
// 0x060606 - 3 x step per row, per channel.
uint32_t FocusedButtonRow(int32_t k, uint32_t step);
// Row j (0 at 3 rows below the top, counting downwards) of a button in its normal state: white,
// less one step after every odd row.
uint32_t NormalButtonRow(int32_t j, uint32_t step);
// Row 7 to 19 of the current step's box: the window colour, 2 per channel darker every row.
uint32_t StepBoxRow(uint32_t window, int32_t row);

} // namespace kx
