#include "crash/report/composition/ReportComposer.h"

#include <algorithm>

#include "crash/capture/exception/KXExceptMessage.h"
#include "crash/capture/exception/KXExceptionObject.h"
#include "crash/capture/threads/ThreadTitles.h"
#include "crash/report/composition/ContextTexts.h"
#include "crash/report/composition/HeaderFields.h"
#include "crash/report/composition/ReportPlugins.h"
#include "crash/report/composition/ReportText.h"

namespace kx {

struct KXReportComposer::State {
  std::mutex buildLock;
  bool headerBuilt = false, sectionsBuilt = false;
  std::mutex completionLock;
  bool completionRan = false;
  std::vector<KXThreadStack> threads;
  std::vector<std::string> plugins; // own-section plug-ins, in section order
  bool registers = false, stackDump = false, disassembly = false;
  uint64_t exceptFunc = 0, exceptFuncAddr = 0;
  std::vector<std::string> minDebugInfos;
  // Results handed to the exception object, which keeps the applied ones.
  std::array<uint32_t, 3> callstackCrc{};
  std::optional<std::uintptr_t> tracedExceptAddr; // where the crashed thread's trace put the address
};

namespace {
bool Pending(const KXCompositionResult::Pairs &pairs, const std::string &name) {
  return std::any_of(pairs.begin(), pairs.end(), [&](const auto &p) { return p.first == name; });
}

// Moves the progress window's bar within the current area.
class AreaProgress final : public tidewell::stacktrace::ITraceProgress {
public:
  explicit AreaProgress(std::shared_ptr<IProgressAlert> alert) : FAlert(std::move(alert)) {}
  void SetProgress(int perMille) override {
    if (FAlert)
      FAlert->SetPosition(std::clamp(perMille, 0, 1000));
  }

private:
  std::shared_ptr<IProgressAlert> FAlert;
};

KXTextPairs ReadPairs(IKXFields &list) {
  KXListLock lock(list);
  KXTextPairs pairs;
  int count = list.GetItemCount();
  pairs.reserve(size_t(std::max(count, 0)));
  for (int i = 0; i < count; ++i) {
    std::string name = list.GetItem(i);
    pairs.emplace_back(name, list.GetContent(name));
  }
  return pairs;
}
} // namespace

std::shared_ptr<KXReportComposer::State> KXReportComposer::StateOf(TIKXException &e) {
  return std::static_pointer_cast<State>(e.CompositionState([] { return std::make_shared<State>(); }));
}

// --- filling the lists --------------------------------------------------------------------------

void KXReportComposer::BuildLists(TIKXException &e, bool startCompletion) {
  if (!e.GetCreateBugReport())
    return;
  std::shared_ptr<State> state = StateOf(e);
  {
    std::lock_guard g(state->buildLock);
    if (!state->headerBuilt) {
      state->headerBuilt = true;
      FillHeader(e);
    }
    if (state->sectionsBuilt)
      return;
    state->sectionsBuilt = true;
    FillSections(e, *state);
  }
  if (e.DontCompleteYet())
    return;
  if (startCompletion) {
    std::shared_ptr<IKXCompletionThread> thread;
    try {
      thread = FFacts.StartThread([this, &e] { CompleteHere(e); });
    } catch (...) {
    }
    if (thread) {
      KXCompositionResult started;
      started.completionThread = std::move(thread);
      e.ApplyComposition(started);
      return;
    }
  }
  if (e.GetShowPleaseWaitBox())
    if (auto alert = e.ProgressAlert())
      alert->Show(nullptr, false);
  CompleteHere(e);
}

void KXReportComposer::FillHeader(TIKXException &e) {
  KXHeaderBatch batch = CollectHeaderFields(FFacts, e);
  KXCompositionResult filled;
  filled.openHeader = true;
  filled.announceOnce = false; // each field is announced as it is stored
  filled.header = std::move(batch.fields);
  filled.headerAddIndex = batch.addIndex;
  e.ApplyComposition(filled);
}

void KXReportComposer::FillSections(TIKXException &e, State &state) {
  const KXExceptionSnapshot &snapshot = e.Snapshot();
  std::shared_ptr<IKXFields> sections = e.GetBugReportSections();
  KXCompositionResult filled;
  filled.openSections = true;
  KXCompositionResult::Pairs &placed = filled.sections;

  const bool frozen = snapshot.exceptType == TExceptType::etFrozen;
  const uint32_t crashed = snapshot.crashedThreadId;
  uint32_t main = 0;
  try {
    main = FFacts.MainThreadId();
  } catch (...) {
  }
  if (frozen) {
    AddThreadSection(e, state, placed, main, false, true);
  } else {
    AddThreadSection(e, state, placed, crashed, true, true);
    if (main && main != crashed)
      AddThreadSection(e, state, placed, main, false, false);
  }
  if (e.GetListThreads()) {
    std::vector<uint32_t> ids;
    try {
      ids = FFacts.ThreadIds();
    } catch (...) {
    }
    for (uint32_t id : ids)
      if (id != main && (frozen || id != crashed))
        AddThreadSection(e, state, placed, id, false, false);
  }

  for (const KXReportPlugin &plugin : ConfiguredPlugins(e.GetPropStr("Plugins")))
    if (plugin.ownSection && sections->FindItem(plugin.name) < 0 && !Pending(placed, plugin.name)) {
      placed.emplace_back(plugin.name, kSectionPlaceholder);
      state.plugins.push_back(plugin.name);
    }

  const bool context = snapshot.context.has_value();
  if (e.GetShowCpuRegisters() && context) {
    placed.emplace_back(kCpuRegistersSection, kSectionPlaceholder);
    state.registers = true;
  }
  if (e.GetShowStackDump() && context) {
    placed.emplace_back(kStackDumpSection, kSectionPlaceholder);
    state.stackDump = true;
  }
  bool disassembler = false;
  try {
    disassembler = FFacts.DisassemblerPresent();
  } catch (...) {
  }
  if (e.GetShowDisAsm() && disassembler) {
    placed.emplace_back(kDisassemblySection, kSectionPlaceholder);
    state.disassembly = true;
  }
  e.ApplyComposition(filled);
}

void KXReportComposer::AddThreadSection(TIKXException &e, State &state, KXCompositionResult::Pairs &placed,
                                        uint32_t threadId, bool crashed, bool first) {
  const KXExceptionSnapshot &snapshot = e.Snapshot();
  const bool relAddrs = e.GetShowRelativeAddrs(), relLines = e.GetShowRelativeLines();
  std::string title;
  try {
    KXThreadStack entry;
    std::string name = FFacts.ThreadTitle(threadId, first, entry.creatorAddr, entry.creatorTid);
    if (name.empty())
      return;
    title = name + ":";
    const uint64_t exceptAddr = crashed ? snapshot.exceptAddr : 0;
    std::string content = kStackNotAccessible;
    if (crashed)
      content += ", exception location: \r\n" + FFacts.LocationLine(exceptAddr, relAddrs, relLines);

    KXCrashedStackHint hint;
    if (crashed) {
      hint.hasContext = snapshot.context.has_value();
      if (snapshot.context) {
        hint.contextEsp = snapshot.context->rsp;
        hint.contextEbp = snapshot.context->rbp;
      }
      hint.caughtEsp = snapshot.currentEsp;
      hint.caughtEbp = snapshot.currentEbp;
    }
    KXThreadCapture capture;
    bool captured = FFacts.CaptureThread(threadId, crashed ? &hint : nullptr, capture);
    if (captured) {
      title = ThreadSectionTitle(name, capture.wasSuspended, capture.priority);
      entry.threadName = title;
      entry.threadId = threadId;
      entry.exceptAddr = exceptAddr;
      entry.exceptThread = crashed;
      entry.extException = crashed && ExceptInheritsFrom(snapshot.exceptObject, "EExternal");
      entry.bcbTermination = crashed && ExceptInheritsFrom(snapshot.exceptObject, "BcbTermination");
      entry.stackBottom = capture.stackPointer;
      entry.stackTop = capture.stackEnd;
      entry.ebp = capture.framePointer;
      entry.currentAddr = capture.instructionPointer;
      if (crashed && snapshot.context && snapshot.context->rsp == capture.stackPointer)
        entry.registers = snapshot.context;
      if (auto alert = e.ProgressAlert()) {
        uint64_t size = entry.stackTop > entry.stackBottom ? entry.stackTop - entry.stackBottom : 0;
        alert->AddArea(int64_t(std::min<uint64_t>(size, uint64_t(INT64_MAX) / 100) * 100), e.GetPleaseWaitText());
      }
      // The crashed thread's candidates were best taken when it raised, before the unwinding
      // and the handler's own calls overwrote the raising frames; else they are taken now.
      if (crashed && !snapshot.preparedStack.empty())
        entry.preparedStack = snapshot.preparedStack;
      else
        entry.preparedStack = FFacts.PrepareStack(entry);
      content = FFacts.LocationLine(exceptAddr, relAddrs, relLines) + "\r\n>> stack " + kCalculatedSoon;
    }
    placed.emplace_back(title, content);
    if (captured)
      state.threads.push_back(std::move(entry));
  } catch (...) {
    try {
      placed.emplace_back(title.empty() ? PlainThreadTitle(threadId) + ":" : title, InternalErrorText("GetThreadStack"));
    } catch (...) {
    }
  }
}

// --- completion -----------------------------------------------------------------------------------

void KXReportComposer::CompleteHere(TIKXException &e) {
  std::shared_ptr<State> state = StateOf(e);
  {
    std::lock_guard g(state->buildLock);
    if (!state->sectionsBuilt)
      return;
  }
  std::lock_guard g(state->completionLock);
  if (state->completionRan)
    return;
  state->completionRan = true;
  try {
    RunCompletion(e, *state);
  } catch (...) {
  }
  if (auto alert = e.ProgressAlert())
    alert->Close();
  KXCompositionResult ended;
  ended.completionEnded = true; // the object moves to the complete-report phase and fires its event
  e.ApplyComposition(ended);
}

bool KXReportComposer::ThreadReport(TIKXException &e, State &state, size_t index, std::string &text,
                                    tidewell::stacktrace::CallStackChecksum &checksum) {
  KXThreadStack &thread = state.threads[index];
  try {
    AreaProgress progress(e.ProgressAlert());
    KXTraceOptions options;
    options.hideUglyItems = e.GetHideUglyItems();
    options.showRelativeAddrs = e.GetShowRelativeAddrs();
    options.showRelativeLines = e.GetShowRelativeLines();
    options.abort = e.AbortCompleteFlag();
    options.progress = &progress;
    options.minDebugInfos = &state.minDebugInfos;
    tidewell::stacktrace::TraceResult result = FFacts.TraceThread(thread, options);
    thread.preparedStack.clear();
    thread.preparedStack.shrink_to_fit();
    if (auto alert = e.ProgressAlert())
      alert->AreaDone();
    if (result.aborted)
      return false;
    checksum = result.checksum;
    if (index == 0) {
      state.exceptFunc = result.exceptFunc;
      state.exceptFuncAddr = result.exceptFuncAddr;
      if (result.exceptAddr)
        state.tracedExceptAddr = std::uintptr_t(result.exceptAddr);
    }
    text = result.text;
    if (thread.creatorAddr && !text.empty() && text.front() != '>') {
      uint64_t creatorAddr = 0;
      uint32_t creatorTid = 0;
      std::string creator = FFacts.ThreadTitle(thread.creatorTid, true, creatorAddr, creatorTid);
      text = InsertCreatorLine(text, creator);
    }
  } catch (...) {
    checksum = {};
    text = InternalErrorText("GetThreadReport");
  }
  return true;
}

void KXReportComposer::RunCompletion(TIKXException &e, State &state) {
  const KXExceptionSnapshot &snapshot = e.Snapshot();
  if (!e.GetListThreads() && state.threads.size() > 1) {
    // Only the first thread is traced; the others keep no promise of a trace.
    KXCompositionResult untraced;
    for (size_t i = 1; i < state.threads.size(); ++i)
      untraced.sections.emplace_back(state.threads[i].threadName, ">> stack not traced (ListThreads is off)");
    e.ApplyComposition(untraced);
    state.threads.resize(1);
  }
  size_t outstanding = state.threads.size() + (state.registers ? 1 : 0) + (state.stackDump ? 1 : 0) +
                       (state.disassembly ? 1 : 0) + state.plugins.size();
  // One section's text, with the address and checksums known so far.
  auto store = [&](const std::string &title, const std::string &text) {
    KXCompositionResult stored;
    stored.exceptAddr = state.tracedExceptAddr;
    stored.callstackCrc = state.callstackCrc;
    stored.sections.emplace_back(title, text);
    e.ApplyComposition(stored);
    if (--outstanding == 0)
      Finish(e, state);
  };
  auto aborted = [&] { return e.AbortCompleteRequested(); };

  tidewell::stacktrace::CallStackChecksum checksum;
  std::string text;
  if (!state.threads.empty() && !aborted() && ThreadReport(e, state, 0, text, checksum)) {
    state.callstackCrc = {checksum.firstLine, checksum.chain, checksum.chain};
    store(state.threads[0].threadName, text);
  }
  const KXRegisterContext *context = snapshot.context ? &*snapshot.context : nullptr;
  if (state.registers && !aborted()) {
    try {
      text = context ? CpuRegistersText(*context) : std::string();
    } catch (...) {
      text = InternalErrorText("GetCpuRegisters");
    }
    store(kCpuRegistersSection, text);
  }
  if (state.stackDump && !aborted()) {
    try {
      text.clear();
      if (context) {
        uint64_t start = context->rsp;
        text = StackDumpText(start, FFacts.RegionEnd(start), [this](uint64_t address, uint8_t *buffer, size_t count) {
          return FFacts.ReadMemory(address, buffer, count);
        }, context->x64);
      }
    } catch (...) {
      text = InternalErrorText("GetStackDump");
    }
    store(kStackDumpSection, text);
  }
  if (state.disassembly && !aborted()) {
    try {
      text = state.exceptFunc ? FFacts.Disassemble(state.exceptFunc, state.exceptFuncAddr, e.GetLimitDisassembly(),
                                                   e.GetFormatDisassembly())
                              : std::string();
    } catch (...) {
      text = InternalErrorText("GetCleartextDisAsm");
    }
    store(kDisassemblySection, text);
  }
  if (!state.plugins.empty()) {
    std::vector<KXReportPlugin> plugins = ConfiguredPlugins(e.GetPropStr("Plugins"));
    for (const std::string &name : state.plugins) {
      if (aborted())
        break;
      auto it = std::find_if(plugins.begin(), plugins.end(), [&](const KXReportPlugin &p) { return p.name == name; });
      try {
        text = it != plugins.end() ? CallReportPlugin(*it, e) : std::string();
      } catch (...) {
        text = InternalErrorText("plugin");
      }
      store(name, text);
    }
  }
  for (size_t i = 1; i < state.threads.size(); ++i) {
    if (aborted() || !ThreadReport(e, state, i, text, checksum))
      break;
    if (checksum.hasLineInfo)
      state.callstackCrc[2] = CrcUpdateValue(state.callstackCrc[2], checksum.chain);
    store(state.threads[i].threadName, text);
  }
}

void KXReportComposer::Finish(TIKXException &e, State &state) {
  KXCompositionResult finished;
  finished.exceptAddr = state.tracedExceptAddr;
  finished.callstackCrc = state.callstackCrc;
  const std::array<uint32_t, 3> &crc = state.callstackCrc;
  finished.header.emplace_back(kCallstackCrcField, CallstackCrcText({crc[0], crc[1], crc[2]}));
  for (const std::string &info : state.minDebugInfos) {
    size_t bar = info.find('|');
    if (bar != std::string::npos && bar > 0)
      finished.header.emplace_back(info.substr(0, bar) + ".kes", info.substr(bar + 1));
  }
  finished.complete = true;
  finished.modified = true;
  e.ApplyComposition(finished);
}

// --- the text ------------------------------------------------------------------------------------

std::string KXReportComposer::Compose(TIKXException &e) {
  KXTextPairs header = ReadPairs(*e.GetBugReportHeader());
  KXTextPairs sections = ReadPairs(*e.GetBugReportSections());
  return JoinReport(header, sections);
}

} // namespace kx
