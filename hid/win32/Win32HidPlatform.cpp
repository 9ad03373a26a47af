// The real platform: SetupAPI and hid.dll bound by name at run time, file I/O from kernel32.
#include "hid/win32/HidPlatform.h"

#include <vector>

namespace {

template <class Fn> bool Bind(HMODULE module, const char *name, Fn *&fn) {
  fn = module ? reinterpret_cast<Fn *>(reinterpret_cast<void *>(GetProcAddress(module, name))) : nullptr;
  return fn != nullptr;
}

bool WindowsAtLeast(DWORD major, DWORD minor) {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(&info))
    return false;
#pragma GCC diagnostic pop
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT &&
         (info.dwMajorVersion > major || (info.dwMajorVersion == major && info.dwMinorVersion >= minor));
}

class TWin32HidPlatform final : public IHidPlatform {
public:
  bool BindSetupApi() override {
    if (!FSetupApi)
      FSetupApi = LoadLibraryW(L"setupapi.dll");
    bool ok = Bind(FSetupApi, "SetupDiGetClassDevsW", FGetClassDevs) &&
              Bind(FSetupApi, "SetupDiEnumDeviceInterfaces", FEnumInterfaces) &&
              Bind(FSetupApi, "SetupDiGetDeviceInterfaceDetailW", FGetDetail) &&
              Bind(FSetupApi, "SetupDiGetDeviceRegistryPropertyW", FGetProperty) &&
              Bind(FSetupApi, "SetupDiDestroyDeviceInfoList", FDestroyList);
    if (!ok)
      UnbindSetupApi();
    return ok;
  }
  bool BindHid() override {
    if (!FHid)
      FHid = LoadLibraryW(L"hid.dll");
    bool ok = Bind(FHid, "HidD_GetHidGuid", FGetHidGuid) && Bind(FHid, "HidD_GetAttributes", FGetAttributes) &&
              Bind(FHid, "HidD_GetPreparsedData", FGetPreparsed) &&
              Bind(FHid, "HidD_FreePreparsedData", FFreePreparsed) && Bind(FHid, "HidP_GetCaps", FGetCaps) &&
              Bind(FHid, "HidD_SetNumInputBuffers", FSetNumInput) &&
              Bind(FHid, "HidD_GetNumInputBuffers", FGetNumInput) && Bind(FHid, "HidD_FlushQueue", FFlush) &&
              Bind(FHid, "HidD_GetConfiguration", FGetConfig) && Bind(FHid, "HidD_SetConfiguration", FSetConfig) &&
              Bind(FHid, "HidD_GetFeature", FGetFeature) && Bind(FHid, "HidD_SetFeature", FSetFeature) &&
              Bind(FHid, "HidD_GetManufacturerString", FManufacturer) &&
              Bind(FHid, "HidD_GetProductString", FProduct) && Bind(FHid, "HidD_GetSerialNumberString", FSerial) &&
              Bind(FHid, "HidD_GetIndexedString", FIndexed) &&
              Bind(FHid, "HidD_GetPhysicalDescriptor", FPhysical) &&
              Bind(FHid, "HidP_GetLinkCollectionNodes", FLinkNodes) &&
              Bind(FHid, "HidP_GetSpecificButtonCaps", FButtonCaps) &&
              Bind(FHid, "HidP_GetSpecificValueCaps", FValueCaps) && Bind(FHid, "HidP_GetData", FGetData) &&
              Bind(FHid, "HidP_SetData", FSetData) && Bind(FHid, "HidP_GetUsages", FGetUsages) &&
              Bind(FHid, "HidP_SetUsages", FSetUsages) && Bind(FHid, "HidP_UnsetUsages", FUnsetUsages) &&
              Bind(FHid, "HidP_GetUsagesEx", FGetUsagesEx) && Bind(FHid, "HidP_GetUsageValue", FGetValue) &&
              Bind(FHid, "HidP_GetScaledUsageValue", FGetScaled) && Bind(FHid, "HidP_SetUsageValue", FSetValue) &&
              Bind(FHid, "HidP_SetScaledUsageValue", FSetScaled) &&
              Bind(FHid, "HidP_GetUsageValueArray", FGetValueArray) &&
              Bind(FHid, "HidP_SetUsageValueArray", FSetValueArray) &&
              Bind(FHid, "HidP_MaxDataListLength", FMaxData) && Bind(FHid, "HidP_MaxUsageListLength", FMaxUsage);
    if (!ok) {
      UnbindHid();
      return false;
    }
    // Functions that older systems lack.
    if (!WindowsAtLeast(5, 1) || !Bind(FHid, "HidD_GetInputReport", FGetInputReport) ||
        !Bind(FHid, "HidD_SetOutputReport", FSetOutputReport))
      FGetInputReport = nullptr, FSetOutputReport = nullptr;
    if (!WindowsAtLeast(5, 0) || !Bind(FHid, "HidP_GetExtendedAttributes", FExtAttributes) ||
        !Bind(FHid, "HidP_InitializeReportForID", FInitReport))
      FExtAttributes = nullptr, FInitReport = nullptr;
    return true;
  }
  void UnbindSetupApi() override {
    if (FSetupApi)
      FreeLibrary(FSetupApi);
    FSetupApi = nullptr;
  }
  void UnbindHid() override {
    if (FHid)
      FreeLibrary(FHid);
    FHid = nullptr;
  }

  void HidD_GetHidGuid(GUID *guid) override { FGetHidGuid(guid); }
  HDEVINFO SetupDiGetClassDevsW(const GUID *g, DWORD flags) override { return FGetClassDevs(g, nullptr, nullptr, flags); }
  BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, const GUID *g, DWORD i, SP_DEVICE_INTERFACE_DATA *d) override {
    return FEnumInterfaces(set, nullptr, g, i, d);
  }
  BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, SP_DEVICE_INTERFACE_DATA *d,
                                        SP_DEVICE_INTERFACE_DETAIL_DATA_W *detail, DWORD size, DWORD *required,
                                        SP_DEVINFO_DATA *info) override {
    return FGetDetail(set, d, detail, size, required, info);
  }
  BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA *info, DWORD property, DWORD *type,
                                         BYTE *buffer, DWORD size, DWORD *required) override {
    return FGetProperty(set, info, property, type, buffer, size, required);
  }
  BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override { return FDestroyList(set); }

  HANDLE CreateFileW(const wchar_t *path, DWORD access, DWORD share, DWORD flags) override {
    return ::CreateFileW(path, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
  }
  BOOL CloseHandle(HANDLE h) override { return ::CloseHandle(h); }
  BOOL HidD_GetAttributes(HANDLE h, HIDD_ATTRIBUTES *a) override { return FGetAttributes(h, a); }
  BOOL HidD_GetPreparsedData(HANDLE h, PHIDP_PREPARSED_DATA *d) override { return FGetPreparsed(h, d); }
  BOOL HidD_FreePreparsedData(PHIDP_PREPARSED_DATA d) override { return FFreePreparsed(d); }
  NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA d, HIDP_CAPS *c) override { return FGetCaps(d, c); }
  BOOL HidD_SetNumInputBuffers(HANDLE h, ULONG n) override { return FSetNumInput(h, n); }
  BOOL HidD_GetNumInputBuffers(HANDLE h, ULONG *n) override { return FGetNumInput(h, n); }
  BOOL WriteFile(HANDLE h, const void *b, DWORD n, DWORD *w) override { return ::WriteFile(h, b, n, w, nullptr); }
  BOOL ReadFile(HANDLE h, void *b, DWORD n, DWORD *r) override { return ::ReadFile(h, b, n, r, nullptr); }
  BOOL ReadFileEx(HANDLE h, void *b, DWORD n, OVERLAPPED *o, LPOVERLAPPED_COMPLETION_ROUTINE c) override {
    return ::ReadFileEx(h, b, n, o, c);
  }
  BOOL WriteFileEx(HANDLE h, const void *b, DWORD n, OVERLAPPED *o, LPOVERLAPPED_COMPLETION_ROUTINE c) override {
    return ::WriteFileEx(h, b, n, o, c);
  }
  BOOL GetOverlappedResult(HANDLE h, OVERLAPPED *o, DWORD *n, BOOL wait) override {
    return ::GetOverlappedResult(h, o, n, wait);
  }
  bool HasCancelIo() override { return true; }
  BOOL CancelIo(HANDLE h) override { return ::CancelIo(h); }
  BOOL DeviceIoControl(HANDLE h, DWORD code, void *in, DWORD inSize, void *out, DWORD outSize,
                       DWORD *returned) override {
    return ::DeviceIoControl(h, code, in, inSize, out, outSize, returned, nullptr);
  }
  DWORD GetLastError() override { return ::GetLastError(); }

  BOOL HidD_FlushQueue(HANDLE h) override { return FFlush(h); }
  BOOL HidD_GetConfiguration(HANDLE h, HIDD_CONFIGURATION *c, ULONG n) override { return FGetConfig(h, c, n); }
  BOOL HidD_SetConfiguration(HANDLE h, HIDD_CONFIGURATION *c, ULONG n) override { return FSetConfig(h, c, n); }
  BOOL HidD_GetFeature(HANDLE h, void *r, ULONG n) override { return FGetFeature(h, r, n); }
  BOOL HidD_SetFeature(HANDLE h, void *r, ULONG n) override { return FSetFeature(h, r, n); }
  bool HasInputOutputReports() override { return FGetInputReport && FSetOutputReport; }
  BOOL HidD_GetInputReport(HANDLE h, void *r, ULONG n) override { return FGetInputReport(h, r, n); }
  BOOL HidD_SetOutputReport(HANDLE h, void *r, ULONG n) override { return FSetOutputReport(h, r, n); }
  BOOL HidD_GetManufacturerString(HANDLE h, void *b, ULONG n) override { return FManufacturer(h, b, n); }
  BOOL HidD_GetProductString(HANDLE h, void *b, ULONG n) override { return FProduct(h, b, n); }
  BOOL HidD_GetSerialNumberString(HANDLE h, void *b, ULONG n) override { return FSerial(h, b, n); }
  BOOL HidD_GetIndexedString(HANDLE h, ULONG i, void *b, ULONG n) override { return FIndexed(h, i, b, n); }
  BOOL HidD_GetPhysicalDescriptor(HANDLE h, void *b, ULONG n) override { return FPhysical(h, b, n); }

  NTSTATUS HidP_GetLinkCollectionNodes(HIDP_LINK_COLLECTION_NODE *n, ULONG *l, PHIDP_PREPARSED_DATA d) override {
    return FLinkNodes(n, l, d);
  }
  NTSTATUS HidP_GetSpecificButtonCaps(HIDP_REPORT_TYPE t, USAGE p, USHORT l, USAGE u, HIDP_BUTTON_CAPS *c,
                                      USHORT *n, PHIDP_PREPARSED_DATA d) override {
    return FButtonCaps(t, p, l, u, c, n, d);
  }
  NTSTATUS HidP_GetSpecificValueCaps(HIDP_REPORT_TYPE t, USAGE p, USHORT l, USAGE u, HIDP_VALUE_CAPS *c,
                                     USHORT *n, PHIDP_PREPARSED_DATA d) override {
    return FValueCaps(t, p, l, u, c, n, d);
  }
  NTSTATUS HidP_GetData(HIDP_REPORT_TYPE t, HIDP_DATA *dl, ULONG *n, PHIDP_PREPARSED_DATA d, char *r,
                        ULONG rl) override {
    return FGetData(t, dl, n, d, r, rl);
  }
  NTSTATUS HidP_SetData(HIDP_REPORT_TYPE t, HIDP_DATA *dl, ULONG *n, PHIDP_PREPARSED_DATA d, char *r,
                        ULONG rl) override {
    return FSetData(t, dl, n, d, r, rl);
  }
  NTSTATUS HidP_GetUsages(HIDP_REPORT_TYPE t, USAGE p, USHORT l, USAGE *u, ULONG *n, PHIDP_PREPARSED_DATA d,
                          char *r, ULONG rl) override {
    return FGetUsages(t, p, l, u, n, d, r, rl);
  }
  NTSTATUS HidP_SetUsages(HIDP_REPORT_TYPE t, USAGE p, USHORT l, USAGE *u, ULONG *n, PHIDP_PREPARSED_DATA d,
                          char *r, ULONG rl) override {
    return FSetUsages(t, p, l, u, n, d, r, rl);
  }
  NTSTATUS HidP_UnsetUsages(HIDP_REPORT_TYPE t, USAGE p, USHORT l, USAGE *u, ULONG *n, PHIDP_PREPARSED_DATA d,
                            char *r, ULONG rl) override {
    return FUnsetUsages(t, p, l, u, n, d, r, rl);
  }
  NTSTATUS HidP_GetUsagesEx(HIDP_REPORT_TYPE t, USHORT l, USAGE_AND_PAGE *u, ULONG *n, PHIDP_PREPARSED_DATA d,
                            char *r, ULONG rl) override {
    return FGetUsagesEx(t, l, u, n, d, r, rl);
  }
  NTSTATUS HidP_GetUsageValue(HIDP_REPORT_TYPE t, USAGE p, USHORT l, USAGE u, ULONG *v, PHIDP_PREPARSED_DATA d,
                              char *r, ULONG rl) override {
    return FGetValue(t, p, l, u, v, d, r, rl);
  }
  NTSTATUS HidP_GetScaledUsageValue(HIDP_REPORT_TYPE t, USAGE p, USHORT l, USAGE u, LONG *v,
                                    PHIDP_PREPARSED_DATA d, char *r, ULONG rl) override {
    return FGetScaled(t, p, l, u, v, d, r, rl);
  }
  NTSTATUS HidP_SetUsageValue(HIDP_REPORT_TYPE t, USAGE p, USHORT l, USAGE u, ULONG v, PHIDP_PREPARSED_DATA d,
                              char *r, ULONG rl) override {
    return FSetValue(t, p, l, u, v, d, r, rl);
  }
  NTSTATUS HidP_SetScaledUsageValue(HIDP_REPORT_TYPE t, USAGE p, USHORT l, USAGE u, LONG v,
                                    PHIDP_PREPARSED_DATA d, char *r, ULONG rl) override {
    return FSetScaled(t, p, l, u, v, d, r, rl);
  }
  NTSTATUS HidP_GetUsageValueArray(HIDP_REPORT_TYPE t, USAGE p, USHORT l, USAGE u, char *v, USHORT vl,
                                   PHIDP_PREPARSED_DATA d, char *r, ULONG rl) override {
    return FGetValueArray(t, p, l, u, v, vl, d, r, rl);
  }
  NTSTATUS HidP_SetUsageValueArray(HIDP_REPORT_TYPE t, USAGE p, USHORT l, USAGE u, char *v, USHORT vl,
                                   PHIDP_PREPARSED_DATA d, char *r, ULONG rl) override {
    return FSetValueArray(t, p, l, u, v, vl, d, r, rl);
  }
  ULONG HidP_MaxDataListLength(HIDP_REPORT_TYPE t, PHIDP_PREPARSED_DATA d) override { return FMaxData(t, d); }
  ULONG HidP_MaxUsageListLength(HIDP_REPORT_TYPE t, USAGE p, PHIDP_PREPARSED_DATA d) override {
    return FMaxUsage(t, p, d);
  }
  bool HasExtendedAttributes() override { return FExtAttributes && FInitReport; }
  NTSTATUS HidP_GetExtendedAttributes(HIDP_REPORT_TYPE t, USHORT i, PHIDP_PREPARSED_DATA d,
                                      HIDP_EXTENDED_ATTRIBUTES *a, ULONG *l) override {
    return FExtAttributes(t, i, d, a, l);
  }
  NTSTATUS HidP_InitializeReportForID(HIDP_REPORT_TYPE t, UCHAR id, PHIDP_PREPARSED_DATA d, char *r,
                                      ULONG rl) override {
    return FInitReport(t, id, d, r, rl);
  }

  bool GetLocaleInfoW(LCID locale, std::wstring &name) override {
    wchar_t buffer[256] = {};
    if (!::GetLocaleInfoW(locale, LOCALE_SLANGUAGE, buffer, 256))
      return false;
    name = buffer;
    return true;
  }

  std::wstring HidVersion() override {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(L"HID.dll", &ignored);
    if (!size)
      return {};
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoW(L"HID.dll", 0, size, data.data()))
      return {};
    wchar_t *text = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"StringFileInfo\\040904E4\\FileVersion", reinterpret_cast<void **>(&text),
                        &length) ||
        !text)
      return {};
    return std::wstring(text, wcsnlen(text, length));
  }

private:
  HMODULE FSetupApi = nullptr, FHid = nullptr;
  decltype(&::SetupDiGetClassDevsW) FGetClassDevs = nullptr;
  decltype(&::SetupDiEnumDeviceInterfaces) FEnumInterfaces = nullptr;
  decltype(&::SetupDiGetDeviceInterfaceDetailW) FGetDetail = nullptr;
  decltype(&::SetupDiGetDeviceRegistryPropertyW) FGetProperty = nullptr;
  decltype(&::SetupDiDestroyDeviceInfoList) FDestroyList = nullptr;
  decltype(&::HidD_GetHidGuid) FGetHidGuid = nullptr;
  decltype(&::HidD_GetAttributes) FGetAttributes = nullptr;
  decltype(&::HidD_GetPreparsedData) FGetPreparsed = nullptr;
  decltype(&::HidD_FreePreparsedData) FFreePreparsed = nullptr;
  decltype(&::HidP_GetCaps) FGetCaps = nullptr;
  decltype(&::HidD_SetNumInputBuffers) FSetNumInput = nullptr;
  decltype(&::HidD_GetNumInputBuffers) FGetNumInput = nullptr;
  decltype(&::HidD_FlushQueue) FFlush = nullptr;
  decltype(&::HidD_GetConfiguration) FGetConfig = nullptr;
  decltype(&::HidD_SetConfiguration) FSetConfig = nullptr;
  decltype(&::HidD_GetFeature) FGetFeature = nullptr;
  decltype(&::HidD_SetFeature) FSetFeature = nullptr;
  decltype(&::HidD_GetInputReport) FGetInputReport = nullptr;
  decltype(&::HidD_SetOutputReport) FSetOutputReport = nullptr;
  decltype(&::HidD_GetManufacturerString) FManufacturer = nullptr;
  decltype(&::HidD_GetProductString) FProduct = nullptr;
  decltype(&::HidD_GetSerialNumberString) FSerial = nullptr;
  decltype(&::HidD_GetIndexedString) FIndexed = nullptr;
  decltype(&::HidD_GetPhysicalDescriptor) FPhysical = nullptr;
  decltype(&::HidP_GetLinkCollectionNodes) FLinkNodes = nullptr;
  decltype(&::HidP_GetSpecificButtonCaps) FButtonCaps = nullptr;
  decltype(&::HidP_GetSpecificValueCaps) FValueCaps = nullptr;
  decltype(&::HidP_GetData) FGetData = nullptr;
  decltype(&::HidP_SetData) FSetData = nullptr;
  decltype(&::HidP_GetUsages) FGetUsages = nullptr;
  decltype(&::HidP_SetUsages) FSetUsages = nullptr;
  decltype(&::HidP_UnsetUsages) FUnsetUsages = nullptr;
  decltype(&::HidP_GetUsagesEx) FGetUsagesEx = nullptr;
  decltype(&::HidP_GetUsageValue) FGetValue = nullptr;
  decltype(&::HidP_GetScaledUsageValue) FGetScaled = nullptr;
  decltype(&::HidP_SetUsageValue) FSetValue = nullptr;
  decltype(&::HidP_SetScaledUsageValue) FSetScaled = nullptr;
  decltype(&::HidP_GetUsageValueArray) FGetValueArray = nullptr;
  decltype(&::HidP_SetUsageValueArray) FSetValueArray = nullptr;
  decltype(&::HidP_MaxDataListLength) FMaxData = nullptr;
  decltype(&::HidP_MaxUsageListLength) FMaxUsage = nullptr;
  decltype(&::HidP_GetExtendedAttributes) FExtAttributes = nullptr;
  decltype(&::HidP_InitializeReportForID) FInitReport = nullptr;
};

IHidPlatform *CurrentPlatform = nullptr;

} // namespace

IHidPlatform &Win32HidPlatform() {
  static TWin32HidPlatform platform;
  return platform;
}

IHidPlatform &HidPlatform() { return CurrentPlatform ? *CurrentPlatform : Win32HidPlatform(); }

void SetHidPlatform(IHidPlatform *platform) { CurrentPlatform = platform; }
