#include "hid/win32/HidReadThread.h"

#include "hid/win32/HidDevice.h"
#include "runtime/ClassInfo.h"
#include "runtime/Exception.h"

#include <algorithm>

namespace {

void CALLBACK DummyCompletion(DWORD, DWORD, OVERLAPPED *) {}

} // namespace

std::string TJvCustomThread::GetThreadName() const {
  std::string className = ClassName(typeid(*this));
  return FThreadName.empty() ? className : FThreadName + " {" + className + "}";
}

void TJvCustomThread::NameThread(const std::string &name, DWORD threadId) const {
  NameThreadForDebugging(name.c_str(), threadId);
}

TJvHidDeviceReadThread *TJvHidDeviceReadThread::Create(bool) {
  throw EControllerError("Direct creation of a TJvDeviceReadThread object is not allowed");
}

TJvHidDeviceReadThread::TJvHidDeviceReadThread(TJvHidDevice *Dev) : TJvCustomThread(true), Device(Dev) {
  Report.assign(Dev->Caps().InputReportByteLength, 0);
}

TJvHidDeviceReadThread *TJvHidDeviceReadThread::CreateForDevice(TJvHidDevice *Dev) {
  auto thread = new TJvHidDeviceReadThread(Dev);
  thread->Start();
  return thread;
}

void TJvHidDeviceReadThread::DeliverData() {
  TJvHidDataEvent data = Device->OnData();
  if (data && !Report.empty())
    data.Code(data.Data, Device, Report[0], Report.data() + 1, uint16_t((NumBytesRead % 65536) - 1));
}

void TJvHidDeviceReadThread::DeliverDataError() {
  if (Device->OnDataError)
    Device->OnDataError.Code(Device->OnDataError.Data, Device, FErr);
}

void TJvHidDeviceReadThread::Execute() {
  NameThread(GetThreadName());
  DWORD sleepResult = WAIT_IO_COMPLETION;
  while (!Terminated()) {
    sleepResult = WAIT_IO_COMPLETION;
    std::fill(Report.begin(), Report.end(), 0);
    if (!Device->ReadFileEx(Report.data(), uint32_t(Report.size()), DummyCompletion)) {
      FErr = GetLastError();
      Synchronize([this] { DeliverDataError(); });
      continue;
    }
    do {
      sleepResult = SleepEx(DWORD(Device->ThreadSleepTime()), TRUE);
    } while (!Terminated() && sleepResult != WAIT_IO_COMPLETION);
    if (Terminated())
      break;
    NumBytesRead = Device->HidOverlappedReadResult();
    if (NumBytesRead > 0)
      Synchronize([this] { DeliverData(); });
  }
  if (sleepResult != WAIT_IO_COMPLETION)
    Device->CancelIO(omhRead);
}
