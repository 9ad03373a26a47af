#pragma once
// The send of an exception's bug report as the crash dialog's send button and the automatic send
// start it.
#include <windows.h>

#include <memory>
#include <string>

#include "crash/capture/exception/KXException.h"
#include "crash/output/image/NVBitmap.h"

namespace kx {

// Sends the report with the exception's settings (read once, here) and the screenshot (may be
// null), in the background when asked: the send thread keeps the exception object alive until it
// is done. progressBox decides whether a hidden send shows its progress window. Returns the send
// thread's handle for the caller to keep and close, or null when the send ran on this thread.
// An exception object that is not shared-owned cannot be kept alive, so its send runs here.
HANDLE SendExceptionReport(IKXException &exception, const std::string &report, std::shared_ptr<INVBitmap> screenShot,
                           HWND parent, bool hidden, bool background, bool progressBox,
                           const std::wstring &tempDirectory);

} // namespace kx
