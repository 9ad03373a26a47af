#pragma once
// A simulated HID platform: virtual device interfaces that answer through the same
// operations as the real ones. Fine Offset stations hold a 256-byte memory and answer the
// station's memory commands; devices can be plugged and unplugged at run time, which posts
// the device-change notification to the process's top-level windows as the system does.
// Overlapped reads complete through the issuing thread's alertable waits.
#include "hid/win32/HidPlatform.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct TSimDeviceInfo {
  std::wstring Path;
  uint16_t VendorID = 0, ProductID = 0, VersionNumber = 0x0100;
  std::wstring Manufacturer, Product, Serial; // empty: the request fails
  std::vector<uint16_t> LanguageIds;          // string 0; empty: the request fails
  std::vector<uint16_t> PhysicalDescriptor;   // empty: the request fails
  std::wstring ClassDescr = L"HIDClass";
  std::wstring DeviceDescr = L"USB Input Device";
  bool RefusesReadWrite = false; // opens only without access rights
  bool IsStation = false;        // answers the station's memory commands
  uint16_t InputReportLength = 9, OutputReportLength = 9;
};

// A Fine Offset weather station with the given logger interval.
TSimDeviceInfo FineOffsetStation(int number);

class TSimHidPlatform final : public IHidPlatform {
public:
  TSimHidPlatform();
  ~TSimHidPlatform() override;

  // Devices. Plug returns the device's instance number (stable, never reused).
  uint32_t Plug(const TSimDeviceInfo &info, bool notify = true);
  void Unplug(uint32_t id, bool notify = true);
  void NotifyDeviceChange();
  // Station behaviour.
  uint8_t Memory(uint32_t id, uint8_t address);
  void SetMemory(uint32_t id, uint8_t address, uint8_t value);
  void SetSilent(uint32_t id, bool silent);
  void SetReplyLimit(uint32_t id, int limit); // -1: every reply
  // Queues an input report on every open reading handle of the device.
  void InjectInputReport(uint32_t id, const std::vector<uint8_t> &report);
  // Every output and input report exchanged with a station, one line each.
  void SetTrafficLog(const std::wstring &path);
  // Without the HID library the controller lists nothing.
  bool HidLibraryAvailable = true;

  int OpenHandleCount();
  int PendingReadCount();
  int StringRequests(uint32_t id);
  int OutputReportCount(uint32_t id);

  // IHidPlatform.
  bool BindSetupApi() override { return true; }
  bool BindHid() override { return HidLibraryAvailable; }
  void UnbindSetupApi() override {}
  void UnbindHid() override {}
  void HidD_GetHidGuid(GUID *guid) override;
  HDEVINFO SetupDiGetClassDevsW(const GUID *classGuid, DWORD flags) override;
  BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, const GUID *classGuid, DWORD index,
                                   SP_DEVICE_INTERFACE_DATA *data) override;
  BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, SP_DEVICE_INTERFACE_DATA *data,
                                        SP_DEVICE_INTERFACE_DETAIL_DATA_W *detail, DWORD detailSize,
                                        DWORD *requiredSize, SP_DEVINFO_DATA *devInfo) override;
  BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA *devInfo, DWORD property, DWORD *regType,
                                         BYTE *buffer, DWORD size, DWORD *required) override;
  BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override;
  HANDLE CreateFileW(const wchar_t *path, DWORD access, DWORD share, DWORD flags) override;
  BOOL CloseHandle(HANDLE handle) override;
  BOOL HidD_GetAttributes(HANDLE handle, HIDD_ATTRIBUTES *attributes) override;
  BOOL HidD_GetPreparsedData(HANDLE handle, PHIDP_PREPARSED_DATA *data) override;
  BOOL HidD_FreePreparsedData(PHIDP_PREPARSED_DATA data) override;
  NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA data, HIDP_CAPS *caps) override;
  BOOL HidD_SetNumInputBuffers(HANDLE handle, ULONG count) override;
  BOOL HidD_GetNumInputBuffers(HANDLE handle, ULONG *count) override;
  BOOL WriteFile(HANDLE handle, const void *buffer, DWORD size, DWORD *written) override;
  BOOL ReadFile(HANDLE handle, void *buffer, DWORD size, DWORD *read) override;
  BOOL ReadFileEx(HANDLE handle, void *buffer, DWORD size, OVERLAPPED *overlapped,
                  LPOVERLAPPED_COMPLETION_ROUTINE completion) override;
  BOOL WriteFileEx(HANDLE handle, const void *buffer, DWORD size, OVERLAPPED *overlapped,
                   LPOVERLAPPED_COMPLETION_ROUTINE completion) override;
  BOOL GetOverlappedResult(HANDLE handle, OVERLAPPED *overlapped, DWORD *transferred, BOOL wait) override;
  bool HasCancelIo() override { return true; }
  BOOL CancelIo(HANDLE handle) override;
  BOOL DeviceIoControl(HANDLE, DWORD, void *, DWORD, void *, DWORD, DWORD *) override { return Fail(); }
  DWORD GetLastError() override { return ::GetLastError(); }
  BOOL HidD_FlushQueue(HANDLE handle) override;
  BOOL HidD_GetConfiguration(HANDLE, HIDD_CONFIGURATION *, ULONG) override { return Fail(); }
  BOOL HidD_SetConfiguration(HANDLE, HIDD_CONFIGURATION *, ULONG) override { return Fail(); }
  BOOL HidD_GetFeature(HANDLE, void *, ULONG) override { return Fail(); }
  BOOL HidD_SetFeature(HANDLE, void *, ULONG) override { return Fail(); }
  bool HasInputOutputReports() override { return true; }
  BOOL HidD_GetInputReport(HANDLE, void *, ULONG) override { return Fail(); }
  BOOL HidD_SetOutputReport(HANDLE, void *, ULONG) override { return Fail(); }
  BOOL HidD_GetManufacturerString(HANDLE handle, void *buffer, ULONG size) override;
  BOOL HidD_GetProductString(HANDLE handle, void *buffer, ULONG size) override;
  BOOL HidD_GetSerialNumberString(HANDLE handle, void *buffer, ULONG size) override;
  BOOL HidD_GetIndexedString(HANDLE handle, ULONG index, void *buffer, ULONG size) override;
  BOOL HidD_GetPhysicalDescriptor(HANDLE handle, void *buffer, ULONG size) override;
  NTSTATUS HidP_GetLinkCollectionNodes(HIDP_LINK_COLLECTION_NODE *nodes, ULONG *length,
                                       PHIDP_PREPARSED_DATA data) override;
  NTSTATUS HidP_GetSpecificButtonCaps(HIDP_REPORT_TYPE, USAGE, USHORT, USAGE, HIDP_BUTTON_CAPS *, USHORT *,
                                      PHIDP_PREPARSED_DATA) override {
    return kUsageNotFound;
  }
  NTSTATUS HidP_GetSpecificValueCaps(HIDP_REPORT_TYPE, USAGE, USHORT, USAGE, HIDP_VALUE_CAPS *, USHORT *,
                                     PHIDP_PREPARSED_DATA) override {
    return kUsageNotFound;
  }
  NTSTATUS HidP_GetData(HIDP_REPORT_TYPE, HIDP_DATA *, ULONG *, PHIDP_PREPARSED_DATA, char *, ULONG) override {
    return kUsageNotFound;
  }
  NTSTATUS HidP_SetData(HIDP_REPORT_TYPE, HIDP_DATA *, ULONG *, PHIDP_PREPARSED_DATA, char *, ULONG) override {
    return kUsageNotFound;
  }
  NTSTATUS HidP_GetUsages(HIDP_REPORT_TYPE, USAGE, USHORT, USAGE *, ULONG *, PHIDP_PREPARSED_DATA, char *,
                          ULONG) override {
    return kUsageNotFound;
  }
  NTSTATUS HidP_SetUsages(HIDP_REPORT_TYPE, USAGE, USHORT, USAGE *, ULONG *, PHIDP_PREPARSED_DATA, char *,
                          ULONG) override {
    return kUsageNotFound;
  }
  NTSTATUS HidP_UnsetUsages(HIDP_REPORT_TYPE, USAGE, USHORT, USAGE *, ULONG *, PHIDP_PREPARSED_DATA, char *,
                            ULONG) override {
    return kUsageNotFound;
  }
  NTSTATUS HidP_GetUsagesEx(HIDP_REPORT_TYPE, USHORT, USAGE_AND_PAGE *, ULONG *, PHIDP_PREPARSED_DATA, char *,
                            ULONG) override {
    return kUsageNotFound;
  }
  NTSTATUS HidP_GetUsageValue(HIDP_REPORT_TYPE, USAGE, USHORT, USAGE, ULONG *, PHIDP_PREPARSED_DATA, char *,
                              ULONG) override {
    return kUsageNotFound;
  }
  NTSTATUS HidP_GetScaledUsageValue(HIDP_REPORT_TYPE, USAGE, USHORT, USAGE, LONG *, PHIDP_PREPARSED_DATA, char *,
                                    ULONG) override {
    return kUsageNotFound;
  }
  NTSTATUS HidP_SetUsageValue(HIDP_REPORT_TYPE, USAGE, USHORT, USAGE, ULONG, PHIDP_PREPARSED_DATA, char *,
                              ULONG) override {
    return kUsageNotFound;
  }
  NTSTATUS HidP_SetScaledUsageValue(HIDP_REPORT_TYPE, USAGE, USHORT, USAGE, LONG, PHIDP_PREPARSED_DATA, char *,
                                    ULONG) override {
    return kUsageNotFound;
  }
  NTSTATUS HidP_GetUsageValueArray(HIDP_REPORT_TYPE, USAGE, USHORT, USAGE, char *, USHORT, PHIDP_PREPARSED_DATA,
                                   char *, ULONG) override {
    return kUsageNotFound;
  }
  NTSTATUS HidP_SetUsageValueArray(HIDP_REPORT_TYPE, USAGE, USHORT, USAGE, char *, USHORT, PHIDP_PREPARSED_DATA,
                                   char *, ULONG) override {
    return kUsageNotFound;
  }
  ULONG HidP_MaxDataListLength(HIDP_REPORT_TYPE, PHIDP_PREPARSED_DATA data) override { return data ? 1 : 0; }
  ULONG HidP_MaxUsageListLength(HIDP_REPORT_TYPE, USAGE, PHIDP_PREPARSED_DATA data) override { return data ? 1 : 0; }
  bool HasExtendedAttributes() override { return true; }
  NTSTATUS HidP_GetExtendedAttributes(HIDP_REPORT_TYPE, USHORT, PHIDP_PREPARSED_DATA, HIDP_EXTENDED_ATTRIBUTES *,
                                      ULONG *) override {
    return kUsageNotFound;
  }
  NTSTATUS HidP_InitializeReportForID(HIDP_REPORT_TYPE, UCHAR, PHIDP_PREPARSED_DATA, char *, ULONG) override {
    return kUsageNotFound;
  }
  bool GetLocaleInfoW(LCID locale, std::wstring &name) override;
  std::wstring HidVersion() override { return L"5.1.2600.5512"; }

  static constexpr NTSTATUS kUsageNotFound = NTSTATUS(0xC0110004);

private:
  struct Device {
    TSimDeviceInfo Info;
    uint32_t Id = 0;
    bool Plugged = true;
    std::array<uint8_t, 256> Memory{};
    ULONGLONG FlagClearAt = 0;
    bool Silent = false;
    int ReplyLimit = -1;
    int StringRequests = 0;
    int OutputReports = 0;
  };
  struct PendingRead {
    uint8_t *Buffer;
    DWORD Size;
    OVERLAPPED *Overlapped;
    LPOVERLAPPED_COMPLETION_ROUTINE Completion;
    HANDLE Thread;
    DWORD ThreadId;
  };
  struct OpenHandle {
    uint32_t DeviceId;
    DWORD Access;
    bool Overlapped;
    ULONG NumBuffers = 32;
    std::deque<std::vector<uint8_t>> Queue;
    std::vector<PendingRead> Pending;
  };
  struct Preparsed {
    uint32_t DeviceId;
    HIDP_CAPS Caps;
  };

  static BOOL Fail(DWORD error = ERROR_INVALID_FUNCTION);
  Device *FindDevice(uint32_t id);
  OpenHandle *FindHandle(HANDLE handle);
  Device *DeviceOf(HANDLE handle, bool needPlugged = true);
  void Answer(Device &device, const uint8_t *report, DWORD size);
  void Deliver(uint32_t deviceId, const std::vector<uint8_t> &report);
  void CompleteRead(OpenHandle &open, PendingRead read, NTSTATUS status, DWORD bytes);
  void ApplyFlagClear(Device &device);
  void Log(const char *direction, const uint8_t *bytes, size_t size);

  std::recursive_mutex FLock;
  std::condition_variable_any FArrived;
  std::vector<Device> FDevices;
  uint32_t FNextId = 0x1000;
  std::map<HANDLE, OpenHandle> FHandles;
  std::map<void *, Preparsed *> FPreparsed;
  std::map<HDEVINFO, std::vector<uint32_t>> FSnapshots;
  FILE *FLog = nullptr;
};
