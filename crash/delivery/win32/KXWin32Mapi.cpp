#include "crash/delivery/win32/KXWin32Mapi.h"

#include <string>
#include <vector>

#include "crash/capture/threads/win32/ThreadPause.h"

namespace kx {

namespace {

// A path in the system code page, as the A functions take it.
std::string AnsiPath(const std::u16string &path) {
  if (path.empty())
    return {};
  const wchar_t *wide = reinterpret_cast<const wchar_t *>(path.c_str());
  int n = WideCharToMultiByte(CP_ACP, 0, wide, int(path.size()), nullptr, 0, nullptr, nullptr);
  std::string text(size_t(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_ACP, 0, wide, int(path.size()), text.data(), n, nullptr, nullptr);
  return text;
}

char *Text(const std::string &text) { return const_cast<char *>(text.c_str()); }

} // namespace

LPMAPISENDMAIL SystemMapiSendMail() {
  static LPMAPISENDMAIL function = [] {
    HMODULE library = LoadLibraryA("mapi32.dll");
    return library ? reinterpret_cast<LPMAPISENDMAIL>(reinterpret_cast<void *>(GetProcAddress(library, "MAPISendMail")))
                   : nullptr;
  }();
  return function;
}

KXMapiOutcome SendThroughMapi(const KXMapiMail &mail, LPMAPISENDMAIL sendMail) {
  if (!sendMail)
    return KXMapiOutcome::failed;

  std::vector<MapiRecipDesc> recipients(mail.recipients.size());
  for (size_t i = 0; i < recipients.size(); ++i) {
    recipients[i].ulRecipClass = MAPI_TO;
    recipients[i].lpszName = Text(mail.recipients[i].name);
    recipients[i].lpszAddress = Text(mail.recipients[i].address);
  }
  const size_t fileCount = mail.attachments.Count();
  std::vector<std::string> paths(fileCount);
  std::vector<MapiFileDesc> files(fileCount);
  for (size_t i = 0; i < fileCount; ++i) {
    paths[i] = AnsiPath(mail.attachments.files[i]);
    files[i].nPosition = ULONG(-1);
    files[i].lpszPathName = Text(paths[i]);
    files[i].lpszFileName = Text(mail.attachments.sendAs[i]);
  }
  MapiMessage message{};
  message.lpszSubject = Text(mail.subject);
  message.lpszNoteText = Text(mail.body);
  message.nRecipCount = ULONG(recipients.size());
  message.lpRecips = recipients.empty() ? nullptr : recipients.data();
  message.nFileCount = ULONG(files.size());
  message.lpFiles = files.empty() ? nullptr : files.data();

  HWND parent = mail.parentWindow;
  const bool topmost = parent && IsWindow(parent) && (GetWindowLongW(parent, GWL_EXSTYLE) & WS_EX_TOPMOST);
  if (topmost)
    SetWindowPos(parent, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  const bool mainThreadResumed = ResumeMainThreadTemporarily();
  ULONG result = sendMail(0, reinterpret_cast<ULONG_PTR>(parent), &message, mail.flags, 0);
  if (mainThreadResumed)
    PauseMainThreadAgain();
  if (topmost)
    SetWindowPos(parent, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  return MapiOutcome(result);
}

} // namespace kx
