#include "crash/base/pe/PeImage.h"

#include "crash/base/bytes/ByteReader.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

namespace debuginfo {

namespace {

constexpr uint32_t kPeSignature = 0x00004550;
constexpr uint16_t kDosMagic = 0x5A4D, kPe32Magic = 0x10B, kPe32PlusMagic = 0x20B;
constexpr size_t kMaxName = 255;
constexpr uint32_t kMaxExportNames = 65536;
// The loader maps at most 96 sections; a file read by RVA looks no further.
constexpr size_t kMaxMappedSections = 96;
// A resource directory entry's name or target with this bit set is a string or a subdirectory.
constexpr uint32_t kResourceHighBit = 0x80000000u;
constexpr size_t kMaxResourceEntries = 65536;
constexpr size_t kMaxResourceNameUnits = size_t(1) << 20;

// Where the optional header starts, after the DOS header, the NT signature and the file header.
struct NtStart {
  uint32_t HeadersOffset = 0;
  uint8_t FileHeader[20] = {};
  uint16_t Magic = 0;
  uint64_t OptionalHeader() const { return uint64_t(HeadersOffset) + 24; }
  uint32_t DirectoriesAt() const { return Magic == kPe32PlusMagic ? 112 : 96; }
};

std::optional<NtStart> ReadNtStart(const PeSource &source) {
  uint8_t dos[64], nt[26];
  if (!source.Read(0, dos, sizeof dos))
    return std::nullopt;
  kx::ByteReader d(dos, sizeof dos);
  const uint16_t mz = d.U16();
  d.Seek(0x3C);
  NtStart start;
  start.HeadersOffset = d.U32();
  if (mz != kDosMagic || !source.Read(start.HeadersOffset, nt, sizeof nt))
    return std::nullopt;
  kx::ByteReader n(nt, sizeof nt);
  if (n.U32() != kPeSignature)
    return std::nullopt;
  std::copy_n(nt + 4, sizeof start.FileHeader, start.FileHeader);
  n.Skip(sizeof start.FileHeader);
  start.Magic = n.U16();
  if (start.Magic != kPe32Magic && start.Magic != kPe32PlusMagic)
    return std::nullopt;
  return start;
}

// A name of at most max characters that ends with a zero byte or where the source ends. Read in
// pieces, fewer bytes at a time near the end of what the source holds.
std::string ReadName(const PeSource &source, uint64_t at, size_t max = kMaxName) {
  std::string name;
  char piece[64];
  size_t want = sizeof piece;
  while (name.size() < max) {
    const size_t n = std::min(want, max - name.size());
    if (!source.Read(at, piece, n)) {
      if (n == 1)
        break;
      want = n / 2;
      continue;
    }
    const size_t length = strnlen(piece, n);
    name.append(piece, length);
    if (length < n)
      break;
    at += n;
    want = std::min(want * 2, sizeof piece);
  }
  return name;
}

bool Read32(const PeSource &source, uint64_t at, uint32_t &value) {
  uint8_t b[4];
  if (!source.Read(at, b, sizeof b))
    return false;
  value = kx::ByteReader(b, sizeof b).U32();
  return true;
}

bool Read16(const PeSource &source, uint64_t at, uint16_t &value) {
  uint8_t b[2];
  if (!source.Read(at, b, sizeof b))
    return false;
  value = kx::ByteReader(b, sizeof b).U16();
  return true;
}

} // namespace

bool PeSpan::Read(uint64_t offset, void *out, size_t size) const {
  if (offset > FBytes.size() || size > FBytes.size() - offset)
    return false;
  if (size)
    std::memcpy(out, FBytes.data() + offset, size);
  return true;
}

bool PeFileRvas::Read(uint64_t rva, void *out, size_t size) const {
  const size_t count = std::min(FImage.Sections.size(), kMaxMappedSections);
  for (size_t i = 0; i < count; ++i) {
    const PeSection &s = FImage.Sections[i];
    const uint64_t end = uint64_t(s.VirtualAddress) + s.SizeOfRawData;
    if (rva >= s.VirtualAddress && rva < end)
      return size <= end - rva && FFile.Read(s.PointerToRawData + (rva - s.VirtualAddress), out, size);
  }
  return size <= FImage.SizeOfHeaders && rva <= FImage.SizeOfHeaders - size && FFile.Read(rva, out, size);
}

std::optional<PeImage> PeImage::Parse(const uint8_t *data, size_t size) { return Parse(PeSpan(data, size)); }

std::optional<PeImage> PeImage::Parse(const PeSource &source) {
  std::optional<NtStart> start = ReadNtStart(source);
  if (!start)
    return std::nullopt;
  PeImage img;
  img.HeadersOffset = start->HeadersOffset;
  kx::ByteReader fh(start->FileHeader, sizeof start->FileHeader);
  img.Machine = fh.U16();
  const uint16_t sectionCount = fh.U16();
  img.TimeDateStamp = fh.U32();
  img.PointerToSymbolTable = fh.U32();
  img.NumberOfSymbols = fh.U32();
  const uint16_t optSize = fh.U16();
  img.Characteristics = fh.U16();

  // PE32+ has no BaseOfData, a 64-bit ImageBase and its directories 16 bytes further on.
  const bool plus = start->Magic == kPe32PlusMagic;
  const uint32_t dirsAt = start->DirectoriesAt();
  uint8_t optional[112 + 16 * 8];
  const uint64_t oh = start->OptionalHeader();
  if (optSize < dirsAt || !source.Read(oh, optional, dirsAt))
    return std::nullopt;
  kx::ByteReader o(optional, dirsAt);
  o.Skip(2); // the magic
  img.MajorLinkerVersion = o.U8();
  img.MinorLinkerVersion = o.U8();
  img.SizeOfCode = o.U32();
  img.SizeOfInitializedData = o.U32();
  img.SizeOfUninitializedData = o.U32();
  img.AddressOfEntryPoint = o.U32();
  img.BaseOfCode = o.U32();
  if (plus) {
    img.ImageBase = o.U64();
  } else {
    img.BaseOfData = o.U32();
    img.ImageBase = o.U32();
  }
  o.Seek(32);
  img.SectionAlignment = o.U32();
  img.FileAlignment = o.U32();
  o.Seek(56);
  img.SizeOfImage = o.U32();
  img.SizeOfHeaders = o.U32();
  img.CheckSum = o.U32();
  img.Subsystem = o.U16();
  o.Seek(dirsAt - 4);
  uint32_t dirCount = o.U32();
  img.Pe32Plus = plus;
  img.SizeOfOptionalHeader = optSize;
  dirCount = std::min<uint32_t>(dirCount, (optSize - dirsAt) / 8);
  dirCount = std::min<uint32_t>(dirCount, 16);
  if (dirCount && !source.Read(oh + dirsAt, optional + dirsAt, 8 * dirCount))
    return std::nullopt;
  kx::ByteReader dirs(optional + dirsAt, 8 * dirCount);
  for (uint32_t i = 0; i < dirCount; ++i) {
    const uint32_t rva = dirs.U32();
    img.DataDirectories.emplace_back(rva, dirs.U32());
  }

  uint64_t sh = oh + optSize;
  img.Sections.reserve(sectionCount);
  for (uint32_t i = 0; i < sectionCount; ++i, sh += 40) {
    uint8_t entry[40];
    if (!source.Read(sh, entry, sizeof entry))
      return std::nullopt;
    kx::ByteReader e(entry, sizeof entry);
    PeSection s;
    const std::string_view name = e.Text(8);
    s.Name.assign(name.data(), strnlen(name.data(), name.size()));
    if (std::optional<uint64_t> at = img.LongNameOffset(s.Name)) {
      char first = 0;
      if (source.Read(*at, &first, 1))
        s.Name = ReadName(source, *at, 256);
    }
    s.VirtualSize = e.U32();
    s.VirtualAddress = e.U32();
    s.SizeOfRawData = e.U32();
    s.PointerToRawData = e.U32();
    e.Seek(36);
    s.Characteristics = e.U32();
    img.Sections.push_back(std::move(s));
  }
  return img;
}

std::pair<uint32_t, uint32_t> PeImage::Directory(size_t index) const {
  return index < DataDirectories.size() ? DataDirectories[index] : std::pair<uint32_t, uint32_t>();
}

PeHeaderFields PeImage::HeaderFields() const {
  const uint64_t fileHeader = uint64_t(HeadersOffset) + 4, optional = fileHeader + 20;
  PeHeaderFields f;
  f.NumberOfSections = fileHeader + 2;
  f.SizeOfInitializedData = optional + 8;
  f.SizeOfImage = optional + 56;
  f.CheckSum = optional + 64;
  f.DataDirectories = optional + (Pe32Plus ? 112 : 96);
  f.SectionTable = optional + SizeOfOptionalHeader;
  return f;
}

std::vector<PeExport> ReadExports(const PeSource &image, uint32_t dirRva, uint32_t dirSize) {
  std::vector<PeExport> exports;
  uint8_t header[20];
  if (dirRva == 0 || !image.Read(uint64_t(dirRva) + 0x14, header, sizeof header))
    return exports;
  kx::ByteReader h(header, sizeof header);
  const uint32_t functionCount = h.U32(), nameCount = std::min(h.U32(), kMaxExportNames);
  const uint32_t functions = h.U32(), names = h.U32(), ordinals = h.U32();
  for (uint32_t i = 0; i < nameCount; ++i) {
    uint32_t nameRva = 0, functionRva = 0;
    uint16_t ordinal = 0;
    if (!Read32(image, uint64_t(names) + 4ull * i, nameRva) || !Read16(image, uint64_t(ordinals) + 2ull * i, ordinal))
      break;
    if (ordinal >= functionCount || !Read32(image, uint64_t(functions) + 4ull * ordinal, functionRva))
      continue;
    if (functionRva == 0 || (functionRva >= dirRva && functionRva - dirRva < dirSize))
      continue; // empty slot or forwarder ("OTHERDLL.Name")
    std::string name = ReadName(image, nameRva);
    if (!name.empty())
      exports.push_back({functionRva, std::move(name)});
  }
  return exports;
}

std::optional<uint32_t> FindExport(const PeSource &image, std::string_view name) {
  // Only the export directory's entry is read from the optional header: the tools look up a
  // module that the loader has mapped, whose headers it has checked already.
  std::optional<NtStart> start = ReadNtStart(image);
  if (!start)
    return std::nullopt;
  uint8_t entry[12];
  if (!image.Read(start->OptionalHeader() + start->DirectoriesAt() - 4, entry, sizeof entry))
    return std::nullopt;
  kx::ByteReader r(entry, sizeof entry);
  const uint32_t count = r.U32(), dirRva = r.U32(), dirSize = r.U32();
  if (count < 1 || dirRva == 0)
    return std::nullopt;
  for (const PeExport &e : ReadExports(image, dirRva, dirSize))
    if (e.Name == name)
      return e.Rva;
  return std::nullopt;
}

std::optional<std::vector<PeImport>> ReadImports(const PeSource &image, uint32_t dirRva, uint32_t dirSize) {
  std::vector<PeImport> imports;
  const uint64_t end = uint64_t(dirRva) + dirSize;
  for (uint64_t at = dirRva; at + 20 <= end; at += 20) {
    uint8_t descriptor[20];
    if (!image.Read(at, descriptor, sizeof descriptor))
      return std::nullopt;
    kx::ByteReader d(descriptor, sizeof descriptor);
    PeImport import;
    import.LookupTable = d.U32();
    d.Skip(8); // time stamp, forwarder chain
    const uint32_t nameRva = d.U32();
    import.AddressTable = d.U32();
    if (!nameRva && !import.AddressTable)
      break; // the end of the list
    if (nameRva)
      import.Module = ReadName(image, nameRva);
    imports.push_back(std::move(import));
  }
  return imports;
}

namespace {

// Walks a resource directory table by table. Each table is read once: a second visit is a loop
// or a shared table, either of which could make the walk endless or its output explode.
class ResourceWalk {
public:
  ResourceWalk(const PeSource &image, uint32_t root) : FImage(image), FRoot(root) {}

  PeResourceTree Walk() {
    PeResource leaf;
    Table(0, 0, leaf);
    return std::move(FTree);
  }

private:
  enum Level { kTypes, kNames, kLanguages };

  bool Fail(const std::string &why) {
    if (FTree.Error.empty())
      FTree.Error = why;
    return false;
  }

  uint64_t At(uint32_t offset) const { return uint64_t(FRoot) + offset; }

  bool ReadName(uint32_t field, PeResourceName &name) {
    name = {};
    if (!(field & kResourceHighBit)) {
      name.Id = field;
      return true;
    }
    const uint64_t at = At(field & ~kResourceHighBit);
    uint16_t length = 0;
    if (!Read16(FImage, at, length))
      return Fail("a resource name lies outside the image");
    FNameUnits += length;
    if (FNameUnits > kMaxResourceNameUnits)
      return Fail("the resource names are too long in all");
    std::vector<uint8_t> bytes(2 * size_t(length));
    if (length && !FImage.Read(at + 2, bytes.data(), bytes.size()))
      return Fail("a resource name lies outside the image");
    name.IsString = true;
    name.String.resize(length);
    for (size_t i = 0; i < length; ++i)
      name.String[i] = char16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return true;
  }

  bool Table(uint32_t offset, int level, PeResource &leaf) {
    if (!FVisited.insert(offset).second)
      return Fail("a resource directory table is reached twice (a loop)");
    uint8_t header[16];
    if (!FImage.Read(At(offset), header, sizeof header))
      return Fail("a resource directory table lies outside the image");
    kx::ByteReader h(header, sizeof header);
    h.Seek(12);
    const size_t count = size_t(h.U16()) + h.U16();
    FEntries += count;
    if (FEntries > kMaxResourceEntries)
      return Fail("the resource directory has too many entries");
    std::vector<uint8_t> entries(8 * count);
    if (count && !FImage.Read(At(offset) + 16, entries.data(), entries.size()))
      return Fail("a resource directory table lies outside the image");
    kx::ByteReader e(entries.data(), entries.size());
    for (size_t i = 0; i < count; ++i) {
      const uint32_t nameField = e.U32(), target = e.U32();
      PeResourceName &name = level == kTypes ? leaf.Type : level == kNames ? leaf.Name : leaf.Language;
      if (!ReadName(nameField, name))
        return false;
      const bool subdirectory = (target & kResourceHighBit) != 0;
      if (subdirectory != (level != kLanguages))
        return Fail(subdirectory ? "a resource directory is nested deeper than type, name and language"
                                 : "a resource data entry stands above the language level");
      if (subdirectory) {
        if (!Table(target & ~kResourceHighBit, level + 1, leaf))
          return false;
        continue;
      }
      uint8_t data[12];
      if (!FImage.Read(At(target), data, sizeof data))
        return Fail("a resource data entry lies outside the image");
      kx::ByteReader d(data, sizeof data);
      leaf.DataRva = d.U32();
      leaf.DataSize = d.U32();
      leaf.CodePage = d.U32();
      FTree.Resources.push_back(leaf);
    }
    return true;
  }

  const PeSource &FImage;
  const uint32_t FRoot;
  PeResourceTree FTree;
  std::unordered_set<uint32_t> FVisited;
  size_t FEntries = 0;
  size_t FNameUnits = 0;
};

// Resource names compare as the loader does for ASCII names: without regard to case.
bool SameAsciiName(const std::u16string &stored, std::string_view name) {
  if (stored.size() != name.size())
    return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (stored[i] > 0x7F || std::toupper(int(stored[i])) != std::toupper((unsigned char)name[i]))
      return false;
  }
  return true;
}

} // namespace

PeResourceTree ReadResources(const PeSource &image, uint32_t rootRva) { return ResourceWalk(image, rootRva).Walk(); }

std::vector<PeRuntimeFunction> ReadRuntimeFunctions(const PeSource &image, uint32_t dirRva, uint32_t dirSize) {
  std::vector<PeRuntimeFunction> functions;
  const uint32_t count = dirSize / 12;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t entry[12];
    if (!image.Read(uint64_t(dirRva) + 12ull * i, entry, sizeof entry))
      break;
    kx::ByteReader e(entry, sizeof entry);
    PeRuntimeFunction f;
    f.Begin = e.U32();
    f.End = e.U32();
    f.UnwindInfo = e.U32();
    functions.push_back(f);
  }
  return functions;
}

PeRuntimeFunctionLookup FindRuntimeFunction(const PeSource &image, uint32_t dirRva, uint32_t dirSize, uint32_t rva) {
  PeRuntimeFunctionLookup result;
  // Only the entries [low, high) may still hold rva.
  uint32_t low = 0, high = dirSize / 12;
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    uint8_t entry[12];
    if (!image.Read(uint64_t(dirRva) + 12ull * middle, entry, sizeof entry)) {
      result.Status = PeLookup::Unreadable;
      return result;
    }
    kx::ByteReader e(entry, sizeof entry);
    PeRuntimeFunction f;
    f.Begin = e.U32();
    f.End = e.U32();
    f.UnwindInfo = e.U32();
    if (rva < f.Begin) {
      high = middle;
    } else if (rva >= f.End) {
      low = middle + 1;
    } else {
      result.Status = PeLookup::Found;
      result.Function = f;
      return result;
    }
  }
  return result;
}

namespace {

// The slots each operation spans; 0 for a number that is no operation in that version.
uint8_t UnwindCodeSlots(uint8_t op, uint8_t info, uint8_t version) {
  switch (op) {
  case 0: case 2: case 3: case 10:
    return 1;
  case 1:
    return info == 0 ? 2 : info == 1 ? 3 : 0;
  case 4: case 8:
    return 2;
  case 5: case 9:
    return 3;
  case 6:
    return version >= 2 ? 1 : 0;
  default:
    return 0;
  }
}

} // namespace

std::optional<PeUnwindInfo> ReadUnwindInfo(const PeSource &image, uint32_t rva) {
  uint8_t header[4];
  if (!image.Read(rva, header, sizeof header))
    return std::nullopt;
  PeUnwindInfo info;
  info.Version = header[0] & 7;
  info.Flags = header[0] >> 3;
  info.SizeOfProlog = header[1];
  info.CountOfCodes = header[2];
  info.FrameRegister = header[3] & 15;
  info.FrameOffset = header[3] >> 4;
  if (info.Version != 1 && info.Version != 2)
    return std::nullopt;
  uint8_t slots[2 * 256];
  const size_t count = info.CountOfCodes;
  const uint64_t codesAt = uint64_t(rva) + 4;
  if (count && !image.Read(codesAt, slots, 2 * count))
    return std::nullopt;
  kx::ByteReader c(slots, 2 * count);
  while (c.Remaining() > 0) {
    PeUnwindCode code;
    code.CodeOffset = c.U8();
    const uint8_t opAndInfo = c.U8();
    code.Info = opAndInfo >> 4;
    code.Slots = UnwindCodeSlots(opAndInfo & 15, code.Info, info.Version);
    if (code.Slots == 0 || !c.Has(2 * (code.Slots - 1)))
      return std::nullopt;
    code.Op = PeUnwindOp(opAndInfo & 15);
    switch (code.Op) {
    case PeUnwindOp::AllocLarge:
      code.Value = code.Info == 0 ? uint32_t(c.U16()) * 8 : c.U32();
      break;
    case PeUnwindOp::AllocSmall:
      code.Value = uint32_t(code.Info) * 8 + 8;
      break;
    case PeUnwindOp::SetFpreg:
      if (info.FrameRegister == 0)
        return std::nullopt;
      break;
    case PeUnwindOp::SaveNonvol:
      code.Value = uint32_t(c.U16()) * 8;
      break;
    case PeUnwindOp::SaveXmm128:
      code.Value = uint32_t(c.U16()) * 16;
      break;
    case PeUnwindOp::SaveNonvolFar:
    case PeUnwindOp::SaveXmm128Far:
      code.Value = c.U32();
      break;
    case PeUnwindOp::PushMachframe:
      if (code.Info > 1)
        return std::nullopt;
      break;
    default:
      break;
    }
    info.Codes.push_back(code);
  }
  // The codes take an even number of slots; what follows them starts after the padding.
  const uint64_t tail = codesAt + 2 * ((count + 1) & ~size_t(1));
  if (info.Flags & kUnwindFlagChainInfo) {
    uint8_t entry[12];
    if (!image.Read(tail, entry, sizeof entry))
      return std::nullopt;
    kx::ByteReader e(entry, sizeof entry);
    PeRuntimeFunction f;
    f.Begin = e.U32();
    f.End = e.U32();
    f.UnwindInfo = e.U32();
    info.Chained = f;
  } else if (info.Flags & (kUnwindFlagExceptionHandler | kUnwindFlagTerminationHandler)) {
    if (tail + 4 > UINT32_MAX || !Read32(image, tail, info.Handler))
      return std::nullopt; // an RVA has 32 bits
    info.HandlerData = uint32_t(tail + 4);
  }
  return info;
}

std::vector<uint8_t> PeImage::MapImage(const uint8_t *data, size_t size) const {
  const uint32_t imageSize = std::min<uint32_t>(SizeOfImage, 256u << 20);
  std::vector<uint8_t> image(imageSize, 0);
  const uint64_t headers = std::min<uint64_t>({SizeOfHeaders, size, imageSize});
  if (headers > 0) // an image that claims no size has no buffer to copy into
    std::memcpy(image.data(), data, size_t(headers));
  for (const PeSection &s : Sections) {
    if (s.PointerToRawData >= size || s.VirtualAddress >= imageSize)
      continue;
    uint64_t n = std::min<uint64_t>(s.SizeOfRawData, s.VirtualSize ? s.VirtualSize : s.SizeOfRawData);
    n = std::min<uint64_t>(n, size - s.PointerToRawData);
    n = std::min<uint64_t>(n, imageSize - s.VirtualAddress);
    std::memcpy(image.data() + s.VirtualAddress, data + s.PointerToRawData, size_t(n));
  }
  return image;
}

std::optional<uint32_t> PeImage::FileOffsetOfRva(uint32_t rva) const {
  for (const PeSection &s : Sections) {
    if (rva >= s.VirtualAddress && uint64_t(rva) < uint64_t(s.VirtualAddress) + s.SizeOfRawData)
      return s.PointerToRawData + (rva - s.VirtualAddress);
  }
  return std::nullopt;
}

std::optional<uint64_t> PeImage::LongNameOffset(const std::string &name) const {
  if (name.size() < 2 || name[0] != '/' || !PointerToSymbolTable)
    return std::nullopt;
  return PointerToSymbolTable + uint64_t(NumberOfSymbols) * 18 + std::strtoull(name.c_str() + 1, nullptr, 10);
}

const PeSection *PeImage::FindSection(std::string_view name) const {
  for (const PeSection &s : Sections)
    if (s.Name == name)
      return &s;
  return nullptr;
}

std::optional<std::pair<uint32_t, uint32_t>> PeImage::FindResourceData(const uint8_t *data, size_t size,
                                                                       uint32_t type, std::string_view name) const {
  const uint32_t rootRva = Directory(kDirectoryResource).first;
  if (rootRva == 0)
    return std::nullopt;
  const PeResourceTree tree = ReadResources(PeFileRvas(*this, {data, data ? size : 0}), rootRva);
  if (!tree.Error.empty())
    return std::nullopt;
  for (const PeResource &r : tree.Resources) {
    if (r.Type.IsString || r.Type.Id != type || !r.Name.IsString || !SameAsciiName(r.Name.String, name))
      continue;
    std::optional<uint32_t> offset = FileOffsetOfRva(r.DataRva);
    if (!offset || uint64_t(*offset) + r.DataSize > size)
      return std::nullopt;
    return std::make_pair(*offset, r.DataSize);
  }
  return std::nullopt;
}

} // namespace debuginfo
