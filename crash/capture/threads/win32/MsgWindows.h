#pragma once
// Per-thread message windows: a hidden window on a thread through which other threads run code on
// it by posting or sending registered messages. Each window carries a list of registrations
// (message number, handler); the window procedure first calls the default window procedure and
// then, for the system notification messages 0x11, 0x12, 0x15, 0x16, 0x17, 0x1A, 0x1B, 0x1C, 0x1D,
// 0x1E, 0x2A, 0x41, 0x48, 0x50, 0x51, 0x54, 0x7E and every message from 0x218 up, the handlers
// registered for the message in list order, outside the list's lock; each may change the result.
// The window's class is "kesToolsMsgHandlerWindow$<thread id hex>$<module-unique hex>".
#include <windows.h>

namespace kx {

using TMsgHandler = void (*)(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT &result);
// A handler bound to an object: called with the object first. A registration is identified by
// the routine and the object together.
using TMsgHandlerOO = void (*)(void *object, HWND window, UINT msg, WPARAM wParam, LPARAM lParam,
                               LRESULT &result);

// The message window of a thread (0: the calling thread). Created when the thread is the calling
// thread and has none; null for another thread without a window.
HWND ThreadMsgWindow(DWORD threadId = 0);

// Registers a handler on the thread's window and returns the message number; 0 when the thread
// has no window (and is not the calling thread) or the same registration exists. msg 0 asks for the
// lowest number from 1024 up that no registration of the window uses.
UINT AttachMsgHandler(TMsgHandler handler, UINT msg, DWORD threadId = 0);
UINT AttachMsgHandler(TMsgHandlerOO handler, void *object, UINT msg, DWORD threadId = 0);

// Removes the handler's registrations for msg (0: for every message). When the window has no
// registration left it goes: destroyed at once on its own thread, closed by a posted WM_CLOSE from
// any other thread.
void DetachMsgHandler(TMsgHandler handler, UINT msg, DWORD threadId = 0);
void DetachMsgHandler(TMsgHandlerOO handler, void *object, UINT msg, DWORD threadId = 0);

// Shutdown: forgets every window (the calling thread's is destroyed, others are sent WM_CLOSE) and
// creates none afterwards.
void CloseMsgWindows();

// True for the messages that reach registered handlers.
bool IsHandledWindowMessage(UINT msg);

} // namespace kx
