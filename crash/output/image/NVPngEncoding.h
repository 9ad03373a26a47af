#pragma once
// The two PNG encodings of a bitmap and the choice between them by format.
#include <cstdint>
#include <string>

#include "crash/output/image/NVPixels.h"

namespace kx {

// The 256-colour image: Wu's palette, every pixel mapped through the palette cache, depth 8.
// The pixels are left as they are.
std::string EncodeColourPng(const NVPixelView &pixels);

// The 16-level grey image at depth 4. Turns the pixels grey first; they stay grey.
std::string EncodeGreyPng(const NVPixelView &pixels);

// The size above which formats 2 to 5 try the grey image too; 0 for the other formats.
size_t GreyTrialLimit(int32_t format);

// The PNG file for a format (see NVPngFormat): the colour image for every format but 1; the grey
// image when the format is 1, the colour image failed, or it is larger than the format's limit;
// the grey image is kept when there is no colour image or it is smaller. Empty on failure.
std::string EncodePng(const NVPixelView &pixels, int32_t format);

} // namespace kx
