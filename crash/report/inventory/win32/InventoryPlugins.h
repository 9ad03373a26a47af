#pragma once
// The modules, processes and hardware plug-ins of the bug report, each with a section of its own.
namespace kx {

inline constexpr char kModulesPlugin[] = "modules";
inline constexpr char kModulesPluginDescription[] = "list of loaded modules";
inline constexpr char kProcessesPlugin[] = "processes";
inline constexpr char kProcessesPluginDescription[] = "list of running processes";
inline constexpr char kHardwarePlugin[] = "hardware";
inline constexpr char kHardwarePluginDescription[] = "list of installed hardware";

// Registers the three plug-ins in the report plug-in registry (once; a second call does nothing).
void InstallInventoryPlugins();
// Removes what InstallInventoryPlugins registered.
void RemoveInventoryPlugins();

} // namespace kx
