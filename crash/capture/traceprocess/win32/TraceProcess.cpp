#include "crash/capture/traceprocess/win32/TraceProcess.h"

#include <windows.h>

#include <cstring>

#include "crash/capture/exception/KXExceptionObject.h"
#include "crash/capture/threads/win32/ThreadRegistry.h"
#include "crash/capture/traceprocess/TraceDelivery.h"

namespace kx {

namespace {
// The trace thread's name for the duration of a call. A thread that had an entry in the registry
// (a caller inside the process that is already named) gets it back afterwards; any other thread
// loses the entry again.
class TraceThreadName {
public:
  TraceThreadName() : FThreadId(GetCurrentThreadId()) {
    FHadRecord = FindThreadRecord(FThreadId, FPrevious, 1000);
    SetThreadName(FThreadId, kTraceProcessThreadName);
  }
  ~TraceThreadName() {
    SetThreadName(FThreadId, "");
    if (FHadRecord && (!FPrevious.name.empty() || FPrevious.creatorAddr))
      StoreThreadInfo(FThreadId, nullptr, FPrevious.name.empty() ? nullptr : FPrevious.name.c_str(),
                      FPrevious.creatorTid, FPrevious.creatorAddr,
                      FPrevious.className.empty() ? nullptr : FPrevious.className.c_str());
  }
  TraceThreadName(const TraceThreadName &) = delete;
  TraceThreadName &operator=(const TraceThreadName &) = delete;

private:
  DWORD FThreadId;
  bool FHadRecord = false;
  ThreadRecord FPrevious;
};

// Marks the process as being traced while a report is composed.
class ProcessTraceMark {
public:
  ProcessTraceMark() { BeginProcessTrace(); }
  ~ProcessTraceMark() { EndProcessTrace(); }
  ProcessTraceMark(const ProcessTraceMark &) = delete;
  ProcessTraceMark &operator=(const ProcessTraceMark &) = delete;
};

HANDLE OpenDeliveryObject() {
  HANDLE map = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kTraceMapGlobalName);
  if (!map)
    map = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kTraceMapName);
  return map;
}

// The bytes from the start of a mapped view that are committed and may be written.
size_t WritableSize(void *view) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(view, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT)
    return 0;
  return info.RegionSize - (static_cast<char *>(view) - static_cast<char *>(info.BaseAddress));
}
} // namespace

std::string ComposeProcessReport() {
  if (!HasExceptionHost())
    return {};
  IKXExceptionHost &host = ExceptionHost();
  KXCaughtException caught;
  caught.exceptType = TExceptType::etFrozen;
  caught.canContinue = true;
  caught.source = TExceptSource::esManual;
  caught.moduleSettings = host.Data().SettingsOfAddress(reinterpret_cast<std::uintptr_t>(&ComposeProcessReport));
  if (!caught.moduleSettings)
    return {};
  std::shared_ptr<TIKXException> e = CreateExceptionObject(caught);
  if (!e)
    return {};
  e->SetShowPleaseWaitBox(false);
  e->SetListThreads(true);
  return e->GetBugReport(true);
}

bool DeliverTraceReport(const std::string &text, int32_t bufSize) {
  if (TraceGoesToClipboard(bufSize)) {
    if (!HasExceptionHost())
      return false;
    ExceptionHost().Outputs().CopyToClipboard(text);
    return true;
  }
  HANDLE map = OpenDeliveryObject();
  if (!map)
    return false;
  bool delivered = false;
  if (void *view = MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, 0)) {
    if (size_t room = WritableSize(view)) {
      const size_t length = DeliveredLength(text.size(), bufSize, room);
      std::memcpy(view, text.data(), length);
      static_cast<char *>(view)[length] = '\0';
      delivered = true;
    }
    UnmapViewOfFile(view);
  }
  CloseHandle(map);
  return delivered;
}

uint32_t TraceProcess(int32_t bufSize) {
  try {
    TraceThreadName name;
    std::string report;
    {
      ProcessTraceMark mark;
      try {
        report = ComposeProcessReport();
      } catch (...) {
        report.clear();
      }
    }
    if (!report.empty())
      DeliverTraceReport(report, bufSize);
  } catch (...) {
  }
  return 0;
}

} // namespace kx
