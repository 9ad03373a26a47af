#pragma once
// The "hardware" section: the present devices grouped by class, classes and devices sorted by
// name without regard to case:
//   + Display adapters
//     - Standard VGA Graphics Adapter (driver 10.0.19041.1)
// Texts are 8-bit text in the system code page.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// What the system says about one device: its registry properties, the class key's name for its
// class and the values of its driver key.
struct KXDeviceRecord {
  std::string classProperty;    // the device's class ("Display")
  std::string hardwareId;       // the first of its hardware ids
  std::string classDescription; // default value of the class key ("Display adapters"), "" when none
  std::string friendlyName;
  std::string deviceDescription;
  std::optional<uint32_t> characteristics; // the driver key's 4-byte "Characteristics" value
  std::string providerName, driverVersion, driverDate; // values of the driver key
};

// Flag of a driver key's "Characteristics" value: the device is hidden.
inline constexpr uint32_t kHiddenDeviceCharacteristic = 0x8;

// Case-insensitive order of 8-bit names (ASCII letters fold): < 0, 0 or > 0.
int CompareNames(std::string_view a, std::string_view b);

// The " (driver <version>)" suffix of a device whose driver has a provider other than Microsoft
// (and not one written in parentheses); the version is the driver version, else the driver date,
// trimmed. "" for the others.
std::string DriverSuffix(const KXDeviceRecord &device);

// The classes and their devices in sorted order.
class KXHardwareList {
public:
  // Adds a device as its record says, or nothing when the record is one of the skipped ones: the
  // classes "LegacyDriver", "Unknown" and "Volume", software devices (hardware id "sw\..."), a
  // device whose class has no name, a device whose driver marks it hidden. The class name is the
  // class key's name when it has one, else the class property; the description is the friendly
  // name, else the device description. Returns whether the device was added.
  bool Add(const KXDeviceRecord &device);
  // Adds a device to a class: a new class goes before the first class whose name is not smaller
  // (an equal one takes the device), a device before the first device whose description is not
  // smaller, so equal descriptions stay side by side.
  void Add(const std::string &className, const std::string &description, const std::string &suffix);

  // "+ " class, then "  - " description and suffix per device; lines joined by CR LF.
  std::string Text() const;

private:
  struct Device {
    std::string description, suffix;
  };
  struct Class {
    std::string name;
    std::vector<Device> devices;
  };
  std::vector<Class> FClasses;
};

} // namespace kx
