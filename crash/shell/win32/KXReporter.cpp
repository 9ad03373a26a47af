#include "crash/shell/win32/KXReporter.h"

#include <windows.h>

#include <imagehlp.h>

#include <atomic>

#include "crash/base/settings/win32/KXSettingsShell.h"
#include "crash/base/settings/win32/KXWin32Platform.h"
#include "crash/capture/catching/win32/KXCatchException.h"
#include "crash/capture/catching/win32/KXCatchingPoints.h"
#include "crash/capture/catching/win32/KXEmergencyReserve.h"
#include "crash/capture/exception/KXExceptionTimes.h"
#include "crash/capture/exception/KXHandlers.h"
#include "crash/capture/exception/win32/KXHandlingThread.h"
#include "crash/capture/exception/win32/KXRestart.h"
#include "crash/capture/exception/win32/KXTempDirectory.h"
#include "crash/capture/exception/win32/KXWin32ExceptionHost.h"
#include "crash/capture/threads/win32/FreezeWatch.h"
#include "crash/capture/threads/win32/MsgWindows.h"
#include "crash/capture/threads/win32/ThreadPause.h"
#include "crash/capture/threads/win32/ThreadRegistry.h"
#include "crash/report/composition/win32/ReportComposition.h"
#include "crash/report/inventory/win32/InventoryPlugins.h"
#include "crash/shell/win32/KXShellOutputs.h"
#include "crash/shell/win32/KXShellWindows.h"
#include "crash/ui/assistant/win32/AssistantPictures.h"
#include "crash/ui/assistant/win32/LoadAssistant.h"
#include "runtime/win32/Thread.h"
#include "runtime/win32/WideText.h"

namespace kx {

namespace {
int64_t gStartTime = 0;
std::atomic<bool> gActive{false};
bool gJoined = false;

void ReportFreeze() {
  KXCaughtException args;
  args.exceptType = TExceptType::etFrozen;
  args.source = TExceptSource::esAntiFreezeCheck;
  args.canContinue = true;
  CatchException(args);
}

std::wstring OwnFileName() {
  auto own = reinterpret_cast<HMODULE>(ModuleOfAddress(reinterpret_cast<std::uintptr_t>(&ReportFreeze)));
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(own, path, MAX_PATH);
  return std::wstring(path, n);
}
} // namespace

std::wstring ReporterTempFolder() { return KXTempDirectory(); }

bool ModuleFileChecksumOk(const wchar_t *path) {
  DWORD stored = 0, computed = 0;
  if (MapFileAndCheckSumW(const_cast<PWSTR>(path), &stored, &computed) != CHECKSUM_SUCCESS)
    return true; // a file that cannot be read is not judged
  return stored == 0 || stored == computed;
}

int64_t ReporterStartTime() { return gStartTime; }

bool ReporterRunning() { return gActive; }

bool StartReporter() {
  if (gActive)
    return true;
  InitThreadSynchronization(); // the runtime knows its main thread before any other runs
  TExceptionTimes times{};
  if (TakeOverRestart(times))
    SetExceptionTimes(times);
  RemoveStaleKXTempDirectories();

  SetReporterInitialising(true);
  LARGE_INTEGER frequency, counter;
  if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart >= 1000 && QueryPerformanceCounter(&counter))
    gStartTime = counter.QuadPart / (frequency.QuadPart / 1000);

  KXSettingsShell &shell = KXSettingsShell::Instance();
  std::shared_ptr<IKXModuleSettings> main = shell.Start();
  if (!main || !main->IsValid()) {
    shell.DropMainSettings();
    SetReporterInitialising(false);
    return false;
  }
  if (main->Enabled() && main->CheckFileCrc() && !ModuleFileChecksumOk(OwnFileName().c_str())) {
    MessageBoxW(nullptr, Widen(main->GetBitFaultMsg()).c_str(), nullptr, MB_OK | MB_ICONERROR);
    ExitProcess(0);
  }
  gJoined = JoinThreadRegistry();
  if (main->Enabled()) {
    KXWin32ExceptionHost &host = KXWin32ExceptionHost::Instance();
    SetExceptionHost(&host);
    InstallShellOutputs(host);
    InstallReportComposition(&ReporterStartTime);
    InstallInventoryPlugins();
    InstallAssistantHooks(*shell.Context());
    InstallAssistantPictures(&ReporterTempFolder);
    InstallShellWindows(host);
    InstallCatchingPoints();
    StartHandlingThread();
    InstallHandlerMessage();
    InstallThreadCreationInterception();
    if (main->CheckForFreeze())
      StartFreezeWatch(main->FreezeTimeout(), &ReportFreeze);
    MakeEmergencyReserve();
    gActive = true;
  }
  SetReporterInitialising(false);
  return gActive;
}

void StopReporter() {
  try {
    // Not running from here on, so that the public calls stop handing anything over.
    const bool active = gActive.exchange(false);
    if (active) {
      StopFreezeWatch();
      RemovePauseInterceptions();
      RemoveThreadCreationInterception();
      RemoveHandlerMessage();
      StopHandlingThread();
      RemoveCatchingPoints();
    }
    if (gJoined)
      LeaveThreadRegistry();
    gJoined = false;
    if (active) {
      ReleasePauseState();
      ReleaseEmergencyReserve();
      ClearExceptionHandlers();
      RemoveInventoryPlugins();
      SetExceptionHost(nullptr);
      RemoveKXTempDirectory();
    }
    KXSettingsShell::Instance().Stop();
  } catch (...) {
  }
}

} // namespace kx
