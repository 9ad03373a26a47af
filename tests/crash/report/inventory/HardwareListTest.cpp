// The hardware section: sorted classes and devices, the devices left out, the driver suffix.
#include "HardwareList.h"

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

TEST(HardwareList, ClassesAndDevicesSortedWithoutRegardToCase) {
  KXHardwareList list;
  list.Add("Ports", "COM1", "");
  list.Add("display", "VGA", "");
  list.Add("Keyboards", "Standard keyboard", "");
  list.Add("Display", "another adapter", "");   // merged into "display"
  list.Add("Ports", "com0", "");
  list.Add("ports", "LPT1", "");
  list.Add("Batteries", "UPS", " (driver 1.0)");
  EXPECT_EQ(list.Text(), "+ Batteries\r\n  - UPS (driver 1.0)\r\n"
                         "+ display\r\n  - another adapter\r\n  - VGA\r\n"
                         "+ Keyboards\r\n  - Standard keyboard\r\n"
                         "+ Ports\r\n  - com0\r\n  - COM1\r\n  - LPT1");
  EXPECT_EQ(KXHardwareList().Text(), "");
}

TEST(HardwareList, DevicesWithTheSameDescriptionAreAllListedSideBySide) {
  KXHardwareList list;
  list.Add("Disk drives", "Generic Disk", " (driver 1)");
  list.Add("Disk drives", "Zip", "");
  list.Add("Disk drives", "generic disk", " (driver 2)");
  list.Add("Disk drives", "Apple", "");
  list.Add("Disk drives", "Generic Disk", " (driver 3)");
  // A new device goes before the first that is not smaller: the last one added comes first.
  EXPECT_EQ(list.Text(), "+ Disk drives\r\n  - Apple\r\n  - Generic Disk (driver 3)\r\n"
                         "  - generic disk (driver 2)\r\n  - Generic Disk (driver 1)\r\n  - Zip");
}

TEST(HardwareList, CompareNamesFoldsAsciiLettersOnly) {
  EXPECT_EQ(CompareNames("abc", "ABC"), 0);
  EXPECT_LT(CompareNames("ab", "abc"), 0);
  EXPECT_GT(CompareNames("b", "ABC"), 0);
  EXPECT_NE(CompareNames("\xe4", "\xc4"), 0);
  // Bytes above 127 sort after ASCII.
  EXPECT_GT(CompareNames("\xe4", "z"), 0);
}

TEST(HardwareList, SkippedDevices) {
  KXHardwareList list;
  EXPECT_FALSE(list.Add(Device("LegacyDriver", "Beep")));
  EXPECT_FALSE(list.Add(Device("unknown", "Mystery")));
  EXPECT_FALSE(list.Add(Device("VOLUME", "Volume 1")));
  EXPECT_FALSE(list.Add(Device("System", "Software device", "SW\\{b7eafdc0-a680-11d0-96d8-00aa0051e51d}")));
  EXPECT_FALSE(list.Add(Device("System", "Software device", "sw\\x")));
  EXPECT_FALSE(list.Add(Device("", "No class")));
  KXDeviceRecord hidden = Device("Net", "WAN Miniport");
  hidden.characteristics = 0x9;
  EXPECT_FALSE(list.Add(hidden));
  EXPECT_EQ(list.Text(), "");

  // Names that only resemble the skipped ones are listed.
  EXPECT_TRUE(list.Add(Device("AudioEndpoint", "Speakers", "SWD\\MMDEVAPI\\{0.0.0}")));
  EXPECT_TRUE(list.Add(Device("Volumes", "Snapshot")));
  KXDeviceRecord shown = Device("Net", "Ethernet");
  shown.characteristics = 0x84;
  EXPECT_TRUE(list.Add(shown));
  EXPECT_EQ(list.Text(), "+ AudioEndpoint\r\n  - Speakers\r\n+ Net\r\n  - Ethernet\r\n+ Volumes\r\n  - Snapshot");
}

TEST(HardwareList, ClassNameFromTheClassKeyAndDescriptionFromTheFriendlyName) {
  KXHardwareList list;
  KXDeviceRecord adapter = Device("Display", "Standard VGA Graphics Adapter");
  adapter.classDescription = "Display adapters";
  EXPECT_TRUE(list.Add(adapter));
  KXDeviceRecord port = Device("Ports", "Communications Port");
  port.friendlyName = "Communications Port (COM1)";
  EXPECT_TRUE(list.Add(port));
  // The class key's name also saves a device whose class property is empty.
  KXDeviceRecord nameless = Device("", "Thing");
  nameless.classDescription = "Other devices";
  EXPECT_TRUE(list.Add(nameless));
  EXPECT_EQ(list.Text(), "+ Display adapters\r\n  - Standard VGA Graphics Adapter\r\n"
                         "+ Other devices\r\n  - Thing\r\n"
                         "+ Ports\r\n  - Communications Port (COM1)");
}

TEST(HardwareList, DriverSuffixOnlyForOtherProviders) {
  KXDeviceRecord d = Device("Media", "Audio");
  d.driverVersion = " 6.0.1.8 ";
  d.driverDate = "4-12-2019";
  for (const char *provider : {"", "Microsoft", "microsoft", "(Standard system devices)", "(x"}) {
    d.providerName = provider;
    EXPECT_EQ(DriverSuffix(d), "") << provider;
  }
  d.providerName = "Realtek";
  EXPECT_EQ(DriverSuffix(d), " (driver 6.0.1.8)");
  d.driverVersion = "  ";
  EXPECT_EQ(DriverSuffix(d), " (driver 4-12-2019)");
  d.driverVersion.clear();
  d.driverDate = " 1-1-2020\t";
  EXPECT_EQ(DriverSuffix(d), " (driver 1-1-2020)");
  d.providerName = "Microsoft Corporation";
  EXPECT_EQ(DriverSuffix(d), " (driver 1-1-2020)");

  KXHardwareList list;
  EXPECT_TRUE(list.Add(d));
  EXPECT_EQ(list.Text(), "+ Media\r\n  - Audio (driver 1-1-2020)");
}

} // namespace
} // namespace kx
