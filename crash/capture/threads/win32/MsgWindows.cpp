#include "crash/capture/threads/win32/MsgWindows.h"

#include <algorithm>
#include <string>
#include <vector>

#include "crash/capture/threads/ThreadTitles.h"

namespace kx {

namespace {

struct Registration {
  UINT msg;
  TMsgHandler plain;
  TMsgHandlerOO bound;
  void *object;

  bool SameHandler(const Registration &other) const {
    return plain == other.plain && bound == other.bound && object == other.object;
  }
};

struct ThreadWindow {
  DWORD threadId;
  HWND window;
  std::vector<Registration> registrations;
};

// The window list. A slim lock needs no creation or deletion, so it can be used at any time of the
// module's life; it is never held while a window is created, destroyed or called.
SRWLOCK gLock = SRWLOCK_INIT;
std::vector<ThreadWindow> *gWindows = nullptr;
bool gClosed = false;

class ListGuard {
public:
  ListGuard() { AcquireSRWLockExclusive(&gLock); }
  ~ListGuard() { ReleaseSRWLockExclusive(&gLock); }
  ListGuard(const ListGuard &) = delete;
  ListGuard &operator=(const ListGuard &) = delete;
};

std::vector<ThreadWindow> &Windows() {
  if (!gWindows)
    gWindows = new std::vector<ThreadWindow>();
  return *gWindows;
}

ThreadWindow *FindByThread(DWORD threadId) {
  for (ThreadWindow &entry : Windows())
    if (entry.threadId == threadId)
      return &entry;
  return nullptr;
}

// Removes an entry by moving the last one into its place.
void RemoveEntry(ThreadWindow *entry) {
  std::vector<ThreadWindow> &windows = Windows();
  *entry = std::move(windows.back());
  windows.pop_back();
}

LRESULT CALLBACK MsgWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = DefWindowProcW(window, msg, wParam, lParam);
  if (msg == WM_NCDESTROY) {
    // A window destroyed by anyone leaves the list, so that no registration is kept on a dead window.
    ListGuard guard;
    for (ThreadWindow &entry : Windows())
      if (entry.window == window) {
        RemoveEntry(&entry);
        break;
      }
    return result;
  }
  if (!IsHandledWindowMessage(msg))
    return result;
  std::vector<Registration> calls;
  {
    ListGuard guard;
    for (const ThreadWindow &entry : Windows())
      if (entry.window == window) {
        for (const Registration &registration : entry.registrations)
          if (registration.msg == msg)
            calls.push_back(registration);
        break;
      }
  }
  for (const Registration &call : calls) {
    if (call.bound)
      call.bound(call.object, window, msg, wParam, lParam, result);
    else
      call.plain(window, msg, wParam, lParam, result);
  }
  return result;
}

HWND CreateThreadWindow(DWORD threadId) {
  static const char digits[] = "0123456789abcdef";
  auto unique = reinterpret_cast<ULONG_PTR>(&CreateThreadWindow);
  std::string uniqueHex;
  do {
    uniqueHex.insert(uniqueHex.begin(), digits[unique & 15]);
    unique >>= 4;
  } while (unique);
  std::string name = "kesToolsMsgHandlerWindow$" + ThreadIdHex(threadId) + "$" + uniqueHex;
  std::wstring className(name.begin(), name.end());

  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = MsgWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = className.c_str();
  // A later thread with the same id finds the class registered already.
  if (!RegisterClassW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    return nullptr;
  return CreateWindowExW(WS_EX_TOOLWINDOW, className.c_str(), L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                         instance, nullptr);
}

UINT Attach(const Registration &wanted, DWORD threadId) {
  threadId = threadId ? threadId : GetCurrentThreadId();
  HWND window = ThreadMsgWindow(threadId);
  if (!window)
    return 0;
  ListGuard guard;
  ThreadWindow *entry = FindByThread(threadId);
  if (!entry || entry->window != window)
    return 0; // the window went meanwhile
  Registration registration = wanted;
  if (registration.msg) {
    for (const Registration &existing : entry->registrations)
      if (existing.msg == registration.msg && existing.SameHandler(registration))
        return 0;
  } else {
    UINT free = WM_USER;
    while (std::any_of(entry->registrations.begin(), entry->registrations.end(),
                       [free](const Registration &existing) { return existing.msg == free; }))
      ++free;
    registration.msg = free;
  }
  entry->registrations.push_back(registration);
  return registration.msg;
}

void Detach(const Registration &wanted, DWORD threadId) {
  threadId = threadId ? threadId : GetCurrentThreadId();
  HWND closing = nullptr;
  {
    ListGuard guard;
    ThreadWindow *entry = FindByThread(threadId);
    if (!entry)
      return;
    std::vector<Registration> &list = entry->registrations;
    for (size_t i = 0; i < list.size();) {
      if (list[i].SameHandler(wanted) && (!wanted.msg || list[i].msg == wanted.msg)) {
        list[i] = list.back();
        list.pop_back();
      } else {
        ++i;
      }
    }
    if (list.empty()) {
      closing = entry->window;
      RemoveEntry(entry);
    }
  }
  if (closing && IsWindow(closing)) {
    if (threadId == GetCurrentThreadId())
      DestroyWindow(closing);
    else
      PostMessageW(closing, WM_CLOSE, 0, 0);
  }
}

} // namespace

bool IsHandledWindowMessage(UINT msg) {
  static const UINT notifications[] = {0x11, 0x12, 0x15, 0x16, 0x17, 0x1A, 0x1B, 0x1C, 0x1D,
                                       0x1E, 0x2A, 0x41, 0x48, 0x50, 0x51, 0x54, 0x7E};
  return msg >= 0x218 || std::find(std::begin(notifications), std::end(notifications), msg) != std::end(notifications);
}

HWND ThreadMsgWindow(DWORD threadId) {
  DWORD current = GetCurrentThreadId();
  threadId = threadId ? threadId : current;
  {
    ListGuard guard;
    if (ThreadWindow *entry = FindByThread(threadId))
      return entry->window;
    if (threadId != current || gClosed)
      return nullptr;
  }
  // Only the thread itself creates its window, so no other caller can add one meanwhile.
  HWND window = CreateThreadWindow(threadId);
  if (!window)
    return nullptr;
  ListGuard guard;
  Windows().push_back({threadId, window, {}});
  return window;
}

UINT AttachMsgHandler(TMsgHandler handler, UINT msg, DWORD threadId) {
  if (!handler)
    return 0;
  return Attach({msg, handler, nullptr, nullptr}, threadId);
}

UINT AttachMsgHandler(TMsgHandlerOO handler, void *object, UINT msg, DWORD threadId) {
  if (!handler)
    return 0;
  return Attach({msg, nullptr, handler, object}, threadId);
}

void DetachMsgHandler(TMsgHandler handler, UINT msg, DWORD threadId) {
  Detach({msg, handler, nullptr, nullptr}, threadId);
}

void DetachMsgHandler(TMsgHandlerOO handler, void *object, UINT msg, DWORD threadId) {
  Detach({msg, nullptr, handler, object}, threadId);
}

void CloseMsgWindows() {
  std::vector<ThreadWindow> windows;
  {
    ListGuard guard;
    gClosed = true;
    windows.swap(Windows());
  }
  DWORD current = GetCurrentThreadId();
  for (const ThreadWindow &entry : windows) {
    if (!IsWindow(entry.window))
      continue;
    if (entry.threadId == current)
      DestroyWindow(entry.window);
    else
      PostMessageW(entry.window, WM_CLOSE, 0, 0);
  }
}

} // namespace kx
