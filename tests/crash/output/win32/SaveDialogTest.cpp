// The interactive save under Wine: the save dialog shows the configured name and the button text
// as its title, and the file the user enters receives the report.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "crash/output/win32/KXWin32BugReportSave.h"
#include "tests/crash/capture/exception/FakeHost.h"
#include "tests/crash/output/TestReports.h"

namespace kx::test {
namespace {
constexpr const char *kTitle = "Save this bug report";

struct DialogSearch {
  HWND found = nullptr;
};
BOOL CALLBACK FindSaveDialog(HWND window, LPARAM param) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char cls[64] = {}, title[128] = {};
  GetClassNameA(window, cls, sizeof cls);
  GetWindowTextA(window, title, sizeof title);
  if (pid == GetCurrentProcessId() && std::string(cls) == "#32770" && std::string(title) == kTitle) {
    reinterpret_cast<DialogSearch *>(param)->found = window;
    return FALSE;
  }
  return TRUE;
}

// The edit control that holds the file name: the one among the dialog's descendants whose text
// is the proposed name (the classic and the item-based dialogs place it differently).
struct EditSearch {
  std::string text;
  HWND found = nullptr;
};
BOOL CALLBACK FindEdit(HWND window, LPARAM param) {
  auto *search = reinterpret_cast<EditSearch *>(param);
  char cls[32] = {}, text[MAX_PATH + 1] = {};
  GetClassNameA(window, cls, sizeof cls);
  SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  if (_stricmp(cls, "Edit") == 0 && search->text == text) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}
HWND FileNameEdit(HWND dialog, const std::string &text) {
  EditSearch search{text};
  EnumChildWindows(dialog, FindEdit, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Ends a dialog left open by a failed check, so the saving thread can be joined.
struct JoinOnExit {
  std::thread &thread;
  HWND &dialog;
  ~JoinOnExit() {
    if (dialog)
      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    thread.join();
  }
};

} // namespace

TEST(SaveDialog, ProposesTheConfiguredNameAndWritesTheChosenFile) {
  char temp[MAX_PATH + 1];
  ASSERT_NE(GetTempPathA(MAX_PATH + 1, temp), 0u);
  std::string chosen = std::string(temp) + "bugdialog-" + std::to_string(GetCurrentProcessId()) + ".txt";
  DeleteFileA(chosen.c_str());

  FakePlatform platform;
  platform.streams[kExe] = StreamBuilder().Text("BugRepFile", "crashes.txt").Text("SaveBtnTxt", kTitle).End();
  auto context = std::make_shared<KXSettingsContext>(platform, std::make_shared<KXSettingsRegistry>());
  FakeHost host(CreateModuleSettings(context, kExe));
  SetExceptionHost(&host);
  KXCaughtException caught;
  auto e = CreateExceptionObject(caught);

  std::atomic<int> saved{-1};
  std::thread save([&] { saved = SaveBugReportFile(*e, CrashReport(kCrcA, "chosen"), false, 0) ? 1 : 0; });
  DialogSearch search;
  JoinOnExit joiner{save, search.found};
  for (int i = 0; i < 200 && !search.found; ++i) {
    Sleep(50);
    EnumWindows(FindSaveDialog, reinterpret_cast<LPARAM>(&search));
  }
  ASSERT_NE(search.found, nullptr) << "no save dialog";
  // The configured name without a folder is proposed by name.
  HWND edit = FileNameEdit(search.found, "crashes.txt");
  ASSERT_NE(edit, nullptr) << "no file name field holding the proposed name";
  SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(chosen.c_str()));
  PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(search.found, IDOK)));
  for (int i = 0; i < 200 && saved.load() < 0; ++i)
    Sleep(50);
  search.found = nullptr;
  EXPECT_EQ(saved.load(), 1);
  EXPECT_FALSE(e->GetMailWasSaved());
  HANDLE h = CreateFileA(chosen.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  char data[4096] = {};
  DWORD got = 0;
  ReadFile(h, data, sizeof data - 1, &got, nullptr);
  CloseHandle(h);
  DeleteFileA(chosen.c_str());
  EXPECT_NE(std::string(data, got).find(kCrcA), std::string::npos);
  SetExceptionHost(nullptr);
}

} // namespace kx::test
