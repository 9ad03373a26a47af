#pragma once
// The operations through which the HID layer reaches devices: device-setup enumeration,
// the HID class library, and file I/O on device paths. One table, bound once; the Win32
// binding loads SetupAPI and hid.dll by name, the simulated platform presents virtual
// devices. Every operation has the signature and result conventions of the Windows function
// of the same name.
#include <windows.h>

#include <winternl.h>

#include <hidusage.h>
#include <hidpi.h>
#include <hidsdi.h>
#include <setupapi.h>

#include <string>

class IHidPlatform {
public:
  virtual ~IHidPlatform() = default;

  // Binding. The device-setup library first; the HID library only after it.
  virtual bool BindSetupApi() = 0;
  virtual bool BindHid() = 0;
  virtual void UnbindSetupApi() = 0;
  virtual void UnbindHid() = 0;

  // Enumeration.
  virtual void HidD_GetHidGuid(GUID *guid) = 0;
  virtual HDEVINFO SetupDiGetClassDevsW(const GUID *classGuid, DWORD flags) = 0;
  virtual BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, const GUID *classGuid, DWORD index,
                                           SP_DEVICE_INTERFACE_DATA *data) = 0;
  // Size query with detail null; then the detail (cbSize 6 on 32-bit Windows) and the
  // device record.
  virtual BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, SP_DEVICE_INTERFACE_DATA *data,
                                                SP_DEVICE_INTERFACE_DETAIL_DATA_W *detail, DWORD detailSize,
                                                DWORD *requiredSize, SP_DEVINFO_DATA *devInfo) = 0;
  virtual BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA *devInfo, DWORD property,
                                                 DWORD *regType, BYTE *buffer, DWORD size, DWORD *required) = 0;
  virtual BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) = 0;

  // Device access.
  virtual HANDLE CreateFileW(const wchar_t *path, DWORD access, DWORD share, DWORD flags) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;
  virtual BOOL HidD_GetAttributes(HANDLE handle, HIDD_ATTRIBUTES *attributes) = 0;
  virtual BOOL HidD_GetPreparsedData(HANDLE handle, PHIDP_PREPARSED_DATA *data) = 0;
  virtual BOOL HidD_FreePreparsedData(PHIDP_PREPARSED_DATA data) = 0;
  virtual NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA data, HIDP_CAPS *caps) = 0;
  virtual BOOL HidD_SetNumInputBuffers(HANDLE handle, ULONG count) = 0;
  virtual BOOL HidD_GetNumInputBuffers(HANDLE handle, ULONG *count) = 0;
  virtual BOOL WriteFile(HANDLE handle, const void *buffer, DWORD size, DWORD *written) = 0;
  virtual BOOL ReadFile(HANDLE handle, void *buffer, DWORD size, DWORD *read) = 0;
  // Overlapped transfers: the completion routine runs while the issuing thread waits
  // alertably (SleepEx then returns WAIT_IO_COMPLETION).
  virtual BOOL ReadFileEx(HANDLE handle, void *buffer, DWORD size, OVERLAPPED *overlapped,
                          LPOVERLAPPED_COMPLETION_ROUTINE completion) = 0;
  virtual BOOL WriteFileEx(HANDLE handle, const void *buffer, DWORD size, OVERLAPPED *overlapped,
                           LPOVERLAPPED_COMPLETION_ROUTINE completion) = 0;
  virtual BOOL GetOverlappedResult(HANDLE handle, OVERLAPPED *overlapped, DWORD *transferred, BOOL wait) = 0;
  virtual bool HasCancelIo() = 0;
  virtual BOOL CancelIo(HANDLE handle) = 0;
  virtual BOOL DeviceIoControl(HANDLE handle, DWORD code, void *in, DWORD inSize, void *out, DWORD outSize,
                               DWORD *returned) = 0;
  virtual DWORD GetLastError() = 0;

  // HID class library pass-throughs.
  virtual BOOL HidD_FlushQueue(HANDLE handle) = 0;
  virtual BOOL HidD_GetConfiguration(HANDLE handle, HIDD_CONFIGURATION *config, ULONG size) = 0;
  virtual BOOL HidD_SetConfiguration(HANDLE handle, HIDD_CONFIGURATION *config, ULONG size) = 0;
  virtual BOOL HidD_GetFeature(HANDLE handle, void *report, ULONG size) = 0;
  virtual BOOL HidD_SetFeature(HANDLE handle, void *report, ULONG size) = 0;
  virtual bool HasInputOutputReports() = 0; // HidD_GetInputReport and HidD_SetOutputReport
  virtual BOOL HidD_GetInputReport(HANDLE handle, void *report, ULONG size) = 0;
  virtual BOOL HidD_SetOutputReport(HANDLE handle, void *report, ULONG size) = 0;
  virtual BOOL HidD_GetManufacturerString(HANDLE handle, void *buffer, ULONG size) = 0;
  virtual BOOL HidD_GetProductString(HANDLE handle, void *buffer, ULONG size) = 0;
  virtual BOOL HidD_GetSerialNumberString(HANDLE handle, void *buffer, ULONG size) = 0;
  virtual BOOL HidD_GetIndexedString(HANDLE handle, ULONG index, void *buffer, ULONG size) = 0;
  virtual BOOL HidD_GetPhysicalDescriptor(HANDLE handle, void *buffer, ULONG size) = 0;

  // Report parsing.
  virtual NTSTATUS HidP_GetLinkCollectionNodes(HIDP_LINK_COLLECTION_NODE *nodes, ULONG *length,
                                               PHIDP_PREPARSED_DATA data) = 0;
  virtual NTSTATUS HidP_GetSpecificButtonCaps(HIDP_REPORT_TYPE type, USAGE page, USHORT link, USAGE usage,
                                              HIDP_BUTTON_CAPS *caps, USHORT *length,
                                              PHIDP_PREPARSED_DATA data) = 0;
  virtual NTSTATUS HidP_GetSpecificValueCaps(HIDP_REPORT_TYPE type, USAGE page, USHORT link, USAGE usage,
                                             HIDP_VALUE_CAPS *caps, USHORT *length, PHIDP_PREPARSED_DATA data) = 0;
  virtual NTSTATUS HidP_GetData(HIDP_REPORT_TYPE type, HIDP_DATA *list, ULONG *length, PHIDP_PREPARSED_DATA data,
                                char *report, ULONG reportLength) = 0;
  virtual NTSTATUS HidP_SetData(HIDP_REPORT_TYPE type, HIDP_DATA *list, ULONG *length, PHIDP_PREPARSED_DATA data,
                                char *report, ULONG reportLength) = 0;
  virtual NTSTATUS HidP_GetUsages(HIDP_REPORT_TYPE type, USAGE page, USHORT link, USAGE *list, ULONG *length,
                                  PHIDP_PREPARSED_DATA data, char *report, ULONG reportLength) = 0;
  virtual NTSTATUS HidP_SetUsages(HIDP_REPORT_TYPE type, USAGE page, USHORT link, USAGE *list, ULONG *length,
                                  PHIDP_PREPARSED_DATA data, char *report, ULONG reportLength) = 0;
  virtual NTSTATUS HidP_UnsetUsages(HIDP_REPORT_TYPE type, USAGE page, USHORT link, USAGE *list, ULONG *length,
                                    PHIDP_PREPARSED_DATA data, char *report, ULONG reportLength) = 0;
  virtual NTSTATUS HidP_GetUsagesEx(HIDP_REPORT_TYPE type, USHORT link, USAGE_AND_PAGE *list, ULONG *length,
                                    PHIDP_PREPARSED_DATA data, char *report, ULONG reportLength) = 0;
  virtual NTSTATUS HidP_GetUsageValue(HIDP_REPORT_TYPE type, USAGE page, USHORT link, USAGE usage, ULONG *value,
                                      PHIDP_PREPARSED_DATA data, char *report, ULONG reportLength) = 0;
  virtual NTSTATUS HidP_GetScaledUsageValue(HIDP_REPORT_TYPE type, USAGE page, USHORT link, USAGE usage,
                                            LONG *value, PHIDP_PREPARSED_DATA data, char *report,
                                            ULONG reportLength) = 0;
  virtual NTSTATUS HidP_SetUsageValue(HIDP_REPORT_TYPE type, USAGE page, USHORT link, USAGE usage, ULONG value,
                                      PHIDP_PREPARSED_DATA data, char *report, ULONG reportLength) = 0;
  virtual NTSTATUS HidP_SetScaledUsageValue(HIDP_REPORT_TYPE type, USAGE page, USHORT link, USAGE usage,
                                            LONG value, PHIDP_PREPARSED_DATA data, char *report,
                                            ULONG reportLength) = 0;
  virtual NTSTATUS HidP_GetUsageValueArray(HIDP_REPORT_TYPE type, USAGE page, USHORT link, USAGE usage,
                                           char *value, USHORT valueLength, PHIDP_PREPARSED_DATA data,
                                           char *report, ULONG reportLength) = 0;
  virtual NTSTATUS HidP_SetUsageValueArray(HIDP_REPORT_TYPE type, USAGE page, USHORT link, USAGE usage,
                                           char *value, USHORT valueLength, PHIDP_PREPARSED_DATA data,
                                           char *report, ULONG reportLength) = 0;
  virtual ULONG HidP_MaxDataListLength(HIDP_REPORT_TYPE type, PHIDP_PREPARSED_DATA data) = 0;
  virtual ULONG HidP_MaxUsageListLength(HIDP_REPORT_TYPE type, USAGE page, PHIDP_PREPARSED_DATA data) = 0;
  // Bound only where the HID library has them; the "Has" query tells.
  virtual bool HasExtendedAttributes() = 0; // HidP_GetExtendedAttributes and HidP_InitializeReportForID
  virtual NTSTATUS HidP_GetExtendedAttributes(HIDP_REPORT_TYPE type, USHORT dataIndex,
                                              PHIDP_PREPARSED_DATA data, HIDP_EXTENDED_ATTRIBUTES *attributes,
                                              ULONG *length) = 0;
  virtual NTSTATUS HidP_InitializeReportForID(HIDP_REPORT_TYPE type, UCHAR reportId, PHIDP_PREPARSED_DATA data,
                                              char *report, ULONG reportLength) = 0;

  // The name of a language, false when the system knows none.
  virtual bool GetLocaleInfoW(LCID locale, std::wstring &name) = 0;
  // The HID library's file version text, or empty text.
  virtual std::wstring HidVersion() = 0;
};

// The platform the HID layer uses; bound once, before the first controller is created.
IHidPlatform &HidPlatform();
void SetHidPlatform(IHidPlatform *platform);

// The platform that reaches real devices through SetupAPI and hid.dll.
IHidPlatform &Win32HidPlatform();

inline constexpr NTSTATUS kHidpStatusNull = NTSTATUS(0x80110001);
inline constexpr NTSTATUS kHidpStatusNotImplemented = NTSTATUS(0xC0110020);
