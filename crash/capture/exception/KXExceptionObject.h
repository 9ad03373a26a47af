#pragma once
// TIKXException: the exception object. It is a settings object of its module whose own property
// list holds the per-exception overrides, and it carries everything the report, the dialog,
// delivery and saving need.
#include <array>
#include <atomic>
#include <mutex>
#include <vector>

#include "crash/analysis/stacktrace/ReturnAddress.h"
#include "crash/base/settings/KXSettingsObject.h"
#include "crash/capture/exception/KXCaughtException.h"
#include "crash/capture/exception/KXComposition.h"
#include "crash/capture/exception/KXException.h"
#include "crash/capture/exception/KXExceptionHost.h"

namespace kx {

class TIKXException final : public TIKXSettings, public IKXException, public IKXExceptionEx, public IKXFieldsOwner {
public:
  TIKXException(std::shared_ptr<KXSettingsContext> context, KXModule module, IKXExceptionHost &host);
  ~TIKXException() override;

  // IKXException
  TExceptPhase GetPhase() override { return FPhase.load(); }
  bool GetCanContinue() override { return FCanContinue; }
  void SetCanContinue(bool value) override;
  TExceptType GetExceptType() override { return FExceptType; }
  KXExceptObject GetExceptObject() override { return FExceptObject; }
  std::string GetExceptClass() override;
  std::string GetExceptMessage() override;
  void SetExceptMessage(const std::string &value) override;
  std::uintptr_t GetExceptAddr() override { return FExceptAddr; }
  uint32_t GetCrashedThreadId() override { return FCrashedThreadId; }
  uint32_t GetCallstackCrc(int index) override;
  const KXRegisterContext *GetContext() override { return FPContext ? &FContext : nullptr; }
  TExceptSource GetSource() override { return FSource; }
  void *GetRelatedObject() override { return FRelatedObject; }
  KXModule GetPackage() override { return FPackage; }
  std::shared_ptr<IKXFields> GetBugReportHeader() override { return FBugReportHeader; }
  std::shared_ptr<IKXFields> GetBugReportSections() override { return FBugReportSections; }
  using IKXException::GetBugReport;
  void SetBugReport(const std::string &text) override;
  std::string GetBugReport(bool mustBeComplete) override;
  std::shared_ptr<INVBitmap> GetScreenShot() override;
  void SetScreenShot(std::shared_ptr<INVBitmap> bitmap) override;
  void BeginUpdate() override;
  void EndUpdate() override;
  void RegisterBugReportCallback(TBugReportCallback callback, bool critical) override;
  void RegisterBugReportCallback(TBugReportCallbackOO callback, bool critical) override;
  void UnregisterBugReportCallback(TBugReportCallback callback) override;
  void UnregisterBugReportCallback(TBugReportCallbackOO callback) override;
  bool GetCreateBugReport() override { return FCreateBugReport; }
  void SetCreateBugReport(bool value) override { FCreateBugReport = value; }
  bool GetCreateScreenShot() override { return FCreateScreenShot; }
  void SetCreateScreenShot(bool value) override { FCreateScreenShot = value; }
  bool GetCallHandlers() override { return FCallHandlers; }
  void SetCallHandlers(bool value) override { FCallHandlers = value; }
  bool GetAppendScreenShot() override { return FAppendScreenShot; }
  void SetAppendScreenShot(bool value) override { FAppendScreenShot = value; }
  TKXShowSetting GetShowSetting() override { return FShowSetting; }
  void SetShowSetting(TKXShowSetting value) override { FShowSetting = value; }
  std::string GetShowAssistant() override { return FShowAssis; }
  void SetShowAssistant(const std::string &value) override { FShowAssis = value; }
  void Show() override;
  void ShowBugReport(KXWindow parentWindow) override;
  void SendBugReport(KXWindow parentWindow) override;
  void SaveBugReport(KXWindow parentWindow) override;
  void PrintBugReport(KXWindow parentWindow) override;
  void ContinueApplication(KXWindow parentWindow) override;
  void RestartApplication(KXWindow parentWindow) override;
  void CloseApplication(KXWindow parentWindow) override;

  // IKXExceptionEx
  bool CriticalBugReportCallbackExists() override;
  uint32_t GetCompleteThreadId() override;
  void SetPhase(TExceptPhase value) override;
  bool GetMailWasSent() override { return FMailWasSent; }
  void SetMailWasSent(bool value) override { FMailWasSent = value; }
  bool GetMailWasSaved() override { return FMailWasSaved; }
  void SetMailWasSaved(bool value) override { FMailWasSaved = value; }
  bool FirstCompleteCallback() override { return ++FFirstCompleteCallback == 0; }
  bool FirstAutoSave() override { return ++FFirstAutoSave == 0; }
  std::uintptr_t *PSendThread() override { return &FSendThread; }

  // IKXFieldsOwner: the report lists open the update bracket and mark changes.
  void Modified() override { SetModified(); }

  // A change of the report: counted and notified, or only marked inside an update bracket.
  void SetModified();

  // Stores what was caught and takes the decisions of the filters.
  void Initialise(const KXCaughtException &caught);

  // --- for the report composition ---
  // What it reads of the caught exception: fixed when the object was made.
  const KXExceptionSnapshot &Snapshot() const { return FSnapshot; }
  // What it hands back, applied here in one place; the complete-report event is fired from here.
  void ApplyComposition(const KXCompositionResult &result);
  bool IsComplete() { return FComplete; }
  uint64_t ModificationCount();
  std::uintptr_t CurrentEsp() const { return FCurrentEsp; }
  std::uintptr_t CurrentEbp() const { return FCurrentEbp; }
  const std::vector<tidewell::stacktrace::PreStackItem> &PreparedStack() const { return FSnapshot.preparedStack; }
  const KXLocalTime &CreationTime() const { return FCreationTime; }
  bool DontCompleteYet() const { return FDontCompleteYet; }
  bool AbortCompleteRequested() const { return FAbortCompleteThread; }
  // The abort flag itself, for work that polls it (the stack tracer).
  const std::atomic<bool> *AbortCompleteFlag() const { return &FAbortCompleteThread; }
  // What the report composition keeps per exception between building and completing the report:
  // made by make on first use, then kept with the object.
  std::shared_ptr<void> CompositionState(const std::function<std::shared_ptr<void>()> &make);
  std::shared_ptr<IProgressAlert> ProgressAlert() { return FProgressAlert; }
  IKXExceptionHost &Host() { return FHost; }
  const std::shared_ptr<IKXModuleSettings> &ModuleSettingsOfException() const { return FModuleSettings; }

  // --- used by the handling sequence ---
  // Runs the automatic actions that are still due: the complete report when a critical callback
  // or a complete-report handler wants it, the automatic save, and with wait the end of the send.
  void FinishAutoActions(bool wait);
  void AutoSaveIfDue();
  // Registers the automatic send/clipboard callback as a critical report callback.
  void RegisterAutoActions();

protected:
  TKXProperty *FindProp(std::string_view name, bool allowDefault, bool write, TPropertyType createTyp) override;
  KXValueGuard LockValues() override;
  KXExpandArgs ExpandArgs() override;
  bool TakesScreenShot() override { return FAppendScreenShot; }
  TIKXSettings *ExceptionObject() override { return this; }

private:
  struct CallbackEntry {
    TBugReportCallback plain = nullptr;
    TBugReportCallbackOO method;
    bool critical = false;
  };

  void Notify();
  void SetCallstackCrc(const std::array<uint32_t, 3> &values);
  void SetCompletionThread(std::shared_ptr<IKXCompletionThread> thread);
  void CallCallbacks(const std::vector<CallbackEntry> &callbacks, bool complete, const std::string &text);
  void RegisterCallback(const CallbackEntry &entry);
  void FireAction(KXWindow parent, TExceptAction action, bool &handled);
  KXWindow ActionWindow(KXWindow parentWindow);
  static void AutoActionsCallback(void *self, bool complete, const std::string &bugReport, IKXException &e);

  IKXExceptionHost &FHost;
  std::shared_ptr<IKXModuleSettings> FModuleSettings;
  TKXSettingsModule FSettingsBuf;
  std::atomic<TExceptPhase> FPhase{TExceptPhase::epNotHandledYet};
  bool FCanContinue = true;
  bool FCanContinue2 = true;
  TExceptType FExceptType = TExceptType::etNormal;
  KXExceptObject FExceptObject;
  std::atomic<std::uintptr_t> FExceptAddr{0};
  uint32_t FCrashedThreadId = 0;
  std::array<uint32_t, 3> FCallstackCrc{};
  std::uintptr_t FCurrentEsp = 0, FCurrentEbp = 0;
  KXRegisterContext FContext;
  bool FPContext = false;
  TExceptSource FSource = TExceptSource::esManual;
  void *FRelatedObject = nullptr;
  KXModule FPackage = 0;
  KXExceptionSnapshot FSnapshot;
  std::shared_ptr<IKXFields> FBugReportHeader;
  std::shared_ptr<IKXFields> FBugReportSections;
  std::string FBugReport;
  std::atomic<bool> FComplete{false};
  std::shared_ptr<INVBitmap> FScreenShot;
  std::atomic<int32_t> FUpdating{0};
  std::atomic<bool> FDirty{false};
  std::vector<CallbackEntry> FBugReportCallbacks; // guarded by the handler lock
  bool FCreateBugReport = false, FCreateScreenShot = false, FCallHandlers = false, FAppendScreenShot = false;
  TKXShowSetting FShowSetting = TKXShowSetting::ssFullBox;
  std::string FShowAssis;
  std::recursive_mutex FSection;
  uint64_t FCorrectBugReportNo = 0;
  std::shared_ptr<IKXCompletionThread> FCompleteTh;
  std::shared_ptr<void> FCompositionState;
  std::atomic<bool> FAbortCompleteThread{false};
  std::shared_ptr<IProgressAlert> FProgressAlert;
  std::atomic<bool> FMailWasSent{false}, FMailWasSaved{false};
  std::atomic<int32_t> FFirstCompleteCallback{-1}, FFirstAutoSave{-1};
  std::uintptr_t FSendThread = 0;
  bool FDontCompleteYet = false;
  std::string FExceptClass, FExceptMessage;
  bool FClassCached = false, FMessageCached = false;
  KXLocalTime FCreationTime;
};

// Creates the exception object for what was caught (see KXCaughtException).
std::shared_ptr<TIKXException> CreateExceptionObject(const KXCaughtException &caught);

} // namespace kx
