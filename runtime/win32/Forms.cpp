#include "runtime/win32/Forms.h"

#include "runtime/win32/Application.h"
#include "runtime/win32/WideText.h"

#include <commctrl.h>

namespace {

const wchar_t kPanelClass[] = L"TPanel";

void RegisterClassOnce(const std::wstring &name, WNDPROC proc, HBRUSH background) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof(existing);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (GetClassInfoExW(instance, name.c_str(), &existing))
    return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = background;
  wc.lpszClassName = name.c_str();
  wc.hIcon = LoadIconW(instance, L"MAINICON");
  if (!wc.hIcon)
    wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  RegisterClassExW(&wc);
}

} // namespace

std::string TControl::Text() const { return WindowText(FHandle); }

void TControl::SetText(const std::string &text) { SetWindowTextW(FHandle, Widen(text).c_str()); }

TForm::TForm(const std::string &windowClass, const std::string &caption, int clientWidth,
             int clientHeight) {
  INITCOMMONCONTROLSEX icc{};
  icc.dwSize = sizeof(icc);
  icc.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
  InitCommonControlsEx(&icc);
  HBRUSH face = GetSysColorBrush(COLOR_BTNFACE);
  RegisterClassOnce(Widen(windowClass), FormProc, face);
  RegisterClassOnce(kPanelClass, PanelProc, face);

  // Tahoma 8 pt at 96 pixels per inch.
  FFont = CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");

  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_CONTROLPARENT | WS_EX_APPWINDOW;
  RECT frame{0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  int width = frame.right - frame.left, height = frame.bottom - frame.top;
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  int left = work.left + ((work.right - work.left) - width) / 2;
  int top = work.top + ((work.bottom - work.top) - height) / 2;

  if (Application)
    Application->RegisterForm(this);
  FHandle = CreateWindowExW(exStyle, Widen(windowClass).c_str(), Widen(caption).c_str(), style, left,
                            top, width, height, nullptr, nullptr, GetModuleHandleW(nullptr), this);
  FToolTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, FHandle,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
}

TForm::~TForm() {
  if (FHandle && IsWindow(FHandle)) {
    SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
    DestroyWindow(FHandle);
  }
  if (Application)
    Application->MainFormDestroyed(this);
  if (FFont)
    DeleteObject(FFont);
}

void TForm::Show() {
  ShowWindow(FHandle, SW_SHOW);
  UpdateWindow(FHandle);
}

void TForm::Close() { PostMessageW(FHandle, WM_CLOSE, 0, 0); }

template <class T>
T *TForm::Add(TControl *parent, int id, TBounds bounds, const wchar_t *windowClass,
              const std::string &text, DWORD style, DWORD exStyle) {
  auto control = std::make_unique<T>();
  HWND parentWindow = parent ? parent->Handle() : FHandle;
  control->FId = id;
  control->FBounds = bounds;
  control->FHandle = CreateWindowExW(exStyle, windowClass, Widen(text).c_str(), WS_CHILD | WS_VISIBLE | style,
                                     bounds.Left, bounds.Top, bounds.Width, bounds.Height, parentWindow,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                     GetModuleHandleW(nullptr), nullptr);
  SendMessageW(control->FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
  T *raw = control.get();
  FControls.push_back(std::move(control));
  return raw;
}

TLabel *TForm::AddLabel(TControl *parent, int id, TBounds bounds, const std::string &caption) {
  return Add<TLabel>(parent, id, bounds, L"STATIC", caption, SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0);
}

TButton *TForm::AddButton(TControl *parent, int id, TBounds bounds, const std::string &caption) {
  return Add<TButton>(parent, id, bounds, L"BUTTON", caption, WS_TABSTOP | BS_PUSHBUTTON, 0);
}

TEdit *TForm::AddEdit(TControl *parent, int id, TBounds bounds, const std::string &text, bool digitsOnly) {
  return Add<TEdit>(parent, id, bounds, L"EDIT", text,
                    WS_TABSTOP | ES_AUTOHSCROLL | (digitsOnly ? ES_NUMBER : 0), WS_EX_CLIENTEDGE);
}

TPanel *TForm::AddPanel(TControl *parent, int id, TBounds bounds) {
  return Add<TPanel>(parent, id, bounds, kPanelClass, "", WS_TABSTOP, WS_EX_CONTROLPARENT);
}

void TForm::SetHint(TControl *control, const std::string &hint) {
  std::wstring text = Widen(hint);
  TTTOOLINFOW info{};
  info.cbSize = TTTOOLINFOW_V2_SIZE;
  info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  info.hwnd = FHandle;
  info.uId = reinterpret_cast<UINT_PTR>(control->Handle());
  info.lpszText = text.data();
  SendMessageW(FToolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

TControl *TForm::FindControl(HWND window) const {
  for (const auto &control : FControls)
    if (control->Handle() == window)
      return control.get();
  return nullptr;
}

LRESULT TForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
  case WM_SHOWWINDOW:
    if (wParam && !FShown) {
      FShown = true;
      FormShow();
    }
    break;
  case WM_COMMAND:
    if (HIWORD(wParam) == BN_CLICKED) {
      TControl *control = FindControl(reinterpret_cast<HWND>(lParam));
      if (control && control->OnClick)
        control->OnClick();
      return 0;
    }
    break;
  case WM_CTLCOLORSTATIC: {
    TControl *control = FindControl(reinterpret_cast<HWND>(lParam));
    auto label = dynamic_cast<TLabel *>(control);
    if (!label)
      break;
    HDC dc = reinterpret_cast<HDC>(wParam);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, label->FontColor != CLR_INVALID ? label->FontColor : GetSysColor(COLOR_WINDOWTEXT));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
  }
  case WM_CLOSE:
    DestroyWindow(FHandle);
    return 0;
  case WM_DESTROY:
    if (Application && Application->MainForm() == this)
      Application->MainFormDestroyed(this);
    break;
  case WM_NCDESTROY:
    FHandle = nullptr;
    break;
  }
  return DefWindowProcW(FHandle, msg, wParam, lParam);
}

LRESULT CALLBACK TForm::FormProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto create = reinterpret_cast<CREATESTRUCTW *>(lParam);
    auto self = static_cast<TForm *>(create->lpCreateParams);
    self->FHandle = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto self = reinterpret_cast<TForm *>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self)
    return DefWindowProcW(window, msg, wParam, lParam);
  // No exception may leave a window procedure: the system's dispatcher lies between it and
  // the message loop.
  try {
    return self->WndProc(msg, wParam, lParam);
  } catch (...) {
    if (Application)
      Application->HandleException(self);
    return 0;
  }
}

LRESULT CALLBACK TForm::PanelProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
  case WM_COMMAND:
  case WM_CTLCOLORSTATIC:
  case WM_CTLCOLOREDIT:
  case WM_CTLCOLORBTN:
  case WM_NOTIFY:
    // Controls on a panel talk to the form that owns the panel.
    return SendMessageW(GetAncestor(window, GA_ROOT), msg, wParam, lParam);
  case WM_PAINT: {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT r;
    GetClientRect(window, &r);
    DrawEdge(dc, &r, BDR_RAISEDOUTER, BF_RECT);
    EndPaint(window, &ps);
    return 0;
  }
  }
  return DefWindowProcW(window, msg, wParam, lParam);
}
