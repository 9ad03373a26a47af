#pragma once
// Loading a BMP file (an image editor's output) into a Win32 bitmap.
#include <memory>
#include <string>

#include "crash/output/image/NVBitmap.h"
#include "crash/output/image/NVBmpReader.h"

namespace kx {

// The picture of a BMP file as a new 32-bit bitmap of the same size (absolute height); null when
// the file cannot be read or is not a BMP that NVBmpReader accepts. error, when given, says why.
std::shared_ptr<INVBitmap> LoadBitmapFile(const std::u16string &file, NVBmpError *error = nullptr);

} // namespace kx
