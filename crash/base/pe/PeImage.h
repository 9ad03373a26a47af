#pragma once
// The one reader of PE images: the DOS header, the NT signature, the file and optional headers
// (PE32 and PE32+), the data directories, the section table, and the export,
// import, exception (.pdata) and resource directories. It reads through a PeSource: the bytes of
// a file, the image as the loader maps it (given as a span bounded by SizeOfImage), or the memory
// of a traced process. Every field is read with bounds checks; a malformed image gives nullopt or
// an empty list instead of a fault.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace debuginfo {

// Reads an image's bytes by their offset from its start: in a mapped image or in process memory
// that is the RVA; in a file it is the file offset (the headers lie at the same place in both).
class PeSource {
public:
  virtual ~PeSource() = default;
  // False, with out left undefined, when any of the size bytes cannot be read.
  virtual bool Read(uint64_t offset, void *out, size_t size) const = 0;
};

// A PeSource over bytes in memory: a file's bytes or a mapped image bounded by its size.
class PeSpan : public PeSource {
public:
  explicit PeSpan(std::span<const uint8_t> bytes) : FBytes(bytes) {}
  PeSpan(const uint8_t *data, size_t size) : FBytes(data, data ? size : 0) {}
  bool Read(uint64_t offset, void *out, size_t size) const override;
  std::span<const uint8_t> Bytes() const { return FBytes; }

private:
  std::span<const uint8_t> FBytes;
};

struct PeSection {
  std::string Name; // long names ("/nnn") resolved through the COFF string table when it is there
  uint32_t VirtualSize = 0;
  uint32_t VirtualAddress = 0;
  uint32_t SizeOfRawData = 0;
  uint32_t PointerToRawData = 0;
  uint32_t Characteristics = 0;
  bool IsCode() const { return (Characteristics & 0x20000020u) != 0; } // code or executable
};

inline constexpr uint32_t kSectionCode = 0x20;
inline constexpr uint32_t kResourceTypeRcData = 10;
inline constexpr size_t kSectionHeaderSize = 40;

// Indexes of the data directories.
inline constexpr size_t kDirectoryExport = 0;
inline constexpr size_t kDirectoryImport = 1;
inline constexpr size_t kDirectoryResource = 2;
inline constexpr size_t kDirectoryException = 3;
inline constexpr size_t kDirectoryCertificate = 4; // its "RVA" is a file offset

inline constexpr uint16_t kSubsystemWindowsGui = 2;
inline constexpr uint16_t kSubsystemWindowsConsole = 3;

// A named export: the function's RVA and its name (at most 255 characters).
struct PeExport {
  uint32_t Rva = 0;
  std::string Name;
};

// One module an image imports from: its name (at most 255 characters), the RVA of its import
// lookup table (0 where the linker left it out) and of its import address table.
struct PeImport {
  std::string Module;
  uint32_t LookupTable = 0;
  uint32_t AddressTable = 0;
};

// One entry of the exception directory of a PE32+ image: the function's RVA range and the RVA
// of its unwind information.
struct PeRuntimeFunction {
  uint32_t Begin = 0;
  uint32_t End = 0;
  uint32_t UnwindInfo = 0;
};

// The name of a resource directory entry: a number, or a UTF-16 string.
struct PeResourceName {
  bool IsString = false;
  uint32_t Id = 0;       // when !IsString
  std::u16string String; // when IsString, as stored (at most 65535 code units)
  bool operator==(const PeResourceName &) const = default;
};

// One leaf of the resource directory (type -> name -> language -> data entry) and where its
// data lies.
struct PeResource {
  PeResourceName Type, Name, Language;
  uint32_t DataRva = 0;
  uint32_t DataSize = 0;
  uint32_t CodePage = 0;
};

// The resources of a directory in the order its tables list them, or why it is malformed.
struct PeResourceTree {
  std::vector<PeResource> Resources;
  std::string Error; // empty when the whole directory could be read
};

// Where the header fields lie in the image file, for a tool that rewrites them.
struct PeHeaderFields {
  uint64_t NumberOfSections = 0;
  uint64_t SizeOfInitializedData = 0;
  uint64_t SizeOfImage = 0;
  uint64_t CheckSum = 0;
  uint64_t DataDirectories = 0; // 8 bytes each: RVA, size
  uint64_t SectionTable = 0;    // kSectionHeaderSize bytes each
};

struct PeImage;

// A PeSource that reads a file's bytes by RVA, through the section table of its headers (RVAs
// inside the headers read the headers). The image and the bytes must outlive it.
class PeFileRvas : public PeSource {
public:
  PeFileRvas(const PeImage &image, std::span<const uint8_t> file) : FImage(image), FFile(file) {}
  bool Read(uint64_t rva, void *out, size_t size) const override;

private:
  const PeImage &FImage;
  PeSpan FFile;
};

struct PeImage {
  uint32_t HeadersOffset = 0; // e_lfanew: where the NT signature lies
  uint16_t Machine = 0;
  uint16_t Characteristics = 0;
  uint32_t TimeDateStamp = 0;
  uint32_t PointerToSymbolTable = 0;
  uint32_t NumberOfSymbols = 0;
  uint8_t MajorLinkerVersion = 0;
  uint8_t MinorLinkerVersion = 0;
  uint32_t SizeOfCode = 0;
  uint32_t SizeOfInitializedData = 0;
  uint32_t SizeOfUninitializedData = 0;
  uint32_t AddressOfEntryPoint = 0;
  uint32_t BaseOfCode = 0;
  uint32_t BaseOfData = 0;
  uint64_t ImageBase = 0; // below 4 GiB in a PE32 image; a PE32+ image may be based anywhere
  uint32_t SectionAlignment = 0;
  uint32_t FileAlignment = 0;
  uint32_t SizeOfImage = 0;
  uint32_t SizeOfHeaders = 0;
  uint32_t CheckSum = 0;
  uint16_t Subsystem = 0;
  uint16_t SizeOfOptionalHeader = 0;
  std::vector<std::pair<uint32_t, uint32_t>> DataDirectories; // (RVA, size)
  std::vector<PeSection> Sections;

  bool Pe32Plus = false; // a 64-bit image; BaseOfData is 0

  // Parses the DOS and PE headers and the section table of a PE32 or PE32+ image.
  static std::optional<PeImage> Parse(const uint8_t *data, size_t size);
  static std::optional<PeImage> Parse(const PeSource &source);

  // The data directory's (RVA, size); (0, 0) when the headers have no such entry.
  std::pair<uint32_t, uint32_t> Directory(size_t index) const;

  // The file offsets of the header fields that change when a section is added.
  PeHeaderFields HeaderFields() const;

  // The image as the loader lays it out in memory (headers and sections at their RVAs, the
  // rest zero), from the file's bytes; at most 256 MiB whatever the headers claim.
  std::vector<uint8_t> MapImage(const uint8_t *data, size_t size) const;

  // File offset of an RVA that lies in a section's raw data.
  std::optional<uint32_t> FileOffsetOfRva(uint32_t rva) const;

  // The section that holds a file's raw bytes for the given name; nullptr when absent.
  const PeSection *FindSection(std::string_view name) const;

  // The file offset a long section name ("/nnn") points at, in the COFF string table that
  // follows the symbol table; nullopt for a short name or an image without symbol table. Parse
  // resolves such names when the bytes it is given reach that far.
  std::optional<uint64_t> LongNameOffset(const std::string &name) const;

  // Locates a resource of the given numeric type whose name equals `name` (case-insensitive,
  // ASCII) in the image file `data`; returns (file offset, size) of its first language. Nothing
  // when the resource directory is malformed or the data does not lie in the file.
  std::optional<std::pair<uint32_t, uint32_t>> FindResourceData(const uint8_t *data, size_t size,
                                                                uint32_t type, std::string_view name) const;
};

// The named exports of the export directory at dirRva (size dirSize) of the image that source
// reads by RVA, in the order of the name table. Forwarders (an address inside the directory),
// empty slots, unreadable entries and empty names are left out; reading stops at the first
// unreadable name pointer or ordinal, and after 65536 names.
std::vector<PeExport> ReadExports(const PeSource &image, uint32_t dirRva, uint32_t dirSize);

// The RVA of the function exported under exactly this name by the image that source reads by
// RVA; nullopt when the headers are not those of a PE image, there is no such export, or it is
// forwarded. Only the headers up to the export directory's entry need to be there.
std::optional<uint32_t> FindExport(const PeSource &image, std::string_view name);

// The import descriptors of the import directory at dirRva (size dirSize), up to the empty one
// that ends the list or the end of the directory; nullopt when a descriptor inside the
// directory cannot be read.
std::optional<std::vector<PeImport>> ReadImports(const PeSource &image, uint32_t dirRva, uint32_t dirSize);

// The resource directory whose root table lies at rootRva in the image that source reads by RVA:
// every leaf, three levels deep (type, name, language), with its data entry. Every table, name
// and data entry is read with bounds checks. A table reached twice (a loop, or tables shared
// between entries), an entry at the wrong depth, more than 65536 entries or names of more than
// 1 Mi code units in all make the directory malformed: Error says what, and Resources holds
// what was read before. The work is linear in what the directory holds.
PeResourceTree ReadResources(const PeSource &image, uint32_t rootRva);

// The entries of the exception directory at dirRva (size dirSize, 12 bytes an entry); the
// entries up to the first unreadable one.
std::vector<PeRuntimeFunction> ReadRuntimeFunctions(const PeSource &image, uint32_t dirRva, uint32_t dirSize);

// The entry of the exception directory at dirRva (size dirSize) whose range [Begin, End) holds
// rva, found by binary search over the entries, which the format keeps sorted by Begin: at most
// about log2(dirSize / 12) + 1 entries are read, whatever the directory holds. Where the entries
// are not sorted the search still ends, and may miss. Found: the entry; NotFound: no entry holds
// rva (a leaf function, or no such code); Unreadable: an entry the search needed could not be read.
enum class PeLookup { Found, NotFound, Unreadable };
struct PeRuntimeFunctionLookup {
  PeLookup Status = PeLookup::NotFound;
  PeRuntimeFunction Function; // when Found
};
PeRuntimeFunctionLookup FindRuntimeFunction(const PeSource &image, uint32_t dirRva, uint32_t dirSize, uint32_t rva);

// The unwind information (UNWIND_INFO) of an x86-64 function: the flags, the prolog size, the frame
// register and the unwind codes, each with its operands.
inline constexpr uint8_t kUnwindFlagExceptionHandler = 1;
inline constexpr uint8_t kUnwindFlagTerminationHandler = 2;
inline constexpr uint8_t kUnwindFlagChainInfo = 4;

// The operations of unwind codes, by their number in the UnwindOp field. Epilog (6) exists in
// version 2 only (it describes where epilogs lie and does not act on the stack); 6 in version 1,
// 7 and 11 to 15 are not operations.
enum class PeUnwindOp : uint8_t {
  PushNonvol = 0,   // a push of register Info
  AllocLarge = 1,   // Value bytes allocated (Info 0: a 16-bit count of 8 bytes; 1: a 32-bit count of bytes)
  AllocSmall = 2,   // Value = Info * 8 + 8 bytes allocated
  SetFpreg = 3,     // the frame register set to RSP + 16 * FrameOffset
  SaveNonvol = 4,   // register Info stored at Value (a 16-bit count of 8 bytes) above the frame base
  SaveNonvolFar = 5,  // the same with a 32-bit offset in bytes
  Epilog = 6,         // version 2: an epilog's place and size
  SaveXmm128 = 8,     // xmm register Info stored at Value (a 16-bit count of 16 bytes) above the frame base
  SaveXmm128Far = 9,  // the same with a 32-bit offset in bytes
  PushMachframe = 10, // a machine frame pushed by the processor; Info 1: an error code was pushed too
};

// One unwind code, decoded: the slots it spans are taken together.
struct PeUnwindCode {
  uint8_t CodeOffset = 0; // the offset in the prolog of the end of its instruction (Epilog: see Info)
  PeUnwindOp Op = PeUnwindOp::PushNonvol;
  uint8_t Info = 0;   // the OpInfo field: a register number, the form, or flags
  uint32_t Value = 0; // AllocLarge/AllocSmall: bytes allocated; Save*: the offset in bytes; else 0
  uint8_t Slots = 1;  // the 16-bit slots it takes (1 to 3)
};

struct PeUnwindInfo {
  uint8_t Version = 0; // 1 or 2
  uint8_t Flags = 0;   // kUnwindFlag*
  uint8_t SizeOfProlog = 0;
  uint8_t CountOfCodes = 0; // in slots
  uint8_t FrameRegister = 0; // 0: none; else the register's number (1 to 15)
  uint8_t FrameOffset = 0;   // in units of 16 bytes
  std::vector<PeUnwindCode> Codes; // in the order stored: the reverse of the prolog's order
  // With kUnwindFlagChainInfo: the entry whose unwind information continues this one.
  std::optional<PeRuntimeFunction> Chained;
  // With a handler flag and no chain: the RVA of the handler and where its data begins.
  uint32_t Handler = 0;
  uint32_t HandlerData = 0;
};

// Reads the unwind information at rva of the image that source reads by RVA: the 4-byte header,
// CountOfCodes slots (padded to an even count), then the chained entry or the handler's RVA.
// Every read is bounds-checked. nullopt when any part cannot be read, the version is not 1 or 2,
// a code is not an operation (see PeUnwindOp), its operands run past CountOfCodes, an
// AllocLarge or PushMachframe has an unknown form, or SetFpreg appears without a frame register.
std::optional<PeUnwindInfo> ReadUnwindInfo(const PeSource &image, uint32_t rva);

} // namespace debuginfo
