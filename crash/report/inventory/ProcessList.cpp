#include "crash/report/inventory/ProcessList.h"

#include <algorithm>

#include "crash/base/settings/KXText.h"
#include "crash/report/composition/ReportText.h"
#include "crash/report/inventory/InventoryText.h"

namespace kx {

namespace {
bool StartsWithText(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && SameTextW(text.substr(0, prefix.size()), prefix);
}

std::string ZeroPaddedHex(uint32_t value, size_t digits) {
  std::string hex = HexPlain(value);
  if (hex.size() < digits)
    hex.insert(0, digits - hex.size(), '0');
  return hex;
}
} // namespace

std::u16string NormaliseProcessPath(std::u16string_view fileName, std::u16string_view systemDirectory) {
  static constexpr std::u16string_view kSystemRoot = u"\\SystemRoot\\System32\\";
  static constexpr std::u16string_view kDosDevices = u"\\??\\";
  if (StartsWithText(fileName, kSystemRoot))
    return std::u16string(systemDirectory) + u'\\' + std::u16string(fileName.substr(kSystemRoot.size()));
  if (fileName.substr(0, kDosDevices.size()) == kDosDevices)
    return std::u16string(fileName.substr(kDosDevices.size()));
  return std::u16string(fileName);
}

void NameProcess(const KXSystemProcess &process, const std::u16string *moduleFileName,
                 std::u16string_view systemDirectory, KXProcessEntry &entry) {
  entry.processId = process.processId;
  entry.sessionId = process.sessionId;
  if (!process.hasImageName) {
    entry.fileName = u"Idle";
    entry.path.clear();
    return;
  }
  std::u16string fullName = process.imageName;
  if (moduleFileName && !moduleFileName->empty())
    fullName = NormaliseProcessPath(*moduleFileName, systemDirectory);
  SplitFileName(fullName, entry.path, entry.fileName);
}

std::string PriorityClassText(int32_t priorityClass) {
  switch (priorityClass) {
  case 0:
  case -1:
    return {};
  case 0x20:
    return "normal";
  case 0x40:
    return "idle";
  case 0x80:
    return "high";
  case 0x100:
    return "realtime";
  case 0x4000:
    return "below normal";
  case 0x8000:
    return "above normal";
  default:
    return "$" + HexPlain(uint32_t(priorityClass));
  }
}

std::u16string ProcessListText(const std::vector<KXProcessEntry> &processes) {
  size_t idWidth = 0, fileWidth = 0, sessionWidth = 0, gdiWidth = 0, userWidth = 0, priorityWidth = 0;
  for (const KXProcessEntry &p : processes) {
    idWidth = std::max(idWidth, 1 + HexPlain(p.processId).size());
    fileWidth = std::max(fileWidth, p.fileName.size());
    if (p.sessionId != 0)
      sessionWidth = std::max(sessionWidth, std::to_string(p.sessionId).size());
    gdiWidth = std::max(gdiWidth, std::to_string(p.gdiObjects).size());
    userWidth = std::max(userWidth, std::to_string(p.userObjects).size());
    priorityWidth = std::max(priorityWidth, PriorityClassText(p.priorityClass).size());
  }
  std::u16string text;
  for (size_t i = 0; i < processes.size(); ++i) {
    const KXProcessEntry &p = processes[i];
    if (i > 0)
      text += u"\r\n";
    std::string columns = ZeroPaddedHex(p.processId, idWidth - 1) + " ";
    text += AsciiToUtf16(columns) + PadRight(p.fileName, fileWidth + 1);
    columns.clear();
    if (sessionWidth > 0)
      columns += PadRight(std::to_string(p.sessionId), sessionWidth + 1);
    columns += PadRight(std::to_string(p.gdiObjects), gdiWidth + 1);
    columns += PadRight(std::to_string(p.userObjects), userWidth + 1);
    columns += PadRight(PriorityClassText(p.priorityClass), priorityWidth + 1);
    text += AsciiToUtf16(columns) + p.path;
  }
  return text;
}

} // namespace kx
