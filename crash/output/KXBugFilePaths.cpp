#include "crash/output/KXBugFilePaths.h"

namespace kx {

namespace {
bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

std::u16string WithBackslashes(std::u16string_view path) {
  std::u16string out(path);
  for (char16_t &c : out)
    if (c == u'/')
      c = u'\\';
  return out;
}

// The end of the n-th separator-delimited part after offset start (the position of its ending
// separator, or the text's end).
size_t SkipParts(const std::u16string &path, size_t start, int parts) {
  size_t pos = start;
  for (int i = 0; i < parts && pos < path.size(); ++i) {
    size_t next = path.find(u'\\', pos);
    if (next == std::u16string::npos)
      return path.size();
    pos = next + (i + 1 < parts ? 1 : 0);
  }
  return pos;
}
} // namespace

bool IsRelativePath(std::u16string_view path) {
  return path.size() < 3 || (!IsSeparator(path[0]) && path[1] != u':');
}

size_t PathRootLength(std::u16string_view view) {
  std::u16string path = WithBackslashes(view);
  if (path.size() >= 2 && path[1] == u':')
    return path.size() >= 3 && path[2] == u'\\' ? 3 : 2;
  if (path.rfind(u"\\\\?\\", 0) == 0 || path.rfind(u"\\\\.\\", 0) == 0) {
    // "\\?\C:\" or "\\?\UNC\server\share\"
    if (path.size() >= 6 && path[5] == u':')
      return path.size() >= 7 ? 7 : path.size();
    size_t end = SkipParts(path, 4, 3);
    return end < path.size() ? end + 1 : path.size();
  }
  if (path.rfind(u"\\\\", 0) == 0) {
    size_t end = SkipParts(path, 2, 2);
    return end < path.size() ? end + 1 : path.size();
  }
  if (!path.empty() && path[0] == u'\\')
    return 1;
  return 0;
}

std::u16string NormalizePath(std::u16string_view view) {
  std::u16string path = WithBackslashes(view);
  size_t root = PathRootLength(path);
  bool trailing = path.size() > root && path.back() == u'\\';
  std::vector<std::u16string> levels;
  size_t pos = root;
  while (pos <= path.size()) {
    size_t next = path.find(u'\\', pos);
    if (next == std::u16string::npos)
      next = path.size();
    std::u16string level = path.substr(pos, next - pos);
    if (level == u"..") {
      if (!levels.empty())
        levels.pop_back();
    } else if (!level.empty() && level != u".") {
      levels.push_back(std::move(level));
    }
    pos = next + 1;
  }
  std::u16string out = path.substr(0, root);
  for (size_t i = 0; i < levels.size(); ++i) {
    if (i)
      out += u'\\';
    out += levels[i];
  }
  if (trailing && !levels.empty())
    out += u'\\';
  return out;
}

std::u16string MakeAbsolutePath(std::u16string_view path, std::u16string_view exePath) {
  if (IsRelativePath(path))
    return NormalizePath(DirectoryPart(exePath) + std::u16string(path));
  if (IsSeparator(path[0]) && !IsSeparator(path[1])) {
    std::u16string exe = WithBackslashes(exePath);
    size_t root = PathRootLength(exe);
    // The drive ("C:") or the share ("\\server\share") without its closing backslash.
    while (root > 0 && exe[root - 1] == u'\\' && !(root == 2 && exe[0] == u'\\'))
      --root;
    return NormalizePath(exe.substr(0, root) + std::u16string(path));
  }
  return NormalizePath(path);
}

std::u16string FileNamePart(std::u16string_view path) {
  size_t sep = path.find_last_of(u"\\/");
  if (sep == std::u16string_view::npos) {
    // "C:name" has the drive before its name.
    return std::u16string(path.size() >= 2 && path[1] == u':' ? path.substr(2) : path);
  }
  return std::u16string(path.substr(sep + 1));
}

std::u16string DirectoryPart(std::u16string_view path) {
  size_t sep = path.find_last_of(u"\\/");
  if (sep == std::u16string_view::npos)
    return path.size() >= 2 && path[1] == u':' ? std::u16string(path.substr(0, 2)) : std::u16string();
  return std::u16string(path.substr(0, sep + 1));
}

std::u16string FileBaseName(std::u16string_view path) {
  std::u16string name = FileNamePart(path);
  size_t dot = name.rfind(u'.');
  if (dot != std::u16string::npos && dot > 0)
    name.erase(dot);
  return name;
}

bool HasPathSeparator(std::u16string_view path) { return path.find_first_of(u"\\/") != std::u16string_view::npos; }

std::vector<std::u16string> ParentDirectories(std::u16string_view filePath) {
  std::u16string path = WithBackslashes(filePath);
  std::vector<std::u16string> dirs;
  size_t pos = PathRootLength(path);
  for (;;) {
    size_t next = path.find(u'\\', pos);
    if (next == std::u16string::npos)
      break;
    if (next > pos)
      dirs.push_back(path.substr(0, next + 1));
    pos = next + 1;
  }
  return dirs;
}

} // namespace kx
