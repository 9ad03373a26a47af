#pragma once
// The process-wide lists of exception, hidden-exception and action handlers, and the handler lock
// that also guards every exception object's report callbacks. The program registers no handlers
// itself; the registration operations are there for code that wants to take part (and for tests).
#include <mutex>
#include <vector>

#include "crash/capture/exception/KXException.h"

namespace kx {

class TIKXException;

using TExceptEvent = void (*)(IKXException &exception, bool &handled);
struct TExceptEventOO {
  void (*code)(void *object, IKXException &exception, bool &handled) = nullptr;
  void *object = nullptr;
  bool operator==(const TExceptEventOO &) const = default;
};
using TExceptActionEvent = void (*)(TExceptAction action, IKXException &exception, bool &handled);
struct TExceptActionEventOO {
  void (*code)(void *object, TExceptAction action, IKXException &exception, bool &handled) = nullptr;
  void *object = nullptr;
  bool operator==(const TExceptActionEventOO &) const = default;
};

// The kinds of handler lists; the event types of FireExceptionEvent use the same numbers.
enum class KXHandlerKind { exception = 0, action = 1, hidden = 2 };

// One registration: plain handlers fill the plain member, method handlers the OO one.
struct KXHandlerEntry {
  TSyncType sync = TSyncType::stDontSync;
  TExceptPhase phase = TExceptPhase::epNotHandledYet;
  TExceptEvent event = nullptr;
  TExceptEventOO eventOO;
  TExceptActionEvent action = nullptr;
  TExceptActionEventOO actionOO;
  bool IsMethod() const { return eventOO.code != nullptr || actionOO.code != nullptr; }
};

// The lock of the handler lists and of the report callback lists; made on first use.
std::mutex &HandlerLock();

void RegisterExceptionHandler(KXHandlerKind kind, const KXHandlerEntry &entry);
// Removes every registration of the entry's handler (plain or bound) from the kind's list.
void UnregisterExceptionHandler(KXHandlerKind kind, const KXHandlerEntry &entry);
void ClearExceptionHandlers();
bool HandlersExist(KXHandlerKind kind);
// True when an exception handler for the phase is registered.
bool PhaseHandlerExists(TExceptPhase phase);
// A copy of a list, taken under the handler lock.
std::vector<KXHandlerEntry> HandlerList(KXHandlerKind kind);

// Fires an event on the exception: eventType 0 the exception event of its current phase, 1 the
// action event, 2 the hidden-exception event.
void FireExceptionEvent(KXWindow parentWindow, int eventType, TExceptAction action, bool &handled,
                        TIKXException &exception);

} // namespace kx
