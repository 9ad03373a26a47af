#include "runtime/win32/Application.h"

#include "runtime/ClassInfo.h"
#include "runtime/Exception.h"
#include "runtime/win32/Forms.h"
#include "runtime/win32/RuntimeHooks.h"
#include "runtime/win32/Thread.h"
#include "runtime/win32/WideText.h"

TApplication *Application = nullptr;

TApplication::TApplication() : FInstance(GetModuleHandleW(nullptr)) { InitThreadSynchronization(); }

void TApplication::Initialize() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name(path);
  size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos)
    name.erase(0, slash + 1);
  size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos)
    name.erase(dot);
  if (!name.empty())
    FTitle = Narrow(name);
}

void TApplication::RegisterForm(TForm *form) {
  if (!FMainForm)
    FMainForm = form;
}

void TApplication::MainFormDestroyed(TForm *form) {
  if (form == FMainForm) {
    FMainForm = nullptr;
    Terminate();
  }
}

void TApplication::Terminate() {
  if (!FTerminated) {
    FTerminated = true;
    PostQuitMessage(0);
  }
}

bool TApplication::DispatchOne(MSG &msg) {
  if (msg.message == WM_QUIT) {
    FTerminated = true;
    return false;
  }
  HWND dialog = FMainForm ? FMainForm->Handle() : nullptr;
  if (!dialog || !IsDialogMessageW(dialog, &msg)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

void TApplication::Run() {
  if (FMainForm)
    FMainForm->Show();
  MSG msg;
  while (!FTerminated) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1)
      break;
    if (got == 0) {
      FTerminated = true;
      break;
    }
    DispatchOne(msg);
  }
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!DispatchOne(msg)) {
      PostQuitMessage(int(msg.wParam));
      break;
    }
  }
}

ExceptionDescription DescribeException(std::exception_ptr exception) {
  try {
    std::rethrow_exception(exception);
  } catch (const std::exception &e) {
    return {ClassName(typeid(e)), e.what()};
  } catch (...) {
    return {"Unknown", "Unknown"};
  }
}

void TApplication::HandleException(void *sender) {
  std::exception_ptr current = std::current_exception();
  if (!current)
    return;
  try {
    std::rethrow_exception(current);
  } catch (const EAbort &) {
    return;
  } catch (...) {
  }
  // A window that holds the mouse capture would keep it through the display.
  if (HWND capture = GetCapture())
    SendMessageW(capture, WM_CANCELMODE, 0, 0);
  if (RuntimeHooks().applicationException)
    RuntimeHooks().applicationException(sender);
  else if (OnException)
    OnException(sender, current);
  else
    ShowException(current);
}

void TApplication::ShowException(std::exception_ptr exception) {
  if (RuntimeHooks().applicationShowException) {
    RuntimeHooks().applicationShowException(exception);
    return;
  }
  if (ShowHook) {
    ShowHook(exception);
    return;
  }
  std::string message = DescribeException(exception).message;
  if (!message.empty() && message.back() != '.')
    message += '.';
  HWND owner = FMainForm ? FMainForm->Handle() : nullptr;
  MessageBoxW(owner, Widen(message).c_str(), Widen(FTitle).c_str(), MB_OK | MB_ICONSTOP);
}
