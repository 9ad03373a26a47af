// The Win32 bitmap on a real display (run under Wine by the lead): screen capture of painted
// windows compared pixel for pixel, the application-only rule with a window of another process
// and with one of our own on top, drawing, and BMP and PNG files on disk.
//
// The window of another process is this test program started again with the DISABLED_ cover
// test selected; it reads where to put its window from TIDEWELL_COVER_RECT.
#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "crash/output/image/NVBmpReader.h"
#include "crash/output/image/win32/NVLoadBitmapFile.h"
#include "crash/output/image/win32/NVScreenShot.h"
#include "crash/output/image/win32/NVWin32Bitmap.h"

#include "tests/support/TestTime.h"

namespace kx {
namespace {


using tidewell_test::WaitUntil;

// Only full-intensity channels: they come back exactly at any display depth.
constexpr COLORREF kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255), kYellow = RGB(255, 255, 0),
                   kCyan = RGB(0, 255, 255), kMagenta = RGB(255, 0, 255), kWhite = RGB(255, 255, 255),
                   kBlack = RGB(0, 0, 0);

using Quadrants = std::array<COLORREF, 4>; // top-left, top-right, bottom-left, bottom-right

COLORREF QuadrantColour(const Quadrants &colours, int width, int height, int x, int y) {
  return colours[size_t((y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0))];
}

LRESULT CALLBACK PaintedWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_ERASEBKGND:
    return 1;
  case WM_PAINT: {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    const auto *colours = reinterpret_cast<const Quadrants *>(GetWindowLongPtrW(window, GWLP_USERDATA));
    RECT client;
    GetClientRect(window, &client);
    const int w = client.right, h = client.bottom;
    const RECT parts[4] = {{0, 0, w / 2, h / 2}, {w / 2, 0, w, h / 2}, {0, h / 2, w / 2, h}, {w / 2, h / 2, w, h}};
    for (size_t i = 0; colours && i < 4; ++i) {
      HBRUSH brush = CreateSolidBrush((*colours)[i]);
      FillRect(dc, &parts[i], brush);
      DeleteObject(brush);
    }
    EndPaint(window, &paint);
    return 0;
  }
  case WM_CLOSE:
    DestroyWindow(window);
    return 0;
  case WM_DESTROY:
    PostQuitMessage(0);
    return 0;
  default:
    return DefWindowProcW(window, message, wParam, lParam);
  }
}

const wchar_t kClassName[] = L"TidewellImageTestWindow";

void RegisterWindowClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASSW c{};
    c.lpfnWndProc = PaintedWindowProc;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = kClassName;
    c.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    RegisterClassW(&c);
  });
}

// A borderless topmost window painted in four solid quadrants, run by a thread of its own.
class PaintedWindow {
public:
  PaintedWindow(RECT rect, Quadrants colours) : FRect(rect), FColours(colours) {
    RegisterWindowClass();
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    FThread = std::thread([this, ready] {
      FWindow = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClassName, L"", WS_POPUP, FRect.left, FRect.top,
                                FRect.right - FRect.left, FRect.bottom - FRect.top, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
      if (FWindow) {
        SetWindowLongPtrW(FWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&FColours));
        SetWindowPos(FWindow, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
        UpdateWindow(FWindow);
      }
      SetEvent(ready);
      MSG message;
      while (FWindow && GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    });
    WaitForSingleObject(ready, 10000);
    CloseHandle(ready);
  }
  ~PaintedWindow() {
    if (FWindow)
      PostMessageW(FWindow, WM_CLOSE, 0, 0);
    FThread.join();
  }
  PaintedWindow(const PaintedWindow &) = delete;
  PaintedWindow &operator=(const PaintedWindow &) = delete;

  HWND Handle() const { return FWindow; }
  const RECT &Rect() const { return FRect; }
  COLORREF ColourAt(int x, int y) const { // window coordinates
    return QuadrantColour(FColours, FRect.right - FRect.left, FRect.bottom - FRect.top, x, y);
  }

private:
  RECT FRect;
  Quadrants FColours;
  HWND FWindow = nullptr;
  std::thread FThread;
};

// A captured bitmap read back through its BMP text.
struct Picture {
  NVPixelBuffer pixels;
  COLORREF At(int x, int y) { // top-down
    const uint8_t *p = pixels.View().TopRow(y) + size_t(x) * 4;
    return RGB(p[2], p[1], p[0]);
  }
};

Picture Read(INVBitmap &bitmap) {
  NVBmpImage image = ReadBmp(bitmap.AsBmpStr());
  EXPECT_TRUE(image.Ok()) << BmpErrorText(image.error);
  return {std::move(image.pixels)};
}

RECT VirtualScreen() {
  const int left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  return {left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN), top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

// Puts the mouse cursor in the screen's bottom-right corner, away from the test windows.
void ParkCursor() {
  const RECT screen = VirtualScreen();
  SetCursorPos(screen.right - 2, screen.bottom - 2);
}

// Counts the window's pixels that differ in a full-screen capture; -1 without a capture.
int WrongPixels(const PaintedWindow &window, RECT screen) {
  auto shot = ScreenShot(false);
  if (!shot)
    return -1;
  Picture picture = Read(*shot);
  int wrong = 0;
  const RECT &r = window.Rect();
  for (int y = 0; y < r.bottom - r.top; ++y)
    for (int x = 0; x < r.right - r.left; ++x)
      wrong += picture.At(r.left - screen.left + x, r.top - screen.top + y) != window.ColourAt(x, y);
  return wrong;
}

bool TopWindowAtCentreIs(const RECT &r, const std::function<bool(HWND)> &test) {
  HWND top = WindowFromPoint({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
  return top && test(top);
}

TEST(ScreenShotWin32, FullCaptureHoldsAWindowsPixelsExactly) {
  ParkCursor();
  PaintedWindow window({100, 100, 300, 220}, {kRed, kGreen, kBlue, kYellow});
  ASSERT_TRUE(window.Handle());
  const RECT screen = VirtualScreen();
  auto shot = ScreenShot(false);
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot->GetWidth(), screen.right - screen.left);
  EXPECT_EQ(shot->GetHeight(), screen.bottom - screen.top);
  // The window may take a moment to reach the screen; then every pixel must be exact.
  int wrong = -1;
  WaitUntil([&] { return (wrong = WrongPixels(window, screen)) == 0; });
  EXPECT_EQ(wrong, 0) << "pixels of the window that differ in the screenshot";
}

TEST(ScreenShotWin32, AppOnlyCaptureIsTheOwnWindowAlone) {
  ParkCursor();
  PaintedWindow window({120, 90, 280, 190}, {kBlue, kYellow, kRed, kGreen});
  ASSERT_TRUE(window.Handle());
  ASSERT_TRUE(WaitUntil([&] { return WrongPixels(window, VirtualScreen()) == 0; }));
  auto shot = ScreenShot(true);
  ASSERT_TRUE(shot);
  ASSERT_EQ(shot->GetWidth(), 160);
  ASSERT_EQ(shot->GetHeight(), 100);
  Picture picture = Read(*shot);
  int wrong = 0;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 160; ++x)
      wrong += picture.At(x, y) != window.ColourAt(x, y);
  EXPECT_EQ(wrong, 0);
}

// The cover process: a topmost window of another process over the rectangle it is given, kept
// until the parent signals the event it names.
TEST(DISABLED_CoverHelper, CoversTheGivenRectangle) {
  char text[128] = {};
  ASSERT_GT(GetEnvironmentVariableA("TIDEWELL_COVER_RECT", text, sizeof(text)), 0u);
  RECT r{};
  unsigned long parentEvent = 0, readyEvent = 0;
  ASSERT_EQ(std::sscanf(text, "%ld,%ld,%ld,%ld,%lu,%lu", &r.left, &r.top, &r.right, &r.bottom, &readyEvent,
                        &parentEvent),
            6);
  PaintedWindow cover(r, {kCyan, kMagenta, kBlack, kWhite});
  ASSERT_TRUE(cover.Handle());
  SetEvent(reinterpret_cast<HANDLE>(uintptr_t(readyEvent)));
  EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(uintptr_t(parentEvent)), 60000), WAIT_OBJECT_0);
}

// Starts this program again as the cover process over rect; ends it when destroyed.
class CoverProcess {
public:
  explicit CoverProcess(RECT rect) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    FReady = CreateEventW(&inherit, TRUE, FALSE, nullptr);
    FDone = CreateEventW(&inherit, TRUE, FALSE, nullptr);
    char text[128];
    std::snprintf(text, sizeof(text), "%ld,%ld,%ld,%ld,%lu,%lu", rect.left, rect.top, rect.right, rect.bottom,
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(FReady)),
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(FDone)));
    SetEnvironmentVariableA("TIDEWELL_COVER_RECT", text);
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(exe) +
                           L"\" --gtest_also_run_disabled_tests --gtest_filter=DISABLED_CoverHelper.*";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (CreateProcessW(exe, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &FProcess))
      CloseHandle(FProcess.hThread);
    else
      FProcess.hProcess = nullptr;
    SetEnvironmentVariableA("TIDEWELL_COVER_RECT", nullptr);
  }
  ~CoverProcess() {
    SetEvent(FDone);
    if (FProcess.hProcess) {
      if (WaitForSingleObject(FProcess.hProcess, 20000) != WAIT_OBJECT_0)
        TerminateProcess(FProcess.hProcess, 1);
      CloseHandle(FProcess.hProcess);
    }
    CloseHandle(FReady);
    CloseHandle(FDone);
  }
  CoverProcess(const CoverProcess &) = delete;
  CoverProcess &operator=(const CoverProcess &) = delete;

  bool Started() const { return FProcess.hProcess != nullptr; }
  bool WaitReady() {
    HANDLE both[2] = {FReady, FProcess.hProcess};
    return WaitForMultipleObjects(2, both, FALSE, 30000) == WAIT_OBJECT_0;
  }
  // The exit code once the process has ended (after the cover was released), or -1.
  long Finish() {
    SetEvent(FDone);
    DWORD code = DWORD(-1);
    if (WaitForSingleObject(FProcess.hProcess, 20000) == WAIT_OBJECT_0)
      GetExitCodeProcess(FProcess.hProcess, &code);
    return long(code);
  }

private:
  HANDLE FReady = nullptr, FDone = nullptr;
  PROCESS_INFORMATION FProcess{};
};

TEST(ScreenShotWin32, AppOnlyGivesNothingWhenAnotherProcessCoversTheApplication) {
  ParkCursor();
  PaintedWindow window({100, 100, 300, 220}, {kRed, kGreen, kBlue, kYellow});
  ASSERT_TRUE(window.Handle());
  ASSERT_TRUE(ScreenShot(true)) << "uncovered, the window must be captured";
  CoverProcess cover({90, 90, 310, 230});
  ASSERT_TRUE(cover.Started());
  ASSERT_TRUE(cover.WaitReady()) << "the cover process did not show its window";
  ASSERT_TRUE(WaitUntil([&] {
    return TopWindowAtCentreIs(window.Rect(), [](HWND top) {
      DWORD process = 0;
      GetWindowThreadProcessId(top, &process);
      return process != GetCurrentProcessId();
    });
  })) << "the other process's window did not come above ours";
  EXPECT_FALSE(ScreenShot(true));
  EXPECT_TRUE(ScreenShot(false)); // the whole screen is still there
  EXPECT_EQ(cover.Finish(), 0);
}

TEST(ScreenShotWin32, AppOnlyWithOurOwnWindowOnTopShowsThatWindow) {
  // A window of a second thread of this process covers the first one completely. Being one of
  // ours, it is part of the application's region itself: the picture is that window.
  ParkCursor();
  PaintedWindow below({100, 100, 300, 220}, {kRed, kGreen, kBlue, kYellow});
  ASSERT_TRUE(below.Handle());
  PaintedWindow above({80, 90, 320, 240}, {kCyan, kMagenta, kWhite, kBlack});
  ASSERT_TRUE(above.Handle());
  ASSERT_TRUE(
      WaitUntil([&] { return TopWindowAtCentreIs(below.Rect(), [&](HWND top) { return top == above.Handle(); }); }));
  ASSERT_TRUE(WaitUntil([&] { return WrongPixels(above, VirtualScreen()) == 0; }));
  auto shot = ScreenShot(true);
  ASSERT_TRUE(shot);
  ASSERT_EQ(shot->GetWidth(), 240);
  ASSERT_EQ(shot->GetHeight(), 150);
  Picture picture = Read(*shot);
  int wrong = 0;
  for (int y = 0; y < 150; ++y)
    for (int x = 0; x < 240; ++x)
      wrong += picture.At(x, y) != above.ColourAt(x, y);
  EXPECT_EQ(wrong, 0);
}

std::u16string TempPath(const wchar_t *name) {
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  const std::wstring path = std::wstring(folder) + name;
  return std::u16string(path.begin(), path.end());
}

NVPixelBuffer TestPattern(int32_t width, int32_t height) {
  NVPixelBuffer pixels(width, height);
  for (size_t i = 0; i < pixels.Bits().size(); ++i)
    pixels.Bits()[i] = uint8_t(i * 37 + i / 7);
  return pixels;
}

TEST(Win32Bitmap, DrawsIntoADeviceContext) {
  NVPixelBuffer pattern = TestPattern(8, 6);
  auto source = TNVWin32Bitmap::Copy(pattern.View());
  auto target = TNVWin32Bitmap::Create(20, 20);
  ASSERT_TRUE(source && target);
  ASSERT_TRUE(source->Draw(reinterpret_cast<NVDeviceContext>(target->DC()), 3, 4));
  Picture from = Read(*source), to = Read(*target);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x)
      ASSERT_EQ(to.At(3 + x, 4 + y), from.At(x, y)) << x << "," << y;
  EXPECT_EQ(to.At(2, 4), RGB(0, 0, 0));
  // A zoomed bitmap is a Win32 bitmap again, and draws too.
  auto zoomed = source->Zoom(4, 4);
  ASSERT_TRUE(zoomed);
  EXPECT_EQ(zoomed->GetWidth(), 4);
  EXPECT_EQ(zoomed->GetHeight(), 3);
  EXPECT_TRUE(zoomed->Draw(reinterpret_cast<NVDeviceContext>(target->DC()), 0, 0));
}

TEST(Win32Bitmap, SavesAndLoadsBmpAndSavesPngFiles) {
  NVPixelBuffer pattern = TestPattern(33, 17);
  auto bitmap = TNVWin32Bitmap::Copy(pattern.View());
  ASSERT_TRUE(bitmap);
  const std::u16string bmp = TempPath(L"tidewell_image_test.bmp"), png = TempPath(L"tidewell_image_test.png");
  ASSERT_TRUE(bitmap->SaveBmp(bmp));
  NVBmpError error = NVBmpError::none;
  auto loaded = LoadBitmapFile(bmp, &error);
  ASSERT_TRUE(loaded) << BmpErrorText(error);
  EXPECT_EQ(loaded->GetWidth(), 33);
  EXPECT_EQ(loaded->GetHeight(), 17);
  EXPECT_EQ(loaded->AsBmpStr(), bitmap->AsBmpStr());

  ASSERT_TRUE(bitmap->SavePng(png, 0));
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  ASSERT_TRUE(GetFileAttributesExW(reinterpret_cast<const wchar_t *>(png.c_str()), GetFileExInfoStandard, &attributes));
  EXPECT_EQ(attributes.nFileSizeLow, bitmap->AsPngStr(0).size());

  // A PNG file is no BMP; a missing file cannot be read; a folder that does not exist takes no file.
  EXPECT_FALSE(LoadBitmapFile(png, &error));
  EXPECT_EQ(error, NVBmpError::notBmp);
  DeleteFileW(reinterpret_cast<const wchar_t *>(bmp.c_str()));
  DeleteFileW(reinterpret_cast<const wchar_t *>(png.c_str()));
  EXPECT_FALSE(LoadBitmapFile(bmp, &error));
  EXPECT_EQ(error, NVBmpError::unreadable);
  const std::u16string nowhere = TempPath(L"tidewell_no_such_folder\\shot.bmp");
  EXPECT_FALSE(bitmap->SaveBmp(nowhere));
  EXPECT_EQ(GetFileAttributesW(reinterpret_cast<const wchar_t *>(nowhere.c_str())), INVALID_FILE_ATTRIBUTES);
}

} // namespace
} // namespace kx
