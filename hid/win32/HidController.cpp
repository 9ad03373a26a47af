#include "HidController.h"

TJvHidDeviceController::TJvHidDeviceController() = default;
TJvHidDeviceController::~TJvHidDeviceController() = default;

bool TJvHidDeviceController::CheckOutByID(TJvHidDevice *&HidDev, int Vid, int Pid) {
  HidDev = nullptr;
  for (auto &device : FList) {
    if (!device->CheckedOut && device->VendorID == Vid && (Pid == -1 || device->ProductID == Pid)) {
      device->CheckedOut = true;
      HidDev = device.get();
      return true;
    }
  }
  return false;
}

void TJvHidDeviceController::CheckIn(TJvHidDevice *&HidDev) {
  if (HidDev)
    HidDev->CheckedOut = false;
  HidDev = nullptr;
}

bool TJvHidDevice::WriteFile(const void *, uint32_t, uint32_t &) { return false; }
