// The crash dialog under Wine: shown on its own thread as the exception-handling thread does,
// driven from the test's thread through messages and read back through window queries.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "crash/ui/dialog/win32/ExceptionBoxWin32.h"
#include "crash/ui/dialog/win32/ShowExceptionBox.h"
#include "runtime/win32/WideText.h"
#include "tests/crash/ui/dialog/win32/FakeExceptionSubject.h"

#include "tests/support/TestTime.h"

namespace kx {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using tidewell_test::WaitUntil;

// EnumThreadWindows callback: the crash dialog's window.
BOOL CALLBACK FindBoxWindow(HWND wnd, LPARAM found) {
  char name[64] = {};
  GetClassNameA(wnd, name, sizeof(name));
  if (std::string(name) != kExceptionBoxClass)
    return TRUE;
  *reinterpret_cast<HWND *>(found) = wnd;
  return FALSE;
}

// Runs ShowExceptionBox on a thread of its own, like the exception-handling thread.
class TDialogThread {
public:
  TDialogThread(TFakeExceptionSubject &exc, TBoxForm form) {
    FThread = std::thread([this, &exc, form] {
      FThreadId = GetCurrentThreadId();
      ShowExceptionBox(exc, form);
      FDone = true;
    });
  }
  ~TDialogThread() {
    // A test that failed early must not leave the dialog waiting.
    if (!FDone) {
      if (HWND wnd = Window())
        PostMessageW(wnd, kBoxCloseMessage, 0, 0);
    }
    if (FThread.joinable())
      FThread.join();
  }

  // The dialog window of the thread (waiting for it to appear), or null.
  HWND WaitWindow(HWND notThis = nullptr) {
    HWND found = nullptr;
    WaitUntil([&] {
      found = Window();
      return found && found != notThis && IsWindowVisible(found);
    });
    return found != notThis ? found : nullptr;
  }
  HWND Window() {
    if (!FThreadId)
      return nullptr;
    HWND found = nullptr;
    EnumThreadWindows(FThreadId, FindBoxWindow, reinterpret_cast<LPARAM>(&found));
    return found;
  }
  bool WaitDone(std::chrono::milliseconds limit = 5s) {
    return WaitUntil([this] { return FDone.load(); }, limit);
  }
  bool Done() const { return FDone; }
  HWND Focus() {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(FThreadId, &info);
    return info.hwndFocus;
  }

private:
  std::thread FThread;
  std::atomic<DWORD> FThreadId{0};
  std::atomic<bool> FDone{false};
};

HWND Child(HWND dialog, int id) { return GetDlgItem(dialog, id); }
HWND Button(HWND dialog, int index) { return Child(dialog, TExceptionBox::kFirstButtonId + index); }

RECT ChildRect(HWND child) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT *>(&r), 2);
  return r;
}

// Caption widths measured here, independently of the dialog, in its font.
int32_t CaptionWidth(const std::string &caption) {
  HDC dc = CreateCompatibleDC(nullptr);
  HFONT font = CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32A(dc, caption.data(), int(caption.size()), &size);
  SelectObject(dc, old);
  DeleteObject(font);
  DeleteDC(dc);
  return size.cx;
}

// Pictures for review: with TIDEWELL_SCREENSHOTS naming a folder, the test writes <name>.rect (the
// window's client area on the screen) there and waits until the capture script beside this file
// has saved <name>.png from the X display. Reading the window back through GDI under Wine does not
// give what the display shows, so the picture is taken from the display itself.
void Screenshot(HWND wnd, const std::string &name) {
  char dir[MAX_PATH] = {};
  if (!GetEnvironmentVariableA("TIDEWELL_SCREENSHOTS", dir, MAX_PATH))
    return;
  RedrawWindow(wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  Sleep(300);
  RECT r;
  GetClientRect(wnd, &r);
  MapWindowPoints(wnd, HWND_DESKTOP, reinterpret_cast<POINT *>(&r), 2);
  const std::string base = std::string(dir) + "\\" + name;
  DeleteFileA((base + ".png").c_str());
  if (FILE *f = fopen((base + ".rect.tmp").c_str(), "w")) {
    fprintf(f, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    fclose(f);
    MoveFileA((base + ".rect.tmp").c_str(), (base + ".rect").c_str());
  }
  WaitUntil([&] { return GetFileAttributesA((base + ".png").c_str()) != INVALID_FILE_ATTRIBUTES; }, 5s);
}

std::vector<std::string> TabCaptions(HWND tabs) {
  std::vector<std::string> captions;
  const int count = int(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    wchar_t text[128] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 127;
    SendMessageW(tabs, TCM_GETITEMW, WPARAM(i), reinterpret_cast<LPARAM>(&item));
    captions.push_back(Narrow(text));
  }
  return captions;
}

// The cells of the list view a tab shows (empty without one). The list view belongs to the same
// process, so its item texts can be read with a buffer of this process.
std::vector<std::vector<std::string>> ListCells(HWND tabs) {
  std::vector<std::vector<std::string>> rows;
  HWND list = GetDlgItem(tabs, TExceptionBox::kListId);
  if (!list)
    return rows;
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  const int columns = int(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
  const int count = int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    std::vector<std::string> row;
    for (int c = 0; c < columns; ++c) {
      wchar_t text[256] = {};
      LVITEMW item{};
      item.iSubItem = c;
      item.pszText = text;
      item.cchTextMax = 255;
      SendMessageW(list, LVM_GETITEMTEXTW, WPARAM(i), reinterpret_cast<LPARAM>(&item));
      row.push_back(Narrow(text));
    }
    rows.push_back(row);
  }
  return rows;
}

std::string ViewText(HWND tabs) { return WindowText(GetDlgItem(tabs, TExceptionBox::kEditId)); }

// Selects a tab as a click would: the selection, then TCN_SELCHANGE to the dialog.
void SelectTab(HWND dialog, HWND tabs, int index) {
  SendMessageW(tabs, TCM_SETCURSEL, WPARAM(index), 0);
  NMHDR header{tabs, UINT_PTR(GetDlgCtrlID(tabs)), UINT(TCN_SELCHANGE)};
  SendMessageW(dialog, WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
}

void PostKey(HWND target, WPARAM key) {
  PostMessageW(target, WM_KEYDOWN, key, 1);
  PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

bool HasDefaultStyle(HWND button) {
  return (GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}

TEST(ExceptionBoxWindow, FullDialogInTwoColumnsFollowsTheLayoutRules) {
  TFakeExceptionSubject exc;
  exc.settings.SetTitleBar("Tidewell");
  exc.settings.SetExceptMsg("%exceptMsg%");
  exc.settings.SetSaveBtnVisible(true);
  exc.settings.SetPrintBtnVisible(true);
  TDialogThread thread(exc, TBoxForm::fullBox);
  HWND dlg = thread.WaitWindow();
  ASSERT_NE(dlg, nullptr);
  EXPECT_EQ(WindowText(dlg), "Tidewell");
  EXPECT_TRUE(GetWindowLongW(dlg, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_FALSE(GetWindowLongW(dlg, GWL_STYLE) & WS_THICKFRAME);

  // Widths from the captions: w = text + 39, a button is w - 4 wide and the next starts w further.
  int32_t w[7];
  for (int i = 0; i < 7; ++i)
    w[i] = CaptionWidth(WindowText(Button(dlg, i))) + 39;
  const int32_t lastW = std::max({w[4], w[5], w[6]});
  RECT outer;
  GetWindowRect(dlg, &outer);
  const int32_t W = outer.right - outer.left;
  RECT prev{};
  for (int i = 0; i < 4; ++i) {
    const RECT r = ChildRect(Button(dlg, i));
    EXPECT_EQ(r.right - r.left, w[i] - 4) << i;
    EXPECT_EQ(r.bottom - r.top, 22) << i;
    EXPECT_EQ(r.left, i == 0 ? 6 : prev.right + 4) << i;
    if (i) {
      EXPECT_EQ(r.top, prev.top);
    }
    prev = r;
  }
  const int32_t bottomRow = prev.top;
  for (int i = 4; i < 7; ++i) {
    const RECT r = ChildRect(Button(dlg, i));
    EXPECT_EQ(r.left, W - lastW - 8) << i;
    EXPECT_EQ(r.right - r.left, lastW - 4) << i;
    EXPECT_EQ(r.top, bottomRow - (6 - i) * 26) << i;
  }
  // The minimum is the whole width of the buttons; the window is at least that wide.
  EXPECT_GE(W, w[0] + w[1] + w[2] + w[3] + lastW + 14);
  MINMAXINFO info{};
  SendMessageW(dlg, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, W);
  EXPECT_EQ(info.ptMinTrackSize.y, outer.bottom - outer.top);

  // The message is broken after its first sentence and sits beside the icon.
  HWND msg = Child(dlg, TExceptionBox::kMessageId);
  EXPECT_EQ(WindowText(msg), "Access violation at address 00401234.\r\nRead of address 00000000.");
  HWND icon = Child(dlg, TExceptionBox::kIconId);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(ChildRect(icon).left, 9);
  EXPECT_EQ(ChildRect(msg).left, 51);
  // Centred on the screen.
  EXPECT_NEAR((outer.left + outer.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  Screenshot(dlg, "exception-box-two-columns");

  PostKey(dlg, VK_ESCAPE); // FocusedBtn 0 (send): Esc continues
  ASSERT_TRUE(thread.WaitDone());
  EXPECT_EQ(exc.Events(), std::vector<std::string>{"continue"});
}

TEST(ExceptionBoxWindow, OneOfContinueRestartCloseGivesOneRow) {
  TFakeExceptionSubject exc;
  exc.settings.SetContinueBtnVisible(false);
  exc.settings.SetRestartBtnVisible(false);
  exc.settings.SetFocusedButton(TKXButton::bCloseApplication);
  TDialogThread thread(exc, TBoxForm::fullBox);
  HWND dlg = thread.WaitWindow();
  ASSERT_NE(dlg, nullptr);
  EXPECT_EQ(Button(dlg, kBtnContinue), nullptr);
  const RECT send = ChildRect(Button(dlg, kBtnSend)), show = ChildRect(Button(dlg, kBtnShow));
  const RECT close = ChildRect(Button(dlg, kBtnClose));
  EXPECT_EQ(send.top, show.top);
  EXPECT_EQ(close.top, send.top);
  RECT outer;
  GetWindowRect(dlg, &outer);
  EXPECT_EQ(close.right, outer.right - outer.left - 12);
  // The focused button is the close button.
  EXPECT_EQ(thread.Focus(), Button(dlg, kBtnClose));
  Screenshot(dlg, "exception-box-one-row");

  PostKey(thread.Focus(), VK_RETURN); // Enter acts on the focused button
  ASSERT_TRUE(thread.WaitDone());
  EXPECT_EQ(exc.Events(), std::vector<std::string>{"close"});
}

TEST(ExceptionBoxWindow, ShortMessagesAreNeverBroken) {
  TFakeExceptionSubject exc;
  exc.message = "Bad value. Try again.";
  exc.settings.SetExceptMsg("%exceptMsg%");
  TDialogThread thread(exc, TBoxForm::fullBox);
  HWND dlg = thread.WaitWindow();
  ASSERT_NE(dlg, nullptr);
  EXPECT_EQ(WindowText(Child(dlg, TExceptionBox::kMessageId)), "Bad value. Try again.");
  PostMessageW(dlg, kBoxCloseMessage, 0, 0);
  ASSERT_TRUE(thread.WaitDone());
  EXPECT_TRUE(exc.Events().empty());
}

TEST(ExceptionBoxWindow, InvisibleFocusedButtonLeavesNoDefaultAndNoFocus) {
  TFakeExceptionSubject exc;
  exc.settings.SetFocusedButton(TKXButton::bPrintBugReport); // print is not visible
  TDialogThread thread(exc, TBoxForm::fullBox);
  HWND dlg = thread.WaitWindow();
  ASSERT_NE(dlg, nullptr);
  const HWND focus = thread.Focus();
  for (int i = 0; i < 7; ++i)
    if (HWND b = Button(dlg, i)) {
      EXPECT_NE(focus, b) << i;
      EXPECT_FALSE(HasDefaultStyle(b)) << i;
    }
  // Enter with no focused button does nothing; the title-bar close box does nothing either.
  PostKey(dlg, VK_RETURN);
  PostMessageW(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
  Sleep(400);
  EXPECT_FALSE(thread.Done());
  EXPECT_TRUE(IsWindow(dlg));
  EXPECT_TRUE(exc.Events().empty());
  PostKey(dlg, VK_ESCAPE);
  ASSERT_TRUE(thread.WaitDone());
  EXPECT_EQ(exc.Events(), std::vector<std::string>{"continue"});
}

TEST(ExceptionBoxWindow, ButtonsCallTheirActionsAndOnlyEndingOnesCloseTheDialog) {
  TFakeExceptionSubject exc;
  exc.settings.SetSaveBtnVisible(true);
  TDialogThread thread(exc, TBoxForm::fullBox);
  HWND dlg = thread.WaitWindow();
  ASSERT_NE(dlg, nullptr);
  SendMessageW(Button(dlg, kBtnSend), BM_CLICK, 0, 0);
  SendMessageW(Button(dlg, kBtnSave), BM_CLICK, 0, 0);
  EXPECT_TRUE(IsWindow(dlg));
  SendMessageW(Button(dlg, kBtnRestart), BM_CLICK, 0, 0);
  ASSERT_TRUE(thread.WaitDone());
  EXPECT_EQ(exc.Events(), (std::vector<std::string>{"send", "save", "restart"}));
}

TEST(ExceptionBoxWindow, ContinueIsDisabledWhenTheProgramCannotContinue) {
  TFakeExceptionSubject exc;
  exc.canContinue = false;
  exc.settings.SetFocusedButton(TKXButton::bContinueApplication);
  TDialogThread thread(exc, TBoxForm::fullBox);
  HWND dlg = thread.WaitWindow();
  ASSERT_NE(dlg, nullptr);
  HWND cont = Button(dlg, kBtnContinue);
  ASSERT_NE(cont, nullptr);
  EXPECT_FALSE(IsWindowEnabled(cont));
  EXPECT_EQ(GetWindowLongPtrW(cont, GWLP_USERDATA), kBtnCantContinue);
  EXPECT_NE(thread.Focus(), cont);
  Screenshot(dlg, "exception-box-cannot-continue");
  PostKey(dlg, VK_ESCAPE); // focused continue cannot continue: Esc closes
  ASSERT_TRUE(thread.WaitDone());
  EXPECT_EQ(exc.Events(), std::vector<std::string>{"close"});
}

TEST(ExceptionBoxWindow, AutoCloseRunsTheCloseActionAfterTheDelay) {
  TFakeExceptionSubject exc;
  exc.settings.SetAutoClose(1);
  exc.settings.SetAutoDelay(1);
  const auto start = Clock::now();
  TDialogThread thread(exc, TBoxForm::fullBox);
  HWND dlg = thread.WaitWindow();
  ASSERT_NE(dlg, nullptr);
  EXPECT_EQ(thread.Focus(), Button(dlg, kBtnClose));
  Sleep(500);
  Screenshot(dlg, "exception-box-countdown");
  EXPECT_TRUE(exc.Events().empty());
  ASSERT_TRUE(thread.WaitDone(5s));
  const auto took = Clock::now() - start;
  EXPECT_GE(took, 900ms);
  EXPECT_LE(took, 3500ms);
  EXPECT_EQ(exc.Events(), std::vector<std::string>{"close"});
}

TEST(ExceptionBoxWindow, MovingTheFocusStopsTheCountdown) {
  TFakeExceptionSubject exc;
  exc.settings.SetAutoClose(1);
  exc.settings.SetAutoDelay(1);
  TDialogThread thread(exc, TBoxForm::fullBox);
  HWND dlg = thread.WaitWindow();
  ASSERT_NE(dlg, nullptr);
  ASSERT_EQ(thread.Focus(), Button(dlg, kBtnClose));
  PostKey(thread.Focus(), VK_TAB);
  ASSERT_TRUE(WaitUntil([&] { return thread.Focus() != Button(dlg, kBtnClose); }));
  Sleep(2000);
  EXPECT_FALSE(thread.Done());
  EXPECT_TRUE(exc.Events().empty());
  PostMessageW(dlg, kBoxCloseMessage, 0, 0);
  ASSERT_TRUE(thread.WaitDone());
}

TEST(ExceptionBoxWindow, DetailBoxDetailsReopensTheFullDialogWithTheReportAndNoCountdown) {
  TFakeExceptionSubject exc;
  exc.settings.SetAutoClose(1);
  exc.settings.SetAutoDelay(1);
  exc.settings.SetTitleBar("Tidewell");
  TDialogThread thread(exc, TBoxForm::detailBox);
  HWND box = thread.WaitWindow();
  ASSERT_NE(box, nullptr);
  // OK and Details, OK the default with the focus; the title is the executable's name.
  HWND ok = Button(box, kBtnContinue), details = Button(box, kBtnShow);
  ASSERT_NE(ok, nullptr);
  ASSERT_NE(details, nullptr);
  EXPECT_EQ(WindowText(ok), "&OK");
  EXPECT_EQ(WindowText(details), "&Details");
  EXPECT_TRUE(HasDefaultStyle(ok));
  EXPECT_EQ(thread.Focus(), ok);
  EXPECT_EQ(WindowText(box), "tidewell_exception_box_window_test");
  const RECT okRect = ChildRect(ok), detailsRect = ChildRect(details);
  EXPECT_EQ(okRect.right - okRect.left, 75); // 79 - 4
  EXPECT_EQ(okRect.top, detailsRect.top);
  EXPECT_EQ(okRect.bottom - okRect.top, 23);
  Screenshot(box, "exception-box-detail-box");

  SendMessageW(details, BM_CLICK, 0, 0);
  HWND full = thread.WaitWindow(box);
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(WindowText(full), "Tidewell");
  EXPECT_TRUE(GetWindowLongW(full, GWL_STYLE) & WS_THICKFRAME);
  EXPECT_EQ(Button(full, kBtnShow), nullptr); // the report is shown anyway
  HWND tabs = Child(full, TExceptionBox::kTabsId);
  ASSERT_NE(tabs, nullptr);
  EXPECT_EQ(TabCaptions(tabs), (std::vector<std::string>{"general", "call stack"}));
  // The header fields as a table, the stacks as text.
  EXPECT_EQ(ListCells(tabs), (std::vector<std::vector<std::string>>{{"exception class", "EAccessViolation"}}));
  SelectTab(full, tabs, 1);
  // The stack as a table: the thread's title row, then address, relative address and module.
  using Cells = std::vector<std::vector<std::string>>;
  EXPECT_EQ(ListCells(tabs), (Cells{{">>", "", ""}, {"00401234", "+004", "Tidewell.exe"}}));
  // The pane follows the report's changes: a second thread and a new section.
  exc.SetSnapshot({{{"exception class", "EAccessViolation"}},
                   {{"main thread ($1a4)", "a"},
                    {"worker ($2b8)", "b"},
                    {"modules", "00400000 Tidewell.exe"},
                    {"hardware", "One processor."}}});
  exc.ReportChanged();
  EXPECT_TRUE(WaitUntil([&] { return TabCaptions(tabs).size() == 4; }));
  EXPECT_EQ(TabCaptions(tabs), (std::vector<std::string>{"general", "call stacks", "modules", "hardware"}));
  EXPECT_TRUE(WaitUntil([&] { return ListCells(tabs) == Cells{{">>"}, {"A"}, {""}, {">>"}, {"B"}}; }));
  SelectTab(full, tabs, 2);
  EXPECT_EQ(ListCells(tabs), (std::vector<std::vector<std::string>>{{"00400000", "Tidewell.exe", "", ""}}));
  const HWND view = GetDlgItem(tabs, TExceptionBox::kListId);
  SelectTab(full, tabs, 2); // the same tab with the same text keeps its view
  EXPECT_EQ(GetDlgItem(tabs, TExceptionBox::kListId), view);
  Screenshot(full, "exception-box-details-table");
  SelectTab(full, tabs, 3); // a text that is no table
  EXPECT_EQ(GetDlgItem(tabs, TExceptionBox::kListId), nullptr);
  EXPECT_EQ(ViewText(tabs), "One processor.");
  SelectTab(full, tabs, 1);
  EXPECT_EQ(exc.settings.GetAutoClose(), 0u);
  EXPECT_TRUE(exc.settings.GetAutoShowBugReport());

  // Resizing moves the right-hand buttons and grows the pane.
  RECT outer;
  GetWindowRect(full, &outer);
  const RECT closeBefore = ChildRect(Button(full, kBtnClose)), tabsBefore = ChildRect(tabs);
  SetWindowPos(full, nullptr, 0, 0, outer.right - outer.left + 40, outer.bottom - outer.top + 30,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  const RECT closeAfter = ChildRect(Button(full, kBtnClose)), tabsAfter = ChildRect(tabs);
  EXPECT_EQ(closeAfter.left, closeBefore.left + 40);
  EXPECT_EQ(tabsAfter.right - tabsAfter.left, tabsBefore.right - tabsBefore.left + 40);
  EXPECT_EQ(tabsAfter.bottom - tabsAfter.top, tabsBefore.bottom - tabsBefore.top + 30);
  SetWindowPos(full, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  Screenshot(full, "exception-box-with-details");

  Sleep(1500); // no countdown runs in the second dialog
  EXPECT_EQ(exc.Events(), std::vector<std::string>{"details-event"});
  // The first box's automatic close made close the focused button; Esc follows it.
  EXPECT_EQ(thread.Focus(), Button(full, kBtnClose));
  PostKey(full, VK_ESCAPE);
  ASSERT_TRUE(thread.WaitDone());
  EXPECT_EQ(exc.Events(), (std::vector<std::string>{"details-event", "close"}));
}

TEST(ExceptionBoxWindow, SimpleBoxOkDoesWhatOkSays) {
  for (const bool canContinue : {true, false}) {
    TFakeExceptionSubject exc;
    exc.canContinue = canContinue;
    exc.settings.SetFocusedButton(TKXButton::bRestartApplication);
    TDialogThread thread(exc, TBoxForm::simpleBox);
    HWND box = thread.WaitWindow();
    ASSERT_NE(box, nullptr);
    EXPECT_NE(Button(box, kBtnContinue), nullptr);
    EXPECT_EQ(Button(box, kBtnShow), nullptr);
    EXPECT_EQ(Child(box, TExceptionBox::kTabsId), nullptr);
    if (canContinue) {
      Screenshot(box, "exception-box-simple-box");
    }
    // Esc does what OK does, not what FocusedBtn (restart) would.
    PostKey(box, VK_ESCAPE);
    ASSERT_TRUE(thread.WaitDone());
    EXPECT_EQ(exc.Events(), std::vector<std::string>{canContinue ? "continue" : "close"});
  }
}

TEST(ExceptionBoxWindow, FreezeDialogIsHandedToTheWatchAndClosesOnItsAnswer) {
  TFakeExceptionSubject exc;
  exc.frozen = true;
  exc.settings.SetFrozenMsg("The application seems to be frozen.");
  TDialogThread thread(exc, TBoxForm::fullBox);
  HWND dlg = thread.WaitWindow();
  ASSERT_NE(dlg, nullptr);
  EXPECT_TRUE(WaitUntil([&] { return exc.frozenDialog.load() == dlg; }));
  EXPECT_EQ(WindowText(Child(dlg, TExceptionBox::kMessageId)), "The application seems to be frozen.");
  PostMessageW(dlg, WM_NULL, 777, 776); // not the answer
  Sleep(200);
  EXPECT_TRUE(IsWindow(dlg));
  PostMessageW(dlg, WM_NULL, 777, 777);
  ASSERT_TRUE(thread.WaitDone());
  EXPECT_TRUE(exc.Events().empty());
}

TEST(ExceptionBoxWindow, ShowReportMessageReopensAndHelpKeyFiresItsEvent) {
  TFakeExceptionSubject exc;
  TDialogThread thread(exc, TBoxForm::fullBox);
  HWND dlg = thread.WaitWindow();
  ASSERT_NE(dlg, nullptr);
  EXPECT_TRUE(WaitUntil([&] { return exc.callbacks.load() == 1; }));
  PostKey(dlg, VK_F1);
  ASSERT_TRUE(WaitUntil([&] { return exc.Events().size() == 1; }));
  PostMessageW(dlg, kBoxShowReportMessage, 0, 0);
  HWND full = thread.WaitWindow(dlg);
  ASSERT_NE(full, nullptr);
  EXPECT_TRUE(GetWindowLongW(full, GWL_STYLE) & WS_THICKFRAME);
  SendMessageW(Button(full, kBtnClose), BM_CLICK, 0, 0);
  ASSERT_TRUE(thread.WaitDone());
  EXPECT_EQ(exc.Events(), (std::vector<std::string>{"help-event", "details-event", "close"}));
}

} // namespace
} // namespace kx

namespace kx {
namespace {

TEST(ExceptionBoxWindow, UglyButtonsAreTallerAndStillCountDown) {
  TFakeExceptionSubject exc;
  exc.settings.SetNoOwnerDrawButtons(true);
  exc.settings.SetAutoContinue(true);
  exc.settings.SetAutoDelay(1);
  const auto start = Clock::now();
  TDialogThread thread(exc, TBoxForm::fullBox);
  HWND dlg = thread.WaitWindow();
  ASSERT_NE(dlg, nullptr);
  const RECT send = ChildRect(Button(dlg, kBtnSend)), cont = ChildRect(Button(dlg, kBtnContinue));
  EXPECT_EQ(send.bottom - send.top, 26);
  EXPECT_EQ(cont.bottom - cont.top, 26);
  EXPECT_EQ(thread.Focus(), Button(dlg, kBtnContinue));
  Sleep(400);
  Screenshot(dlg, "exception-box-ugly-buttons");
  ASSERT_TRUE(thread.WaitDone());
  EXPECT_GE(Clock::now() - start, 900ms);
  EXPECT_EQ(exc.Events(), std::vector<std::string>{"continue"});
}

TEST(ExceptionBoxWindow, CtrlCCopiesTheMessageOrTheReport) {
  for (const bool withReport : {false, true}) {
    TFakeExceptionSubject exc;
    exc.settings.SetAutoShowBugReport(withReport);
    TDialogThread thread(exc, TBoxForm::fullBox);
    HWND dlg = thread.WaitWindow();
    ASSERT_NE(dlg, nullptr);
    SetForegroundWindow(dlg);
    ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == dlg; }));
    INPUT keys[4] = {};
    const WORD codes[4] = {VK_CONTROL, 'C', 'C', VK_CONTROL};
    for (int i = 0; i < 4; ++i) {
      keys[i].type = INPUT_KEYBOARD;
      keys[i].ki.wVk = codes[i];
      keys[i].ki.dwFlags = i >= 2 ? KEYEVENTF_KEYUP : 0;
    }
    SendInput(4, keys, sizeof(INPUT));
    EXPECT_TRUE(WaitUntil([&] { return !exc.Events().empty(); }));
    const std::string expected = "clipboard:" + (withReport ? exc.report : exc.message);
    EXPECT_EQ(exc.Events(), std::vector<std::string>{expected});
    PostMessageW(dlg, kBoxCloseMessage, 0, 0);
    ASSERT_TRUE(thread.WaitDone());
  }
}

} // namespace
} // namespace kx
