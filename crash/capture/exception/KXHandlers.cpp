#include "crash/capture/exception/KXHandlers.h"

#include <algorithm>
#include <array>

#include "crash/capture/exception/KXExceptionObject.h"

namespace kx {

namespace {
std::array<std::vector<KXHandlerEntry>, 3> &Lists() {
  static std::array<std::vector<KXHandlerEntry>, 3> lists;
  return lists;
}

bool SameHandler(const KXHandlerEntry &a, const KXHandlerEntry &b) {
  return a.event == b.event && a.eventOO == b.eventOO && a.action == b.action && a.actionOO == b.actionOO;
}

// Calls one handler; whatever it throws is swallowed.
void CallHandler(const KXHandlerEntry &h, KXHandlerKind kind, TExceptAction action, IKXException &e, bool &handled) {
  try {
    if (kind == KXHandlerKind::action) {
      if (h.actionOO.code)
        h.actionOO.code(h.actionOO.object, action, e, handled);
      else if (h.action)
        h.action(action, e, handled);
    } else {
      if (h.eventOO.code)
        h.eventOO.code(h.eventOO.object, e, handled);
      else if (h.event)
        h.event(e, handled);
    }
  } catch (...) {
  }
}

// Calls the handlers in order: method handlers first, then plain ones; stops at the first that
// handles the event unless every handler is to be called.
void CallHandlers(const std::vector<KXHandlerEntry> &handlers, KXHandlerKind kind, TExceptAction action,
                  IKXException &e, bool &handled, bool callAll) {
  for (int pass = 0; pass < 2; ++pass)
    for (const KXHandlerEntry &h : handlers) {
      if (h.IsMethod() != (pass == 0))
        continue;
      CallHandler(h, kind, action, e, handled);
      if (handled && !callAll)
        return;
    }
}

TExceptAction FollowUpAction(TExceptAction action) {
  switch (action) {
  case TExceptAction::eaSendBugReport:
    return TExceptAction::eaSendBugReport2;
  case TExceptAction::eaSaveBugReport:
    return TExceptAction::eaSaveBugReport2;
  default:
    return TExceptAction::eaPrintBugReport2;
  }
}
} // namespace

std::mutex &HandlerLock() {
  static std::mutex lock;
  return lock;
}

void RegisterExceptionHandler(KXHandlerKind kind, const KXHandlerEntry &entry) {
  std::lock_guard g(HandlerLock());
  Lists()[size_t(kind)].push_back(entry);
}

void UnregisterExceptionHandler(KXHandlerKind kind, const KXHandlerEntry &entry) {
  std::lock_guard g(HandlerLock());
  auto &list = Lists()[size_t(kind)];
  list.erase(std::remove_if(list.begin(), list.end(), [&](const KXHandlerEntry &h) { return SameHandler(h, entry); }),
             list.end());
}

void ClearExceptionHandlers() {
  std::lock_guard g(HandlerLock());
  for (auto &list : Lists())
    list.clear();
}

bool HandlersExist(KXHandlerKind kind) {
  std::lock_guard g(HandlerLock());
  return !Lists()[size_t(kind)].empty();
}

bool PhaseHandlerExists(TExceptPhase phase) {
  std::lock_guard g(HandlerLock());
  const auto &list = Lists()[size_t(KXHandlerKind::exception)];
  return std::any_of(list.begin(), list.end(), [&](const KXHandlerEntry &h) { return h.phase == phase; });
}

std::vector<KXHandlerEntry> HandlerList(KXHandlerKind kind) {
  std::lock_guard g(HandlerLock());
  return Lists()[size_t(kind)];
}

void FireExceptionEvent(KXWindow parentWindow, int eventType, TExceptAction action, bool &handled,
                        TIKXException &exception) {
  KXHandlerKind kind = KXHandlerKind(std::clamp(eventType, 0, 2));
  IKXExceptionHost &host = exception.Host();

  // 1. Critical callbacks and complete-report handlers see the final text before the process ends.
  if (kind == KXHandlerKind::action &&
      (action == TExceptAction::eaRestartApplication || action == TExceptAction::eaCloseApplication) &&
      (exception.CriticalBugReportCallbackExists() ||
       (PhaseHandlerExists(TExceptPhase::epCompleteReport) && exception.GetCallHandlers())))
    exception.GetBugReport(true);

  // 2. The registered handlers.
  if (exception.GetCallHandlers() && HandlersExist(kind)) {
    TExceptPhase phase = exception.GetPhase();
    // Late exception events only notify: every handler hears them and none can stop the sequence.
    // Action events keep their meaning in every phase (the dialog fires them in post-processing).
    bool callAll = kind != KXHandlerKind::action &&
                   (phase == TExceptPhase::epPostProcessing || phase == TExceptPhase::epCompleteReport);
    std::vector<KXHandlerEntry> direct, synced;
    for (const KXHandlerEntry &h : HandlerList(kind)) {
      if (kind == KXHandlerKind::exception && h.phase != phase)
        continue;
      (h.sync == TSyncType::stDontSync ? direct : synced).push_back(h);
    }
    CallHandlers(direct, kind, action, exception, handled, callAll);
    if (!synced.empty() && (!handled || callAll)) {
      bool called = false;
      if (exception.GetExceptType() != TExceptType::etFrozen) {
        bool resumed = host.Threads().ResumeMainThreadTemporarily();
        called = host.Threads().CallOnMainThread([&] { CallHandlers(synced, kind, action, exception, handled, callAll); });
        if (resumed)
          host.Threads().PauseMainThreadAgain();
      }
      if (!called) {
        std::vector<KXHandlerEntry> always;
        std::copy_if(synced.begin(), synced.end(), std::back_inserter(always),
                     [](const KXHandlerEntry &h) { return h.sync == TSyncType::stTrySyncCallAlways; });
        CallHandlers(always, kind, action, exception, handled, callAll);
      }
    }
    if (callAll)
      handled = false;
  }

  // 3. The assistant of a send, save or print, then the follow-up action.
  if (kind == KXHandlerKind::action && !handled && parentWindow &&
      (action == TExceptAction::eaSendBugReport || action == TExceptAction::eaSaveBugReport ||
       action == TExceptAction::eaPrintBugReport)) {
    std::string name = action == TExceptAction::eaSendBugReport   ? exception.GetSendAssistant()
                       : action == TExceptAction::eaSaveBugReport ? exception.GetSaveAssistant()
                                                                  : exception.GetPrintAssistant();
    bool ok = false;
    if (!name.empty() && host.Windows().RunAssistant(exception, name, parentWindow, ok) && !ok)
      handled = true;
    if (!handled)
      FireExceptionEvent(parentWindow, 1, FollowUpAction(action), handled, exception);
  }
}

} // namespace kx
