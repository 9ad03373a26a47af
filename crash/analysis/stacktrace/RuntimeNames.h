#pragma once
// The run-time library routines whose names change how the tracer reads a stack. The defaults
// name the routines of our toolchain (mingw-w64 g++ with DWARF-2 exceptions, Windows) beside the
// classic names of the routines that play the same roles; README.md explains each list.
#include <string>
#include <string_view>
#include <vector>

namespace tidewell::stacktrace {

struct RuntimeNames {
  // A call at the exception address to a routine whose name contains one of these is the raise
  // call, and the frame is shown at the call.
  std::vector<std::string> raiseCallMarkers;
  // Frames of the throw routines; with the termination flag they and everything further in are
  // dropped from the output.
  std::vector<std::string> throwRoutines;
  // The exception-dispatch handler whose frames are dropped when the exception address was
  // added after a prepared list.
  std::vector<std::string> exceptionHandlers;
  // The system routine that starts exception dispatch; kept by that clean-up.
  std::string exceptionDispatcher;
  // Routines that never return; a call to one ends a code area in the function analysis.
  std::vector<std::string> noReturn;
  // The helper that every try-finally block calls on its way out (its return address is
  // ignored on stacks); our toolchain has none.
  std::string tryFinallyExit;

  static const RuntimeNames &Default();
};

// Name comparison used for the lists: exact, with "::" and "." counted as the same separator
// (the debug information writes "std.terminate" for std::terminate).
bool SameRoutine(std::string_view name, std::string_view wanted);
bool AnyRoutine(std::string_view name, const std::vector<std::string> &wanted);

} // namespace tidewell::stacktrace
