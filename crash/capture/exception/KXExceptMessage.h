#pragma once
// The class name, the prepared message and the system code of a caught exception object, and the
// class lists of the exception filters.
#include <cstdint>
#include <string>
#include <vector>

#include "crash/capture/exception/KXException.h"

namespace kx {

// The demangled class name, or "Unknown" without an object.
std::string ExceptClassName(const KXExceptObject &object);
// True when the object's class or one of its ancestors has the name.
bool ExceptInheritsFrom(const KXExceptObject &object, const std::string &name);
// The message text of an Exception (or derived) object, else the class name; control characters
// other than CR and LF removed, blanks trimmed, "Unknown" when empty; trailing "!" and "." replaced
// by one ".".
std::string PrepareExceptMessage(const KXExceptObject &object);
// The system's code of a fault mapped onto an exception object (EExternal and its kin); for any
// other exception 0x20474343, the code GCC's runtime gives C++ exceptions on Windows.
uint32_t ExceptionCodeOf(const KXExceptObject &object);
// Cleans a message text as PrepareExceptMessage does.
std::string CleanExceptMessage(const std::string &text);
// The names of a comma-separated class list, blanks around the commas and at both ends removed.
std::vector<std::string> SplitClassList(const std::string &list);
// True when the object's class or an ancestor is named in the list (names compare exactly).
bool ClassListMatches(const std::string &list, const KXExceptObject &object);

} // namespace kx
