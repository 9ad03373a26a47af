#include "hid/win32/HidDevice.h"

#include "hid/win32/HidController.h"
#include "hid/win32/HidReadThread.h"
#include "runtime/Exception.h"
#include "runtime/win32/WideText.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

IHidPlatform &P() { return HidPlatform(); }

constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr size_t kStringBytes = 508; // 254 wide characters
constexpr int kStringChars = 254;

std::wstring CachedString(const wchar_t *buffer) { return std::wstring(buffer, wcsnlen(buffer, kStringChars)); }

} // namespace

TJvHidDevice *TJvHidDevice::Create() {
  throw EControllerError("Direct creation of a TJvHidDevice object is not allowed");
}

TJvHidDevice *TJvHidDevice::CreateForController(std::unique_ptr<TJvHidPnPInfo> PnPInfo,
                                                TJvHidDeviceController *Controller) {
  std::unique_ptr<TJvHidDevice> device(new TJvHidDevice());
  device->FPnPInfo = std::move(PnPInfo);
  device->FMyController = Controller;
  if (Controller) {
    device->SetOnData(Controller->OnDeviceData());
    device->OnUnplug = Controller->OnDeviceUnplug();
  }
  device->FHidFileHandle = device->OpenPath(GENERIC_READ | GENERIC_WRITE, 0);
  device->FHasReadWriteAccess = device->FHidFileHandle != INVALID_HANDLE_VALUE;
  if (!device->FHasReadWriteAccess)
    device->FHidFileHandle = device->OpenPath(0, 0);
  if (device->FHidFileHandle == INVALID_HANDLE_VALUE) {
    device->FMyController = nullptr; // a half-built device is not in any list
    throw EControllerError("Device cannot be opened");
  }
  device->FAttributes.Size = 12;
  if (!P().HidD_GetAttributes(device->FHidFileHandle, &device->FAttributes)) {
    device->FMyController = nullptr;
    throw EControllerError("Device cannot be identified");
  }
  device->CloseFile();
  return device.release();
}

TJvHidDevice::~TJvHidDevice() {
  TJvHidDataEvent data = FData;
  TJvHidPlugEvent unplug = OnUnplug;
  SetOnData({});
  OnUnplug = {};
  CloseFile();
  CloseFileEx(omhRead);
  CloseFileEx(omhWrite);
  if (FPreparsedData)
    P().HidD_FreePreparsedData(FPreparsedData);
  FPreparsedData = nullptr;

  if (FMyController)
    FMyController->DeviceDestroyed(this, data, unplug);
}

HANDLE TJvHidDevice::OpenPath(DWORD access, DWORD flags) {
  return P().CreateFileW(FPnPInfo->DevicePath().c_str(), access, kShareReadWrite, flags);
}

bool TJvHidDevice::OpenFile() {
  if (IsAccessible() && FHidFileHandle == INVALID_HANDLE_VALUE) {
    FHidFileHandle = OpenPath(GENERIC_READ | GENERIC_WRITE, 0);
    FHasReadWriteAccess = FHidFileHandle != INVALID_HANDLE_VALUE;
    if (!FHasReadWriteAccess)
      FHidFileHandle = OpenPath(0, 0);
    if (FHidFileHandle != INVALID_HANDLE_VALUE) {
      if (FNumInputBuffers != 0)
        P().HidD_SetNumInputBuffers(FHidFileHandle, ULONG(FNumInputBuffers));
      ULONG count = 0;
      P().HidD_GetNumInputBuffers(FHidFileHandle, &count);
      FNumInputBuffers = int(count);
    }
  }
  return FHidFileHandle != INVALID_HANDLE_VALUE;
}

bool TJvHidDevice::OpenFileEx(TJvHidOpenExMode Mode) {
  if (!IsAccessible())
    return false;
  if (Mode == omhRead) {
    if (FHidOverlappedRead == INVALID_HANDLE_VALUE) {
      FHidOverlappedRead = OpenPath(GENERIC_READ, FILE_FLAG_OVERLAPPED);
      if (FHidOverlappedRead != INVALID_HANDLE_VALUE) {
        if (FNumOverlappedBuffers != 0)
          P().HidD_SetNumInputBuffers(FHidOverlappedRead, ULONG(FNumOverlappedBuffers));
        ULONG count = 0;
        P().HidD_GetNumInputBuffers(FHidOverlappedRead, &count);
        FNumOverlappedBuffers = int(count);
      }
    }
    return FHidOverlappedRead != INVALID_HANDLE_VALUE;
  }
  if (FHidOverlappedWrite == INVALID_HANDLE_VALUE)
    FHidOverlappedWrite = OpenPath(GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
  return FHidOverlappedWrite != INVALID_HANDLE_VALUE;
}

void TJvHidDevice::CloseFile() {
  if (FHidFileHandle != INVALID_HANDLE_VALUE)
    P().CloseHandle(FHidFileHandle);
  FNumInputBuffers = 0;
  FHidFileHandle = INVALID_HANDLE_VALUE;
}

void TJvHidDevice::CloseFileEx(TJvHidOpenExMode Mode) {
  if (Mode == omhRead) {
    if (FHidOverlappedRead != INVALID_HANDLE_VALUE)
      P().CloseHandle(FHidOverlappedRead);
    FNumOverlappedBuffers = 0;
    FHidOverlappedRead = INVALID_HANDLE_VALUE;
  } else {
    if (FHidOverlappedWrite != INVALID_HANDLE_VALUE)
      P().CloseHandle(FHidOverlappedWrite);
    FHidOverlappedWrite = INVALID_HANDLE_VALUE;
  }
}

void TJvHidDevice::SetNumInputBuffers(int Value) {
  if (Value != FNumInputBuffers && OpenFile()) {
    P().HidD_SetNumInputBuffers(FHidFileHandle, ULONG(Value));
    ULONG count = 0;
    P().HidD_GetNumInputBuffers(FHidFileHandle, &count);
    FNumInputBuffers = int(count);
  }
}

void TJvHidDevice::SetNumOverlappedBuffers(int Value) {
  if (Value != FNumOverlappedBuffers && OpenFileEx(omhRead)) {
    P().HidD_SetNumInputBuffers(FHidOverlappedRead, ULONG(Value));
    ULONG count = 0;
    P().HidD_GetNumInputBuffers(FHidOverlappedRead, &count);
    FNumOverlappedBuffers = int(count);
  }
}

bool TJvHidDevice::ReadFile(void *Report, uint32_t ToRead, uint32_t &BytesRead) {
  if (!OpenFile())
    return false;
  DWORD n = 0;
  BOOL ok = P().ReadFile(FHidFileHandle, Report, ToRead, &n);
  BytesRead = n;
  return ok;
}

bool TJvHidDevice::WriteFile(const void *Report, uint32_t ToWrite, uint32_t &BytesWritten) {
  if (!OpenFile())
    return false;
  DWORD n = 0;
  BOOL ok = P().WriteFile(FHidFileHandle, Report, ToWrite, &n);
  BytesWritten = n;
  return ok;
}

bool TJvHidDevice::ReadFileEx(void *Report, uint32_t ToRead, LPOVERLAPPED_COMPLETION_ROUTINE CallBack) {
  if (!OpenFileEx(omhRead))
    return false;
  FOvlRead = OVERLAPPED{};
  FOvlRead.hEvent = this;
  return P().ReadFileEx(FHidOverlappedRead, Report, ToRead, &FOvlRead, CallBack);
}

bool TJvHidDevice::WriteFileEx(const void *Report, uint32_t ToWrite, LPOVERLAPPED_COMPLETION_ROUTINE CallBack) {
  if (!OpenFileEx(omhWrite))
    return false;
  FOvlWrite = OVERLAPPED{};
  FOvlWrite.hEvent = this;
  return P().WriteFileEx(FHidOverlappedWrite, Report, ToWrite, &FOvlWrite, CallBack);
}

uint32_t TJvHidDevice::HidOverlappedReadResult() {
  DWORD n = 0;
  if (FHidOverlappedRead == INVALID_HANDLE_VALUE ||
      !P().GetOverlappedResult(FHidOverlappedRead, &FOvlRead, &n, FALSE))
    return 0;
  return n;
}

uint32_t TJvHidDevice::HidOverlappedWriteResult() {
  DWORD n = 0;
  if (FHidOverlappedWrite == INVALID_HANDLE_VALUE ||
      !P().GetOverlappedResult(FHidOverlappedWrite, &FOvlWrite, &n, FALSE))
    return 0;
  return n;
}

bool TJvHidDevice::CancelIO(TJvHidOpenExMode Mode) {
  HANDLE handle = Mode == omhRead ? FHidOverlappedRead : FHidOverlappedWrite;
  if (handle == INVALID_HANDLE_VALUE || !P().HasCancelIo())
    return false;
  return P().CancelIo(handle);
}

bool TJvHidDevice::FlushQueue() { return OpenFile() && P().HidD_FlushQueue(FHidFileHandle); }

bool TJvHidDevice::GetFeature(void *Report, uint32_t Size) {
  return OpenFile() && P().HidD_GetFeature(FHidFileHandle, Report, Size);
}

bool TJvHidDevice::SetFeature(void *Report, uint32_t Size) {
  return OpenFile() && P().HidD_SetFeature(FHidFileHandle, Report, Size);
}

bool TJvHidDevice::GetInputReport(void *Report, uint32_t Size) {
  return OpenFile() && P().HasInputOutputReports() && P().HidD_GetInputReport(FHidFileHandle, Report, Size);
}

bool TJvHidDevice::SetOutputReport(void *Report, uint32_t Size) {
  return OpenFile() && P().HasInputOutputReports() && P().HidD_SetOutputReport(FHidFileHandle, Report, Size);
}

bool TJvHidDevice::DeviceIoControl(uint32_t IoControlCode, void *InBuffer, uint32_t InSize, void *OutBuffer,
                                   uint32_t OutSize, uint32_t &BytesReturned) {
  if (!OpenFile())
    return false;
  DWORD n = 0;
  BOOL ok = P().DeviceIoControl(FHidFileHandle, IoControlCode, InBuffer, InSize, OutBuffer, OutSize, &n);
  BytesReturned = n;
  return ok;
}

HIDD_CONFIGURATION TJvHidDevice::Configuration() {
  HIDD_CONFIGURATION config{};
  if (OpenFile())
    P().HidD_GetConfiguration(FHidFileHandle, &config, sizeof(config));
  return config;
}

void TJvHidDevice::SetConfiguration(const HIDD_CONFIGURATION &Config) {
  HIDD_CONFIGURATION copy = Config;
  if (OpenFile())
    P().HidD_SetConfiguration(FHidFileHandle, &copy, sizeof(copy));
}

PHIDP_PREPARSED_DATA TJvHidDevice::PreparsedData() {
  if (!FPreparsedData && OpenFile()) {
    P().HidD_GetPreparsedData(FHidFileHandle, &FPreparsedData);
    CloseFile();
  }
  return FPreparsedData;
}

HIDP_CAPS TJvHidDevice::Caps() {
  HIDP_CAPS caps{};
  if (PHIDP_PREPARSED_DATA data = PreparsedData())
    P().HidP_GetCaps(data, &caps);
  return caps;
}

std::wstring TJvHidDevice::VendorName() {
  if (FVendorName.empty() && OpenFile()) {
    wchar_t buffer[kStringBytes / 2] = {};
    if (P().HidD_GetManufacturerString(FHidFileHandle, buffer, kStringBytes))
      FVendorName = CachedString(buffer);
    CloseFile();
  }
  return FVendorName;
}

std::wstring TJvHidDevice::ProductName() {
  if (FProductName.empty() && OpenFile()) {
    wchar_t buffer[kStringBytes / 2] = {};
    if (P().HidD_GetProductString(FHidFileHandle, buffer, kStringBytes))
      FProductName = CachedString(buffer);
    CloseFile();
  }
  return FProductName;
}

// The number of language IDs in string 0: trailing 0xFFFF words are unused buffer; a zero
// word at the end of the used part is a terminator.
int TJvHidDevice::CountLanguageIds(const uint16_t *ids) {
  for (int i = kStringChars - 1; i >= 0; --i) {
    if (ids[i] != 0xFFFF)
      return ids[i] == 0 ? i : i + 1;
  }
  return 0;
}

std::wstring TJvHidDevice::SerialNumber() {
  if (FSerialNumber.empty() && OpenFile()) {
    wchar_t serial[kStringBytes / 2] = {};
    if (P().HidD_GetSerialNumberString(FHidFileHandle, serial, kStringBytes)) {
      uint16_t ids[kStringBytes / 2];
      std::memset(ids, 0xFF, sizeof(ids));
      P().HidD_GetIndexedString(FHidFileHandle, 0, ids, kStringBytes);
      int n = CountLanguageIds(ids);
      bool differs = false;
      for (int i = 0; i < n; ++i)
        if (uint16_t(serial[i]) != ids[i])
          differs = true;
      // Some devices answer the serial-number request with their language list.
      if (n > 0 && differs)
        FSerialNumber = CachedString(serial);
    }
    CloseFile();
  }
  return FSerialNumber;
}

const std::vector<std::string> &TJvHidDevice::LanguageStrings() {
  if (FLanguageStrings.empty() && OpenFile()) {
    uint16_t ids[kStringBytes / 2];
    std::memset(ids, 0xFF, sizeof(ids));
    P().HidD_GetIndexedString(FHidFileHandle, 0, ids, kStringBytes);
    int n = CountLanguageIds(ids);
    for (int i = 0; i < n; ++i) {
      std::wstring name;
      if (P().GetLocaleInfoW(ids[i], name)) {
        FLanguageStrings.push_back(Narrow(name.substr(0, 256)));
      } else {
        char text[32];
        std::snprintf(text, sizeof(text), "Unknown Locale ID $%.4x", unsigned(ids[i]));
        FLanguageStrings.push_back(text);
      }
    }
    CloseFile();
  }
  return FLanguageStrings;
}

TJvPhysicalDescriptor TJvHidDevice::PhysicalDescriptor() {
  if (FPhysicalDescriptor.empty() && OpenFile()) {
    FPhysicalDescriptor.assign(2048, 0);
    size_t length = 0;
    for (size_t i = 0;; ++i) {
      if (P().HidD_GetPhysicalDescriptor(FHidFileHandle, FPhysicalDescriptor.data(), ULONG(2 * i))) {
        length = i;
        break;
      }
      if (i >= 2048 || P().GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        break;
    }
    FPhysicalDescriptor.resize(length);
    CloseFile();
  }
  return FPhysicalDescriptor;
}

std::wstring TJvHidDevice::DeviceStringsUnicode(uint8_t Idx) {
  if (Idx == 0 || !OpenFile())
    return {};
  wchar_t buffer[kStringBytes / 2] = {};
  if (!P().HidD_GetIndexedString(FHidFileHandle, Idx, buffer, kStringBytes))
    return {};
  return CachedString(buffer);
}

std::string TJvHidDevice::DeviceStrings(uint8_t Idx) { return Narrow(DeviceStringsUnicode(Idx)); }

HIDP_LINK_COLLECTION_NODE TJvHidDevice::LinkCollectionNodes(uint16_t Idx) {
  if (!FLinkCollectionFetched) {
    HIDP_CAPS caps = Caps();
    FLinkCollection.assign(caps.NumberLinkCollectionNodes, HIDP_LINK_COLLECTION_NODE{});
    if (!FLinkCollection.empty()) {
      ULONG length = ULONG(FLinkCollection.size());
      P().HidP_GetLinkCollectionNodes(FLinkCollection.data(), &length, FPreparsedData);
    }
    FLinkCollectionFetched = FPreparsedData != nullptr;
  }
  if (Idx < FLinkCollection.size())
    return FLinkCollection[Idx];
  return HIDP_LINK_COLLECTION_NODE{};
}

void TJvHidDevice::SetReportTypeParam(uint32_t Value) {
  FReportTypeParam = Value;
  RefreshListLengths();
}

void TJvHidDevice::SetUsagePageParam(uint16_t Value) {
  FUsagePageParam = Value;
  RefreshListLengths();
}

void TJvHidDevice::RefreshListLengths() {
  if (!IsAccessible())
    return;
  PHIDP_PREPARSED_DATA data = PreparsedData();
  FMaxDataListLength = P().HidP_MaxDataListLength(ReportType(), data);
  FMaxUsageListLength = P().HidP_MaxUsageListLength(ReportType(), FUsagePageParam, data);
  FMaxButtonListLength = FMaxUsageListLength;
}

PHIDP_PREPARSED_DATA TJvHidDevice::ParsingData() { return PreparsedData(); }

#define HID_PARSE(call)                                                                                      \
  if (!IsAccessible())                                                                                       \
    return kHidpStatusNull;                                                                                  \
  PHIDP_PREPARSED_DATA data = ParsingData();                                                                 \
  return call

NTSTATUS TJvHidDevice::GetButtonCaps(HIDP_BUTTON_CAPS *ButtonCaps, uint16_t &Count) {
  HID_PARSE(P().HidP_GetSpecificButtonCaps(ReportType(), 0, 0, 0, ButtonCaps, &Count, data));
}
NTSTATUS TJvHidDevice::GetSpecificButtonCaps(HIDP_BUTTON_CAPS *ButtonCaps, uint16_t &Count) {
  HID_PARSE(P().HidP_GetSpecificButtonCaps(ReportType(), FUsagePageParam, FLinkCollectionParam, FUsageParam,
                                           ButtonCaps, &Count, data));
}
NTSTATUS TJvHidDevice::GetValueCaps(HIDP_VALUE_CAPS *ValueCaps, uint16_t &Count) {
  HID_PARSE(P().HidP_GetSpecificValueCaps(ReportType(), 0, 0, 0, ValueCaps, &Count, data));
}
NTSTATUS TJvHidDevice::GetSpecificValueCaps(HIDP_VALUE_CAPS *ValueCaps, uint16_t &Count) {
  HID_PARSE(P().HidP_GetSpecificValueCaps(ReportType(), FUsagePageParam, FLinkCollectionParam, FUsageParam,
                                          ValueCaps, &Count, data));
}
NTSTATUS TJvHidDevice::GetData(HIDP_DATA *DataList, uint32_t &DataLength, char *Report, uint32_t ReportLength) {
  ULONG n = DataLength;
  HID_PARSE([&] {
    NTSTATUS s = P().HidP_GetData(ReportType(), DataList, &n, data, Report, ReportLength);
    DataLength = n;
    return s;
  }());
}
NTSTATUS TJvHidDevice::SetData(HIDP_DATA *DataList, uint32_t &DataLength, char *Report, uint32_t ReportLength) {
  ULONG n = DataLength;
  HID_PARSE([&] {
    NTSTATUS s = P().HidP_SetData(ReportType(), DataList, &n, data, Report, ReportLength);
    DataLength = n;
    return s;
  }());
}

#define HID_USAGES(Name, Fn)                                                                                 \
  NTSTATUS TJvHidDevice::Name(USAGE *UsageList, uint32_t &UsageLength, char *Report, uint32_t ReportLength) { \
    ULONG n = UsageLength;                                                                                   \
    HID_PARSE([&] {                                                                                          \
      NTSTATUS s = P().Fn(ReportType(), FUsagePageParam, FLinkCollectionParam, UsageList, &n, data, Report,   \
                          ReportLength);                                                                     \
      UsageLength = n;                                                                                       \
      return s;                                                                                              \
    }());                                                                                                    \
  }
HID_USAGES(GetUsages, HidP_GetUsages)
HID_USAGES(GetButtons, HidP_GetUsages)
HID_USAGES(SetUsages, HidP_SetUsages)
HID_USAGES(SetButtons, HidP_SetUsages)
HID_USAGES(UnsetUsages, HidP_UnsetUsages)
HID_USAGES(UnsetButtons, HidP_UnsetUsages)
#undef HID_USAGES

NTSTATUS TJvHidDevice::GetUsagesEx(USAGE_AND_PAGE *UsageList, uint32_t &UsageLength, char *Report,
                                   uint32_t ReportLength) {
  ULONG n = UsageLength;
  HID_PARSE([&] {
    NTSTATUS s = P().HidP_GetUsagesEx(ReportType(), FLinkCollectionParam, UsageList, &n, data, Report, ReportLength);
    UsageLength = n;
    return s;
  }());
}
NTSTATUS TJvHidDevice::GetButtonsEx(USAGE_AND_PAGE *UsageList, uint32_t &UsageLength, char *Report,
                                    uint32_t ReportLength) {
  return GetUsagesEx(UsageList, UsageLength, Report, ReportLength);
}
NTSTATUS TJvHidDevice::GetUsageValue(uint32_t &UsageValue, char *Report, uint32_t ReportLength) {
  ULONG v = UsageValue;
  HID_PARSE([&] {
    NTSTATUS s = P().HidP_GetUsageValue(ReportType(), FUsagePageParam, FLinkCollectionParam, FUsageParam, &v, data,
                                        Report, ReportLength);
    UsageValue = v;
    return s;
  }());
}
NTSTATUS TJvHidDevice::GetScaledUsageValue(int32_t &UsageValue, char *Report, uint32_t ReportLength) {
  LONG v = UsageValue;
  HID_PARSE([&] {
    NTSTATUS s = P().HidP_GetScaledUsageValue(ReportType(), FUsagePageParam, FLinkCollectionParam, FUsageParam, &v,
                                              data, Report, ReportLength);
    UsageValue = v;
    return s;
  }());
}
NTSTATUS TJvHidDevice::SetUsageValue(uint32_t UsageValue, char *Report, uint32_t ReportLength) {
  HID_PARSE(P().HidP_SetUsageValue(ReportType(), FUsagePageParam, FLinkCollectionParam, FUsageParam, UsageValue,
                                   data, Report, ReportLength));
}
NTSTATUS TJvHidDevice::SetScaledUsageValue(int32_t UsageValue, char *Report, uint32_t ReportLength) {
  HID_PARSE(P().HidP_SetScaledUsageValue(ReportType(), FUsagePageParam, FLinkCollectionParam, FUsageParam,
                                         UsageValue, data, Report, ReportLength));
}
NTSTATUS TJvHidDevice::GetUsageValueArray(char *UsageValue, uint16_t UsageValueByteLength, char *Report,
                                          uint32_t ReportLength) {
  HID_PARSE(P().HidP_GetUsageValueArray(ReportType(), FUsagePageParam, FLinkCollectionParam, FUsageParam,
                                        UsageValue, UsageValueByteLength, data, Report, ReportLength));
}
NTSTATUS TJvHidDevice::SetUsageValueArray(char *UsageValue, uint16_t UsageValueByteLength, char *Report,
                                          uint32_t ReportLength) {
  HID_PARSE(P().HidP_SetUsageValueArray(ReportType(), FUsagePageParam, FLinkCollectionParam, FUsageParam,
                                        UsageValue, UsageValueByteLength, data, Report, ReportLength));
}
#undef HID_PARSE

NTSTATUS TJvHidDevice::GetExtendedAttributes(HIDP_REPORT_TYPE ReportType, uint16_t DataIndex,
                                             HIDP_EXTENDED_ATTRIBUTES *Attributes, uint32_t &LengthAttributes) {
  if (!P().HasExtendedAttributes())
    return kHidpStatusNotImplemented;
  ULONG n = LengthAttributes;
  NTSTATUS s = P().HidP_GetExtendedAttributes(ReportType, DataIndex, FPreparsedData, Attributes, &n);
  LengthAttributes = n;
  return s;
}

NTSTATUS TJvHidDevice::InitializeReportForID(HIDP_REPORT_TYPE ReportType, uint8_t ReportID, char *Report,
                                             uint32_t ReportLength) {
  if (!P().HasExtendedAttributes())
    return kHidpStatusNotImplemented;
  return P().HidP_InitializeReportForID(ReportType, ReportID, FPreparsedData, Report, ReportLength);
}

void TJvHidDevice::SetOnData(TJvHidDataEvent Value) {
  if (!Value)
    StopReadThread();
  FData = Value;
  StartReadThread();
}

void TJvHidDevice::SetThreadSleepTime(int Value) {
  if (Value >= 10 && Value <= 10000)
    FThreadSleepTime = Value;
}

void TJvHidDevice::StartReadThread() {
  if (FData && FIsPluggedIn && FIsCheckedOut && FHasReadWriteAccess && !FDataThread) {
    // The read handle is opened here, on the calling thread, before the thread runs, so that
    // the thread and a queue-length change never both open it.
    OpenFileEx(omhRead);
    FDataThread.reset(TJvHidDeviceReadThread::CreateForDevice(this));
  }
}

void TJvHidDevice::StopReadThread() {
  if (FDataThread) {
    FDataThread->Terminate();
    FDataThread->WaitFor();
    FDataThread.reset();
  }
}

bool TJvHidDevice::CheckOut() {
  if (!FMyController || !FIsPluggedIn || FIsCheckedOut)
    return false;
  FIsCheckedOut = true;
  FMyController->CountCheckOut();
  StartReadThread();
  return true;
}

void TJvHidDevice::MarkUnplugged() {
  CloseFile();
  CloseFileEx(omhRead);
  CloseFileEx(omhWrite);
  FIsPluggedIn = false;
  if (OnUnplug) {
    TJvHidPlugEvent unplug = OnUnplug;
    unplug.Code(unplug.Data, this);
  }
  OnUnplug = {};
}
