#pragma once
// The "modules" section: the modules loaded into the process, found by walking its address space
// region by region, one line per module in address order:
//   00400000 Tidewell.exe 1.0.0.0 C:\Program Files\Tidewell
// (load address, file name padded to the longest name plus one, version padded to the longest
// version plus one, folder).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crash/base/settings/KXPlatform.h"

namespace kx {

struct KXModuleEntry {
  uint64_t address = 0;    // the load address
  std::u16string fileName; // without folder
  std::u16string path;     // the folder, without the final backslash
  std::u16string version;  // see ModuleVersionText
};

// One region of the address space as the system describes it.
struct KXMemoryRegion {
  uint64_t base = 0, allocationBase = 0, size = 0;
  bool committed = false;
};

// What the walk asks of the process.
class IKXModuleSource {
public:
  virtual ~IKXModuleSource() = default;
  // The region that holds the address; false past the end of the address space.
  virtual bool QueryRegion(uint64_t address, KXMemoryRegion &region) = 0;
  // The full file name of the module loaded at that base; "" when there is none.
  virtual std::u16string ModuleFileName(uint64_t base) = 0;
  // The version resource of the file; nullopt when it has none.
  virtual std::optional<KXFileVersion> FileVersion(const std::u16string &fullName) = 0;
};

// The modules in address order. A region starts a module when it is committed, it is the first
// region of its allocation, its allocation is not the one of the region before it, and the source
// names a file for its base. A module mapped twice is listed twice; the further regions of one
// allocation add nothing.
std::vector<KXModuleEntry> CollectModules(IKXModuleSource &source);

// The four parts of the fixed file version joined by "."; when they are all 0, the FileVersion
// string, trimmed; "" without a version resource.
std::u16string ModuleVersionText(const std::optional<KXFileVersion> &version);

// The section text: one line per module, joined by CR LF.
std::u16string ModuleListText(const std::vector<KXModuleEntry> &modules);

} // namespace kx
