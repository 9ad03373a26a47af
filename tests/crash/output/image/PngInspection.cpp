#include "tests/crash/output/image/PngInspection.h"

#include <png.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>

namespace kx::test {

namespace {

struct MemoryReader {
  const std::string *file;
  size_t at;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
  auto *reader = static_cast<MemoryReader *>(png_get_io_ptr(png));
  if (reader->at + length > reader->file->size())
    png_error(png, "read beyond the end of the file");
  std::memcpy(out, reader->file->data() + reader->at, length);
  reader->at += length;
}

void KeepMessage(png_structp png, png_const_charp message) {
  auto *error = static_cast<char *>(png_get_error_ptr(png));
  std::snprintf(error, 256, "%s", message);
  png_longjmp(png, 1);
}

void IgnoreWarning(png_structp, png_const_charp) {}

// Plain data only between setjmp and a possible longjmp.
struct DecodeState {
  MemoryReader reader;
  char error[256];
  png_uint_32 width, height;
  int bitDepth, colourType;
  png_color palette[256];
  int paletteEntries;
  std::vector<uint8_t> *indices;
};

bool RunDecode(DecodeState &s) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, s.error, KeepMessage, IgnoreWarning);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &s.reader, ReadFromMemory);
  png_read_info(png, info);
  int interlace, compression, filter;
  png_get_IHDR(png, info, &s.width, &s.height, &s.bitDepth, &s.colourType, &interlace, &compression, &filter);
  if (s.colourType != PNG_COLOR_TYPE_PALETTE) {
    std::snprintf(s.error, sizeof(s.error), "not a palette image");
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_colorp palette = nullptr;
  if (png_get_PLTE(png, info, &palette, &s.paletteEntries) == 0)
    s.paletteEntries = 0;
  std::memcpy(s.palette, palette, size_t(s.paletteEntries) * sizeof(png_color));
  png_set_packing(png); // one index per byte
  png_read_update_info(png, info);
  s.indices->resize(size_t(s.width) * s.height);
  for (png_uint_32 y = 0; y < s.height; ++y)
    png_read_row(png, s.indices->data() + size_t(y) * s.width, nullptr);
  png_read_end(png, nullptr); // the chunks after IDAT, with their CRCs
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

} // namespace

std::optional<DecodedPng> DecodePng(const std::string &file, std::string &error) {
  DecodedPng decoded;
  DecodeState state{};
  state.reader = {&file, 0};
  state.indices = &decoded.indices;
  if (!RunDecode(state)) {
    error = state.error;
    return std::nullopt;
  }
  decoded.width = state.width;
  decoded.height = state.height;
  decoded.bitDepth = state.bitDepth;
  decoded.colourType = state.colourType;
  for (int i = 0; i < state.paletteEntries; ++i) {
    decoded.palette += char(state.palette[i].red);
    decoded.palette += char(state.palette[i].green);
    decoded.palette += char(state.palette[i].blue);
  }
  return decoded;
}

std::vector<PngChunk> PngChunks(const std::string &file) {
  std::vector<PngChunk> chunks;
  size_t at = 8;
  while (at + 12 <= file.size()) {
    const auto *p = reinterpret_cast<const uint8_t *>(file.data() + at);
    const size_t length = size_t(p[0]) << 24 | size_t(p[1]) << 16 | size_t(p[2]) << 8 | p[3];
    if (at + 12 + length > file.size())
      break;
    chunks.push_back({file.substr(at + 4, 4), file.substr(at + 8, length)});
    at += 12 + length;
  }
  return chunks;
}

std::optional<std::string> InflateZlib(const std::string &stream, size_t expectedSize) {
  std::string out(expectedSize + 1, '\0');
  uLongf outSize = uLongf(out.size());
  if (uncompress(reinterpret_cast<Bytef *>(out.data()), &outSize, reinterpret_cast<const Bytef *>(stream.data()),
                 uLong(stream.size())) != Z_OK)
    return std::nullopt;
  out.resize(outSize);
  return out;
}

bool PngCheckAccepts(const std::string &file, std::string &report) {
  const std::string path = ::testing::TempDir() + "tidewell_image_check.png";
  {
    std::ofstream out(path, std::ios::binary);
    out.write(file.data(), std::streamsize(file.size()));
  }
  FILE *pipe = popen(("pngcheck -v '" + path + "' 2>&1").c_str(), "r");
  if (!pipe) {
    report = "pngcheck could not be started";
    return false;
  }
  char buffer[512];
  report.clear();
  while (size_t got = fread(buffer, 1, sizeof(buffer), pipe))
    report.append(buffer, got);
  const int status = pclose(pipe);
  std::remove(path.c_str());
  if (status != 0 && report.find("not found") != std::string::npos)
    report += "\n(pngcheck is missing: scripts/setup.sh installs it)";
  return status == 0;
}

} // namespace kx::test
