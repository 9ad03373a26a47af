#pragma once
// The built-in default values of the reporter settings: the 121 original keys in their fixed
// order, then the keys added later (AttachMiniDump).
#include <string_view>

#include "crash/base/settings/KXProperty.h"

namespace kx {

// The built-in table, in its fixed order. It is built once and never written.
const TKXPropertyList &DefaultSettings();

// The entry of the built-in table with exactly this name, or null.
const TKXProperty *FindDefault(std::string_view name);

} // namespace kx
