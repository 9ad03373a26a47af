#pragma once
// The decisions of the crash dialog that need no window: the message's line breaks, which button
// gets the focus and the countdown, where the countdown line stands, what closing the window and
// pressing a button do.
#include <array>
#include <cstdint>
#include <string>

namespace kx {

enum class TBoxForm { fullBox, detailBox, simpleBox };

// Button indices, stored in each button's window data; they select the icon and match FocusedBtn.
enum TBoxButton : int32_t {
  kBtnSend = 0,
  kBtnSave = 1,
  kBtnPrint = 2,
  kBtnShow = 3, // "show bug report", and Details in the detail box
  kBtnContinue = 4, // OK in the message boxes
  kBtnRestart = 5,
  kBtnClose = 6,
  kBtnCantContinue = 7, // the continue button when the program cannot continue
  kBtnBigIcon = 8,
  kNoButton = -1
};
inline constexpr int kBoxButtonCount = 7;

// "send", "save", ... "big": the bitmap resource of an index is "KXI" + its name.
const char *BoxIndexName(int index);
// The bitmap resource name of an index ("KXISEND" ...), "" for an unknown index.
std::string BoxIconResource(int index);
// The accepted size of an icon resource of side s: the 40-byte header and s*s 32-bit pixels.
inline constexpr uint32_t BoxIconResourceSize(int side) { return 40u + 4u * uint32_t(side) * uint32_t(side); }

// Turns ". " into ".\r\n" at every position from len-10 down to 20 (1-based): sentence ends
// within the first 19 and the last 10 characters are left alone.
std::string BreakExceptMessage(const std::string &message);

// The switches the dialog's decisions read from the exception.
struct TBoxSwitches {
  std::array<bool, kBoxButtonCount> visible{}; // visibility of buttons 0..6 in the form shown
  bool canContinue = true;
  bool autoContinue = false;
  bool autoCloseDue = false;   // the automatic close condition holds for AutoClose
  bool autoRestartDue = false; // likewise for AutoRestart
};

// The button the automatic actions ask to focus (6, 5 or 4), or kNoButton to keep FocusedBtn.
int AutomaticFocus(const TBoxSwitches &s);
// The button whose countdown runs in the full dialog, or kNoButton.
int CountdownButton(const TBoxSwitches &s);

// What the title-bar close or Esc does.
enum class TBoxAction { none, details, send, save, print, continueApp, restartApp, closeApp };
// Closing the window: the focused button's action when it is continue, restart or close and that
// button exists (continue only when the program can continue); otherwise continue when possible,
// else close, else restart. The message boxes do what their OK button does.
TBoxAction CloseAction(TBoxForm form, int focusedBtn, const TBoxSwitches &s);
// The action of a button index (7: the disabled continue button closes).
TBoxAction ButtonAction(int index, bool canContinue);

// The countdown line's x after elapsedMs of a countdown of delaySeconds over a button of the given
// client width; nullopt-like -1 when delaySeconds is 0 (no countdown).
int64_t CountdownLineX(uint64_t elapsedMs, uint32_t delaySeconds, int32_t width, bool uglyBtns);
// True when the line has passed the end and the button's action runs.
bool CountdownEnded(int64_t x, int32_t width, bool uglyBtns);

} // namespace kx
