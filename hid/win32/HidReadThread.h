#pragma once
// The thread that reads a checked-out device's input reports with overlapped I/O and hands
// each one to the GUI thread, where the device's OnData handler runs.
#include "runtime/win32/Thread.h"

#include <cstdint>
#include <string>
#include <vector>

class TJvHidDevice;

// A thread with a name for debuggers.
class TJvCustomThread : public TThread {
public:
  using TThread::TThread;
  // "name {ClassName}" when a name is set, the class name alone otherwise.
  std::string GetThreadName() const;
  void SetThreadName(const std::string &name) { FThreadName = name; }
  void NameThread(const std::string &name, DWORD threadId = DWORD(-1)) const;

private:
  std::string FThreadName;
};

class TJvHidDeviceReadThread : public TJvCustomThread {
public:
  // Direct creation is not allowed: raises EControllerError.
  static TJvHidDeviceReadThread *Create(bool CreateSuspended);
  // Creates the thread running.
  static TJvHidDeviceReadThread *CreateForDevice(TJvHidDevice *Dev);

  TJvHidDevice *const Device;
  uint32_t NumBytesRead = 0;
  std::vector<uint8_t> Report;

protected:
  void Execute() override;

private:
  explicit TJvHidDeviceReadThread(TJvHidDevice *Dev);
  void DeliverData();
  void DeliverDataError();
  uint32_t FErr = 0;
};
