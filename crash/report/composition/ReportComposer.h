#pragma once
// The bug report composition: fills an exception's header and section lists (cheap facts at once,
// placeholders for the stack traces, registers, stack dump, disassembly and plug-in sections),
// completes them on a thread of its own or inline, and joins them into the report text. It reads
// the caught exception from its snapshot (TIKXException::Snapshot) and the settings, and hands
// every change back as a KXCompositionResult that the object applies (ApplyComposition).
#include <mutex>

#include "crash/capture/exception/KXComposition.h"
#include "crash/capture/exception/KXExceptionHost.h"
#include "crash/report/composition/ReportFacts.h"

namespace kx {

inline constexpr char kSectionPlaceholder[] = ">> will be calculated soon";
inline constexpr char kStackNotAccessible[] = ">> stack not accessible";
inline constexpr char kCpuRegistersSection[] = "cpu registers";
inline constexpr char kStackDumpSection[] = "stack dump";
inline constexpr char kDisassemblySection[] = "disassembling";

class KXReportComposer final : public IKXReportComposer {
public:
  explicit KXReportComposer(IKXReportFacts &facts) : FFacts(facts) {}

  void BuildLists(TIKXException &exception, bool startCompletion) override;
  void CompleteHere(TIKXException &exception) override;
  std::string Compose(TIKXException &exception) override;

private:
  struct State;
  std::shared_ptr<State> StateOf(TIKXException &exception);
  void FillHeader(TIKXException &exception);
  void FillSections(TIKXException &exception, State &state);
  void AddThreadSection(TIKXException &exception, State &state, KXCompositionResult::Pairs &placed, uint32_t threadId,
                        bool crashed, bool first);
  void RunCompletion(TIKXException &exception, State &state);
  // The final text of a thread's section; false when the trace was aborted.
  bool ThreadReport(TIKXException &exception, State &state, size_t index, std::string &text,
                    tidewell::stacktrace::CallStackChecksum &checksum);
  void Finish(TIKXException &exception, State &state);

  IKXReportFacts &FFacts;
};

} // namespace kx
