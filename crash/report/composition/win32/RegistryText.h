#pragma once
// Reading a text value of the registry as 8-bit text (system code page).
#include <windows.h>

#include <string>

namespace kx {

// The REG_SZ or REG_EXPAND_SZ value (unexpanded) of the key under root, up to its terminating
// zero; "" when the key or value is missing, of another type or larger than 64 KB. A null value
// name reads the key's default value.
std::string RegistryText(HKEY root, const std::string &key, const char *value);

} // namespace kx
