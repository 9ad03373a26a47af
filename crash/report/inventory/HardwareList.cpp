#include "crash/report/inventory/HardwareList.h"

#include <algorithm>

#include "crash/base/settings/KXText.h"

namespace kx {

namespace {
bool StartsWithText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

bool SkippedClass(const std::string &classProperty) {
  for (const char *skipped : {"LegacyDriver", "Unknown", "Volume"})
    if (SameText(classProperty, skipped))
      return true;
  return false;
}
} // namespace

int CompareNames(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = static_cast<unsigned char>(FoldCase(a[i]));
    const unsigned char y = static_cast<unsigned char>(FoldCase(b[i]));
    if (x != y)
      return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string DriverSuffix(const KXDeviceRecord &device) {
  const std::string &provider = device.providerName;
  if (provider.empty() || provider[0] == '(' || SameText(provider, "Microsoft"))
    return {};
  std::string version = Trim(device.driverVersion);
  if (version.empty())
    version = Trim(device.driverDate);
  return " (driver " + version + ")";
}

bool KXHardwareList::Add(const KXDeviceRecord &device) {
  if (SkippedClass(device.classProperty) || StartsWithText(device.hardwareId, "sw\\"))
    return false;
  const std::string &className = device.classDescription.empty() ? device.classProperty : device.classDescription;
  if (className.empty())
    return false;
  if (device.characteristics && (*device.characteristics & kHiddenDeviceCharacteristic))
    return false;
  Add(className, device.friendlyName.empty() ? device.deviceDescription : device.friendlyName, DriverSuffix(device));
  return true;
}

void KXHardwareList::Add(const std::string &className, const std::string &description, const std::string &suffix) {
  auto cls = std::find_if(FClasses.begin(), FClasses.end(),
                          [&](const Class &c) { return CompareNames(c.name, className) >= 0; });
  if (cls == FClasses.end() || CompareNames(cls->name, className) != 0)
    cls = FClasses.insert(cls, Class{className, {}});
  auto device = std::find_if(cls->devices.begin(), cls->devices.end(),
                             [&](const Device &d) { return CompareNames(d.description, description) >= 0; });
  cls->devices.insert(device, Device{description, suffix});
}

std::string KXHardwareList::Text() const {
  std::string text;
  for (const Class &c : FClasses) {
    if (!text.empty())
      text += "\r\n";
    text += "+ " + c.name;
    for (const Device &d : c.devices)
      text += "\r\n  - " + d.description + d.suffix;
  }
  return text;
}

} // namespace kx
