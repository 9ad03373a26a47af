#pragma once
// Wu's colour quantiser (Graphics Gems II, "Efficient Statistical Computations for Optimal Color
// Quantization"): a 33 x 33 x 33 histogram of moments over the top 5 bits of red, green and blue,
// made cumulative, then the box with the largest variance is cut along its best axis until 256
// boxes exist or no box can be cut. The tables are allocated per call.
#include <vector>

#include "crash/output/image/NVPalette.h"
#include "crash/output/image/NVPixels.h"

namespace kx {

// A box of histogram cells along each axis: cells (r0, r1] of red and so on, where cell c holds
// the channel values 8 (c - 1) to 8 c - 1.
struct NVWuBox {
  int r0 = 0, r1 = 0, g0 = 0, g1 = 0, b0 = 0, b1 = 0;
};

struct NVWuResult {
  NVPalette palette;          // 256 entries; the first boxes.size() are the box means
  std::vector<NVWuBox> boxes; // in palette order
};

// The box means (channel sums divided by the pixel count, truncated) as palette entries 0 to
// boxes.size() - 1. The entries beyond repeat entry 0: a tie between equal entries goes to the lower
// index, so a nearest-colour search over all 256 entries never picks one of them.
NVWuResult QuantizeWu(const NVPixelView &pixels);

} // namespace kx
