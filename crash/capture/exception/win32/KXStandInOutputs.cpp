#include "crash/capture/exception/win32/KXStandInOutputs.h"

#include <windows.h>

namespace kx {

std::uintptr_t KXStandInOutputs::StartSend(IKXException &, const std::string &, bool, KXWindow, bool, bool, bool) {
  return 0;
}

void KXStandInOutputs::CloseThreadHandle(std::uintptr_t thread, bool wait) {
  if (!thread)
    return;
  if (wait)
    WaitForSingleObject(reinterpret_cast<HANDLE>(thread), INFINITE);
  CloseHandle(reinterpret_cast<HANDLE>(thread));
}

void KXStandInOutputs::SaveBugReportFile(IKXException &, const std::string &, bool, KXWindow) {}
void KXStandInOutputs::PrintBugReport(IKXException &, const std::string &, KXWindow) {}
void KXStandInOutputs::CopyToClipboard(const std::string &) {}
std::string KXStandInOutputs::WriteMiniDump(IKXException &) { return kNoMiniDumpWriter; }

} // namespace kx
