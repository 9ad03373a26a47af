#pragma once
// The HID device controller: the list of HID devices present, check-out and check-in, and the
// device events. This is the slice of its interface the station tool uses; until a platform
// binding lists devices, the controller finds none.
#include "HidDevice.h"
#include "HidEvents.h"

#include <memory>
#include <vector>

class TJvHidDeviceController {
public:
  TJvHidDeviceController();
  ~TJvHidDeviceController();
  TJvHidDeviceController(const TJvHidDeviceController &) = delete;
  TJvHidDeviceController &operator=(const TJvHidDeviceController &) = delete;

  TJvHidPlugEvent OnArrival, OnRemoval, OnDeviceUnplug;
  TJvHidDataEvent OnDeviceData;
  void SetOnArrival(TJvHidPlugEvent e) { OnArrival = e; }
  void SetOnRemoval(TJvHidPlugEvent e) { OnRemoval = e; }
  void SetOnDeviceUnplug(TJvHidPlugEvent e) { OnDeviceUnplug = e; }
  void SetOnDeviceData(TJvHidDataEvent e) { OnDeviceData = e; }

  bool CheckOutByID(TJvHidDevice *&HidDev, int Vid, int Pid);
  void CheckIn(TJvHidDevice *&HidDev);

private:
  std::vector<std::unique_ptr<TJvHidDevice>> FList;
};
