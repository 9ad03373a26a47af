#include "crash/report/inventory/win32/LiveHardware.h"

#include <windows.h>

#include <setupapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "crash/report/composition/win32/RegistryText.h"

namespace kx {

namespace {
const char kClassKey[] = "System\\CurrentControlSet\\Control\\Class\\";

using GetClassDevsAFn = HDEVINFO(WINAPI *)(const GUID *, PCSTR, HWND, DWORD);
using EnumDeviceInfoFn = BOOL(WINAPI *)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);
using GetDeviceRegistryPropertyAFn = BOOL(WINAPI *)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD);
using DestroyDeviceInfoListFn = BOOL(WINAPI *)(HDEVINFO);

template <class Fn> Fn Bind(HMODULE module, const char *name) {
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name))) : nullptr;
}

// The setup library's functions, looked up once; the library stays loaded.
struct SetupFunctions {
  GetClassDevsAFn getClassDevs = nullptr;
  EnumDeviceInfoFn enumDeviceInfo = nullptr;
  GetDeviceRegistryPropertyAFn getProperty = nullptr;
  DestroyDeviceInfoListFn destroyList = nullptr;

  SetupFunctions() {
    HMODULE setup = LoadLibraryW(L"setupapi.dll");
    getClassDevs = Bind<GetClassDevsAFn>(setup, "SetupDiGetClassDevsA");
    enumDeviceInfo = Bind<EnumDeviceInfoFn>(setup, "SetupDiEnumDeviceInfo");
    getProperty = Bind<GetDeviceRegistryPropertyAFn>(setup, "SetupDiGetDeviceRegistryPropertyA");
    destroyList = Bind<DestroyDeviceInfoListFn>(setup, "SetupDiDestroyDeviceInfoList");
  }
  bool Complete() const { return getClassDevs && enumDeviceInfo && getProperty && destroyList; }
};

// A text property of a device (the first string of a string list); "" when it has none.
std::string DeviceProperty(const SetupFunctions &fn, HDEVINFO devices, SP_DEVINFO_DATA &device, DWORD property) {
  std::string buffer(256, '\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD type = 0, required = 0;
    if (fn.getProperty(devices, &device, property, &type, reinterpret_cast<BYTE *>(buffer.data()),
                       DWORD(buffer.size()), &required)) {
      if (type != REG_SZ && type != REG_MULTI_SZ && type != REG_EXPAND_SZ)
        return {};
      buffer.resize(std::min<size_t>(required ? required : buffer.size(), buffer.size()));
      return std::string(buffer.c_str()); // up to the first zero
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || required <= buffer.size() || required > 65536)
      return {};
    buffer.assign(required + 2, '\0');
  }
  return {};
}

std::string GuidText(const GUID &guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

// The 4-byte "Characteristics" value of a driver key, whatever its registry type.
std::optional<uint32_t> Characteristics(const std::string &driverKey) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, driverKey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return std::nullopt;
  std::optional<uint32_t> result;
  BYTE data[8] = {};
  DWORD type = 0, size = sizeof data;
  if (RegQueryValueExA(key, "Characteristics", nullptr, &type, data, &size) == ERROR_SUCCESS && size == 4) {
    uint32_t value = 0;
    std::memcpy(&value, data, 4);
    result = value;
  }
  RegCloseKey(key);
  return result;
}

KXDeviceRecord ReadDevice(const SetupFunctions &fn, HDEVINFO devices, SP_DEVINFO_DATA &device) {
  KXDeviceRecord d;
  d.classProperty = DeviceProperty(fn, devices, device, SPDRP_CLASS);
  d.hardwareId = DeviceProperty(fn, devices, device, SPDRP_HARDWAREID);
  std::string classGuid = DeviceProperty(fn, devices, device, SPDRP_CLASSGUID);
  if (const GUID none{}; classGuid.empty() && !IsEqualGUID(device.ClassGuid, none))
    classGuid = GuidText(device.ClassGuid);
  if (!classGuid.empty())
    d.classDescription = RegistryText(HKEY_LOCAL_MACHINE, kClassKey + classGuid, nullptr);
  d.friendlyName = DeviceProperty(fn, devices, device, SPDRP_FRIENDLYNAME);
  d.deviceDescription = DeviceProperty(fn, devices, device, SPDRP_DEVICEDESC);
  const std::string driver = DeviceProperty(fn, devices, device, SPDRP_DRIVER);
  if (!driver.empty()) {
    const std::string driverKey = kClassKey + driver;
    d.characteristics = Characteristics(driverKey);
    d.providerName = RegistryText(HKEY_LOCAL_MACHINE, driverKey, "ProviderName");
    d.driverVersion = RegistryText(HKEY_LOCAL_MACHINE, driverKey, "DriverVersion");
    d.driverDate = RegistryText(HKEY_LOCAL_MACHINE, driverKey, "DriverDate");
  }
  return d;
}
} // namespace

std::vector<KXDeviceRecord> PresentDevices() {
  static const SetupFunctions fn;
  std::vector<KXDeviceRecord> records;
  if (!fn.Complete())
    return records;
  HDEVINFO devices = fn.getClassDevs(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE)
    return records;
  try {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; fn.enumDeviceInfo(devices, i, &device); ++i) {
      records.push_back(ReadDevice(fn, devices, device));
      device = SP_DEVINFO_DATA{};
      device.cbSize = sizeof device;
    }
  } catch (...) {
    fn.destroyList(devices);
    throw;
  }
  fn.destroyList(devices);
  return records;
}

std::string InstalledHardwareText() {
  KXHardwareList list;
  for (const KXDeviceRecord &device : PresentDevices())
    list.Add(device);
  return list.Text();
}

} // namespace kx
