#include "crash/capture/exception/KXExceptionObject.h"

#include <algorithm>

#include "crash/capture/exception/KXExceptMessage.h"
#include "crash/capture/exception/KXExceptionTimes.h"
#include "crash/capture/exception/KXHandlers.h"

namespace kx {

namespace {
IKXExceptionHost *gHost = nullptr;

TIKXSettings *SettingsObject(const std::shared_ptr<IKXModuleSettings> &settings) {
  auto *ex = dynamic_cast<IKXSettingsEx *>(settings.get());
  return ex ? ex->GetSelf() : nullptr;
}
} // namespace

IKXExceptionHost &ExceptionHost() { return *gHost; }
void SetExceptionHost(IKXExceptionHost *host) { gHost = host; }
bool HasExceptionHost() { return gHost != nullptr; }

// --- creation ------------------------------------------------------------------------------------

TIKXException::TIKXException(std::shared_ptr<KXSettingsContext> context, KXModule module, IKXExceptionHost &host)
    : TIKXSettings(std::move(context), module, true), FHost(host) {
  FCreationTime = host.Threads().LocalNow();
}

std::shared_ptr<TIKXException> CreateExceptionObject(const KXCaughtException &caught) {
  IKXExceptionHost &host = ExceptionHost();
  std::shared_ptr<IKXModuleSettings> settings = caught.moduleSettings ? caught.moduleSettings : host.Data().CallerSettings();
  TIKXSettings *settingsObject = SettingsObject(settings);
  if (!settingsObject)
    return nullptr;
  auto e = std::make_shared<TIKXException>(settingsObject->Context(), settings->Module(), host);
  KXCaughtException c = caught;
  c.moduleSettings = settings;
  e->Initialise(c);
  return e;
}

// The record comes complete: the catching point filled in object, address and registers, and
// the handling sequence corrected the address.
void TIKXException::Initialise(const KXCaughtException &caught) {
  FModuleSettings = caught.moduleSettings;
  FExceptType = caught.exceptType;
  FExceptObject = caught.exceptObject;
  FExceptAddr = caught.exceptAddr;
  FCanContinue = FCanContinue2 = caught.canContinue;
  FCrashedThreadId = caught.threadId ? caught.threadId : FHost.Threads().CurrentThreadId();
  std::uintptr_t esp = 0, ebp = 0;
  FHost.Data().CurrentStackPointers(esp, ebp);
  FCurrentEsp = caught.esp ? caught.esp : esp;
  FCurrentEbp = caught.ebp ? caught.ebp : ebp;
  if (caught.context)
    FContext = *caught.context;
  FPContext = caught.context != nullptr;
  FSource = caught.source;
  FRelatedObject = caught.relatedObject;
  FPackage = caught.package;
  // The object belongs to the catching code and may be gone when the dialog or a send thread
  // asks, so its class and message are read now.
  FExceptClass = ExceptClassName(FExceptObject);
  FExceptMessage = PrepareExceptMessage(FExceptObject);
  FClassCached = FMessageCached = true;

  FBugReportHeader = NewFieldList(this);
  FBugReportSections = NewFieldList(this);

  FProgressAlert = FHost.Windows().CreatePleaseWait(GetPleaseWaitTitle(), Module());

  // The filter: the first whose class list names the class or an ancestor, else the general one.
  bool noBugRep, noScrShot, noSuspend, noHandlers;
  TKXShowSetting show;
  std::string assis;
  if (ClassListMatches(GetFilter1Classes(), FExceptObject)) {
    noBugRep = GetFilter1NoBugReport();
    noScrShot = GetFilter1NoScreenShot();
    noSuspend = GetFilter1NoSuspend();
    noHandlers = GetFilter1NoHandlers();
    show = GetFilter1ShowSetting();
    assis = GetFilter1Assistant();
  } else if (ClassListMatches(GetFilter2Classes(), FExceptObject)) {
    noBugRep = GetFilter2NoBugReport();
    noScrShot = GetFilter2NoScreenShot();
    noSuspend = GetFilter2NoSuspend();
    noHandlers = GetFilter2NoHandlers();
    show = GetFilter2ShowSetting();
    assis = GetFilter2Assistant();
  } else {
    noBugRep = GetGeneralNoBugReport();
    noScrShot = GetGeneralNoScreenShot();
    noSuspend = GetGeneralNoSuspend();
    noHandlers = GetGeneralNoHandlers();
    show = GetGeneralShowSetting();
    assis = GetGeneralAssistant();
  }
  FCreateBugReport = !noBugRep;
  FCreateScreenShot = !noScrShot && GetScreenShotDepth() > 0;
  bool modulePauses = FModuleSettings->GetSuspendThreads();
  SetSuspendThreads(!noSuspend && modulePauses);
  FCallHandlers = !noHandlers;
  FShowSetting = show;
  FShowAssis = assis;
  FAppendScreenShot = FCreateScreenShot;

  FSnapshot.exceptType = FExceptType;
  FSnapshot.exceptObject = FExceptObject;
  FSnapshot.exceptAddr = FExceptAddr;
  FSnapshot.crashedThreadId = FCrashedThreadId;
  FSnapshot.currentEsp = FCurrentEsp;
  FSnapshot.currentEbp = FCurrentEbp;
  if (FPContext)
    FSnapshot.context = FContext;
  if (caught.preparedStack)
    FSnapshot.preparedStack = *caught.preparedStack;
  FSnapshot.creationTime = FCreationTime;

  FDontCompleteYet = caught.dontComplete;
  if (FDontCompleteYet && FCreateBugReport)
    FHost.Data().ReportComposer().BuildLists(*this, false);
}

TIKXException::~TIKXException() {
  FAbortCompleteThread = true;
  if (FCompleteTh) {
    if (FHost.Threads().ProcessLockHeld(250))
      FCompleteTh->Terminate();
    else
      FCompleteTh->WaitFor(0xFFFFFFFF);
    FCompleteTh.reset();
  }
  for (auto &list : {FBugReportHeader, FBugReportSections})
    if (list)
      FieldsEx(*list).ClearExcParent();
  if (FSendThread)
    FHost.Outputs().CloseThreadHandle(FSendThread, false);
}

// --- the settings view ------------------------------------------------------------------------

TKXProperty *TIKXException::FindProp(std::string_view name, bool allowDefault, bool write, TPropertyType createTyp) {
  if (TKXProperty *p = FSettingsBuf.props.Find(name))
    return p;
  if (write)
    return FValid ? &FSettingsBuf.props.Append(name, createTyp) : nullptr;
  return TIKXSettings::FindProp(name, allowDefault, false, createTyp);
}

KXValueGuard TIKXException::LockValues() {
  KXValueGuard g;
  g.first = std::unique_lock(FSettingsBuf.valueLock);
  if (FSettings)
    g.second = std::unique_lock(FSettings->valueLock);
  return g;
}

KXExpandArgs TIKXException::ExpandArgs() {
  KXExpandArgs args = TIKXSettings::ExpandArgs();
  args.exceptClass = GetExceptClass();
  args.exceptMsg = GetExceptMessage();
  return args;
}

// --- plain fields ---------------------------------------------------------------------------------

void TIKXException::SetCanContinue(bool value) {
  if (!value || FCanContinue2)
    FCanContinue = value;
}

std::string TIKXException::GetExceptClass() {
  std::lock_guard g(FSection);
  if (!FClassCached) {
    FExceptClass = ExceptClassName(FExceptObject);
    FClassCached = true;
  }
  return FExceptClass;
}

std::string TIKXException::GetExceptMessage() {
  std::lock_guard g(FSection);
  if (!FMessageCached) {
    FExceptMessage = PrepareExceptMessage(FExceptObject);
    FMessageCached = true;
  }
  return FExceptMessage;
}

void TIKXException::SetExceptMessage(const std::string &value) {
  std::lock_guard g(FSection);
  FExceptMessage = value;
  FMessageCached = true;
}

uint32_t TIKXException::GetCallstackCrc(int index) {
  if (index < 0 || index > 2)
    return 0;
  std::lock_guard g(FSection);
  return FCallstackCrc[size_t(index)];
}

void TIKXException::SetCallstackCrc(const std::array<uint32_t, 3> &values) {
  std::lock_guard g(FSection);
  FCallstackCrc = values;
}

uint64_t TIKXException::ModificationCount() {
  std::lock_guard g(FSection);
  return FCorrectBugReportNo;
}

void TIKXException::SetCompletionThread(std::shared_ptr<IKXCompletionThread> thread) {
  std::lock_guard g(FSection);
  FCompleteTh = std::move(thread);
}

std::shared_ptr<void> TIKXException::CompositionState(const std::function<std::shared_ptr<void>()> &make) {
  std::lock_guard g(FSection);
  if (!FCompositionState)
    FCompositionState = make();
  return FCompositionState;
}

void TIKXException::ApplyComposition(const KXCompositionResult &r) {
  if (r.exceptAddr)
    FExceptAddr = *r.exceptAddr;
  if (r.callstackCrc)
    SetCallstackCrc(*r.callstackCrc);
  if (r.openHeader)
    FieldsEx(*FBugReportHeader).AcceptData();
  if (r.openSections)
    FieldsEx(*FBugReportSections).AcceptData();
  // An empty step opens no bracket: the bracket's count is shared with other threads' brackets.
  const bool bracket =
      r.announceOnce && (!r.header.empty() || r.headerAddIndex || !r.sections.empty() || r.complete || r.modified);
  if (bracket)
    BeginUpdate();
  try {
    if (!r.header.empty() || r.headerAddIndex) {
      KXListLock lock(*FBugReportHeader);
      for (const auto &[name, value] : r.header)
        FBugReportHeader->SetContent(name, value);
      if (r.headerAddIndex)
        FieldsEx(*FBugReportHeader).SetAddIndex(*r.headerAddIndex);
    }
    for (const auto &[name, value] : r.sections)
      FBugReportSections->SetContent(name, value);
    if (r.complete)
      FComplete = true;
    if (r.modified)
      SetModified();
  } catch (...) {
    if (bracket)
      EndUpdate();
    throw;
  }
  if (bracket)
    EndUpdate();
  if (r.completionThread)
    SetCompletionThread(r.completionThread);
  if (r.completionEnded && !FAbortCompleteThread && GetPhase() == TExceptPhase::epPostProcessing) {
    SetPhase(TExceptPhase::epCompleteReport);
    if (GetCallHandlers()) {
      bool handled = false;
      try {
        FireExceptionEvent(0, 0, TExceptAction::eaSendBugReport, handled, *this);
      } catch (...) {
      }
    }
  }
}

uint32_t TIKXException::GetCompleteThreadId() {
  std::lock_guard g(FSection);
  return FCompleteTh ? FCompleteTh->ThreadId() : 0;
}

void TIKXException::SetPhase(TExceptPhase value) {
  if (value == TExceptPhase::epPostProcessing && FComplete)
    value = TExceptPhase::epCompleteReport;
  FPhase = value;
}

// --- updates and report callbacks -------------------------------------------------------------

void TIKXException::BeginUpdate() { ++FUpdating; }

void TIKXException::EndUpdate() {
  if (--FUpdating == 0 && FDirty.exchange(false))
    Notify();
}

void TIKXException::SetModified() {
  if (FUpdating > 0) {
    FDirty = true;
    return;
  }
  FDirty = false;
  Notify();
}

void TIKXException::Notify() {
  {
    std::lock_guard g(FSection);
    ++FCorrectBugReportNo;
    FBugReport.clear();
  }
  std::vector<CallbackEntry> callbacks;
  {
    std::lock_guard g(HandlerLock());
    callbacks = FBugReportCallbacks;
  }
  if (callbacks.empty())
    return;
  std::string text = GetBugReport(false);
  CallCallbacks(callbacks, FComplete, text);
}

void TIKXException::CallCallbacks(const std::vector<CallbackEntry> &callbacks, bool complete, const std::string &text) {
  // Plain callbacks first, then the method ones; a failing callback does not stop the others.
  for (int pass = 0; pass < 2; ++pass)
    for (const CallbackEntry &c : callbacks) {
      try {
        if (pass == 0 && c.plain)
          c.plain(complete, text, *this);
        else if (pass == 1 && c.method.code)
          c.method.code(c.method.object, complete, text, *this);
      } catch (...) {
      }
    }
}

void TIKXException::RegisterCallback(const CallbackEntry &entry) {
  {
    std::lock_guard g(HandlerLock());
    for (CallbackEntry &c : FBugReportCallbacks)
      if ((entry.plain && c.plain == entry.plain) || (entry.method.code && c.method == entry.method)) {
        c.critical = entry.critical;
        return;
      }
    FBugReportCallbacks.push_back(entry);
  }
  std::string text = GetBugReport(false);
  CallCallbacks({entry}, FComplete, text);
}

void TIKXException::RegisterBugReportCallback(TBugReportCallback callback, bool critical) {
  if (callback)
    RegisterCallback({callback, {}, critical});
}

void TIKXException::RegisterBugReportCallback(TBugReportCallbackOO callback, bool critical) {
  if (callback.code)
    RegisterCallback({nullptr, callback, critical});
}

void TIKXException::UnregisterBugReportCallback(TBugReportCallback callback) {
  std::lock_guard g(HandlerLock());
  auto it = std::find_if(FBugReportCallbacks.begin(), FBugReportCallbacks.end(),
                         [&](const CallbackEntry &c) { return c.plain && c.plain == callback; });
  if (it != FBugReportCallbacks.end())
    FBugReportCallbacks.erase(it);
}

void TIKXException::UnregisterBugReportCallback(TBugReportCallbackOO callback) {
  std::lock_guard g(HandlerLock());
  auto it = std::find_if(FBugReportCallbacks.begin(), FBugReportCallbacks.end(),
                         [&](const CallbackEntry &c) { return c.method.code && c.method == callback; });
  if (it != FBugReportCallbacks.end())
    FBugReportCallbacks.erase(it);
}

bool TIKXException::CriticalBugReportCallbackExists() {
  std::lock_guard g(HandlerLock());
  return std::any_of(FBugReportCallbacks.begin(), FBugReportCallbacks.end(),
                     [](const CallbackEntry &c) { return c.critical; });
}

// --- the report text -------------------------------------------------------------------------

void TIKXException::SetBugReport(const std::string &text) {
  {
    std::lock_guard g(FSection);
    FBugReport = text;
  }
  std::vector<CallbackEntry> callbacks;
  {
    std::lock_guard g(HandlerLock());
    callbacks = FBugReportCallbacks;
  }
  if (!callbacks.empty())
    CallCallbacks(callbacks, FComplete, text);
}

std::string TIKXException::GetBugReport(bool mustBeComplete) {
  std::unique_lock g(FSection);
  std::string text = FBugReport;
  if (!FCreateBugReport)
    return text;
  if (!text.empty() && (!mustBeComplete || FComplete))
    return text;
  g.unlock();

  IKXReportComposer &composer = FHost.Data().ReportComposer();
  composer.BuildLists(*this, FHost.Threads().IsHandlingThread() && !FHost.Threads().ProcessLockHeld(250));
  if (mustBeComplete && !FComplete) {
    if (FDontCompleteYet) {
      if (GetShowPleaseWaitBox() && FProgressAlert)
        FProgressAlert->Show(nullptr, false);
      composer.CompleteHere(*this);
    } else {
      std::shared_ptr<IKXCompletionThread> thread;
      {
        std::lock_guard lock(FSection);
        thread = FCompleteTh;
      }
      if (thread && !FHost.Threads().ProcessLockHeld(250)) {
        bool shown = GetShowPleaseWaitBox() && FProgressAlert && FProgressAlert->Show(nullptr, false);
        if (shown) {
          thread->RaisePriority();
          while (!thread->WaitFor(50))
            FProgressAlert->ProcessMessages();
          FProgressAlert->ProcessMessages();
        } else {
          thread->WaitFor(0xFFFFFFFF);
        }
      }
    }
  }
  if (FProgressAlert)
    FProgressAlert->Close();
  // A text composed while the report changed is returned but not kept.
  uint64_t modifications = ModificationCount();
  text = composer.Compose(*this);
  std::lock_guard lock(FSection);
  if (modifications == FCorrectBugReportNo)
    FBugReport = text;
  return text;
}

// --- screenshot ------------------------------------------------------------------------------

std::shared_ptr<INVBitmap> TIKXException::GetScreenShot() {
  std::lock_guard g(FSection);
  if (!FScreenShot && FCreateScreenShot) {
    try {
      FScreenShot = FHost.Windows().CaptureScreenShot(*this);
    } catch (...) {
      FScreenShot.reset();
    }
    if (!FScreenShot)
      FCreateScreenShot = false;
  }
  return FScreenShot;
}

void TIKXException::SetScreenShot(std::shared_ptr<INVBitmap> bitmap) {
  std::lock_guard g(FSection);
  FScreenShot = std::move(bitmap);
}

// --- showing and the user actions -------------------------------------------------------------

void TIKXException::Show() {
  if (FHost.Windows().IsConsoleProgram()) {
    std::string text = FExceptType == TExceptType::etFrozen ? GetFrozenMsg() : GetExceptMsg();
    // The texts come expanded with class and message; the report variable stands for nothing here.
    for (std::string var = "%bugreport%"; ;) {
      std::string lower = text;
      std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
      size_t at = lower.find(var);
      if (at == std::string::npos)
        break;
      text.erase(at, var.size());
    }
    FHost.Windows().WriteConsoleLine(text);
    if (GetAutoShowBugReport() || GetShowBtnVisible()) {
      SetShowPleaseWaitBox(false);
      FHost.Windows().WriteConsoleLine("");
      FHost.Windows().WriteConsoleLine(GetBugReport(true));
    }
    return;
  }
  switch (FShowSetting) {
  case TKXShowSetting::ssFullBox:
    FHost.Windows().ShowExceptionBox(*this, TExceptionBoxForm::fullBox);
    break;
  case TKXShowSetting::ssAssistant: {
    bool ok = false;
    if (!FHost.Windows().RunAssistant(*this, FShowAssis, 0, ok))
      FHost.Windows().ShowExceptionBox(*this, TExceptionBoxForm::fullBox);
    break;
  }
  case TKXShowSetting::ssDetailBox:
    FHost.Windows().ShowExceptionBox(*this, TExceptionBoxForm::detailBox);
    break;
  case TKXShowSetting::ssSimpleBox:
    FHost.Windows().ShowExceptionBox(*this, TExceptionBoxForm::simpleBox);
    break;
  case TKXShowSetting::ssNothing:
    break;
  }
}

KXWindow TIKXException::ActionWindow(KXWindow parentWindow) { return parentWindow ? parentWindow : FHost.Windows().DialogWindow(); }

void TIKXException::FireAction(KXWindow parent, TExceptAction action, bool &handled) {
  handled = false;
  try {
    FireExceptionEvent(parent, 1, action, handled, *this);
  } catch (...) {
  }
}

void TIKXException::ShowBugReport(KXWindow parentWindow) {
  if (KXWindow w = ActionWindow(parentWindow))
    FHost.Windows().PostWindowMessage(w, kDialogShowReportMessage);
}

void TIKXException::SendBugReport(KXWindow parentWindow) {
  KXWindow window = ActionWindow(parentWindow);
  bool handled;
  FireAction(window, TExceptAction::eaSendBugReport, handled);
  if (!handled) {
    if (FAppendScreenShot)
      GetScreenShot();
    std::uintptr_t old = FSendThread;
    FSendThread = 0;
    if (old)
      FHost.Outputs().CloseThreadHandle(old, false);
    FSendThread = FHost.Outputs().StartSend(*this, GetBugReport(true), FAppendScreenShot, window, false, GetSendInBackground(),
                                  true);
  }
  FHost.Windows().SetArrowCursor();
}

void TIKXException::SaveBugReport(KXWindow parentWindow) {
  KXWindow window = ActionWindow(parentWindow);
  bool handled;
  FireAction(window, TExceptAction::eaSaveBugReport, handled);
  if (!handled)
    FHost.Outputs().SaveBugReportFile(*this, GetBugReport(true), false, window);
  FHost.Windows().SetArrowCursor();
}

void TIKXException::PrintBugReport(KXWindow parentWindow) {
  KXWindow window = ActionWindow(parentWindow);
  bool handled;
  FireAction(window, TExceptAction::eaPrintBugReport, handled);
  if (!handled)
    FHost.Outputs().PrintBugReport(*this, GetBugReport(true), window);
  FHost.Windows().SetArrowCursor();
}

void TIKXException::ContinueApplication(KXWindow parentWindow) {
  KXWindow window = ActionWindow(parentWindow);
  bool handled;
  FireAction(window, TExceptAction::eaContinueApplication, handled);
  if (window)
    FHost.Windows().SendWindowMessage(window, kDialogCloseMessage);
}

void TIKXException::RestartApplication(KXWindow parentWindow) {
  KXWindow window = ActionWindow(parentWindow);
  bool handled;
  FireAction(window, TExceptAction::eaRestartApplication, handled);
  if (handled)
    return;
  if (window)
    FHost.Windows().SendWindowMessage(window, kDialogCloseMessage);
  FinishAutoActions(true);
  FHost.ProcessEnd().RestartProcess();
}

void TIKXException::CloseApplication(KXWindow parentWindow) {
  KXWindow window = ActionWindow(parentWindow);
  bool handled;
  FireAction(window, TExceptAction::eaCloseApplication, handled);
  if (handled)
    return;
  if (window)
    FHost.Windows().SendWindowMessage(window, kDialogCloseMessage);
  FinishAutoActions(true);
  FHost.ProcessEnd().CloseProcess();
}

// --- automatic actions ----------------------------------------------------------------------

void TIKXException::AutoActionsCallback(void *self, bool complete, const std::string &bugReport, IKXException &) {
  auto &e = *static_cast<TIKXException *>(self);
  if (!complete || !e.FirstCompleteCallback())
    return;
  if (e.GetAutoSend()) {
    bool handled;
    e.FireAction(0, TExceptAction::eaSendBugReport, handled);
    if (!handled) {
      if (e.FAppendScreenShot)
        e.GetScreenShot();
      std::uintptr_t old = e.FSendThread;
      e.FSendThread = 0;
      if (old)
        e.FHost.Outputs().CloseThreadHandle(old, false);
      e.FSendThread = e.FHost.Outputs().StartSend(e, bugReport, e.FAppendScreenShot, 0, true, true, e.GetAutoSendPrgrBox());
    }
  }
  if (e.GetAutoClipboard())
    e.FHost.Outputs().CopyToClipboard(bugReport);
  else
    e.UnregisterBugReportCallback(TBugReportCallbackOO{&AutoActionsCallback, &e});
}

void TIKXException::RegisterAutoActions() {
  RegisterBugReportCallback(TBugReportCallbackOO{&AutoActionsCallback, this}, true);
}

void TIKXException::AutoSaveIfDue() {
  if (!GetAutoSave() || (GetAutoSaveIfNotSent() && GetMailWasSent()) || !FirstAutoSave())
    return;
  bool handled;
  FireAction(0, TExceptAction::eaSaveBugReport, handled);
  if (!handled)
    FHost.Outputs().SaveBugReportFile(*this, GetBugReport(true), true, 0);
}

void TIKXException::FinishAutoActions(bool wait) {
  if (CriticalBugReportCallbackExists() || (PhaseHandlerExists(TExceptPhase::epCompleteReport) && FCallHandlers))
    GetBugReport(true);
  AutoSaveIfDue();
  if (wait && FSendThread) {
    std::uintptr_t thread = FSendThread;
    FSendThread = 0;
    FHost.Outputs().CloseThreadHandle(thread, true);
  }
}

} // namespace kx
