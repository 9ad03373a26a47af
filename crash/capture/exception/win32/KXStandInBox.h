#pragma once
// A plain window that shows an exception's message with the continue, restart and close buttons
// and runs their actions. The process shows it until the crash dialog takes its place.
#include "crash/capture/exception/KXException.h"

namespace kx {

// Shows the window on the calling thread and returns when it has closed.
void ShowStandInBox(IKXException &exception);

// The control ids of the window's children.
inline constexpr int kStandInMessageId = 10;
inline constexpr int kStandInContinueId = 11;
inline constexpr int kStandInRestartId = 12;
inline constexpr int kStandInCloseId = 13;

} // namespace kx
