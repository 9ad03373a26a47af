#pragma once
// Reading our PNG files back with tools that know nothing of our encoder: libpng for the picture,
// zlib for the IDAT stream, pngcheck for the whole file.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kx::test {

struct DecodedPng {
  uint32_t width = 0;
  uint32_t height = 0;
  int bitDepth = 0;
  int colourType = 0;
  std::string palette;          // PLTE as stored: red, green, blue per entry
  std::vector<uint8_t> indices; // one palette index per pixel, top row first
};

// Decodes with libpng (which checks every chunk's CRC and the zlib stream); nullopt with the
// libpng message in error on failure.
std::optional<DecodedPng> DecodePng(const std::string &file, std::string &error);

struct PngChunk {
  std::string type;
  std::string data;
};

// The chunks after the signature, as stored (no checks).
std::vector<PngChunk> PngChunks(const std::string &file);

// The IDAT data inflated as a zlib stream (header and Adler-32 checked); nullopt on failure.
std::optional<std::string> InflateZlib(const std::string &stream, size_t expectedSize);

// Runs pngcheck on the file; its output in report. True when it accepts the file.
bool PngCheckAccepts(const std::string &file, std::string &report);

} // namespace kx::test
