#pragma once
// Cooperative pausing of the program's threads while an exception is handled. No thread is
// suspended: the message-retrieval functions (GetMessageA/W, PeekMessageA/W) are intercepted in the
// import tables, and a thread that is to pause waits in its next message retrieval until pausing
// ends. A thread that never retrieves messages never pauses.
#include <windows.h>

namespace kx {

// pause true: from now on the main thread and the program's own threads pause at their next
// message retrieval; the calling thread, the main thread's runtime id and exceptThreadId are not
// added to the pausing threads, and a main thread that asks for the pause does not pause itself.
// A thread is the program's own when the registry records a creator address for it that lies in a
// module carrying the reporter's debug information. pause false: every paused thread continues.
// Both post the handler message's no-op (wParam 1) so that the main thread passes its retrieval.
void PauseOtherThreads(bool pause, DWORD exceptThreadId);
// The check made by the interceptors: waits while this thread is to pause. Keeps the last error.
void PauseIfRequested();
// When the main thread is paused: lets it run and returns true; false otherwise.
bool ResumeMainThreadTemporarily();
// Pauses the main thread again after ResumeMainThreadTemporarily.
void PauseMainThreadAgain();
// Takes the message-retrieval interceptions out of the import tables again.
void RemovePauseInterceptions();
// Shutdown: lets every paused thread go and releases the events.
void ReleasePauseState();

// The window and message of the reporter's handler message (wParam 1 is the no-op).
void SetHandlerMessageTarget(HWND window, UINT msg);

// True when the thread is one of the program's own (see PauseOtherThreads).
bool IsRuntimeThread(DWORD threadId);
// True when a module of this process carries the reporter's debug-information resource.
bool ModuleCarriesDebugInfo(HMODULE module);

} // namespace kx
