#pragma once
// Finding an exported function in a PE image as it is loaded (PE32 or PE32+): the export
// directory's name table, then the function's address through its ordinal.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace kestrace {

// Reads size bytes at the relative address (offset from the image's base); false when they
// cannot be read.
using ImageReader = std::function<bool(uint32_t rva, void *buffer, size_t size)>;

// The relative address of the function exported under exactly this name; nullopt when the image
// has no such export, the export is forwarded to another module, or the headers are not those of
// a PE image.
std::optional<uint32_t> ExportRva(const ImageReader &read, std::string_view name);

} // namespace kestrace
