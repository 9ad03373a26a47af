#pragma once
// Debugging-information entries of two units, built byte by byte, with the function and
// outermost inlined-call ranges a reader has to find in them.
//
// Unit 1, DWARF 5 (base 0x401000, .debug_addr and .debug_rnglists through their bases):
//   subprogram        [401000, 401100)
//     variable        (string and expression forms to step over)
//     inlined         [401010, 401020) call line 10
//       inlined       [401012, 401018) call line 500   nested: not outermost
//     lexical_block   [401030, 401060) (low address by index into .debug_addr)
//       inlined       range list index 0: [401040, 401048) [401050, 401054), call line 20
//   subprogram        no code (an abstract instance)
//     inlined         no code                          nothing to record
//   subprogram        [401110, 401200)
//     inlined         [401180, 401190) call line 30
// Unit 2, DWARF 4 (base 0x402000, .debug_ranges):
//   subprogram        [402000, 402100)
//     inlined         .debug_ranges: [402010, 402020), base 402080, [402080, 402088); call line 7
//       subprogram    [402100, 402140)                 a function of its own in there
//         inlined     [402100, 402110) call line 3
#include <cstddef>
#include <cstdint>
#include <vector>

namespace debuginfo_sample {

struct Bytes {
  std::vector<uint8_t> B;
  Bytes &U8(uint64_t v) { return B.push_back(uint8_t(v)), *this; }
  Bytes &U16(uint64_t v) { return U8(v).U8(v >> 8); }
  Bytes &U32(uint64_t v) { return U16(v).U16(v >> 16); }
  Bytes &Uleb(uint64_t v) {
    do {
      uint8_t b = v & 0x7F;
      v >>= 7;
      U8(v ? b | 0x80 : b);
    } while (v);
    return *this;
  }
  Bytes &Sleb(int64_t v) {
    for (bool more = true; more;) {
      uint8_t b = v & 0x7F;
      v >>= 7;
      more = !((v == 0 && !(b & 0x40)) || (v == -1 && (b & 0x40)));
      U8(more ? b | 0x80 : b);
    }
    return *this;
  }
  Bytes &Str(const char *s) {
    while (*s)
      U8(uint8_t(*s++));
    return U8(0);
  }
  Bytes &Raw(const std::vector<uint8_t> &v) {
    B.insert(B.end(), v.begin(), v.end());
    return *this;
  }
};

struct Sample {
  std::vector<uint8_t> Info, Abbrev, Ranges, RngLists, Addr;
  size_t Unit2Offset = 0; // where the second unit starts in Info
};

enum : uint32_t {
  TAG_compile_unit = 0x11, TAG_subprogram = 0x2e, TAG_inlined = 0x1d, TAG_lexical_block = 0x0b,
  TAG_variable = 0x34,
  AT_name = 0x03, AT_location = 0x02, AT_low_pc = 0x11, AT_high_pc = 0x12, AT_ranges = 0x55,
  AT_call_file = 0x58, AT_call_line = 0x59, AT_addr_base = 0x73, AT_rnglists_base = 0x74,
  AT_inline = 0x20,
  FORM_addr = 0x01, FORM_data1 = 0x0b, FORM_data2 = 0x05, FORM_data4 = 0x06, FORM_string = 0x08,
  FORM_udata = 0x0f, FORM_sec_offset = 0x17, FORM_exprloc = 0x18, FORM_addrx = 0x1b,
  FORM_implicit_const = 0x21, FORM_rnglistx = 0x23,
};

inline Sample Build() {
  Sample s;
  Bytes abbrev;
  auto entry = [&](uint32_t code, uint32_t tag, bool children,
                   std::vector<std::pair<uint32_t, uint32_t>> attrs, int64_t implicit = 0) {
    abbrev.Uleb(code).Uleb(tag).U8(children);
    for (auto [name, form] : attrs) {
      abbrev.Uleb(name).Uleb(form);
      if (form == FORM_implicit_const)
        abbrev.Sleb(implicit);
    }
    abbrev.U8(0).U8(0);
  };
  // Table of unit 1 at offset 0.
  entry(1, TAG_compile_unit, true,
        {{AT_low_pc, FORM_addr}, {AT_high_pc, FORM_data4}, {AT_addr_base, FORM_sec_offset},
         {AT_rnglists_base, FORM_sec_offset}});
  entry(2, TAG_subprogram, true, {{AT_low_pc, FORM_addr}, {AT_high_pc, FORM_data4}});
  entry(3, TAG_variable, false, {{AT_name, FORM_string}, {AT_location, FORM_exprloc}});
  entry(4, TAG_inlined, true,
        {{AT_low_pc, FORM_addr}, {AT_high_pc, FORM_data4}, {AT_call_file, FORM_implicit_const},
         {AT_call_line, FORM_data2}},
        1);
  entry(5, TAG_lexical_block, true, {{AT_low_pc, FORM_addrx}, {AT_high_pc, FORM_data1}});
  entry(6, TAG_inlined, false, {{AT_ranges, FORM_rnglistx}, {AT_call_line, FORM_udata}});
  entry(7, TAG_subprogram, true, {{AT_name, FORM_string}, {AT_inline, FORM_data1}});
  entry(8, TAG_inlined, false, {{AT_call_line, FORM_data1}});
  abbrev.U8(0);
  const size_t table2 = abbrev.B.size();
  entry(1, TAG_compile_unit, true, {{AT_low_pc, FORM_addr}});
  entry(2, TAG_subprogram, true, {{AT_low_pc, FORM_addr}, {AT_high_pc, FORM_addr}});
  entry(3, TAG_inlined, true, {{AT_ranges, FORM_sec_offset}, {AT_call_line, FORM_data1}});
  entry(4, TAG_subprogram, true, {{AT_low_pc, FORM_addr}, {AT_high_pc, FORM_data4}});
  entry(5, TAG_inlined, false, {{AT_low_pc, FORM_addr}, {AT_high_pc, FORM_data4}, {AT_call_line, FORM_data1}});
  abbrev.U8(0);
  s.Abbrev = abbrev.B;

  // .debug_addr: header (length, version 5, address size 4, segment size 0), then the table.
  Bytes addr;
  addr.U32(12).U16(5).U8(4).U8(0).U32(0x401100).U32(0x401030).U32(0x401050);
  s.Addr = addr.B;
  // .debug_rnglists: header (length, version, address size, segment size, one offset), the
  // offset table, then the list: an offset pair from the unit's base, and a start (by index into
  // .debug_addr) and length.
  Bytes lists;
  Bytes list;
  list.U8(4).Uleb(0x40).Uleb(0x48).U8(3).Uleb(2).Uleb(4).U8(0);
  lists.U32(uint32_t(8 + 4 + list.B.size())).U16(5).U8(4).U8(0).U32(1).U32(4).Raw(list.B);
  s.RngLists = lists.B;
  // .debug_ranges: a pair from the unit's base, a base selection, a pair, the end.
  Bytes ranges;
  ranges.U32(0x10).U32(0x20).U32(0xFFFFFFFF).U32(0x402080).U32(0).U32(8).U32(0).U32(0);
  s.Ranges = ranges.B;

  Bytes dies1;
  dies1.Uleb(1).U32(0x401000).U32(0x1000).U32(8).U32(12);
  dies1.Uleb(2).U32(0x401000).U32(0x100);
  dies1.Uleb(3).Str("x").Uleb(2).U8(0x91).U8(0x08);
  dies1.Uleb(4).U32(0x401010).U32(0x10).U16(10);
  dies1.Uleb(4).U32(0x401012).U32(0x6).U16(500).U8(0);
  dies1.U8(0);
  dies1.Uleb(5).Uleb(1).U8(0x30);
  dies1.Uleb(6).Uleb(0).Uleb(20);
  dies1.U8(0);
  dies1.U8(0); // end of the first subprogram's children
  dies1.Uleb(7).Str("Abstract").U8(1);
  dies1.Uleb(8).U8(40);
  dies1.U8(0);
  dies1.Uleb(2).U32(0x401110).U32(0xF0);
  dies1.Uleb(4).U32(0x401180).U32(0x10).U16(30).U8(0);
  dies1.U8(0);
  dies1.U8(0); // end of the unit's children
  Bytes unit1;
  unit1.U32(uint32_t(2 + 1 + 1 + 4 + dies1.B.size())).U16(5).U8(1 /* DW_UT_compile */).U8(4).U32(0).Raw(dies1.B);

  Bytes dies2;
  dies2.Uleb(1).U32(0x402000);
  dies2.Uleb(2).U32(0x402000).U32(0x402100);
  dies2.Uleb(3).U32(0).U8(7);
  dies2.Uleb(4).U32(0x402100).U32(0x40);
  dies2.Uleb(5).U32(0x402100).U32(0x10).U8(3);
  dies2.U8(0);
  dies2.U8(0);
  dies2.U8(0);
  dies2.U8(0);
  Bytes unit2;
  unit2.U32(uint32_t(2 + 4 + 1 + dies2.B.size())).U16(4).U32(uint32_t(table2)).U8(4).Raw(dies2.B);

  s.Info = unit1.B;
  s.Unit2Offset = s.Info.size();
  s.Info.insert(s.Info.end(), unit2.B.begin(), unit2.B.end());
  return s;
}

// The sections packed into one buffer for the fuzz target: four 16-bit lengths (abbreviations,
// .debug_ranges, .debug_rnglists, .debug_addr), those sections, then .debug_info to the end.
inline std::vector<uint8_t> Packed(const Sample &s) {
  Bytes b;
  b.U16(s.Abbrev.size()).U16(s.Ranges.size()).U16(s.RngLists.size()).U16(s.Addr.size());
  b.Raw(s.Abbrev).Raw(s.Ranges).Raw(s.RngLists).Raw(s.Addr).Raw(s.Info);
  return b.B;
}

} // namespace debuginfo_sample
