#pragma once
// The HID device controller: keeps the list of HID device interfaces present, follows the
// system's device-change notifications on the GUI thread, lends devices out and takes them
// back, and hands its event handlers down to the devices.
#include "hid/win32/HidDevice.h"
#include "hid/win32/HidEvents.h"

#include <string>
#include <vector>

class TJvHidDeviceController {
public:
  explicit TJvHidDeviceController(void *Owner = nullptr);
  ~TJvHidDeviceController();
  TJvHidDeviceController(const TJvHidDeviceController &) = delete;
  TJvHidDeviceController &operator=(const TJvHidDeviceController &) = delete;

  // Handlers.
  const TJvHidPlugEvent &OnArrival() const { return FArrivalEvent; }
  void SetOnArrival(TJvHidPlugEvent e) { FArrivalEvent = e; }
  const TJvHidPlugEvent &OnRemoval() const { return FRemovalEvent; }
  void SetOnRemoval(TJvHidPlugEvent e) { FRemovalEvent = e; }
  const TJvHidEnumerateEvent &OnEnumerate() const { return FEnumerateEvent; }
  void SetOnEnumerate(TJvHidEnumerateEvent e) { FEnumerateEvent = e; }
  const TNotifyEvent &OnDeviceChange() const { return FDeviceChangeEvent; }
  void SetOnDeviceChange(TNotifyEvent e);
  const TJvHidDataEvent &OnDeviceData() const { return FDevDataEvent; }
  void SetOnDeviceData(TJvHidDataEvent e);
  const TJvHidDataErrorEvent &OnDeviceDataError() const { return FDevDataErrorEvent; }
  void SetOnDeviceDataError(TJvHidDataErrorEvent e);
  const TJvHidPlugEvent &OnDeviceUnplug() const { return FDevUnplugEvent; }
  void SetOnDeviceUnplug(TJvHidPlugEvent e);

  int DevThreadSleepTime() const { return FDevThreadSleepTime; }
  void SetDevThreadSleepTime(int Value);
  std::string Version() const { return FVersion; }
  void SetVersion(const std::string &Value) { FDummy = Value; }
  const GUID &HidGuid() const { return FHidGuid; }
  std::wstring HidVersion();

  // Check-out and check-in.
  bool CheckOut(TJvHidDevice *&HidDev);
  bool CheckOutByIndex(TJvHidDevice *&HidDev, int Idx);
  bool CheckOutByID(TJvHidDevice *&HidDev, int Vid, int Pid);
  bool CheckOutByClass(TJvHidDevice *&HidDev, const std::wstring &ClassName);
  bool CheckOutByProductName(TJvHidDevice *&HidDev, const std::wstring &ProductName);
  bool CheckOutByVendorName(TJvHidDevice *&HidDev, const std::wstring &VendorName);
  bool CheckOutByCallback(TJvHidDevice *&HidDev, TJvHidCheckCallback Check);
  void CheckIn(TJvHidDevice *&HidDev);

  // Counting and enumeration over plugged-in devices.
  int CountByID(int Vid, int Pid);
  int CountByClass(const std::wstring &ClassName);
  int CountByProductName(const std::wstring &ProductName);
  int CountByVendorName(const std::wstring &VendorName);
  int CountByCallback(TJvHidCheckCallback Check);
  int Enumerate();

  int NumCheckedInDevices() const { return FNumCheckedInDevices; }
  int NumCheckedOutDevices() const { return FNumCheckedOutDevices; }
  int NumUnpluggedDevices() const { return FNumUnpluggedDevices; }
  // The listed devices, in list order (for inspection; the controller owns them).
  const std::vector<TJvHidDevice *> &Devices() const { return FList; }
  HWND NotificationWindow() const { return FHWnd; }

private:
  friend class TJvHidDevice;
  template <class Match> bool CheckOutWhere(TJvHidDevice *&HidDev, Match match);
  template <class Match> int CountWhere(Match match);
  bool TakeDevice(TJvHidDevice *&HidDev, size_t Idx, bool Match);
  void CountCheckOut();
  // A listed device is being destroyed: put a fresh device in its place or drop its entry.
  void DeviceDestroyed(TJvHidDevice *Dev, TJvHidDataEvent Data, TJvHidPlugEvent Unplug);
  std::vector<TJvHidDevice *> CollectDevices();
  void DeviceChange();
  void EventWithEnumeration(TJvHidDevice *Dev, const TJvHidPlugEvent &Event);
  void CloseUnlessCheckedOut(TJvHidDevice *Dev);
  static LRESULT CALLBACK EventPipe(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam);

  GUID FHidGuid{};
  TJvHidPlugEvent FArrivalEvent;
  TNotifyEvent FDeviceChangeEvent;
  TJvHidEnumerateEvent FEnumerateEvent;
  TJvHidDataEvent FDevDataEvent;
  TJvHidDataErrorEvent FDevDataErrorEvent;
  TJvHidPlugEvent FDevUnplugEvent;
  TJvHidPlugEvent FRemovalEvent;
  int FDevThreadSleepTime = 100;
  std::string FVersion = "1.0.35";
  std::string FDummy;
  std::vector<TJvHidDevice *> FList;
  int FNumCheckedInDevices = 0, FNumCheckedOutDevices = 0, FNumUnpluggedDevices = 0;
  bool FInDeviceChange = false;
  LPARAM FLParam = 0;
  HWND FHWnd = nullptr;
  bool FSetupApiBound = false, FHidBound = false, FDestroying = false;
};
