#include "crash/analysis/stacktrace/RuntimeNames.h"

namespace tidewell::stacktrace {

const RuntimeNames &RuntimeNames::Default() {
  static const RuntimeNames names = [] {
    RuntimeNames n;
    n.raiseCallMarkers = {"@RaiseExcept", "Error", "__cxa_throw", "__cxa_rethrow",
                          "_Unwind_RaiseException", "RaiseException", "rethrow_exception"};
    n.throwRoutines = {"_ThrowExceptionLDTC", "_ReThrowException", "__wrap___cxa_throw",
                       "__cxa_throw", "__cxa_rethrow"};
    n.exceptionHandlers = {"__ExceptionHandler", "RtlDispatchException",
                           "RtlpCallVectoredHandlers", "call_vectored_handlers"};
    n.exceptionDispatcher = "KiUserExceptionDispatcher";
    n.noReturn = {"_Unwind_Resume", "__cxa_throw", "__cxa_rethrow", "__wrap___cxa_throw",
                  "std::terminate", "abort", "exit", "_exit", "ExitProcess",
                  "__stack_chk_fail"};
    return n;
  }();
  return names;
}

namespace {
std::string Dotted(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == ':' && i + 1 < s.size() && s[i + 1] == ':') {
      out += '.';
      ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}
} // namespace

bool SameRoutine(std::string_view name, std::string_view wanted) {
  if (name.empty() || wanted.empty())
    return false;
  return Dotted(name) == Dotted(wanted);
}

bool AnyRoutine(std::string_view name, const std::vector<std::string> &wanted) {
  for (const auto &w : wanted)
    if (SameRoutine(name, w))
      return true;
  return false;
}

} // namespace tidewell::stacktrace
