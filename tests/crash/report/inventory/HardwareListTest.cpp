// The hardware section: sorted classes and devices, the devices left out, the driver suffix.
#include "crash/report/inventory/HardwareList.h"

#include <gtest/gtest.h>

namespace kx {
namespace {

KXDeviceRecord Device(std::string cls, std::string description, std::string hardwareId = "PCI\\VEN_8086") {
  KXDeviceRecord d;
  d.classProperty = std::move(cls);
  d.deviceDescription = std::move(description);
  d.hardwareId = std::move(hardwareId);
  return d;
}

TEST(HardwareList, SortedWithoutRegardToCaseEqualClassesMergedEqualDevicesAllListed) {
  KXHardwareList list;
  list.Add("Ports", "COM1", "");
  list.Add("display", "VGA", "");
  list.Add("Display", "another adapter", ""); // merged into "display"
  list.Add("Disk drives", "Generic Disk", " (driver 1)");
  list.Add("Disk drives", "Zip", "");
  list.Add("Disk drives", "generic disk", " (driver 2)"); // before the first that is not smaller
  list.Add("Ports", "com0", "");
  EXPECT_EQ(list.Text(), "+ Disk drives\r\n  - generic disk (driver 2)\r\n  - Generic Disk (driver 1)\r\n  - Zip\r\n"
                         "+ display\r\n  - another adapter\r\n  - VGA\r\n"
                         "+ Ports\r\n  - com0\r\n  - COM1");
  EXPECT_EQ(KXHardwareList().Text(), "");
  EXPECT_GT(CompareNames("\xe4", "z"), 0); // bytes above 127 after ASCII, not folded
}

TEST(HardwareList, DevicesLeftOutAndTheNamesOfTheOthers) {
  KXHardwareList list;
  KXDeviceRecord hidden = Device("Net", "WAN Miniport");
  hidden.characteristics = 0x9;
  for (const KXDeviceRecord &d : {Device("LegacyDriver", "Beep"), Device("unknown", "?"), Device("VOLUME", "V"),
                                  Device("System", "Software", "SW\\{b7eafdc0}"), Device("", "No class"), hidden})
    EXPECT_FALSE(list.Add(d)) << d.classProperty;
  KXDeviceRecord adapter = Device("Display", "Standard VGA Graphics Adapter");
  adapter.classDescription = "Display adapters";
  KXDeviceRecord port = Device("Ports", "Communications Port");
  port.friendlyName = "Communications Port (COM1)";
  port.characteristics = 0x84;
  for (const KXDeviceRecord &d : {adapter, port, Device("AudioEndpoint", "Speakers", "SWD\\MMDEVAPI\\{0.0.0}")})
    EXPECT_TRUE(list.Add(d)) << d.classProperty;
  EXPECT_EQ(list.Text(), "+ AudioEndpoint\r\n  - Speakers\r\n+ Display adapters\r\n  - Standard VGA Graphics Adapter\r\n"
                         "+ Ports\r\n  - Communications Port (COM1)");
}

TEST(HardwareList, DriverSuffixOnlyForOtherProviders) {
  KXDeviceRecord d = Device("Media", "Audio");
  d.driverVersion = " 6.0.1.8 ";
  d.driverDate = " 4-12-2019\t";
  for (const char *provider : {"", "Microsoft", "microsoft", "(Standard system devices)"}) {
    d.providerName = provider;
    EXPECT_EQ(DriverSuffix(d), "") << provider;
  }
  d.providerName = "Realtek";
  EXPECT_EQ(DriverSuffix(d), " (driver 6.0.1.8)");
  d.driverVersion = "  ";
  EXPECT_EQ(DriverSuffix(d), " (driver 4-12-2019)");
}

} // namespace
} // namespace kx
