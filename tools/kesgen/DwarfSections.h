#pragma once
// The DWARF sections of a linked image that kesgen reads, as spans of the image file (null when
// the image has no such section).
#include <cstddef>
#include <cstdint>

namespace kesgen {

struct Sections {
  const uint8_t *Line = nullptr;
  size_t LineSize = 0;
  const uint8_t *LineStr = nullptr;
  size_t LineStrSize = 0;
  const uint8_t *Str = nullptr;
  size_t StrSize = 0;
  const uint8_t *Info = nullptr;
  size_t InfoSize = 0;
  const uint8_t *Abbrev = nullptr;
  size_t AbbrevSize = 0;
  const uint8_t *Ranges = nullptr; // DWARF 2 to 4 range lists
  size_t RangesSize = 0;
  const uint8_t *RngLists = nullptr; // DWARF 5 range lists
  size_t RngListsSize = 0;
  const uint8_t *Addr = nullptr; // DWARF 5 address table (DW_FORM_addrx)
  size_t AddrSize = 0;
};

} // namespace kesgen
