#include "crash/ui/dialog/ExceptionBoxRules.h"

namespace kx {

const char *BoxIndexName(int index) {
  static const char *const names[] = {"send",    "save",  "print",        "show", "continue",
                                      "restart", "close", "cantContinue", "big"};
  return index >= 0 && index < 9 ? names[index] : "";
}

std::string BoxIconResource(int index) {
  std::string name = BoxIndexName(index);
  if (name.empty())
    return {};
  for (char &c : name)
    if (c >= 'a' && c <= 'z')
      c = char(c - 'a' + 'A');
  return "KXI" + name;
}

std::string BreakExceptMessage(const std::string &message) {
  std::string m = message;
  // 1-based position i is m[i - 1]; going downwards keeps the earlier positions in place.
  for (int64_t i = int64_t(message.size()) - 10; i >= 20; --i) {
    const size_t at = size_t(i - 1);
    if (m[at] == '.' && m[at + 1] == ' ') {
      m[at + 1] = '\r';
      m.insert(at + 2, 1, '\n');
    }
  }
  return m;
}

int AutomaticFocus(const TBoxSwitches &s) {
  if (s.autoCloseDue && s.visible[kBtnClose])
    return kBtnClose;
  if (s.autoRestartDue && s.visible[kBtnRestart])
    return kBtnRestart;
  if (s.autoContinue && s.visible[kBtnContinue] && s.canContinue)
    return kBtnContinue;
  return kNoButton;
}

int CountdownButton(const TBoxSwitches &s) { return AutomaticFocus(s); }

TBoxAction ButtonAction(int index, bool canContinue) {
  switch (index) {
  case kBtnShow:
    return TBoxAction::details;
  case kBtnClose:
  case kBtnCantContinue:
    return TBoxAction::closeApp;
  case kBtnRestart:
    return TBoxAction::restartApp;
  case kBtnContinue:
    return canContinue ? TBoxAction::continueApp : TBoxAction::closeApp;
  case kBtnSend:
    return TBoxAction::send;
  case kBtnSave:
    return TBoxAction::save;
  case kBtnPrint:
    return TBoxAction::print;
  default:
    return TBoxAction::none;
  }
}

TBoxAction CloseAction(TBoxForm form, int focusedBtn, const TBoxSwitches &s) {
  if (form != TBoxForm::fullBox)
    return ButtonAction(kBtnContinue, s.canContinue);
  if (focusedBtn == kBtnContinue && s.visible[kBtnContinue] && s.canContinue)
    return TBoxAction::continueApp;
  if (focusedBtn == kBtnRestart && s.visible[kBtnRestart])
    return TBoxAction::restartApp;
  if (focusedBtn == kBtnClose && s.visible[kBtnClose])
    return TBoxAction::closeApp;
  if (s.visible[kBtnContinue] && s.canContinue)
    return TBoxAction::continueApp;
  if (s.visible[kBtnClose])
    return TBoxAction::closeApp;
  if (s.visible[kBtnRestart])
    return TBoxAction::restartApp;
  // No way on is offered: a program that cannot continue is closed.
  return s.canContinue ? TBoxAction::continueApp : TBoxAction::closeApp;
}

int64_t CountdownLineX(uint64_t elapsedMs, uint32_t delaySeconds, int32_t width, bool uglyBtns) {
  if (delaySeconds == 0)
    return -1;
  const uint64_t d = delaySeconds;
  if (uglyBtns) {
    const uint64_t span = width > 11 ? uint64_t(width - 11) : 0;
    return int64_t((elapsedMs * span + 500 * d) / (1000 * d) + 5);
  }
  const uint64_t span = width > 0 ? uint64_t(width) : 0;
  return int64_t((elapsedMs * span + 500 * d) / (1000 * d));
}

bool CountdownEnded(int64_t x, int32_t width, bool uglyBtns) { return uglyBtns ? x > width - 6 : x > width; }

} // namespace kx
