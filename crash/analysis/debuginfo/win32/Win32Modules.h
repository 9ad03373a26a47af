#pragma once
// The Win32 side of the debug-information lookup: which loaded module holds an address, the
// module file's last-write time, and the module's own debug resource read from the loaded image.
#include "crash/analysis/debuginfo/MapFile.h"
#include "crash/analysis/debuginfo/ModelCache.h"

#include <cstdint>

class Win32ModuleFiles : public FileModuleFiles {
public:
  // From the loaded image when the module is loaded in this process, else from its file.
  std::optional<std::vector<uint8_t>> OwnResource(const std::string &moduleFileName) override;
  // A text property of the module's reporter settings (its "TKESTRELIX" resource).
  std::string SettingsProperty(const std::string &moduleFileName, const std::string &name) override;
  static Win32ModuleFiles &Instance();
};

class Win32ModuleLocator : public IModuleLocator {
public:
  // Committed image memory only; its allocation base is the module handle.
  std::optional<Module> ModuleOfAddress(uint64_t address) override;
  uint32_t FileDosDateTime(const std::string &fileName) override;
  IModuleFiles *Files() override { return &Win32ModuleFiles::Instance(); }
  static Win32ModuleLocator &Instance();
};

// The description of a code address through the process-wide cache; a null address stands for
// the caller's own call site (its return address minus one).
TAddressDescription DescribeCodeAddress(uint64_t address);
