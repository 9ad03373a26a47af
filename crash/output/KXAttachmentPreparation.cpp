#include "crash/output/KXAttachmentPreparation.h"

#include "crash/base/settings/KXText.h"
#include "crash/output/KXBugFilePaths.h"
#include "crash/output/KXSafeFileName.h"
#include "crash/output/KXZipArchive.h"

namespace kx {

namespace {

struct Entry {
  std::u16string file;
  std::string sendAs, zip, field;
};

// A copy of the list, so that archives are written without holding its lock.
std::vector<Entry> EntriesOf(IKXAttachments &list) {
  KXListLock<IKXAttachments> lock(list);
  std::vector<Entry> entries;
  Entry e;
  for (int i = 0; list.GetItem(i, e.file, e.sendAs, e.zip, e.field); ++i)
    entries.push_back(e);
  return entries;
}

bool SameZipName(const std::string &a, const std::string &b) { return SameTextW(WidenToUtf16(a), WidenToUtf16(b)); }

} // namespace

KXPreparedAttachments PrepareAttachments(IKXFileStore &store, IKXAttachments &list, const std::u16string &exePath,
                                         const std::u16string &tempDirectory) {
  std::vector<Entry> entries = EntriesOf(list);
  for (Entry &e : entries)
    e.file = MakeAbsolutePath(e.file, exePath);

  KXPreparedAttachments prepared;
  std::vector<std::string> zipsDone;
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry &e = entries[i];
    if (!store.Exists(e.file))
      continue;
    if (e.zip.empty()) {
      // The receiver saves the file under its send-as name: a name that is no file name is
      // reduced to its last component, one that cannot be is not sent.
      std::optional<std::string> sendAs = e.sendAs.empty() ? std::optional<std::string>("") : SafeFileName(e.sendAs);
      if (!sendAs)
        continue;
      prepared.files.push_back(e.file);
      prepared.sendAs.push_back(*sendAs);
      prepared.fields.push_back(e.field);
      prepared.sources.push_back(e.file);
      continue;
    }
    bool done = false;
    for (const std::string &zip : zipsDone)
      done = done || SameZipName(zip, e.zip);
    if (done)
      continue;
    zipsDone.push_back(e.zip);
    // The archive is written in the temporary folder and nowhere else.
    std::optional<std::string> zipName = SafeFileName(e.zip);
    if (tempDirectory.empty() || !zipName)
      continue;

    // Later members are packed without an existence test; the writer leaves out what it cannot open.
    std::vector<std::u16string> files;
    std::vector<std::string> names;
    for (size_t j = i; j < entries.size(); ++j) {
      if (j == i || SameZipName(entries[j].zip, e.zip)) {
        files.push_back(entries[j].file);
        names.push_back(entries[j].sendAs);
      }
    }
    std::u16string archive = tempDirectory + WidenToUtf16(*zipName);
    std::vector<size_t> packed;
    if (WriteZipArchive(store, archive, files, names, &packed)) {
      prepared.files.push_back(archive);
      prepared.sendAs.push_back(*zipName);
      prepared.fields.push_back(*zipName);
      for (size_t k : packed)
        prepared.sources.push_back(files[k]);
    }
  }
  return prepared;
}

} // namespace kx
