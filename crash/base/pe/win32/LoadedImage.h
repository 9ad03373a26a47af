#pragma once
// A module loaded in this process as the PE reader reads it: the headers from the pages that
// hold them, then the mapped image as a span bounded by the SizeOfImage those headers give.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>

#include "crash/base/pe/PeImage.h"

namespace debuginfo {

struct LoadedImage {
  PeImage Headers;
  std::span<const uint8_t> Bytes; // SizeOfImage bytes from the module's base, RVA = offset
};

// The image loaded at base; nullopt when no committed PE image this reader understands starts
// there.
inline std::optional<LoadedImage> ReadLoadedImage(const void *base) {
  MEMORY_BASIC_INFORMATION info{};
  if (!base || !VirtualQuery(base, &info, sizeof info) || info.State != MEM_COMMIT ||
      (info.Protect & (PAGE_NOACCESS | PAGE_GUARD)))
    return std::nullopt;
  auto *bytes = static_cast<const uint8_t *>(base);
  const size_t headerBytes = info.RegionSize - size_t(bytes - static_cast<const uint8_t *>(info.BaseAddress));
  std::optional<PeImage> headers = PeImage::Parse(bytes, headerBytes);
  if (!headers)
    return std::nullopt;
  return LoadedImage{*headers, std::span<const uint8_t>(bytes, headers->SizeOfImage)};
}

} // namespace debuginfo
