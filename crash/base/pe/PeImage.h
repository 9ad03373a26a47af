#pragma once
// Read-only view of a 32-bit PE image given as bytes (the file, or just its headers). Every
// field is read with bounds checks; a malformed image gives nullopt instead of a fault.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace debuginfo {

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

struct PeImage {
  uint32_t TimeDateStamp = 0;
  uint32_t PointerToSymbolTable = 0;
  uint32_t NumberOfSymbols = 0;
  uint32_t SizeOfCode = 0;
  uint32_t SizeOfInitializedData = 0;
  uint32_t SizeOfUninitializedData = 0;
  uint32_t AddressOfEntryPoint = 0;
  uint32_t BaseOfCode = 0;
  uint32_t BaseOfData = 0;
  uint32_t ImageBase = 0;
  uint32_t SizeOfImage = 0;
  uint32_t SizeOfHeaders = 0;
  uint32_t CheckSum = 0;
  std::vector<std::pair<uint32_t, uint32_t>> DataDirectories; // (RVA, size)
  std::vector<PeSection> Sections;

  bool Pe32Plus = false; // a 64-bit image (based below 4 GiB); BaseOfData is 0

  // Parses the DOS and PE headers and the section table: PE32, and PE32+ based below 4 GiB.
  static std::optional<PeImage> Parse(const uint8_t *data, size_t size);

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
  // ASCII) in the image file `data`; returns (file offset, size) of its first language.
  std::optional<std::pair<uint32_t, uint32_t>> FindResourceData(const uint8_t *data, size_t size,
                                                                uint32_t type,
                                                            std::string_view name) const;
};

} // namespace debuginfo
