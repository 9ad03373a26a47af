// Frames of run-time and system routines: the raise call at the exception address, the throw
// routines dropped on abnormal termination, the dispatcher frames dropped after a prepared list,
// names from a library's exports, and a chain deeper than the score's bonus bits.
#include <gtest/gtest.h>

#include <cstring>

#include "crash/analysis/stacktrace/StackTracer.h"
#include "tests/crash/analysis/stacktrace/DeepChain.h"

namespace tidewell::stacktrace::test {
namespace {

std::vector<std::string> Names(const TraceResult &r) {
  std::vector<std::string> out;
  for (const auto &item : r.items)
    out.push_back(item.FunctionName);
  return out;
}

// app.exe (with debug information): Main -> Thrower -> rt.dll!__cxa_throw -> rt.dll!TermHandler,
// which faults. rt.dll has only exports.
struct Throwing {
  static constexpr uint32_t kExe = 0x00400000, kDll = 0x10000000, kStackTop = 0x00101000;
  SyntheticProcess process;
  uint32_t mainFn = 0, thrower = 0, cxaThrow = 0, term = 0;
  uint32_t siteMain = 0, retMain = 0, siteThrower = 0, retThrower = 0, siteT = 0, retT = 0, fault = 0;
  uint32_t ebp = 0, sp = 0;

  Throwing() {
    process.AddImage("rt.dll", kDll, 0x1000, false, {{0x1000, "__cxa_throw"}, {0x1020, "TermHandler"}});
    process.AddImage("app.exe", kExe, 0x1000, true);
    process.AddPlain(0x00100000, 0x1000);
    cxaThrow = kDll + 0x1000;
    term = kDll + 0x1020;
    mainFn = kExe + 0x1000;
    thrower = kExe + 0x1020;
    Asm t(process, cxaThrow);
    t.PushEbp();
    t.MovEbpEsp();
    retT = t.CallRel(term, &siteT);
    t.PopEbp();
    t.Ret();
    Asm h(process, term);
    h.PushEbp();
    h.MovEbpEsp();
    h.XorEaxEax();
    fault = h.LoadThroughEax();
    h.PopEbp();
    h.Ret();
    Asm m(process, mainFn);
    m.PushEbp();
    m.MovEbpEsp();
    retMain = m.CallRel(thrower, &siteMain);
    m.PopEbp();
    m.Ret();
    Asm th(process, thrower);
    th.PushEbp();
    th.MovEbpEsp();
    retThrower = th.CallRel(cxaThrow, &siteThrower);
    th.PopEbp();
    th.Ret();
    TMapFile &model = process.DebugInfo(kExe);
    AddFunction(model, "App", "Main", mainFn, thrower, {{mainFn, 5}, {siteMain, 6}});
    AddFunction(model, "App", "Thrower", thrower, thrower + 0x20, {{thrower, 10}, {siteThrower, 12}});
    Seal(model);

    StackWriter st(process, kStackTop);
    st.Push(0);
    const uint32_t e1 = st.Push(0);
    st.Push(retMain);
    const uint32_t e2 = st.Push(e1);
    st.Push(retThrower);
    const uint32_t e3 = st.Push(e2);
    st.Push(retT);
    ebp = st.Push(e3);
    sp = st.Sp();
  }

  TraceRequest Request(uint32_t current) const {
    TraceRequest q;
    q.currentAddr = current;
    q.isException = true;
    q.stackBottom = sp;
    q.stackTop = kStackTop;
    q.ebp = ebp;
    return q;
  }
};

TEST(RuntimeFrames, LibraryFramesAreNamedFromItsExports) {
  Throwing s;
  TraceCaches caches;
  const TraceResult r = StackTrace(s.process, caches, s.Request(s.fault));
  EXPECT_EQ(Names(r), (std::vector<std::string>{"TermHandler", "__cxa_throw", "Thrower", "Main"}));
  ASSERT_EQ(r.items.size(), 4u);
  EXPECT_EQ(r.items[1].Addr, s.siteT);
  EXPECT_EQ(r.items[1].ModuleName, "rt.dll");
  EXPECT_EQ(r.items[1].FunctionAddr, s.cxaThrow);
  EXPECT_EQ(r.items[1].UnitName, "");
}

TEST(RuntimeFrames, ARaisedExceptionIsShownAtTheRaiseCall) {
  // The exception address of a raised exception is the return address of the raise call.
  Throwing s;
  TraceCaches caches;
  const TraceResult r = StackTrace(s.process, caches, s.Request(s.retThrower));
  EXPECT_EQ(Names(r), (std::vector<std::string>{"Thrower", "Main"}));
  ASSERT_FALSE(r.items.empty());
  EXPECT_TRUE(r.items[0].IsTop);
  EXPECT_EQ(r.items[0].Addr, s.siteThrower);
  EXPECT_EQ(r.exceptAddr, s.siteThrower);
  EXPECT_EQ(r.items[0].Line, 12);
}

TEST(RuntimeFrames, AbnormalTerminationDropsTheThrowRoutineAndEverythingInside) {
  Throwing s;
  TraceCaches caches;
  TraceRequest q = s.Request(s.fault);
  q.bcbTermination = true;
  const TraceResult r = StackTrace(s.process, caches, q);
  EXPECT_EQ(Names(r), (std::vector<std::string>{"Thrower", "Main"}));
  // The exception address is still the innermost frame's.
  EXPECT_EQ(r.exceptAddr, s.fault);
}

// app.exe: Main -> Faulter, which faults; ntdll.dll: KiUserExceptionDispatcher ->
// __ExceptionHandler -> Handler, the frames of the dispatch that were on the stack when the list
// was prepared.
TEST(RuntimeFrames, DispatcherFramesAfterAPreparedListAreDropped) {
  constexpr uint32_t kExe = 0x00400000, kDll = 0x7C900000;
  SyntheticProcess p;
  p.AddImage("ntdll.dll", kDll, 0x1000, false,
             {{0x1000, "KiUserExceptionDispatcher"}, {0x1020, "__ExceptionHandler"}, {0x1040, "Handler"}, {0x1060, "Helper"}});
  p.AddImage("app.exe", kExe, 0x1000, true);
  p.AddPlain(0x00100000, 0x1000);
  const uint32_t ki = kDll + 0x1000, disp = kDll + 0x1020, handler = kDll + 0x1040, helper = kDll + 0x1060;
  Asm a(p, ki);
  a.PushEbp();
  a.MovEbpEsp();
  const uint32_t retKi = a.CallRel(disp);
  a.Ret();
  Asm b(p, disp);
  b.PushEbp();
  b.MovEbpEsp();
  const uint32_t retDisp = b.CallRel(handler);
  b.Ret();
  Asm c(p, handler);
  c.PushEbp();
  c.MovEbpEsp();
  const uint32_t retHandler = c.CallRel(helper);
  c.Ret();
  Asm d(p, helper);
  d.Ret();
  const uint32_t mainFn = kExe + 0x1000, faulter = kExe + 0x1020;
  Asm m(p, mainFn);
  uint32_t siteMain = 0;
  const uint32_t retMain = m.CallRel(faulter, &siteMain);
  m.Ret();
  Asm f(p, faulter);
  f.XorEaxEax();
  const uint32_t fault = f.LoadThroughEax();
  f.Ret();
  TMapFile &model = p.DebugInfo(kExe);
  AddFunction(model, "App", "Main", mainFn, faulter, {{mainFn, 1}});
  AddFunction(model, "App", "Faulter", faulter, faulter + 0x10, {{faulter, 5}, {fault, 6}});
  Seal(model);
  StackWriter st(p, 0x00101000);
  st.Push(retMain);
  st.Push(retKi);
  st.Push(retDisp);
  st.Push(retHandler);

  const std::vector<PreStackItem> prepared{{true, retMain}, {true, retKi}, {true, retDisp}, {true, retHandler}};
  TraceRequest q;
  q.currentAddr = fault;
  q.isException = q.extException = true;
  q.stackBottom = st.Sp();
  q.stackTop = 0x00101000;
  q.preparedStack = &prepared;
  TraceCaches caches;
  TraceResult r = StackTrace(p, caches, q);
  EXPECT_EQ(Names(r), (std::vector<std::string>{"Faulter", "KiUserExceptionDispatcher", "Main"}));
  EXPECT_EQ(r.items.back().Addr, siteMain);

  // Scanned without a frame pointer, nothing anchors the dispatcher's frames and no call links
  // them to the faulting function, so the chain selection drops them.
  q.preparedStack = nullptr;
  r = StackTrace(p, caches, q);
  EXPECT_EQ(Names(r), (std::vector<std::string>{"Faulter", "Main"}));
}

// Main -> Guarded, whose catch handler (a landing pad that only the unwinder enters) calls
// Report, which faults. Guarded keeps no frame pointer.
TEST(RuntimeFrames, CallsFromLandingPadsAreFoundThroughTheUnwindTables) {
  constexpr uint32_t kExe = 0x00400000;
  auto build = [](SyntheticProcess &p, bool withTables, uint32_t &siteMain, uint32_t &sitePad,
                  uint32_t &fault, uint32_t &sp) {
    p.AddImage("app.exe", kExe, 0x1000, true);
    p.AddPlain(0x00100000, 0x1000);
    const uint32_t mainFn = kExe + 0x1000, guarded = kExe + 0x1040, report = kExe + 0x1080, work = kExe + 0x10A0;
    Asm m(p, mainFn);
    const uint32_t retMain = m.CallRel(guarded, &siteMain);
    m.Ret();
    Asm g(p, guarded);
    g.CallRel(work);
    g.Ret();
    Asm pad(p, guarded + 0x20);
    const uint32_t retPad = pad.CallRel(report, &sitePad);
    pad.Ret();
    Asm r(p, report);
    r.XorEaxEax();
    fault = r.LoadThroughEax();
    r.Ret();
    Asm w(p, work);
    w.Ret();
    // .eh_frame in the data section: one CIE, one FDE for Guarded with an exception table whose
    // only call site [0, 5) lands at +0x20.
    const uint32_t eh = kExe + 0x2000, lsda = kExe + 0x2100;
    std::vector<uint8_t> bytes = {0x0F, 0, 0, 0, 0, 0, 0, 0, 1, 'z', 'L', 'R', 0, 1, 0x7C, 8, 2, 0x00, 0x00};
    const std::vector<uint8_t> fde = {0x15, 0, 0, 0, 0x17, 0, 0, 0,
                                      uint8_t(guarded), uint8_t(guarded >> 8), uint8_t(guarded >> 16), uint8_t(guarded >> 24),
                                      0x40, 0, 0, 0, 4,
                                      uint8_t(lsda), uint8_t(lsda >> 8), uint8_t(lsda >> 16), uint8_t(lsda >> 24),
                                      0, 0, 0, 0};
    bytes.insert(bytes.end(), fde.begin(), fde.end());
    std::memcpy(p.At(eh, uint32_t(bytes.size())), bytes.data(), bytes.size());
    const std::vector<uint8_t> table = {0xFF, 0xFF, 0x01, 4, 0x00, 0x05, 0x20, 0x00};
    std::memcpy(p.At(lsda, uint32_t(table.size())), table.data(), table.size());
    if (withTables)
      p.SetUnwindTables(kExe, eh, eh + uint32_t(bytes.size()));
    TMapFile &model = p.DebugInfo(kExe);
    AddFunction(model, "App", "Main", mainFn, guarded, {{mainFn, 1}});
    AddFunction(model, "App", "Guarded", guarded, report, {{guarded, 10}, {guarded + 0x20, 14}});
    AddFunction(model, "App", "Report", report, work, {{report, 20}, {fault, 21}});
    AddFunction(model, "App", "Work", work, work + 0x10, {{work, 30}});
    Seal(model);
    StackWriter st(p, 0x00101000);
    st.Push(0);
    st.Push(retMain);
    st.Push(retPad);
    sp = st.Sp();
  };
  for (bool withTables : {true, false}) {
    SyntheticProcess p;
    uint32_t siteMain = 0, sitePad = 0, fault = 0, sp = 0;
    build(p, withTables, siteMain, sitePad, fault, sp);
    TraceRequest q;
    q.currentAddr = fault;
    q.isException = q.extException = true;
    q.stackBottom = sp;
    q.stackTop = 0x00101000;
    TraceCaches caches;
    const TraceResult r = StackTrace(p, caches, q);
    std::vector<uint32_t> addrs;
    for (const auto &item : r.items)
      addrs.push_back(item.Addr);
    if (withTables) {
      EXPECT_EQ(addrs, (std::vector<uint32_t>{fault, sitePad, siteMain}));
      EXPECT_EQ(Names(r), (std::vector<std::string>{"Report", "Guarded", "Main"}));
    } else {
      // Without the tables the call in the handler is not part of Guarded: the frame is lost.
      EXPECT_EQ(addrs, (std::vector<uint32_t>{fault}));
    }
  }
}

TEST(RuntimeFrames, DeepChainWithoutFramePointersIsTracedWhole) {
  // 2000 approved links with line information carry more bonus than the bits below the score's
  // flags can hold; the chain must still win over the stale values.
  DeepChain chain(2000, true);
  TraceCaches caches;
  TraceRequest q;
  q.currentAddr = chain.fault;
  q.isException = q.extException = true;
  q.stackBottom = chain.sp;
  q.stackTop = chain.stackTop;
  q.ebp = chain.ebp;
  const TraceResult r = StackTrace(chain.process, caches, q);
  ASSERT_TRUE(r.failedPhase.empty()) << r.text;
  std::vector<uint32_t> addrs;
  for (const auto &item : r.items)
    addrs.push_back(item.Addr);
  EXPECT_EQ(addrs, chain.sites);
}

} // namespace
} // namespace tidewell::stacktrace::test
