#pragma once
// Thin wrappers over Win32 windows for fixed-layout forms: a top-level form, a panel that
// hosts controls, labels, push buttons and edits. Message handlers of a form run inside the
// form's window procedure, which hands every escaping exception to
// Application->HandleException.
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <windows.h>

class TForm;

struct TBounds {
  int Left, Top, Width, Height;
};

class TControl {
public:
  virtual ~TControl() = default;
  HWND Handle() const { return FHandle; }
  int Id() const { return FId; }

  bool Enabled() const { return IsWindowEnabled(FHandle) != FALSE; }
  void SetEnabled(bool value) { EnableWindow(FHandle, value ? TRUE : FALSE); }
  std::string Text() const;
  void SetText(const std::string &text);
  TBounds Bounds() const { return FBounds; }

  // Clicks of buttons; runs inside the form's exception wrapper.
  std::function<void()> OnClick;

protected:
  friend class TForm;
  HWND FHandle = nullptr;
  int FId = 0;
  TBounds FBounds{};
};

class TLabel : public TControl {
public:
  COLORREF FontColor = CLR_INVALID; // CLR_INVALID: the window-text colour
};
class TButton : public TControl {};
class TEdit : public TControl {};
class TPanel : public TControl {};

class TForm {
public:
  TForm(const std::string &windowClass, const std::string &caption, int clientWidth,
        int clientHeight);
  virtual ~TForm();
  TForm(const TForm &) = delete;
  TForm &operator=(const TForm &) = delete;

  HWND Handle() const { return FHandle; }
  void Show();
  void Close();

  // Control factories; parent null means the form itself. Tab order follows creation order
  // within each parent.
  TLabel *AddLabel(TControl *parent, int id, TBounds bounds, const std::string &caption);
  TButton *AddButton(TControl *parent, int id, TBounds bounds, const std::string &caption);
  TEdit *AddEdit(TControl *parent, int id, TBounds bounds, const std::string &text, bool digitsOnly);
  TPanel *AddPanel(TControl *parent, int id, TBounds bounds);
  void SetHint(TControl *control, const std::string &hint);

protected:
  virtual void FormShow() {}
  virtual LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);

private:
  template <class T> T *Add(TControl *parent, int id, TBounds bounds, const wchar_t *windowClass,
                            const std::string &text, DWORD style, DWORD exStyle);
  TControl *FindControl(HWND window) const;
  static LRESULT CALLBACK FormProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK PanelProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

  HWND FHandle = nullptr;
  HFONT FFont = nullptr;
  HWND FToolTip = nullptr;
  bool FShown = false;
  std::vector<std::unique_ptr<TControl>> FControls;
};
