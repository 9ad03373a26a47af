#pragma once
// TExceptionBox: the crash dialog window in its three forms (full dialog, detail box, simple
// box). The constructor builds and shows the window; RunModal runs its message loop on the same
// thread until an action closes it.
#include <windows.h>
#include <commctrl.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "crash/ui/dialog/DetailsViews.h"
#include "crash/ui/dialog/ExceptionBoxLayout.h"
#include "crash/ui/dialog/ExceptionBoxSubject.h"
#include "crash/ui/dialog/win32/BoxPainter.h"

namespace kx {

class TExceptionBox {
public:
  TExceptionBox(IExceptionBoxSubject &exc, TBoxForm form, bool makeSound);
  ~TExceptionBox();
  TExceptionBox(const TExceptionBox &) = delete;
  TExceptionBox &operator=(const TExceptionBox &) = delete;

  // Dispatches the thread's messages until the window is gone (or WM_QUIT, which is passed on).
  void RunModal();

  HWND MainWnd() const { return FMainWnd; }
  // "show bug report" asked for the dialog to be reopened with the details pane.
  bool Reshow() const { return FReshow; }
  const TBoxLayout &Layout() const { return FLayout; }

  // The web address the label names and opens.
  static constexpr const char *kLabelText = "www.example.com";
  static constexpr const wchar_t *kWebAddress = L"https://www.example.com/tidewell";
  // Child window ids: 100 + button index (never IDOK or IDCANCEL, which Enter and Esc name).
  static constexpr int kFirstButtonId = 100;
  static constexpr int kMessageId = 200;
  static constexpr int kIconId = 201;
  static constexpr int kTabsId = 202;
  static constexpr int kEditId = 203;
  static constexpr int kListId = 204;

private:
  static LRESULT CALLBACK StaticWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT DialogWndMethod(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);

  void CreateButtons(int focusedBtn);
  void CreateDetails(int32_t x, int32_t y, int32_t w, int32_t h);
  // The details pane: the tab captions follow the report, the view shows the selected tab.
  void CheckTabs(const TReportSnapshot &report);
  void CheckCurrentTab(const TReportSnapshot &report);
  HWND CreateListView(const RECT &r, const TDetailsTable &table);
  void DrawListRow(const DRAWITEMSTRUCT &item);
  void RefreshDetails();
  static LRESULT CALLBACK TabsWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  void CloseMainWnd();
  void DoDetails();
  void StopCountdown();
  void PerformAction(TBoxAction action);
  void OnDrawItem(const DRAWITEMSTRUCT &item);
  void OnCommand(WPARAM wp, LPARAM lp);
  void OnTimer();
  void OnPaint();
  void OnWindowPosChanging(WINDOWPOS &pos);
  bool InLabel(POINT p) const;
  int ButtonIndex(HWND button) const;
  HWND ButtonOfIndex(int index) const;
  TButtonLook FocusedLook() const;
  TButtonLook UnfocusedLook() const;

  IExceptionBoxSubject &FExc;
  TBoxForm FForm;
  bool FDefaultMsgBox;
  bool FUgly = false;
  bool FResizable = false;
  TBoxSwitches FSwitches;
  std::unique_ptr<TBoxPainter> FPainter;
  TBoxLayout FLayout;
  HMODULE FModule = nullptr;

  HWND FMainWnd = nullptr;
  HWND FTabs = nullptr, FEdit = nullptr;
  std::array<HWND, kBoxButtonCount> FButtons{}; // by index 0..6; 0 when not created
  HWND FIcoWnd = nullptr;
  HWND FSavedFocus = nullptr; // the child that had the focus when the window was deactivated
  TCountdownLine FCountdown;  // FTimerBtn and FOldX
  DWORD FTime = 0;            // tick count when the countdown started
  bool FCountdownRuns = false;
  DWORD FLastFocusTime = 0;
  bool FReshow = false;
  bool FSizingDone = false;
  bool FShuttingDown = false;
  HWND FCallbackWindow = nullptr; // the window registered for report changes
  int32_t FMinWidth = 0, FMinHeight = 0;
  int32_t FNCLabelX = 0, FNCLabelY = 0, FNCLabelW = 0;
  bool FNCLabelIn = false;
  int FCurrentTab = -1;
  std::string FCurrentTabContent;
  WNDPROC FOldTabsWndProc = nullptr;
  TDetailsTable FTable;               // the columns and rows of the list view shown
  HIMAGELIST FImageList = nullptr;    // 16 x 16: gives the list view's rows their height
};

} // namespace kx
