#pragma once
// The "processes" section: one line per running process, in the order of the system's list:
//   0004 System        0  1234  56 normal       C:\Windows\System32
// (process id in hexadecimal, file name, the session id when some process runs in a session other
// than 0, GDI and USER object counts, priority class, folder; every column padded on the right
// to its longest text plus one).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// What the system's process list says about one process.
struct KXSystemProcess {
  uint32_t processId = 0;
  uint32_t sessionId = 0;
  bool hasImageName = false;
  std::u16string imageName;
};

struct KXProcessEntry {
  std::u16string fileName;
  std::u16string path;           // the folder without the final backslash; "" when only a name is known
  uint32_t processId = 0;
  uint32_t sessionId = 0;
  int32_t priorityClass = -1;    // -1 when the process could not be opened
  uint32_t gdiObjects = 0;       // 0 when not readable
  uint32_t userObjects = 0;
};

// A main module's file name as the system gives it, made a usable path: a leading
// "\SystemRoot\System32\" becomes the system folder (given without a final backslash), a
// leading "\??\" is removed.
std::u16string NormaliseProcessPath(std::u16string_view fileName, std::u16string_view systemDirectory);

// The file name and folder of a process: an entry without image name is "Idle"; otherwise the
// main module's file name (when it could be read, normalised) or else the entry's image name,
// split at its last backslash.
void NameProcess(const KXSystemProcess &process, const std::u16string *moduleFileName,
                 std::u16string_view systemDirectory, KXProcessEntry &entry);

// "normal", "idle", "high", "realtime", "below normal", "above normal"; "" for 0 and -1; any other
// class "$" and its value in hexadecimal.
std::string PriorityClassText(int32_t priorityClass);

// The section text: one line per process, joined by CR LF.
std::u16string ProcessListText(const std::vector<KXProcessEntry> &processes);

} // namespace kx
