#include "crash/ui/progress/win32/ProgressAlertWin32.h"

#include <commctrl.h>

#include <mutex>
#include <optional>

#include "crash/ui/progress/ProgressModel.h"
#include "runtime/win32/WideText.h"

namespace kx {
namespace {

// Private message of the progress window: show the caption and label text that another thread
// stored in the window's state.
constexpr UINT WM_PROGRESS_SYNC = WM_APP + 0x51;

// How long Close waits for the owning thread to destroy the window when called from another
// thread. When this runs out the close request is posted instead, so the window still goes as
// soon as its thread handles messages again.
constexpr UINT kCloseWaitMs = 2000;

using TFontPtr = std::shared_ptr<std::remove_pointer_t<HFONT>>;

// What the window needs for itself, shared by the object and the window. The window holds its own
// reference until it is destroyed, so its procedure never touches the object, whose last reference
// may go on any thread.
struct TWindowState {
  std::mutex lock;
  bool attached = false; // the window has taken over its reference
  bool closable = false; // a close request destroys the window
  // The latest caption, label text and bar position. Another thread stores them here and marks
  // them for the window's thread, which shows them on WM_PROGRESS_SYNC; the window's own thread
  // shows them at once and clears the mark, so an older posted update never replaces a newer one.
  std::wstring title, label;
  int32_t overall = 0;
  bool titleDirty = false, labelDirty = false, barDirty = false;
  HWND parent = nullptr;
  bool reenableParent = false; // the parent was enabled before Show disabled it
  std::optional<TProgressPicture> picture;
  TFontPtr font;
};
using TStatePtr = std::shared_ptr<TWindowState>;

TWindowState *StateOf(HWND wnd) {
  auto *holder = reinterpret_cast<TStatePtr *>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
  return holder ? holder->get() : nullptr;
}

bool IsClosable(HWND wnd) {
  TWindowState *state = StateOf(wnd);
  if (!state)
    return true;
  std::lock_guard guard(state->lock);
  return state->closable;
}

// Destroys the window on its own thread. The parent is enabled first so that the system can hand
// the activation back to it rather than to another program's window.
void DestroyProgressWindow(HWND wnd) {
  HWND parent = nullptr;
  bool reenable = false;
  if (TWindowState *state = StateOf(wnd)) {
    std::lock_guard guard(state->lock);
    parent = state->parent;
    reenable = state->reenableParent;
    state->reenableParent = false;
  }
  if (parent && reenable)
    EnableWindow(parent, TRUE);
  DestroyWindow(wnd);
  if (parent && IsWindow(parent))
    SetActiveWindow(parent);
}

// A window can end with its thread without running its procedure: give its parent back here.
void ForgetEndedWindow(TWindowState &state) {
  HWND parent = nullptr;
  {
    std::lock_guard guard(state.lock);
    if (state.reenableParent)
      parent = state.parent;
    state.reenableParent = false;
  }
  if (parent && IsWindow(parent))
    EnableWindow(parent, TRUE);
}

uint32_t ButtonFace() {
  const COLORREF c = GetSysColor(COLOR_BTNFACE);
  return uint32_t(GetRValue(c)) << 16 | uint32_t(GetGValue(c)) << 8 | uint32_t(GetBValue(c));
}

bool DrawPicture(HWND wnd, const DRAWITEMSTRUCT &item) {
  TWindowState *state = StateOf(wnd);
  if (!state)
    return false;
  std::vector<uint32_t> pixels;
  bool topDown = false;
  {
    std::lock_guard guard(state->lock);
    if (!state->picture)
      return true; // a picture of the wrong size: the area stays empty
    pixels = BlendPicture(*state->picture, ButtonFace());
    topDown = state->picture->topDown;
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = kPictureSide;
  info.bmiHeader.biHeight = topDown ? -kPictureSide : kPictureSide;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  SetDIBitsToDevice(item.hDC, 0, 0, kPictureSide, kPictureSide, 0, 0, 0, kPictureSide, pixels.data(), &info,
                    DIB_RGB_COLORS);
  return true;
}

void SyncFromState(HWND wnd) {
  TWindowState *state = StateOf(wnd);
  if (!state)
    return;
  std::optional<std::wstring> title, label;
  std::optional<int32_t> overall;
  {
    std::lock_guard guard(state->lock);
    if (state->titleDirty)
      title = state->title;
    if (state->labelDirty)
      label = state->label;
    if (state->barDirty)
      overall = state->overall;
    state->titleDirty = state->labelDirty = state->barDirty = false;
  }
  if (title)
    SetWindowTextW(wnd, title->c_str());
  if (label)
    SetWindowTextW(GetDlgItem(wnd, kProgressLabelId), label->c_str());
  if (overall)
    SendMessageW(GetDlgItem(wnd, kProgressBarId), PBM_SETPOS, WPARAM(*overall), 0);
}

LRESULT CALLBACK ProgressWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
  case WM_NCCREATE: {
    auto *holder = static_cast<TStatePtr *>(reinterpret_cast<CREATESTRUCTW *>(lp)->lpCreateParams);
    SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(holder));
    (*holder)->attached = true;
    break;
  }
  case WM_CLOSE:
    if (IsClosable(wnd))
      DestroyProgressWindow(wnd);
    return 0;
  case WM_SYSCOMMAND:
    if ((wp & 0xFFF0) == SC_CLOSE) {
      if (IsClosable(wnd))
        DestroyProgressWindow(wnd);
      return 0;
    }
    break;
  case WM_DRAWITEM:
    if (wp == kProgressPictureId && DrawPicture(wnd, *reinterpret_cast<const DRAWITEMSTRUCT *>(lp)))
      return TRUE;
    break;
  case WM_PROGRESS_SYNC:
    SyncFromState(wnd);
    return 0;
  case WM_DESTROY:
    // Destroyed without Close (its thread ended): the parent must not stay disabled.
    if (TWindowState *state = StateOf(wnd))
      ForgetEndedWindow(*state);
    return 0;
  case WM_NCDESTROY: {
    auto *holder = reinterpret_cast<TStatePtr *>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
    SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
    delete holder;
    break;
  }
  }
  return DefWindowProcW(wnd, msg, wp, lp);
}

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ProgressWndProc), &module);
  return module;
}

void RegisterProgressClass(HINSTANCE instance) {
  static std::once_flag once;
  std::call_once(once, [instance] {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    // Parent DC only: a class DC would be shared by the windows of every thread that shows one.
    wc.style = CS_PARENTDC;
    wc.lpfnWndProc = ProgressWndProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kProgressWindowClass;
    RegisterClassExW(&wc); // fails harmlessly when the class exists already
  });
}

TFontPtr CreateLabelFont() {
  HFONT font = CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
  if (!font)
    font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif");
  if (!font)
    return {};
  return TFontPtr(font, [](HFONT f) { DeleteObject(f); });
}

// The static child draws with DT_WORDBREAK | DT_EXPANDTABS (and no prefix, see SS_NOPREFIX):
// measuring with the same flags wraps the text the way the child will.
constexpr UINT kLabelDrawFlags = DT_LEFT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX;

class TIProgressAlert final : public IProgressAlert {
public:
  TIProgressAlert(const std::string &title, HMODULE bmpModule, const std::string &bmpName)
      : FTitle(title), FBmpModule(bmpModule), FBmpName(bmpName) {}

  ~TIProgressAlert() override {
    Close();
    if (FTmpDC) {
      SelectObject(FTmpDC, FOldFont);
      DeleteDC(FTmpDC);
    }
  }

  std::string GetTitle() override {
    std::lock_guard guard(FLock);
    return FTitle;
  }

  void SetTitle(const std::string &value) override {
    {
      std::lock_guard guard(FLock);
      if (value == FTitle)
        return;
      FTitle = value;
    }
    Refresh(kTitle);
  }

  int32_t GetPosition() override {
    std::lock_guard guard(FLock);
    return FAreas.Position();
  }

  void SetPosition(int32_t value) override {
    {
      std::lock_guard guard(FLock);
      FAreas.SetPosition(value);
    }
    Refresh(kBar);
  }

  void AddArea(int64_t weight, const std::string &text) override {
    std::lock_guard guard(FLock);
    FAreas.Add(weight, text);
  }

  void ClearAreas() override {
    std::lock_guard guard(FLock);
    FAreas.Clear();
  }

  void AreaDone() override {
    int32_t next;
    {
      std::lock_guard guard(FLock);
      next = FAreas.Current() + 1;
    }
    SetCurrentArea(next);
  }

  int32_t GetCurrentArea() override {
    std::lock_guard guard(FLock);
    return FAreas.Current();
  }

  void SetCurrentArea(int32_t value) override {
    {
      std::lock_guard guard(FLock);
      if (!FAreas.SetCurrent(value))
        return;
    }
    Refresh(kLabel | kBar);
  }

  void ProcessMessages() override {
    {
      std::lock_guard guard(FLock);
      if (!FMainWnd || !OwnedByCaller())
        return;
    }
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // Not ours to take: leave it for the thread's own message loop.
        PostQuitMessage(int(msg.wParam));
        break;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  bool Show(KXWindowHandle parentWindow, bool activate) override;
  void Close() override;

private:
  bool OwnedByCaller() const { return FMainWnd && FOwnerThread == GetCurrentThreadId(); }

  enum : unsigned { kTitle = 1, kLabel = 2, kBar = 4 };

  // Shows the current caption, label text and overall position (the parts asked for) in the
  // window: directly on the window's thread, followed by its pending messages as a new position
  // asks; from any other thread through the window's state and a posted WM_PROGRESS_SYNC, so that
  // no other thread ever waits for the window's thread.
  void Refresh(unsigned parts) {
    HWND wnd, label, bar;
    std::wstring title, text;
    int32_t overall;
    bool own, hasText;
    {
      std::lock_guard guard(FLock);
      if (!FMainWnd)
        return;
      wnd = FMainWnd;
      label = FLabel;
      bar = FBar;
      own = OwnedByCaller();
      const std::optional<std::string> current = FAreas.CurrentText();
      hasText = current.has_value();
      if (!hasText)
        parts &= ~unsigned(kLabel);
      title = Widen(FTitle);
      text = hasText ? Widen(*current) : std::wstring();
      overall = FAreas.Overall();
      std::lock_guard stateGuard(FState->lock);
      if (parts & kTitle) {
        FState->title = title;
        FState->titleDirty = !own;
      }
      if (parts & kLabel) {
        FState->label = text;
        FState->labelDirty = !own;
      }
      if (parts & kBar) {
        FState->overall = overall;
        FState->barDirty = !own;
      }
    }
    if (!own) {
      PostMessageW(wnd, WM_PROGRESS_SYNC, 0, 0);
      return;
    }
    if (parts & kTitle)
      SetWindowTextW(wnd, title.c_str());
    if ((parts & kLabel) && label)
      SetWindowTextW(label, text.c_str());
    if ((parts & kBar) && bar) {
      SendMessageW(bar, PBM_SETPOS, WPARAM(overall), 0);
      ProcessMessages();
    }
  }

  TProgressSize Measure(const std::string &text) {
    RECT r{0, 0, kProgressWrapWidth, 0};
    const std::wstring wide = Widen(text);
    DrawTextW(FTmpDC, wide.c_str(), int(wide.size()), &r, kLabelDrawFlags | DT_CALCRECT);
    return {int32_t(r.right - r.left), int32_t(r.bottom - r.top)};
  }

  std::mutex FLock;
  HWND FParentWindow = nullptr;
  std::string FTitle;
  HDC FTmpDC = nullptr;
  TFontPtr FFont;
  HGDIOBJ FOldFont = nullptr;
  HWND FMainWnd = nullptr;
  HWND FBmpWnd = nullptr;
  HWND FLabel = nullptr;
  HWND FBar = nullptr;
  TProgressAreas FAreas;
  HMODULE FBmpModule = nullptr;
  std::string FBmpName;
  DWORD FOwnerThread = 0;
  bool FShowing = false; // a Show is building the window
  TStatePtr FState;      // the shown window's state
};

bool TIProgressAlert::Show(KXWindowHandle parentWindow, bool activate) {
  std::vector<std::string> texts;
  std::wstring title;
  TStatePtr ended;
  {
    std::lock_guard guard(FLock);
    if (FShowing)
      return false;
    if (FMainWnd) {
      if (IsWindow(FMainWnd))
        return false;
      // The window went with the thread that showed it.
      ended = std::move(FState);
      FMainWnd = FBmpWnd = FLabel = FBar = nullptr;
    }
    FShowing = true;
    FParentWindow = parentWindow;
    if (FAreas.Count() == 0)
      FAreas.Add(1000, "Please wait...");
    texts = FAreas.TextsFromCurrent();
    title = Widen(FTitle);
  }

  if (ended)
    ForgetEndedWindow(*ended);

  auto state = std::make_shared<TWindowState>();
  state->parent = parentWindow;
  if (parentWindow)
    state->reenableParent = !EnableWindow(parentWindow, FALSE); // nonzero: it was disabled already

  const HINSTANCE instance = ThisModule();
  RegisterProgressClass(instance);

  if (!FFont) {
    FFont = CreateLabelFont();
    FTmpDC = CreateCompatibleDC(nullptr);
    if (FTmpDC && FFont)
      FOldFont = SelectObject(FTmpDC, FFont.get());
  }
  state->font = FFont;

  std::vector<TProgressSize> sizes;
  for (const std::string &text : texts)
    sizes.push_back(Measure(text));

  bool hasPicture = false;
  if (FBmpModule && !FBmpName.empty()) {
    const std::wstring name = Widen(FBmpName);
    if (HRSRC resource = FindResourceW(FBmpModule, name.c_str(), MAKEINTRESOURCEW(2) /* RT_BITMAP */)) {
      hasPicture = true;
      HGLOBAL data = LoadResource(FBmpModule, resource);
      const void *bytes = data ? LockResource(data) : nullptr;
      if (bytes)
        state->picture = ReadProgressPicture(static_cast<const uint8_t *>(bytes), SizeofResource(FBmpModule, resource));
    }
  }

  const TProgressLayout layout = LayoutProgressWindow(sizes, hasPicture, GetSystemMetrics(SM_CYHSCROLL));
  constexpr DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_TOOLWINDOW;
  constexpr DWORD style = WS_CAPTION;
  RECT frame{0, 0, layout.client.cx, layout.client.cy};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const TProgressSize size{int32_t(frame.right - frame.left), int32_t(frame.bottom - frame.top)};

  auto *holder = new TStatePtr(state);
  HWND wnd = CreateWindowExW(exStyle, kProgressWindowClass, title.c_str(), style, 0, 0, size.cx, size.cy,
                             parentWindow, nullptr, instance, holder);
  if (!wnd) {
    if (!state->attached)
      delete holder;
    if (parentWindow && state->reenableParent)
      EnableWindow(parentWindow, TRUE);
    std::lock_guard guard(FLock);
    FShowing = false;
    return false;
  }

  if (HMENU menu = GetSystemMenu(wnd, FALSE)) {
    for (UINT command : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE})
      DeleteMenu(menu, command, MF_BYCOMMAND);
  }

  HWND picture = nullptr;
  if (layout.hasPicture)
    picture = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_OWNERDRAW,
                              layout.picture.x, layout.picture.y, layout.picture.cx, layout.picture.cy, wnd,
                              reinterpret_cast<HMENU>(INT_PTR(kProgressPictureId)), instance, nullptr);
  const std::wstring firstText = texts.empty() ? std::wstring() : Widen(texts.front());
  HWND label = CreateWindowExW(0, L"STATIC", firstText.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                               layout.label.x, layout.label.y, layout.label.cx, layout.label.cy, wnd,
                               reinterpret_cast<HMENU>(INT_PTR(kProgressLabelId)), instance, nullptr);
  if (label && FFont)
    SendMessageW(label, WM_SETFONT, WPARAM(FFont.get()), FALSE);
  HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, layout.bar.x, layout.bar.y,
                             layout.bar.cx, layout.bar.cy, wnd, reinterpret_cast<HMENU>(INT_PTR(kProgressBarId)),
                             instance, nullptr);
  if (bar)
    SendMessageW(bar, PBM_SETRANGE32, 0, 1000);

  if (IsIconic(wnd))
    ShowWindow(wnd, SW_RESTORE);
  if (activate) {
    const TProgressPoint at =
        CentreOnScreen(size, {int32_t(GetSystemMetrics(SM_CXSCREEN)), int32_t(GetSystemMetrics(SM_CYSCREEN))});
    SetWindowPos(wnd, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(wnd, SW_SHOWNORMAL);
    BringWindowToTop(wnd);
    SetForegroundWindow(wnd);
  } else {
    RECT work;
    TProgressBounds area;
    if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
      area = {int32_t(work.left), int32_t(work.top), int32_t(work.right), int32_t(work.bottom)};
    else
      area = {0, 0, int32_t(GetSystemMetrics(SM_CXFULLSCREEN)),
              int32_t(GetSystemMetrics(SM_CYFULLSCREEN) + GetSystemMetrics(SM_CYCAPTION))};
    const TProgressPoint at = BottomRightOf(size, area);
    SetWindowPos(wnd, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(wnd, SW_SHOWNOACTIVATE);
  }
  if (IsIconic(wnd))
    ShowWindow(wnd, SW_RESTORE);

  {
    std::lock_guard guard(FLock);
    FMainWnd = wnd;
    FBmpWnd = picture;
    FLabel = label;
    FBar = bar;
    FState = state;
    FOwnerThread = GetCurrentThreadId();
    FShowing = false;
  }
  // Another thread may have moved on while the window was being built.
  Refresh(kTitle | kLabel | kBar);
  return true;
}

void TIProgressAlert::Close() {
  HWND wnd;
  TStatePtr state;
  bool own;
  {
    std::lock_guard guard(FLock);
    if (!FMainWnd)
      return;
    wnd = FMainWnd;
    state = FState;
    own = OwnedByCaller();
    FMainWnd = FBmpWnd = FLabel = FBar = nullptr;
    FState.reset();
    FOwnerThread = 0;
  }
  if (own) {
    DestroyProgressWindow(wnd);
    return;
  }
  if (!IsWindow(wnd)) {
    ForgetEndedWindow(*state);
    return;
  }
  {
    std::lock_guard guard(state->lock);
    state->closable = true;
  }
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(wnd, WM_SYSCOMMAND, SC_CLOSE, 0, SMTO_NORMAL, kCloseWaitMs, &result) &&
      GetLastError() == ERROR_TIMEOUT)
    PostMessageW(wnd, WM_SYSCOMMAND, SC_CLOSE, 0); // not taken while waiting: queue it for later

}

} // namespace

std::shared_ptr<IProgressAlert> CreateProgressAlert(const std::string &title, HMODULE bmpModule,
                                                    const std::string &bmpName) {
  return std::make_shared<TIProgressAlert>(title, bmpModule, bmpName);
}

} // namespace kx
