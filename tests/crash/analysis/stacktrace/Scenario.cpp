#include "tests/crash/analysis/stacktrace/Scenario.h"

namespace tidewell::stacktrace::test {

Scenario::Scenario(bool withDebugInfo, bool withExceptionCopy) {
  process.AddImage("app.exe", kBase, 0x2000, true);
  process.AddPlain(kStackBase, kStackTop - kStackBase);
  cell = kBase + 0x3800; // in the data section

  start = kBase + 0x1000;
  mainFn = start + 0x20;
  a = start + 0x50;
  b = start + 0x70;
  c = start + 0x90;
  d = start + 0xB0;
  junk1 = start + 0xC0;
  junk2 = start + 0xE0;

  Asm s(process, start);
  retStart = s.CallRel(mainFn, &siteStart);
  s.Ret();

  Asm m(process, mainFn);
  m.PushEbp();
  m.MovEbpEsp();
  m.SubEsp(0x10);
  retMainJunk1 = m.CallRel(junk1, &siteMainJunk1);
  retMain = m.CallRel(a, &siteMain);
  m.Leave();
  m.Ret();

  Asm fa(process, a);
  fa.PushEbp();
  fa.MovEbpEsp();
  notAfterCall = fa.Here();
  fa.Nop();
  retA = fa.CallRel(b, &siteA);
  fa.PopEbp();
  fa.Ret();

  Asm fb(process, b);
  fb.SubEsp(8);
  retBJunk = fb.CallRel(junk2, &siteBJunk);
  retB = fb.CallCell(cell, &siteB);
  fb.AddEsp(8);
  fb.Ret();
  process.Put32(cell, c);

  Asm fc(process, c);
  fc.PushEbp();
  fc.MovEbpEsp();
  fc.MovEaxImm(d);
  retC = fc.CallEax(&siteC);
  fc.PopEbp();
  fc.Ret();

  Asm fd(process, d);
  fd.XorEaxEax();
  fault = fd.LoadThroughEax();
  fd.Ret();

  Asm j1(process, junk1);
  j1.PushEbp();
  j1.MovEbpEsp();
  retJunk1 = j1.CallRel(d, &siteJunk1);
  j1.PopEbp();
  j1.Ret();

  Asm j2(process, junk2);
  retJunk2 = j2.CallRel(d, &siteJunk2);
  j2.Ret();

  if (withDebugInfo) {
    TMapFile &model = process.DebugInfo(kBase);
    AddFunction(model, "App", "Start", start, start + 0x20, {{start, 10}});
    AddFunction(model, "App", "Main", mainFn, mainFn + 0x30,
                {{mainFn, 20}, {siteMainJunk1, 22}, {siteMain, 23}, {siteMain + 5, 24}});
    AddFunction(model, "App", "A", a, a + 0x20, {{a, 30}, {siteA, 32}, {siteA + 5, 33}});
    AddFunction(model, "App", "B", b, b + 0x20, {{b, 40}, {siteBJunk, 41}, {siteB, 42}, {siteB + 6, 43}});
    AddFunction(model, "App", "C", c, c + 0x20, {{c, 50}, {siteC - 5, 52}, {siteC + 2, 53}});
    AddFunction(model, "App", "D", d, d + 0x10, {{d, 60}, {fault, 61}, {fault + 2, 62}});
    AddFunction(model, "App", "Junk1", junk1, junk1 + 0x20, {{junk1, 70}});
    AddFunction(model, "App", "Junk2", junk2, junk2 + 0x20, {{junk2, 80}});
    Seal(model);
  }
  WriteStack(withExceptionCopy);
}

void Scenario::WriteStack(bool withExceptionCopy) {
  StackWriter st(process, kStackTop);
  st.Reserve(2);                       // the thread's start parameters
  st.Push(retStart);                   // Start -> Main
  const uint32_t e1 = st.Push(0);      // Main: push ebp
  st.Push(0);                          // Main's locals, one of them stale
  st.Push(retJunk1);
  st.Push(0x12345678);
  st.Push(0);
  st.Push(retMain);                    // Main -> A
  const uint32_t e2 = st.Push(e1);     // A: push ebp
  st.Push(retA);                       // A -> B
  st.Push(notAfterCall);               // B's locals: a code address and a stale return address
  st.Push(retBJunk);
  st.Push(retB);                       // B -> C through the cell
  const uint32_t e3 = st.Push(e2);     // C: push ebp
  slotOfRetC = st.Push(retC);          // C -> D through eax
  if (withExceptionCopy) {
    // What the system's dispatcher leaves below the faulting frame: the exception address,
    // then return addresses of its own frames.
    st.Push(fault);
    st.Push(retJunk2);
    st.Push(retJunk1);
  }
  ebp = e3;
  sp = st.Sp();
}

} // namespace tidewell::stacktrace::test
