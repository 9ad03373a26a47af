#pragma once
// Delivery and saving from the layers above capture: the send (delivery), the bug report file,
// printing, the clipboard and the minidump (output). Installed into the capture layer's host at
// start-up in place of its stand-in (KXStandInOutputs, whose thread-handle closing it keeps).
#include "crash/capture/exception/win32/KXStandInOutputs.h"
#include "crash/capture/exception/win32/KXWin32ExceptionHost.h"

namespace kx {

class KXShellOutputs final : public KXStandInOutputs {
public:
  static KXShellOutputs &Instance();

  std::uintptr_t StartSend(IKXException &exception, const std::string &report, bool withScreenShot, KXWindow window,
                           bool hidden, bool background, bool progressBox) override;
  void SaveBugReportFile(IKXException &exception, const std::string &report, bool automatic,
                         KXWindow window) override;
  void PrintBugReport(IKXException &exception, const std::string &report, KXWindow window) override;
  void CopyToClipboard(const std::string &text) override;
  std::string WriteMiniDump(IKXException &exception) override;
};

// host.SetOutputs(&KXShellOutputs::Instance()).
void InstallShellOutputs(KXWin32ExceptionHost &host);

} // namespace kx
