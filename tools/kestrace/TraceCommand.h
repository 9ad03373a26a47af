#pragma once
// kestrace's command line:
//   kestrace [--size BYTES] [--timeout SECONDS] [--clipboard] PROCESS
// PROCESS is a process id (decimal, or hexadecimal after "0x" or "$") or the file name of a
// running exe ("Tidewell.exe" or "Tidewell", without regard to case); a text of digits or one that
// starts with "0x" or "$" is always taken for an id.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrace {

// The exit codes of the tool.
enum ExitCode : int {
  kExitReport = 0,    // the report was printed (or, with --clipboard, the request was run)
  kExitUsage = 1,     // the command line is wrong
  kExitNoProcess = 2, // no such process, or the name is not unique
  kExitCannotRun = 3, // the process could not be asked (rights, no export, other bitness)
  kExitNoReport = 4,  // no answer in time, or an empty answer
};

inline constexpr int32_t kDefaultBufferSize = 16 * 1024 * 1024;
inline constexpr uint32_t kDefaultTimeoutSeconds = 120;

struct TraceRequest {
  bool help = false;
  uint32_t processId = 0;   // the process given by id, else 0
  std::wstring processName; // the process given by name, else ""
  int32_t bufSize = kDefaultBufferSize;
  uint32_t timeoutSeconds = kDefaultTimeoutSeconds;
  bool clipboard = false;   // the report goes to the process's clipboard instead
};

// The request of the arguments (without the program name); nullopt with a message when they are
// wrong.
std::optional<TraceRequest> ParseTraceCommand(const std::vector<std::wstring> &args, std::string &error);

// A process id: decimal digits, or hexadecimal digits after "0x" or "$"; nullopt for anything
// else, for 0 and for values beyond 32 bits.
std::optional<uint32_t> ParseProcessId(std::wstring_view text);

// True when the exe file name is the requested name, or the requested name plus ".exe"; ASCII
// letters compare without regard to case.
bool ExeNameMatches(std::wstring_view exeFile, std::wstring_view requested);

// True when a delivered text of this length may have been cut to the buffer.
bool ReportMayBeCut(size_t length, int32_t bufSize);

// The help text.
const char *UsageText();

} // namespace kestrace
