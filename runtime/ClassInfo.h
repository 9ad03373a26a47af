#pragma once
// Class names and ancestor tests from C++ run-time type information.
#include <string>
#include <typeinfo>
#include <vector>

// The readable (demangled) name of a type, without namespace qualification removed:
// "EConvertError", "std::out_of_range".
std::string ClassName(const std::type_info &type);

// The class itself followed by all of its base classes, depth first, each once.
std::vector<std::string> ClassAncestry(const std::type_info &type);

// True when the class or one of its ancestors has the given name.
bool InheritsFromName(const std::type_info &type, const std::string &name);

template <class T> std::string ClassNameOf(const T &object) { return ClassName(typeid(object)); }
