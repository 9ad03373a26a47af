#pragma once
// The process-wide cache of debug-information models, keyed by module file and the file's
// DOS date/time at load, and the helpers the report and the disassembler build on it.
#include "crash/analysis/debuginfo/MapFile.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// What the cache needs to know about the process: which module holds an address, and the
// module file's last-write time.
class IModuleLocator {
public:
  struct Module {
    std::string FileName; // full path of the module file
    uint64_t HInstance = 0;
  };
  virtual ~IModuleLocator() = default;
  // The module whose committed image memory holds the address; nullopt otherwise.
  virtual std::optional<Module> ModuleOfAddress(uint64_t address) = 0;
  // DOS date/time (date in the high word) of the file's last write; 0 when unknown.
  virtual uint32_t FileDosDateTime(const std::string &fileName) = 0;
  // Where the models read their files; nullptr for the file system.
  virtual IModuleFiles *Files() { return nullptr; }
};

// DOS date/time of a calendar time: date (years since 1980, month, day) in the high word,
// time (hours, minutes, seconds / 2) in the low word. Years outside 1980..2107 clamp.
uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second);

class TModelCache {
public:
  using ModelPtr = std::shared_ptr<const TMapFile>;

  // The model of the module that holds `address`. A cached model is reused while its module
  // file's DOS date/time is unchanged; a stale one is dropped (holders keep their copy alive).
  // An address in no module gives an empty invalid model.
  ModelPtr ModelFor(IModuleLocator &locator, uint64_t address);
  size_t Size() const;
  void Clear();

  static TModelCache &Process();

private:
  struct Entry {
    uint32_t FileTime;
    ModelPtr Model;
  };
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

struct TAddressDescription {
  bool Ok = false;
  std::string ModuleFileName;
  std::string Unit;
  int32_t Line = 0;
  std::string FunctionName;
  uint64_t FunctionAddress = 0;
};

// Module, unit, line and function of a code address (callers resolve a null address to their
// own call site first). Ok is false when there is no valid model for the address.
TAddressDescription DescribeAddress(TModelCache &cache, IModuleLocator &locator, uint64_t address);

// For the disassembler: "Unit.Public" when address is exactly a public's start (just the
// public's name when the unit is empty; names from minimal information get " (module)"
// appended). Empty otherwise.
std::string ProcedureName(const TMapFile &model, uint64_t address);

// Keeps (line, [rangeStart, rangeEnd)) current for a walk over consecutive addresses: nothing
// happens while a known line's range still holds the address.
void UpdateLine(const TMapFile &model, uint64_t address, int32_t &line, uint64_t &rangeStart,
                uint64_t &rangeEnd);
