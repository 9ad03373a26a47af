#include "hid/win32/HidPnPInfo.h"

#include <cstring>

namespace {

// Text: up to 1,024 characters, the first zero ends it; a failed read gives empty text.
std::wstring TextProperty(HDEVINFO set, SP_DEVINFO_DATA &data, DWORD property) {
  wchar_t buffer[1025] = {};
  DWORD type = 0;
  if (!HidPlatform().SetupDiGetDeviceRegistryPropertyW(set, &data, property, &type,
                                                       reinterpret_cast<BYTE *>(buffer), 2048, nullptr))
    return {};
  buffer[1024] = 0;
  return buffer;
}

// A list of texts, each zero-terminated, ended by an empty one.
std::vector<std::wstring> ListProperty(HDEVINFO set, SP_DEVINFO_DATA &data, DWORD property) {
  std::vector<wchar_t> buffer(16384 + 2, 0);
  DWORD type = 0;
  std::vector<std::wstring> list;
  if (!HidPlatform().SetupDiGetDeviceRegistryPropertyW(set, &data, property, &type,
                                                       reinterpret_cast<BYTE *>(buffer.data()), 32768, nullptr))
    return list;
  for (size_t i = 0; i < 16384 && buffer[i];) {
    std::wstring item(&buffer[i]);
    i += item.size() + 1;
    list.push_back(std::move(item));
  }
  return list;
}

uint32_t NumberProperty(HDEVINFO set, SP_DEVINFO_DATA &data, DWORD property) {
  uint32_t value = 0;
  DWORD type = 0;
  HidPlatform().SetupDiGetDeviceRegistryPropertyW(set, &data, property, &type, reinterpret_cast<BYTE *>(&value),
                                                  sizeof(value), nullptr);
  return value;
}

} // namespace

TJvHidPnPInfo::TJvHidPnPInfo(HDEVINFO set, SP_DEVINFO_DATA data, const std::wstring &path)
    : FDeviceID(data.DevInst), FDevicePath(path), FCapabilities(NumberProperty(set, data, 0x0F)),
      FClassDescr(TextProperty(set, data, 0x07)), FClassGUID(TextProperty(set, data, 0x08)),
      FCompatibleIDs(ListProperty(set, data, 0x02)), FConfigFlags(NumberProperty(set, data, 0x0A)),
      FDeviceDescr(TextProperty(set, data, 0x00)), FDriver(TextProperty(set, data, 0x09)),
      FFriendlyName(TextProperty(set, data, 0x0C)), FHardwareID(ListProperty(set, data, 0x01)),
      FLowerFilters(ListProperty(set, data, 0x12)), FMfg(TextProperty(set, data, 0x0B)),
      FUpperFilters(ListProperty(set, data, 0x11)), FAddress(TextProperty(set, data, 0x1C)),
      FBusNumber(NumberProperty(set, data, 0x15)), FBusType(TextProperty(set, data, 0x13)),
      FCharacteristics(TextProperty(set, data, 0x1B)), FDevType(NumberProperty(set, data, 0x19)),
      FEnumeratorName(TextProperty(set, data, 0x16)), FExclusive(NumberProperty(set, data, 0x1A)),
      FLegacyBusType(NumberProperty(set, data, 0x14)), FLocationInfo(TextProperty(set, data, 0x0D)),
      FPhysDevObjName(TextProperty(set, data, 0x0E)), FSecuritySDS(TextProperty(set, data, 0x18)),
      FService(TextProperty(set, data, 0x04)), FUINumber(NumberProperty(set, data, 0x10)),
      FUINumberFormat(TextProperty(set, data, 0x1E)) {}
