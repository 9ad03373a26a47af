#pragma once
// Scaling a picture to fit a box: the size rule and separable Mitchell-Netravali resampling
// (B = C = 1/3) in 16.16 fixed point.
#include <cstdint>
#include <optional>

#include "crash/output/image/NVPixels.h"

namespace kx {

struct NVSize {
  int32_t width = 0;
  int32_t height = 0;
  bool operator==(const NVSize &) const = default;
};

// With h' = maxWidth * height div width and w' = maxHeight * width div height: when h' > maxHeight
// or w' > maxWidth the result is maxWidth x h' if height * 65536 div maxHeight < width * 65536 div
// maxWidth, else w' x maxHeight; otherwise maxWidth x maxHeight (a small picture is enlarged to
// the box). A side that comes out 0 is made 1, and one that comes out beyond the box (possible
// only for extreme enlargements, through the rounding of the ratios) is cut to the box.
// nullopt when any argument is not positive.
std::optional<NVSize> ZoomSize(int32_t width, int32_t height, int32_t maxWidth, int32_t maxHeight);

// The filter's weight at distance x.
double MitchellWeight(double x);

// Resamples source to width x height (a valid picture size): first along rows, then along
// columns, each pass rounding and clamping to 0..255. Destination pixel i samples the source at
// (i + 0.5) * sourceSize / size - 0.5; when shrinking, the filter is stretched by the size ratio
// and its weights scaled down by it. Weights are rounded to 16.16 fixed point. Source positions
// beyond the edges are mirrored: -j becomes j, sourceSize + k becomes sourceSize - 1 - k (and a
// position still outside a very small source is clamped to its edge).
NVPixelBuffer Resample(const NVPixelView &source, int32_t width, int32_t height);

} // namespace kx
