#pragma once
// Capturing the screen as an INVBitmap.
#include <memory>

#include "crash/output/image/NVBitmap.h"

namespace kx {

// The virtual desktop (or, without monitor information, the display's HORZRES x VERTRES from
// 0, 0) with the mouse cursor drawn in. appOnly: only the bounding area of the process's visible,
// not minimised top-level windows, white except where those windows show (NVAppRegion.h).
// Null when there is no display, nothing of the application shows, or the copy fails.
std::shared_ptr<INVBitmap> ScreenShot(bool appOnly);

} // namespace kx
