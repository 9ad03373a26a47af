#pragma once
// One HID device interface found by the controller. A user borrows it between check-out and
// check-in; it stays a valid object for its borrower after the device is unplugged.
#include "hid/win32/HidEvents.h"
#include "hid/win32/HidPlatform.h"
#include "hid/win32/HidPnPInfo.h"

#include <memory>
#include <string>
#include <vector>

class TJvHidDeviceReadThread;

enum TJvHidOpenExMode { omhRead, omhWrite };

using TJvPhysicalDescriptor = std::vector<uint16_t>;

class TJvHidDevice {
public:
  // Devices are made only by their controller: direct creation raises EControllerError.
  static TJvHidDevice *Create();
  ~TJvHidDevice();
  TJvHidDevice(const TJvHidDevice &) = delete;
  TJvHidDevice &operator=(const TJvHidDevice &) = delete;

  // Takes ownership of the record; raises EControllerError when the device cannot be
  // opened or identified (the record is freed then). The controller's list owns the result;
  // deleting a device that is listed takes it out of the list, or, for a plugged-in device,
  // puts a fresh one in its place (deleting a borrowed device amounts to checking it in).
  static TJvHidDevice *CreateForController(std::unique_ptr<TJvHidPnPInfo> PnPInfo,
                                           TJvHidDeviceController *Controller);

  // State.
  bool IsPluggedIn() const { return FIsPluggedIn; }
  bool IsCheckedOut() const { return FIsCheckedOut; }
  bool IsAccessible() const { return FIsPluggedIn && (FIsCheckedOut || FIsEnumerated); }
  bool HasReadWriteAccess() const { return FHasReadWriteAccess; }
  const HIDD_ATTRIBUTES &Attributes() const { return FAttributes; }
  const TJvHidPnPInfo &PnPInfo() const { return *FPnPInfo; }
  HANDLE HidFileHandle() const { return FHidFileHandle; }
  HANDLE HidOverlappedRead() const { return FHidOverlappedRead; }
  HANDLE HidOverlappedWrite() const { return FHidOverlappedWrite; }
  int Tag = 0;

  // Handles.
  bool OpenFile();
  bool OpenFileEx(TJvHidOpenExMode Mode);
  void CloseFile();
  void CloseFileEx(TJvHidOpenExMode Mode);
  int NumInputBuffers() const { return FNumInputBuffers; }
  void SetNumInputBuffers(int Value);
  int NumOverlappedBuffers() const { return FNumOverlappedBuffers; }
  void SetNumOverlappedBuffers(int Value);

  // Transfers.
  bool ReadFile(void *Report, uint32_t ToRead, uint32_t &BytesRead);
  bool WriteFile(const void *Report, uint32_t ToWrite, uint32_t &BytesWritten);
  bool ReadFileEx(void *Report, uint32_t ToRead, LPOVERLAPPED_COMPLETION_ROUTINE CallBack);
  bool WriteFileEx(const void *Report, uint32_t ToWrite, LPOVERLAPPED_COMPLETION_ROUTINE CallBack);
  uint32_t HidOverlappedReadResult();
  uint32_t HidOverlappedWriteResult();
  bool CancelIO(TJvHidOpenExMode Mode);
  bool FlushQueue();
  bool GetFeature(void *Report, uint32_t Size);
  bool SetFeature(void *Report, uint32_t Size);
  bool GetInputReport(void *Report, uint32_t Size);
  bool SetOutputReport(void *Report, uint32_t Size);
  bool DeviceIoControl(uint32_t IoControlCode, void *InBuffer, uint32_t InSize, void *OutBuffer, uint32_t OutSize,
                       uint32_t &BytesReturned);
  HIDD_CONFIGURATION Configuration();
  void SetConfiguration(const HIDD_CONFIGURATION &Config);

  // Descriptive data.
  PHIDP_PREPARSED_DATA PreparsedData();
  HIDP_CAPS Caps();
  std::wstring VendorName();
  std::wstring ProductName();
  std::wstring SerialNumber();
  const std::vector<std::string> &LanguageStrings();
  TJvPhysicalDescriptor PhysicalDescriptor();
  std::wstring DeviceStringsUnicode(uint8_t Idx);
  std::string DeviceStrings(uint8_t Idx);
  HIDP_LINK_COLLECTION_NODE LinkCollectionNodes(uint16_t Idx);

  // Report parsing, with the parameters below.
  uint32_t ReportTypeParam() const { return FReportTypeParam; }
  void SetReportTypeParam(uint32_t Value);
  uint16_t UsagePageParam() const { return FUsagePageParam; }
  void SetUsagePageParam(uint16_t Value);
  uint16_t LinkCollectionParam() const { return FLinkCollectionParam; }
  void SetLinkCollectionParam(uint16_t Value) { FLinkCollectionParam = Value; }
  uint16_t UsageParam() const { return FUsageParam; }
  void SetUsageParam(uint16_t Value) { FUsageParam = Value; }
  uint32_t MaxDataListLength() const { return FMaxDataListLength; }
  uint32_t MaxUsageListLength() const { return FMaxUsageListLength; }
  uint32_t MaxButtonListLength() const { return FMaxButtonListLength; }

  NTSTATUS GetButtonCaps(HIDP_BUTTON_CAPS *ButtonCaps, uint16_t &Count);
  NTSTATUS GetSpecificButtonCaps(HIDP_BUTTON_CAPS *ButtonCaps, uint16_t &Count);
  NTSTATUS GetValueCaps(HIDP_VALUE_CAPS *ValueCaps, uint16_t &Count);
  NTSTATUS GetSpecificValueCaps(HIDP_VALUE_CAPS *ValueCaps, uint16_t &Count);
  NTSTATUS GetData(HIDP_DATA *DataList, uint32_t &DataLength, char *Report, uint32_t ReportLength);
  NTSTATUS SetData(HIDP_DATA *DataList, uint32_t &DataLength, char *Report, uint32_t ReportLength);
  NTSTATUS GetUsages(USAGE *UsageList, uint32_t &UsageLength, char *Report, uint32_t ReportLength);
  NTSTATUS GetButtons(USAGE *UsageList, uint32_t &UsageLength, char *Report, uint32_t ReportLength);
  NTSTATUS SetUsages(USAGE *UsageList, uint32_t &UsageLength, char *Report, uint32_t ReportLength);
  NTSTATUS SetButtons(USAGE *UsageList, uint32_t &UsageLength, char *Report, uint32_t ReportLength);
  NTSTATUS UnsetUsages(USAGE *UsageList, uint32_t &UsageLength, char *Report, uint32_t ReportLength);
  NTSTATUS UnsetButtons(USAGE *UsageList, uint32_t &UsageLength, char *Report, uint32_t ReportLength);
  NTSTATUS GetUsagesEx(USAGE_AND_PAGE *UsageList, uint32_t &UsageLength, char *Report, uint32_t ReportLength);
  NTSTATUS GetButtonsEx(USAGE_AND_PAGE *UsageList, uint32_t &UsageLength, char *Report, uint32_t ReportLength);
  NTSTATUS GetUsageValue(uint32_t &UsageValue, char *Report, uint32_t ReportLength);
  NTSTATUS GetScaledUsageValue(int32_t &UsageValue, char *Report, uint32_t ReportLength);
  NTSTATUS SetUsageValue(uint32_t UsageValue, char *Report, uint32_t ReportLength);
  NTSTATUS SetScaledUsageValue(int32_t UsageValue, char *Report, uint32_t ReportLength);
  NTSTATUS GetUsageValueArray(char *UsageValue, uint16_t UsageValueByteLength, char *Report, uint32_t ReportLength);
  NTSTATUS SetUsageValueArray(char *UsageValue, uint16_t UsageValueByteLength, char *Report, uint32_t ReportLength);
  NTSTATUS GetExtendedAttributes(HIDP_REPORT_TYPE ReportType, uint16_t DataIndex,
                                 HIDP_EXTENDED_ATTRIBUTES *Attributes, uint32_t &LengthAttributes);
  NTSTATUS InitializeReportForID(HIDP_REPORT_TYPE ReportType, uint8_t ReportID, char *Report,
                                 uint32_t ReportLength);

  // Events and reading.
  const TJvHidDataEvent &OnData() const { return FData; }
  void SetOnData(TJvHidDataEvent Value);
  TJvHidDataErrorEvent OnDataError;
  TJvHidPlugEvent OnUnplug;
  int ThreadSleepTime() const { return FThreadSleepTime; }
  void SetThreadSleepTime(int Value);
  bool HasReadThread() const { return FDataThread != nullptr; }

  bool CheckOut();

private:
  friend class TJvHidDeviceController;
  friend class TJvHidDeviceReadThread;

  TJvHidDevice() = default;
  void StartReadThread();
  void StopReadThread();
  void MarkUnplugged();
  void RefreshListLengths();
  HANDLE OpenPath(DWORD access, DWORD flags);
  int CountLanguageIds(const uint16_t *ids);
  PHIDP_PREPARSED_DATA ParsingData();
  HIDP_REPORT_TYPE ReportType() const { return HIDP_REPORT_TYPE(FReportTypeParam); }

  TJvHidDeviceController *FMyController = nullptr;
  bool FIsPluggedIn = true;
  bool FIsCheckedOut = false;
  bool FIsEnumerated = false;
  HANDLE FHidFileHandle = INVALID_HANDLE_VALUE;
  HANDLE FHidOverlappedRead = INVALID_HANDLE_VALUE;
  HANDLE FHidOverlappedWrite = INVALID_HANDLE_VALUE;
  OVERLAPPED FOvlRead{}, FOvlWrite{};
  HIDD_ATTRIBUTES FAttributes{};
  std::unique_ptr<TJvHidPnPInfo> FPnPInfo;
  std::wstring FVendorName, FProductName;
  TJvPhysicalDescriptor FPhysicalDescriptor;
  PHIDP_PREPARSED_DATA FPreparsedData = nullptr;
  std::wstring FSerialNumber;
  std::vector<std::string> FLanguageStrings;
  int FNumInputBuffers = 0, FNumOverlappedBuffers = 0;
  int FThreadSleepTime = 100;
  std::vector<HIDP_LINK_COLLECTION_NODE> FLinkCollection;
  bool FLinkCollectionFetched = false;
  uint32_t FMaxDataListLength = 0, FMaxUsageListLength = 0, FMaxButtonListLength = 0;
  uint32_t FReportTypeParam = 0;
  uint16_t FUsagePageParam = 0, FLinkCollectionParam = 0, FUsageParam = 0;
  TJvHidDataEvent FData;
  bool FHasReadWriteAccess = false;
  std::unique_ptr<TJvHidDeviceReadThread> FDataThread;
};
