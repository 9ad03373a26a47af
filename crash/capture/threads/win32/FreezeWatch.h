#pragma once
// The freeze watch: a thread that asks the main thread for a sign of life once per interval
// (timeout / 10) through a message to the main thread's message window, and reports a freeze when
// ten probes in a row go unanswered. After a report the interval grows by half, so a freeze that
// goes on is reported again after 1.5 times as long, and so on.
#include <windows.h>

#include <functional>

namespace kx {

// Called on the watch thread when a freeze is found. The reporter passes its handling entry for a
// frozen main thread.
using FreezeReporter = std::function<void()>;

// Starts the watch on the calling thread (the thread being watched), whose message window gets
// the watch handler. False when the thread has no message window or the watch thread cannot start;
// true without doing anything when a watch runs already.
bool StartFreezeWatch(DWORD timeoutMs, FreezeReporter reportFreeze);
// Stops the watch thread, removes the handler and the watch thread's registry entry.
void StopFreezeWatch();
// Pausing keeps the watch from counting (nestable); each call with false undoes one with true.
// Ignored without a watch and on the watch thread itself.
void PauseFreezeWatch(bool pause);
// Forgets the unanswered probes counted so far.
void ResetFreezeMissCounter();

// The watch handler's message number and window (0/null without a watch). Posting the message with
// a window handle in wParam makes the watched thread, once it runs its messages again, post
// WM_NULL with wParam 777 and lParam 777 to that window (a freeze dialog closes itself on it).
UINT FreezeWatchMessage();
HWND FreezeWatchWindow();
// The watch thread's id (0 without a watch).
DWORD FreezeWatchThreadId();

} // namespace kx
