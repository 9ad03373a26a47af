#pragma once
#include <cstdint>

class TJvHidDevice {
public:
  uint16_t VendorID = 0, ProductID = 0;
  bool CheckedOut = false;

  void SetNumInputBuffers(int value) { FNumInputBuffers = value; }
  void SetNumOverlappedBuffers(int value) { FNumOverlappedBuffers = value; }
  int NumInputBuffers() const { return FNumInputBuffers; }
  int NumOverlappedBuffers() const { return FNumOverlappedBuffers; }
  bool WriteFile(const void *Report, uint32_t ToWrite, uint32_t &BytesWritten);

private:
  int FNumInputBuffers = 0, FNumOverlappedBuffers = 0;
};
