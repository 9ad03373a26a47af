#include "tools/kxembed/PeAppendSection.h"

#include <algorithm>
#include <cstring>

#include "tools/kxembed/EmbedError.h"
#include "tools/kxembed/LittleEndian.h"

namespace kxembed {

namespace {

using debuginfo::PeImage;
using debuginfo::PeSection;

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Where a section ends in memory: the loader maps VirtualSize bytes, or SizeOfRawData where the
// linker left VirtualSize 0.
uint64_t VirtualEnd(const PeSection &s) {
  return uint64_t(s.VirtualAddress) + (s.VirtualSize ? s.VirtualSize : s.SizeOfRawData);
}

uint64_t RawEnd(const PeSection &s) { return uint64_t(s.PointerToRawData) + s.SizeOfRawData; }

} // namespace

void CheckSectionLayout(const PeImage &pe, std::span<const uint8_t> file) {
  if (!IsPowerOfTwo(pe.SectionAlignment) || !IsPowerOfTwo(pe.FileAlignment) || pe.FileAlignment > pe.SectionAlignment)
    throw EmbedError("the image's section and file alignments are not valid");
  const debuginfo::PeHeaderFields fields = pe.HeaderFields();
  if (fields.SectionTable + debuginfo::kSectionHeaderSize * pe.Sections.size() > pe.SizeOfHeaders)
    throw EmbedError("the section table runs past SizeOfHeaders");
  if (pe.SizeOfHeaders > file.size())
    throw EmbedError("the image is truncated: its headers run past the end of the file");
  for (const PeSection &s : pe.Sections) {
    if (s.SizeOfRawData && RawEnd(s) > file.size())
      throw EmbedError("the image is truncated: section " + s.Name + " runs past the end of the file");
  }
}

const PeSection *TrailingSection(const PeImage &pe, size_t fileSize, std::string_view name) {
  if (pe.Sections.empty() || pe.Sections.back().Name != name)
    return nullptr;
  const PeSection &last = pe.Sections.back();
  if (last.PointerToRawData < pe.SizeOfHeaders || last.PointerToRawData > fileSize || RawEnd(last) < fileSize)
    return nullptr;
  for (size_t i = 0; i + 1 < pe.Sections.size(); ++i) {
    const PeSection &s = pe.Sections[i];
    if (VirtualEnd(s) > last.VirtualAddress || (s.SizeOfRawData && RawEnd(s) > last.PointerToRawData))
      return nullptr;
  }
  return &last;
}

SectionPlace PlaceNewSection(const PeImage &pe, std::span<const uint8_t> file) {
  if (pe.Sections.size() >= kMaxSections)
    throw EmbedError("the image has " + std::to_string(kMaxSections) + " sections already");
  const uint64_t slot = pe.HeaderFields().SectionTable + debuginfo::kSectionHeaderSize * pe.Sections.size();
  const uint64_t slotEnd = slot + debuginfo::kSectionHeaderSize;
  // The slot must lie in the headers, before any section's data, and be unused (zero): a bound
  // import table or other data left there by the linker is not ours to overwrite.
  bool room = slotEnd <= pe.SizeOfHeaders && slotEnd <= file.size();
  for (const PeSection &s : pe.Sections) {
    if (s.SizeOfRawData && s.PointerToRawData < slotEnd)
      room = false;
    if (s.VirtualAddress < slotEnd)
      room = false;
  }
  if (room)
    room = std::all_of(file.begin() + std::ptrdiff_t(slot), file.begin() + std::ptrdiff_t(slotEnd),
                       [](uint8_t b) { return b == 0; });
  if (!room)
    throw EmbedError("no room in the headers for one more section header");

  uint64_t end = pe.SizeOfHeaders;
  for (const PeSection &s : pe.Sections)
    end = std::max(end, VirtualEnd(s));
  const uint64_t address = AlignUp(end, pe.SectionAlignment);
  const uint64_t raw = AlignUp(file.size(), pe.FileAlignment);
  if (address > UINT32_MAX || raw > UINT32_MAX)
    throw EmbedError("the image would grow past 4 GiB");
  return {pe.Sections.size(), uint32_t(address), uint32_t(raw), false};
}

SectionPlace PlaceOverLastSection(const PeImage &pe) {
  const PeSection &last = pe.Sections.back();
  return {pe.Sections.size() - 1, last.VirtualAddress, last.PointerToRawData, true};
}

void WriteSection(std::vector<uint8_t> &file, const PeImage &pe, const SectionPlace &place, std::string_view name,
                  uint32_t characteristics, std::span<const uint8_t> content) {
  const uint64_t rawSize = AlignUp(content.size(), pe.FileAlignment);
  const uint64_t virtualEnd = uint64_t(place.VirtualAddress) + content.size();
  if (uint64_t(place.PointerToRawData) + rawSize > UINT32_MAX || AlignUp(virtualEnd, pe.SectionAlignment) > UINT32_MAX)
    throw EmbedError("the image would grow past 4 GiB");

  uint64_t imageEnd = AlignUp(pe.SizeOfHeaders, pe.SectionAlignment);
  for (size_t i = 0; i < pe.Sections.size(); ++i) {
    if (!(place.ReplacesLast && i == place.Index))
      imageEnd = std::max(imageEnd, VirtualEnd(pe.Sections[i]));
  }
  imageEnd = AlignUp(std::max(imageEnd, virtualEnd), pe.SectionAlignment);
  int64_t initializedData = int64_t(pe.SizeOfInitializedData) + int64_t(rawSize);
  if (place.ReplacesLast)
    initializedData -= pe.Sections[place.Index].SizeOfRawData;
  initializedData = std::clamp<int64_t>(initializedData, 0, UINT32_MAX);

  file.resize(place.PointerToRawData, 0);
  file.insert(file.end(), content.begin(), content.end());
  file.resize(size_t(place.PointerToRawData + rawSize), 0);

  const debuginfo::PeHeaderFields fields = pe.HeaderFields();
  const uint64_t header = fields.SectionTable + debuginfo::kSectionHeaderSize * place.Index;
  for (size_t i = 0; i < debuginfo::kSectionHeaderSize; ++i)
    PutLittleEndian(file, header + i, 0, 1);
  for (size_t i = 0; i < std::min<size_t>(name.size(), 8); ++i)
    PutLittleEndian(file, header + i, uint8_t(name[i]), 1);
  Put32(file, header + 8, uint32_t(content.size()));
  Put32(file, header + 12, place.VirtualAddress);
  Put32(file, header + 16, uint32_t(rawSize));
  Put32(file, header + 20, place.PointerToRawData);
  Put32(file, header + 36, characteristics);

  Put16(file, fields.NumberOfSections, uint16_t(place.Index + 1));
  Put32(file, fields.SizeOfImage, uint32_t(imageEnd));
  Put32(file, fields.SizeOfInitializedData, uint32_t(initializedData));
}

} // namespace kxembed
