// The report composition over fixed process facts: the header, the thread and context sections,
// the completion (inline, on its own thread, aborted), the checksum and the plug-ins.
#include <gtest/gtest.h>

#include <chrono>

#include "crash/analysis/stacktrace/CallStackText.h"
#include "crash/capture/exception/KXHandlers.h"
#include "crash/report/composition/HeaderFields.h"
#include "crash/report/composition/ReportComposer.h"
#include "crash/report/composition/ReportPlugins.h"
#include "crash/report/composition/ReportText.h"
#include "runtime/ClassInfo.h"
#include "runtime/Exception.h"
#include "tests/crash/capture/exception/FakeHost.h"
#include "tests/crash/report/composition/FakeFacts.h"

namespace kx::test {
namespace {

using tidewell::stacktrace::StackItem;

class ComposerHost : public FakeHost {
public:
  using FakeHost::FakeHost;
  IKXReportComposer *report = nullptr;
  IKXReportComposer &ReportComposer() override { return *report; }
};

StackItem Frame(uint32_t addr, uint32_t func, const char *module, const char *unit, const char *name, int line,
                int funcLine, bool top = false, bool creator = false) {
  StackItem i;
  i.Addr = addr;
  i.FunctionAddr = func;
  i.ModuleName = module;
  i.UnitName = unit;
  i.FunctionName = name;
  i.Line = line;
  i.FunctionLine = funcLine;
  i.IsTop = top;
  i.IsCreator = creator;
  return i;
}

class Composition : public ::testing::Test {
protected:
  FakePlatform platform;
  std::shared_ptr<KXSettingsContext> context;
  std::unique_ptr<ComposerHost> host;
  FakeFacts facts;
  KXReportComposer composer{facts};
  KXRegisterContext registers;
  EConvertError error{"'abc' is not a valid integer value!!"};

  void UseStream(StreamBuilder stream) {
    platform.streams[kExe] = stream.Bool("PlWaitBox", false).End();
    context = std::make_shared<KXSettingsContext>(platform, std::make_shared<KXSettingsRegistry>());
    host = std::make_unique<ComposerHost>(CreateModuleSettings(context, kExe));
    host->report = &composer;
    host->handlingThread = false; // completion inline unless a test says otherwise
    SetExceptionHost(host.get());
  }

  void SetUp() override {
    UseStream(StreamBuilder());
    registers.rax = 0x12f5a0;
    registers.rsp = 0x12f5a0;
    registers.rip = 0x401234;
    for (uint8_t i = 0; i < 20; ++i)
      facts.memory[0x12f5a0 + i] = uint8_t('A' + i);

    facts.threadOrder = {1, 7, 9, 11, 12};
    FakeThread &crashed = facts.threads[7];
    crashed.title = "worker ($7)";
    crashed.capture = {0x12f000, 0x130000, 0x12f100, false, 0};
    crashed.frames = {Frame(0x401234, 0x401219, "Tidewell.exe", "MainUnit", "TForm1.btnSetClick", 131, 126, true),
                      Frame(0x402345, 0x402100, "Tidewell.exe", "Forms", "TControl.Click", 40, 38)};
    FakeThread &main = facts.threads[1];
    main.title = "main thread ($1)";
    main.capture = {0x22f000, 0x230000, 0, true, 0};
    main.frames = {Frame(0x403000, 0x402f00, "Tidewell.exe", "Forms", "TApplication.Run", 900, 880, true)};
    FakeThread &reader = facts.threads[9];
    reader.title = "thread $9 (TJvHidDeviceReadThread)";
    reader.capture = {0x32f000, 0x330000, 0, false, 2};
    reader.creatorAddr = 0x404000;
    reader.creatorTid = 1;
    reader.frames = {Frame(0x77001000, 0, "???", "", "", 0, 0, true),
                     Frame(0x404000, 0x403f00, "Tidewell.exe", "Hid", "TController.Start", 77, 70, false, true)};
    facts.threads[11].title = ""; // the reporter's own thread
    facts.threads[12].title = "thread $c";
    facts.threads[12].capturable = false;
  }
  void TearDown() override {
    ClearExceptionHandlers();
    SetExceptionHost(nullptr);
  }

  std::shared_ptr<TIKXException> Crash(TExceptType type = TExceptType::etNormal, bool withContext = true) {
    KXCaughtException c;
    c.exceptType = type;
    c.exceptObject = KXExceptObject::Of(error);
    c.exceptAddr = 0x401234;
    c.threadId = 7;
    c.context = withContext ? &registers : nullptr;
    return CreateExceptionObject(c);
  }
  static std::vector<std::string> Names(IKXFields &list) {
    std::vector<std::string> names;
    for (int i = 0; i < list.GetItemCount(); ++i)
      names.push_back(list.GetItem(i));
    return names;
  }
};

TEST_F(Composition, HeaderFieldsInOrderWithTheirTexts) {
  auto e = Crash();
  std::string report = e->GetBugReport(true);
  auto header = e->GetBugReportHeader();
  EXPECT_EQ(Names(*header),
            (std::vector<std::string>{"date/time", "computer name", "user name", "registered owner",
                                      "operating system", "system language", "system up time", "program up time",
                                      "processors", "physical memory", "free disk space", "display mode",
                                      "process id", "allocated memory", "command line", "executable",
                                      "exec. date/time", "version", "compiled with", "Kestrelix version",
                                      "callstack crc", "exception number", "exception class",
                                      "exception message"}));
  EXPECT_EQ(header->GetContent("date/time"), "2026-12-09, 10:00:00, 0ms");
  EXPECT_EQ(header->GetContent("user name"), "ada  <admin>");
  EXPECT_EQ(header->GetContent("registered owner"), "Ada Lovelace / Analytical Ltd");
  EXPECT_EQ(header->GetContent("operating system"), "Windows 7 x64 Service Pack 1 build 7601");
  EXPECT_EQ(header->GetContent("system up time"), "1 day 1 hour");
  EXPECT_EQ(header->GetContent("program up time"), "250 milliseconds");
  EXPECT_EQ(header->GetContent("processors"), "2x Intel(R) Core(TM) i7 CPU");
  EXPECT_EQ(header->GetContent("physical memory"), "1536/4096 MB (free/total)");
  EXPECT_EQ(header->GetContent("free disk space"), "(C:) 1,50 KB (D:) 3,00 GB");
  EXPECT_EQ(header->GetContent("display mode"), "1920x1080, 32 bit");
  EXPECT_EQ(header->GetContent("process id"), "$1a2c");
  EXPECT_EQ(header->GetContent("allocated memory"), "1,00 MB");
  EXPECT_EQ(header->GetContent("executable"), "Tidewell.exe");
  EXPECT_EQ(header->GetContent("exec. date/time"), "2026-03-04 05:06");
  EXPECT_EQ(header->GetContent("version"), "1.2.0.34");
  EXPECT_EQ(header->GetContent("compiled with"), kCompiledWithGnu);
  EXPECT_EQ(header->GetContent("Kestrelix version"), "3.0n");
  EXPECT_EQ(header->GetContent("exception class"), "EConvertError");
  EXPECT_EQ(header->GetContent("exception message"), "'abc' is not a valid integer value.");

  // In the text: the longest name ("exception message", 17) plus one space, values on one line.
  EXPECT_EQ(report.substr(0, report.find("\r\n")), "date/time         : 2026-12-09, 10:00:00, 0ms");
  EXPECT_NE(report.find("\r\nuser name         : ada <admin>\r\n"), std::string::npos);
  EXPECT_NE(report.find("\r\ncommand line      : \"D:\\Apps\\Tidewell.exe\" /station second\r\n"), std::string::npos);
  EXPECT_NE(report.find("\r\nexception message : 'abc' is not a valid integer value.\r\n\r\nworker ($7):\r\n"),
            std::string::npos);

  // Every header counts one exception.
  uint64_t number = std::stoull(header->GetContent("exception number"));
  auto second = Crash();
  second->GetBugReport(true);
  EXPECT_EQ(std::stoull(second->GetBugReportHeader()->GetContent("exception number")), number + 1);
}

TEST_F(Composition, EmptyFailingAndConditionalFieldsAreLeftOutAndLaterFieldsGoBeforeTheChecksum) {
  facts.owner = facts.organisation = "";
  facts.throwOnComputerName = true;
  facts.hasParameters = false;
  facts.processors = {"   "};
  facts.windowsDir = "\\\\server\\windows";
  facts.reporterPath = "D:\\Apps\\kxreport.dll";
  facts.linker = 14;
  facts.wtsClient = "THINCLIENT";
  facts.exeVersion = KXFileVersion{};
  facts.programUp.reset();
  auto e = Crash();
  e->GetBugReport(true);
  auto header = e->GetBugReportHeader();
  auto names = Names(*header);
  for (const char *absent : {"computer name", "registered owner", "command line", "processor", "processors",
                             "free disk space", "version", "program up time"})
    EXPECT_EQ(header->FindItem(absent), -1) << absent;
  EXPECT_EQ(header->GetContent("wts client name"), "THINCLIENT");
  EXPECT_EQ(header->GetContent("current module"), "kxreport.dll");
  EXPECT_GE(header->FindItem("module date/time"), 0);
  EXPECT_EQ(header->GetContent("compiled with"), kCompiledWithOther);

  // Collected before the checksum: date/time, computer name (failed: not collected), wts client
  // name, user name, registered owner (empty: counted), operating system, system language, system
  // up time, physical memory, display mode, process id, allocated memory, executable, current
  // module, module date/time, compiled with, Kestrelix version: 16 pairs, position 15. The empty
  // owner makes that the checksum's place in the list.
  header->Add("station", "WH1080");
  EXPECT_EQ(header->FindItem("station"), 15);
  EXPECT_EQ(header->GetItem(16), "callstack crc");
}

class EQuiet : public Exception {
public:
  using Exception::Exception;
};

TEST_F(Composition, MessageRulesAndFreezes) {
  EQuiet quiet(ClassName(typeid(EQuiet)) + "!"); // a message that only repeats the class name
  KXCaughtException c;
  c.exceptObject = KXExceptObject::Of(quiet);
  c.threadId = 7;
  auto e = CreateExceptionObject(c);
  e->GetBugReport(true);
  EXPECT_GE(e->GetBugReportHeader()->FindItem("exception class"), 0);
  EXPECT_EQ(e->GetBugReportHeader()->FindItem("exception message"), -1);

  facts.traced.clear();
  auto frozen = Crash(TExceptType::etFrozen);
  std::string report = frozen->GetBugReport(true);
  auto header = frozen->GetBugReportHeader();
  EXPECT_EQ(header->FindItem("exception class"), -1);
  EXPECT_EQ(header->GetContent("exception message"), "The application seems to be frozen.");
  // A freeze reports the main thread first and lists the thread that was "crashed" like any other.
  auto sections = Names(*frozen->GetBugReportSections());
  ASSERT_GE(sections.size(), 3u);
  EXPECT_EQ(sections[0], "main thread ($1): <suspended>");
  EXPECT_EQ(sections[1], "worker ($7):");
  EXPECT_EQ(facts.traced.front().threadId, 1u);
  EXPECT_FALSE(facts.traced.front().exceptThread);
}

TEST_F(Composition, ThreadSectionsWithTitlesMarksCreatorAndColumns) {
  auto e = Crash();
  std::string report = e->GetBugReport(true);
  auto sections = e->GetBugReportSections();
  EXPECT_EQ(Names(*sections),
            (std::vector<std::string>{"worker ($7):", "main thread ($1): <suspended>",
                                      "thread $9 (TJvHidDeviceReadThread): <priority:2>", "thread $c:",
                                      "cpu registers", "stack dump", "disassembling"}));
  // Relative addresses and lines are on by default.
  EXPECT_NE(report.find("\r\n\r\nworker ($7):\r\n"
                        "00401234 +01b Tidewell.exe MainUnit 131 +5 TForm1.btnSetClick\r\n"
                        "00402345 +245 Tidewell.exe Forms     40 +2 TControl.Click\r\n\r\n"),
            std::string::npos)
      << report;
  // The creator's line follows a line naming the creating thread.
  std::string reader = sections->GetContent("thread $9 (TJvHidDeviceReadThread): <priority:2>");
  EXPECT_NE(reader.find("\r\n>> created by main thread ($1) at:\r\n00404000 "), std::string::npos) << reader;
  EXPECT_EQ(reader.rfind("TController.Start"), reader.size() - std::string("TController.Start").size());
  // A thread that cannot be read keeps the placeholder; the reporter's own thread has no section.
  EXPECT_EQ(sections->GetContent("thread $c:"), ">> stack not accessible");
  EXPECT_EQ(facts.traces, 3);
  // Only the crashed thread is told where the exception left its stack.
  ASSERT_EQ(facts.hints.size(), 1u);
  const KXCrashedStackHint &hint = facts.hints.at(7);
  EXPECT_TRUE(hint.hasContext);
  EXPECT_EQ(hint.contextEsp, registers.rsp);
  EXPECT_EQ(hint.caughtEsp, 0x12ff00u); // what the host recorded when the exception was caught
  EXPECT_EQ(hint.caughtEbp, 0x12ff40u);
  EXPECT_TRUE(facts.traced[0].exceptThread);
  EXPECT_EQ(facts.traced[0].exceptAddr, 0x401234u);
  EXPECT_EQ(facts.traced[0].stackTop, 0x130000u);
  EXPECT_FALSE(facts.traced[1].exceptThread);
  EXPECT_EQ(facts.traced[1].exceptAddr, 0u);

  EXPECT_EQ(sections->GetContent("cpu registers").substr(0, 14), "eax = 0012f5a0");
  EXPECT_EQ(sections->GetContent("stack dump"),
            "0012f5a0  41 42 43 44 45 46 47 48 - 49 4a 4b 4c 4d 4e 4f 50  ABCDEFGHIJKLMNOP\r\n"
            "0012f5b0  51 52 53 54                                        QRST");
  EXPECT_EQ(sections->GetContent("disassembling"), "function 00401219 at 00401234 limit 5");
}

TEST_F(Composition, CandidatesPreparedAtTheRaiseTraceTheCrashedThread) {
  const std::vector<tidewell::stacktrace::PreStackItem> prepared{{true, 0x402345}, {false, 0x401240}};
  KXCaughtException c;
  c.exceptObject = KXExceptObject::Of(error);
  c.exceptAddr = 0x401234;
  c.threadId = 7;
  c.context = &registers;
  c.preparedStack = &prepared;
  auto e = CreateExceptionObject(c);
  e->GetBugReport(true);
  ASSERT_EQ(facts.traced.size(), 3u);
  ASSERT_TRUE(facts.traced[0].exceptThread);
  ASSERT_EQ(facts.traced[0].preparedStack.size(), 2u);
  EXPECT_EQ(facts.traced[0].preparedStack[0].afterInstr, 0x402345u);
  EXPECT_TRUE(facts.traced[0].preparedStack[0].dontKill);
  EXPECT_EQ(facts.traced[0].preparedStack[1].afterInstr, 0x401240u);
  // The other threads were not raising: theirs are prepared when the report is made.
  EXPECT_EQ(facts.traced[1].preparedStack.size(), 1u);
  // Without a prepared list the crashed thread's is made then too.
  facts.traced.clear();
  Crash()->GetBugReport(true);
  ASSERT_FALSE(facts.traced.empty());
  EXPECT_EQ(facts.traced[0].preparedStack.size(), 1u);
}

TEST_F(Composition, AbsoluteLinesWithoutRelativeColumns) {
  auto e = Crash();
  e->SetShowRelativeAddrs(false);
  e->SetShowRelativeLines(false);
  std::string crashed = (e->GetBugReport(true), e->GetBugReportSections()->GetContent("worker ($7):"));
  EXPECT_EQ(crashed, "00401234 Tidewell.exe MainUnit 131 TForm1.btnSetClick\r\n"
                     "00402345 Tidewell.exe Forms     40 TControl.Click");
}

TEST_F(Composition, InitialSectionsBeforeTheCompletion) {
  auto e = Crash();
  e->GetBugReportHeader(); // the lists exist
  composer.BuildLists(*e, false);
  ASSERT_TRUE(e->IsComplete()); // inline: complete at once
  // With the completion deferred the placeholders are what GetBugReport(false) shows.
  KXCaughtException c;
  c.exceptObject = KXExceptObject::Of(error);
  c.exceptAddr = 0x401234;
  c.threadId = 7;
  c.context = &registers;
  c.dontComplete = true;
  auto deferred = CreateExceptionObject(c);
  std::string draft = deferred->GetBugReport(false);
  EXPECT_FALSE(deferred->IsComplete());
  EXPECT_NE(draft.find("callstack crc     : will be calculated soon"), std::string::npos) << draft;
  EXPECT_NE(draft.find("worker ($7):\r\n00401234 Tidewell.exe MainUnit 12 TForm1.Crash\r\n"
                       ">> stack will be calculated soon"),
            std::string::npos);
  EXPECT_NE(draft.find("thread $c:\r\n>> stack not accessible\r\n"), std::string::npos);
  EXPECT_NE(draft.find("cpu registers:\r\n>> will be calculated soon"), std::string::npos);
  EXPECT_EQ(facts.traces, 3); // only the first exception was completed
  std::string full = deferred->GetBugReport(true);
  EXPECT_TRUE(deferred->IsComplete());
  EXPECT_EQ(full.find("will be calculated soon"), std::string::npos) << full;

  // A thread that cannot be read, crashed: the placeholder names the exception's location.
  facts.threads[7].capturable = false;
  auto unreadable = Crash();
  unreadable->GetBugReport(true);
  EXPECT_EQ(unreadable->GetBugReportSections()->GetContent("worker ($7):"),
            ">> stack not accessible, exception location: \r\n00401234 Tidewell.exe MainUnit 12 TForm1.Crash");
}

TEST_F(Composition, ChecksumsOverThreadsAndOverRawAddresses) {
  using tidewell::stacktrace::LineChecksumValue;
  auto e = Crash();
  std::string report = e->GetBugReport(true);
  const auto &crashed = facts.threads[7].frames;
  uint32_t first = LineChecksumValue(crashed[0]);
  uint32_t chain = CrcUpdateValue(first, LineChecksumValue(crashed[1]));
  uint32_t mainChain = LineChecksumValue(facts.threads[1].frames[0]);
  // The reader thread has line information through its creator's line, so it counts too.
  uint32_t readerChain =
      CrcUpdateValue(facts.threads[9].frames[0].Addr, LineChecksumValue(facts.threads[9].frames[1]));
  uint32_t third = CrcUpdateValue(CrcUpdateValue(chain, mainChain), readerChain);
  EXPECT_EQ(e->GetCallstackCrc(0), first);
  EXPECT_EQ(e->GetCallstackCrc(1), chain);
  EXPECT_EQ(e->GetCallstackCrc(2), third);
  EXPECT_EQ(e->GetCallstackCrc(3), 0u);
  EXPECT_EQ(e->GetBugReportHeader()->GetContent("callstack crc"), CallstackCrcText({first, chain, third}));

  // A crashed thread without names: the values are the addresses themselves; a thread without
  // line information leaves crc 3 alone.
  facts.threads[7].frames = {Frame(0x77001000, 0, "???", "", "", 0, 0, true), Frame(0x77002000, 0, "???", "", "Helper", 0, 0)};
  facts.threads[1].frames = {Frame(0x77003000, 0, "???", "", "", 0, 0, true)};
  facts.threads[9].frames.pop_back();
  facts.threads[9].creatorAddr = 0;
  auto raw = Crash();
  raw->GetBugReport(true);
  EXPECT_EQ(raw->GetCallstackCrc(0), 0x77001000u);
  EXPECT_EQ(raw->GetCallstackCrc(1), CrcUpdateValue(0x77001000, 0x77002000));
  EXPECT_EQ(raw->GetCallstackCrc(2), raw->GetCallstackCrc(1));
}

namespace {
struct HeardOfTrace {
  bool heard = false;
  std::uintptr_t exceptAddr = 0;
  uint32_t crc0 = 0;
};
HeardOfTrace *gHeard = nullptr;
void ListenForTrace(bool, const std::string &report, IKXException &e) {
  if (gHeard->heard || report.find("TForm1.btnSetClick") == std::string::npos)
    return;
  gHeard->heard = true;
  gHeard->exceptAddr = e.GetExceptAddr();
  gHeard->crc0 = e.GetCallstackCrc(0);
}
} // namespace

// The crashed thread's trace moves the address to the call site it found and gives the
// checksums; a report callback that hears of the traced section already sees both, and the
// snapshot the composition reads keeps the address as caught.
TEST_F(Composition, TracedSectionArrivesWithItsAddressAndChecksums) {
  facts.threads[7].frames[0].Addr = 0x401238;
  HeardOfTrace heard;
  gHeard = &heard;
  // The lists are built at once and completed when the complete report is asked for, so that the
  // callback is in place before the trace (a callback that a list's first field notifies while the
  // lists are being built would ask for the lists again).
  KXCaughtException c;
  c.exceptObject = KXExceptObject::Of(error);
  c.exceptAddr = 0x401234;
  c.threadId = 7;
  c.context = &registers;
  c.dontComplete = true;
  auto e = CreateExceptionObject(c);
  e->RegisterBugReportCallback(&ListenForTrace, false);
  e->GetBugReport(true);
  gHeard = nullptr;
  ASSERT_TRUE(heard.heard);
  EXPECT_EQ(heard.exceptAddr, 0x401238u);
  EXPECT_EQ(heard.crc0, tidewell::stacktrace::LineChecksumValue(facts.threads[7].frames[0]));
  EXPECT_EQ(e->GetExceptAddr(), 0x401238u);
  EXPECT_EQ(e->Snapshot().exceptAddr, 0x401234u);
}

TEST_F(Composition, TraceFailuresEmptyTracesAndMissingParts) {
  facts.threads[1].frames.clear();      // main thread: the trace comes out empty
  facts.threads[9].traceFails = true;   // reader: the tracer fails
  facts.disassembler = false;
  auto e = Crash(TExceptType::etNormal, false); // no context: no registers, no stack dump
  e->GetBugReport(true);
  auto sections = e->GetBugReportSections();
  EXPECT_EQ(Names(*sections), (std::vector<std::string>{"worker ($7):", "thread $9 (TJvHidDeviceReadThread): <priority:2>",
                                                         "thread $c:"}));
  EXPECT_EQ(sections->GetContent("thread $9 (TJvHidDeviceReadThread): <priority:2>"),
            ">> internal error in GetThreadReport");
  EXPECT_TRUE(e->IsComplete());

  // No exception function found: the disassembly section vanishes.
  facts.disassembler = true;
  facts.threads[7].frames[0].FunctionAddr = 0;
  auto noFunction = Crash();
  noFunction->GetBugReport(true);
  EXPECT_EQ(noFunction->GetBugReportSections()->FindItem("disassembling"), -1);
  EXPECT_GE(noFunction->GetBugReportSections()->FindItem("stack dump"), 0);
}

TEST_F(Composition, ListThreadsOffTracesOnlyTheFirstThread) {
  UseStream(StreamBuilder().Bool("ListThreads", false));
  auto e = Crash();
  e->GetBugReport(true);
  auto sections = e->GetBugReportSections();
  EXPECT_EQ(Names(*sections), (std::vector<std::string>{"worker ($7):", "main thread ($1): <suspended>",
                                                         "cpu registers", "stack dump", "disassembling"}));
  EXPECT_EQ(facts.traces, 1);
  EXPECT_EQ(sections->GetContent("main thread ($1): <suspended>").find(">> stack not traced"), 0u);
  EXPECT_TRUE(e->IsComplete());
}

std::string StationPlugin() { return "Fine Offset\r\nWH1080"; }
std::u16string ModulesPlugin() { return u"Tidewell.exe 00400000"; }
std::string BrokenPlugin(IKXException &) { throw std::runtime_error("plug-in fault"); }

TEST_F(Composition, PluginsGiveHeaderFieldsAndSectionsInTheConfiguredOrder) {
  AddReportPlugin("station", "the station model", &StationPlugin, false);
  AddReportPlugin("Modules", "loaded modules", &ModulesPlugin, true);
  AddReportPlugin("broken", "fails", &BrokenPlugin, true);
  UseStream(StreamBuilder().Text("Plugins", "modules|absent|broken|station"));
  auto e = Crash();
  std::string report = e->GetBugReport(true);
  RemoveReportPlugin("station");
  RemoveReportPlugin("Modules");
  RemoveReportPlugin("broken");
  EXPECT_TRUE(ConfiguredPlugins("station|modules|broken").empty());

  auto header = e->GetBugReportHeader();
  EXPECT_EQ(header->FindItem("station"), header->FindItem("callstack crc") - 1);
  EXPECT_NE(report.find("\r\nstation           : Fine Offset WH1080\r\n"), std::string::npos);
  auto names = Names(*e->GetBugReportSections());
  auto at = std::find(names.begin(), names.end(), "Modules");
  ASSERT_NE(at, names.end());
  EXPECT_EQ(*(at + 1), "broken");
  EXPECT_EQ(*(at + 2), "cpu registers");
  EXPECT_EQ(e->GetBugReportSections()->GetContent("Modules"), "Tidewell.exe 00400000");
  EXPECT_EQ(e->GetBugReportSections()->GetContent("broken"), ">> internal error in plugin");
  EXPECT_TRUE(e->IsComplete());
}

TEST_F(Composition, MinimalDebugInformationBecomesHeaderFields) {
  facts.minDebugInfo = {"hid.dll|abc123", "HID.DLL|other", "Tidewell.exe|xyz"};
  auto e = Crash();
  e->GetBugReport(true);
  auto header = e->GetBugReportHeader();
  EXPECT_EQ(header->GetContent("hid.dll.kes"), "other"); // a second store replaces the first
  EXPECT_EQ(header->GetContent("Tidewell.exe.kes"), "xyz");
}

TEST_F(Composition, CompletionOnItsOwnThreadIsAwaitedAndStopsWhenTheExceptionGoes) {
  host->handlingThread = true;
  auto e = Crash();
  std::string report = e->GetBugReport(true);
  EXPECT_TRUE(e->IsComplete());
  EXPECT_EQ(report.find("will be calculated soon"), std::string::npos);
  EXPECT_EQ(e->GetBugReport(true), report); // cached

  // The exception object goes away while the first trace runs: the completion stops there.
  struct Gate : public FakeFacts {
    std::atomic<bool> started{false};
    tidewell::stacktrace::TraceResult TraceThread(const KXThreadStack &t, const KXTraceOptions &o) override {
      started = true;
      for (int i = 0; i < 5000 && !(o.abort && *o.abort); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return FakeFacts::TraceThread(t, o);
    }
  };
  auto gate = std::make_unique<Gate>();
  static_cast<FakeFacts &>(*gate) = facts;
  gate->traces = 0;
  KXReportComposer gateComposer{*gate};
  host->report = &gateComposer;
  auto doomed = Crash();
  std::string draft = doomed->GetBugReport(false);
  EXPECT_NE(draft.find("will be calculated soon"), std::string::npos);
  while (!gate->started)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  auto start = std::chrono::steady_clock::now();
  doomed.reset(); // sets the abort flag and waits for the completion
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(gate->traces, 1);
}

} // namespace
} // namespace kx::test

namespace kx::test {
namespace {

// Changes the report while its text is being joined, once.
class ChangingComposer : public IKXReportComposer {
public:
  explicit ChangingComposer(IKXReportComposer &inner) : FInner(inner) {}
  int composed = 0;
  void BuildLists(TIKXException &e, bool start) override { FInner.BuildLists(e, start); }
  void CompleteHere(TIKXException &e) override { FInner.CompleteHere(e); }
  std::string Compose(TIKXException &e) override {
    ++composed;
    std::string text = FInner.Compose(e);
    if (composed == 1)
      e.GetBugReportHeader()->SetContent("late field", "arrived while joining");
    return text;
  }

private:
  IKXReportComposer &FInner;
};

TEST_F(Composition, TextJoinedWhileTheReportChangedIsNotKept) {
  ChangingComposer changing(composer);
  host->report = &changing;
  auto e = Crash();
  std::string first = e->GetBugReport(true);
  EXPECT_EQ(first.find("late field"), std::string::npos);
  std::string second = e->GetBugReport(true);
  EXPECT_EQ(changing.composed, 2);
  EXPECT_NE(second.find("late field"), std::string::npos);
  EXPECT_EQ(e->GetBugReport(true), second); // unchanged since: kept
  EXPECT_EQ(changing.composed, 2);
}

} // namespace
} // namespace kx::test
