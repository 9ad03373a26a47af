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
  if (registers) {
    context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER | CONTEXT_SEGMENTS;
#if defined(__x86_64__)
    context.Rax = registers->rax, context.Rbx = registers->rbx, context.Rcx = registers->rcx;
    context.Rdx = registers->rdx, context.Rsi = registers->rsi, context.Rdi = registers->rdi;
    context.Rbp = registers->rbp, context.Rsp = registers->rsp, context.Rip = registers->rip;
    context.R8 = registers->r8, context.R9 = registers->r9, context.R10 = registers->r10;
    context.R11 = registers->r11, context.R12 = registers->r12, context.R13 = registers->r13;
    context.R14 = registers->r14, context.R15 = registers->r15;
#else
    context.Eax = DWORD(registers->rax), context.Ebx = DWORD(registers->rbx), context.Ecx = DWORD(registers->rcx);
    context.Edx = DWORD(registers->rdx), context.Esi = DWORD(registers->rsi), context.Edi = DWORD(registers->rdi);
    context.Ebp = DWORD(registers->rbp), context.Esp = DWORD(registers->rsp), context.Eip = DWORD(registers->rip);
#endif
    context.EFlags = registers->eflags;
    context.SegCs = registers->cs, context.SegDs = registers->ds, context.SegEs = registers->es;
    context.SegFs = registers->fs, context.SegGs = registers->gs, context.SegSs = registers->ss;
  }
  KXMiniDumpResult result = kx::WriteMiniDump(GetCurrentProcess(), exception.GetCrashedThreadId(), &record,
                                              registers ? &context : nullptr, MiniDumpPath(KXTempDirectory()));
  return result.written ? std::string() : result.error;
}

} // namespace kx
