// CopyToClipboard: the clipboard then holds exactly the 8-bit text as CF_TEXT and nothing of its
// old content; a clipboard held open elsewhere is left alone.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "crash/output/win32/KXClipboard.h"

namespace kx::test {
namespace {

UINT TestFormat() { return RegisterClipboardFormatW(L"TidewellClipboardTest"); }

void PutTestFormat() {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, 4);
  ASSERT_NE(memory, nullptr);
  if (!SetClipboardData(TestFormat(), memory))
    GlobalFree(memory);
  CloseClipboard();
}

std::string ClipboardText() {
  std::string text = "<none>";
  if (!OpenClipboard(nullptr))
    return "<cannot open>";
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    if (const char *p = static_cast<const char *>(GlobalLock(data))) {
      text.assign(p, strnlen(p, GlobalSize(data)));
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

TEST(Clipboard, HoldsExactlyTheTextAfterACopy) {
  PutTestFormat();
  const std::string text = "date/time          : 2026-03-09, 14:03:07, 45ms\r\n"
                           "exception message  : Gr\xF6\xDF" "e & 'abc' is not valid\r\n";
  ASSERT_TRUE(CopyToClipboard(text));
  EXPECT_EQ(ClipboardText(), text);
  EXPECT_FALSE(IsClipboardFormatAvailable(TestFormat())) << "the old content is gone";

  ASSERT_TRUE(CopyToClipboard(""));
  EXPECT_EQ(ClipboardText(), "");
}

struct Holder {
  HANDLE opened, release;
  bool holding;
};

// Holds the clipboard open until released.
// It opens it for a window of its own, as another program would: two openers without a window
// are the same opener to Wine.
DWORD WINAPI HoldClipboard(void *p) {
  auto *h = static_cast<Holder *>(p);
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  h->holding = window && OpenClipboard(window) != 0;
  SetEvent(h->opened);
  WaitForSingleObject(h->release, 10000);
  if (h->holding)
    CloseClipboard();
  if (window)
    DestroyWindow(window);
  return 0;
}

TEST(Clipboard, AClipboardHeldOpenByAnotherThreadIsLeftAlone) {
  ASSERT_TRUE(CopyToClipboard("before"));
  HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Holder events{opened, release, false};
  HANDLE thread = CreateThread(nullptr, 0, HoldClipboard, &events, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(opened, 10000);
  ASSERT_TRUE(events.holding);
  EXPECT_FALSE(CopyToClipboard("after"));
  SetEvent(release);
  WaitForSingleObject(thread, 10000);
  CloseHandle(thread);
  CloseHandle(opened);
  CloseHandle(release);
  EXPECT_EQ(ClipboardText(), "before");
}

} // namespace
} // namespace kx::test
