#pragma once
// The bug report file's file operations over the Win32 file API.
#include "crash/output/KXBugFileSystem.h"

namespace kx {

class KXWin32BugFileSystem : public IKXBugFileSystem {
public:
  bool CreateFolder(const std::u16string &path) override;
  // CreateFileW with read and write access, no sharing, open-always. A sharing or lock
  // violation is reported as busy.
  KXOpenResult Open(const std::u16string &path) override;
  void Sleep(uint32_t milliseconds) override;
};

// The executable's full path (any length).
std::u16string ExecutablePath();

} // namespace kx
