#include "crash/ui/dialog/win32/ExceptionBoxForException.h"

#include <windows.h>

#include "crash/base/settings/KXExpand.h"
#include "crash/capture/exception/KXExceptionObject.h"
#include "crash/capture/exception/KXExceptionTimes.h"
#include "crash/capture/exception/KXHandlers.h"
#include "crash/capture/threads/win32/FreezeWatch.h"
#include "crash/ui/dialog/ExceptionBoxSubject.h"
#include "crash/ui/dialog/win32/ShowExceptionBox.h"

namespace kx {
namespace {

KXWindow ToWindow(KXBoxWindow wnd) { return reinterpret_cast<KXWindow>(wnd); }

// Report callbacks carry the dialog's window handle as their object, so a call that arrives late
// (the callback list is copied before the calls) only posts to a window that is gone.
void PostReportChanged(void *window, bool, const std::string &, IKXException &) {
  PostMessageW(static_cast<HWND>(window), kBoxReportChangedMessage, kBoxReportChangedW, kBoxReportChangedL);
}

TBugReportCallbackOO ReportCallback(KXBoxWindow dialog) { return {&PostReportChanged, dialog}; }

class TExceptionSubject final : public IExceptionBoxSubject {
public:
  explicit TExceptionSubject(IKXException &exception)
      : FExc(exception), FObject(dynamic_cast<TIKXException *>(&exception)) {}

  IKXSettings &Settings() override { return FExc; }
  bool IsFrozen() override { return FExc.GetExceptType() == TExceptType::etFrozen; }
  bool CanContinue() override { return FExc.GetCanContinue(); }
  std::string ExceptMessage() override { return FExc.GetExceptMessage(); }
  std::string ExceptClass() override { return FExc.GetExceptClass(); }

  std::string DialogText(bool frozen, const std::string &message) override {
    const char *key = frozen ? "FrozenMsg" : "ExceptMsg";
    if (!FObject) // another implementation: its own expansion, with the message as it is
      return frozen ? FExc.GetFrozenMsg() : FExc.GetExceptMsg();
    std::optional<TKXProperty> raw = FObject->LookupValue(key);
    KXExpandArgs args;
    args.module = FExc.Module();
    args.exceptClass = FExc.GetExceptClass();
    args.exceptMsg = message;
    const std::shared_ptr<KXSettingsContext> &context = FObject->Context();
    const KXModule own = FExc.Module();
    const std::string ownVersion = FExc.VersionVar();
    auto versionVar = [&](KXModule module) {
      return module == own ? ownVersion : CreateModuleSettings(context, module)->VersionVar();
    };
    return ExpandVariables(raw ? raw->Text() : std::string(), args, context->Platform(), versionVar);
  }

  bool AutoActionDue(uint32_t value) override {
    return kx::AutoActionDue(value, ExceptionTimes(), ExceptionHost().Threads().NowSeconds());
  }
  std::string BugReportSoFar() override { return FExc.GetBugReport(false); }

  TReportSnapshot ReportSnapshot() override {
    TReportSnapshot report;
    ReadFields(FExc.GetBugReportHeader(), report.header);
    ReadFields(FExc.GetBugReportSections(), report.sections);
    return report;
  }

  void SendBugReport(KXBoxWindow parent) override { FExc.SendBugReport(ToWindow(parent)); }
  void SaveBugReport(KXBoxWindow parent) override { FExc.SaveBugReport(ToWindow(parent)); }
  void PrintBugReport(KXBoxWindow parent) override { FExc.PrintBugReport(ToWindow(parent)); }
  void ContinueApplication(KXBoxWindow parent) override { FExc.ContinueApplication(ToWindow(parent)); }
  void RestartApplication(KXBoxWindow parent) override { FExc.RestartApplication(ToWindow(parent)); }
  void CloseApplication(KXBoxWindow parent) override { FExc.CloseApplication(ToWindow(parent)); }

  bool FireEvent(TExceptionBoxEvent event, KXBoxWindow parent) override {
    bool handled = false;
    if (FObject)
      FireExceptionEvent(ToWindow(parent), int(KXHandlerKind::action),
                         event == TExceptionBoxEvent::help ? TExceptAction::eaHelp : TExceptAction::eaShowBugReport,
                         handled, *FObject);
    return handled;
  }

  void RegisterBugReportCallback(KXBoxWindow dialog) override {
    FExc.RegisterBugReportCallback(ReportCallback(dialog), false);
  }
  void UnregisterBugReportCallback(KXBoxWindow dialog) override {
    FExc.UnregisterBugReportCallback(ReportCallback(dialog));
  }

  void PostFreezeDialog(KXBoxWindow dialog) override {
    if (HWND watch = FreezeWatchWindow())
      PostMessageW(watch, FreezeWatchMessage(), reinterpret_cast<WPARAM>(dialog), 0);
  }
  void CopyToClipboard(const std::string &text) override { ExceptionHost().Outputs().CopyToClipboard(text); }

private:
  static void ReadFields(const std::shared_ptr<IKXFields> &fields, std::vector<TReportItem> &items) {
    if (!fields)
      return;
    fields->Lock();
    const int count = fields->GetItemCount();
    for (int i = 0; i < count; ++i) {
      std::string name = fields->GetItem(i);
      std::string content = fields->GetContent(name);
      items.push_back({std::move(name), std::move(content)});
    }
    fields->Unlock();
  }

  IKXException &FExc;
  TIKXException *FObject;
};

TBoxForm BoxForm(TExceptionBoxForm form) {
  switch (form) {
  case TExceptionBoxForm::detailBox:
    return TBoxForm::detailBox;
  case TExceptionBoxForm::simpleBox:
    return TBoxForm::simpleBox;
  default:
    return TBoxForm::fullBox;
  }
}

} // namespace

void ShowExceptionBoxFor(IKXException &exception, TExceptionBoxForm form) {
  TExceptionSubject subject(exception);
  ShowExceptionBox(subject, BoxForm(form));
}

} // namespace kx
