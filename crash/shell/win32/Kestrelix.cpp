// The reporter's public calls (crash/shell/include/kestrelix/Kestrelix.h) over the catching entry,
// the handler lists, the exception object's settings and the freeze watch.
#include "crash/shell/include/kestrelix/Kestrelix.h"

#include <windows.h>

#include <charconv>
#include <climits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "crash/analysis/stacktrace/win32/LiveThreadStack.h"
#include "crash/base/settings/KXDefaults.h"
#include "crash/base/settings/KXSettingsObject.h"
#include "crash/capture/catching/win32/KXCatchException.h"
#include "crash/capture/catching/win32/KXThreadRecord.h"
#include "crash/capture/exception/KXHandlers.h"
#include "crash/capture/exception/win32/KXHandlingThread.h"
#include "crash/capture/exception/win32/KXWin32ExceptionHost.h"
#include "crash/capture/threads/win32/FreezeWatch.h"
#include "crash/shell/win32/KXReporter.h"
#include "runtime/Exception.h"
#include "runtime/win32/Thread.h"

namespace kestrelix {

namespace {

using kx::IKXException;
using kx::TPropertyType;

// --- the exception as a handler sees it ------------------------------------------------------------

// The type of a setting by its settings-file name: the built-in table's, and text for the
// assistant entries "Assistant1", "Assistant2", ... (read by number, so only the plain decimal
// form of a number from 1 names one).
std::optional<TPropertyType> SettingType(const std::string &name) {
  if (const kx::TKXProperty *known = kx::FindDefault(name))
    return known->typ;
  constexpr std::string_view prefix = "Assistant";
  if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 && name[prefix.size()] != '0') {
    const char *first = name.data() + prefix.size(), *last = name.data() + name.size();
    int number = 0;
    auto [end, error] = std::from_chars(first, last, number);
    if (error == std::errc() && end == last && number > 0)
      return TPropertyType::ptString;
  }
  return std::nullopt;
}

// The object as a std::exception, adjusted to that base as a catch clause would; null for an
// object of another class.
const std::exception *AsStdException(const kx::KXExceptObject &object) {
  void *p = object.object;
  if (!object || !typeid(std::exception).__do_catch(object.type, &p, 1))
    return nullptr;
  return static_cast<const std::exception *>(p);
}

class ExceptionView final : public Exception {
public:
  explicit ExceptionView(IKXException &exception) : FException(exception) {}

  std::string ClassName() const override {
    try {
      return FException.GetExceptClass();
    } catch (...) {
      return {};
    }
  }

  std::string Message() const override {
    try {
      if (const std::exception *e = AsStdException(FException.GetExceptObject()))
        return e->what();
      // What the report's exception-message field shows.
      if (FException.GetExceptType() == kx::TExceptType::etFrozen)
        return FException.GetFrozenMsg();
      return FException.GetExceptMessage();
    } catch (...) {
      return {};
    }
  }

  bool CanContinue() const override {
    try {
      return FException.GetCanContinue();
    } catch (...) {
      return false;
    }
  }

  std::string ReportText() const override {
    try {
      return FException.GetBugReport(false);
    } catch (...) {
      return {};
    }
  }

  bool SetSetting(const std::string &name, bool value) override {
    return Store(name, TPropertyType::ptBoolean, [&](kx::TIKXSettings &s) { return s.SetPropBool(name, value); });
  }
  bool SetSetting(const std::string &name, int value) override {
    return Store(name, TPropertyType::ptInteger, [&](kx::TIKXSettings &s) { return s.SetPropInt(name, value); });
  }
  bool SetSetting(const std::string &name, const std::string &value) override {
    return Store(name, TPropertyType::ptString, [&](kx::TIKXSettings &s) { return s.SetPropStr(name, value); });
  }

private:
  // The value goes into the exception object's own property list, which the object reads before
  // its module's list: the override holds for this exception only.
  template <class Set> bool Store(const std::string &name, TPropertyType type, Set set) {
    try {
      if (SettingType(name) != type)
        return false;
      auto *settings = dynamic_cast<kx::IKXSettingsEx *>(&FException);
      kx::TIKXSettings *self = settings ? settings->GetSelf() : nullptr;
      return self && set(*self);
    } catch (...) {
      return false;
    }
  }

  IKXException &FException;
};

// --- handlers ---------------------------------------------------------------------------------------

// One registration. The handler lists hold its address as the object of a bound entry; a call
// finds it through the registry first, so a registration removed meanwhile is not called.
struct Registration {
  int id;
  ExceptionHandler handler;
};

std::mutex gRegistrationLock;
std::map<int, std::shared_ptr<Registration>> gRegistrations;
int gNextId = 1;

std::shared_ptr<Registration> FindRegistration(const void *object) {
  std::lock_guard guard(gRegistrationLock);
  for (const auto &[id, registration] : gRegistrations)
    if (registration.get() == object)
      return registration;
  return nullptr;
}

void CallRegistration(void *object, IKXException &exception, bool &handled) {
  std::shared_ptr<Registration> registration = FindRegistration(object);
  if (!registration)
    return;
  ExceptionView view(exception);
  try {
    registration->handler(view, handled);
  } catch (...) {
  }
}

// Handlers run in the main phase: the report has been started, and nothing has been shown, saved
// or sent yet.
kx::KXHandlerEntry EntryOf(Registration &registration) {
  kx::KXHandlerEntry entry;
  entry.sync = kx::TSyncType::stDontSync;
  entry.phase = kx::TExceptPhase::epMainPhase;
  entry.eventOO.code = &CallRegistration;
  entry.eventOO.object = &registration;
  return entry;
}

// --- reporting --------------------------------------------------------------------------------------

// Objects whose handling outlived the call that reported them (see Report).
std::mutex gParkedLock;
std::vector<std::exception_ptr> gParked;

// Hands one exception over and waits for the handling. False when the calling thread cannot report
// (the handling thread itself, or the main thread while it runs synchronised handlers): the
// reporter would drop it there.
bool Report(kx::KXCaughtException &args, const std::exception_ptr &keepAlive) {
  if (GetCurrentThreadId() == kx::HandlingThreadId() || kx::RunningSynchronisedHandlers())
    return false;
  // The watch counts nothing while the program waits for its own report, also when the handling
  // runs on this thread.
  kx::PauseFreezeWatch(true);
  kx::CatchException(args);
  kx::PauseFreezeWatch(false);
  // The main thread stops waiting at a quit message while the handling goes on: the object then
  // stays alive for the handlers and the report.
  MSG quit;
  if (GetCurrentThreadId() == MainThreadID && PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) {
    std::lock_guard guard(gParkedLock);
    gParked.push_back(keepAlive);
  }
  return true;
}

// The registers a public call captured, as its caller's at the call: on x86 the capture reads the
// caller's frame through EBP (so the public calls keep a frame pointer) and gives the registers as
// they are when the call returns; on x86-64 it gives the public call's own, and one step of the
// system's unwind makes them the caller's. The instruction pointer is the return address.
kx::KXRegisterContext CallerRegisters(CONTEXT captured, std::uintptr_t returnAddress) {
#if defined(__x86_64__)
  tidewell::stacktrace::UnwindToCaller(captured);
#endif
  kx::KXRegisterContext registers = kx::RegistersOf(captured);
  registers.rip = returnAddress;
  return registers;
}

} // namespace

bool Running() { return kx::ReporterRunning(); }

__attribute__((noinline, optimize("no-omit-frame-pointer"))) bool ReportException(std::exception_ptr exception) {
  CONTEXT captured;
  RtlCaptureContext(&captured);
  const auto callSite = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  try {
    if (!exception || !kx::ReporterRunning())
      return false;
    kx::KXCaughtException args;
    args.source = kx::TExceptSource::esApplicationHandleException;
    args.canContinue = true;
    args.exceptObject = kx::ObjectOfException(exception);
    // The raise recorded on this thread names the address and registers of the throw; an object
    // raised elsewhere (or long ago) is reported where the program reports it.
    kx::KXRegisterContext registers;
    if (kx::ThreadExceptionRecord().object != args.exceptObject) {
      registers = CallerRegisters(captured, callSite);
      args.exceptAddr = callSite;
      args.context = &registers;
    }
    return Report(args, exception);
  } catch (...) {
    return false;
  }
}

__attribute__((noinline, optimize("no-omit-frame-pointer"))) bool ReportState(const std::string &message) {
  CONTEXT captured;
  RtlCaptureContext(&captured);
  const auto callSite = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  try {
    if (!kx::ReporterRunning())
      return false;
    // The message travels as the object of the reporter's own exception class; it is made, not
    // raised, so no raise is recorded for it.
    std::exception_ptr state = std::make_exception_ptr(KesException(message));
    kx::KXRegisterContext registers = CallerRegisters(captured, callSite);
    kx::KXCaughtException args;
    args.source = kx::TExceptSource::esManual;
    args.canContinue = true;
    args.exceptObject = kx::ObjectOfException(state);
    args.exceptAddr = callSite;
    args.context = &registers;
    return Report(args, state);
  } catch (...) {
    return false;
  }
}

int AddExceptionHandler(ExceptionHandler handler) {
  try {
    if (!handler || !kx::ReporterRunning())
      return 0;
    auto registration = std::make_shared<Registration>(Registration{0, std::move(handler)});
    std::lock_guard guard(gRegistrationLock);
    do {
      registration->id = gNextId;
      gNextId = gNextId == INT_MAX ? 1 : gNextId + 1;
    } while (gRegistrations.count(registration->id));
    gRegistrations.emplace(registration->id, registration);
    kx::RegisterExceptionHandler(kx::KXHandlerKind::exception, EntryOf(*registration));
    return registration->id;
  } catch (...) {
    return 0;
  }
}

void RemoveExceptionHandler(int id) {
  // Also after the reporter stopped (which emptied the handler lists): the registration is
  // forgotten, so that a later start does not carry it.
  try {
    std::shared_ptr<Registration> registration;
    std::lock_guard guard(gRegistrationLock);
    auto found = gRegistrations.find(id);
    if (found == gRegistrations.end())
      return;
    registration = found->second;
    gRegistrations.erase(found);
    kx::UnregisterExceptionHandler(kx::KXHandlerKind::exception, EntryOf(*registration));
  } catch (...) {
  }
}

void Heartbeat() {
  try {
    if (!kx::ReporterRunning())
      return;
    // The watch probes the watched thread's message window; the probes of a thread without a
    // message loop are answered here. Only that thread's calls are signs of its life.
    HWND window = kx::FreezeWatchWindow();
    if (!window || GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId())
      return;
    // Every message of the reporter's window: the probes and the handler message's calls, which
    // would otherwise wait for a message loop that never comes.
    MSG msg;
    while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE))
      DispatchMessageW(&msg);
  } catch (...) {
  }
}

} // namespace kestrelix
