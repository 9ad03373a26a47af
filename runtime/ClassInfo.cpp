#include "runtime/ClassInfo.h"

#include <algorithm>
#include <cstdlib>
#include <cxxabi.h>
#include <memory>

std::string ClassName(const std::type_info &type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void *)> demangled(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(type.name());
}

namespace {

// Itanium C++ ABI: class type information comes in three shapes. A class without bases
// is a plain __class_type_info; single public non-virtual inheritance gives
// __si_class_type_info; everything else __vmi_class_type_info with a base array.
void CollectAncestry(const std::type_info &type, std::vector<std::string> &names) {
  std::string name = ClassName(type);
  if (std::find(names.begin(), names.end(), name) != names.end())
    return;
  names.push_back(std::move(name));
  if (auto si = dynamic_cast<const abi::__si_class_type_info *>(&type)) {
    CollectAncestry(*si->__base_type, names);
  } else if (auto vmi = dynamic_cast<const abi::__vmi_class_type_info *>(&type)) {
    for (unsigned i = 0; i < vmi->__base_count; ++i)
      CollectAncestry(*vmi->__base_info[i].__base_type, names);
  }
}

} // namespace

std::vector<std::string> ClassAncestry(const std::type_info &type) {
  std::vector<std::string> names;
  CollectAncestry(type, names);
  return names;
}

bool InheritsFromName(const std::type_info &type, const std::string &name) {
  auto names = ClassAncestry(type);
  return std::find(names.begin(), names.end(), name) != names.end();
}
