// The send assistant of the real tool: the crash dialog's send button shows the contact form, the
// error details form and the screenshot form one after another; cancel on the last abandons the
// send and leaves the dialog. Each form is saved as a picture beside the exe
// (assistant-contact.png, assistant-details.png, assistant-screenshot.png) for a look by eye.
#include "tests/e2e/ToolDriver.h"

#include <cstring>
#include <fstream>

#include "crash/output/image/NVMemoryBitmap.h"

using namespace tidewell_e2e;

namespace {

constexpr int kSend = 100, kClose = 106;
// Items of the forms: the main buttons first, then the form's own items in their order.
constexpr int kFirstItem = 100, kContinueItem = 0, kCancelItem = 2, kEmailItem = 6, kDetailsItem = 4;

class AssistantEndToEnd : public ToolProcessTest {
protected:
  HWND VisibleWindowOfTool(const wchar_t *className, HWND other = nullptr) {
    for (HWND w = FindWindowExW(nullptr, nullptr, className, nullptr); w; w = FindWindowExW(nullptr, w, className, nullptr)) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      if (pid == Process.dwProcessId && w != other && IsWindowVisible(w))
        return w;
    }
    return nullptr;
  }
  // The next form: a visible assistant window other than the previous one.
  HWND NextForm(HWND previous) {
    HWND form = nullptr;
    WaitFor([&] { return (form = VisibleWindowOfTool(L"kesNVAssistantWnd", previous)) != nullptr; }, 30000);
    return form;
  }
  static void TypeInto(HWND edit, const wchar_t *text) {
    Send(edit, EM_SETSEL, 0, -1);
    Send(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
  }
  static void ClickItem(HWND form, int item) {
    PostMessageW(form, WM_COMMAND, MAKEWPARAM(kFirstItem + item, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(form, kFirstItem + item)));
  }
  // The window as it is on the screen, as a PNG beside the exe; false when it cannot be taken.
  bool SavePicture(HWND window, const std::wstring &name) {
    // Invalidated only: painting it now would wait on the tool's thread without a limit.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
    Sleep(tidewell_test::ScaledMs(300));
    RECT r{};
    GetWindowRect(window, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0)
      return false;
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 32, BI_RGB};
    void *bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool copied = false;
    if (bitmap) {
      HGDIOBJ old = SelectObject(memory, bitmap);
      copied = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
      GdiFlush();
      SelectObject(memory, old);
    }
    std::string png;
    if (copied) {
      kx::NVPixelBuffer pixels(width, height);
      std::memcpy(pixels.Bits().data(), bits, size_t(width) * height * 4);
      if (auto picture = kx::CreateMemoryBitmap(std::move(pixels), nullptr))
        png = picture->AsPngStr(kx::pfColour);
    }
    if (bitmap)
      DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (png.empty())
      return false;
    std::wstring path = ExePath.substr(0, ExePath.find_last_of(L'\\') + 1) + name;
    std::ofstream(std::string(path.begin(), path.end()), std::ios::binary) << png;
    return true;
  }
};

TEST_F(AssistantEndToEnd, SendShowsTheContactDetailsAndScreenshotFormsAndCancelAbandonsIt) {
  ASSERT_TRUE(WaitFor([&] {
    Click(idBtnConnect);
    return Text(Control(idLblStatus)) == "Status: CONNECTED";
  }));
  ASSERT_TRUE(WaitFor([&] { return Enabled(idBtnSet); }));
  Send(Control(idEdtNew), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
  PostMessageW(Control(idBtnSet), BM_CLICK, 0, 0);
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = VisibleWindowOfTool(L"KestrelixWndClass")) != nullptr; }, 20000));
  PostMessageW(GetDlgItem(box, kSend), BM_CLICK, 0, 0);

  HWND contact = NextForm(nullptr);
  ASSERT_TRUE(contact) << "no contact form";
  EXPECT_FALSE(IsWindowEnabled(box)) << "the crash dialog waits for the assistant";
  TypeInto(GetDlgItem(contact, kFirstItem + kEmailItem), L"ann@example.com");
  EXPECT_TRUE(SavePicture(contact, L"assistant-contact.png"));
  ClickItem(contact, kContinueItem);

  HWND details = NextForm(contact);
  ASSERT_TRUE(details) << "no error details form";
  TypeInto(GetDlgItem(details, kFirstItem + kDetailsItem), L"Clicked Set with an empty field.");
  EXPECT_TRUE(SavePicture(details, L"assistant-details.png"));
  ClickItem(details, kContinueItem);

  HWND screenshot = NextForm(details);
  ASSERT_TRUE(screenshot) << "no screenshot form";
  EXPECT_TRUE(SavePicture(screenshot, L"assistant-screenshot.png"));
  ClickItem(screenshot, kCancelItem);

  // Cancel abandons the send: the dialog is back and closes the tool.
  ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(box) && !VisibleWindowOfTool(L"kesNVAssistantWnd"); }));
  PostMessageW(GetDlgItem(box, kClose), BM_CLICK, 0, 0);
  EXPECT_EQ(WaitForSingleObject(Process.hProcess, tidewell_test::ScaledMs(30000)), WAIT_OBJECT_0);
}

} // namespace
