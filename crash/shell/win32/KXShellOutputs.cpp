#include "crash/shell/win32/KXShellOutputs.h"

#include "crash/capture/exception/KXExceptMessage.h"
#include "crash/capture/exception/win32/KXTempDirectory.h"
#include "crash/delivery/win32/KXWin32ExceptionSend.h"
#include "crash/output/win32/KXClipboard.h"
#include "crash/output/win32/KXMiniDump.h"
#include "crash/output/win32/KXWin32BugReportSave.h"
#include "crash/output/win32/KXWin32Printing.h"

namespace kx {

KXShellOutputs &KXShellOutputs::Instance() {
  static KXShellOutputs outputs;
  return outputs;
}

void InstallShellOutputs(KXWin32ExceptionHost &host) { host.SetOutputs(&KXShellOutputs::Instance()); }

std::uintptr_t KXShellOutputs::StartSend(IKXException &exception, const std::string &report, bool withScreenShot,
                                         KXWindow window, bool hidden, bool background, bool progressBox) {
  std::shared_ptr<INVBitmap> screenShot = withScreenShot ? exception.GetScreenShot() : nullptr;
  HANDLE thread = SendExceptionReport(exception, report, std::move(screenShot), reinterpret_cast<HWND>(window), hidden,
                                      background, progressBox, KXTempDirectory());
  return reinterpret_cast<std::uintptr_t>(thread);
}

void KXShellOutputs::SaveBugReportFile(IKXException &exception, const std::string &report, bool automatic,
                                       KXWindow window) {
  kx::SaveBugReportFile(exception, report, automatic, window);
}

void KXShellOutputs::PrintBugReport(IKXException &exception, const std::string &report, KXWindow window) {
  PrintBugReportText(report, window, &exception);
}

void KXShellOutputs::CopyToClipboard(const std::string &text) { kx::CopyToClipboard(text); }

std::string KXShellOutputs::WriteMiniDump(IKXException &exception) {
  EXCEPTION_RECORD record{};
  record.ExceptionCode = ExceptionCodeOf(exception.GetExceptObject());
  record.ExceptionAddress = reinterpret_cast<void *>(exception.GetExceptAddr());
  CONTEXT context{};
  const KXRegisterContext *registers = exception.GetContext();
#if defined(__i386__)
  if (registers) {
    context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER | CONTEXT_SEGMENTS;
    context.Eax = registers->eax, context.Ebx = registers->ebx, context.Ecx = registers->ecx;
    context.Edx = registers->edx, context.Esi = registers->esi, context.Edi = registers->edi;
    context.Ebp = registers->ebp, context.Esp = registers->esp, context.Eip = registers->eip;
    context.EFlags = registers->eflags;
    context.SegCs = registers->cs, context.SegDs = registers->ds, context.SegEs = registers->es;
    context.SegFs = registers->fs, context.SegGs = registers->gs, context.SegSs = registers->ss;
  }
#else
  registers = nullptr; // the recorded registers are the low halves only; no context is better
#endif
  KXMiniDumpResult result = kx::WriteMiniDump(GetCurrentProcess(), exception.GetCrashedThreadId(), &record,
                                              registers ? &context : nullptr, MiniDumpPath(KXTempDirectory()));
  return result.written ? std::string() : result.error;
}

} // namespace kx
