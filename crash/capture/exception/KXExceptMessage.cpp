#include "crash/capture/exception/KXExceptMessage.h"

#include <algorithm>
#include <exception>

#include "runtime/ClassInfo.h"
#include "runtime/Exception.h"

namespace kx {

std::string ExceptClassName(const KXExceptObject &object) {
  if (!object)
    return "Unknown";
  std::string name = ClassName(*object.type);
  return name.empty() ? "Unknown" : name;
}

bool ExceptInheritsFrom(const KXExceptObject &object, const std::string &name) {
  return object && InheritsFromName(*object.type, name);
}

namespace {
// The object as a T, adjusted to that base the way a catch clause would adjust it.
template <class T> const T *As(const KXExceptObject &object) {
  void *p = object.object;
  if (!object || !typeid(T).__do_catch(object.type, &p, 1))
    return nullptr;
  return static_cast<const T *>(p);
}
const Exception *AsException(const KXExceptObject &object) { return As<Exception>(object); }

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }
} // namespace

std::string CleanExceptMessage(const std::string &text) {
  std::string s;
  s.reserve(text.size());
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 32 || c == '\r' || c == '\n')
      s += c;
  size_t first = 0, last = s.size();
  while (first < last && IsBlank(s[first]))
    ++first;
  while (last > first && IsBlank(s[last - 1]))
    --last;
  s = s.substr(first, last - first);
  if (s.empty())
    s = "Unknown";
  while (!s.empty() && (s.back() == '!' || s.back() == '.'))
    s.pop_back();
  return s + ".";
}

uint32_t ExceptionCodeOf(const KXExceptObject &object) {
  if (const EExternal *external = As<EExternal>(object))
    return external->ExceptionCode();
  return 0x20474343;
}

std::string PrepareExceptMessage(const KXExceptObject &object) {
  std::string text;
  if (object && (ExceptInheritsFrom(object, "KesException") || ExceptInheritsFrom(object, "Exception"))) {
    if (const Exception *e = AsException(object))
      text = e->Message();
  } else if (const std::exception *standard = As<std::exception>(object)) {
    // A standard exception tells what happened through what(); the class names it otherwise.
    const char *what = standard->what();
    text = what && *what ? what : ExceptClassName(object);
  } else if (object) {
    text = ExceptClassName(object);
  }
  return CleanExceptMessage(text);
}

std::vector<std::string> SplitClassList(const std::string &list) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos)
      comma = list.size();
    size_t a = start, b = comma;
    while (a < b && IsBlank(list[a]))
      ++a;
    while (b > a && IsBlank(list[b - 1]))
      --b;
    if (b > a)
      names.push_back(list.substr(a, b - a));
    start = comma + 1;
  }
  return names;
}

bool ClassListMatches(const std::string &list, const KXExceptObject &object) {
  if (!object)
    return false;
  std::vector<std::string> names = SplitClassList(list);
  if (names.empty())
    return false;
  for (const std::string &ancestor : ClassAncestry(*object.type))
    if (std::find(names.begin(), names.end(), ancestor) != names.end())
      return true;
  return false;
}

} // namespace kx
