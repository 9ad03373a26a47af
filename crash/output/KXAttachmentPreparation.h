#pragma once
// Turning the attachment list into what the transports send: absolute paths of files that
// exist, with the entries that share a zip name packed into one archive.
#include <algorithm>
#include <string>
#include <vector>

#include "crash/base/settings/KXFields.h"
#include "crash/output/KXFileStore.h"

namespace kx {

// Three parallel lists of equal length.
struct KXPreparedAttachments {
  std::vector<std::u16string> files; // full paths
  std::vector<std::string> sendAs;   // the names the receiver sees
  std::vector<std::string> fields;   // the form field names of an HTTP upload

  // Every source file that goes out, sent as it is or packed (not parallel to the lists above).
  std::vector<std::u16string> sources;

  // Lists of unequal length count as long as the shortest.
  size_t Count() const { return std::min(files.size(), std::min(sendAs.size(), fields.size())); }
  bool Empty() const { return Count() == 0; }
  // Appends one attachment to all three lists.
  void Add(std::u16string file, std::string sendAsName, std::string fieldName) {
    files.push_back(std::move(file));
    sendAs.push_back(std::move(sendAsName));
    fields.push_back(std::move(fieldName));
  }
};

// For each entry in order: its path is made absolute (relative to the executable's folder) and
// the entry is skipped when the file does not exist. An entry without zip name is sent as it is.
// The first existing entry of a zip name (compared without regard to case) starts the archive
// <temporary folder><zip name> holding it and every later entry of that name; the archive is
// sent under the zip name as send-as and field name. A group whose archive cannot be written
// (or that has no temporary folder) is left out. Zip and send-as names are file names: one with
// folders or a drive is reduced to its last component; a group or entry whose name is then
// empty, "." or "..", or holds a control character is left out.
KXPreparedAttachments PrepareAttachments(IKXFileStore &store, IKXAttachments &list, const std::u16string &exePath,
                                         const std::u16string &tempDirectory);

} // namespace kx
