#include "crash/base/settings/KXExpand.h"

#include <cstdio>
#include <string_view>

#include "crash/base/settings/KXText.h"

namespace kx {

namespace {

template <class Ch> Ch FoldAscii(Ch c) { return (c >= Ch('A') && c <= Ch('Z')) ? Ch(c - 'A' + 'a') : c; }

// Position of the first case-insensitive occurrence of the ASCII name at or after from.
template <class Ch> size_t FindName(const std::basic_string<Ch> &text, std::string_view name, size_t from) {
  if (name.size() > text.size())
    return std::basic_string<Ch>::npos;
  for (size_t i = from; i + name.size() <= text.size(); ++i) {
    size_t j = 0;
    while (j < name.size() && FoldAscii(text[i + j]) == Ch(FoldAscii(name[j])))
      ++j;
    if (j == name.size())
      return i;
  }
  return std::basic_string<Ch>::npos;
}

// True when the ASCII name stands at pos (any letter case).
template <class Ch> bool NameAt(const std::basic_string<Ch> &text, std::string_view name, size_t pos) {
  if (pos > text.size() || text.size() - pos < name.size())
    return false;
  for (size_t j = 0; j < name.size(); ++j)
    if (FoldAscii(text[pos + j]) != Ch(FoldAscii(name[j])))
      return false;
  return true;
}

template <class Ch> bool Contains(const std::basic_string<Ch> &text, std::string_view name) {
  return FindName(text, name, 0) != std::basic_string<Ch>::npos;
}

template <class Ch> std::basic_string<Ch> Convert(const std::string &value);
template <> std::string Convert<char>(const std::string &value) { return value; }
template <> std::u16string Convert<char16_t>(const std::string &value) { return WidenToUtf16(value); }

// Replaces every occurrence; the inserted text is not searched again.
template <class Ch> void ReplaceAll(std::basic_string<Ch> &text, std::string_view name, const std::string &value) {
  size_t pos = FindName(text, name, 0);
  if (pos == std::basic_string<Ch>::npos)
    return;
  std::basic_string<Ch> with = Convert<Ch>(value);
  while (pos != std::basic_string<Ch>::npos) {
    text.replace(pos, name.size(), with);
    pos = FindName(text, name, pos + with.size());
  }
}

// Replaces every occurrence of the args' report texts (those given) in one pass from left to
// right; what is inserted is never searched again, so a message that contains a variable name
// keeps it as written.
template <class Ch> void ReplaceReportTexts(std::basic_string<Ch> &text, const KXExpandArgs &args) {
  struct Name {
    std::string_view name;
    const std::optional<std::string> &value;
  };
  const std::optional<std::string> message =
      args.exceptMsg ? std::optional<std::string>(args.exceptMsg->empty() ? std::string("Unknown") : *args.exceptMsg)
                     : std::nullopt;
  const Name names[] = {{"%exceptClass%", args.exceptClass}, {"%exceptMsg%", message}, {"%bugReport%", args.bugReport}};
  if (!args.exceptClass && !args.exceptMsg && !args.bugReport)
    return;
  std::basic_string<Ch> out;
  size_t copied = 0;
  for (size_t pos = text.find(Ch('%')); pos != std::basic_string<Ch>::npos;) {
    const Name *hit = nullptr;
    for (const Name &n : names)
      if (n.value && NameAt(text, n.name, pos)) {
        hit = &n;
        break;
      }
    if (!hit) {
      pos = text.find(Ch('%'), pos + 1);
      continue;
    }
    out.append(text, copied, pos - copied);
    out += Convert<Ch>(*hit->value);
    copied = pos + hit->name.size();
    pos = text.find(Ch('%'), copied);
  }
  out.append(text, copied, std::basic_string<Ch>::npos);
  text = std::move(out);
}

std::string TwoDigits(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

std::string FolderOrExeFolder(std::string folder, IKXPlatform &platform) {
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
    folder.pop_back();
  if (folder.empty())
    return ExtractFilePath(platform.ModuleFileName(platform.ExeModule()));
  return folder;
}

template <class Ch>
std::basic_string<Ch> Expand(std::basic_string<Ch> text, const KXExpandArgs &args, IKXPlatform &platform,
                             const KXVersionVarFn &versionVar) {
  if (text.find(Ch('%')) == std::basic_string<Ch>::npos)
    return text;
  if (Contains(text, "%appname%"))
    ReplaceAll(text, "%appname%", ExtractFileName(platform.ModuleFileName(platform.ExeModule())));
  if (Contains(text, "%modname%"))
    ReplaceAll(text, "%modname%", ExtractFileName(platform.ModuleFileName(args.module)));
  if (Contains(text, "%appversion%"))
    ReplaceAll(text, "%appversion%", ModuleVersionText(platform.ExeModule(), platform, versionVar));
  if (Contains(text, "%modversion%"))
    ReplaceAll(text, "%modversion%", ModuleVersionText(args.module, platform, versionVar));
  ReplaceAll(text, "%LF%", "\r\n");
  if (Contains(text, "%date%") || Contains(text, "%time%") || Contains(text, "%datetime%")) {
    KXLocalTime t = platform.LocalTime();
    char year[16];
    std::snprintf(year, sizeof year, "%04d", t.year);
    std::string date = std::string(year) + "-" + TwoDigits(t.month) + "-" + TwoDigits(t.day);
    std::string time = TwoDigits(t.hour) + ":" + TwoDigits(t.minute) + ":" + TwoDigits(t.second) + ", " +
                       std::to_string(t.millisecond) + "ms";
    ReplaceAll(text, "%date%", date);
    ReplaceAll(text, "%time%", time);
    ReplaceAll(text, "%datetime%", date + ", " + time);
  }
  if (Contains(text, "%computerName%"))
    ReplaceAll(text, "%computerName%", platform.ComputerName());
  if (Contains(text, "%userappdata%"))
    ReplaceAll(text, "%userappdata%", FolderOrExeFolder(platform.UserAppDataFolder(), platform));
  if (Contains(text, "%commonappdata%"))
    ReplaceAll(text, "%commonappdata%", FolderOrExeFolder(platform.CommonAppDataFolder(), platform));
  // The report's texts come last and are never read as a template.
  ReplaceReportTexts(text, args);
  return text;
}

} // namespace

std::string ModuleVersionText(KXModule module, IKXPlatform &platform, const KXVersionVarFn &versionVar) {
  std::string text = versionVar ? versionVar(module) : std::string();
  if (!text.empty())
    return text;
  if (std::optional<KXFileVersion> fv = platform.FileVersion(platform.ModuleFileName(module))) {
    const uint16_t *p = fv->parts;
    if (p[0] || p[1] || p[2] || p[3])
      text = std::to_string(p[0]) + "." + std::to_string(p[1]) + "." + std::to_string(p[2]) + "." +
             std::to_string(p[3]);
    else
      text = fv->fileVersionText;
  }
  return text.empty() ? std::string("?") : text;
}

std::string ExpandReportTexts(const std::string &text, const KXExpandArgs &args) {
  std::string result = text;
  ReplaceReportTexts(result, args);
  return result;
}

std::string ExpandVariables(const std::string &text, const KXExpandArgs &args, IKXPlatform &platform,
                            const KXVersionVarFn &versionVar) {
  return Expand<char>(text, args, platform, versionVar);
}

std::u16string ExpandVariables(const std::u16string &text, const KXExpandArgs &args, IKXPlatform &platform,
                               const KXVersionVarFn &versionVar) {
  return Expand<char16_t>(text, args, platform, versionVar);
}

} // namespace kx
