#pragma once
// IProgressAlert: the crash reporter's small progress window. The work it shows is divided into
// weighted areas; the caller moves a per-mille position within the current area and steps from
// area to area, and the bar shows the overall share done.
//
// Objects are reference-counted through std::shared_ptr. On Windows they are made by
// CreateProgressAlert (win32/ProgressAlertWin32.h). Every method may be called from any thread;
// the window belongs to the thread that called Show.
#include <cstdint>
#include <string>

// The platform's window and module handle types, declared so that portable code can hold them
// without the Windows headers (with the headers they are HWND and HMODULE).
struct HWND__;
struct HINSTANCE__;

namespace kx {

using KXWindowHandle = HWND__ *;
using KXModuleHandle = HINSTANCE__ *;

// Names of the bitmap resources the reporter's progress windows show.
inline constexpr const char *kPleaseWaitPicture = "KXIPLWAIT";
inline constexpr const char *kSendPicture = "KXISEND32";

class IProgressAlert {
public:
  virtual ~IProgressAlert() = default;

  virtual std::string GetTitle() = 0;
  // Stores a new caption and shows it in the window.
  virtual void SetTitle(const std::string &value) = 0;
  virtual int32_t GetPosition() = 0;
  // Position within the current area, 0 to 1000; updates the bar.
  virtual void SetPosition(int32_t value) = 0;
  // Appends an area; an empty text repeats the previous area's text.
  virtual void AddArea(int64_t weight, const std::string &text) = 0;
  virtual void ClearAreas() = 0;
  // Steps to the next area; after the last one the bar is full.
  virtual void AreaDone() = 0;
  virtual int32_t GetCurrentArea() = 0;
  virtual void SetCurrentArea(int32_t value) = 0;
  // On the thread that owns the window: dispatches every pending message of that thread.
  virtual void ProcessMessages() = 0;
  // Creates and shows the window on the calling thread; false when it is shown already.
  virtual bool Show(KXWindowHandle parentWindow, bool activate) = 0;
  virtual void Close() = 0;
};

} // namespace kx
