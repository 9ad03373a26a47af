#include "tools/kesgen/CodeRanges.h"

#include "tools/kesgen/DwarfForms.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <unordered_map>

namespace kesgen {

namespace {

enum : uint32_t {
  DW_TAG_inlined_subroutine = 0x1d,
  DW_TAG_subprogram = 0x2e,
};
enum : uint32_t {
  DW_AT_low_pc = 0x11,
  DW_AT_high_pc = 0x12,
  DW_AT_ranges = 0x55,
  DW_AT_call_line = 0x59,
  DW_AT_addr_base = 0x73,
  DW_AT_rnglists_base = 0x74,
};
enum : uint8_t {
  DW_UT_compile = 1, DW_UT_type = 2, DW_UT_partial = 3, DW_UT_skeleton = 4, DW_UT_split_compile = 5,
  DW_UT_split_type = 6,
};
enum : uint8_t {
  DW_RLE_end_of_list = 0, DW_RLE_base_addressx = 1, DW_RLE_startx_endx = 2, DW_RLE_startx_length = 3,
  DW_RLE_offset_pair = 4, DW_RLE_base_address = 5, DW_RLE_start_end = 6, DW_RLE_start_length = 7,
};

constexpr size_t kMaxDepth = 512;          // far beyond any real nesting of entries
constexpr size_t kMaxListEntries = 1 << 16; // per range list
constexpr uint64_t kDenseCodes = 1 << 16;  // abbreviation codes kept in a vector below this

struct AttributeForm {
  uint32_t Name;
  uint32_t Form;
  int64_t Implicit; // DW_FORM_implicit_const's value
};

struct Abbrev {
  uint32_t Tag = 0;
  bool Children = false;
  bool Defined = false;
  size_t First = 0, Count = 0; // into AbbrevTable::Attributes
};

struct AbbrevTable {
  std::vector<Abbrev> Dense;
  std::unordered_map<uint64_t, Abbrev> Sparse;
  std::vector<AttributeForm> Attributes;

  const Abbrev *Find(uint64_t code) const {
    if (code < Dense.size())
      return Dense[code].Defined ? &Dense[code] : nullptr;
    auto it = Sparse.find(code);
    return it == Sparse.end() ? nullptr : &it->second;
  }
};

// The abbreviation table at offset of .debug_abbrev; false when it runs past the section.
bool ReadAbbrevTable(const Sections &s, uint64_t offset, AbbrevTable &table) {
  if (!s.Abbrev || offset >= s.AbbrevSize)
    return false;
  Cursor c(s.Abbrev, s.AbbrevSize, size_t(offset));
  for (;;) {
    const uint64_t code = c.Uleb();
    if (!c.Ok())
      return false;
    if (code == 0)
      return true;
    Abbrev a;
    a.Tag = uint32_t(c.Uleb());
    a.Children = c.Fixed(1) != 0;
    a.Defined = true;
    a.First = table.Attributes.size();
    for (;;) {
      const uint64_t name = c.Uleb(), form = c.Uleb();
      if (!c.Ok())
        return false;
      if (name == 0 && form == 0)
        break;
      const int64_t implicit = form == dw::DW_FORM_implicit_const ? c.Sleb() : 0;
      // Out-of-range names and forms stay out of range (the form is rejected when read).
      table.Attributes.push_back({uint32_t(std::min<uint64_t>(name, UINT32_MAX)),
                             uint32_t(std::min<uint64_t>(form, UINT32_MAX)), implicit});
    }
    a.Count = table.Attributes.size() - a.First;
    if (code < kDenseCodes) {
      if (table.Dense.size() <= code)
        table.Dense.resize(size_t(code) + 1);
      table.Dense[code] = a;
    } else {
      table.Sparse[code] = a;
    }
  }
}

// What the unit's root entry says for the entries below it.
struct UnitInfo {
  UnitEncoding Encoding;
  uint64_t Base = 0; // DW_AT_low_pc: base address of the range lists
  bool HasAddrBase = false;
  uint64_t AddrBase = 0;
  bool HasRngListsBase = false;
  uint64_t RngListsBase = 0;
};

// The attributes of one entry that matter here.
struct EntryAttributes {
  bool HasLow = false, HasHigh = false, HasRanges = false;
  FormValue Low, High, Ranges;
  uint64_t CallLine = 0;
  bool HasAddrBase = false, HasRngListsBase = false;
  uint64_t AddrBase = 0, RngListsBase = 0;
};

using Range = std::pair<uint64_t, uint64_t>;

class Walker {
public:
  explicit Walker(const Sections &s)
      : s_(s), listBudget_(s.RangesSize + s.RngListsSize + 64) {}

  // Appends the function and outermost inlined-call ranges of the unit over which c runs (from
  // its header on). False (error set) when the unit is damaged.
  bool ReadUnit(Cursor &c, bool dwarf64, CodeRanges &out, std::string &error) {
    UnitInfo u;
    u.Encoding.Dwarf64 = dwarf64;
    const uint64_t version = c.Fixed(2);
    if (!c.Ok() || version < 2 || version > 5) {
      error = "unsupported unit version " + std::to_string(version);
      return false;
    }
    u.Encoding.Version = uint16_t(version);
    uint64_t abbrevOffset = 0;
    if (version >= 5) {
      const uint8_t type = uint8_t(c.Fixed(1));
      u.Encoding.AddressSize = uint8_t(c.Fixed(1));
      abbrevOffset = c.Fixed(u.Encoding.OffsetSize());
      if (type == DW_UT_type || type == DW_UT_split_type)
        return c.Ok(); // type units hold no code
      if (type == DW_UT_skeleton || type == DW_UT_split_compile)
        c.Skip(8); // unit id
      else if (type != DW_UT_compile && type != DW_UT_partial) {
        error = "unknown unit type " + std::to_string(type);
        return false;
      }
    } else {
      abbrevOffset = c.Fixed(u.Encoding.OffsetSize());
      u.Encoding.AddressSize = uint8_t(c.Fixed(1));
    }
    if (!c.Ok()) {
      error = "truncated unit header";
      return false;
    }
    const uint8_t as = u.Encoding.AddressSize;
    if (as != 2 && as != 4 && as != 8) {
      error = "unsupported address size " + std::to_string(as);
      return false;
    }
    const AbbrevTable *table = Abbrevs(abbrevOffset);
    if (!table) {
      error = "abbreviation table at " + Hex(abbrevOffset) + " runs past .debug_abbrev";
      return false;
    }

    // Per open entry with children: whether its children lie in a function with code of its
    // own, and whether they lie inside an inlined call already.
    enum : uint8_t { kInFunction = 1, kInInlined = 2 };
    std::vector<uint8_t> open;
    bool root = true;
    std::vector<Range> ranges;
    while (c.Pos() < c.Size()) {
      const size_t entryOffset = c.Pos();
      const uint64_t code = c.Uleb();
      if (!c.Ok()) {
        error = "truncated entry at " + Hex(entryOffset);
        return false;
      }
      if (code == 0) { // end of siblings (or padding after the root's children)
        if (!open.empty())
          open.pop_back();
        continue;
      }
      const Abbrev *a = table->Find(code);
      if (!a) {
        error = "entry at " + Hex(entryOffset) + " has the unknown abbreviation code " + std::to_string(code);
        return false;
      }
      const uint8_t context = open.empty() ? 0 : open.back();
      const bool outermostCall =
          a->Tag == DW_TAG_inlined_subroutine && (context & kInFunction) && !(context & kInInlined);
      const bool function = a->Tag == DW_TAG_subprogram;
      EntryAttributes e;
      for (size_t k = 0; k < a->Count; ++k) {
        const AttributeForm &form = table->Attributes[a->First + k];
        FormValue v;
        if (!ReadFormValue(c, form.Form, u.Encoding, form.Implicit, v)) {
          error = "entry at " + Hex(entryOffset) + ": attribute " + Hex(form.Name) + " of form " +
                  Hex(form.Form) + (c.Ok() ? " is not understood" : " runs past the unit");
          return false;
        }
        if (!root && !outermostCall && !function)
          continue;
        switch (form.Name) {
        case DW_AT_low_pc: e.HasLow = true, e.Low = v; break;
        case DW_AT_high_pc: e.HasHigh = true, e.High = v; break;
        case DW_AT_ranges: e.HasRanges = true, e.Ranges = v; break;
        case DW_AT_call_line:
          if (v.Class == FormClass::Constant)
            e.CallLine = v.Number;
          break;
        case DW_AT_addr_base:
          e.HasAddrBase = true, e.AddrBase = v.Number;
          break;
        case DW_AT_rnglists_base:
          e.HasRngListsBase = true, e.RngListsBase = v.Number;
          break;
        default: break;
        }
      }
      if (root) {
        root = false;
        u.HasAddrBase = e.HasAddrBase, u.AddrBase = e.AddrBase;
        u.HasRngListsBase = e.HasRngListsBase, u.RngListsBase = e.RngListsBase;
        if (e.HasLow && !AddressOf(e.Low, u, u.Base)) {
          error = "the unit's base address cannot be read";
          return false;
        }
      } else if (outermostCall || function) {
        ranges.clear();
        if (!RangesOf(e, u, ranges, error)) {
          error = "entry at " + Hex(entryOffset) + ": " + error;
          return false;
        }
        const int32_t line = int32_t(std::min<uint64_t>(e.CallLine, std::numeric_limits<int32_t>::max()));
        // Sums of a base and an offset can leave the unit's address width: not our code.
        const uint8_t as = u.Encoding.AddressSize;
        const uint64_t maxAddress = as >= 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * as)) - 1;
        for (const auto &[low, high] : ranges) {
          if (low >= high || high > maxAddress) // empty, or beyond the unit's addresses
            continue;
          if (function)
            out.Functions.push_back({low, high});
          else
            out.Calls.push_back({low, high, line});
        }
      }
      if (a->Children) {
        if (open.size() >= kMaxDepth) {
          error = "entries nested deeper than " + std::to_string(kMaxDepth) + " at " + Hex(entryOffset);
          return false;
        }
        uint8_t children = context;
        if (a->Tag == DW_TAG_subprogram)
          children = kInFunction; // a function of its own, even when nested in another
        else if (a->Tag == DW_TAG_inlined_subroutine)
          children |= kInInlined;
        open.push_back(children);
      }
    }
    return true;
  }

private:
  static std::string Hex(uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
  }

  const AbbrevTable *Abbrevs(uint64_t offset) {
    auto it = abbrevs_.find(offset);
    if (it != abbrevs_.end())
      return &it->second;
    AbbrevTable table;
    if (!ReadAbbrevTable(s_, offset, table))
      return nullptr;
    return &abbrevs_.emplace(offset, std::move(table)).first->second;
  }

  // Entry index of the unit's .debug_addr table.
  bool IndexedAddress(uint64_t index, const UnitInfo &u, uint64_t &address) const {
    const unsigned size = u.Encoding.AddressSize;
    if (!s_.Addr || !u.HasAddrBase || u.AddrBase > s_.AddrSize || index > (s_.AddrSize - u.AddrBase) / size)
      return false;
    Cursor c(s_.Addr, s_.AddrSize, size_t(u.AddrBase + index * size));
    address = c.Fixed(int(size));
    return c.Ok();
  }

  bool AddressOf(const FormValue &v, const UnitInfo &u, uint64_t &address) const {
    if (v.Class == FormClass::Address) {
      address = v.Number;
      return true;
    }
    return v.Class == FormClass::AddressIndex && IndexedAddress(v.Number, u, address);
  }

  bool RangesOf(const EntryAttributes &e, const UnitInfo &u, std::vector<Range> &out, std::string &error) {
    if (e.HasLow && e.HasHigh) {
      uint64_t low = 0, high = 0;
      if (!AddressOf(e.Low, u, low)) {
        error = "low address cannot be read";
        return false;
      }
      if (e.High.Class == FormClass::Constant)
        high = low + e.High.Number; // an offset from the low address
      else if (!AddressOf(e.High, u, high)) {
        error = "high address cannot be read";
        return false;
      }
      out.emplace_back(low, high);
      return true;
    }
    if (!e.HasRanges)
      return true; // no code of its own (an entry point only, or optimised away)
    const bool listOffset = e.Ranges.Class == FormClass::SectionOffset || e.Ranges.Class == FormClass::Constant;
    bool ok = false;
    if (u.Encoding.Version < 5)
      ok = listOffset && ReadRanges(e.Ranges.Number, u, out);
    else if (listOffset)
      ok = ReadRngList(e.Ranges.Number, u, out);
    else if (e.Ranges.Class == FormClass::ListIndex)
      ok = ReadIndexedRngList(e.Ranges.Number, u, out);
    if (!ok)
      error = "range list cannot be read";
    return ok;
  }

  // Counts one list entry against the lists' total size (every entry takes at least a byte):
  // lists that many entries share would otherwise multiply the work.
  bool Spend() { return listBudget_ > 0 ? (--listBudget_, true) : false; }

  // A DWARF 2 to 4 range list: address pairs, (0, 0) ends it, a first address of all ones sets
  // the base.
  bool ReadRanges(uint64_t offset, const UnitInfo &u, std::vector<Range> &out) {
    if (!s_.Ranges || offset >= s_.RangesSize)
      return false;
    const int size = u.Encoding.AddressSize;
    const uint64_t allOnes = size == 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * size)) - 1;
    Cursor c(s_.Ranges, s_.RangesSize, size_t(offset));
    uint64_t base = u.Base;
    for (size_t n = 0; n < kMaxListEntries && Spend(); ++n) {
      const uint64_t a = c.Fixed(size), b = c.Fixed(size);
      if (!c.Ok())
        return false;
      if (a == 0 && b == 0)
        return true;
      if (a == allOnes)
        base = b;
      else
        out.emplace_back(base + a, base + b);
    }
    return false;
  }

  // A DWARF 5 range list named by its index in the unit's offset table.
  bool ReadIndexedRngList(uint64_t index, const UnitInfo &u, std::vector<Range> &out) {
    const int size = u.Encoding.OffsetSize();
    if (!s_.RngLists || !u.HasRngListsBase || u.RngListsBase > s_.RngListsSize ||
        index > (s_.RngListsSize - u.RngListsBase) / size)
      return false;
    Cursor c(s_.RngLists, s_.RngListsSize, size_t(u.RngListsBase + index * size));
    const uint64_t offset = c.Fixed(size);
    return c.Ok() && offset <= s_.RngListsSize - u.RngListsBase &&
           ReadRngList(u.RngListsBase + offset, u, out);
  }

  bool ReadRngList(uint64_t offset, const UnitInfo &u, std::vector<Range> &out) {
    if (!s_.RngLists || offset >= s_.RngListsSize)
      return false;
    const int size = u.Encoding.AddressSize;
    Cursor c(s_.RngLists, s_.RngListsSize, size_t(offset));
    uint64_t base = u.Base;
    for (size_t n = 0; n < kMaxListEntries && Spend(); ++n) {
      const uint8_t kind = uint8_t(c.Fixed(1));
      uint64_t a = 0, b = 0;
      bool ok = c.Ok();
      switch (kind) {
      case DW_RLE_end_of_list: return ok;
      case DW_RLE_base_addressx: ok = IndexedAddress(c.Uleb(), u, base); break;
      case DW_RLE_startx_endx:
        ok = IndexedAddress(c.Uleb(), u, a) && IndexedAddress(c.Uleb(), u, b);
        out.emplace_back(a, b);
        break;
      case DW_RLE_startx_length:
        ok = IndexedAddress(c.Uleb(), u, a);
        out.emplace_back(a, a + c.Uleb());
        break;
      case DW_RLE_offset_pair:
        a = c.Uleb();
        b = c.Uleb();
        out.emplace_back(base + a, base + b);
        break;
      case DW_RLE_base_address: base = c.Fixed(size); break;
      case DW_RLE_start_end:
        a = c.Fixed(size);
        b = c.Fixed(size);
        out.emplace_back(a, b);
        break;
      case DW_RLE_start_length:
        a = c.Fixed(size);
        out.emplace_back(a, a + c.Uleb());
        break;
      default: return false;
      }
      if (!ok || !c.Ok())
        return false;
    }
    return false;
  }

  const Sections &s_;
  size_t listBudget_;
  std::unordered_map<uint64_t, AbbrevTable> abbrevs_;
};

} // namespace

CodeRanges ReadCodeRanges(const Sections &s, std::string &error) {
  CodeRanges all;
  if (!s.Info || s.InfoSize == 0)
    return all;
  Walker walker(s);
  Cursor c(s.Info, s.InfoSize);
  while (c.Ok() && c.Pos() < s.InfoSize) {
    const size_t unitOffset = c.Pos();
    uint64_t length = c.Fixed(4);
    bool dwarf64 = false;
    if (length == 0xFFFFFFFFu) {
      dwarf64 = true;
      length = c.Fixed(8);
    }
    std::string why;
    if (!c.Ok() || (!dwarf64 && length >= 0xFFFFFFF0u) || length > s.InfoSize - c.Pos()) {
      why = "its length runs past the end of .debug_info";
    } else {
      const size_t end = c.Pos() + size_t(length);
      Cursor unit(s.Info, end, c.Pos());
      CodeRanges found;
      if (walker.ReadUnit(unit, dwarf64, found, why)) {
        all.Functions.insert(all.Functions.end(), found.Functions.begin(), found.Functions.end());
        all.Calls.insert(all.Calls.end(), found.Calls.begin(), found.Calls.end());
        c.Seek(end);
        continue;
      }
    }
    char at[24];
    std::snprintf(at, sizeof at, "0x%zx", unitOffset);
    error = std::string("unit at ") + at + " of .debug_info: " + why;
    break;
  }
  std::sort(all.Calls.begin(), all.Calls.end(), [](const InlinedCall &a, const InlinedCall &b) {
    return a.Low != b.Low ? a.Low < b.Low : a.High < b.High;
  });
  std::sort(all.Functions.begin(), all.Functions.end(), [](const CodeRange &a, const CodeRange &b) {
    return a.Low != b.Low ? a.Low < b.Low : a.High < b.High;
  });
  std::vector<CodeRange> joined;
  for (const CodeRange &r : all.Functions) {
    if (!joined.empty() && r.Low <= joined.back().High)
      joined.back().High = std::max(joined.back().High, r.High);
    else
      joined.push_back(r);
  }
  all.Functions = std::move(joined);
  return all;
}

} // namespace kesgen
