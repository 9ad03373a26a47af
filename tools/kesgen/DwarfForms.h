#pragma once
// Bounds-checked reading of DWARF data: a cursor over one section, and the attribute value of
// every form of DWARF 2 to 5 (with GCC's GNU extensions), so that any attribute can be read or
// stepped over.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "crash/base/bytes/ByteReader.h"

namespace kesgen {

// A reader over [0, size) of one section that never reads outside it: a read past the end
// yields zeros, leaves the position at the end and clears Ok(). The section's names for the
// shared byte reader's reads, and the in-place strings DWARF keeps.
class Cursor {
public:
  Cursor(const uint8_t *data, size_t size, size_t pos = 0) : r_(data, size) { r_.Seek(std::min(pos, r_.Size())); }
  bool Ok() const { return !r_.Failed(); }
  size_t Pos() const { return r_.Position(); }
  size_t Size() const { return r_.Size(); }
  void Seek(size_t pos) { r_.Seek(pos); }
  // A value of 0 to 8 bytes; a wider one fails.
  uint64_t Fixed(int bytes) { return bytes < 0 ? Fail() : r_.Unsigned(size_t(bytes)); }
  // LEB128 of at most 10 bytes.
  uint64_t Uleb() { return r_.ULeb128(); }
  int64_t Sleb() { return r_.SLeb128(); }
  // A zero-terminated string in place (null when it runs past the end).
  const char *CStringInPlace() {
    const size_t start = r_.Position();
    const std::span<const uint8_t> rest = r_.Bytes(r_.Remaining());
    const void *end = rest.empty() ? nullptr : std::memchr(rest.data(), 0, rest.size());
    if (!end) {
      Fail();
      return nullptr;
    }
    r_.Seek(start + size_t(static_cast<const uint8_t *>(end) - rest.data()) + 1);
    return reinterpret_cast<const char *>(rest.data());
  }
  std::string CString() {
    const char *s = CStringInPlace();
    return s ? std::string(s) : std::string();
  }
  void Skip(uint64_t bytes) {
    if (bytes > r_.Remaining())
      Fail();
    else
      r_.Skip(size_t(bytes));
  }

private:
  uint64_t Fail() {
    r_.Skip(r_.Remaining() + 1); // fails, and leaves the position at the end
    return 0;
  }
  kx::ByteReader r_;
};

// The zero-terminated string at offset of a string section; empty when there is none.
std::string StringAt(const uint8_t *data, size_t size, uint64_t offset);

namespace dw {
enum Form : uint32_t {
  DW_FORM_addr = 0x01, DW_FORM_block2 = 0x03, DW_FORM_block4 = 0x04, DW_FORM_data2 = 0x05,
  DW_FORM_data4 = 0x06, DW_FORM_data8 = 0x07, DW_FORM_string = 0x08, DW_FORM_block = 0x09,
  DW_FORM_block1 = 0x0a, DW_FORM_data1 = 0x0b, DW_FORM_flag = 0x0c, DW_FORM_sdata = 0x0d,
  DW_FORM_strp = 0x0e, DW_FORM_udata = 0x0f, DW_FORM_ref_addr = 0x10, DW_FORM_ref1 = 0x11,
  DW_FORM_ref2 = 0x12, DW_FORM_ref4 = 0x13, DW_FORM_ref8 = 0x14, DW_FORM_ref_udata = 0x15,
  DW_FORM_indirect = 0x16, DW_FORM_sec_offset = 0x17, DW_FORM_exprloc = 0x18,
  DW_FORM_flag_present = 0x19, DW_FORM_strx = 0x1a, DW_FORM_addrx = 0x1b, DW_FORM_ref_sup4 = 0x1c,
  DW_FORM_strp_sup = 0x1d, DW_FORM_data16 = 0x1e, DW_FORM_line_strp = 0x1f, DW_FORM_ref_sig8 = 0x20,
  DW_FORM_implicit_const = 0x21, DW_FORM_loclistx = 0x22, DW_FORM_rnglistx = 0x23,
  DW_FORM_ref_sup8 = 0x24, DW_FORM_strx1 = 0x25, DW_FORM_strx2 = 0x26, DW_FORM_strx3 = 0x27,
  DW_FORM_strx4 = 0x28, DW_FORM_addrx1 = 0x29, DW_FORM_addrx2 = 0x2a, DW_FORM_addrx3 = 0x2b,
  DW_FORM_addrx4 = 0x2c, DW_FORM_GNU_addr_index = 0x1f01, DW_FORM_GNU_str_index = 0x1f02,
  DW_FORM_GNU_ref_alt = 0x1f20, DW_FORM_GNU_strp_alt = 0x1f21,
};
} // namespace dw

// What a unit's header fixes for its attribute values.
struct UnitEncoding {
  uint16_t Version = 5;
  uint8_t AddressSize = 4;
  bool Dwarf64 = false;
  int OffsetSize() const { return Dwarf64 ? 8 : 4; }
};

enum class FormClass : uint8_t {
  Address,          // Number: the address
  AddressIndex,     // Number: index into the unit's .debug_addr table
  Constant,         // Number: the value (sdata and implicit_const: two's complement)
  Flag,             // Number: 0 or 1
  Reference,        // Number: offset (unit-relative for ref1..ref_udata)
  SectionOffset,    // Number: offset into the section the attribute names
  ListIndex,        // Number: index into the unit's location or range list offsets
  String,           // Text: in place
  StringOffset,     // Number: offset into .debug_str
  LineStringOffset, // Number: offset into .debug_line_str
  StringIndex,      // Number: index into the string offsets table
  Block,            // stepped over
  Other,            // stepped over (type signatures, supplementary-file references)
};

struct FormValue {
  FormClass Class = FormClass::Other;
  uint64_t Number = 0;
  const char *Text = nullptr;
};

// Reads one attribute value of the given form (implicitConst is the abbreviation's value for
// DW_FORM_implicit_const). False for an unknown form or a value that runs past the end.
bool ReadFormValue(Cursor &c, uint32_t form, const UnitEncoding &unit, int64_t implicitConst,
                   FormValue &value);

} // namespace kesgen
