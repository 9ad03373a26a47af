// Traces of synthetic stacks whose true call chain is known.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <stdexcept>

#include "crash/analysis/debuginfo/Crc32.h"
#include "crash/analysis/stacktrace/LocationLine.h"
#include "crash/analysis/stacktrace/StackTracer.h"
#include "tests/crash/analysis/stacktrace/Scenario.h"

namespace tidewell::stacktrace::test {
namespace {

std::vector<uint32_t> Addrs(const TraceResult &r) {
  std::vector<uint32_t> out;
  for (const auto &item : r.items)
    out.push_back(item.Addr);
  return out;
}

TraceRequest ExceptionRequest(const Scenario &s) {
  TraceRequest q;
  q.currentAddr = s.fault;
  q.isException = true;
  q.extException = true;
  q.stackBottom = s.sp;
  q.stackTop = Scenario::kStackTop;
  q.ebp = s.ebp;
  return q;
}

TEST(StackTracer, WithDebugInformationFindsTheTrueChainAndNamesIt) {
  Scenario s(true);
  TraceCaches caches;
  TraceRequest q = ExceptionRequest(s);
  q.showRelativeAddrs = true;
  q.showRelativeLines = true;
  const TraceResult r = StackTrace(s.process, caches, q);
  ASSERT_TRUE(r.failedPhase.empty()) << r.text;
  EXPECT_EQ(Addrs(r), (std::vector<uint32_t>{s.fault, s.siteC, s.siteB, s.siteA, s.siteMain, s.siteStart}));
  std::vector<std::string> names;
  for (const auto &item : r.items)
    names.push_back(item.FunctionName);
  EXPECT_EQ(names, (std::vector<std::string>{"D", "C", "B", "A", "Main", "Start"}));
  ASSERT_FALSE(r.items.empty());
  EXPECT_TRUE(r.items.front().IsTop);
  EXPECT_EQ(r.items.front().ModuleName, "app.exe");
  EXPECT_EQ(r.items.front().UnitName, "App");
  EXPECT_EQ(r.items.front().Line, 61);
  EXPECT_EQ(r.exceptAddr, s.fault);
  EXPECT_EQ(r.exceptFunc, s.d);
  EXPECT_EQ(r.exceptFuncAddr, s.fault);
  // The first line in the report's columns: relative address, module, unit, line, function.
  const std::string first = r.text.substr(0, r.text.find("\r\n"));
  EXPECT_EQ(first, "004010b2 +2 app.exe App 61 +1 D");
  EXPECT_EQ(std::count(r.text.begin(), r.text.end(), '\n'), 5);

  // The look-alikes were candidates: without chain selection they stay in the output.
  q.dumbTrace = true;
  const TraceResult all = StackTrace(s.process, caches, q);
  const auto allAddrs = Addrs(all);
  EXPECT_NE(std::find(allAddrs.begin(), allAddrs.end(), s.siteBJunk), allAddrs.end());
  EXPECT_NE(std::find(allAddrs.begin(), allAddrs.end(), s.siteJunk1), allAddrs.end());
  EXPECT_EQ(std::find(allAddrs.begin(), allAddrs.end(), s.notAfterCall), allAddrs.end());
}

TEST(StackTracer, WithoutDebugInformationStillKeepsAnchorsAndDecodedCalls) {
  Scenario s(false);
  TraceCaches caches;
  const TraceResult r = StackTrace(s.process, caches, ExceptionRequest(s));
  ASSERT_TRUE(r.failedPhase.empty()) << r.text;
  // Nothing links into the outermost frame, so it is shown at its return address.
  EXPECT_EQ(Addrs(r), (std::vector<uint32_t>{s.fault, s.siteC, s.siteB, s.siteA, s.siteMain, s.retStart}));
  // Without names only the exception's own line is written.
  EXPECT_EQ(r.text, "004010b2 app.exe  ");
}

TEST(StackTracer, PreparedListGivesTheSameChainAsTheFullScan) {
  Scenario s(true);
  const auto prepared = PrepareStack(s.process, s.ebp, Scenario::kStackTop, s.sp, true, s.fault);
  // The anchors are the slots of the frame chain: the returns into B, Main and Start.
  std::vector<uint32_t> anchors;
  for (const auto &item : prepared)
    if (item.dontKill)
      anchors.push_back(item.afterInstr);
  EXPECT_EQ(anchors, (std::vector<uint32_t>{s.retStart, s.retMain, s.retB}));
  TraceCaches caches;
  TraceRequest q = ExceptionRequest(s);
  q.preparedStack = &prepared;
  const TraceResult r = StackTrace(s.process, caches, q);
  EXPECT_EQ(Addrs(r), (std::vector<uint32_t>{s.fault, s.siteC, s.siteB, s.siteA, s.siteMain, s.siteStart}));
  // A list whose making failed (empty) does not hide the stack: it is scanned instead.
  const std::vector<PreStackItem> failed;
  q.preparedStack = &failed;
  EXPECT_EQ(Addrs(StackTrace(s.process, caches, q)), Addrs(r));
}

TEST(StackTracer, TheExceptionAddressOnTheStackEndsTheCollection) {
  Scenario s(true, /*withExceptionCopy=*/true);
  TraceCaches caches;
  const TraceResult r = StackTrace(s.process, caches, ExceptionRequest(s));
  EXPECT_EQ(Addrs(r), (std::vector<uint32_t>{s.fault, s.siteC, s.siteB, s.siteA, s.siteMain, s.siteStart}));
  // The same stack with the copy, prepared: the list ends above it.
  const auto prepared = PrepareStack(s.process, s.ebp, Scenario::kStackTop, s.sp, true, s.fault);
  ASSERT_FALSE(prepared.empty());
  EXPECT_EQ(prepared.back().afterInstr, s.retC);
}

TEST(StackTracer, CreatorIsTheLastLineAndIsAlwaysWritten) {
  Scenario s(true);
  TraceCaches caches;
  TraceRequest q = ExceptionRequest(s);
  q.creator = s.retMainJunk1;
  q.hideUglyItems = true;
  const TraceResult r = StackTrace(s.process, caches, q);
  ASSERT_FALSE(r.items.empty());
  EXPECT_TRUE(r.items.back().IsCreator);
  EXPECT_EQ(r.items.back().Addr, s.siteMainJunk1);
  EXPECT_EQ(r.items.back().FunctionName, "Main");
  EXPECT_EQ(Addrs(r).size(), 7u);
  EXPECT_NE(r.text.find("app.exe App 22 Main"), std::string::npos) << r.text;
}

TEST(StackTracer, ChecksumOfANamelessTraceIsBuiltFromRawAddresses) {
  Scenario s(false);
  TraceCaches caches;
  TraceRequest q = ExceptionRequest(s);
  q.creator = s.retMainJunk1;
  const TraceResult r = StackTrace(s.process, caches, q);
  // Two lines are written: the exception address and the creator (no names, no function).
  ASSERT_EQ(std::count(r.text.begin(), r.text.end(), '\n'), 1) << r.text;
  EXPECT_EQ(r.checksum.firstLine, s.fault);
  const uint8_t bytes[4] = {uint8_t(s.retMainJunk1), uint8_t(s.retMainJunk1 >> 8),
                            uint8_t(s.retMainJunk1 >> 16), uint8_t(s.retMainJunk1 >> 24)};
  // The table step without inversions, through the standard CRC-32 with its inversions undone.
  EXPECT_EQ(r.checksum.chain, ~debuginfo::Crc32(bytes, 4, ~s.fault));
  EXPECT_FALSE(r.checksum.hasLineInfo);
}

// Main -> P -> Q -> P -> Q -> P -> Q -> R, R faults. All with frame pointers.
struct Recursion {
  static constexpr uint32_t kBase = 0x00400000, kStackTop = 0x00101000;
  SyntheticProcess process;
  uint32_t mainFn = 0, p = 0, q = 0, r = 0;
  uint32_t siteMain = 0, retMain = 0, siteP = 0, retP = 0, siteQ = 0, retQ = 0, siteQR = 0, retQR = 0, fault = 0;
  uint32_t ebp = 0, sp = 0;

  explicit Recursion(int cycles) {
    process.AddImage("rec.exe", kBase, 0x1000, true);
    process.AddPlain(0x00100000, 0x1000);
    mainFn = kBase + 0x1000;
    p = mainFn + 0x20;
    q = mainFn + 0x40;
    r = mainFn + 0x60;
    Asm m(process, mainFn);
    m.PushEbp();
    m.MovEbpEsp();
    retMain = m.CallRel(p, &siteMain);
    m.PopEbp();
    m.Ret();
    Asm fp(process, p);
    fp.PushEbp();
    fp.MovEbpEsp();
    retP = fp.CallRel(q, &siteP);
    fp.PopEbp();
    fp.Ret();
    Asm fq(process, q);
    fq.PushEbp();
    fq.MovEbpEsp();
    retQ = fq.CallRel(p, &siteQ);
    retQR = fq.CallRel(r, &siteQR);
    fq.PopEbp();
    fq.Ret();
    Asm fr(process, r);
    fr.XorEaxEax();
    fault = fr.LoadThroughEax();
    fr.Ret();
    TMapFile &model = process.DebugInfo(kBase);
    AddFunction(model, "Rec", "Main", mainFn, p, {{mainFn, 1}});
    AddFunction(model, "Rec", "P", p, q, {{p, 10}, {siteP, 11}});
    AddFunction(model, "Rec", "Q", q, r, {{q, 20}, {siteQ, 21}, {siteQR, 22}});
    AddFunction(model, "Rec", "R", r, r + 0x10, {{r, 30}, {fault, 31}});
    Seal(model);

    StackWriter st(process, kStackTop);
    st.Push(0);
    uint32_t frame = st.Push(0); // Main's frame
    st.Push(retMain);
    frame = st.Push(frame);      // P
    for (int i = 0; i < cycles; ++i) {
      st.Push(retP);
      frame = st.Push(frame);    // Q
      if (i + 1 < cycles) {
        st.Push(retQ);
        frame = st.Push(frame);  // P
      }
    }
    st.Push(retQR);
    ebp = frame;
    sp = st.Sp();
  }
};

TEST(StackTracer, RepeatedRecursionFoldsIntoOneOccurrence) {
  // P->Q->P->Q->P->Q: the after addresses retP, retQ, retP, retQ, retP fold to retP, retQ, retP.
  Recursion rec(3);
  TraceCaches caches;
  TraceRequest q;
  q.currentAddr = rec.fault;
  q.isException = q.extException = true;
  q.stackBottom = rec.sp;
  q.stackTop = Recursion::kStackTop;
  q.ebp = rec.ebp;
  const TraceResult r = StackTrace(rec.process, caches, q);
  ASSERT_TRUE(r.failedPhase.empty()) << r.text;
  EXPECT_EQ(Addrs(r), (std::vector<uint32_t>{rec.fault, rec.siteQR, rec.siteP, rec.siteQ, rec.siteP, rec.siteMain}));

  // Two cycles have nothing to fold: the pattern needs the same frames below both copies.
  Recursion twice(2);
  TraceCaches caches2;
  q.currentAddr = twice.fault;
  q.stackBottom = twice.sp;
  q.ebp = twice.ebp;
  const TraceResult r2 = StackTrace(twice.process, caches2, q);
  EXPECT_EQ(Addrs(r2), (std::vector<uint32_t>{twice.fault, twice.siteQR, twice.siteP, twice.siteQ, twice.siteP, twice.siteMain}));
}

TEST(StackTracer, CodeOutsideAnyModuleIsTracedWithoutNames) {
  // The same program copied into memory that belongs to no module (generated code).
  Scenario s(false);
  SyntheticProcess heap;
  heap.AddPlain(0x00400000, 0x4000);
  heap.AddPlain(Scenario::kStackBase, Scenario::kStackTop - Scenario::kStackBase);
  std::memcpy(heap.At(0x00400000, 0x4000), s.process.At(0x00400000, 0x4000), 0x4000);
  std::memcpy(heap.At(Scenario::kStackBase, 0x1000), s.process.At(Scenario::kStackBase, 0x1000), 0x1000);
  TraceCaches caches;
  const TraceResult r = StackTrace(heap, caches, ExceptionRequest(s));
  ASSERT_TRUE(r.failedPhase.empty()) << r.text;
  EXPECT_EQ(Addrs(r), (std::vector<uint32_t>{s.fault, s.siteC, s.siteB, s.siteA, s.siteMain, s.retStart}));
  for (const auto &item : r.items)
    EXPECT_EQ(item.ModuleName, "???");
  EXPECT_EQ(r.text, "004010b2 ???  ");
  EXPECT_TRUE(caches.Modules().empty());
}

TEST(StackTracer, UnreadableStackGivesAnEmptyResult) {
  Scenario s(true);
  TraceCaches caches;
  TraceRequest q = ExceptionRequest(s);
  q.stackBottom = 0x00700000; // nothing mapped there
  q.stackTop = 0x00701000;
  TraceResult r = StackTrace(s.process, caches, q);
  EXPECT_TRUE(r.text.empty());
  EXPECT_TRUE(r.items.empty());
  EXPECT_TRUE(r.failedPhase.empty());
  q.stackBottom = q.stackTop = Scenario::kStackTop; // empty range
  r = StackTrace(s.process, caches, q);
  EXPECT_TRUE(r.text.empty());
}

TEST(StackTracer, UnreadableExceptionAddressStillGivesATopLine) {
  Scenario s(true);
  TraceCaches caches;
  TraceRequest q = ExceptionRequest(s);
  q.currentAddr = 0x00000010; // a jump to a null function pointer
  const TraceResult r = StackTrace(s.process, caches, q);
  ASSERT_FALSE(r.items.empty());
  EXPECT_TRUE(r.items.front().IsTop);
  EXPECT_EQ(r.items.front().Addr, 0x10u);
  EXPECT_EQ(r.items.front().ModuleName, "???");
  EXPECT_EQ(r.text.substr(0, 13), "00000010 ??? ");
}

class ThrowingProgress : public ITraceProgress {
public:
  explicit ThrowingProgress(int from) : from_(from) {}
  void SetProgress(int perMille) override {
    if (perMille >= from_)
      throw std::runtime_error("progress window went away");
  }

private:
  int from_;
};

TEST(StackTracer, AnExceptionInsideAPhaseNamesThePhaseAndTheOriginalLocation) {
  Scenario s(true);
  TraceCaches caches;
  TraceRequest q = ExceptionRequest(s);
  s.process.onQuery = [](uint32_t) { throw std::runtime_error("query failed"); };
  TraceResult r = StackTrace(s.process, caches, q);
  EXPECT_EQ(r.failedPhase, "CollectPossibleStackItems");
  EXPECT_EQ(r.text.substr(0, r.text.find("\r\n")), ">> internal error in CollectPossibleStackItems");
  EXPECT_NE(r.text.find("\r\n>> original exception location: \r\n004010b2"), std::string::npos) << r.text;
  s.process.onQuery = nullptr;

  ThrowingProgress progress(26); // first reached by the deep checks
  q.progress = &progress;
  r = StackTrace(s.process, caches, q);
  EXPECT_EQ(r.failedPhase, "InDeepChecks");
  // The location line uses the module's debug information.
  EXPECT_NE(r.text.find("004010b2 app.exe App 61 D"), std::string::npos) << r.text;

  // Not a trace of the exception's thread: no location.
  q.isException = false;
  r = StackTrace(s.process, caches, q);
  EXPECT_EQ(r.text, ">> internal error in InDeepChecks");
}

TEST(StackTracer, LocationLineOfAnAddress) {
  Scenario s(true);
  TraceCaches caches;
  // In C: line 52 of the function starting at line 50.
  EXPECT_EQ(LocationLine(caches, s.process, s.siteC - 5, true, true), "00401093 +3 app.exe App 52 +2 C");
  EXPECT_EQ(LocationLine(caches, s.process, s.siteC - 5, false, false), "00401093 app.exe App 52 C");
  // Outside any module, or in a module without debug information.
  EXPECT_EQ(LocationLine(caches, s.process, 0x00100010, true, false), "00100010 +0 ???");
  Scenario bare(false);
  TraceCaches other;
  EXPECT_EQ(LocationLine(other, bare.process, bare.fault, false, false), "004010b2 ???");
}

TEST(StackTracer, AbortFlagStopsTheTrace) {
  Scenario s(true);
  TraceCaches caches;
  TraceRequest q = ExceptionRequest(s);
  std::atomic<bool> abort{true};
  q.abort = &abort;
  const TraceResult r = StackTrace(s.process, caches, q);
  EXPECT_TRUE(r.aborted);
  EXPECT_TRUE(r.text.empty());
}

TEST(StackTracer, CachesAreSharedBetweenTraces) {
  Scenario s(true);
  TraceCaches caches;
  const TraceResult first = StackTrace(s.process, caches, ExceptionRequest(s));
  const size_t functions = caches.Functions().size();
  const uint64_t readsBefore = s.process.reads;
  const TraceResult second = StackTrace(s.process, caches, ExceptionRequest(s));
  EXPECT_EQ(Addrs(first), Addrs(second));
  EXPECT_EQ(first.text, second.text);
  EXPECT_EQ(caches.Functions().size(), functions); // nothing analysed twice
  EXPECT_EQ(caches.Modules().size(), 1u);
  EXPECT_GT(s.process.reads, readsBefore);
}

} // namespace
} // namespace tidewell::stacktrace::test
