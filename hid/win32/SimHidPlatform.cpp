#include "hid/win32/SimHidPlatform.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <dbt.h>

namespace {

constexpr GUID kHidClassGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr NTSTATUS kStatusSuccess = 0;
constexpr NTSTATUS kStatusPending = 0x00000103;
constexpr NTSTATUS kStatusCancelled = NTSTATUS(0xC0000120);
constexpr ULONGLONG kFlagClearDelayMs = 100;

struct CompletionCall {
  LPOVERLAPPED_COMPLETION_ROUTINE Completion;
  DWORD Error;
  DWORD Bytes;
  OVERLAPPED *Overlapped;
};

// Runs in the issuing thread's alertable wait, as the system runs completion routines.
void CALLBACK RunCompletion(ULONG_PTR param) {
  auto call = reinterpret_cast<CompletionCall *>(param);
  call->Completion(call->Error, call->Bytes, call->Overlapped);
  delete call;
}

BOOL CALLBACK PostDeviceChange(HWND window, LPARAM) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId())
    PostMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
  return TRUE;
}

std::wstring ListText(const std::vector<std::wstring> &items) {
  std::wstring text;
  for (const auto &item : items)
    text += item + L'\0';
  return text + L'\0';
}

} // namespace

TSimDeviceInfo FineOffsetStation(int number) {
  TSimDeviceInfo info;
  wchar_t path[160];
  swprintf(path, 160, L"\\\\?\\hid#vid_1941&pid_8021#sim&%d&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}", number);
  info.Path = path;
  info.VendorID = 0x1941;
  info.ProductID = 0x8021;
  info.IsStation = true;
  return info;
}

TSimHidPlatform::TSimHidPlatform() = default;

TSimHidPlatform::~TSimHidPlatform() {
  for (auto &[handle, open] : FHandles)
    ::CloseHandle(handle);
  for (auto &[key, data] : FPreparsed)
    delete data;
  if (FLog)
    fclose(FLog);
}

BOOL TSimHidPlatform::Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

uint32_t TSimHidPlatform::Plug(const TSimDeviceInfo &info, bool notify) {
  uint32_t id;
  {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    Device device;
    device.Info = info;
    device.Id = id = FNextId++;
    FDevices.push_back(device);
  }
  if (notify)
    NotifyDeviceChange();
  return id;
}

void TSimHidPlatform::Unplug(uint32_t id, bool notify) {
  {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    if (Device *device = FindDevice(id))
      device->Plugged = false;
    // Reads pending on the device end without data.
    for (auto &[handle, open] : FHandles) {
      if (open.DeviceId != id)
        continue;
      auto pending = std::move(open.Pending);
      open.Pending.clear();
      for (auto &read : pending)
        CompleteRead(open, read, NTSTATUS(0xC000009D), 0); // device not connected
    }
    FArrived.notify_all();
  }
  if (notify)
    NotifyDeviceChange();
}

void TSimHidPlatform::NotifyDeviceChange() { EnumWindows(PostDeviceChange, 0); }

TSimHidPlatform::Device *TSimHidPlatform::FindDevice(uint32_t id) {
  for (auto &device : FDevices)
    if (device.Id == id)
      return &device;
  return nullptr;
}

TSimHidPlatform::OpenHandle *TSimHidPlatform::FindHandle(HANDLE handle) {
  auto it = FHandles.find(handle);
  return it == FHandles.end() ? nullptr : &it->second;
}

TSimHidPlatform::Device *TSimHidPlatform::DeviceOf(HANDLE handle, bool needPlugged) {
  OpenHandle *open = FindHandle(handle);
  if (!open) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  Device *device = FindDevice(open->DeviceId);
  if (!device || (needPlugged && !device->Plugged)) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return nullptr;
  }
  return device;
}

void TSimHidPlatform::ApplyFlagClear(Device &device) {
  if (device.FlagClearAt && GetTickCount64() >= device.FlagClearAt) {
    device.Memory[0x1A] = 0;
    device.FlagClearAt = 0;
  }
}

uint8_t TSimHidPlatform::Memory(uint32_t id, uint8_t address) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  Device *device = FindDevice(id);
  if (!device)
    return 0;
  ApplyFlagClear(*device);
  return device->Memory[address];
}

void TSimHidPlatform::SetMemory(uint32_t id, uint8_t address, uint8_t value) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  if (Device *device = FindDevice(id))
    device->Memory[address] = value;
}

void TSimHidPlatform::SetSilent(uint32_t id, bool silent) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  if (Device *device = FindDevice(id))
    device->Silent = silent;
}

void TSimHidPlatform::SetReplyLimit(uint32_t id, int limit) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  if (Device *device = FindDevice(id))
    device->ReplyLimit = limit;
}

int TSimHidPlatform::OutputReportCount(uint32_t id) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  Device *device = FindDevice(id);
  return device ? device->OutputReports : 0;
}

int TSimHidPlatform::StringRequests(uint32_t id) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  Device *device = FindDevice(id);
  return device ? device->StringRequests : 0;
}

void TSimHidPlatform::SetTrafficLog(const std::wstring &path) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  if (FLog)
    fclose(FLog);
  FLog = _wfopen(path.c_str(), L"w");
}

void TSimHidPlatform::Log(const char *direction, const uint8_t *bytes, size_t size) {
  if (!FLog)
    return;
  fprintf(FLog, "%s", direction);
  for (size_t i = 0; i < size; ++i)
    fprintf(FLog, " %02x", bytes[i]);
  fprintf(FLog, "\n");
  fflush(FLog);
}

int TSimHidPlatform::OpenHandleCount() {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  return int(FHandles.size());
}

int TSimHidPlatform::PendingReadCount() {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  int n = 0;
  for (auto &[handle, open] : FHandles)
    n += int(open.Pending.size());
  return n;
}

void TSimHidPlatform::HidD_GetHidGuid(GUID *guid) { *guid = kHidClassGuid; }

HDEVINFO TSimHidPlatform::SetupDiGetClassDevsW(const GUID *classGuid, DWORD flags) {
  if (!classGuid || !IsEqualGUID(*classGuid, kHidClassGuid) || !(flags & DIGCF_DEVICEINTERFACE)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::lock_guard<std::recursive_mutex> lock(FLock);
  std::vector<uint32_t> present;
  for (auto &device : FDevices)
    if (device.Plugged)
      present.push_back(device.Id);
  HDEVINFO set = HDEVINFO(new char);
  FSnapshots[set] = present;
  return set;
}

BOOL TSimHidPlatform::SetupDiEnumDeviceInterfaces(HDEVINFO set, const GUID *, DWORD index,
                                                  SP_DEVICE_INTERFACE_DATA *data) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  auto it = FSnapshots.find(set);
  if (it == FSnapshots.end())
    return Fail(ERROR_INVALID_HANDLE);
  if (index >= it->second.size())
    return Fail(ERROR_NO_MORE_ITEMS);
  data->InterfaceClassGuid = kHidClassGuid;
  data->Flags = SPINT_ACTIVE;
  data->Reserved = it->second[index];
  return TRUE;
}

BOOL TSimHidPlatform::SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, SP_DEVICE_INTERFACE_DATA *data,
                                                       SP_DEVICE_INTERFACE_DETAIL_DATA_W *detail, DWORD detailSize,
                                                       DWORD *requiredSize, SP_DEVINFO_DATA *devInfo) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  if (!FSnapshots.count(set))
    return Fail(ERROR_INVALID_HANDLE);
  Device *device = FindDevice(uint32_t(data->Reserved));
  if (!device)
    return Fail(ERROR_NO_SUCH_DEVINST);
  DWORD needed = DWORD(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                       (device->Info.Path.size() + 1) * sizeof(wchar_t));
  if (requiredSize)
    *requiredSize = needed;
  if (!detail || detailSize < needed)
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
    return Fail(ERROR_INVALID_USER_BUFFER);
  std::memcpy(detail->DevicePath, device->Info.Path.c_str(), (device->Info.Path.size() + 1) * sizeof(wchar_t));
  if (devInfo) {
    devInfo->ClassGuid = kHidClassGuid;
    devInfo->DevInst = device->Id;
  }
  return TRUE;
}

BOOL TSimHidPlatform::SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA *devInfo, DWORD property,
                                                        DWORD *regType, BYTE *buffer, DWORD size, DWORD *required) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  if (!FSnapshots.count(set))
    return Fail(ERROR_INVALID_HANDLE);
  Device *device = FindDevice(devInfo->DevInst);
  if (!device)
    return Fail(ERROR_NO_SUCH_DEVINST);
  wchar_t hardwareId[64];
  swprintf(hardwareId, 64, L"HID\\VID_%04X&PID_%04X", device->Info.VendorID, device->Info.ProductID);
  std::wstring text;
  DWORD type = REG_SZ;
  switch (property) {
  case SPDRP_DEVICEDESC:
    text = device->Info.DeviceDescr;
    break;
  case SPDRP_CLASS:
    text = device->Info.ClassDescr;
    break;
  case SPDRP_CLASSGUID:
    text = L"{745a17a0-74d3-11d0-b6fe-00a0c90f57da}";
    break;
  case SPDRP_MFG:
    text = L"(Standard system devices)";
    break;
  case SPDRP_ENUMERATOR_NAME:
    text = L"HID";
    break;
  case SPDRP_HARDWAREID:
    text = ListText({hardwareId, L"HID_DEVICE"});
    type = REG_MULTI_SZ;
    break;
  case SPDRP_UI_NUMBER: {
    DWORD number = device->Id;
    if (regType)
      *regType = REG_DWORD;
    if (required)
      *required = 4;
    if (size < 4)
      return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, &number, 4);
    return TRUE;
  }
  default:
    return Fail(ERROR_INVALID_DATA);
  }
  if (type == REG_SZ)
    text += L'\0';
  DWORD bytes = DWORD(text.size() * sizeof(wchar_t));
  if (regType)
    *regType = type;
  if (required)
    *required = bytes;
  if (size < bytes)
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, text.data(), bytes);
  return TRUE;
}

BOOL TSimHidPlatform::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  auto it = FSnapshots.find(set);
  if (it == FSnapshots.end())
    return Fail(ERROR_INVALID_HANDLE);
  FSnapshots.erase(it);
  delete static_cast<char *>(set);
  return TRUE;
}

HANDLE TSimHidPlatform::CreateFileW(const wchar_t *path, DWORD access, DWORD, DWORD flags) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  for (auto &device : FDevices) {
    if (!device.Plugged || _wcsicmp(device.Info.Path.c_str(), path) != 0)
      continue;
    if (device.Info.RefusesReadWrite && (access & (GENERIC_READ | GENERIC_WRITE))) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    // A real kernel object, so the value is unique and never one of another platform's.
    HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OpenHandle open;
    open.DeviceId = device.Id;
    open.Access = access;
    open.Overlapped = (flags & FILE_FLAG_OVERLAPPED) != 0;
    FHandles.emplace(handle, std::move(open));
    return handle;
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return INVALID_HANDLE_VALUE;
}

BOOL TSimHidPlatform::CloseHandle(HANDLE handle) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  OpenHandle *open = FindHandle(handle);
  if (!open)
    return Fail(ERROR_INVALID_HANDLE);
  auto pending = std::move(open->Pending);
  open->Pending.clear();
  for (auto &read : pending)
    CompleteRead(*open, read, kStatusCancelled, 0);
  FHandles.erase(handle);
  ::CloseHandle(handle);
  FArrived.notify_all();
  return TRUE;
}

BOOL TSimHidPlatform::HidD_GetAttributes(HANDLE handle, HIDD_ATTRIBUTES *attributes) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  Device *device = DeviceOf(handle);
  if (!device)
    return FALSE;
  attributes->VendorID = device->Info.VendorID;
  attributes->ProductID = device->Info.ProductID;
  attributes->VersionNumber = device->Info.VersionNumber;
  return TRUE;
}

BOOL TSimHidPlatform::HidD_GetPreparsedData(HANDLE handle, PHIDP_PREPARSED_DATA *data) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  Device *device = DeviceOf(handle);
  if (!device)
    return FALSE;
  auto preparsed = new Preparsed{device->Id, HIDP_CAPS{}};
  preparsed->Caps.UsagePage = 0xFF00;
  preparsed->Caps.Usage = 0x0001;
  preparsed->Caps.InputReportByteLength = device->Info.InputReportLength;
  preparsed->Caps.OutputReportByteLength = device->Info.OutputReportLength;
  preparsed->Caps.NumberLinkCollectionNodes = 1;
  preparsed->Caps.NumberInputValueCaps = 1;
  preparsed->Caps.NumberOutputValueCaps = 1;
  *data = reinterpret_cast<PHIDP_PREPARSED_DATA>(preparsed);
  FPreparsed[preparsed] = preparsed;
  return TRUE;
}

BOOL TSimHidPlatform::HidD_FreePreparsedData(PHIDP_PREPARSED_DATA data) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  auto it = FPreparsed.find(data);
  if (it == FPreparsed.end())
    return Fail(ERROR_INVALID_PARAMETER);
  delete it->second;
  FPreparsed.erase(it);
  return TRUE;
}

NTSTATUS TSimHidPlatform::HidP_GetCaps(PHIDP_PREPARSED_DATA data, HIDP_CAPS *caps) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  auto it = FPreparsed.find(data);
  if (it == FPreparsed.end())
    return NTSTATUS(0xC0110001); // invalid preparsed data
  *caps = it->second->Caps;
  return NTSTATUS(0x00110000);
}

NTSTATUS TSimHidPlatform::HidP_GetLinkCollectionNodes(HIDP_LINK_COLLECTION_NODE *nodes, ULONG *length,
                                                      PHIDP_PREPARSED_DATA data) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  if (!FPreparsed.count(data))
    return NTSTATUS(0xC0110001);
  if (*length < 1) {
    *length = 1;
    return NTSTATUS(0xC0110007); // buffer too small
  }
  nodes[0] = HIDP_LINK_COLLECTION_NODE{};
  nodes[0].LinkUsagePage = 0xFF00;
  nodes[0].LinkUsage = 0x0001;
  *length = 1;
  return NTSTATUS(0x00110000);
}

BOOL TSimHidPlatform::HidD_SetNumInputBuffers(HANDLE handle, ULONG count) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  if (!DeviceOf(handle))
    return FALSE;
  if (count < 2 || count > 512)
    return Fail(ERROR_INVALID_PARAMETER);
  FindHandle(handle)->NumBuffers = count;
  return TRUE;
}

BOOL TSimHidPlatform::HidD_GetNumInputBuffers(HANDLE handle, ULONG *count) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  if (!DeviceOf(handle))
    return FALSE;
  *count = FindHandle(handle)->NumBuffers;
  return TRUE;
}

BOOL TSimHidPlatform::WriteFile(HANDLE handle, const void *buffer, DWORD size, DWORD *written) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  Device *device = DeviceOf(handle);
  if (!device)
    return FALSE;
  if (!(FindHandle(handle)->Access & GENERIC_WRITE))
    return Fail(ERROR_ACCESS_DENIED);
  if (size != device->Info.OutputReportLength)
    return Fail(ERROR_INVALID_USER_BUFFER);
  *written = size;
  ++device->OutputReports;
  if (device->Info.IsStation)
    Answer(*device, static_cast<const uint8_t *>(buffer), size);
  return TRUE;
}

// The station's memory commands: 0xA1 reads 32 bytes as four 8-byte reports, 0xA2 writes
// one byte and acknowledges with one report of 0xA5 bytes.
void TSimHidPlatform::Answer(Device &device, const uint8_t *report, DWORD size) {
  Log("out", report, size);
  ApplyFlagClear(device);
  if (size < 9 || report[0] != 0x00)
    return;
  uint8_t command = report[1];
  uint8_t address = report[3]; // the memory is 256 bytes: the high byte selects nothing
  std::vector<std::vector<uint8_t>> replies;
  if (command == 0xA1) {
    for (int k = 0; k < 4; ++k) {
      std::vector<uint8_t> reply(9, 0);
      for (int j = 0; j < 8; ++j)
        reply[1 + j] = device.Memory[uint8_t(address + 8 * k + j)];
      replies.push_back(reply);
    }
  } else if (command == 0xA2) {
    device.Memory[address] = report[6];
    if (address == 0x1A && report[6] == 0xAA)
      device.FlagClearAt = GetTickCount64() + kFlagClearDelayMs;
    replies.push_back({0x00, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5});
  }
  if (device.Silent)
    replies.clear();
  if (device.ReplyLimit >= 0 && replies.size() > size_t(device.ReplyLimit))
    replies.resize(size_t(device.ReplyLimit));
  for (auto &reply : replies) {
    Log("in ", reply.data(), reply.size());
    Deliver(device.Id, reply);
  }
}

void TSimHidPlatform::InjectInputReport(uint32_t id, const std::vector<uint8_t> &report) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  Deliver(id, report);
}

void TSimHidPlatform::Deliver(uint32_t deviceId, const std::vector<uint8_t> &report) {
  for (auto &[handle, open] : FHandles) {
    if (open.DeviceId != deviceId || !(open.Access & GENERIC_READ))
      continue;
    if (!open.Pending.empty()) {
      PendingRead read = open.Pending.front();
      open.Pending.erase(open.Pending.begin());
      DWORD n = std::min<DWORD>(read.Size, DWORD(report.size()));
      std::memcpy(read.Buffer, report.data(), n);
      CompleteRead(open, read, kStatusSuccess, n);
      continue;
    }
    open.Queue.push_back(report);
    while (open.Queue.size() > open.NumBuffers)
      open.Queue.pop_front();
  }
  FArrived.notify_all();
}

void TSimHidPlatform::CompleteRead(OpenHandle &, PendingRead read, NTSTATUS status, DWORD bytes) {
  read.Overlapped->Internal = ULONG_PTR(status);
  read.Overlapped->InternalHigh = bytes;
  DWORD error = status == kStatusSuccess ? 0 : status == kStatusCancelled ? ERROR_OPERATION_ABORTED
                                                                          : ERROR_DEVICE_NOT_CONNECTED;
  auto call = new CompletionCall{read.Completion, error, bytes, read.Overlapped};
  if (!QueueUserAPC(RunCompletion, read.Thread, ULONG_PTR(call)))
    delete call;
  ::CloseHandle(read.Thread);
}

BOOL TSimHidPlatform::ReadFile(HANDLE handle, void *buffer, DWORD size, DWORD *read) {
  std::unique_lock<std::recursive_mutex> lock(FLock);
  for (;;) {
    Device *device = DeviceOf(handle);
    if (!device)
      return FALSE;
    OpenHandle *open = FindHandle(handle);
    if (!(open->Access & GENERIC_READ))
      return Fail(ERROR_ACCESS_DENIED);
    if (!open->Queue.empty()) {
      auto report = std::move(open->Queue.front());
      open->Queue.pop_front();
      *read = std::min<DWORD>(size, DWORD(report.size()));
      std::memcpy(buffer, report.data(), *read);
      return TRUE;
    }
    FArrived.wait(lock);
  }
}

BOOL TSimHidPlatform::ReadFileEx(HANDLE handle, void *buffer, DWORD size, OVERLAPPED *overlapped,
                                 LPOVERLAPPED_COMPLETION_ROUTINE completion) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  Device *device = DeviceOf(handle);
  if (!device)
    return FALSE;
  OpenHandle *open = FindHandle(handle);
  if (!(open->Access & GENERIC_READ) || !open->Overlapped)
    return Fail(ERROR_ACCESS_DENIED);
  HANDLE thread = nullptr;
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  PendingRead read{static_cast<uint8_t *>(buffer), size, overlapped, completion, thread, GetCurrentThreadId()};
  overlapped->Internal = ULONG_PTR(kStatusPending);
  overlapped->InternalHigh = 0;
  if (!open->Queue.empty()) {
    auto report = std::move(open->Queue.front());
    open->Queue.pop_front();
    DWORD n = std::min<DWORD>(size, DWORD(report.size()));
    std::memcpy(buffer, report.data(), n);
    CompleteRead(*open, read, kStatusSuccess, n);
  } else {
    open->Pending.push_back(read);
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL TSimHidPlatform::WriteFileEx(HANDLE handle, const void *buffer, DWORD size, OVERLAPPED *overlapped,
                                  LPOVERLAPPED_COMPLETION_ROUTINE completion) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  DWORD written = 0;
  OpenHandle *open = FindHandle(handle);
  if (!open || !open->Overlapped)
    return Fail(ERROR_INVALID_HANDLE);
  if (!WriteFile(handle, buffer, size, &written))
    return FALSE;
  HANDLE thread = nullptr;
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  CompleteRead(*open, PendingRead{nullptr, size, overlapped, completion, thread, GetCurrentThreadId()},
               kStatusSuccess, written);
  return TRUE;
}

BOOL TSimHidPlatform::GetOverlappedResult(HANDLE handle, OVERLAPPED *overlapped, DWORD *transferred, BOOL) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  if (!FindHandle(handle))
    return Fail(ERROR_INVALID_HANDLE);
  NTSTATUS status = NTSTATUS(overlapped->Internal);
  if (status == kStatusPending)
    return Fail(ERROR_IO_INCOMPLETE);
  *transferred = DWORD(overlapped->InternalHigh);
  if (status != kStatusSuccess)
    return Fail(status == kStatusCancelled ? ERROR_OPERATION_ABORTED : ERROR_DEVICE_NOT_CONNECTED);
  return TRUE;
}

BOOL TSimHidPlatform::CancelIo(HANDLE handle) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  OpenHandle *open = FindHandle(handle);
  if (!open)
    return Fail(ERROR_INVALID_HANDLE);
  DWORD self = GetCurrentThreadId();
  for (auto it = open->Pending.begin(); it != open->Pending.end();) {
    if (it->ThreadId == self) {
      // The buffer is never written after this: the caller may free it at once.
      it->Overlapped->Internal = ULONG_PTR(kStatusCancelled);
      ::CloseHandle(it->Thread);
      it = open->Pending.erase(it);
    } else {
      ++it;
    }
  }
  return TRUE;
}

BOOL TSimHidPlatform::HidD_FlushQueue(HANDLE handle) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  if (!DeviceOf(handle))
    return FALSE;
  FindHandle(handle)->Queue.clear();
  return TRUE;
}

namespace {

BOOL CopyText(const std::wstring &text, void *buffer, ULONG size) {
  if (text.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  size_t chars = std::min<size_t>(text.size() + 1, size / sizeof(wchar_t));
  std::memcpy(buffer, text.c_str(), chars * sizeof(wchar_t));
  return TRUE;
}

} // namespace

BOOL TSimHidPlatform::HidD_GetManufacturerString(HANDLE handle, void *buffer, ULONG size) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  Device *device = DeviceOf(handle);
  if (!device)
    return FALSE;
  ++device->StringRequests;
  return CopyText(device->Info.Manufacturer, buffer, size);
}

BOOL TSimHidPlatform::HidD_GetProductString(HANDLE handle, void *buffer, ULONG size) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  Device *device = DeviceOf(handle);
  if (!device)
    return FALSE;
  ++device->StringRequests;
  return CopyText(device->Info.Product, buffer, size);
}

BOOL TSimHidPlatform::HidD_GetSerialNumberString(HANDLE handle, void *buffer, ULONG size) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  Device *device = DeviceOf(handle);
  if (!device)
    return FALSE;
  ++device->StringRequests;
  return CopyText(device->Info.Serial, buffer, size);
}

BOOL TSimHidPlatform::HidD_GetIndexedString(HANDLE handle, ULONG index, void *buffer, ULONG size) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  Device *device = DeviceOf(handle);
  if (!device)
    return FALSE;
  ++device->StringRequests;
  switch (index) {
  case 0: {
    const auto &ids = device->Info.LanguageIds;
    if (ids.empty())
      return Fail(ERROR_INVALID_PARAMETER);
    size_t words = std::min<size_t>(ids.size(), size / 2);
    std::memcpy(buffer, ids.data(), words * 2);
    if (words < size / 2)
      static_cast<uint16_t *>(buffer)[words] = 0;
    return TRUE;
  }
  case 1:
    return CopyText(device->Info.Manufacturer, buffer, size);
  case 2:
    return CopyText(device->Info.Product, buffer, size);
  case 3:
    return CopyText(device->Info.Serial, buffer, size);
  }
  return Fail(ERROR_INVALID_PARAMETER);
}

BOOL TSimHidPlatform::HidD_GetPhysicalDescriptor(HANDLE handle, void *buffer, ULONG size) {
  std::lock_guard<std::recursive_mutex> lock(FLock);
  Device *device = DeviceOf(handle);
  if (!device)
    return FALSE;
  const auto &descriptor = device->Info.PhysicalDescriptor;
  if (descriptor.empty())
    return Fail(ERROR_INVALID_FUNCTION);
  if (size < descriptor.size() * 2)
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, descriptor.data(), descriptor.size() * 2);
  return TRUE;
}

bool TSimHidPlatform::GetLocaleInfoW(LCID locale, std::wstring &name) { return Win32HidPlatform().GetLocaleInfoW(locale, name); }
