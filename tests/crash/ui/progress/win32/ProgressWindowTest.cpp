// The progress window under Wine: created on the test's thread, driven from others, read back
// through window messages.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "crash/ui/progress/ProgressModel.h"
#include "crash/ui/progress/win32/ProgressAlertWin32.h"
#include "runtime/win32/WideText.h"

namespace kx {
namespace {

using namespace std::chrono_literals;

HMODULE TestModule() { return GetModuleHandleW(nullptr); }

BOOL CALLBACK FindProgressClass(HWND wnd, LPARAM found) {
  wchar_t name[64];
  GetClassNameW(wnd, name, 64);
  if (wcscmp(name, kProgressWindowClass) != 0)
    return TRUE;
  *reinterpret_cast<HWND *>(found) = wnd;
  return FALSE;
}

// The progress window of the calling thread.
HWND FindProgressWindow() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindProgressClass, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Dispatches the calling thread's messages until the condition holds or the time is up.
// Dispatches this thread's messages until done() holds; messages at or above `keepFrom` stay queued.
bool PumpUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = 5s, UINT keepFrom = 0) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end)
      return false;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, keepFrom ? keepFrom - 1 : 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(5);
  }
  return true;
}

void Pump() {
  PumpUntil([] { return false; }, 50ms);
}

RECT ChildRect(HWND child) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT *>(&r), 2);
  return r;
}

int BarPosition(HWND wnd) { return int(SendMessageW(GetDlgItem(wnd, kProgressBarId), PBM_GETPOS, 0, 0)); }

std::string LabelText(HWND wnd) { return WindowText(GetDlgItem(wnd, kProgressLabelId)); }

HWND CreateOwnerWindow() {
  HWND wnd = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200, nullptr,
                             nullptr, nullptr, nullptr);
  EXPECT_NE(wnd, nullptr);
  return wnd;
}

TEST(ProgressWindowTest, ShowsPleaseWaitOnceAndCloses) {
  auto alert = CreateProgressAlert("Information", TestModule(), "KXNOSUCHPICTURE");
  EXPECT_EQ(alert->GetTitle(), "Information");
  alert->SetPosition(300); // not shown and no areas yet: nothing to show, nothing to divide
  ASSERT_TRUE(alert->Show(nullptr, false));
  HWND wnd = FindProgressWindow();
  ASSERT_NE(wnd, nullptr);
  EXPECT_EQ(WindowText(wnd), "Information");
  EXPECT_EQ(LabelText(wnd), "Please wait...");
  EXPECT_EQ(GetDlgItem(wnd, kProgressPictureId), nullptr);
  HWND bar = GetDlgItem(wnd, kProgressBarId);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 1000);
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, TRUE, 0), 0);
  EXPECT_EQ(BarPosition(wnd), 300); // the stored position, in the one area of weight 1000

  const LONG style = GetWindowLongW(wnd, GWL_STYLE);
  const LONG exStyle = GetWindowLongW(wnd, GWL_EXSTYLE);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
  EXPECT_EQ(exStyle & (WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_DLGMODALFRAME),
            WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_DLGMODALFRAME);
  EXPECT_TRUE(IsWindowVisible(wnd));

  alert->AddArea(1000, "More");
  alert->SetTitle("Changed");
  EXPECT_EQ(WindowText(wnd), "Changed");
  EXPECT_FALSE(alert->Show(nullptr, true));
  EXPECT_EQ(FindProgressWindow(), wnd);
  EXPECT_EQ(LabelText(wnd), "Please wait...");

  alert->Close();
  EXPECT_FALSE(IsWindow(wnd));
  alert->Close(); // closed already: nothing
  ASSERT_TRUE(alert->Show(nullptr, false)); // and it can be shown again
  EXPECT_NE(FindProgressWindow(), nullptr);
  alert.reset(); // the last reference closes the window
  EXPECT_EQ(FindProgressWindow(), nullptr);
}

TEST(ProgressWindowTest, LayoutWithPictureAndPlacement) {
  auto alert = CreateProgressAlert("Sending bug report...", TestModule(), "KXIPLWAIT");
  alert->AddArea(100, "Connecting...");
  ASSERT_TRUE(alert->Show(nullptr, false));
  HWND wnd = FindProgressWindow();
  ASSERT_NE(wnd, nullptr);

  HWND picture = GetDlgItem(wnd, kProgressPictureId);
  ASSERT_NE(picture, nullptr);
  EXPECT_FALSE(IsWindowEnabled(picture));
  const RECT p = ChildRect(picture);
  EXPECT_EQ(p.left, 9);
  EXPECT_EQ(p.top, 9);
  EXPECT_EQ(p.right - p.left, 32);
  EXPECT_EQ(p.bottom - p.top, 32);

  const RECT label = ChildRect(GetDlgItem(wnd, kProgressLabelId));
  const RECT bar = ChildRect(GetDlgItem(wnd, kProgressBarId));
  RECT client;
  GetClientRect(wnd, &client);
  EXPECT_EQ(label.left, 51);
  EXPECT_EQ(label.bottom - label.top, 26); // one line is raised to the picture's height...
  EXPECT_GT(label.top, 12);                // ...and moved down to centre it
  EXPECT_EQ(bar.left, 11);
  EXPECT_EQ(bar.top, 26 + 24);
  EXPECT_EQ(bar.right, label.right);
  EXPECT_EQ(bar.bottom - bar.top, GetSystemMetrics(SM_CYHSCROLL));
  EXPECT_EQ(bar.right - bar.left, 220); // a short text: the least width
  EXPECT_EQ(client.right, bar.right + 11);
  EXPECT_EQ(client.bottom, bar.bottom + 12);

  // Not activated: 2 pixels in from the bottom-right corner of the work area.
  RECT work, window;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
  GetWindowRect(wnd, &window);
  EXPECT_EQ(window.right, work.right - 2);
  EXPECT_EQ(window.bottom, work.bottom - 2);
  alert->Close();

  // Activated: centred on the screen.
  ASSERT_TRUE(alert->Show(nullptr, true));
  wnd = FindProgressWindow();
  GetWindowRect(wnd, &window);
  EXPECT_NEAR((window.left + window.right) / 2.0, GetSystemMetrics(SM_CXSCREEN) / 2.0, 1.0);
  EXPECT_NEAR((window.top + window.bottom) / 2.0, GetSystemMetrics(SM_CYSCREEN) / 2.0, 1.0);
}

TEST(ProgressWindowTest, LongTextsWrapAndTheLabelFitsTheLaterAreas) {
  const std::string longText =
      "Sending the bug report to the developers of this program, together with the screenshot and the "
      "other attachments, can take a while on a slow connection; please leave the program running.";
  auto alert = CreateProgressAlert("Sending", nullptr, "");
  alert->AddArea(100, "Short");
  alert->AddArea(100, longText);
  ASSERT_TRUE(alert->Show(nullptr, false));
  HWND wnd = FindProgressWindow();
  HWND labelWnd = GetDlgItem(wnd, kProgressLabelId);
  const RECT label = ChildRect(labelWnd);
  EXPECT_EQ(LabelText(wnd), "Short");
  EXPECT_LE(label.right - label.left, kProgressWrapWidth);
  EXPECT_GT(label.right - label.left, 300);

  HDC dc = GetDC(labelWnd);
  SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(labelWnd, WM_GETFONT, 0, 0)));
  TEXTMETRICW metrics;
  GetTextMetricsW(dc, &metrics);
  ReleaseDC(labelWnd, dc);
  EXPECT_GE(label.bottom - label.top, 3 * metrics.tmHeight); // several lines of the later text
  EXPECT_LT(metrics.tmHeight, 16);                           // the small dialog font, not the system font

  const RECT bar = ChildRect(GetDlgItem(wnd, kProgressBarId));
  RECT client;
  GetClientRect(wnd, &client);
  EXPECT_EQ(bar.top, label.bottom + 12);
  EXPECT_EQ(client.bottom, bar.bottom + 12);

  alert->AreaDone();
  EXPECT_EQ(LabelText(wnd), longText);
  EXPECT_EQ(BarPosition(wnd), 500);
}

// Fills a 32 x 32 top-down DIB with a marker, asks the window to draw its picture into it and
// returns the pixels (0x00RRGGBB, row 0 at the top).
std::vector<uint32_t> DrawPictureInto(HWND wnd, bool &reportedDrawn) {
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), 32, -32, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void *bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bitmap);
  auto *pixels = static_cast<uint32_t *>(bits);
  std::fill(pixels, pixels + 32 * 32, 0x00FF00FFu);
  DRAWITEMSTRUCT item{};
  item.CtlType = ODT_BUTTON;
  item.CtlID = kProgressPictureId;
  item.itemAction = ODA_DRAWENTIRE;
  item.hwndItem = GetDlgItem(wnd, kProgressPictureId);
  item.hDC = dc;
  item.rcItem = {0, 0, 32, 32};
  reportedDrawn = SendMessageW(wnd, WM_DRAWITEM, kProgressPictureId, reinterpret_cast<LPARAM>(&item)) != 0;
  GdiFlush();
  std::vector<uint32_t> result(pixels, pixels + 32 * 32);
  for (uint32_t &pixel : result)
    pixel &= 0x00FFFFFF;
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return result;
}

TEST(ProgressWindowTest, DrawsThePictureBlendedOverTheButtonFace) {
  auto alert = CreateProgressAlert("Information", TestModule(), "KXIPLWAIT");
  ASSERT_TRUE(alert->Show(nullptr, false));
  HWND wnd = FindProgressWindow();
  bool drawn = false;
  const std::vector<uint32_t> pixels = DrawPictureInto(wnd, drawn);
  EXPECT_TRUE(drawn);
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const uint32_t faceRgb = uint32_t(GetRValue(face)) << 16 | uint32_t(GetGValue(face)) << 8 | GetBValue(face);
  // The corner is fully transparent: the face with 1/256 of the rim colour (30, 90, 200).
  EXPECT_EQ(pixels[0], BlendOverBackground(0x001E5AC8, faceRgb));
  // The hand points up: the picture is not upside down.
  EXPECT_EQ(pixels[10 * 32 + 16], 0x00141428u);
  EXPECT_EQ(pixels[22 * 32 + 16], 0x00FFFFFFu);
  EXPECT_EQ(pixels[16 * 32 + 20], 0x00141428u); // and one to the right
  EXPECT_EQ(pixels[16 * 32 + 11], 0x00FFFFFFu);
}

TEST(ProgressWindowTest, PictureOfTheWrongSizeLeavesTheAreaEmpty) {
  auto alert = CreateProgressAlert("Information", TestModule(), "KXWRONGSIZE");
  ASSERT_TRUE(alert->Show(nullptr, false));
  HWND wnd = FindProgressWindow();
  ASSERT_NE(GetDlgItem(wnd, kProgressPictureId), nullptr); // the place is kept
  bool drawn = false;
  const std::vector<uint32_t> pixels = DrawPictureInto(wnd, drawn);
  for (uint32_t pixel : pixels)
    ASSERT_EQ(pixel, 0x00FF00FFu);
  Pump(); // and painting it for real does not fail
  EXPECT_TRUE(IsWindow(wnd));
}

TEST(ProgressWindowTest, UserCannotCloseIt) {
  auto alert = CreateProgressAlert("Information", nullptr, "");
  ASSERT_TRUE(alert->Show(nullptr, true));
  HWND wnd = FindProgressWindow();
  // A caption without the system-menu style: no close button. Where the system still keeps a
  // menu for it, only moving and closing are left in it.
  EXPECT_EQ(GetWindowLongW(wnd, GWL_STYLE) & WS_SYSMENU, 0);
  if (HMENU menu = GetSystemMenu(wnd, FALSE)) {
    for (UINT gone : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE})
      EXPECT_EQ(GetMenuState(menu, gone, MF_BYCOMMAND), UINT(-1)) << gone;
    EXPECT_NE(GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND), UINT(-1));
  }

  SendMessageW(wnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  SendMessageW(wnd, WM_CLOSE, 0, 0);
  PostMessageW(wnd, WM_CLOSE, 0, 0);
  // Alt+F4 as the keyboard delivers it: the default processing turns it into SC_CLOSE.
  SendMessageW(wnd, WM_SYSKEYDOWN, VK_F4, LPARAM(1) | (LPARAM(1) << 29));
  SendMessageW(wnd, WM_SYSKEYUP, VK_F4, LPARAM(1) | (LPARAM(1) << 29) | (LPARAM(3) << 30));
  Pump();
  EXPECT_TRUE(IsWindow(wnd));
  alert->Close();
  EXPECT_FALSE(IsWindow(wnd));
}

TEST(ProgressWindowTest, WorkThreadDrivesTheWindowOfTheShowingThread) {
  constexpr UINT kMarker = WM_APP + 0x3A7;
  auto alert = CreateProgressAlert("Information", nullptr, "");
  alert->AddArea(1, "one");
  alert->AddArea(3, "");
  alert->AddArea(0, "three");
  ASSERT_TRUE(alert->Show(nullptr, false));
  HWND wnd = FindProgressWindow();
  EXPECT_EQ(GetWindowThreadProcessId(wnd, nullptr), GetCurrentThreadId());

  std::atomic<int> step{0};
  std::thread worker([&] {
    alert->SetPosition(1000);
    alert->AreaDone();
    alert->SetPosition(500);
    alert->SetTitle("Tracing the stacks");
    // Messages of the showing thread are not this thread's to dispatch.
    PostThreadMessageW(GetWindowThreadProcessId(wnd, nullptr), kMarker, 0, 0);
    alert->ProcessMessages();
    step = 1;
    while (step != 2)
      Sleep(1);
    alert->AreaDone();
    alert->AreaDone();
    alert->AreaDone(); // past the last area: nothing more
    step = 3;
  });
  // The showing thread waits in the way the reporter does: short waits, dispatching in between
  // (all but the marker, which must still be queued here when the worker is done).
  ASSERT_TRUE(PumpUntil([&] { return step == 1; }, 5s, kMarker));
  MSG pending;
  EXPECT_TRUE(PeekMessageW(&pending, nullptr, kMarker, kMarker, PM_REMOVE));
  alert->ProcessMessages();
  EXPECT_EQ(alert->GetCurrentArea(), 1);
  EXPECT_EQ(alert->GetPosition(), 500);
  EXPECT_EQ(BarPosition(wnd), 625);
  EXPECT_EQ(LabelText(wnd), "one"); // the second area repeats the first one's text
  EXPECT_EQ(WindowText(wnd), "Tracing the stacks");
  step = 2;
  ASSERT_TRUE(PumpUntil([&] { return step == 3; }));
  worker.join();
  alert->ProcessMessages();
  EXPECT_EQ(alert->GetCurrentArea(), 2);
  EXPECT_EQ(alert->GetPosition(), 1000);
  EXPECT_EQ(BarPosition(wnd), 1000);
  EXPECT_EQ(LabelText(wnd), "three");

  alert->SetCurrentArea(-1);
  alert->SetCurrentArea(4);
  EXPECT_EQ(alert->GetCurrentArea(), 2);
  alert->SetCurrentArea(0);
  EXPECT_EQ(BarPosition(wnd), 0);
  EXPECT_EQ(LabelText(wnd), "one");

  // On the showing thread a new position also lets the thread's pending messages through, so a
  // thread that reports progress between steps of its own work keeps the window alive.
  PostThreadMessageW(GetCurrentThreadId(), WM_APP + 7, 0, 0);
  alert->SetPosition(200);
  EXPECT_EQ(BarPosition(wnd), 50);
  MSG left;
  EXPECT_FALSE(PeekMessageW(&left, nullptr, WM_APP + 7, WM_APP + 7, PM_NOREMOVE));
}

TEST(ProgressWindowTest, AnUpdateFromAnotherThreadNeverOverridesANewerOne) {
  auto alert = CreateProgressAlert("Information", nullptr, "");
  alert->AddArea(100, "one");
  alert->AddArea(100, "two");
  alert->AddArea(100, "three");
  ASSERT_TRUE(alert->Show(nullptr, false));
  HWND wnd = FindProgressWindow();
  // The work thread's updates wait in this thread's queue...
  std::thread([&] {
    alert->SetCurrentArea(1);
    alert->SetPosition(100);
    alert->SetTitle("from the work thread");
  }).join();
  // ...while this thread moves on; dispatching them afterwards must not bring back the old state.
  alert->SetTitle("from the window's thread");
  alert->SetCurrentArea(2);
  alert->SetPosition(900);
  Pump();
  EXPECT_EQ(LabelText(wnd), "three");
  EXPECT_EQ(BarPosition(wnd), 966); // (200 * 1000 + 100 * 900) / 300
  EXPECT_EQ(WindowText(wnd), "from the window's thread");
}

TEST(ProgressWindowTest, CloseFromAnotherThreadGivesTheOwnerBack) {
  HWND owner = CreateOwnerWindow();
  auto alert = CreateProgressAlert("Information", nullptr, "");
  ASSERT_TRUE(alert->Show(owner, true));
  HWND wnd = FindProgressWindow();
  EXPECT_EQ(GetWindow(wnd, GW_OWNER), owner);
  EXPECT_FALSE(IsWindowEnabled(owner));

  std::atomic<bool> closed{false};
  std::thread worker([&] {
    alert->Close();
    closed = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return closed.load(); }));
  worker.join();
  EXPECT_FALSE(IsWindow(wnd)); // gone by the time Close returned
  EXPECT_TRUE(IsWindowEnabled(owner));

  // An owner that was disabled before stays disabled.
  EnableWindow(owner, FALSE);
  ASSERT_TRUE(alert->Show(owner, false));
  alert->Close();
  EXPECT_FALSE(IsWindowEnabled(owner));
  DestroyWindow(owner);
}

TEST(ProgressWindowTest, CloseFromAnotherThreadDoesNotHangOnABusyOwner) {
  auto alert = CreateProgressAlert("Information", nullptr, "");
  ASSERT_TRUE(alert->Show(nullptr, false));
  HWND wnd = FindProgressWindow();
  std::atomic<bool> closed{false};
  std::thread worker([&] {
    alert->Close();
    closed = true;
  });
  // This thread dispatches nothing for a while: Close gives up waiting...
  const auto start = std::chrono::steady_clock::now();
  while (!closed && std::chrono::steady_clock::now() - start < 8s)
    Sleep(10);
  EXPECT_TRUE(closed);
  worker.join();
  EXPECT_TRUE(IsWindow(wnd));
  // ...and the window goes as soon as its thread handles messages again.
  EXPECT_TRUE(PumpUntil([&] { return !IsWindow(wnd); }));
  EXPECT_TRUE(alert->Show(nullptr, false));
}

TEST(ProgressWindowTest, WindowOfAnEndedThread) {
  HWND owner = CreateOwnerWindow();
  auto alert = CreateProgressAlert("Information", nullptr, "");
  HWND shown = nullptr;
  std::thread ui([&] {
    ASSERT_TRUE(alert->Show(owner, false));
    shown = FindProgressWindow();
    alert->ProcessMessages();
  }); // the thread ends without Close: its windows go with it
  ASSERT_TRUE(PumpUntil([&] { return shown != nullptr; }));
  ui.join();
  EXPECT_TRUE(PumpUntil([&] { return !IsWindow(shown); }));
  const auto start = std::chrono::steady_clock::now();
  alert->Close(); // nothing left to close but the owner to give back; no waiting
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_TRUE(alert->Show(owner, false));
  EXPECT_FALSE(IsWindowEnabled(owner));
  alert->Close();
  EXPECT_TRUE(IsWindowEnabled(owner));
  DestroyWindow(owner);
}

TEST(ProgressWindowTest, ProcessMessagesLeavesQuitToTheMessageLoop) {
  auto alert = CreateProgressAlert("Information", nullptr, "");
  ASSERT_TRUE(alert->Show(nullptr, false));
  PostQuitMessage(7);
  alert->ProcessMessages();
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 7u);
}

} // namespace
} // namespace kx
