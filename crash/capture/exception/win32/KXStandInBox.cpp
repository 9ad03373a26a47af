#include "crash/capture/exception/win32/KXStandInBox.h"

#include <windows.h>

#include "runtime/win32/WideText.h"

namespace kx {

namespace {
struct BoxState {
  IKXException *exception = nullptr;
  bool closed = false;
};

std::string ShownMessage(IKXException &e) {
  std::string intro = e.GetExceptType() == TExceptType::etFrozen ? e.GetFrozenMsg() : e.GetExceptMsg();
  return intro + "\r\n\r\n" + e.GetExceptClass() + ": " + e.GetExceptMessage();
}

LRESULT CALLBACK StandInProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto *state = reinterpret_cast<BoxState *>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (msg) {
  case WM_NCCREATE:
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW *>(lParam)->lpCreateParams));
    break;
  case WM_COMMAND:
    if (state && HIWORD(wParam) == BN_CLICKED) {
      KXWindow self = reinterpret_cast<KXWindow>(window);
      switch (LOWORD(wParam)) {
      case kStandInContinueId:
        state->exception->ContinueApplication(self);
        return 0;
      case kStandInRestartId:
        state->exception->RestartApplication(self);
        return 0;
      case kStandInCloseId:
        state->exception->CloseApplication(self);
        return 0;
      }
    }
    break;
  case WM_CLOSE: // the title bar's close box continues, as the continue button does
    if (state && state->exception->GetCanContinue()) {
      state->exception->ContinueApplication(reinterpret_cast<KXWindow>(window));
      return 0;
    }
    return 0;
  case kDialogCloseMessage:
    DestroyWindow(window);
    return 0;
  case kDialogShowReportMessage:
    if (state) {
      std::wstring report = Widen(state->exception->GetBugReport(true));
      MessageBoxW(window, report.c_str(), L"bug report", MB_OK);
    }
    return 0;
  case WM_DESTROY:
    if (state)
      state->closed = true;
    break;
  }
  return DefWindowProcW(window, msg, wParam, lParam);
}

const wchar_t *RegisterBoxClass() {
  static const std::wstring name = Widen(kDialogWindowClass);
  WNDCLASSW wc{};
  wc.lpfnWndProc = &StandInProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = name.c_str();
  RegisterClassW(&wc); // fails harmlessly when registered already
  return name.c_str();
}

HWND Child(HWND parent, const wchar_t *cls, const std::string &text, DWORD style, int id, int x, int y, int w, int h,
           HFONT font) {
  std::wstring wide = Widen(text);
  HWND child = CreateWindowExW(0, cls, wide.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                               reinterpret_cast<HMENU>(INT_PTR(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return child;
}
} // namespace

void ShowStandInBox(IKXException &exception) {
  BoxState state;
  state.exception = &exception;
  const int width = 420, height = 200;
  std::wstring title = Widen(exception.GetTitleBar());
  HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_DLGMODALFRAME, RegisterBoxClass(), title.c_str(),
                                WS_POPUP | WS_CAPTION | WS_SYSMENU, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                                (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, nullptr, nullptr,
                                GetModuleHandleW(nullptr), &state);
  if (!window)
    return;
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  RECT client;
  GetClientRect(window, &client);
  Child(window, L"STATIC", ShownMessage(exception), SS_LEFT, kStandInMessageId, 12, 12, client.right - 24, 100, font);
  const int buttonWidth = (client.right - 24 - 16) / 3, buttonTop = client.bottom - 36;
  HWND cont = Child(window, L"BUTTON", exception.GetContinueBtnCaption(), BS_PUSHBUTTON | WS_TABSTOP,
                    kStandInContinueId, 12, buttonTop, buttonWidth, 26, font);
  Child(window, L"BUTTON", exception.GetRestartBtnCaption(), BS_PUSHBUTTON | WS_TABSTOP, kStandInRestartId,
        12 + buttonWidth + 8, buttonTop, buttonWidth, 26, font);
  Child(window, L"BUTTON", exception.GetCloseBtnCaption(), BS_PUSHBUTTON | WS_TABSTOP, kStandInCloseId,
        12 + 2 * (buttonWidth + 8), buttonTop, buttonWidth, 26, font);
  EnableWindow(cont, exception.GetCanContinue());
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);

  MSG msg;
  while (!state.closed) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) { // the quit message belongs to the program's own loop
      PostQuitMessage(int(msg.wParam));
      break;
    }
    if (got == -1)
      break;
    if (!IsDialogMessageW(window, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (!state.closed && IsWindow(window))
    DestroyWindow(window);
}

} // namespace kx
