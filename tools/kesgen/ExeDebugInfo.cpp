#include "tools/kesgen/ExeDebugInfo.h"

#include "crash/analysis/debuginfo/Crc32.h"
#include "crash/analysis/debuginfo/SymbolNames.h"
#include "crash/base/bytes/ByteStream.h"
#include "tools/kesgen/CodeRanges.h"
#include "tools/kesgen/DwarfForms.h"

#include <algorithm>
#include <cstring>
#include <map>

using debuginfo::PeImage;
using debuginfo::PeSection;

namespace kesgen {

namespace {

enum : uint32_t { DW_LNCT_path = 1, DW_LNCT_directory_index = 2 };

// Reads one attribute value of a v5 entry format: strings come back in text, numbers in number.
bool ReadForm(Cursor &c, uint32_t form, bool dwarf64, const Sections &s, std::string &text,
              uint64_t &number) {
  UnitEncoding unit;
  unit.Dwarf64 = dwarf64;
  FormValue v;
  if (!ReadFormValue(c, form, unit, 0, v))
    return false;
  switch (v.Class) {
  case FormClass::String: text = v.Text; return true;
  case FormClass::StringOffset: text = StringAt(s.Str, s.StrSize, v.Number); return true;
  case FormClass::LineStringOffset: text = StringAt(s.LineStr, s.LineStrSize, v.Number); return true;
  case FormClass::Constant: number = v.Number; return true;
  case FormClass::Block: return true; // an MD5 sum or vendor data
  default: return false;             // nothing an entry format of GCC's uses
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
  bool addressSet = false; // since the last row
  auto reset = [&] {
    address = 0;
    file = 1;
    line = 1;
    isStmt = defaultIsStmt;
    addressSet = false;
  };
  auto emit = [&](bool endSequence) {
    prog.Rows.push_back({address, file, int32_t(line), isStmt, endSequence, addressSet});
    addressSet = false;
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
        addressSet = true;
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

std::vector<std::pair<int32_t, uint64_t>> FunctionLines(std::span<const LineRow> rows, uint64_t start,
                                                        uint64_t end, uint32_t file, const CodeRanges &code,
                                                        bool statementsOnly) {
  // The inlined ranges within the function; where ranges overlap (they do not in sound
  // information) the earlier one keeps the shared part.
  struct Piece {
    uint64_t Low, High;
    int32_t Line;
  };
  std::vector<Piece> pieces;
  auto call = std::lower_bound(code.Calls.begin(), code.Calls.end(), start,
                               [](const InlinedCall &c, uint64_t a) { return c.Low < a; });
  if (call != code.Calls.begin())
    --call; // one starting before the function may reach into it
  uint64_t covered = start;
  for (; call != code.Calls.end() && call->Low < end; ++call) {
    const uint64_t low = std::max({call->Low, start, covered}), high = std::min(call->High, end);
    if (low < high) {
      pieces.push_back({low, high, call->CallLine});
      covered = high;
    }
  }
  // The function's code as the debugging entries describe it. Where they describe none of it
  // (no .debug_info, or a damaged one), all of [start, end) counts as the function's code.
  std::vector<CodeRange> body;
  auto range = std::upper_bound(code.Functions.begin(), code.Functions.end(), start,
                                [](uint64_t a, const CodeRange &r) { return a < r.Low; });
  if (range != code.Functions.begin())
    --range;
  for (; range != code.Functions.end() && range->Low < end; ++range)
    if (range->High > start)
      body.push_back({std::max(range->Low, start), std::min(range->High, end)});
  if (body.empty())
    body.push_back({start, end});

  auto byAddress = [](const LineRow &r, uint64_t a) { return r.Address < a; };
  const auto first = std::lower_bound(rows.begin(), rows.end(), start, byAddress);
  const auto last = std::lower_bound(first, rows.end(), end, byAddress);
  auto usable = [&](const LineRow &r) { return !r.EndSequence && (r.IsStmt || !statementsOnly); };

  // The addresses where the line may change: the rows, and where inlined code and the
  // function's described code start and end.
  std::vector<uint64_t> points;
  for (auto r = first; r != last; ++r)
    if (usable(*r))
      points.push_back(r->Address);
  for (const Piece &p : pieces)
    points.insert(points.end(), {p.Low, p.High});
  for (const CodeRange &b : body)
    points.insert(points.end(), {b.Low, b.High});
  std::sort(points.begin(), points.end());
  points.erase(std::unique(points.begin(), points.end()), points.end());
  while (!points.empty() && points.back() >= end)
    points.pop_back();

  std::vector<std::pair<int32_t, uint64_t>> out;
  auto r = first;
  const LineRow *current = nullptr, *currentOwn = nullptr; // the last rows at or before the point
  size_t piece = 0, part = 0;
  for (uint64_t x : points) {
    bool ownRowHere = false;
    for (; r != last && r->Address <= x; ++r) {
      if (!usable(*r))
        continue;
      current = &*r;
      if (r->File == file) {
        currentOwn = &*r;
        ownRowHere = r->Address == x;
      }
    }
    while (piece < pieces.size() && pieces[piece].High <= x)
      ++piece;
    while (part < body.size() && body[part].High <= x)
      ++part;
    int32_t line;
    if (piece < pieces.size() && pieces[piece].Low <= x) {
      line = pieces[piece].Line;
      ownRowHere = false; // rows of inlined code are the callee's
    } else if (current && (current->File == file || part >= body.size() || body[part].Low > x)) {
      line = current->Line; // outside the described code (alignment padding) as the table has it
    } else if (currentOwn) {
      line = currentOwn->Line;
    } else {
      continue; // before the function's first row of its own
    }
    if (ownRowHere || out.empty() || out.back().first != line)
      out.emplace_back(line, x);
  }
  return out;
}

size_t FunctionFirstRow(std::span<const LineRow> rows, size_t first) {
  if (first >= rows.size())
    return first;
  const uint64_t at = rows[first].Address;
  for (size_t k = first; k < rows.size() && rows[k].Address == at && !rows[k].EndSequence; ++k)
    if (rows[k].AddressSet)
      return k;
  return first;
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
  if (!pe || (pe->Machine == kMachineI386) == pe->Pe32Plus ||
      (pe->Machine != kMachineI386 && pe->Machine != kMachineAmd64)) {
    error = "not an i386 (PE32) or x86-64 (PE32+) image";
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
    else if (name == ".debug_info")
      dw.Info = data, dw.InfoSize = size;
    else if (name == ".debug_abbrev")
      dw.Abbrev = data, dw.AbbrevSize = size;
    else if (name == ".debug_ranges")
      dw.Ranges = data, dw.RangesSize = size;
    else if (name == ".debug_rnglists")
      dw.RngLists = data, dw.RngListsSize = size;
    else if (name == ".debug_addr")
      dw.Addr = data, dw.AddrSize = size;
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
  // Without .debug_info (or past a damaged unit of it) lines stay those of the line table.
  std::string infoError;
  const CodeRanges code = ReadCodeRanges(dw, infoError);
  stats.InlinedCalls = int(code.Calls.size());
  if (!infoError.empty())
    stats.Warning = "inlined code after a damaged part of .debug_info keeps the lines of the line table (" +
                    infoError + ")";

  std::vector<std::string> roots;
  for (const std::string &given : options.SourceRoots) {
    std::string root = NormalisePath(given);
    if (root.empty())
      continue;
    if (root.back() != '/')
      root += '/';
    roots.push_back(std::move(root));
  }
  auto own = [&](const std::string &path) {
    return std::any_of(roots.begin(), roots.end(), [&](const std::string &root) { return path.starts_with(root); });
  };

  std::vector<std::pair<int32_t, uint64_t>> lines;
  std::map<std::string, int> units;
  std::vector<bool> isOwn(functions.size(), false);
  for (const LineProgram &prog : programs) {
    size_t first = 0;
    for (size_t i = 0; i < prog.Rows.size(); ++i) {
      if (!prog.Rows[i].EndSequence)
        continue;
      // One sequence: rows [first, i), ending at Rows[i].Address.
      const uint64_t seqStart = prog.Rows[first].Address, seqEnd = prog.Rows[i].Address;
      auto f = std::lower_bound(functions.begin(), functions.end(), seqStart,
                                [](const CoffFunction &c, uint64_t a) { return c.Address < a; });
      size_t row = first;
      for (; f != functions.end() && f->Address < seqEnd; ++f) {
        const uint64_t fs = f->Address;
        const uint64_t fe = (f + 1 != functions.end() && (f + 1)->Address < seqEnd) ? (f + 1)->Address : seqEnd;
        while (row < i && prog.Rows[row].Address < fs)
          ++row;
        if (row >= i || prog.Rows[row].Address >= fe)
          continue;
        // The source of the function is that of its own first row.
        row = first + FunctionFirstRow(std::span(prog.Rows).subspan(first, i - first), row - first);
        const uint32_t fileIndex = prog.Rows[row].File;
        if (fileIndex >= prog.Files.size() || !own(prog.Files[fileIndex]))
          continue;
        std::string unit = Stem(prog.Files[fileIndex]);
        if (fe - fs > UINT32_MAX) // no function of an image is that long: a damaged table
          continue;
        model.AddSegment(true, fs, uint32_t(fe - fs), unit, true);
        units[unit]++;
        isOwn[f - functions.begin()] = true;
        const auto functionLines =
            FunctionLines(std::span(prog.Rows).subspan(first, i - first), fs, fe, fileIndex, code,
                          options.StatementsOnly);
        lines.insert(lines.end(), functionLines.begin(), functionLines.end());
      }
      first = i + 1;
    }
  }
  model.SortSegments();
  model.MergeSegments(true);

  // Only the i386 symbol table puts an underscore before every name.
  const auto symbolSource = pe->Pe32Plus ? debuginfo::SymbolSource::Plain : debuginfo::SymbolSource::CoffTable;
  for (size_t k = 0; k < functions.size(); ++k) {
    // Units are file names here, not name qualifiers: a class named like its file keeps its
    // name ("Exception.Exception" in unit Exception).
    model.AddPublic(true, debuginfo::ReadableFunctionName(functions[k].Symbol, symbolSource),
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
