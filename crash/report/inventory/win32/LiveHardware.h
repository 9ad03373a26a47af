#pragma once
// The installed hardware: every present device of every class through the setup library (bound
// at run time), its class's and driver's registry keys under
// HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Class.
#include <string>
#include <vector>

#include "crash/report/inventory/HardwareList.h"

namespace kx {

// What the system says about each present device, in its enumeration order; empty when the setup
// library or its functions are missing.
std::vector<KXDeviceRecord> PresentDevices();

// The "hardware" section.
std::string InstalledHardwareText();

} // namespace kx
