#include "hid/win32/HidController.h"

#include <algorithm>
#include <dbt.h>

namespace {

IHidPlatform &P() { return HidPlatform(); }

// The HID interface class when the HID library cannot tell.
constexpr GUID kFixedHidGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

const wchar_t kNotificationClass[] = L"TJvHidDeviceControllerWindow";

// Runs f while the device's enumeration mark is set.
template <class F> auto WhileEnumerated(bool &flag, F f) {
  flag = true;
  struct Reset {
    bool &f;
    ~Reset() { f = false; }
  } reset{flag};
  return f();
}

} // namespace

TJvHidDeviceController::TJvHidDeviceController(void *) {
  FSetupApiBound = P().BindSetupApi();
  FHidBound = FSetupApiBound && P().BindHid();
  if (FHidBound) {
    P().HidD_GetHidGuid(&FHidGuid);
    WNDCLASSW wc{};
    wc.lpfnWndProc = EventPipe;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kNotificationClass;
    RegisterClassW(&wc); // fails harmlessly when registered already
    // A hidden top-level window: device-change broadcasts reach top-level windows only.
    FHWnd = CreateWindowExW(0, kNotificationClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, this);
    PostMessageW(FHWnd, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, LPARAM(-1));
  } else {
    FHidGuid = kFixedHidGuid;
  }
}

TJvHidDeviceController::~TJvHidDeviceController() {
  FDestroying = true;
  FDeviceChangeEvent = {};
  FDevUnplugEvent = {};
  FEnumerateEvent = {};
  if (FHidBound && FHWnd) {
    SetWindowLongPtrW(FHWnd, GWLP_USERDATA, 0);
    DestroyWindow(FHWnd);
  }
  std::vector<TJvHidDevice *> devices;
  devices.swap(FList);
  for (TJvHidDevice *dev : devices) {
    dev->FMyController = nullptr;
    if (dev->IsCheckedOut())
      dev->MarkUnplugged(); // stays valid for its borrower, who deletes it
    else
      delete dev;
  }
  if (FHidBound)
    P().UnbindSetupApi();
  P().UnbindHid();
}

LRESULT CALLBACK TJvHidDeviceController::EventPipe(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (Msg == WM_NCCREATE) {
    auto create = reinterpret_cast<CREATESTRUCTW *>(lParam);
    SetWindowLongPtrW(Wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto self = reinterpret_cast<TJvHidDeviceController *>(GetWindowLongPtrW(Wnd, GWLP_USERDATA));
  if (self && !self->FDestroying && Msg == WM_DEVICECHANGE && wParam == DBT_DEVNODES_CHANGED &&
      !self->FInDeviceChange) {
    self->FLParam = lParam;
    self->FInDeviceChange = true;
    struct Clear {
      bool &f;
      ~Clear() { f = false; }
    } clear{self->FInDeviceChange};
    self->DeviceChange();
  }
  return DefWindowProcW(Wnd, Msg, wParam, lParam);
}

std::vector<TJvHidDevice *> TJvHidDeviceController::CollectDevices() {
  std::vector<TJvHidDevice *> collected;
  if (!FHidBound)
    return collected;
  HDEVINFO set = P().SetupDiGetClassDevsW(&FHidGuid, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE)
    return collected;
  try {
    for (DWORD i = 0;; ++i) {
      SP_DEVICE_INTERFACE_DATA iface{};
      iface.cbSize = sizeof(iface);
      if (!P().SetupDiEnumDeviceInterfaces(set, &FHidGuid, i, &iface))
        break;
      DWORD size = 0;
      P().SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, 0, &size, nullptr);
      if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
        continue;
      std::vector<BYTE> buffer(size + sizeof(wchar_t), 0);
      auto detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W *>(buffer.data());
      detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W); // 6 on 32-bit Windows
      SP_DEVINFO_DATA devInfo{};
      devInfo.cbSize = sizeof(devInfo);
      if (!P().SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, size, &size, &devInfo))
        continue;
      auto pnp = std::make_unique<TJvHidPnPInfo>(set, devInfo, detail->DevicePath);
      collected.push_back(TJvHidDevice::CreateForController(std::move(pnp), this));
    }
  } catch (...) {
    // The pass ends here; the devices collected so far are not listed anywhere.
    for (TJvHidDevice *dev : collected) {
      dev->FMyController = nullptr;
      delete dev;
    }
    P().SetupDiDestroyDeviceInfoList(set);
    throw;
  }
  P().SetupDiDestroyDeviceInfoList(set);
  return collected;
}

void TJvHidDeviceController::EventWithEnumeration(TJvHidDevice *Dev, const TJvHidPlugEvent &Event) {
  if (Event)
    WhileEnumerated(Dev->FIsEnumerated, [&] { Event.Code(Event.Data, Dev); });
}

void TJvHidDeviceController::DeviceChange() {
  bool changed = FLParam == -1;
  std::vector<TJvHidDevice *> collected = CollectDevices();

  auto presentIn = [](const std::vector<TJvHidDevice *> &list, const TJvHidDevice *dev) {
    for (const TJvHidDevice *other : list)
      if (other && other->IsPluggedIn() && other->PnPInfo().DeviceID() == dev->PnPInfo().DeviceID())
        return true;
    return false;
  };

  for (size_t i = FList.size(); i-- > 0;) {
    TJvHidDevice *dev = FList[i];
    if (dev->IsPluggedIn() && presentIn(collected, dev))
      continue;
    dev->MarkUnplugged();
    EventWithEnumeration(dev, FRemovalEvent);
    if (!dev->IsCheckedOut()) {
      FList.erase(FList.begin() + std::ptrdiff_t(i));
      dev->FMyController = nullptr;
      delete dev;
    }
    changed = true;
  }

  for (TJvHidDevice *&dev : collected) {
    if (presentIn(FList, dev)) {
      dev->FMyController = nullptr;
      delete dev;
      dev = nullptr;
    }
  }
  for (TJvHidDevice *dev : collected) {
    if (!dev)
      continue;
    FList.push_back(dev);
    changed = true;
    EventWithEnumeration(dev, FArrivalEvent);
  }

  FNumCheckedInDevices = FNumCheckedOutDevices = FNumUnpluggedDevices = 0;
  for (TJvHidDevice *dev : FList) {
    if (!dev->IsCheckedOut())
      ++FNumCheckedInDevices;
    else
      ++FNumCheckedOutDevices;
    if (!dev->IsPluggedIn())
      ++FNumUnpluggedDevices;
  }
  FNumCheckedOutDevices -= FNumUnpluggedDevices;

  if (changed && FDeviceChangeEvent)
    FDeviceChangeEvent.Code(FDeviceChangeEvent.Data, this);
}

void TJvHidDeviceController::SetOnDeviceChange(TNotifyEvent e) {
  if (e.Code != FDeviceChangeEvent.Code) {
    FDeviceChangeEvent = e;
    if (!FInDeviceChange) {
      FInDeviceChange = true;
      FLParam = 0;
      struct Clear {
        bool &f;
        ~Clear() { f = false; }
      } clear{FInDeviceChange};
      DeviceChange();
    }
  }
}

void TJvHidDeviceController::SetOnDeviceData(TJvHidDataEvent e) {
  if (e.Code == FDevDataEvent.Code)
    return;
  for (TJvHidDevice *dev : FList)
    if (dev->OnData().Code == FDevDataEvent.Code)
      dev->SetOnData(e);
  FDevDataEvent = e;
}

void TJvHidDeviceController::SetOnDeviceDataError(TJvHidDataErrorEvent e) {
  if (e.Code == FDevDataErrorEvent.Code)
    return;
  for (TJvHidDevice *dev : FList)
    if (dev->OnDataError.Code == FDevDataErrorEvent.Code)
      dev->OnDataError = e;
  FDevDataErrorEvent = e;
}

void TJvHidDeviceController::SetOnDeviceUnplug(TJvHidPlugEvent e) {
  if (e.Code == FDevUnplugEvent.Code)
    return;
  for (TJvHidDevice *dev : FList)
    if (dev->OnUnplug.Code == FDevUnplugEvent.Code)
      dev->OnUnplug = e;
  FDevUnplugEvent = e;
}

void TJvHidDeviceController::SetDevThreadSleepTime(int Value) {
  if (Value == FDevThreadSleepTime)
    return;
  for (TJvHidDevice *dev : FList)
    if (dev->ThreadSleepTime() == FDevThreadSleepTime)
      dev->SetThreadSleepTime(Value);
  FDevThreadSleepTime = Value;
}

std::wstring TJvHidDeviceController::HidVersion() { return P().HidVersion(); }

void TJvHidDeviceController::CountCheckOut() {
  ++FNumCheckedOutDevices;
  --FNumCheckedInDevices;
}

bool TJvHidDeviceController::TakeDevice(TJvHidDevice *&HidDev, size_t Idx, bool Match) {
  TJvHidDevice *dev = FList[Idx];
  if (!Match || dev->IsCheckedOut())
    return false;
  HidDev = dev;
  dev->FIsCheckedOut = true;
  CountCheckOut();
  dev->StartReadThread();
  return true;
}

template <class Match> bool TJvHidDeviceController::CheckOutWhere(TJvHidDevice *&HidDev, Match match) {
  HidDev = nullptr;
  for (size_t i = 0; i < FList.size(); ++i)
    if (TakeDevice(HidDev, i, match(FList[i])))
      return true;
  return false;
}

bool TJvHidDeviceController::CheckOut(TJvHidDevice *&HidDev) {
  return CheckOutWhere(HidDev, [](TJvHidDevice *) { return true; });
}

bool TJvHidDeviceController::CheckOutByIndex(TJvHidDevice *&HidDev, int Idx) {
  HidDev = nullptr;
  return Idx >= 0 && size_t(Idx) < FList.size() && TakeDevice(HidDev, size_t(Idx), true);
}

bool TJvHidDeviceController::CheckOutByID(TJvHidDevice *&HidDev, int Vid, int Pid) {
  return CheckOutWhere(HidDev, [&](TJvHidDevice *dev) {
    return dev->Attributes().VendorID == Vid && (Pid == -1 || dev->Attributes().ProductID == Pid);
  });
}

bool TJvHidDeviceController::CheckOutByClass(TJvHidDevice *&HidDev, const std::wstring &ClassName) {
  HidDev = nullptr;
  if (ClassName.empty())
    return false;
  return CheckOutWhere(HidDev, [&](TJvHidDevice *dev) { return dev->PnPInfo().ClassDescr() == ClassName; });
}

bool TJvHidDeviceController::CheckOutByProductName(TJvHidDevice *&HidDev, const std::wstring &ProductName) {
  HidDev = nullptr;
  if (ProductName.empty())
    return false;
  return CheckOutWhere(HidDev, [&](TJvHidDevice *dev) { return dev->ProductName() == ProductName; });
}

bool TJvHidDeviceController::CheckOutByVendorName(TJvHidDevice *&HidDev, const std::wstring &VendorName) {
  HidDev = nullptr;
  if (VendorName.empty())
    return false;
  return CheckOutWhere(HidDev, [&](TJvHidDevice *dev) { return dev->VendorName() == VendorName; });
}

void TJvHidDeviceController::CloseUnlessCheckedOut(TJvHidDevice *Dev) {
  if (!Dev->IsCheckedOut()) {
    Dev->CloseFile();
    Dev->CloseFileEx(omhRead);
    Dev->CloseFileEx(omhWrite);
  }
}

bool TJvHidDeviceController::CheckOutByCallback(TJvHidDevice *&HidDev, TJvHidCheckCallback Check) {
  HidDev = nullptr;
  for (size_t i = 0; i < FList.size(); ++i) {
    TJvHidDevice *dev = FList[i];
    if (dev->IsCheckedOut())
      continue;
    bool match = WhileEnumerated(dev->FIsEnumerated, [&] { return Check(dev); });
    if (TakeDevice(HidDev, i, match))
      return true;
    CloseUnlessCheckedOut(dev);
  }
  return false;
}

void TJvHidDeviceController::CheckIn(TJvHidDevice *&HidDev) {
  if (!HidDev)
    return;
  TJvHidDevice *dev = HidDev;
  dev->StopReadThread();
  dev->CloseFile();
  dev->CloseFileEx(omhRead);
  dev->CloseFileEx(omhWrite);
  if (dev->IsPluggedIn()) {
    dev->FIsCheckedOut = false;
    --FNumCheckedOutDevices;
    ++FNumCheckedInDevices;
  } else {
    delete dev; // leaves the list
  }
  HidDev = nullptr;
}

template <class Match> int TJvHidDeviceController::CountWhere(Match match) {
  int count = 0;
  for (TJvHidDevice *dev : FList)
    if (dev->IsPluggedIn() && match(dev))
      ++count;
  return count;
}

int TJvHidDeviceController::CountByID(int Vid, int Pid) {
  return CountWhere([&](TJvHidDevice *dev) {
    return dev->Attributes().VendorID == Vid && (Pid == -1 || dev->Attributes().ProductID == Pid);
  });
}

int TJvHidDeviceController::CountByClass(const std::wstring &ClassName) {
  return CountWhere([&](TJvHidDevice *dev) { return dev->PnPInfo().ClassDescr() == ClassName; });
}

int TJvHidDeviceController::CountByProductName(const std::wstring &ProductName) {
  return CountWhere([&](TJvHidDevice *dev) { return dev->ProductName() == ProductName; });
}

int TJvHidDeviceController::CountByVendorName(const std::wstring &VendorName) {
  return CountWhere([&](TJvHidDevice *dev) { return dev->VendorName() == VendorName; });
}

int TJvHidDeviceController::CountByCallback(TJvHidCheckCallback Check) {
  return CountWhere([&](TJvHidDevice *dev) {
    bool match = WhileEnumerated(dev->FIsEnumerated, [&] { return Check(dev); });
    CloseUnlessCheckedOut(dev);
    return match;
  });
}

int TJvHidDeviceController::Enumerate() {
  int count = 0;
  for (size_t i = 0; i < FList.size(); ++i) {
    TJvHidDevice *dev = FList[i];
    if (!dev->IsPluggedIn())
      continue;
    ++count;
    bool goOn = false;
    if (FEnumerateEvent)
      goOn = WhileEnumerated(dev->FIsEnumerated,
                             [&] { return FEnumerateEvent.Code(FEnumerateEvent.Data, dev, int(i)); });
    CloseUnlessCheckedOut(dev);
    if (!goOn)
      break;
  }
  return count;
}

void TJvHidDeviceController::DeviceDestroyed(TJvHidDevice *Dev, TJvHidDataEvent Data, TJvHidPlugEvent Unplug) {
  auto it = std::find(FList.begin(), FList.end(), Dev);
  if (it == FList.end())
    return;
  if (Dev->IsPluggedIn()) {
    TJvHidDevice *fresh = nullptr;
    try {
      fresh = TJvHidDevice::CreateForController(std::move(Dev->FPnPInfo), this);
    } catch (...) {
      // The device could not be opened again: it leaves the list.
      FList.erase(it);
      if (Dev->IsCheckedOut())
        --FNumCheckedOutDevices;
      else
        --FNumCheckedInDevices;
      return;
    }
    fresh->SetOnData(Data);
    fresh->OnUnplug = Unplug;
    fresh->SetThreadSleepTime(Dev->ThreadSleepTime());
    *it = fresh;
    if (Dev->IsCheckedOut()) {
      --FNumCheckedOutDevices;
      ++FNumCheckedInDevices;
    }
  } else {
    FList.erase(it);
    --FNumUnpluggedDevices;
  }
}
