#pragma once
// The report composition's side of the exception object: what it reads (a snapshot of the caught
// exception, fixed when the object is made) and what it hands back (a result the object applies
// in one place, TIKXException::ApplyComposition, which also fires the complete-report event).
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crash/analysis/stacktrace/ReturnAddress.h"
#include "crash/capture/exception/KXException.h"

namespace kx {

class IKXCompletionThread;

// The caught exception as the object stored it; the composition cannot change it.
struct KXExceptionSnapshot {
  TExceptType exceptType = TExceptType::etNormal;
  KXExceptObject exceptObject;
  std::uintptr_t exceptAddr = 0; // as the handling sequence corrected it
  uint32_t crashedThreadId = 0;
  std::uintptr_t currentEsp = 0, currentEbp = 0;
  std::optional<KXRegisterContext> context;
  std::vector<tidewell::stacktrace::PreStackItem> preparedStack;
  KXLocalTime creationTime;
};

// One step of the composition's results, applied in this order: the address and checksums, the
// lists opened, the header fields and the sections (inside one update bracket when announceOnce
// is set, so that report callbacks hear of the step once; else each change is announced as it is
// made), the completion mark and the announced change; then the completion thread; then the
// complete-report phase and its event.
struct KXCompositionResult {
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  std::optional<std::uintptr_t> exceptAddr; // the crashed thread's trace found the call site
  std::optional<std::array<uint32_t, 3>> callstackCrc;
  bool openHeader = false, openSections = false; // the lists start to accept data
  bool announceOnce = true;
  Pairs header; // fields set in the header, in order
  std::optional<int> headerAddIndex;
  Pairs sections; // sections set, in order
  bool complete = false; // the report is complete
  bool modified = false; // one change is announced to the report callbacks even without list changes
  std::shared_ptr<IKXCompletionThread> completionThread; // started for the exception, or null
  // The completion ended without being aborted: in post-processing the exception moves to the
  // complete-report phase and, when it calls handlers, fires that phase's event.
  bool completionEnded = false;
};

} // namespace kx
