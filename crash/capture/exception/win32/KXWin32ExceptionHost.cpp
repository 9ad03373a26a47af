#include "crash/capture/exception/win32/KXWin32ExceptionHost.h"

#include <optional>

#include <cstdio>
#include <cstring>

#include "crash/analysis/debuginfo/win32/Win32Modules.h"
#include "crash/analysis/disasm/win32/LiveMemory.h"
#include "crash/base/pe/win32/LoadedImage.h"
#include "crash/base/settings/win32/KXSettingsShell.h"
#include "crash/base/settings/win32/KXWin32Platform.h"
#include "crash/capture/exception/KXAddressCorrection.h"
#include "crash/capture/exception/KXExceptMessage.h"
#include "crash/capture/exception/KXExceptionTimes.h"
#include "crash/capture/exception/KXHeaderOnlyComposer.h"
#include "crash/capture/exception/win32/KXHandlingThread.h"
#include "crash/capture/exception/win32/KXRestart.h"
#include "crash/capture/exception/win32/KXStandInBox.h"
#include "crash/capture/exception/win32/KXStandInOutputs.h"
#include "crash/capture/exception/win32/KXTempDirectory.h"
#include "crash/capture/threads/win32/FreezeWatch.h"
#include "crash/capture/threads/win32/MsgWindows.h"
#include "crash/capture/threads/win32/ProcessLock.h"
#include "crash/capture/threads/win32/ThreadPause.h"
#include "crash/capture/threads/win32/ThreadRegistry.h"
#include "runtime/win32/WideText.h"

namespace kx {

namespace {
constexpr LRESULT kHandlerAnswer = 777;
HWND gHandlerWindow = nullptr;
UINT gHandlerMessage = 0;
DWORD gHandlerThread = 0;
bool gInSyncHandlers = false; // only touched by the handler window's thread

void HandlerMessageProc(HWND, UINT, WPARAM wParam, LPARAM lParam, LRESULT &result) {
  PauseIfRequested();
  if (wParam == 0 && lParam) {
    bool outer = gInSyncHandlers;
    gInSyncHandlers = true;
    try {
      (*reinterpret_cast<const std::function<void()> *>(lParam))();
    } catch (...) {
    }
    gInSyncHandlers = outer;
  }
  result = kHandlerAnswer;
}

// The first top-level window of this process with the class name.
struct WindowSearch {
  std::wstring className;
  HWND found = nullptr;
};
BOOL CALLBACK FindOwnWindow(HWND window, LPARAM param) {
  auto *search = reinterpret_cast<WindowSearch *>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  wchar_t cls[128];
  if (pid == GetCurrentProcessId() && GetClassNameW(window, cls, 128) && search->className == cls) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}
// The subsystem of the executable's image in memory, as the PE reader reads its headers.
bool ExecutableHasConsoleSubsystem() {
  std::optional<debuginfo::LoadedImage> image = debuginfo::ReadLoadedImage(GetModuleHandleW(nullptr));
  return image && image->Headers.Subsystem == debuginfo::kSubsystemWindowsConsole;
}
} // namespace

bool InstallHandlerMessage() {
  if (gHandlerMessage)
    return true;
  gHandlerMessage = AttachMsgHandler(&HandlerMessageProc, 0, 0);
  if (!gHandlerMessage)
    return false;
  gHandlerWindow = ThreadMsgWindow(0);
  gHandlerThread = GetCurrentThreadId();
  SetHandlerMessageTarget(gHandlerWindow, gHandlerMessage);
  return true;
}

void RemoveHandlerMessage() {
  if (!gHandlerMessage)
    return;
  SetHandlerMessageTarget(nullptr, 0);
  DetachMsgHandler(&HandlerMessageProc, gHandlerMessage, gHandlerThread);
  gHandlerMessage = 0;
  gHandlerWindow = nullptr;
  gHandlerThread = 0;
}

bool RunningSynchronisedHandlers() { return gInSyncHandlers && GetCurrentThreadId() == gHandlerThread; }

KXWin32ExceptionHost &KXWin32ExceptionHost::Instance() {
  static KXWin32ExceptionHost host;
  return host;
}

namespace {
KXStandInOutputs &StandInOutputs() {
  static KXStandInOutputs outputs;
  return outputs;
}
} // namespace

KXWin32ExceptionHost::KXWin32ExceptionHost() {
  static KXHeaderOnlyComposer composer;
  FComposer = &composer;
  FOutputs = &StandInOutputs();
  FShowBox = [](IKXException &e, TExceptionBoxForm) { ShowStandInBox(e); };
}

void KXWin32ExceptionHost::SetOutputs(IKXOutputHost *outputs) { FOutputs = outputs ? outputs : &StandInOutputs(); }

// --- time and threads ----------------------------------------------------------------------------

int64_t KXWin32ExceptionHost::NowSeconds() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return int64_t((uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) / 10000000);
}

KXLocalTime KXWin32ExceptionHost::LocalNow() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

uint32_t KXWin32ExceptionHost::MainThreadId() { return kx::MainThreadId(); }
bool KXWin32ExceptionHost::IsHandlingThread() { return GetCurrentThreadId() == HandlingThreadId(); }
bool KXWin32ExceptionHost::ProcessLockHeld(uint32_t waitMs) { return kx::ProcessLockHeld(waitMs); }
void KXWin32ExceptionHost::PauseOtherThreads(bool pause, uint32_t exceptThreadId) {
  kx::PauseOtherThreads(pause, exceptThreadId);
}
bool KXWin32ExceptionHost::ResumeMainThreadTemporarily() { return kx::ResumeMainThreadTemporarily(); }
void KXWin32ExceptionHost::PauseMainThreadAgain() { kx::PauseMainThreadAgain(); }
void KXWin32ExceptionHost::ResetFreezeMissCounter() { kx::ResetFreezeMissCounter(); }

bool KXWin32ExceptionHost::ReporterInExecutable() {
  return ModuleOfAddress(reinterpret_cast<std::uintptr_t>(&HandlerMessageProc)) ==
         reinterpret_cast<KXModule>(GetModuleHandleW(nullptr));
}

bool KXWin32ExceptionHost::CallOnMainThread(const std::function<void()> &call) {
  if (!gHandlerWindow || !IsWindow(gHandlerWindow))
    return false;
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(gHandlerWindow, gHandlerMessage, 1, 0, SMTO_NORMAL, 1500, &answer) ||
      answer != DWORD_PTR(kHandlerAnswer))
    return false;
  answer = 0;
  if (!SendMessageTimeoutW(gHandlerWindow, gHandlerMessage, 0, reinterpret_cast<LPARAM>(&call), SMTO_NORMAL,
                           0x7FFFFFFF, &answer))
    return false;
  return answer == DWORD_PTR(kHandlerAnswer);
}

// --- settings and the exception's data ------------------------------------------------------------

std::shared_ptr<IKXModuleSettings> KXWin32ExceptionHost::SettingsOfAddress(std::uintptr_t address) {
  return AddressModuleSettings(address);
}

std::shared_ptr<IKXModuleSettings> KXWin32ExceptionHost::CallerSettings() { return CallerModuleSettings(1); }

std::uintptr_t KXWin32ExceptionHost::CorrectExceptAddress(std::uintptr_t address, const KXExceptObject &object) {
  if (!address || ExceptInheritsFrom(object, "EAbort"))
    return address;
  TAddressDescription where = DescribeCodeAddress(address);
  if (!where.Ok || !where.FunctionAddress)
    return address;
  tidewell::disasm::LiveMemory memory;
  return std::uintptr_t(CorrectedExceptAddress(memory, where.FunctionAddress, address,
                                               sizeof(void *) == 8 ? tidewell::disasm::CpuMode::X64
                                                                   : tidewell::disasm::CpuMode::X86));
}

void KXWin32ExceptionHost::CurrentStackPointers(std::uintptr_t &esp, std::uintptr_t &ebp) {
  ebp = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  volatile char here = 0;
  esp = reinterpret_cast<std::uintptr_t>(&here);
}

void KXWin32ExceptionHost::EmptyTempDirectory() { EmptyKXTempDirectory(); }

// --- windows -------------------------------------------------------------------------------------

std::shared_ptr<IProgressAlert> KXWin32ExceptionHost::CreatePleaseWait(const std::string &title, KXModule module) {
  return FPleaseWait ? FPleaseWait(title, module) : nullptr;
}

std::shared_ptr<INVBitmap> KXWin32ExceptionHost::CaptureScreenShot(IKXException &exception) {
  return FScreenShot ? FScreenShot(exception) : nullptr;
}

void KXWin32ExceptionHost::ShowExceptionBox(IKXException &exception, TExceptionBoxForm form) {
  FShowBox(exception, form);
}

bool KXWin32ExceptionHost::RunAssistant(IKXException &exception, const std::string &name, KXWindow parent, bool &ok) {
  return FAssistant && FAssistant(exception, name, parent, ok);
}

KXWindow KXWin32ExceptionHost::DialogWindow() {
  WindowSearch search{Widen(kDialogWindowClass)};
  EnumWindows(&FindOwnWindow, reinterpret_cast<LPARAM>(&search));
  return reinterpret_cast<KXWindow>(search.found);
}

void KXWin32ExceptionHost::PostWindowMessage(KXWindow window, uint32_t message) {
  PostMessageW(reinterpret_cast<HWND>(window), message, 0, 0);
}

void KXWin32ExceptionHost::SendWindowMessage(KXWindow window, uint32_t message) {
  SendMessageW(reinterpret_cast<HWND>(window), message, 0, 0);
}

void KXWin32ExceptionHost::SetArrowCursor() { SetCursor(LoadCursorW(nullptr, IDC_ARROW)); }

bool KXWin32ExceptionHost::IsConsoleProgram() {
  return FConsoleDetection && ExecutableHasConsoleSubsystem();
}

void KXWin32ExceptionHost::WriteConsoleLine(const std::string &line) {
  std::fputs(line.c_str(), stdout);
  std::fputs("\n", stdout);
  std::fflush(stdout);
}

// --- the end of the process ----------------------------------------------------------------------

void KXWin32ExceptionHost::CloseProcess() { TerminateProcess(GetCurrentProcess(), 1); }

void KXWin32ExceptionHost::RestartProcess() { kx::RestartProcess(ExceptionTimes()); }

} // namespace kx
