#pragma once
// The debug-information model of one module: code and data segments per unit, publics
// (functions and other symbols) and source lines, with the lookups the report, the stack
// tracer and the disassembler use, and the readers and writer of its stored forms.
// Portable: target addresses are uint32_t, files and the module's resources come through
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
  uint32_t StartAddress = 0;  // absolute
  uint32_t Length = 0;        // bytes
  std::string Unit_;          // unit or source-module name
  bool LineNumbers = false;   // the unit has lines even when the line table is not loaded
  bool operator==(const TMfSegment &) const = default;
};

struct TMfPublic {
  bool IsValid = false;
  bool Code = false;
  std::string Name;           // qualified below the unit: "Class.Method" or "Function"
  uint32_t Address = 0;       // absolute
  bool operator==(const TMfPublic &) const = default;
};

struct TMfLine {
  int32_t Line = 0;
  uint32_t Address = 0;       // absolute address of the line's first instruction
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
  TMapFile(bool valid, const std::string &moduleFileName, uint32_t hInstance, bool codeOnly,
           bool onlyAcceptKesFile, IModuleFiles *files = nullptr);

  // --- bounds ---
  // From parsed PE headers, with the module loaded at hInstance.
  void SetBounds(const debuginfo::PeImage &pe, uint32_t hInstance);
  void SetBounds(uint32_t baseOfCode, uint32_t topOfCode, uint32_t baseOfData, uint32_t topOfData);
  void SetCodeOnly(bool codeOnly) { FCodeOnly = codeOnly; }
  void SetModuleFileName(const std::string &name);
  void SetEntryPoint(uint32_t address) { FEntryPoint = address; }
  // Without a demangler of its own the model reads GCC's symbols (SymbolNames.h).
  void SetDemangler(TDemangler demangler) { FDemangler = std::move(demangler); }

  // --- lookups ---
  TMfSegment FindSegment(bool code, uint32_t address) const;
  TMfSegment FindSegmentAt(int index) const; // by position
  TMfPublic FindPublic(uint32_t address) const;
  TMfPublic FindPublicAt(int index) const;   // by position
  // Address of the public `name` of the given kind inside a segment of unit `unit_`; 0 if none.
  uint32_t FindPublic(bool code, const std::string &unit_, const std::string &name,
                      bool caseSensitive) const;
  int32_t FindLine(uint32_t address) const;
  int32_t FindLine(uint32_t address, uint32_t &next) const;
  uint32_t FindAddress(const std::string &segment, const std::string &public_) const;

  // --- building ---
  // Appends a segment; a unit ending in ".dpr" or ".pas" loses the extension.
  void AddSegment(bool code, uint32_t start, uint32_t length, std::string unit_,
                  bool lineNumbers = false);
  // Adds a public after the name rules (drops data publics when code-only, drops compiler
  // type-information names, demangles, and qualifies the name below its segment's unit).
  // Without applyNameRules the name is taken as it is (names already in the model's form);
  // only the dropping rules apply.
  void AddPublic(bool code, const std::string &name, uint32_t address, bool applyNameRules = true);
  void AddLine(int32_t line, uint32_t address);
  void SortSegments();
  void SortPublics();
  void SortLines();
  // Removes empty and duplicate-start segments, closes gaps (firstMode: only overlaps)
  // between neighbours of the same kind and joins neighbours of the same unit.
  void MergeSegments(bool firstMode);

  // --- stored forms ---
  // Reads a container; with mayUseCompanion a minimal container may be replaced by the
  // companion ".kes" file. False (and the model unchanged) when rejected.
  bool LoadContainer(const uint8_t *data, size_t size, bool mayUseCompanion = false);
  // Reads the linker's text map. False when it contains nothing usable.
  bool LoadTextMap(std::string_view text);
  // Writes the container: version 3 when newFormat, else 2. minDebugInfoOnly writes segments
  // and publics without names or lines (version 3 only); hideUglyItems leaves out publics with
  // compiler-generated names. checksumA and checksumB go into the version-3 header.
  std::vector<uint8_t> Export(bool newFormat, bool minDebugInfoOnly, bool hideUglyItems,
                              uint32_t checksumA = 0, uint32_t checksumB = 0) const;

  // --- properties ---
  bool IsValid() const { return FValid; }
  void SetValid(bool valid) { FValid = valid; }
  const std::string &MinDebugInfo() const { return FMinDebugInfo; }
  uint32_t EntryPoint() const { return FEntryPoint; }
  uint32_t BaseOfCode() const { return FBaseOfCode; }
  uint32_t TopOfCode() const { return FTopOfCode; }
  uint32_t BaseOfData() const { return FBaseOfData; }
  uint32_t TopOfData() const { return FTopOfData; }
  uint32_t HInstance() const { return FHInstance; }
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
  bool ParseDebugStream(const uint8_t *data, size_t size, bool minimal);
  uint32_t CodeAddress(uint32_t offset) const;
  uint32_t CodeOffset(uint32_t address) const;

  bool FCodeOnly = false;
  std::vector<TMfSegment> FSItems;
  uint32_t FSCapacity = 0;
  std::vector<TMfPublic> FPItems;
  uint32_t FPCapacity = 0;
  std::vector<TMfLine> FLItems;
  uint32_t FLCapacity = 0;
  uint32_t FEntryPoint = 0;
  uint32_t FBaseOfData = 0;
  uint32_t FTopOfData = 0;
  uint32_t FHInstance = 0;
  bool FValid = false;
  uint32_t FBaseOfCode = 0;
  uint32_t FTopOfCode = 0;
  // A second code section: offsets at or above FSecondCodeOffset move by FSecondCodeShift.
  uint32_t FSecondCodeOffset = 0;
  uint32_t FSecondCodeShift = 0;
  std::string FModuleFileName;
  std::string FMapFileName;
  std::string FMinDebugInfo;
  IModuleFiles *FFiles = nullptr;
  TDemangler FDemangler;
};
