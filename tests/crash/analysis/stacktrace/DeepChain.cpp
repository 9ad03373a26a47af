#include "tests/crash/analysis/stacktrace/DeepChain.h"

namespace tidewell::stacktrace::test {

DeepChain::DeepChain(int depth, bool withDebugInfo, bool withStaleValues) {
  constexpr uint32_t kSize = 16; // bytes per function
  const uint32_t code = kBase + 0x1000;
  process.AddImage("deep.exe", kBase, uint32_t(depth + 2) * kSize, true);
  const uint32_t stackSize = (uint32_t(depth) * 8 + 0x100 + 0xFFF) & ~0xFFFu;
  process.AddPlain(kStackBase, stackSize);
  stackTop = kStackBase + stackSize;
  TMapFile *model = withDebugInfo ? &process.DebugInfo(kBase) : nullptr;

  // Outer: push ebp; mov ebp, esp; call F1; pop ebp; ret
  Asm outer(process, code);
  outer.PushEbp();
  outer.MovEbpEsp();
  uint32_t site = 0;
  std::vector<uint32_t> rets, staleRets;
  std::vector<uint32_t> outwardSites;
  rets.push_back(outer.CallRel(code + kSize, &site));
  outwardSites.push_back(site);
  outer.PopEbp();
  outer.Ret();
  if (model)
    AddFunction(*model, "Deep", "Outer", code, code + kSize, {{code, 1}, {site, 2}});
  // Fi: call F(i+1); ret; call F(i+1) (never reached; its return address is left as stale)
  for (int i = 1; i <= depth; ++i) {
    const uint32_t f = code + uint32_t(i) * kSize;
    Asm a(process, f);
    if (i == depth) {
      a.XorEaxEax();
      fault = a.LoadThroughEax();
      a.Ret();
      if (model)
        AddFunction(*model, "Deep", "F" + std::to_string(i), f, f + kSize, {{f, 10 * i}, {fault, 10 * i + 1}});
      break;
    }
    rets.push_back(a.CallRel(f + kSize, &site));
    outwardSites.push_back(site);
    a.Ret();
    uint32_t staleSite = 0;
    staleRets.push_back(a.CallRel(f + kSize, &staleSite));
    if (model)
      AddFunction(*model, "Deep", "F" + std::to_string(i), f, f + kSize, {{f, 10 * i}, {site, 10 * i + 1}});
  }
  if (model)
    Seal(*model);

  StackWriter st(process, stackTop);
  st.Push(0);
  const uint32_t frame = st.Push(0); // Outer's saved frame pointer
  for (size_t i = 0; i < rets.size(); ++i) {
    st.Push(rets[i]);
    if (withStaleValues && i + 1 < rets.size() && i % 3 == 0)
      st.Push(staleRets[i + 1 < staleRets.size() ? i + 1 : i]);
  }
  ebp = frame;
  sp = st.Sp();
  sites.push_back(fault);
  for (auto it = outwardSites.rbegin(); it != outwardSites.rend(); ++it)
    sites.push_back(*it);
}

} // namespace tidewell::stacktrace::test
