#pragma once
// Delivery and saving before the shell installs its own (crash/shell/win32/KXShellOutputs): the
// capture layer cannot send, save, print, copy or write a minidump, so it does nothing and says
// so where the interface has a way to (no send thread; the minidump's reason). Thread handles
// are closed as usual.
#include "crash/capture/exception/KXExceptionHost.h"

namespace kx {

class KXStandInOutputs : public IKXOutputHost {
public:
  // No send is started: 0.
  std::uintptr_t StartSend(IKXException &exception, const std::string &report, bool withScreenShot, KXWindow window,
                           bool hidden, bool background, bool progressBox) override;
  // Waits for (when wait is set) and closes a thread handle.
  void CloseThreadHandle(std::uintptr_t thread, bool wait) override;
  // Nothing is saved, printed or copied.
  void SaveBugReportFile(IKXException &exception, const std::string &report, bool automatic,
                         KXWindow window) override;
  void PrintBugReport(IKXException &exception, const std::string &report, KXWindow window) override;
  void CopyToClipboard(const std::string &text) override;
  // Fails with kNoMiniDumpWriter.
  std::string WriteMiniDump(IKXException &exception) override;
};

inline constexpr const char *kNoMiniDumpWriter = "no minidump writer installed";

} // namespace kx
