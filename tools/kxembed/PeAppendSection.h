#pragma once
// Adds a section after the last one of a linked PE image, or rewrites the image's last section
// where it lies, and brings the headers in line: the section table, NumberOfSections, SizeOfImage
// and SizeOfInitializedData. Code and every other section stay where they are. The image's
// layout is read through debuginfo::PeImage; only the new bytes are written here.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "crash/base/pe/PeImage.h"

namespace kxembed {

// Older Windows loaders map no more sections than this, and the PE reader reads no further.
inline constexpr size_t kMaxSections = 96;

// Where a section goes.
struct SectionPlace {
  size_t Index = 0; // its entry in the section table
  uint32_t VirtualAddress = 0;
  uint32_t PointerToRawData = 0;
  bool ReplacesLast = false; // the image's last section is rewritten, the file cut at its raw data
};

// Checks what placing a section relies on, for an image parsed from these bytes: alignments that
// are powers of two, the section table inside the headers, the headers and every section's raw
// data inside the file (a truncated image fails here). Throws EmbedError.
void CheckSectionLayout(const debuginfo::PeImage &pe, std::span<const uint8_t> file);

// The image's last section when it is named `name`, lies after every other section in memory and
// in the file, and nothing follows its raw data in the file; nullptr otherwise.
const debuginfo::PeSection *TrailingSection(const debuginfo::PeImage &pe, size_t fileSize, std::string_view name);

// A new section: its header in the slot after the last one of the section table, its raw data at
// the end of the file rounded up to FileAlignment, its address after the last section rounded up
// to SectionAlignment. Throws EmbedError when the headers have no free room for one more section
// header or the image has kMaxSections already.
SectionPlace PlaceNewSection(const debuginfo::PeImage &pe, std::span<const uint8_t> file);

// The image's last section, to be rewritten where it lies (see TrailingSection).
SectionPlace PlaceOverLastSection(const debuginfo::PeImage &pe);

// Writes a section of the given name (at most 8 characters), characteristics and content at
// place: the file is cut or padded with zeros to PointerToRawData, the content follows, padded to
// FileAlignment, and the headers are updated. pe is the image as parsed before. Throws EmbedError
// when the image would grow past 4 GiB.
void WriteSection(std::vector<uint8_t> &file, const debuginfo::PeImage &pe, const SectionPlace &place,
                  std::string_view name, uint32_t characteristics, std::span<const uint8_t> content);

} // namespace kxembed
