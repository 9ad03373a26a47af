#pragma once
// The mailto fallback's platform side: the registered mail program's command and starting it.
#include <windows.h>

#include <optional>
#include <string>

namespace kx {

// The key below the classes root that holds the mailto command as its default value.
inline constexpr const char *kMailtoCommandKey = "mailto\\shell\\open\\command";

// The default value of <classesRoot>\mailto\shell\open\command (HKEY_CLASSES_ROOT in the
// product) with environment variables expanded; nullopt when the key or the value is missing,
// empty or not text.
std::optional<std::string> ReadMailtoCommand(HKEY classesRoot = HKEY_CLASSES_ROOT);

// CreateProcessA with the command line; the process's handles are closed at once. True when it
// started.
bool StartCommandLine(const std::string &commandLine);

// True on the Windows NT family.
bool IsNtFamilySystem();

} // namespace kx
