#pragma once
// Event types of the HID layer: a callable plus a context pointer. Two events are "the same
// handler" when their callables are equal; the context is not compared.
#include <cstdint>

class TJvHidDevice;
class TJvHidDeviceController;

template <class Fn> struct THidEvent {
  Fn *Code = nullptr;
  void *Data = nullptr;
  explicit operator bool() const { return Code != nullptr; }
};

using TJvHidPlugEvent = THidEvent<void(void *context, TJvHidDevice *HidDev)>;
using TJvHidDataEvent =
    THidEvent<void(void *context, TJvHidDevice *HidDev, uint8_t ReportID, const void *Data, uint16_t Size)>;
using TJvHidDataErrorEvent = THidEvent<void(void *context, TJvHidDevice *HidDev, uint32_t Error)>;
using TJvHidEnumerateEvent = THidEvent<bool(void *context, TJvHidDevice *HidDev, int Idx)>;
using TNotifyEvent = THidEvent<void(void *context, void *Sender)>;
using TJvHidCheckCallback = bool (*)(TJvHidDevice *HidDev);
