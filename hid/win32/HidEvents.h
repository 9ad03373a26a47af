#pragma once
// Event types of the HID layer: a callable plus a context pointer. Two events are "the same
// handler" when their callables are equal; the context is not compared.
#include <cstdint>

class TJvHidDevice;

template <class Fn> struct THidEvent {
  Fn *Code = nullptr;
  void *Data = nullptr;
  explicit operator bool() const { return Code != nullptr; }
};

using TJvHidPlugEvent = THidEvent<void(void *context, TJvHidDevice *HidDev)>;
using TJvHidDataEvent =
    THidEvent<void(void *context, TJvHidDevice *HidDev, uint8_t ReportID, const void *Data, uint16_t Size)>;
