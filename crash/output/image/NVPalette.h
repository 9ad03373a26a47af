#pragma once
// A palette of up to 256 colours as PNG writes it (red, green, blue per entry).
#include <array>
#include <cstdint>
#include <string>

namespace kx {

struct NVColour {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  bool operator==(const NVColour &) const = default;
};

struct NVPalette {
  std::array<NVColour, 256> entries{};
  int count = 0; // entries in use; the first count entries

  // The first count entries as red, green, blue bytes (the PNG PLTE data).
  std::string Bytes() const;
};

} // namespace kx
