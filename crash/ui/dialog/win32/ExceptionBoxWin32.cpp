#include "crash/ui/dialog/win32/ExceptionBoxWin32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>

#include "crash/ui/dialog/BoxColours.h"
#include "runtime/win32/WideText.h"

namespace kx {
namespace {

constexpr UINT_PTR kCountdownTimer = 777;
constexpr DWORD kPressAnimationGap = 200; // ms since the last focus animation

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

// The executable's file name without folder and without its last extension.
std::string ExeTitle() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name = path;
  const size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos)
    name.erase(0, slash + 1);
  const size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos && dot > 0)
    name.erase(dot);
  return Narrow(name);
}

TBoxMetrics ScreenMetrics() {
  TBoxMetrics m;
  m.screenWidth = GetSystemMetrics(SM_CXSCREEN);
  m.screenHeight = GetSystemMetrics(SM_CYSCREEN);
  m.captionHeight = GetSystemMetrics(SM_CYCAPTION);
  m.frameExtraX = 2 * (GetSystemMetrics(SM_CXFRAME) - GetSystemMetrics(SM_CXDLGFRAME));
  m.frameExtraY = 2 * (GetSystemMetrics(SM_CYFRAME) - GetSystemMetrics(SM_CYDLGFRAME));
  return m;
}

void RegisterBoxClass(HINSTANCE instance, WNDPROC proc) {
  WNDCLASSW wc{};
  wc.style = CS_CLASSDC | CS_PARENTDC;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"KestrelixWndClass";
  RegisterClassW(&wc); // fails harmlessly when this module registered it before
}

} // namespace

TExceptionBox::TExceptionBox(IExceptionBoxSubject &exc, TBoxForm form, bool makeSound)
    : FExc(exc), FForm(form), FDefaultMsgBox(form != TBoxForm::fullBox) {
  IKXSettings &settings = FExc.Settings();
  const bool full = !FDefaultMsgBox;
  // 1. The resizable form shows the report anyway.
  if (full && settings.GetAutoShowBugReport())
    settings.SetShowBtnVisible(false);
  FResizable = full && settings.GetAutoShowBugReport();
  FUgly = settings.GetNoOwnerDrawButtons();
  FModule = reinterpret_cast<HMODULE>(settings.Module());

  FImageList = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 1);

  // 2. The focus the automatic actions ask for.
  const std::array<bool, kBoxButtonCount> settingsVisible{
      settings.GetSendBtnVisible(),     settings.GetSaveBtnVisible(),    settings.GetPrintBtnVisible(),
      settings.GetShowBtnVisible(),     settings.GetContinueBtnVisible(), settings.GetRestartBtnVisible(),
      settings.GetCloseBtnVisible()};
  FSwitches.visible = settingsVisible;
  FSwitches.canContinue = FExc.CanContinue();
  FSwitches.autoContinue = settings.GetAutoContinue();
  FSwitches.autoCloseDue = FExc.AutoActionDue(settings.GetAutoClose());
  FSwitches.autoRestartDue = FExc.AutoActionDue(settings.GetAutoRestart());
  const int automatic = AutomaticFocus(FSwitches);
  if (automatic != kNoButton)
    settings.SetFocusedButton(TKXButton(automatic));
  const int focusedBtn = int(settings.GetFocusedButton());
  FSwitches.visible = BoxButtonVisibility(form, settingsVisible);

  // 3, 4. Text and title.
  const std::string message = BreakExceptMessage(FExc.ExceptMessage());
  std::string text, title;
  if (full) {
    text = FExc.DialogText(FExc.IsFrozen(), message);
    title = settings.GetTitleBar();
  } else {
    text = message;
    title = ExeTitle();
  }

  // 5. The window.
  HINSTANCE instance = ThisModule();
  RegisterBoxClass(instance, StaticWndProc);
  DWORD style = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  if (FResizable)
    style |= WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  FMainWnd = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, L"KestrelixWndClass", Widen(title).c_str(), style,
                             0, 0, 100, 100, nullptr, nullptr, instance, this);
  if (!FMainWnd)
    return;
  if (!FResizable) {
    HMENU menu = GetSystemMenu(FMainWnd, FALSE);
    for (UINT cmd : {SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE, SC_SIZE})
      RemoveMenu(menu, cmd, MF_BYCOMMAND);
  }

  // 6. Fonts and the off-screen device context.
  FPainter = std::make_unique<TBoxPainter>(FModule, FUgly);

  // 7-11. Widths, layout kind, sizes and rows.
  TBoxLayoutInput in;
  in.form = form;
  in.resizable = FResizable;
  in.uglyBtns = FUgly;
  in.visible = FSwitches.visible;
  if (full)
    in.captions = {settings.GetSendBtnCaption(),     settings.GetSaveBtnCaption(),    settings.GetPrintBtnCaption(),
                   settings.GetShowBtnCaption(),     settings.GetContinueBtnCaption(), settings.GetRestartBtnCaption(),
                   settings.GetCloseBtnCaption()};
  else {
    in.captions[kBtnShow] = settings.GetDetailsBtnCaption();
    in.captions[kBtnContinue] = settings.GetOkBtnCaption();
  }
  in.hasIcon = FPainter->HasIcon(kBtnBigIcon);
  in.text = text;
  in.metrics = ScreenMetrics();
  FLayout = LayoutExceptionBox(in, *FPainter);
  FPainter->MakeButtonBitmap(FLayout.tmpWidth, FLayout.btnHeight);

  if (in.hasIcon) {
    const TBoxRect &r = FLayout.icon;
    FIcoWnd = CreateWindowExW(0, L"Button", L"", WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_OWNERDRAW, r.x, r.y, r.w,
                              r.h, FMainWnd, reinterpret_cast<HMENU>(INT_PTR(kIconId)), instance, nullptr);
    SetWindowLongPtrW(FIcoWnd, GWLP_USERDATA, kBtnBigIcon);
  }

  // 12. Buttons and the message.
  CreateButtons(focusedBtn);
  const TBoxRect &m = FLayout.message;
  HWND msgWnd = CreateWindowExW(0, L"Static", Widen(text).c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                                m.x, m.y, m.w, m.h, FMainWnd, reinterpret_cast<HMENU>(INT_PTR(kMessageId)), instance,
                                nullptr);
  SendMessageW(msgWnd, WM_SETFONT, WPARAM(FPainter->DialogFont()), FALSE);

  // 13. Label strip and details pane.
  FNCLabelY = FLayout.labelY;
  if (FLayout.hasDetails)
    CreateDetails(FLayout.details.x, FLayout.details.y, FLayout.details.w, FLayout.details.h);

  // 14. Size, position, countdown, sound, showing.
  const TBoxRect at = CentreOnScreen(FLayout.outer, in.metrics);
  SetWindowPos(FMainWnd, nullptr, at.x, at.y, at.w, at.h, SWP_NOZORDER | SWP_NOACTIVATE);
  RECT wr;
  GetWindowRect(FMainWnd, &wr);
  FMinWidth = wr.right - wr.left;
  FMinHeight = wr.bottom - wr.top;
  FSizingDone = true;
  HWND timerBtn = nullptr;
  if (full) {
    const int countdown = CountdownButton(FSwitches);
    if (countdown != kNoButton)
      timerBtn = FButtons[size_t(countdown)];
  }
  if (makeSound)
    MessageBeep(MB_ICONHAND);
  ShowWindow(FMainWnd, SW_SHOWNORMAL);
  if (IsIconic(FMainWnd))
    ShowWindow(FMainWnd, SW_RESTORE);
  BringWindowToTop(FMainWnd);
  SetForegroundWindow(FMainWnd);
  // The countdown starts once the window is shown, so that the focus settling while it is shown
  // does not count as the user moving it.
  if (timerBtn) {
    FCountdown.button = timerBtn;
    FCountdown.x = 0;
    FTime = GetTickCount();
    FCountdownRuns = true;
    SetTimer(FMainWnd, kCountdownTimer, 10, nullptr);
    InvalidateRect(timerBtn, nullptr, FALSE);
  }
  if (full && FExc.IsFrozen())
    FExc.PostFreezeDialog(FMainWnd);
  // Report changes may come from any thread: they only post a message to the window.
  FCallbackWindow = FMainWnd;
  FExc.RegisterBugReportCallback(FCallbackWindow);
}

TExceptionBox::~TExceptionBox() {
  if (FCallbackWindow)
    FExc.UnregisterBugReportCallback(FCallbackWindow);
  if (FMainWnd && IsWindow(FMainWnd))
    CloseMainWnd();
  FPainter.reset();
  if (FImageList)
    ImageList_Destroy(FImageList);
}

void TExceptionBox::CreateButtons(int focusedBtn) {
  HINSTANCE instance = ThisModule();
  IKXSettings &settings = FExc.Settings();
  const bool full = !FDefaultMsgBox;
  HWND focus = nullptr;
  for (int i = 0; i < kBoxButtonCount; ++i) {
    if (!FSwitches.visible[size_t(i)])
      continue;
    std::string caption;
    if (full) {
      static constexpr std::string (IKXSettings::*captions[])() = {
          &IKXSettings::GetSendBtnCaption,     &IKXSettings::GetSaveBtnCaption,    &IKXSettings::GetPrintBtnCaption,
          &IKXSettings::GetShowBtnCaption,     &IKXSettings::GetContinueBtnCaption, &IKXSettings::GetRestartBtnCaption,
          &IKXSettings::GetCloseBtnCaption};
      caption = (settings.*captions[i])();
    } else {
      caption = i == kBtnShow ? settings.GetDetailsBtnCaption() : settings.GetOkBtnCaption();
    }
    // The default button: FocusedBtn in the full dialog, OK in the message boxes. A disabled
    // continue button is never the default.
    const bool disabled = i == kBtnContinue && full && !FSwitches.canContinue &&
                          (FSwitches.visible[kBtnRestart] || FSwitches.visible[kBtnClose]);
    const bool isDefault = !focus && !disabled && (full ? i == focusedBtn : i == kBtnContinue);
    DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
    if (full)
      style |= BS_OWNERDRAW;
    else
      style |= isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
    const TBoxRect &r = FLayout.buttons[size_t(i)];
    HWND btn = CreateWindowExW(0, L"Button", Widen(caption).c_str(), style, r.x, r.y, r.w, r.h, FMainWnd,
                               reinterpret_cast<HMENU>(INT_PTR(kFirstButtonId + i)), instance, nullptr);
    SetWindowLongPtrW(btn, GWLP_USERDATA, i);
    SendMessageW(btn, WM_SETFONT, WPARAM(FPainter->DialogFont()), FALSE);
    FButtons[size_t(i)] = btn;
    if (disabled) {
      EnableWindow(btn, FALSE);
      SetWindowLongPtrW(btn, GWLP_USERDATA, kBtnCantContinue);
    }
    if (isDefault)
      focus = btn;
  }
  if (focus) {
    SetFocus(focus);
    FSavedFocus = focus;
  }
}

void TExceptionBox::CreateDetails(int32_t x, int32_t y, int32_t w, int32_t h) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  FTabs = CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_TABSTOP,
                          x, y, w, h, FMainWnd, reinterpret_cast<HMENU>(INT_PTR(kTabsId)), ThisModule(), nullptr);
  if (!FTabs)
    return;
  SendMessageW(FTabs, WM_SETFONT, WPARAM(FPainter->DialogFont()), FALSE);
  // The view is the tab control's child, so its colour messages arrive at the tab control.
  SetPropW(FTabs, L"KestrelixBox", this);
  FOldTabsWndProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(FTabs, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TExceptionBox::TabsWndProc)));
  RefreshDetails();
}

LRESULT CALLBACK TExceptionBox::TabsWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto *box = static_cast<TExceptionBox *>(GetPropW(wnd, L"KestrelixBox"));
  if (!box)
    return DefWindowProcW(wnd, msg, wp, lp);
  const WNDPROC old = box->FOldTabsWndProc;
  switch (msg) {
  case WM_DRAWITEM: {
    const auto &item = *reinterpret_cast<const DRAWITEMSTRUCT *>(lp);
    if (item.CtlType == ODT_LISTVIEW && item.hwndItem == box->FEdit) {
      box->DrawListRow(item);
      return TRUE;
    }
    break;
  }
  case WM_CTLCOLORSTATIC: // the read-only view is white
    SetBkColor(reinterpret_cast<HDC>(wp), RGB(255, 255, 255));
    return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
  case WM_NCDESTROY:
    SetWindowLongPtrW(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
    RemovePropW(wnd, L"KestrelixBox");
    break;
  }
  return CallWindowProcW(old, wnd, msg, wp, lp);
}

void TExceptionBox::CheckTabs(const TReportSnapshot &report) {
  if (!FTabs)
    return;
  std::vector<std::string> current;
  const int count = int(SendMessageW(FTabs, TCM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    wchar_t caption[128] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = caption;
    item.cchTextMax = 127;
    SendMessageW(FTabs, TCM_GETITEMW, WPARAM(i), reinterpret_cast<LPARAM>(&item));
    current.push_back(Narrow(caption));
  }
  const TTabEdits edits = SyncTabs(current, WantedTabCaptions(report));
  if (edits.Empty())
    return;
  const int selected = int(SendMessageW(FTabs, TCM_GETCURSEL, 0, 0));
  for (int index : edits.deletions)
    SendMessageW(FTabs, TCM_DELETEITEM, WPARAM(index), 0);
  for (const auto &[index, caption] : edits.insertions) {
    std::wstring text = Widen(caption);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text.data();
    SendMessageW(FTabs, TCM_INSERTITEMW, WPARAM(index), reinterpret_cast<LPARAM>(&item));
  }
  // A selected tab that was replaced (say "call stack" by "call stacks") keeps its place.
  if (SendMessageW(FTabs, TCM_GETCURSEL, 0, 0) < 0) {
    const int count = int(SendMessageW(FTabs, TCM_GETITEMCOUNT, 0, 0));
    SendMessageW(FTabs, TCM_SETCURSEL, WPARAM(std::clamp(selected, 0, std::max(count - 1, 0))), 0);
  }
  InvalidateRect(FTabs, nullptr, TRUE);
}

void TExceptionBox::CheckCurrentTab(const TReportSnapshot &report) {
  if (!FTabs)
    return;
  const int tab = FShuttingDown ? -1 : int(SendMessageW(FTabs, TCM_GETCURSEL, 0, 0));
  const std::string text = TabContent(report, tab);
  if (tab == FCurrentTab && text == FCurrentTabContent && (FEdit || tab < 0))
    return;
  if (FEdit) {
    if (GetDlgCtrlID(FEdit) == kListId)
      SendMessageW(FEdit, LVM_SETIMAGELIST, LVSIL_SMALL, 0); // the image list outlives the view
    DestroyWindow(FEdit);
    FEdit = nullptr;
  }
  FTable = {};
  FCurrentTab = tab;
  FCurrentTabContent = text;
  if (tab < 0)
    return;
  RECT r;
  GetClientRect(FTabs, &r);
  SendMessageW(FTabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
  r.left -= 1;
  r.top += 2;
  InflateRect(&r, -3, -3);
  const TDetailsTable table = PrepareDetailsView(tab, TabSectionName(report, tab), text);
  if (table.IsTable()) {
    FEdit = CreateListView(r, table);
    if (FEdit)
      return;
  }
  FEdit = CreateWindowExW(0, L"Edit", Widen(text).c_str(),
                          WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
                          r.left, r.top, std::max<LONG>(r.right - r.left, 0), std::max<LONG>(r.bottom - r.top, 0),
                          FTabs, reinterpret_cast<HMENU>(INT_PTR(kEditId)), ThisModule(), nullptr);
  SendMessageW(FEdit, WM_SETFONT, WPARAM(FPainter->DialogFont()), TRUE);
}

HWND TExceptionBox::CreateListView(const RECT &r, const TDetailsTable &table) {
  DWORD style = WS_CHILD | WS_BORDER | WS_HSCROLL | WS_VSCROLL | LVS_REPORT | LVS_SINGLESEL | LVS_NOSORTHEADER |
                LVS_SHOWSELALWAYS | LVS_OWNERDRAWFIXED;
  if (!table.showHeaders)
    style |= LVS_NOCOLUMNHEADER;
  HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"", style, r.left, r.top, std::max<LONG>(r.right - r.left, 0),
                              std::max<LONG>(r.bottom - r.top, 0), FTabs, reinterpret_cast<HMENU>(INT_PTR(kListId)),
                              ThisModule(), nullptr);
  if (!list)
    return nullptr;
  SendMessageW(list, WM_SETFONT, WPARAM(table.fixedPitch ? FPainter->FixedFont() : FPainter->DialogFont()), FALSE);
  if (FImageList)
    SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(FImageList));
  FTable = table;
  for (size_t c = 0; c < table.columns.size(); ++c) {
    std::wstring caption = Widen(table.columns[c].caption);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
    column.fmt = table.columns[c].rightAligned && c > 0 ? LVCFMT_RIGHT : LVCFMT_LEFT;
    column.cx = 80;
    column.pszText = caption.data();
    SendMessageW(list, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
  }
  int index = 0;
  for (const TDetailsRow &row : table.rows) {
    size_t start = 0;
    for (size_t c = 0; c < table.columns.size(); ++c) {
      const size_t end = row.captions.find('\t', start);
      std::string cell = start <= row.captions.size()
                             ? row.captions.substr(start, end == std::string::npos ? std::string::npos : end - start)
                             : std::string();
      start = end == std::string::npos ? row.captions.size() + 1 : end + 1;
      if (cell.rfind(">>", 0) == 0)
        cell = ">>";
      const size_t first = cell.find_first_not_of(' '), last = cell.find_last_not_of(' ');
      cell = first == std::string::npos ? std::string() : cell.substr(first, last - first + 1);
      if (table.columns[c].upperCase)
        for (char &ch : cell)
          if (ch >= 'a' && ch <= 'z')
            ch = char(ch - 'a' + 'A');
      std::wstring text = Widen(cell);
      LVITEMW item{};
      item.mask = LVIF_TEXT;
      item.iItem = index;
      item.iSubItem = int(c);
      item.pszText = text.data();
      if (c == 0)
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
      else
        SendMessageW(list, LVM_SETITEMTEXTW, WPARAM(index), reinterpret_cast<LPARAM>(&item));
    }
    ++index;
  }
  // Each column as wide as its contents, and with headers never narrower than its caption.
  for (size_t c = 0; c < table.columns.size(); ++c) {
    SendMessageW(list, LVM_SETCOLUMNWIDTH, c, LVSCW_AUTOSIZE);
    if (!table.showHeaders)
      continue;
    const LRESULT contents = SendMessageW(list, LVM_GETCOLUMNWIDTH, c, 0);
    SendMessageW(list, LVM_SETCOLUMNWIDTH, c, LVSCW_AUTOSIZE_USEHEADER);
    if (SendMessageW(list, LVM_GETCOLUMNWIDTH, c, 0) < contents)
      SendMessageW(list, LVM_SETCOLUMNWIDTH, c, contents);
  }
  ShowWindow(list, SW_SHOWNA);
  return list;
}

void TExceptionBox::DrawListRow(const DRAWITEMSTRUCT &item) {
  HWND list = item.hwndItem;
  HDC dc = item.hDC;
  const int row = int(item.itemID);
  if (row < 0 || size_t(row) >= FTable.rows.size())
    return;
  const TDetailsRow &data = FTable.rows[size_t(row)];
  const bool selected = item.itemState & ODS_SELECTED;
  const bool deep = TBoxPainter::DeepDisplay();
  const int columns = int(FTable.columns.size());
  auto background = [&](int column) -> COLORREF {
    COLORREF c = data.forceColor ? data.forceColor
                 : (column % 2 == 1 || columns == 1) ? 0xFFFFFF
                 : column % 4 == 0                   ? 0xFFF8F0
                                                     : 0xF4F4FF;
    if (!deep) {
      switch (c) {
      case 0xD0D0FF:
        return selected ? 0x80 : 0xFF;
      case 0xF4F4FF:
        return selected ? 0x808000 : 0xFFFF80;
      case 0xFFF8F0:
        return selected ? 0x8080 : 0xC0FFFF;
      default:
        return selected ? 0xC0C0C0 : 0xFFFFFF;
      }
    }
    return selected ? c - 0x101010 : c;
  };
  const RECT rowRect = item.rcItem;
  SetBkMode(dc, TRANSPARENT);
  if (data.captions.rfind(">>", 0) == 0) {
    // A marker row: one line of text across the row.
    HBRUSH brush = CreateSolidBrush(background(1));
    FillRect(dc, &rowRect, brush);
    DeleteObject(brush);
    RECT t = rowRect;
    t.left += 6;
    t.top += 2;
    const std::string line = data.captions.size() > 3 ? data.captions.substr(3) : std::string();
    HFONT bold = nullptr;
    HGDIOBJ oldFont = nullptr;
    if (data.title) {
      // A title: bold, over a 2-pixel line.
      LOGFONTW lf{};
      GetObjectW(GetCurrentObject(dc, OBJ_FONT), sizeof(lf), &lf);
      lf.lfWeight = 700;
      bold = CreateFontIndirectW(&lf);
      oldFont = SelectObject(dc, bold);
      RECT under{rowRect.left, rowRect.bottom - 2, rowRect.right, rowRect.bottom};
      HBRUSH lineBrush = CreateSolidBrush(selected ? 0xA0A0A0 : 0xC0C0C0);
      FillRect(dc, &under, lineBrush);
      DeleteObject(lineBrush);
      SetTextColor(dc, 0);
    } else {
      SetTextColor(dc, 0x606060);
    }
    DrawTextA(dc, line.c_str(), int(line.size()), &t, DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    if (bold) {
      SelectObject(dc, oldFont);
      DeleteObject(bold);
    }
    SetTextColor(dc, 0);
    return;
  }
  int x = rowRect.left;
  for (int c = 0; c < columns; ++c) {
    const int width = int(SendMessageW(list, LVM_GETCOLUMNWIDTH, WPARAM(c), 0));
    RECT cell{x, rowRect.top, x + width, rowRect.bottom};
    x += width;
    HBRUSH brush = CreateSolidBrush(background(c));
    FillRect(dc, &cell, brush);
    DeleteObject(brush);
    wchar_t buf[512] = {};
    LVITEMW get{};
    get.iSubItem = c;
    get.pszText = buf;
    get.cchTextMax = 511;
    SendMessageW(list, LVM_GETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(&get));
    RECT t{cell.left + (c == 0 ? 6 : 4), cell.top + 2, cell.right - (c == 0 ? 6 : 4), cell.bottom};
    const bool path = wcslen(buf) >= 3 && buf[1] == L':' && buf[2] == L'\\';
    UINT flags = DT_SINGLELINE | DT_NOPREFIX | (path ? DT_PATH_ELLIPSIS : DT_END_ELLIPSIS);
    flags |= FTable.columns[size_t(c)].rightAligned ? DT_RIGHT : DT_LEFT;
    SetTextColor(dc, 0);
    DrawTextW(dc, buf, -1, &t, flags);
  }
  RECT rest{x, rowRect.top, rowRect.right, rowRect.bottom};
  if (rest.right > rest.left) {
    HBRUSH brush = CreateSolidBrush(0xFFFFFF);
    FillRect(dc, &rest, brush);
    DeleteObject(brush);
  }
  if (selected) {
    HBRUSH frame = CreateSolidBrush(deep ? 0xB0B0B0 : 0x808080);
    FrameRect(dc, &rowRect, frame);
    DeleteObject(frame);
  } else if (size_t(row) + 1 == FTable.rows.size() || !FTable.rows[size_t(row) + 1].title) {
    HPEN pen = CreatePen(PS_SOLID, 1, deep ? 0xE0E0E0 : 0xFFFFFF);
    HGDIOBJ old = SelectObject(dc, pen);
    MoveToEx(dc, rowRect.left, rowRect.bottom - 1, nullptr);
    LineTo(dc, rowRect.right, rowRect.bottom - 1);
    SelectObject(dc, old);
    DeleteObject(pen);
  }
}

void TExceptionBox::RefreshDetails() {
  if (!FTabs)
    return;
  const TReportSnapshot report = FShuttingDown ? TReportSnapshot() : FExc.ReportSnapshot();
  if (!FShuttingDown)
    CheckTabs(report);
  CheckCurrentTab(report);
}

void TExceptionBox::CloseMainWnd() {
  FShuttingDown = true;
  StopCountdown();
  RefreshDetails(); // releases the view
  if (FMainWnd && IsWindow(FMainWnd)) {
    DestroyWindow(FMainWnd);
    // Closed from within a sent message, the modal loop may be waiting in GetMessage: wake it.
    PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
  }
}

void TExceptionBox::DoDetails() {
  FExc.FireEvent(TExceptionBoxEvent::showBugReport, FMainWnd);
  FReshow = true;
  CloseMainWnd();
}

void TExceptionBox::StopCountdown() {
  if (!FCountdownRuns)
    return;
  FCountdownRuns = false;
  FTime = 0;
  if (FMainWnd)
    KillTimer(FMainWnd, kCountdownTimer);
  // The line goes from the button it was drawn on.
  if (FCountdown.button)
    InvalidateRect(FCountdown.button, nullptr, FALSE);
  if (FButtons[kBtnRestart])
    InvalidateRect(FButtons[kBtnRestart], nullptr, FALSE);
  FCountdown.button = nullptr;
}

void TExceptionBox::PerformAction(TBoxAction action) {
  HWND parent = FMainWnd;
  switch (action) {
  case TBoxAction::details:
    DoDetails();
    break;
  case TBoxAction::send:
    FExc.SendBugReport(parent);
    break;
  case TBoxAction::save:
    FExc.SaveBugReport(parent);
    break;
  case TBoxAction::print:
    FExc.PrintBugReport(parent);
    break;
  case TBoxAction::continueApp:
    FExc.ContinueApplication(parent);
    break;
  case TBoxAction::restartApp:
    FExc.RestartApplication(parent);
    break;
  case TBoxAction::closeApp:
    FExc.CloseApplication(parent);
    break;
  case TBoxAction::none:
    break;
  }
}

int TExceptionBox::ButtonIndex(HWND button) const {
  for (int i = 0; i < kBoxButtonCount; ++i)
    if (button && FButtons[size_t(i)] == button)
      return int(GetWindowLongPtrW(button, GWLP_USERDATA));
  return kNoButton;
}

HWND TExceptionBox::ButtonOfIndex(int index) const {
  return index >= 0 && index < kBoxButtonCount ? FButtons[size_t(index)] : nullptr;
}

TButtonLook TExceptionBox::FocusedLook() const { return {RGB(255, 255, 255), GetSysColor(COLOR_3DDKSHADOW), 0}; }

TButtonLook TExceptionBox::UnfocusedLook() const { return {RGB(0, 0, 0), GetSysColor(COLOR_BTNFACE), 0x101010}; }

void TExceptionBox::OnDrawItem(const DRAWITEMSTRUCT &item) {
  HWND wnd = item.hwndItem;
  if (wnd == FIcoWnd) {
    FPainter->DrawGraphic(item.hDC, 0, kBtnBigIcon, 32, GetSysColor(COLOR_BTNFACE), false);
    return;
  }
  if (ButtonIndex(wnd) == kNoButton)
    return;
  if (item.itemAction == ODA_FOCUS && FCountdownRuns)
    StopCountdown();
  const bool focused = item.itemState & ODS_FOCUS;
  if (FUgly) {
    FPainter->DrawButton(UnfocusedLook(), wnd, item.hDC, FCountdown, -1, item.itemState & ODS_SELECTED, focused);
    return;
  }
  if (item.itemAction == ODA_FOCUS) {
    if (focused)
      FPainter->FlashButton(UnfocusedLook(), FocusedLook(), wnd, item.hDC, FCountdown, true);
    else
      FPainter->FlashButton(FocusedLook(), UnfocusedLook(), wnd, item.hDC, FCountdown, false);
    FLastFocusTime = GetTickCount();
  } else {
    FPainter->DrawButton(focused ? FocusedLook() : UnfocusedLook(), wnd, item.hDC, FCountdown, -1, false, focused);
  }
}

void TExceptionBox::OnCommand(WPARAM wp, LPARAM lp) {
  HWND source = reinterpret_cast<HWND>(lp);
  if (!source && LOWORD(wp) == IDOK)
    source = GetFocus(); // Enter
  else if (source && HIWORD(wp) != BN_CLICKED)
    return;
  const int index = ButtonIndex(source);
  if (index == kNoButton || !IsWindowEnabled(source))
    return;
  StopCountdown();
  if (!FDefaultMsgBox && !FUgly &&
      (index == kBtnShow || GetTickCount() - FLastFocusTime > kPressAnimationGap)) {
    HDC dc = GetDC(source);
    if (index == kBtnShow) {
      FPainter->FlashButton(FocusedLook(), {RGB(0, 0, 0), GetSysColor(COLOR_BTNFACE), 0}, source, dc, FCountdown,
                            true);
    } else {
      FPainter->FlashButton(FocusedLook(), UnfocusedLook(), source, dc, FCountdown, true);
      Sleep(10);
      FPainter->FlashButton(UnfocusedLook(), FocusedLook(), source, dc, FCountdown, true);
    }
    ReleaseDC(source, dc);
  }
  PerformAction(ButtonAction(index, FSwitches.canContinue));
}

void TExceptionBox::OnTimer() {
  if (!FCountdownRuns || !FCountdown.button)
    return;
  RECT rc;
  GetClientRect(FCountdown.button, &rc);
  const int32_t w = rc.right;
  const DWORD elapsed = GetTickCount() - FTime;
  const int64_t x = CountdownLineX(elapsed, FExc.Settings().GetAutoDelay(), w, FUgly);
  if (x < 0 || x == FCountdown.x)
    return;
  HWND button = FCountdown.button;
  const bool ended = CountdownEnded(x, w, FUgly);
  HDC dc = GetDC(button);
  if (FUgly)
    FPainter->DrawButton(UnfocusedLook(), button, dc, FCountdown, int32_t(x), false, true);
  else
    FPainter->DrawButton(FocusedLook(), button, dc, FCountdown, int32_t(std::min<int64_t>(x, w)), false, true);
  ReleaseDC(button, dc);
  if (ended) {
    // The countdown ends here; the button's action runs as if it had been pressed.
    FCountdownRuns = false;
    KillTimer(FMainWnd, kCountdownTimer);
    PostMessageW(FMainWnd, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED), reinterpret_cast<LPARAM>(button));
  }
}

void TExceptionBox::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(FMainWnd, &ps);
  RECT client;
  GetClientRect(FMainWnd, &client);
  const COLORREF face = GetSysColor(COLOR_BTNFACE), dark = GetSysColor(COLOR_3DDKSHADOW);
  const int len = std::max<int>(client.right - 6, 1);
  for (int x = 0; x < len; ++x) {
    const int r = GetRValue(face) + (GetRValue(dark) - GetRValue(face)) * x / len;
    const int g = GetGValue(face) + (GetGValue(dark) - GetGValue(face)) * x / len;
    const int b = GetBValue(face) + (GetBValue(dark) - GetBValue(face)) * x / len;
    SetPixelV(dc, x, FNCLabelY + 5, RGB(r, g, b));
  }
  HGDIOBJ old = SelectObject(dc, FPainter->LabelFont());
  SIZE size{};
  const std::string label = kLabelText;
  GetTextExtentPoint32A(dc, label.data(), int(label.size()), &size);
  FNCLabelW = size.cx;
  FNCLabelX = client.right - FNCLabelW - 15;
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, face);
  SetTextColor(dc, FNCLabelIn ? RGB(0x80, 0x00, 0x90) : dark);
  TextOutA(dc, FNCLabelX, FNCLabelY, label.data(), int(label.size()));
  SelectObject(dc, old);
  EndPaint(FMainWnd, &ps);
}

bool TExceptionBox::InLabel(POINT p) const {
  return FNCLabelX < p.x && p.x < FNCLabelX + FNCLabelW && FNCLabelY < p.y && p.y < FNCLabelY + 10;
}

void TExceptionBox::OnWindowPosChanging(WINDOWPOS &pos) {
  if (!FSizingDone || (pos.flags & (SWP_NOSIZE | SWP_SHOWWINDOW | SWP_HIDEWINDOW)))
    return;
  RECT wr;
  GetWindowRect(FMainWnd, &wr);
  const int curW = wr.right - wr.left, curH = wr.bottom - wr.top;
  if (pos.cy < FMinHeight || curH < FMinHeight)
    return;
  const int dx = pos.cx - curW, dy = pos.cy - curH;
  if (!dx && !dy)
    return;
  auto move = [this](HWND child, int mx, int gw, int gh) {
    if (!child)
      return;
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT *>(&r), 2);
    SetWindowPos(child, nullptr, r.left + mx, r.top, r.right - r.left + gw, r.bottom - r.top + gh,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  };
  for (int i : {kBtnContinue, kBtnRestart, kBtnClose})
    move(FButtons[size_t(i)], dx, 0, 0);
  move(FTabs, 0, dx, dy);
  move(FEdit, 0, dx, dy);
  RECT strip;
  GetClientRect(FMainWnd, &strip);
  strip.right = std::max<LONG>(strip.right, strip.right + dx);
  strip.top = FNCLabelY;
  strip.bottom = FNCLabelY + 10;
  InvalidateRect(FMainWnd, &strip, TRUE);
}

LRESULT CALLBACK TExceptionBox::StaticWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto *box = static_cast<TExceptionBox *>(reinterpret_cast<CREATESTRUCTW *>(lp)->lpCreateParams);
    SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(box));
  }
  auto *box = reinterpret_cast<TExceptionBox *>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
    if (box && box->FMainWnd == wnd) {
      box->FMainWnd = nullptr;
      box->FTabs = box->FEdit = nullptr;
      box->FButtons = {};
      box->FIcoWnd = nullptr;
    }
    return DefWindowProcW(wnd, msg, wp, lp);
  }
  if (!box)
    return DefWindowProcW(wnd, msg, wp, lp);
  return box->DialogWndMethod(wnd, msg, wp, lp);
}

LRESULT TExceptionBox::DialogWndMethod(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
  case WM_NULL:
    if (wp == kBoxFreezeAnswer && lp == LPARAM(kBoxFreezeAnswer)) {
      CloseMainWnd();
      return 0;
    }
    break;
  case WM_PAINT:
    if (FPainter) {
      OnPaint();
      return 0;
    }
    break;
  case WM_CLOSE:
    PerformAction(CloseAction(FForm, int(FExc.Settings().GetFocusedButton()), FSwitches));
    return 0;
  case WM_SETCURSOR: {
    POINT p;
    GetCursorPos(&p);
    ScreenToClient(wnd, &p);
    if (reinterpret_cast<HWND>(wp) == wnd && InLabel(p)) {
      SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
      return TRUE;
    }
    break;
  }
  case WM_GETMINMAXINFO:
    if (FSizingDone) {
      auto *info = reinterpret_cast<MINMAXINFO *>(lp);
      info->ptMinTrackSize = {FMinWidth, FMinHeight};
      return 0;
    }
    break;
  case WM_DRAWITEM:
    if (FPainter)
      OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT *>(lp));
    return 1;
  case WM_WINDOWPOSCHANGING: {
    const LRESULT result = DefWindowProcW(wnd, msg, wp, lp);
    OnWindowPosChanging(*reinterpret_cast<WINDOWPOS *>(lp));
    return result;
  }
  case WM_ACTIVATE:
    // Like a dialog: the focus leaves with the window and comes back to the same button.
    if (LOWORD(wp) == WA_INACTIVE) {
      HWND focus = GetFocus();
      if (focus && IsChild(wnd, focus))
        FSavedFocus = focus;
      return 0;
    }
    if (FSavedFocus && IsWindow(FSavedFocus) && IsWindowEnabled(FSavedFocus)) {
      SetFocus(FSavedFocus);
      return 0;
    }
    break;
  case WM_NOTIFY: {
    const auto *header = reinterpret_cast<const NMHDR *>(lp);
    if (header && header->hwndFrom == FTabs && FTabs && header->code == UINT(TCN_SELCHANGE))
      RefreshDetails();
    break;
  }
  case WM_COMMAND: {
    const LRESULT result = DefWindowProcW(wnd, msg, wp, lp);
    OnCommand(wp, lp);
    return result;
  }
  case WM_SYSCOMMAND:
    if ((wp & 0xFFF0) == SC_CLOSE)
      return 0; // the title-bar close box does nothing; Esc chooses an action
    break;
  case WM_TIMER:
    if (wp == kCountdownTimer) {
      OnTimer();
      return 0;
    }
    break;
  case WM_MOUSEMOVE: {
    const POINT p{short(LOWORD(lp)), short(HIWORD(lp))};
    if (InLabel(p) != FNCLabelIn) {
      FNCLabelIn = !FNCLabelIn;
      RECT r{FNCLabelX, FNCLabelY, FNCLabelX + FNCLabelW, FNCLabelY + 10};
      InvalidateRect(wnd, &r, TRUE);
    }
    break;
  }
  case WM_LBUTTONDOWN: {
    const POINT p{short(LOWORD(lp)), short(HIWORD(lp))};
    if (InLabel(p))
      ShellExecuteW(wnd, L"open", kWebAddress, nullptr, nullptr, SW_SHOWNORMAL);
    break;
  }
  case kBoxReportChangedMessage:
    if (wp == kBoxReportChangedW && lp == LPARAM(kBoxReportChangedL))
      RefreshDetails();
    return 0;
  case kBoxShowReportMessage:
    DoDetails();
    return 0;
  case kBoxCloseMessage:
    CloseMainWnd();
    return 0;
  }
  return DefWindowProcW(wnd, msg, wp, lp);
}

void TExceptionBox::RunModal() {
  MSG msg;
  while (FMainWnd && IsWindow(FMainWnd)) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1)
      break;
    if (got == 0) {
      PostQuitMessage(int(msg.wParam)); // not ours: the thread's own loop ends on it
      break;
    }
    const bool ours = msg.hwnd == FMainWnd || (msg.hwnd && IsChild(FMainWnd, msg.hwnd));
    if (ours && msg.message == WM_KEYDOWN) {
      if (msg.wParam == VK_ESCAPE) {
        SendMessageW(FMainWnd, WM_CLOSE, 0, 0);
        continue;
      }
      if (msg.wParam == VK_F1) {
        FExc.FireEvent(TExceptionBoxEvent::help, FMainWnd);
        continue;
      }
      if (msg.wParam == 'C' && GetKeyState(VK_CONTROL) < 0) {
        msg.wParam = 0;
        FExc.CopyToClipboard(FExc.Settings().GetAutoShowBugReport() ? FExc.BugReportSoFar() : FExc.ExceptMessage());
        continue;
      }
    }
    if ((FEdit && msg.hwnd == FEdit) || !FMainWnd || !IsDialogMessageW(FMainWnd, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

} // namespace kx
