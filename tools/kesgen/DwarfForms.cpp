#include "tools/kesgen/DwarfForms.h"

namespace kesgen {

std::string StringAt(const uint8_t *data, size_t size, uint64_t offset) {
  if (!data || offset >= size)
    return {};
  const void *end = std::memchr(data + offset, 0, size - offset);
  if (!end)
    return {};
  return std::string(reinterpret_cast<const char *>(data + offset));
}

bool ReadFormValue(Cursor &c, uint32_t form, const UnitEncoding &unit, int64_t implicitConst,
                   FormValue &value) {
  using namespace dw;
  value = FormValue();
  auto set = [&](FormClass cls, uint64_t number) {
    value.Class = cls;
    value.Number = number;
    return c.Ok();
  };
  // DW_FORM_indirect names the form in the data; an indirect form naming itself is malformed.
  for (int hop = 0; form == DW_FORM_indirect; ++hop) {
    if (hop > 0)
      return false;
    form = uint32_t(c.Uleb());
    if (!c.Ok())
      return false;
  }
  const int offsetSize = unit.OffsetSize();
  switch (form) {
  case DW_FORM_addr: return set(FormClass::Address, c.Fixed(unit.AddressSize));
  case DW_FORM_addrx:
  case DW_FORM_GNU_addr_index: return set(FormClass::AddressIndex, c.Uleb());
  case DW_FORM_addrx1: return set(FormClass::AddressIndex, c.Fixed(1));
  case DW_FORM_addrx2: return set(FormClass::AddressIndex, c.Fixed(2));
  case DW_FORM_addrx3: return set(FormClass::AddressIndex, c.Fixed(3));
  case DW_FORM_addrx4: return set(FormClass::AddressIndex, c.Fixed(4));
  case DW_FORM_data1: return set(FormClass::Constant, c.Fixed(1));
  case DW_FORM_data2: return set(FormClass::Constant, c.Fixed(2));
  case DW_FORM_data4: return set(FormClass::Constant, c.Fixed(4));
  case DW_FORM_data8: return set(FormClass::Constant, c.Fixed(8));
  case DW_FORM_data16: c.Skip(16); return set(FormClass::Block, 0);
  case DW_FORM_sdata: return set(FormClass::Constant, uint64_t(c.Sleb()));
  case DW_FORM_udata: return set(FormClass::Constant, c.Uleb());
  case DW_FORM_implicit_const: return set(FormClass::Constant, uint64_t(implicitConst));
  case DW_FORM_flag: return set(FormClass::Flag, c.Fixed(1) != 0);
  case DW_FORM_flag_present: return set(FormClass::Flag, 1);
  case DW_FORM_block1: c.Skip(c.Fixed(1)); return set(FormClass::Block, 0);
  case DW_FORM_block2: c.Skip(c.Fixed(2)); return set(FormClass::Block, 0);
  case DW_FORM_block4: c.Skip(c.Fixed(4)); return set(FormClass::Block, 0);
  case DW_FORM_block:
  case DW_FORM_exprloc: c.Skip(c.Uleb()); return set(FormClass::Block, 0);
  case DW_FORM_string:
    value.Text = c.CStringInPlace();
    return set(FormClass::String, 0);
  case DW_FORM_strp: return set(FormClass::StringOffset, c.Fixed(offsetSize));
  case DW_FORM_line_strp: return set(FormClass::LineStringOffset, c.Fixed(offsetSize));
  case DW_FORM_strx:
  case DW_FORM_GNU_str_index: return set(FormClass::StringIndex, c.Uleb());
  case DW_FORM_strx1: return set(FormClass::StringIndex, c.Fixed(1));
  case DW_FORM_strx2: return set(FormClass::StringIndex, c.Fixed(2));
  case DW_FORM_strx3: return set(FormClass::StringIndex, c.Fixed(3));
  case DW_FORM_strx4: return set(FormClass::StringIndex, c.Fixed(4));
  case DW_FORM_ref1: return set(FormClass::Reference, c.Fixed(1));
  case DW_FORM_ref2: return set(FormClass::Reference, c.Fixed(2));
  case DW_FORM_ref4: return set(FormClass::Reference, c.Fixed(4));
  case DW_FORM_ref8: return set(FormClass::Reference, c.Fixed(8));
  case DW_FORM_ref_udata: return set(FormClass::Reference, c.Uleb());
  // DWARF 2 wrote section references in the size of an address.
  case DW_FORM_ref_addr: return set(FormClass::Reference, c.Fixed(unit.Version <= 2 ? unit.AddressSize : offsetSize));
  case DW_FORM_sec_offset: return set(FormClass::SectionOffset, c.Fixed(offsetSize));
  case DW_FORM_loclistx:
  case DW_FORM_rnglistx: return set(FormClass::ListIndex, c.Uleb());
  case DW_FORM_ref_sig8: c.Skip(8); return set(FormClass::Other, 0);
  case DW_FORM_ref_sup4: c.Skip(4); return set(FormClass::Other, 0);
  case DW_FORM_ref_sup8: c.Skip(8); return set(FormClass::Other, 0);
  case DW_FORM_strp_sup:
  case DW_FORM_GNU_ref_alt:
  case DW_FORM_GNU_strp_alt: c.Skip(offsetSize); return set(FormClass::Other, 0);
  default: return false;
  }
}

} // namespace kesgen
