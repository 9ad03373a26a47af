#pragma once
// The debug-information model of one module: code and data segments per unit, publics
// (functions and other symbols) and source lines, with the lookups the report, the stack
// tracer and the disassembler use, and the readers and writer of its stored forms.
// Portable: target addresses are uint64_t (PE32 and PE32+ images), files and the module's resources come through
// IModuleFiles, and the module's PE headers are given as bytes.
#include "crash/base/pe/PeImage.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TMfSegment {
  bool IsValid = false;
  bool Code = false;          // code range, else data
  uint64_t StartAddress = 0;  // absolute
  uint32_t Length = 0;        // bytes
  std::string Unit_;          // unit or source-module name
  bool LineNumbers = false;   // the unit has lines even when the line table is not loaded
  bool operator==(const TMfSegment &) const = default;
};

struct TMfPublic {
  bool IsValid = false;
  bool Code = false;
  std::string Name;           // qualified below the unit: "Class.Method" or "Function"
  uint64_t Address = 0;       // absolute
  bool operator==(const TMfPublic &) const = default;
};

struct TMfLine {
  int32_t Line = 0;
  uint64_t Address = 0;       // absolute address of the line's first instruction
  bool operator==(const TMfLine &) const = default;
};

// What the model reads from outside: files, the module's own debug resource and its settings.
class IModuleFiles {
public:
  virtual ~IModuleFiles() = default;
  // The whole file; nullopt when it cannot be read.
  virtual std::optional<std::vector<uint8_t>> ReadFile(const std::string &path) = 0;
  // The module's PE headers (the whole file will do); empty when they cannot be read.
  virtual std::vector<uint8_t> ModuleHeaders(const std::string &moduleFileName);
  // The payload of the module's own debug-information resource; nullopt when absent.
  virtual std::optional<std::vector<uint8_t>> OwnResource(const std::string &moduleFileName);
  // A property of the module's reporter settings; empty when absent.
  virtual std::string SettingsProperty(const std::string &moduleFileName, const std::string &name);
};

// Reads everything from the file system with the standard library; the own resource is
// taken from the module file's resource section.
class FileModuleFiles : public IModuleFiles {
public:
  std::optional<std::vector<uint8_t>> ReadFile(const std::string &path) override;
  // The first 64 KiB of the file, which hold the headers and the section table.
  std::vector<uint8_t> ModuleHeaders(const std::string &moduleFileName) override;
  // The headers and the section table with long section names resolved, read without the rest
  // of the file (which can be tens of megabytes of debug information); nullopt when the file
  // cannot be read or is no PE image.
  std::optional<debuginfo::PeImage> SectionTable(const std::string &moduleFileName);
  static FileModuleFiles &Instance();
};

// Machines a container can describe (the PE header's Machine field).
inline constexpr uint16_t kMachineI386 = 0x014c;
inline constexpr uint16_t kMachineAmd64 = 0x8664;

// Resource that carries a module's own debug information (type RCDATA).
inline constexpr char kDebugInfoResourceName[] = "TIDEWELLDEBUG";

// A public name split by the demangler: the unit it names (empty when none) and the rest.
struct TDemangledName {
  std::string UnitQualifier;
  std::string Name;
};
using TDemangler = std::function<TDemangledName(const std::string &)>;

class TMapFile {
public:
  // An empty, invalid model.
  TMapFile() = default;
  // With valid false: an empty, invalid model. Otherwise computes the code and data bounds
  // from the module's PE headers and tries the sources in order (own resource, ".map"
  // unless only the own format is accepted, ".kes"); IsValid tells whether one delivered.
  TMapFile(bool valid, const std::string &moduleFileName, uint64_t hInstance, bool codeOnly,
           bool onlyAcceptKesFile, IModuleFiles *files = nullptr);

  // --- bounds ---
  // From parsed PE headers, with the module loaded at hInstance.
  void SetBounds(const debuginfo::PeImage &pe, uint64_t hInstance);
  void SetBounds(uint64_t baseOfCode, uint64_t topOfCode, uint64_t baseOfData, uint64_t topOfData);
  void SetCodeOnly(bool codeOnly) { FCodeOnly = codeOnly; }
  void SetModuleFileName(const std::string &name);
  void SetEntryPoint(uint64_t address) { FEntryPoint = address; }
  // The machine of the image the model describes (SetBounds from PE headers sets it). A
  // container of another machine is rejected; 0 accepts any.
  void SetMachine(uint16_t machine) { FMachine = machine; }
  // Without a demangler of its own the model reads GCC's symbols (SymbolNames.h).
  void SetDemangler(TDemangler demangler) { FDemangler = std::move(demangler); }

  // --- lookups ---
  TMfSegment FindSegment(bool code, uint64_t address) const;
  TMfSegment FindSegmentAt(int index) const; // by position
  TMfPublic FindPublic(uint64_t address) const;
  TMfPublic FindPublicAt(int index) const;   // by position
  // Address of the public `name` of the given kind inside a segment of unit `unit_`; 0 if none.
  uint64_t FindPublic(bool code, const std::string &unit_, const std::string &name,
                      bool caseSensitive) const;
  int32_t FindLine(uint64_t address) const;
  int32_t FindLine(uint64_t address, uint64_t &next) const;
  uint64_t FindAddress(const std::string &segment, const std::string &public_) const;

  // --- building ---
  // Appends a segment; a unit ending in ".dpr" or ".pas" loses the extension.
  void AddSegment(bool code, uint64_t start, uint32_t length, std::string unit_,
                  bool lineNumbers = false);
  // Adds a public after the name rules (drops data publics when code-only, drops compiler
  // type-information names, demangles, and qualifies the name below its segment's unit).
  // Without applyNameRules the name is taken as it is (names already in the model's form);
  // only the dropping rules apply.
  void AddPublic(bool code, const std::string &name, uint64_t address, bool applyNameRules = true);
  void AddLine(int32_t line, uint64_t address);
  void SortSegments();
  void SortPublics();
  void SortLines();
  // Removes empty and duplicate-start segments, closes gaps (firstMode: only overlaps)
  // between neighbours of the same kind and joins neighbours of the same unit.
  void MergeSegments(bool firstMode);

  // --- stored forms ---
  // Reads a container; with mayUseCompanion a minimal container may be replaced by the
  // companion ".kes" file. False (and the model unchanged) when rejected, also when the
  // container's machine (i386 for versions 2 and 3) is not the model's (when that is known).
  // A container read into a model of unknown machine sets it.
  bool LoadContainer(const uint8_t *data, size_t size, bool mayUseCompanion = false);
  // Reads the linker's text map. False when it contains nothing usable.
  bool LoadTextMap(std::string_view text);
  // Writes the container: version 3 when newFormat, else 2; a model of an x86-64 image is
  // always written as version 4 (version 3 and its machine word), which older readers refuse
  // instead of misreading. minDebugInfoOnly writes segments and publics without names or lines
  // (versions 3 and 4); hideUglyItems leaves out publics with compiler-generated names.
  // checksumA and checksumB go into the header of versions 3 and 4.
  std::vector<uint8_t> Export(bool newFormat, bool minDebugInfoOnly, bool hideUglyItems,
                              uint32_t checksumA = 0, uint32_t checksumB = 0) const;

  // --- properties ---
  bool IsValid() const { return FValid; }
  uint16_t Machine() const { return FMachine; }
  void SetValid(bool valid) { FValid = valid; }
  const std::string &MinDebugInfo() const { return FMinDebugInfo; }
  uint64_t EntryPoint() const { return FEntryPoint; }
  uint64_t BaseOfCode() const { return FBaseOfCode; }
  uint64_t TopOfCode() const { return FTopOfCode; }
  uint64_t BaseOfData() const { return FBaseOfData; }
  uint64_t TopOfData() const { return FTopOfData; }
  uint64_t HInstance() const { return FHInstance; }
  const std::string &ModuleFileName() const { return FModuleFileName; }
  const std::string &MapFileName() const { return FMapFileName; }
  int SegmentCount() const { return int(FSItems.size()); }
  int PublicCount() const { return int(FPItems.size()); }
  int LineCount() const { return int(FLItems.size()); }
  uint32_t SegmentCapacity() const { return FSCapacity; }
  uint32_t PublicCapacity() const { return FPCapacity; }
  uint32_t LineCapacity() const { return FLCapacity; }
  const std::vector<TMfSegment> &Segments() const { return FSItems; }
  const std::vector<TMfPublic> &Publics() const { return FPItems; }
  const std::vector<TMfLine> &Lines() const { return FLItems; }

  // The 31-character signature of a container: "$len, $A, $B" in 8 lower-case hex digits.
  static std::string ContainerSignature(uint32_t totalLength, uint32_t a, uint32_t b);
  // The file name with its extension replaced (ext with its dot).
  static std::string ChangeExtension(const std::string &fileName, const std::string &ext);

private:
  bool LoadCompanionKes();
  // wide: the stream describes an x86-64 image (addresses beyond 32 bits).
  bool ParseDebugStream(const uint8_t *data, size_t size, bool minimal, bool wide);
  uint64_t CodeAddress(uint32_t offset) const;
  uint32_t CodeOffset(uint64_t address) const;

  bool FCodeOnly = false;
  std::vector<TMfSegment> FSItems;
  uint32_t FSCapacity = 0;
  std::vector<TMfPublic> FPItems;
  uint32_t FPCapacity = 0;
  std::vector<TMfLine> FLItems;
  uint32_t FLCapacity = 0;
  uint64_t FEntryPoint = 0;
  uint64_t FBaseOfData = 0;
  uint64_t FTopOfData = 0;
  uint64_t FHInstance = 0;
  uint16_t FMachine = 0; // of the image the model describes; 0 while unknown
  bool FValid = false;
  uint64_t FBaseOfCode = 0;
  uint64_t FTopOfCode = 0;
  // A second code section: offsets at or above FSecondCodeOffset move by FSecondCodeShift.
  uint32_t FSecondCodeOffset = 0;
  uint32_t FSecondCodeShift = 0;
  std::string FModuleFileName;
  std::string FMapFileName;
  std::string FMinDebugInfo;
  IModuleFiles *FFiles = nullptr;
  TDemangler FDemangler;
};
