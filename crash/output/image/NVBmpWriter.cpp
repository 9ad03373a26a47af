#include "crash/output/image/NVBmpWriter.h"

namespace kx {

namespace {
void PutU16(std::string &out, uint16_t value) {
  out += char(value);
  out += char(value >> 8);
}
void PutU32(std::string &out, uint32_t value) {
  PutU16(out, uint16_t(value));
  PutU16(out, uint16_t(value >> 16));
}
} // namespace

std::string BmpInfoHeader(int32_t width, int32_t height) {
  std::string header;
  header.reserve(kNVBmpInfoHeaderSize);
  PutU32(header, uint32_t(kNVBmpInfoHeaderSize));
  PutU32(header, uint32_t(width));
  PutU32(header, uint32_t(height));
  PutU16(header, 1);  // planes
  PutU16(header, 32); // bits per pixel
  PutU32(header, 0);  // BI_RGB
  PutU32(header, uint32_t(size_t(width) * size_t(height) * kNVBytesPerPixel));
  PutU32(header, 0); // horizontal resolution
  PutU32(header, 0); // vertical resolution
  PutU32(header, 0); // colours used
  PutU32(header, 0); // important colours
  return header;
}

std::string BmpFile(const NVPixelView &pixels) {
  const size_t offset = kNVBmpFileHeaderSize + kNVBmpInfoHeaderSize;
  std::string file;
  file.reserve(offset + pixels.Size());
  file += "BM";
  PutU32(file, uint32_t(pixels.Size() + offset));
  PutU16(file, 0);
  PutU16(file, 0);
  PutU32(file, uint32_t(offset));
  file += BmpInfoHeader(pixels.width, pixels.height);
  file.append(reinterpret_cast<const char *>(pixels.bits), pixels.Size());
  return file;
}

} // namespace kx
