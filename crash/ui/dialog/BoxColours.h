#pragma once
// Colour arithmetic of the crash dialog's owner-drawn buttons and icons. Colours are COLORREF
// values (0x00BBGGRR); pixels are 32-bit DIB pixels (0xAARRGGBB).
#include <cstdint>
#include <vector>

namespace kx {

// Lightens colour by shift per channel (clamped at 255) when at most one channel would go above
// 256, else darkens it by shift (clamped at 0).
uint32_t ShiftColour(uint32_t colour, uint32_t shift);
// The fade frame n of 8 from c1 (n = 8) to c2 (n = 0): (n*c1 + (8-n)*c2) div 8 per channel.
uint32_t FadeColour(uint32_t c1, uint32_t c2, int n);
// A colour between line and background: quarters of the background out of 4.
uint32_t QuarterMix(uint32_t line, uint32_t background, int quarters);

// COLORREF to a DIB pixel (alpha 0) and back.
inline uint32_t ColourToPixel(uint32_t c) { return (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF); }
inline uint32_t PixelToColour(uint32_t p) { return (p & 0xFF) << 16 | (p & 0xFF00) | (p >> 16 & 0xFF); }

// Blends a pixel with alpha in its top byte over a background pixel: g = alpha + 1, each channel
// (background*(256-g) + pixel*g) div 256.
uint32_t BlendPixel(uint32_t background, uint32_t pixel);

// An icon resource: 40-byte information header and side*side pixels. Returns the pixels top-down,
// or an empty vector when the size or header does not fit the side.
std::vector<uint32_t> IconPixels(const uint8_t *data, uint32_t size, int side);

} // namespace kx
