#pragma once
// The window of a shown form ("kesNVAssistantWnd") and the Win32 platform of the forms: creating
// the window and its item windows, its window procedure, and the modal message loop with its key
// filter. The form's own protocol (NVForm) decides what clicks, keys and text changes do.
#include <windows.h>

#include <functional>
#include <string>

#include "crash/ui/assistant/NVForm.h"
#include "crash/ui/assistant/win32/FormPainter.h"

namespace kx {

inline constexpr const wchar_t *kAssistantWindowClass = L"kesNVAssistantWnd";
inline constexpr UINT_PTR kFormTimerId = 777;
// Item windows have the control id 100 + the item's index (the default-button command IDOK
// never names an item).
inline constexpr int kFirstItemId = 100;

// The forms' platform on Windows: RunForm shows a TNVFormWindow. The handler lookup in the
// program's debug information is bound by the program (SetAssistantHandlerLookup).
INVFormPlatform &Win32FormPlatform();

using KXHandlerLookup = std::function<TNVActionHandler(const std::string &unit, const std::string &symbol)>;
void SetAssistantHandlerLookup(KXHandlerLookup lookup);

// Called with the form and its window once the window is shown and before its message loop runs,
// on the form's thread (tests use it to learn the window; null for none).
using KXFormShownHook = std::function<void(TNVForm &form, HWND window)>;
void SetFormShownHook(KXFormShownHook hook);

class TNVFormWindow final : public INVFormView {
public:
  explicit TNVFormWindow(TNVForm &form);
  ~TNVFormWindow() override;
  TNVFormWindow(const TNVFormWindow &) = delete;
  TNVFormWindow &operator=(const TNVFormWindow &) = delete;

  // One run of the form: disables the enabled parent for the run, creates and lays out
  // the window, raises nvaFormShow, shows it and runs the message loop until the window is gone
  // (or the quit message came, which is posted again for the caller's loop).
  void Run(HWND parent);

  // INVFormView
  std::string ItemText(TNVWindow window) override;
  void SetItemText(TNVWindow window, const std::string &text) override;
  void EnableItem(TNVWindow window, bool enable) override;
  bool ItemEnabled(TNVWindow window) override;
  void FocusItem(TNVWindow window, bool selectAll) override;
  void RepaintItem(TNVWindow window) override;
  void RepaintArea(const TNVRect &area) override;
  void StopTimer() override;
  void CloseRequest() override;
  void DestroyForm() override;

private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(WPARAM wParam, LPARAM lParam);
  bool Create(HWND parent);
  void CreateItemWindow(TNVItem &item);
  // True when the message was a key the form consumed.
  bool FilterKey(const MSG &msg);
  // Gives the owner its enabled state back before the window goes, so that it is activated.
  void ReleaseParent();

  TNVForm &FForm;
  TNVFormPainter FPainter;
  HWND FWindow = nullptr;
  HWND FParent = nullptr;
  bool FParentDisabled = false; // this run disabled the parent
  bool FSettingText = false;    // a text change that the form made itself
  HWND FDefaultButton = nullptr;
};

} // namespace kx
