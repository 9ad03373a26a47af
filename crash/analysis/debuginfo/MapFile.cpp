#include "crash/analysis/debuginfo/MapFile.h"

#include "crash/analysis/debuginfo/Deflate.h"
#include "crash/analysis/debuginfo/Scrambler.h"
#include "crash/analysis/debuginfo/SymbolNames.h"
#include "crash/base/bytes/ByteStream.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

using namespace debuginfo;

namespace {

constexpr char kMarker[] = "Tidewell debug"; // 14 bytes, no terminator stored
constexpr size_t kMarkerSize = 14;
static_assert(sizeof(kMarker) - 1 == kMarkerSize);
constexpr size_t kHeaderV2 = kMarkerSize + 8;  // marker, length, version
constexpr size_t kHeaderV3 = kHeaderV2 + 12;   // + checksums A, B and the flag word
constexpr size_t kHeaderV4 = kHeaderV3 + 4;    // + the image's machine
constexpr uint32_t kFlagMinimal = 1;

// Capacity growth of the three lists: 16 first, then by half of the current count.
template <class T> void Append(std::vector<T> &items, uint32_t &capacity, T item) {
  if (items.size() >= capacity) {
    uint32_t count = uint32_t(items.size());
    capacity = count > 7 ? count + count / 2 : 16;
    items.reserve(capacity);
  }
  items.push_back(std::move(item));
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower((unsigned char)x) == std::tolower((unsigned char)y);
         });
}

bool Contains(const TMfSegment &s, uint64_t address) { // start to start + length, both included
  return address >= s.StartAddress && address - s.StartAddress <= s.Length;
}

} // namespace

// ---------------------------------------------------------------- files

std::vector<uint8_t> IModuleFiles::ModuleHeaders(const std::string &moduleFileName) {
  auto file = ReadFile(moduleFileName);
  return file ? std::move(*file) : std::vector<uint8_t>{};
}

std::optional<std::vector<uint8_t>> IModuleFiles::OwnResource(const std::string &moduleFileName) {
  auto file = ReadFile(moduleFileName);
  if (!file)
    return std::nullopt;
  auto pe = PeImage::Parse(file->data(), file->size());
  if (!pe)
    return std::nullopt;
  auto where = pe->FindResourceData(file->data(), file->size(), kResourceTypeRcData,
                                kDebugInfoResourceName);
  if (!where)
    return std::nullopt;
  return std::vector<uint8_t>(file->begin() + where->first,
                              file->begin() + where->first + where->second);
}

std::string IModuleFiles::SettingsProperty(const std::string &, const std::string &) { return {}; }

std::optional<std::vector<uint8_t>> FileModuleFiles::ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return std::nullopt;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad())
    return std::nullopt;
  return bytes;
}

std::vector<uint8_t> FileModuleFiles::ModuleHeaders(const std::string &moduleFileName) {
  std::ifstream in(moduleFileName, std::ios::binary);
  std::vector<uint8_t> bytes(64 * 1024);
  in.read(reinterpret_cast<char *>(bytes.data()), std::streamsize(bytes.size()));
  bytes.resize(size_t(in.gcount()));
  return bytes;
}

std::optional<debuginfo::PeImage> FileModuleFiles::SectionTable(const std::string &moduleFileName) {
  const std::vector<uint8_t> headers = ModuleHeaders(moduleFileName);
  std::optional<PeImage> pe = PeImage::Parse(headers.data(), headers.size());
  if (!pe)
    return std::nullopt;
  std::ifstream in(moduleFileName, std::ios::binary);
  for (PeSection &s : pe->Sections) {
    std::optional<uint64_t> at = pe->LongNameOffset(s.Name);
    if (!at || !in.seekg(std::streamoff(*at)))
      continue;
    char name[257] = {};
    in.read(name, 256);
    if (in.gcount() > 0)
      s.Name.assign(name, strnlen(name, size_t(in.gcount())));
    in.clear();
  }
  return pe;
}

FileModuleFiles &FileModuleFiles::Instance() {
  static FileModuleFiles files;
  return files;
}

// ---------------------------------------------------------------- construction

TMapFile::TMapFile(bool valid, const std::string &moduleFileName, uint64_t hInstance,
                   bool codeOnly, bool onlyAcceptKesFile, IModuleFiles *files)
    : FCodeOnly(codeOnly), FHInstance(hInstance) {
  SetModuleFileName(moduleFileName);
  FFiles = files ? files : &FileModuleFiles::Instance();
  if (!valid)
    return;
  std::vector<uint8_t> headers = FFiles->ModuleHeaders(moduleFileName);
  if (auto pe = PeImage::Parse(headers.data(), headers.size()))
    SetBounds(*pe, hInstance);

  if (auto resource = FFiles->OwnResource(moduleFileName))
    FValid = LoadContainer(resource->data(), resource->size(), true);
  if (!FValid && !onlyAcceptKesFile) {
    if (auto map = FFiles->ReadFile(ChangeExtension(FMapFileName, ".map")))
      FValid = LoadTextMap(std::string_view(reinterpret_cast<const char *>(map->data()), map->size()));
  }
  if (!FValid)
    FValid = LoadCompanionKes();
  SortLines();
}

void TMapFile::SetModuleFileName(const std::string &name) {
  FModuleFileName = name;
  FMapFileName = name;
}

std::string TMapFile::ChangeExtension(const std::string &fileName, const std::string &ext) {
  size_t slash = fileName.find_last_of("/\\:");
  size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return fileName + ext;
  return fileName.substr(0, dot) + ext;
}

bool TMapFile::LoadCompanionKes() {
  if (!FFiles || FMapFileName.empty())
    return false;
  auto kes = FFiles->ReadFile(ChangeExtension(FMapFileName, ".kes"));
  return kes && LoadContainer(kes->data(), kes->size(), false);
}

void TMapFile::SetBounds(const PeImage &pe, uint64_t hInstance) {
  FHInstance = hInstance;
  FMachine = pe.Machine;
  FSecondCodeOffset = FSecondCodeShift = 0;
  if (!pe.Sections.empty() && (pe.Sections[0].Characteristics & kSectionCode)) {
    const PeSection &first = pe.Sections[0];
    FBaseOfCode = hInstance + first.VirtualAddress;
    FTopOfCode = FBaseOfCode + first.VirtualSize;
    if (pe.Sections.size() > 1 && (pe.Sections[1].Characteristics & kSectionCode)) {
      const PeSection &second = pe.Sections[1];
      FTopOfCode = hInstance + second.VirtualAddress + second.VirtualSize;
      // The stored forms number the second section's code on from the first one's size
      // rounded up to a page; in memory it starts at its own virtual address.
      FSecondCodeOffset = (first.VirtualSize + 0xFFF) & ~0xFFFu;
      FSecondCodeShift = second.VirtualAddress - (first.VirtualAddress + FSecondCodeOffset);
    }
  } else {
    FBaseOfCode = hInstance + pe.BaseOfCode;
    FTopOfCode = FBaseOfCode + pe.SizeOfCode;
  }
  FBaseOfData = hInstance + pe.BaseOfData;
  FTopOfData = FBaseOfData + pe.SizeOfInitializedData + pe.SizeOfUninitializedData;
}

void TMapFile::SetBounds(uint64_t baseOfCode, uint64_t topOfCode, uint64_t baseOfData,
                         uint64_t topOfData) {
  FBaseOfCode = baseOfCode;
  FTopOfCode = topOfCode;
  FBaseOfData = baseOfData;
  FTopOfData = topOfData;
  FSecondCodeOffset = FSecondCodeShift = 0;
}

uint64_t TMapFile::CodeAddress(uint32_t offset) const {
  uint64_t address = FBaseOfCode + offset;
  if (FSecondCodeShift && offset >= FSecondCodeOffset)
    address += FSecondCodeShift;
  return address;
}

uint32_t TMapFile::CodeOffset(uint64_t address) const {
  // Code lies within 4 GiB above its base in both kinds of image.
  uint32_t offset = uint32_t(address - FBaseOfCode);
  if (FSecondCodeShift && offset >= FSecondCodeOffset + FSecondCodeShift)
    offset -= FSecondCodeShift;
  return offset;
}

// ---------------------------------------------------------------- lookups

TMfSegment TMapFile::FindSegment(bool code, uint64_t address) const {
  // Code segments come first; each group is sorted by start.
  auto groupEnd = std::partition_point(FSItems.begin(), FSItems.end(),
                                       [](const TMfSegment &s) { return s.Code; });
  auto first = code ? FSItems.begin() : groupEnd;
  auto last = code ? groupEnd : FSItems.end();
  auto it = std::upper_bound(first, last, address,
                             [](uint64_t a, const TMfSegment &s) { return a < s.StartAddress; });
  if (it == first)
    return {};
  --it;
  if (address - it->StartAddress >= it->Length)
    return {};
  return *it;
}

TMfSegment TMapFile::FindSegmentAt(int index) const {
  if (index < 0 || index >= SegmentCount())
    return {};
  return FSItems[index];
}

TMfPublic TMapFile::FindPublic(uint64_t address) const {
  auto it = std::upper_bound(FPItems.begin(), FPItems.end(), address,
                             [](uint64_t a, const TMfPublic &p) { return a < p.Address; });
  if (it == FPItems.begin())
    return {};
  if (it == FPItems.end() && FTopOfCode != 0 && address >= FTopOfCode)
    return {};
  return *(it - 1);
}

TMfPublic TMapFile::FindPublicAt(int index) const {
  if (index < 0 || index >= PublicCount())
    return {};
  return FPItems[index];
}

uint64_t TMapFile::FindPublic(bool code, const std::string &unit_, const std::string &name,
                              bool caseSensitive) const {
  auto search = [&](const std::string &unit) -> uint64_t {
    for (const TMfSegment &s : FSItems) {
      if (s.Code != code || !EqualNoCase(s.Unit_, unit))
        continue;
      auto it = std::lower_bound(FPItems.begin(), FPItems.end(), s.StartAddress,
                                 [](const TMfPublic &p, uint64_t a) { return p.Address < a; });
      for (; it != FPItems.end() && Contains(s, it->Address); ++it) {
        if (it->Code == code && (caseSensitive ? it->Name == name : EqualNoCase(it->Name, name)))
          return it->Address;
      }
    }
    return 0;
  };
  if (uint64_t address = search(unit_))
    return address;
  if (unit_.find('.') == std::string::npos) {
    for (const char *ext : {".cpp", ".h", ".c"})
      if (uint64_t address = search(unit_ + ext))
        return address;
  }
  return 0;
}

int32_t TMapFile::FindLine(uint64_t address) const {
  uint64_t next = 0;
  return FindLine(address, next);
}

int32_t TMapFile::FindLine(uint64_t address, uint64_t &next) const {
  next = address + 1;
  TMfSegment segment = FindSegment(true, address);
  if (FLItems.empty())
    return segment.IsValid && segment.LineNumbers ? -1 : 0;
  if (!segment.IsValid)
    return 0;
  auto it = std::upper_bound(FLItems.begin(), FLItems.end(), address,
                             [](uint64_t a, const TMfLine &l) { return a < l.Address; });
  if (it == FLItems.begin())
    return 0;
  const TMfLine &line = *(it - 1);
  if (!Contains(segment, line.Address))
    return 0;
  // The line's range ends at the next line or at the end of the segment, whichever is first,
  // so it never reaches into code that has no lines of its own.
  const uint64_t segmentEnd = segment.StartAddress + segment.Length;
  next = it != FLItems.end() && it->Address < segmentEnd ? it->Address : segmentEnd;
  if (next <= address)
    next = address + 1;
  return line.Line;
}

uint64_t TMapFile::FindAddress(const std::string &segment, const std::string &public_) const {
  for (const TMfSegment &s : FSItems) {
    if (!EqualNoCase(s.Unit_, segment))
      continue;
    auto it = std::lower_bound(FPItems.begin(), FPItems.end(), s.StartAddress,
                               [](const TMfPublic &p, uint64_t a) { return p.Address < a; });
    for (; it != FPItems.end() && Contains(s, it->Address); ++it)
      if (EqualNoCase(it->Name, public_))
        return it->Address;
  }
  return 0;
}

// ---------------------------------------------------------------- building

void TMapFile::AddSegment(bool code, uint64_t start, uint32_t length, std::string unit_,
                          bool lineNumbers) {
  for (const char *ext : {".dpr", ".pas"}) {
    if (unit_.size() >= 4 && EqualNoCase(std::string_view(unit_).substr(unit_.size() - 4), ext)) {
      unit_.resize(unit_.size() - 4);
      break;
    }
  }
  Append(FSItems, FSCapacity, TMfSegment{true, code, start, length, std::move(unit_), lineNumbers});
}

void TMapFile::AddPublic(bool code, const std::string &rawName, uint64_t address,
                         bool applyNameRules) {
  if (!code && FCodeOnly)
    return;
  // Compiler type-information names: "@$x" + one character + "$"...
  if (rawName.size() >= 6 && rawName[0] == '@' && rawName[1] == '$' && rawName[2] == 'x' &&
      rawName[4] == '$')
    return;
  if (!applyNameRules) {
    Append(FPItems, FPCapacity, TMfPublic{true, code, rawName, address});
    return;
  }
  TDemangledName dm = FDemangler ? FDemangler(rawName) : TDemangledName{{}, debuginfo::ReadableFunctionName(rawName)};
  std::string name = std::move(dm.Name);
  if (name.compare(0, 2, "@@") == 0)
    name.erase(0, 2);
  TMfSegment segment = FindSegment(code, address);
  if (segment.IsValid && !segment.Unit_.empty()) {
    if (name == segment.Unit_) {
      name = "initialization";
    } else {
      if (!dm.UnitQualifier.empty() && !EqualNoCase(dm.UnitQualifier, segment.Unit_))
        name = dm.UnitQualifier + "." + name;
      std::string prefix = segment.Unit_ + ".";
      if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0)
        name.erase(0, prefix.size());
    }
  } else if (!dm.UnitQualifier.empty()) {
    name = dm.UnitQualifier + "." + name;
  }
  Append(FPItems, FPCapacity, TMfPublic{true, code, std::move(name), address});
}

void TMapFile::AddLine(int32_t line, uint64_t address) {
  Append(FLItems, FLCapacity, TMfLine{line, address});
}

void TMapFile::SortSegments() {
  std::stable_sort(FSItems.begin(), FSItems.end(), [](const TMfSegment &a, const TMfSegment &b) {
    if (a.Code != b.Code)
      return a.Code;
    if (a.StartAddress != b.StartAddress)
      return a.StartAddress < b.StartAddress;
    return a.Length > b.Length;
  });
}

void TMapFile::SortPublics() {
  std::stable_sort(FPItems.begin(), FPItems.end(),
                   [](const TMfPublic &a, const TMfPublic &b) { return a.Address < b.Address; });
}

void TMapFile::SortLines() {
  std::stable_sort(FLItems.begin(), FLItems.end(),
                   [](const TMfLine &a, const TMfLine &b) { return a.Address < b.Address; });
}

void TMapFile::MergeSegments(bool firstMode) {
  size_t i = 0;
  while (i + 1 < FSItems.size()) {
    TMfSegment &a = FSItems[i];
    const TMfSegment &b = FSItems[i + 1];
    if (a.Length == 0 || a.StartAddress == b.StartAddress) {
      FSItems.erase(FSItems.begin() + i);
      continue;
    }
    // A gap too wide for a segment's length is left open.
    if (a.Code == b.Code && b.StartAddress - a.StartAddress <= UINT32_MAX &&
        (!firstMode || a.StartAddress + a.Length >= b.StartAddress)) {
      a.Length = uint32_t(b.StartAddress - a.StartAddress);
      if (EqualNoCase(a.Unit_, b.Unit_)) {
        a.Length += b.Length;
        a.LineNumbers = a.LineNumbers || b.LineNumbers;
        FSItems.erase(FSItems.begin() + i + 1);
        continue;
      }
    }
    ++i;
  }
  if (!FSItems.empty() && FSItems.back().Length == 0)
    FSItems.pop_back();
}

// ---------------------------------------------------------------- container

std::string TMapFile::ContainerSignature(uint32_t totalLength, uint32_t a, uint32_t b) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "$%08x, $%08x, $%08x", unsigned(totalLength), unsigned(a),
                unsigned(b));
  return buf;
}

bool TMapFile::LoadContainer(const uint8_t *data, size_t size, bool mayUseCompanion) {
  if (size <= kHeaderV2 || std::memcmp(data, kMarker, kMarkerSize) != 0)
    return false;
  kx::ByteReader header(data + kMarkerSize, size - kMarkerSize);
  uint32_t length = header.U32();
  uint32_t version = header.U32();
  if (version < 2 || version > 4)
    return false;
  // Version 2 has no checksums and no flag word: it never holds minimal information. Versions
  // 2 and 3 describe i386 images; version 4 names its machine.
  uint32_t a = 0, b = 0, flags = 0, machine = kMachineI386;
  size_t headerSize = kHeaderV2;
  if (version >= 3) {
    headerSize = version == 3 ? kHeaderV3 : kHeaderV4;
    if (size < headerSize)
      return false;
    a = header.U32();
    b = header.U32();
    flags = header.U32();
    if (version == 4)
      machine = header.U32();
  }
  if (machine != kMachineI386 && machine != kMachineAmd64)
    return false;
  if (FMachine != 0 && FMachine != machine)
    return false;
  if (length > size - headerSize)
    return false;
  if (size > UINT32_MAX)
    return false;
  if (!FMinDebugInfo.empty() && FMinDebugInfo != ContainerSignature(uint32_t(size), a, b))
    return false;

  bool minimal = false;
  if (flags & kFlagMinimal) {
    if (mayUseCompanion && FFiles) {
      // The full information lives in the companion file whose signature the settings name;
      // without a signature there is nothing to match a companion against.
      FMinDebugInfo = FFiles->SettingsProperty(FModuleFileName, "MinDebugInfo");
      if (FMinDebugInfo.size() == 31 && LoadCompanionKes())
        return true;
    }
    minimal = true;
  }

  std::vector<uint8_t> payload(data + headerSize, data + headerSize + length);
  ScramblePayload(payload.data(), payload.size());
  auto stream = DecompressBlock(payload.data(), payload.size());
  if (!stream || !ParseDebugStream(stream->data(), stream->size(), minimal, machine == kMachineAmd64))
    return false;
  FMachine = uint16_t(machine);
  if (!minimal)
    FMinDebugInfo.clear();
  return true;
}

bool TMapFile::ParseDebugStream(const uint8_t *data, size_t size, bool minimal, bool wide) {
  kx::ByteReader r(data, size);
  struct Seg {
    uint64_t start;
    uint32_t length;
    std::string unit;
    bool lines;
  };
  std::vector<Seg> segs;
  std::vector<std::pair<std::string, uint64_t>> pubs;
  std::vector<TMfLine> lines;
  // Publics and lines are stored as differences modulo 2^32 from the one before; an image's
  // code lies within 4 GiB above its base, and an i386 image's addresses within 32 bits.
  auto advance = [&](uint64_t from, int32_t delta) -> uint64_t {
    const uint64_t to = FBaseOfCode + uint32_t(from - FBaseOfCode + uint32_t(delta));
    return wide ? to : uint32_t(to);
  };

  // Each record takes at least the bytes checked here, so a corrupt count cannot make the
  // reader allocate more than the stream could hold.
  uint32_t count = r.U32();
  if (r.Failed() || count > r.Remaining() / 8)
    return false;
  segs.reserve(count);
  for (uint32_t i = 0; i < count && !r.Failed(); ++i) {
    Seg s;
    s.start = CodeAddress(r.U32());
    s.length = r.U32();
    if (minimal) {
      s.lines = r.U8() != 0;
      s.unit = "segment%" + std::to_string(i);
    } else {
      s.unit = PackedString(r);
      s.lines = false;
    }
    segs.push_back(std::move(s));
  }

  count = r.U32();
  if (r.Failed() || (count > 0 && count - 1 > r.Remaining()))
    return false;
  pubs.reserve(count);
  uint64_t address = 0;
  for (uint32_t i = 0; i < count && !r.Failed(); ++i) {
    std::string name = minimal ? "public%" + std::to_string(i) : PackedString(r);
    address = i == 0 ? CodeAddress(r.U32()) : advance(address, PackedInt(r));
    pubs.emplace_back(std::move(name), address);
  }

  count = r.U32();
  if (r.Failed() || (count > 0 && count - 1 > r.Remaining() / 2))
    return false;
  lines.reserve(count);
  if (count > 0) {
    int32_t line = int32_t(r.U32());
    address = CodeAddress(r.U32());
    lines.push_back({line, address});
    for (uint32_t i = 1; i < count && !r.Failed(); ++i) {
      // The writer stores differences of line numbers that fit; a sum that leaves the range is
      // a damaged stream.
      const int64_t next = int64_t(line) + PackedInt(r);
      if (next < INT32_MIN || next > INT32_MAX)
        return false;
      line = int32_t(next);
      address = advance(address, PackedInt(r));
      lines.push_back({line, address});
    }
  }
  if (r.Failed())
    return false;
  uint64_t entry = 0;
  if (r.Remaining() == 4)
    entry = CodeAddress(r.U32());

  for (Seg &s : segs)
    AddSegment(true, s.start, s.length, std::move(s.unit), s.lines);
  SortSegments();
  // Stored names are already in the model's form (Export writes them so): qualifying them
  // again would turn "Exception.Exception" of unit Exception into "Exception", and then into
  // "initialization" on the next round.
  for (auto &p : pubs)
    AddPublic(true, p.first, p.second, false);
  SortPublics();
  for (const TMfLine &l : lines)
    AddLine(l.Line, l.Address);
  SortLines();
  if (entry)
    FEntryPoint = entry;
  return true;
}

std::vector<uint8_t> TMapFile::Export(bool newFormat, bool minDebugInfoOnly, bool hideUglyItems,
                                      uint32_t checksumA, uint32_t checksumB) const {
  // Versions 2 and 3 cannot say that the image is not an i386 one.
  const bool wide = FMachine == kMachineAmd64;
  const bool minimal = (newFormat || wide) && minDebugInfoOnly;
  ByteWriter w;

  std::vector<const TMfSegment *> segs;
  for (const TMfSegment &s : FSItems)
    if (s.Code)
      segs.push_back(&s);
  w.U32(uint32_t(segs.size()));
  for (const TMfSegment *s : segs) {
    w.U32(CodeOffset(s->StartAddress));
    w.U32(s->Length);
    if (minimal) {
      bool hasLines = s->LineNumbers;
      auto it = std::lower_bound(FLItems.begin(), FLItems.end(), s->StartAddress,
                                 [](const TMfLine &l, uint64_t a) { return l.Address < a; });
      if (it != FLItems.end() && it->Address - s->StartAddress < s->Length)
        hasLines = true;
      w.U8(hasLines ? 1 : 0);
    } else {
      w.PackedString(s->Unit_);
    }
  }

  auto ugly = [](const std::string &name) {
    return name.empty() || name[0] == '@' || name[0] == '$' || name[0] == '.' ||
           name.compare(0, 2, "__") == 0;
  };
  std::vector<const TMfPublic *> pubs;
  for (const TMfPublic &p : FPItems)
    if (p.Code && !(hideUglyItems && ugly(p.Name)))
      pubs.push_back(&p);
  std::stable_sort(pubs.begin(), pubs.end(),
                   [](const TMfPublic *a, const TMfPublic *b) { return a->Address < b->Address; });
  w.U32(uint32_t(pubs.size()));
  for (size_t i = 0; i < pubs.size(); ++i) {
    if (!minimal)
      w.PackedString(pubs[i]->Name);
    if (i == 0)
      w.U32(CodeOffset(pubs[i]->Address));
    else
      w.PackedInt(int32_t(pubs[i]->Address - pubs[i - 1]->Address));
  }

  if (minimal) {
    w.U32(0);
  } else {
    w.U32(uint32_t(FLItems.size()));
    for (size_t i = 0; i < FLItems.size(); ++i) {
      if (i == 0) {
        w.U32(uint32_t(FLItems[0].Line));
        w.U32(CodeOffset(FLItems[0].Address));
      } else {
        w.PackedInt(int32_t(uint32_t(FLItems[i].Line) - uint32_t(FLItems[i - 1].Line)));
        w.PackedInt(int32_t(FLItems[i].Address - FLItems[i - 1].Address));
      }
    }
  }
  if (FEntryPoint)
    w.U32(CodeOffset(FEntryPoint));

  std::vector<uint8_t> payload = CompressBlock(w.Bytes.data(), w.Bytes.size());
  ScramblePayload(payload.data(), payload.size());

  ByteWriter out;
  out.Raw(kMarker, kMarkerSize);
  out.U32(uint32_t(payload.size()));
  out.U32(wide ? 4 : newFormat ? 3 : 2);
  if (wide || newFormat) {
    out.U32(checksumA);
    out.U32(checksumB);
    out.U32(minimal ? kFlagMinimal : 0);
  }
  if (wide)
    out.U32(kMachineAmd64);
  out.Raw(payload.data(), payload.size());
  return std::move(out.Bytes);
}
