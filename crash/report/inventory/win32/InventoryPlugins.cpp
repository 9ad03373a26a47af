#include "crash/report/inventory/win32/InventoryPlugins.h"

#include "crash/report/composition/ReportPlugins.h"
#include "crash/report/inventory/win32/LiveHardware.h"
#include "crash/report/inventory/win32/LiveModules.h"
#include "crash/report/inventory/win32/LiveProcesses.h"

namespace kx {

namespace {
bool gInstalled = false;
} // namespace

void InstallInventoryPlugins() {
  if (gInstalled)
    return;
  gInstalled = true;
  AddReportPlugin(kModulesPlugin, kModulesPluginDescription, TBugReportPluginW(&LoadedModulesText), true);
  AddReportPlugin(kProcessesPlugin, kProcessesPluginDescription, TBugReportPluginW(&RunningProcessesText), true);
  AddReportPlugin(kHardwarePlugin, kHardwarePluginDescription, TBugReportPluginA(&InstalledHardwareText), true);
}

void RemoveInventoryPlugins() {
  if (!gInstalled)
    return;
  gInstalled = false;
  RemoveReportPlugin(kHardwarePlugin);
  RemoveReportPlugin(kProcessesPlugin);
  RemoveReportPlugin(kModulesPlugin);
}

} // namespace kx
