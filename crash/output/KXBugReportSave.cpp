#include "crash/output/KXBugReportSave.h"

#include <new>

#include "crash/output/KXBugFilePaths.h"

namespace kx {

namespace {
constexpr std::string_view kReportEnd = "\r\n\r\n";

KXOpenResult OpenWithFolders(IKXBugFileSystem &files, const std::u16string &path) {
  for (const std::u16string &folder : ParentDirectories(path))
    files.CreateFolder(folder);
  KXOpenResult open = files.Open(path);
  for (uint32_t step = 0; open.status == KXOpenStatus::busy && step < kBusyRetrySteps; ++step) {
    files.Sleep(kBusyRetryStepMs);
    open = files.Open(path);
  }
  return open;
}

// Appends the report at the old end; used when the old content is not needed or not readable.
bool AppendAtEnd(IKXBugFile &file, uint64_t size, std::string_view report) {
  std::string tail;
  size_t tailLength = size < 4 ? size_t(size) : 4;
  if (tailLength && !file.Read(size - tailLength, tailLength, tail))
    tail = "\r\n\r\n"; // unknown end: do not add a separator
  std::string data = SeparatorAfter(tail);
  data.append(report);
  data.append(kReportEnd);
  return file.Write(size, data) && file.Truncate(size + data.size());
}

bool WriteOpened(IKXBugFile &file, std::string_view report, const KXBugFileOptions &options, uint64_t &count) {
  if (!options.append) {
    std::string data(report);
    data.append(kReportEnd);
    return file.Write(0, data) && file.Truncate(data.size());
  }
  std::optional<uint64_t> size = file.Size();
  if (!size)
    return false;
  if (MergeNeedsContent(*size, report, options) && *size <= SIZE_MAX / 2) {
    try {
      std::string old;
      if (file.Read(0, size_t(*size), old)) {
        KXBugFileMerge merge = MergeBugReport(old, report, options);
        count = merge.count;
        std::string_view rest = std::string_view(merge.content).substr(merge.unchanged);
        return file.Write(merge.unchanged, rest) && file.Truncate(merge.content.size());
      }
    } catch (const std::bad_alloc &) {
      // Too large to hold in memory: the report is appended without the rules.
    }
  }
  return AppendAtEnd(file, *size, report);
}
} // namespace

KXWriteResult WriteBugReportFile(IKXBugFileSystem &files, const std::u16string &path, std::string_view report,
                                 const KXBugFileOptions &options) {
  KXWriteResult result;
  KXOpenResult open = OpenWithFolders(files, path);
  if (open.status != KXOpenStatus::opened || !open.file) {
    result.systemError = open.systemError;
    return result;
  }
  result.saved = WriteOpened(*open.file, report, options, result.count);
  return result;
}

KXSaveProposal ProposeSaveLocation(const std::u16string &bugRepFile, const std::u16string &exePath,
                                   const std::u16string &desktopFolder) {
  KXSaveProposal proposal;
  if (HasPathSeparator(bugRepFile)) {
    std::u16string absolute = MakeAbsolutePath(bugRepFile, exePath);
    proposal.folder = DirectoryPart(absolute);
    proposal.name = FileNamePart(absolute);
    return proposal;
  }
  proposal.folder = desktopFolder.empty() ? DirectoryPart(exePath) : desktopFolder;
  if (!proposal.folder.empty() && proposal.folder.back() != u'\\' && proposal.folder.back() != u'/')
    proposal.folder += u'\\';
  proposal.name = FileNamePart(bugRepFile);
  return proposal;
}

std::u16string FallbackBugReportFile(const std::u16string &userAppDataFolder, const std::u16string &exePath,
                                     const std::u16string &bugRepFile) {
  std::u16string folder = userAppDataFolder;
  while (!folder.empty() && (folder.back() == u'\\' || folder.back() == u'/'))
    folder.pop_back();
  return NormalizePath(folder + u'\\' + FileBaseName(exePath) + u'\\' + bugRepFile);
}

KXSaveResult SaveBugReport(IKXBugFileSystem &files, const KXSaveRequest &request, std::string_view report) {
  KXSaveResult result;
  if (!request.fileName.empty()) {
    result.path = MakeAbsolutePath(request.fileName, request.exePath);
  } else if (request.autoSave) {
    if (request.bugRepFile.empty())
      return result;
    result.path = MakeAbsolutePath(request.bugRepFile, request.exePath);
  } else {
    std::optional<std::u16string> chosen;
    if (request.askUser)
      chosen = request.askUser(ProposeSaveLocation(request.bugRepFile, request.exePath, request.desktopFolder));
    if (!chosen || chosen->empty()) {
      result.cancelled = true;
      return result;
    }
    result.path = MakeAbsolutePath(*chosen, request.exePath);
  }

  KXWriteResult written = WriteBugReportFile(files, result.path, report, request.options);
  bool automaticConfigured = request.fileName.empty() && request.autoSave;
  if (!written.saved && automaticConfigured && !HasPathSeparator(request.bugRepFile) &&
      !request.userAppDataFolder.empty()) {
    result.path = FallbackBugReportFile(request.userAppDataFolder, request.exePath, request.bugRepFile);
    written = WriteBugReportFile(files, result.path, report, request.options);
  }
  result.saved = written.saved;
  result.systemError = written.systemError;
  result.configuredFile = result.saved && automaticConfigured;
  return result;
}

} // namespace kx
