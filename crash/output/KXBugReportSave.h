#pragma once
// Writing one report into a bug report file: choosing the path, the fallback into the user's
// application-data folder, the duplicate and size rules, and the write itself.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "crash/output/KXBugFileRules.h"
#include "crash/output/KXBugFileSystem.h"

namespace kx {

// How long Open is retried while another writer holds the file.
inline constexpr uint32_t kBusyRetryStepMs = 50;
inline constexpr uint32_t kBusyRetrySteps = 40;

struct KXWriteResult {
  bool saved = false;
  uint32_t systemError = 0; // why the file could not be opened or written
  uint64_t count = 0;       // the report's "count" when it replaced an earlier one, else 0
};

// Creates the file's missing folders, opens the file (retrying while it is busy) and writes the
// report by the rules. When the old content cannot be read the report is still appended at the
// old end.
KXWriteResult WriteBugReportFile(IKXBugFileSystem &files, const std::u16string &path, std::string_view report,
                                 const KXBugFileOptions &options);

// The place the save dialog proposes.
struct KXSaveProposal {
  std::u16string folder; // with a trailing backslash
  std::u16string name;
};

// The configured file's folder (made absolute) when it names one, else the desktop folder
// (the executable's folder when that is empty).
KXSaveProposal ProposeSaveLocation(const std::u16string &bugRepFile, const std::u16string &exePath,
                                   const std::u16string &desktopFolder);

// The file in the user's application-data folder used when the configured file cannot be
// written: folder\<executable name without extension>\<configured name>.
std::u16string FallbackBugReportFile(const std::u16string &userAppDataFolder, const std::u16string &exePath,
                                     const std::u16string &bugRepFile);

struct KXSaveRequest {
  std::u16string fileName;   // an explicit target; empty: the configured file
  std::u16string bugRepFile; // the configured file, variables expanded
  std::u16string exePath;    // the executable's full path
  std::u16string userAppDataFolder; // for the fallback; empty: no fallback
  bool autoSave = false;
  KXBugFileOptions options;
  // Interactive saves only: asks the user for the file (nullopt: cancelled).
  std::function<std::optional<std::u16string>(const KXSaveProposal &)> askUser;
  std::u16string desktopFolder; // for the proposal
};

struct KXSaveResult {
  bool saved = false;
  bool cancelled = false;
  std::u16string path;      // the file written (or tried last)
  uint32_t systemError = 0;
  bool configuredFile = false; // the configured file (or its fallback) was written automatically
};

// fileName given: that file. autoSave: the configured file made absolute. Otherwise the user
// chooses the file. An automatic save of the configured file that cannot be opened falls back
// to FallbackBugReportFile when the configured name has no folder.
KXSaveResult SaveBugReport(IKXBugFileSystem &files, const KXSaveRequest &request, std::string_view report);

} // namespace kx
