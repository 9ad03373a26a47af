#include "ExeDebugInfo.h"

#include "ByteStream.h"
#include "Crc32.h"
#include "SymbolNames.h"

#include <algorithm>
#include <cstring>
#include <map>

using debuginfo::PeImage;
using debuginfo::PeSection;

namespace kesgen {

namespace {

// Bounds-checked reader over one section.
class Cursor {
public:
  Cursor(const uint8_t *data, size_t size, size_t pos = 0) : d_(data), n_(size), p_(pos) {}
  bool Ok() const { return ok_; }
  size_t Pos() const { return p_; }
  void Seek(size_t pos) {
    if (pos > n_)
      ok_ = false;
    p_ = std::min(pos, n_);
  }
  uint64_t Fixed(int bytes) {
    if (n_ - p_ < size_t(bytes)) {
      ok_ = false;
      p_ = n_;
      return 0;
    }
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
      v |= uint64_t(d_[p_ + i]) << (8 * i);
    p_ += bytes;
    return v;
  }
  uint64_t Uleb() {
    uint64_t v = 0;
    for (int shift = 0;; shift += 7) {
      uint8_t b = uint8_t(Fixed(1));
      if (!ok_)
        return 0;
      if (shift < 64)
        v |= uint64_t(b & 0x7F) << shift;
      if (!(b & 0x80))
        return v;
    }
  }
  int64_t Sleb() {
    int64_t v = 0;
    int shift = 0;
    uint8_t b;
    do {
      b = uint8_t(Fixed(1));
      if (!ok_)
        return 0;
      if (shift < 64)
        v |= int64_t(b & 0x7F) << shift;
      shift += 7;
    } while (b & 0x80);
    if (shift < 64 && (b & 0x40))
      v |= -(int64_t(1) << shift);
    return v;
  }
  std::string CString() {
    const void *end = p_ < n_ ? std::memchr(d_ + p_, 0, n_ - p_) : nullptr;
    if (!end) {
      ok_ = false;
      p_ = n_;
      return {};
    }
    std::string s(reinterpret_cast<const char *>(d_ + p_));
    p_ += s.size() + 1;
    return s;
  }
  void Skip(uint64_t bytes) {
    if (bytes > n_ - p_) {
      ok_ = false;
      p_ = n_;
    } else {
      p_ += size_t(bytes);
    }
  }

private:
  const uint8_t *d_;
  size_t n_;
  size_t p_;
  bool ok_ = true;
};

std::string StringAt(const uint8_t *data, size_t size, uint64_t offset) {
  if (!data || offset >= size)
    return {};
  const void *end = std::memchr(data + offset, 0, size - offset);
  if (!end)
    return {};
  return std::string(reinterpret_cast<const char *>(data + offset));
}

enum : uint32_t {
  DW_FORM_block = 0x09, DW_FORM_block1 = 0x0a, DW_FORM_data1 = 0x0b, DW_FORM_data2 = 0x05,
  DW_FORM_data4 = 0x06, DW_FORM_data8 = 0x07, DW_FORM_data16 = 0x1e, DW_FORM_string = 0x08,
  DW_FORM_strp = 0x0e, DW_FORM_udata = 0x0f, DW_FORM_sdata = 0x0d, DW_FORM_line_strp = 0x1f,
};
enum : uint32_t { DW_LNCT_path = 1, DW_LNCT_directory_index = 2 };

// Reads one attribute value of a v5 entry format: strings come back in text, numbers in number.
bool ReadForm(Cursor &c, uint32_t form, bool dwarf64, const Sections &s, std::string &text,
              uint64_t &number) {
  switch (form) {
  case DW_FORM_string: text = c.CString(); return c.Ok();
  case DW_FORM_line_strp: text = StringAt(s.LineStr, s.LineStrSize, c.Fixed(dwarf64 ? 8 : 4)); return c.Ok();
  case DW_FORM_strp: text = StringAt(s.Str, s.StrSize, c.Fixed(dwarf64 ? 8 : 4)); return c.Ok();
  case DW_FORM_udata: number = c.Uleb(); return c.Ok();
  case DW_FORM_sdata: number = uint64_t(c.Sleb()); return c.Ok();
  case DW_FORM_data1: number = c.Fixed(1); return c.Ok();
  case DW_FORM_data2: number = c.Fixed(2); return c.Ok();
  case DW_FORM_data4: number = c.Fixed(4); return c.Ok();
  case DW_FORM_data8: number = c.Fixed(8); return c.Ok();
  case DW_FORM_data16: c.Skip(16); return c.Ok();
  case DW_FORM_block: c.Skip(c.Uleb()); return c.Ok();
  case DW_FORM_block1: c.Skip(c.Fixed(1)); return c.Ok();
  default: return false;
  }
}

std::string Join(const std::string &dir, const std::string &name) {
  if (name.empty() || name[0] == '/' || dir.empty())
    return name;
  return dir + "/" + name;
}

bool ReadProgram(Cursor &c, uint64_t end, bool dwarf64, const Sections &s, LineProgram &prog,
                 std::string &error) {
  uint32_t version = uint32_t(c.Fixed(2));
  if (version < 2 || version > 5) {
    error = "unsupported line table version " + std::to_string(version);
    return false;
  }
  if (version >= 5) {
    c.Fixed(1); // address size
    c.Fixed(1); // segment selector size
  }
  uint64_t headerLength = c.Fixed(dwarf64 ? 8 : 4);
  const size_t programStart = c.Pos() + size_t(headerLength);
  uint32_t minInst = uint32_t(c.Fixed(1));
  if (version >= 4)
    c.Fixed(1); // maximum operations per instruction (1 outside VLIW targets)
  bool defaultIsStmt = c.Fixed(1) != 0;
  int32_t lineBase = int8_t(c.Fixed(1));
  uint32_t lineRange = uint32_t(c.Fixed(1));
  uint32_t opcodeBase = uint32_t(c.Fixed(1));
  if (!c.Ok() || lineRange == 0 || opcodeBase == 0) {
    error = "malformed line table header";
    return false;
  }
  std::vector<uint8_t> opLengths(opcodeBase, 0);
  for (uint32_t i = 1; i < opcodeBase; ++i)
    opLengths[i] = uint8_t(c.Fixed(1));

  std::vector<std::string> dirs;
  if (version >= 5) {
    auto readEntries = [&](bool files) {
      uint32_t formatCount = uint32_t(c.Fixed(1));
      std::vector<std::pair<uint64_t, uint64_t>> formats;
      for (uint32_t i = 0; i < formatCount && c.Ok(); ++i) {
        uint64_t type = c.Uleb();
        formats.emplace_back(type, c.Uleb());
      }
      uint64_t count = c.Uleb();
      for (uint64_t i = 0; i < count && c.Ok(); ++i) {
        std::string path;
        uint64_t dirIndex = 0;
        for (auto [type, form] : formats) {
          std::string text;
          uint64_t number = 0;
          if (!ReadForm(c, uint32_t(form), dwarf64, s, text, number))
            return false;
          if (type == DW_LNCT_path)
            path = text;
          else if (type == DW_LNCT_directory_index)
            dirIndex = number;
        }
        if (!files) {
          dirs.push_back(dirs.empty() ? path : Join(dirs[0], path));
        } else {
          std::string dir = dirIndex < dirs.size() ? dirs[dirIndex] : std::string();
          prog.Files.push_back(NormalisePath(Join(dir, path)));
        }
      }
      return c.Ok();
    };
    if (!readEntries(false) || !readEntries(true)) {
      error = "malformed v5 directory or file table";
      return false;
    }
  } else {
    dirs.push_back(""); // index 0: the compilation directory, unknown here
    while (c.Ok()) {
      std::string dir = c.CString();
      if (dir.empty())
        break;
      dirs.push_back(dir);
    }
    prog.Files.push_back(""); // files are numbered from 1
    while (c.Ok()) {
      std::string name = c.CString();
      if (name.empty())
        break;
      uint64_t dirIndex = c.Uleb();
      c.Uleb();
      c.Uleb();
      prog.Files.push_back(NormalisePath(Join(dirIndex < dirs.size() ? dirs[dirIndex] : "", name)));
    }
  }
  if (!c.Ok() || programStart > end) {
    error = "malformed line table header";
    return false;
  }
  c.Seek(programStart);

  uint64_t address = 0;
  uint32_t file = 1;
  int64_t line = 1;
  bool isStmt = defaultIsStmt;
  auto reset = [&] {
    address = 0;
    file = 1;
    line = 1;
    isStmt = defaultIsStmt;
  };
  auto emit = [&](bool endSequence) {
    prog.Rows.push_back({uint32_t(address), file, int32_t(line), isStmt, endSequence});
  };
  while (c.Ok() && c.Pos() < end) {
    uint32_t op = uint32_t(c.Fixed(1));
    if (op >= opcodeBase) {
      uint32_t adj = op - opcodeBase;
      address += uint64_t(adj / lineRange) * minInst;
      line += lineBase + int32_t(adj % lineRange);
      emit(false);
      continue;
    }
    switch (op) {
    case 0: {
      uint64_t len = c.Uleb();
      size_t next = c.Pos() + size_t(len);
      if (len == 0 || next > end) {
        error = "malformed extended opcode";
        return false;
      }
      uint32_t sub = uint32_t(c.Fixed(1));
      if (sub == 1) {
        emit(true);
        reset();
      } else if (sub == 2) {
        address = c.Fixed(int(std::min<uint64_t>(len - 1, 8)));
      }
      c.Seek(next);
      break;
    }
    case 1: emit(false); break;
    case 2: address += c.Uleb() * minInst; break;
    case 3: line += c.Sleb(); break;
    case 4: file = uint32_t(c.Uleb()); break;
    case 5: c.Uleb(); break;
    case 6: isStmt = !isStmt; break;
    case 7: break;
    case 8: address += uint64_t((255 - opcodeBase) / lineRange) * minInst; break;
    case 9: address += c.Fixed(2); break;
    case 10: case 11: break;
    case 12: c.Uleb(); break;
    default:
      for (uint32_t i = 0; i < opLengths[op]; ++i)
        c.Uleb();
    }
  }
  if (!c.Ok()) {
    error = "line program runs past its end";
    return false;
  }
  return true;
}

std::string Stem(const std::string &path) {
  size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

} // namespace

std::string NormalisePath(const std::string &path) {
  std::vector<std::string> parts;
  size_t i = 0;
  const bool absolute = !path.empty() && path[0] == '/';
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos)
      j = path.size();
    std::string part = path.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..")
        parts.pop_back();
      else if (!absolute)
        parts.push_back(part);
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string out = absolute ? "/" : "";
  for (size_t k = 0; k < parts.size(); ++k)
    out += (k ? "/" : "") + parts[k];
  return out;
}

std::vector<LineProgram> ReadLinePrograms(const Sections &s, std::string &error) {
  std::vector<LineProgram> programs;
  Cursor c(s.Line, s.LineSize);
  while (c.Ok() && c.Pos() + 4 <= s.LineSize) {
    uint64_t length = c.Fixed(4);
    bool dwarf64 = false;
    if (length == 0xFFFFFFFFu) {
      dwarf64 = true;
      length = c.Fixed(8);
    }
    if (!c.Ok() || length > s.LineSize - c.Pos()) {
      error = "line table length past the section end";
      break;
    }
    const size_t end = c.Pos() + size_t(length);
    LineProgram prog;
    Cursor unit(s.Line, end, c.Pos());
    if (!ReadProgram(unit, end, dwarf64, s, prog, error))
      break;
    programs.push_back(std::move(prog));
    c.Seek(end);
  }
  return programs;
}

std::vector<CoffFunction> ReadCoffFunctions(const uint8_t *file, size_t size, const PeImage &pe) {
  std::vector<CoffFunction> out;
  const uint64_t table = pe.PointerToSymbolTable;
  const uint64_t count = pe.NumberOfSymbols;
  if (!table || table + count * 18 > size)
    return out;
  const uint64_t strings = table + count * 18;
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t *sym = file + table + i * 18;
    uint32_t value = sym[8] | sym[9] << 8 | sym[10] << 16 | uint32_t(sym[11]) << 24;
    int16_t sectionNumber = int16_t(sym[12] | sym[13] << 8);
    uint16_t type = uint16_t(sym[14] | sym[15] << 8);
    uint8_t storage = sym[16];
    uint8_t aux = sym[17];
    if ((type & 0xF0) == 0x20 && (storage == 2 || storage == 3) && sectionNumber >= 1 &&
        size_t(sectionNumber) <= pe.Sections.size() &&
        (pe.Sections[sectionNumber - 1].Characteristics & debuginfo::kSectionCode)) {
      std::string name;
      if (sym[0] == 0 && sym[1] == 0 && sym[2] == 0 && sym[3] == 0) {
        uint32_t offset = sym[4] | sym[5] << 8 | sym[6] << 16 | uint32_t(sym[7]) << 24;
        name = StringAt(file, size, strings + offset);
      } else {
        name.assign(reinterpret_cast<const char *>(sym), strnlen(reinterpret_cast<const char *>(sym), 8));
      }
      if (!name.empty())
        out.push_back({pe.ImageBase + pe.Sections[sectionNumber - 1].VirtualAddress + value, name});
    }
    i += aux;
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const CoffFunction &a, const CoffFunction &b) { return a.Address < b.Address; });
  return out;
}

bool BuildModel(const std::vector<uint8_t> &exe, const Options &options, TMapFile &model,
                Stats &stats, std::string &error) {
  auto pe = PeImage::Parse(exe.data(), exe.size());
  if (!pe || pe->Pe32Plus) {
    error = "not a 32-bit PE image";
    return false;
  }
  model.SetBounds(*pe, pe->ImageBase);
  model.SetEntryPoint(pe->AddressOfEntryPoint ? pe->ImageBase + pe->AddressOfEntryPoint : 0);

  Sections dw;
  for (const PeSection &sec : pe->Sections) {
    const std::string &name = sec.Name; // long names come resolved
    if (uint64_t(sec.PointerToRawData) + sec.SizeOfRawData > exe.size())
      continue;
    const uint8_t *data = exe.data() + sec.PointerToRawData;
    size_t size = std::min(sec.SizeOfRawData, sec.VirtualSize ? sec.VirtualSize : sec.SizeOfRawData);
    if (name == ".debug_line")
      dw.Line = data, dw.LineSize = size;
    else if (name == ".debug_line_str")
      dw.LineStr = data, dw.LineStrSize = size;
    else if (name == ".debug_str")
      dw.Str = data, dw.StrSize = size;
  }
  if (!dw.Line) {
    error = "no DWARF line table (.debug_line); link with -g and without -s";
    return false;
  }
  std::vector<CoffFunction> functions = ReadCoffFunctions(exe.data(), exe.size(), *pe);
  if (functions.empty()) {
    error = "no COFF function symbols; the image is stripped";
    return false;
  }
  // Aliases (constructor and destructor variants) share an address: keep the first.
  functions.erase(std::unique(functions.begin(), functions.end(),
                              [](const CoffFunction &a, const CoffFunction &b) { return a.Address == b.Address; }),
                  functions.end());
  std::vector<LineProgram> programs = ReadLinePrograms(dw, error);
  if (programs.empty())
    return false;
  error.clear();

  std::string root = NormalisePath(options.SourceRoot);
  if (!root.empty() && root.back() != '/')
    root += '/';
  auto own = [&](const std::string &path) { return !root.empty() && path.starts_with(root); };

  std::vector<std::pair<int32_t, uint32_t>> lines;
  std::map<std::string, int> units;
  std::vector<bool> isOwn(functions.size(), false);
  for (const LineProgram &prog : programs) {
    size_t first = 0;
    for (size_t i = 0; i < prog.Rows.size(); ++i) {
      if (!prog.Rows[i].EndSequence)
        continue;
      // One sequence: rows [first, i), ending at Rows[i].Address.
      const uint32_t seqStart = prog.Rows[first].Address, seqEnd = prog.Rows[i].Address;
      auto f = std::lower_bound(functions.begin(), functions.end(), seqStart,
                                [](const CoffFunction &c, uint32_t a) { return c.Address < a; });
      size_t row = first;
      for (; f != functions.end() && f->Address < seqEnd; ++f) {
        const uint32_t fs = f->Address;
        const uint32_t fe = (f + 1 != functions.end() && (f + 1)->Address < seqEnd) ? (f + 1)->Address : seqEnd;
        while (row < i && prog.Rows[row].Address < fs)
          ++row;
        if (row >= i || prog.Rows[row].Address >= fe)
          continue;
        const uint32_t fileIndex = prog.Rows[row].File;
        if (fileIndex >= prog.Files.size() || !own(prog.Files[fileIndex]))
          continue;
        std::string unit = Stem(prog.Files[fileIndex]);
        model.AddSegment(true, fs, fe - fs, unit, true);
        units[unit]++;
        isOwn[f - functions.begin()] = true;
        for (; row < i && prog.Rows[row].Address < fe; ++row) {
          const LineRow &r = prog.Rows[row];
          if (r.File == fileIndex && (r.IsStmt || !options.StatementsOnly))
            lines.emplace_back(r.Line, r.Address);
        }
      }
      first = i + 1;
    }
  }
  model.SortSegments();
  model.MergeSegments(true);

  for (size_t k = 0; k < functions.size(); ++k) {
    // Units are file names here, not name qualifiers: a class named like its file keeps its
    // name ("Exception.Exception" in unit Exception).
    model.AddPublic(true, debuginfo::ReadableFunctionName(functions[k].Symbol, debuginfo::SymbolSource::CoffTable),
                    functions[k].Address, false);
    stats.OwnFunctions += isOwn[k] ? 1 : 0;
  }
  model.SortPublics();

  // Several rows at one address: the last one is the line a lookup reports.
  std::stable_sort(lines.begin(), lines.end(),
                   [](const auto &a, const auto &b) { return a.second < b.second; });
  for (size_t k = 0; k < lines.size(); ++k)
    if (k + 1 == lines.size() || lines[k + 1].second != lines[k].second)
      model.AddLine(lines[k].first, lines[k].second);
  model.SortLines();

  stats.Units = int(units.size());
  stats.Functions = model.PublicCount();
  stats.Lines = model.LineCount();
  model.SetValid(true);
  return true;
}

std::pair<uint32_t, uint32_t> ImageChecksums(const std::vector<uint8_t> &exe) {
  auto pe = PeImage::Parse(exe.data(), exe.size());
  if (!pe)
    return {0, 0};
  uint32_t crc = 0;
  for (const PeSection &s : pe->Sections) {
    if (!(s.Characteristics & debuginfo::kSectionCode))
      continue;
    if (uint64_t(s.PointerToRawData) + s.SizeOfRawData <= exe.size())
      crc = debuginfo::Crc32(exe.data() + s.PointerToRawData, s.SizeOfRawData);
    break;
  }
  return {crc, pe->TimeDateStamp};
}

} // namespace kesgen
