// gui_example: a window with three buttons, each ending in a bug report (bugreport.txt beside the
// exe): an exception thrown in a click, an access violation, an exception in a thread. Started
// as "gui_example throw|fault|thread" it presses that button itself and closes when done.
// Linking Kestrelix::Kestrelix is all it takes; nothing here calls the reporter.
#include <windows.h>

#include <cstring>

#include "Logger.h"

namespace {
enum Button { kThrow = 1, kFault, kThread };
int gRequest = 0;

void Press(HWND window, int button) {
  switch (button) {
  case kThrow:
    OpenArchive();
    break;
  case kFault:
    ClearRecord(nullptr);
    break;
  case kThread: {
    HANDLE thread = CreateThread(nullptr, 0, &ArchiveThread, nullptr, 0, nullptr);
    if (thread) {
      WaitForSingleObject(thread, INFINITE);
      CloseHandle(thread);
    }
    SetWindowTextW(window, L"The thread has ended");
    break;
  }
  }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_CREATE: {
    const wchar_t *captions[] = {L"Throw", L"Fault", L"Thread"};
    for (int i = 0; i < 3; ++i)
      CreateWindowW(L"BUTTON", captions[i], WS_CHILD | WS_VISIBLE, 10 + 90 * i, 10, 80, 28, window,
                    reinterpret_cast<HMENU>(INT_PTR(kThrow + i)), nullptr, nullptr);
    if (gRequest)
      PostMessageW(window, WM_COMMAND, gRequest, 0);
    return 0;
  }
  case WM_COMMAND:
    Press(window, LOWORD(wParam));
    if (gRequest)
      DestroyWindow(window);
    return 0;
  case WM_DESTROY:
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show) {
  const char *requests[] = {"throw", "fault", "thread"};
  for (int i = 0; i < 3; ++i)
    if (std::strcmp(commandLine, requests[i]) == 0)
      gRequest = kThrow + i;

  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = &WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = L"GuiExample";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowW(L"GuiExample", L"Kestrelix example", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                              310, 100, nullptr, nullptr, instance, nullptr);
  ShowWindow(window, show);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
