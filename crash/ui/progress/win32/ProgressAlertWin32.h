#pragma once
// Creation of the progress window on Windows.
#include <memory>
#include <string>

#include <windows.h>

#include "crash/capture/exception/ProgressAlert.h"

namespace kx {

// A progress window with the given caption whose picture is the bitmap resource bmpName of
// bmpModule (none when the module has no such resource).
std::shared_ptr<IProgressAlert> CreateProgressAlert(const std::string &title, HMODULE bmpModule,
                                                    const std::string &bmpName);

// Class name of the progress window, and the control ids of its children.
inline constexpr const wchar_t *kProgressWindowClass = L"prgrAlertWndClass";
inline constexpr int kProgressPictureId = 1;
inline constexpr int kProgressLabelId = 2;
inline constexpr int kProgressBarId = 3;

} // namespace kx
