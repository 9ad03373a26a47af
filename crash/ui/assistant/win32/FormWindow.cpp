#include "crash/ui/assistant/win32/FormWindow.h"

#include <algorithm>
#include <mutex>

#include "runtime/win32/WideText.h"

namespace kx {

namespace {

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

std::mutex gHooksLock;
KXHandlerLookup gLookup;
KXFormShownHook gShownHook;

template <class T> T Copy(const T &hook) {
  std::lock_guard g(gHooksLock);
  return hook;
}

class TWin32FormPlatform final : public INVFormPlatform {
public:
  TNVModalResult RunForm(TNVForm &form, TNVWindow parent) override {
    TNVFormWindow window(form);
    window.Run(HWND(parent));
    return form.FModalResult;
  }
  bool ParentEnabled(TNVWindow window) override { return IsWindowEnabled(HWND(window)); }
  void EnableParent(TNVWindow window, bool enable) override {
    ::EnableWindow(HWND(window), enable);
    // An owner enabled again after the last form is made active again, as a dialog's owner is.
    if (enable && GetWindowThreadProcessId(HWND(window), nullptr) == GetCurrentThreadId() && IsWindowVisible(HWND(window)))
      SetActiveWindow(HWND(window));
  }
  void ShowMessage(const std::string &caption, const std::string &text) override {
    MessageBoxW(nullptr, Widen(text).c_str(), Widen(caption).c_str(), MB_OK | MB_ICONERROR | MB_TASKMODAL);
  }
  TNVActionHandler FindHandler(const std::string &unit, const std::string &symbol) override {
    KXHandlerLookup lookup = Copy(gLookup);
    return lookup ? lookup(unit, symbol) : nullptr;
  }
};

int32_t LowSigned(LPARAM value) { return int32_t(short(LOWORD(value))); }
int32_t HighSigned(LPARAM value) { return int32_t(short(HIWORD(value))); }

} // namespace

INVFormPlatform &Win32FormPlatform() {
  static TWin32FormPlatform platform;
  return platform;
}

void SetAssistantHandlerLookup(KXHandlerLookup lookup) {
  std::lock_guard g(gHooksLock);
  gLookup = std::move(lookup);
}

void SetFormShownHook(KXFormShownHook hook) {
  std::lock_guard g(gHooksLock);
  gShownHook = std::move(hook);
}

// --- the window --------------------------------------------------------------------------------

TNVFormWindow::TNVFormWindow(TNVForm &form) : FForm(form) {}

TNVFormWindow::~TNVFormWindow() {
  if (FWindow)
    DestroyWindow(FWindow);
  ReleaseParent();
}

void TNVFormWindow::ReleaseParent() {
  if (!FParentDisabled)
    return;
  FParentDisabled = false;
  ::EnableWindow(FParent, TRUE);
}

void TNVFormWindow::Run(HWND parent) {
  FParent = parent;
  if (parent && IsWindowEnabled(parent)) {
    ::EnableWindow(parent, FALSE);
    FParentDisabled = true;
  }
  if (!Create(parent)) {
    ReleaseParent();
    return;
  }
  if (!FForm.Showing()) {
    ReleaseParent();
    DestroyWindow(FWindow);
    return;
  }
  ShowWindow(FWindow, SW_SHOWNORMAL);
  if (IsIconic(FWindow))
    ShowWindow(FWindow, SW_RESTORE);
  BringWindowToTop(FWindow);
  SetForegroundWindow(FWindow);
  if (FWindow && FForm.LastFocus && !IsChild(FWindow, GetFocus()))
    FocusItem(FForm.LastFocus, FForm.ItemOfWindow(FForm.LastFocus) &&
                                     FForm.ItemOfWindow(FForm.LastFocus)->Kind() == TNVItemKind::edit);
  if (FWindow && FForm.FTimer)
    SetTimer(FWindow, kFormTimerId, FForm.FTimer, nullptr);
  if (KXFormShownHook hook = Copy(gShownHook); hook && FWindow)
    hook(FForm, FWindow);

  while (FWindow) {
    MSG msg;
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(int(msg.wParam)); // for the caller's own loop
      break;
    }
    if (got == -1)
      break;
    if (FilterKey(msg))
      continue;
    if (!FWindow || !IsDialogMessageW(FWindow, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (FWindow) {
    ReleaseParent();
    DestroyWindow(FWindow);
  }
  ReleaseParent();
}

bool TNVFormWindow::Create(HWND parent) {
  static const bool registered = [] {
    WNDCLASSW wc{};
    wc.style = CS_PARENTDC; // no class DC: forms on two threads would share it
    wc.lpfnWndProc = &TNVFormWindow::WindowProc;
    wc.hInstance = ThisModule();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kAssistantWindowClass;
    return RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  if (!registered)
    return false;

  LayoutForm(FForm, FPainter);
  const DWORD style = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, exStyle = WS_EX_DLGMODALFRAME;
  RECT outer{0, 0, FForm.FWidth, FForm.FHeight};
  AdjustWindowRectEx(&outer, style, FALSE, exStyle);
  const int width = outer.right - outer.left, height = outer.bottom - outer.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  CreateWindowExW(exStyle, kAssistantWindowClass, Widen(FForm.FTitle).c_str(), style, x, y, width, height, parent,
                  nullptr, ThisModule(), this);
  if (!FWindow)
    return false;
  FForm.Handle = TNVWindow(FWindow);
  FForm.SetView(this);
  if (HMENU menu = GetSystemMenu(FWindow, FALSE))
    for (UINT command : {SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE, SC_SIZE})
      DeleteMenu(menu, command, MF_BYCOMMAND);

  const auto &items = FForm.ItemList();
  for (size_t i = 3; i < items.size(); ++i)
    CreateItemWindow(*items[i]);
  for (size_t i = 0; i < 3 && i < items.size(); ++i)
    CreateItemWindow(*items[i]);

  FForm.ReevaluateContinue();
  if (TNVItem *first = FForm.InitialFocus()) {
    first->Focus();
    FForm.LastFocus = first->FHandle;
  }
  return true;
}

void TNVFormWindow::CreateItemWindow(TNVItem &item) {
  DWORD style = WS_CHILD | WS_VISIBLE | (item.EffectivelyEnabled() ? 0 : WS_DISABLED);
  const wchar_t *windowClass = L"BUTTON";
  std::string text = item.ShownCaption();
  switch (item.Kind()) {
  case TNVItemKind::label:
    windowClass = L"STATIC";
    style |= SS_LEFT | SS_NOPREFIX;
    break;
  case TNVItemKind::edit: {
    auto &edit = static_cast<TNVEdit &>(item);
    windowClass = L"EDIT";
    style |= WS_TABSTOP | (edit.FLines > 1 ? ES_MULTILINE | WS_VSCROLL | ES_AUTOVSCROLL | ES_WANTRETURN : ES_AUTOHSCROLL);
    text = edit.FText;
    break;
  }
  case TNVItemKind::checkBox:
    style |= WS_TABSTOP | BS_OWNERDRAW;
    break;
  case TNVItemKind::button: {
    auto &button = static_cast<TNVButton &>(item);
    style |= WS_TABSTOP | BS_NOTIFY | (button.FNoOwnerDraw ? BS_PUSHBUTTON : BS_OWNERDRAW);
    if (button.FInvisible)
      style &= ~WS_VISIBLE;
    break;
  }
  case TNVItemKind::image:
    return; // painted by the form
  }
  const TNVRect r = ItemWindowRect(item);
  HWND child = CreateWindowExW(0, windowClass, Widen(text).c_str(), style, r.left, r.top, std::max(0, r.Width()),
                               std::max(0, r.Height()), FWindow, reinterpret_cast<HMENU>(INT_PTR(kFirstItemId + item.FIndex)),
                               ThisModule(), nullptr);
  if (!child)
    return;
  SendMessageW(child, WM_SETFONT, WPARAM(FPainter.ItemsFont()), FALSE);
  item.FHandle = TNVWindow(child);
}

bool TNVFormWindow::FilterKey(const MSG &msg) {
  if (msg.message != WM_KEYDOWN || !FWindow || (msg.hwnd != FWindow && !IsChild(FWindow, msg.hwnd)))
    return false;
  TNVItem *focused = FForm.ItemOfWindow(TNVWindow(GetFocus()));
  switch (msg.wParam) {
  case VK_ESCAPE:
    return FForm.KeyPressed(TNVKey::escape, false, focused);
  case VK_TAB:
    return FForm.KeyPressed(TNVKey::tab, GetKeyState(VK_SHIFT) < 0, focused);
  case VK_RETURN:
    return FForm.KeyPressed(TNVKey::enter, false, focused);
  default:
    return false;
  }
}

LRESULT CALLBACK TNVFormWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TNVFormWindow *self = nullptr;
  if (message == WM_NCCREATE) {
    self = static_cast<TNVFormWindow *>(reinterpret_cast<CREATESTRUCTW *>(lParam)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, LONG_PTR(self));
    self->FWindow = window;
  } else {
    self = reinterpret_cast<TNVFormWindow *>(GetWindowLongPtrW(window, GWLP_USERDATA));
  }
  if (!self)
    return DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->FWindow = nullptr;
    return DefWindowProcW(window, message, wParam, lParam);
  }
  try {
    return self->Handle(message, wParam, lParam);
  } catch (...) {
    return DefWindowProcW(window, message, wParam, lParam);
  }
}

LRESULT TNVFormWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND window = FWindow;
  switch (message) {
  case WM_ACTIVATE:
    if (LOWORD(wParam) == WA_INACTIVE) {
      HWND focus = GetFocus();
      if (focus && IsChild(window, focus))
        FForm.LastFocus = TNVWindow(focus);
    } else if (FForm.LastFocus && IsWindow(HWND(FForm.LastFocus))) {
      SetFocus(HWND(FForm.LastFocus));
      return 0;
    }
    break;
  case WM_PAINT: {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    FPainter.PaintItems(dc, FForm, GetFocus());
    EndPaint(window, &ps);
    return 0;
  }
  case WM_CLOSE:
    FForm.CloseRequested();
    ReleaseParent();
    break; // the default processing destroys the window
  case WM_ERASEBKGND:
    FPainter.PaintForm(HDC(wParam), FForm);
    return 1;
  case WM_SETCURSOR:
    if (LOWORD(lParam) == HTCLIENT && IsWindowEnabled(window)) {
      POINT p;
      GetCursorPos(&p);
      ScreenToClient(window, &p);
      if (FForm.ClickableImageAt(p.x, p.y)) {
        SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
        return TRUE;
      }
    }
    break;
  case WM_DRAWITEM: {
    const auto &draw = *reinterpret_cast<const DRAWITEMSTRUCT *>(lParam);
    TNVItem *item = FForm.ItemOfWindow(TNVWindow(draw.hwndItem));
    if (item && item->Kind() == TNVItemKind::button) {
      FPainter.DrawButton(draw, static_cast<TNVButton &>(*item));
      return TRUE;
    }
    if (item && item->Kind() == TNVItemKind::checkBox) {
      FPainter.DrawCheckBox(draw, static_cast<TNVCheckBox &>(*item));
      return TRUE;
    }
    break;
  }
  case WM_COMMAND: {
    const LRESULT result = DefWindowProcW(window, message, wParam, lParam);
    OnCommand(wParam, lParam);
    return result;
  }
  case WM_TIMER:
    if (wParam == kFormTimerId) {
      FForm.RaiseEvent(TNVAction::nvaItemEvent, nullptr);
      return 0;
    }
    break;
  case WM_CTLCOLOREDIT: {
    HDC dc = HDC(wParam);
    COLORREF colour = RGB(0, 128, 0);
    TNVItem *item = FForm.ItemOfWindow(TNVWindow(lParam));
    if (item && item->Kind() == TNVItemKind::edit) {
      auto &edit = static_cast<TNVEdit &>(*item);
      if (edit.FNColored)
        colour = RGB(0, 0, 0);
      else if (edit.FNValid)
        colour = RGB(128, 0, 0);
    }
    SetTextColor(dc, colour);
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    return LRESULT(GetSysColorBrush(COLOR_WINDOW));
  }
  case WM_LBUTTONDOWN:
    if (TNVImage *image = FForm.ClickableImageAt(LowSigned(lParam), HighSigned(lParam))) {
      FForm.FCap = image;
      SetCapture(window);
    }
    return 0;
  case WM_LBUTTONUP: {
    TNVImage *image = FForm.FCap;
    FForm.FCap = nullptr;
    if (GetCapture() == window)
      ReleaseCapture();
    if (image && image->FRect.Contains(LowSigned(lParam), HighSigned(lParam)))
      FForm.RaiseEvent(TNVAction::nvaItemEvent, image);
    return 0;
  }
  case WM_DESTROY:
    KillTimer(window, kFormTimerId);
    FForm.WindowGone();
    // Destroyed from within a sent message, the loop may be waiting in GetMessage: wake it.
    PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
    break;
  default:
    break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void TNVFormWindow::OnCommand(WPARAM wParam, LPARAM lParam) {
  const UINT code = HIWORD(wParam), id = LOWORD(wParam);
  TNVItem *item = lParam ? FForm.ItemOfWindow(TNVWindow(lParam)) : nullptr;
  if (!item) {
    // The default-button command (Enter) acts on the main button that has the focus.
    if (id == IDOK)
      if (TNVItem *focused = FForm.ItemOfWindow(TNVWindow(GetFocus())); focused && focused->FIndex <= 2)
        FForm.ItemClicked(*focused);
    return;
  }
  switch (item->Kind()) {
  case TNVItemKind::edit:
    if (code == EN_SETFOCUS || code == EN_KILLFOCUS)
      RepaintArea(ItemWindowRect(*item).Inflated(3));
    else if (code == EN_CHANGE) {
      if (FSettingText)
        FForm.ReevaluateContinue(); // the form raised the item's event itself
      else
        FForm.EditChanged(static_cast<TNVEdit &>(*item));
    }
    break;
  case TNVItemKind::button:
  case TNVItemKind::checkBox:
    if (code == BN_SETFOCUS) {
      if (item->Kind() == TNVItemKind::button && static_cast<TNVButton &>(*item).FNoOwnerDraw) {
        HWND button = HWND(item->FHandle);
        if (FDefaultButton && FDefaultButton != button && IsWindow(FDefaultButton))
          SendMessageW(FDefaultButton, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
        SendMessageW(button, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
        FDefaultButton = button;
      }
    } else if (code == BN_CLICKED) {
      FForm.ItemClicked(*item);
    }
    break;
  default:
    break;
  }
}

// --- the view ----------------------------------------------------------------------------------

std::string TNVFormWindow::ItemText(TNVWindow window) { return ::WindowText(HWND(window)); }

void TNVFormWindow::SetItemText(TNVWindow window, const std::string &text) {
  FSettingText = true;
  SetWindowTextW(HWND(window), Widen(text).c_str());
  FSettingText = false;
  InvalidateRect(HWND(window), nullptr, TRUE);
}

void TNVFormWindow::EnableItem(TNVWindow window, bool enable) { ::EnableWindow(HWND(window), enable); }

bool TNVFormWindow::ItemEnabled(TNVWindow window) { return IsWindowEnabled(HWND(window)); }

void TNVFormWindow::FocusItem(TNVWindow window, bool selectAll) {
  SetFocus(HWND(window));
  if (selectAll)
    SendMessageW(HWND(window), EM_SETSEL, 0, -1);
}

void TNVFormWindow::RepaintItem(TNVWindow window) { InvalidateRect(HWND(window), nullptr, TRUE); }

void TNVFormWindow::RepaintArea(const TNVRect &area) {
  if (!FWindow)
    return;
  const RECT r{area.left, area.top, area.right, area.bottom};
  InvalidateRect(FWindow, &r, TRUE);
}

void TNVFormWindow::StopTimer() {
  if (FWindow)
    KillTimer(FWindow, kFormTimerId);
}

void TNVFormWindow::CloseRequest() {
  if (FWindow)
    SendMessageW(FWindow, WM_CLOSE, 0, 0);
}

void TNVFormWindow::DestroyForm() {
  ReleaseParent();
  if (FWindow)
    DestroyWindow(FWindow);
}

} // namespace kx
