#pragma once
// The plug-and-play record of one HID device interface: its path, its stable device number
// and the device-setup properties, each read once when the record is made.
#include "hid/win32/HidPlatform.h"

#include <cstdint>
#include <string>
#include <vector>

class TJvHidPnPInfo {
public:
  TJvHidPnPInfo(HDEVINFO APnPHandle, SP_DEVINFO_DATA ADevData, const std::wstring &ADevicePath);

  uint32_t DeviceID() const { return FDeviceID; }
  const std::wstring &DevicePath() const { return FDevicePath; }
  uint32_t Capabilities() const { return FCapabilities; }
  const std::wstring &ClassDescr() const { return FClassDescr; }
  const std::wstring &ClassGUID() const { return FClassGUID; }
  const std::vector<std::wstring> &CompatibleIDs() const { return FCompatibleIDs; }
  uint32_t ConfigFlags() const { return FConfigFlags; }
  const std::wstring &DeviceDescr() const { return FDeviceDescr; }
  const std::wstring &Driver() const { return FDriver; }
  const std::wstring &FriendlyName() const { return FFriendlyName; }
  const std::vector<std::wstring> &HardwareID() const { return FHardwareID; }
  const std::vector<std::wstring> &LowerFilters() const { return FLowerFilters; }
  const std::wstring &Mfg() const { return FMfg; }
  const std::vector<std::wstring> &UpperFilters() const { return FUpperFilters; }
  const std::wstring &Address() const { return FAddress; }
  uint32_t BusNumber() const { return FBusNumber; }
  const std::wstring &BusType() const { return FBusType; }
  const std::wstring &Characteristics() const { return FCharacteristics; }
  uint32_t DevType() const { return FDevType; }
  const std::wstring &EnumeratorName() const { return FEnumeratorName; }
  uint32_t Exclusive() const { return FExclusive; }
  uint32_t LegacyBusType() const { return FLegacyBusType; }
  const std::wstring &LocationInfo() const { return FLocationInfo; }
  const std::wstring &PhysDevObjName() const { return FPhysDevObjName; }
  const std::wstring &SecuritySDS() const { return FSecuritySDS; }
  const std::wstring &Service() const { return FService; }
  uint32_t UINumber() const { return FUINumber; }
  const std::wstring &UINumberFormat() const { return FUINumberFormat; }

private:
  uint32_t FDeviceID;
  std::wstring FDevicePath;
  uint32_t FCapabilities;
  std::wstring FClassDescr, FClassGUID;
  std::vector<std::wstring> FCompatibleIDs;
  uint32_t FConfigFlags;
  std::wstring FDeviceDescr, FDriver, FFriendlyName;
  std::vector<std::wstring> FHardwareID, FLowerFilters;
  std::wstring FMfg;
  std::vector<std::wstring> FUpperFilters;
  std::wstring FAddress;
  uint32_t FBusNumber;
  std::wstring FBusType, FCharacteristics;
  uint32_t FDevType;
  std::wstring FEnumeratorName;
  uint32_t FExclusive, FLegacyBusType;
  std::wstring FLocationInfo, FPhysDevObjName, FSecuritySDS, FService;
  uint32_t FUINumber;
  std::wstring FUINumberFormat;
};
