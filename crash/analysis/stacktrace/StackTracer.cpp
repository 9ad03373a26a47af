#include "crash/analysis/stacktrace/StackTracer.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <unordered_map>

#include "crash/analysis/stacktrace/LocationLine.h"

namespace tidewell::stacktrace {

namespace {

constexpr int64_t kNotReached = int64_t(1) << 60; // the start value of every score
constexpr uint64_t kReachesTarget = uint64_t(1) << 62;
constexpr uint64_t kKnownOnly = uint64_t(1) << 61;
constexpr uint64_t kBonusMask = (uint64_t(1) << 60) - 1;

struct StackLink {
  int32_t Link = -1;     // linked candidate, -1 for none yet
  uint64_t CodeAddr = 0; // the call that produced the return address
  bool HasTarget = false;
  uint64_t Target = 0;
  int32_t Func = -1;     // function that holds the call, -1 when not known
  int64_t Quality = 0;   // cached score, 0 = not yet computed
};

constexpr int kCallers = 1; // list "true": links to candidates further out
constexpr int kCallees = 0; // list "false": links to candidates further in

struct FinalOutput {
  uint64_t Addr = 0;
  std::string ModuleName, UnitName;
  int32_t Line = 0;
  std::string PublicName;
  uint64_t PublicAddr = 0;
  int32_t PublicLine = 0; // line of the function's first address
};

struct Candidate {
  uint64_t AfterInstr = 0;
  uint64_t Lookup = 0; // top item: the address passed to the raise-call search, else 0
  bool DontKill = false;
  bool TopItem = false;
  bool Creator = false;
  int32_t Module = -1;
  std::vector<StackLink> Links[2];
  int32_t Best[2] = {-1, -1};
  bool Invalid = false;
  bool Exact = false; // x86-64: a frame the unwinder found (the deep check keeps it)
};

struct CallInfo {
  uint64_t code = 0;
  bool hasTarget = false;
  uint64_t target = 0;
  uint64_t after = 0; // address after the call (the raise-call search can move it)
};

// An exception raised by a phase; carries nothing but makes the phase's name the error.
struct Aborted {};

class Tracer {
public:
  Tracer(const ITraceTarget &target, TraceCaches &caches, const TraceRequest &request,
         const RuntimeNames &names)
      : target_(target), mem_(target.Memory()), caches_(caches), req_(request), names_(names) {}

  TraceResult Run();

private:
  // --- phases ---
  void CollectPossibleStackItems();
  void RemoveRecursiveAreas(bool fullInvalidation);
  void InDeepChecks();
  void RealizeOptimalLinkChains();
  void FillFinalOutput();
  void ComposeResult();

  // --- collection ---
  bool Offer(uint64_t value, int kind, uint64_t slot, bool preparedAnchor);
  bool FindCall(int32_t function, uint64_t after, bool top, uint64_t lookup, CallInfo &call);
  bool DecodeCallBackwards(uint64_t after, CallInfo &call, uint64_t startFrom);
  uint64_t NearestExportOrEntry(const ModuleEntry &m, uint64_t after, std::string &name) const;

  // --- links ---
  void AddLink(int32_t candidate, int list, const StackLink &link);
  void Invalidate(int32_t candidate, bool full);
  void Disprove(int32_t function);
  void FillLinks(int32_t q, bool hasTarget, uint64_t code, uint64_t target, bool approved);
  void LinkInward(int32_t q, int32_t function, bool approved);
  bool CallOfCandidate(int32_t l, CallInfo &call);
  int64_t Score(int32_t from, int32_t to, bool direct);
  int64_t WithBonus(int32_t f, int32_t b, const StackLink &link, bool direct, int64_t quality);
  void Resolve(int32_t l, int32_t h);
  int32_t LineAt(int32_t module, uint64_t address) const;

  bool Approved(int32_t f) const { return f >= 0 && caches_.Functions()[size_t(f)].approved; }
  bool AbortRequested() const { return req_.abort && req_.abort->load(); }
  bool X64() const { return req_.mode == disasm::CpuMode::X64; }
  void CollectX64(bool usePrepared);
  void Progress(int64_t perMille) {
    if (req_.progress)
      req_.progress->SetProgress(int(std::clamp<int64_t>(perMille, 0, 1000)));
  }

  const ITraceTarget &target_;
  const disasm::MemoryReader &mem_;
  TraceCaches &caches_;
  const TraceRequest &req_;
  const RuntimeNames &names_;

  std::vector<Candidate> items_;
  std::vector<uint64_t> chain_;
  bool topAddedAfterPrepared_ = false;
  std::vector<std::pair<int32_t, FinalOutput>> output_; // innermost first
  TraceResult result_;
};

enum OfferKind { kSlot, kCreator, kPrepared, kTop, kExact };

// ---------------------------------------------------------------------------------------------
// Collection

void Tracer::CollectPossibleStackItems() {
  if (!caches_.tryFinallyKnown) {
    // The helper is looked for by name in the modules met so far until it is found; our
    // toolchain has none.
    if (!names_.tryFinallyExit.empty())
      for (int32_t mi = 0; mi < int32_t(caches_.Modules().size()); ++mi) {
        const std::shared_ptr<const TMapFile> model = caches_.Module(mi).mapFile;
        if (!model)
          continue;
        for (const auto &p : model->Publics())
          if (p.Code && SameRoutine(p.Name, names_.tryFinallyExit)) {
            const int32_t f = caches_.AddFunction(target_, p.Address, p.Name, mi, false, false, names_);
            const auto &fi = caches_.Function(f).fi;
            if (fi.IsValid && fi.UnknownTargets.size() == 1) {
              caches_.tryFinallyReturn = fi.UnknownTargets[0].CodeAddr2;
              caches_.tryFinallyKnown = true;
            }
          }
      }
  }
  if (req_.creator)
    Offer(req_.creator, kCreator, 0, false);

  auto lastIsTop = [&] { return !items_.empty() && items_.back().TopItem; };
  // An empty prepared list is one whose making failed: the stack is scanned instead.
  const bool usePrepared = req_.preparedStack && !req_.preparedStack->empty();
  if (X64()) {
    CollectX64(usePrepared);
  } else if (usePrepared) {
    const auto &list = *req_.preparedStack;
    for (size_t i = 0; i < list.size(); ++i) {
      if (AbortRequested() || lastIsTop())
        break;
      Progress(int64_t(i) * 25 / int64_t(list.size()));
      if (list[i].afterInstr == caches_.tryFinallyReturn && caches_.tryFinallyReturn)
        continue;
      Offer(list[i].afterInstr, kPrepared, 0, list[i].dontKill);
    }
  } else {
    if (req_.stackTop <= UINT32_MAX && req_.ebp <= UINT32_MAX) {
      const std::vector<uint32_t> slots =
          FramePointerSlots(mem_, uint32_t(req_.ebp), uint32_t(req_.stackBottom), uint32_t(req_.stackTop));
      chain_.assign(slots.begin(), slots.end());
    }
    const uint64_t span = uint64_t(req_.stackTop) - req_.stackBottom;
    bool skip = false;
    for (uint64_t slot = uint64_t(req_.stackTop) - 4;
         slot >= req_.stackBottom && slot + 4 <= req_.stackTop; slot -= 4) {
      if (AbortRequested() || lastIsTop())
        break;
      if (!skip) {
        Progress(int64_t((uint64_t(req_.stackTop) - slot) * 25 / span));
        uint32_t value = 0;
        if (mem_.Read(slot, &value, 4) &&
            !(caches_.tryFinallyReturn && value == caches_.tryFinallyReturn))
          skip = Offer(value, kSlot, uint64_t(slot), false);
        else
          skip = false;
      } else {
        skip = false;
      }
      if (slot < 4)
        break;
    }
  }
  if (!req_.dontAddTopItem && !lastIsTop() && !AbortRequested()) {
    const size_t before = items_.size();
    const uint64_t current =
        X64() && !req_.currentAddr && req_.x64Context ? req_.x64Context->rip : req_.currentAddr;
    Offer(current, kTop, 0, false);
    if (usePrepared && items_.size() > before)
      topAddedAfterPrepared_ = true;
  }
}

// x86-64: the frames unwound from the start registers are anchors that no chain selection
// removes; where unwinding fails, the slots from that frame's stack pointer up are scanned as
// in 32-bit code and chained between the anchors. A prepared list was made the same way.
void Tracer::CollectX64(bool usePrepared) {
  std::vector<PreStackItem> made;
  const std::vector<PreStackItem> *list = req_.preparedStack;
  if (!usePrepared) {
    X64Context start;
    if (req_.x64Context) {
      start = *req_.x64Context;
    } else {
      start.rip = req_.currentAddr;
      start.gpr[kX64Rsp] = req_.stackBottom;
      start.known = kX64KnownRip | (1u << kX64Rsp);
    }
    made = PrepareStackX64(target_, start, req_.stackTop, req_.abort,
                           [this](int perMille) { Progress(perMille / 40); });
    list = &made;
  }
  for (size_t i = 0; i < list->size(); ++i) {
    if (AbortRequested())
      break;
    if (usePrepared)
      Progress(int64_t(i) * 25 / int64_t(list->size()));
    const PreStackItem &item = (*list)[i];
    Offer(item.afterInstr, item.dontKill ? kExact : (usePrepared ? kPrepared : kSlot), 0, false);
  }
}

uint64_t Tracer::NearestExportOrEntry(const ModuleEntry &m, uint64_t after, std::string &name) const {
  uint64_t best = 0;
  name.clear();
  auto it = std::lower_bound(m.exports.begin(), m.exports.end(), after,
                             [](const ExportEntry &e, uint64_t a) { return e.address < a; });
  if (it != m.exports.begin()) {
    --it;
    best = it->address;
    name = it->name;
  }
  if (m.entryPoint && m.entryPoint < after && m.entryPoint > best) {
    best = m.entryPoint;
    name.clear();
  }
  return best;
}

// Offers one value; true when it produced an anchor that is not a top item.
bool Tracer::Offer(uint64_t v, int kind, uint64_t slot, bool preparedAnchor) {
  // In x86-64 stacks the exception address is not searched for: the walk starts at it.
  const bool top = kind == kTop || (!X64() && kind != kCreator && req_.isException && req_.currentAddr &&
                                    v == req_.currentAddr);
  uint64_t lookup, after;
  bool topReadable = false;
  if (top) {
    uint8_t probe = 0;
    topReadable = v != 0 && mem_.Read(v, &probe, 1);
    lookup = v;
    after = v;
    if (topReadable) {
      const disasm::DecodedInstruction d = disasm::ParseCode(mem_, v, false, req_.mode);
      after = d.Next > v ? d.Next : v + 1;
    }
  } else {
    lookup = v - 1;
    after = v;
  }
  const bool testAsTop = top || (kind == kCreator && items_.empty());

  int32_t module = -1;
  bool accepted = false;
  const MemoryRegion region = target_.Query(lookup);
  if (region.committed && region.allocationBase != 0 && after > 7 &&
      (testAsTop || kind == kExact || CouldBeReturnAddress(mem_, v, req_.mode))) {
    if (!region.image) {
      accepted = true;
    } else {
      module = caches_.AddModule(target_, region.allocationBase, names_);
      accepted = module >= 0 &&
                 (caches_.Module(module).InCode(after) || caches_.Module(module).InData(after));
    }
  }
  if (!accepted && !top)
    return false;
  if (!accepted && region.committed && region.image)
    module = caches_.AddModule(target_, region.allocationBase, names_);

  bool anchor = false;
  if (kind == kSlot) {
    while (!chain_.empty() && chain_.back() > slot)
      chain_.pop_back();
    anchor = !chain_.empty() && chain_.back() == slot;
  } else if (kind == kPrepared) {
    anchor = preparedAnchor;
  } else if (kind == kCreator || kind == kExact) {
    anchor = true;
  }

  // Interpretation: which function made the call that returns to `after`.
  bool attempted = false, found = false;
  CallInfo call;
  int32_t function = -1;
  const uint64_t topLookup = top && !req_.extException ? lookup : 0;
  if (module >= 0 && caches_.Module(module).InCode(after)) {
    const ModuleEntry &m = caches_.Module(module);
    if (m.mapFile) {
      const std::shared_ptr<const TMapFile> model = m.mapFile;
      const TMfPublic p = FitsModel(lookup) ? model->FindPublic(lookup) : TMfPublic{};
      if (p.IsValid) {
        attempted = true;
        function = caches_.AddFunction(target_, p.Address, p.Name, module, true, false, names_);
        found = FindCall(function, after, top, topLookup, call);
        if (!found && function >= 0 && caches_.Function(function).Usable()) {
          // Calls to labels of the same public.
          const disasm::FunctionInfo fi = caches_.Function(function).fi;
          const uint64_t codeEnd = uint64_t(fi.CodeBegin) + fi.CodeLen;
          std::vector<uint64_t> tried;
          for (const auto &fc : fi.FarCalls) {
            if (fc.Target <= fi.EntryPoint || std::find(tried.begin(), tried.end(), fc.Target) != tried.end())
              continue;
            tried.push_back(fc.Target);
            if (fc.Target >= codeEnd) {
              const TMfPublic there = FitsModel(fc.Target) ? model->FindPublic(fc.Target) : TMfPublic{};
              if (!there.IsValid || there.Address != p.Address)
                continue;
            }
            const int32_t label = caches_.AddFunction(target_, fc.Target, p.Name + ".@label", module,
                                                      true, false, names_);
            if (FindCall(label, after, top, topLookup, call)) {
              function = label;
              found = true;
              break;
            }
          }
        }
      }
    } else if (!m.isExecutable) {
      std::string name;
      const uint64_t start = NearestExportOrEntry(m, after, name);
      if (start) {
        const int32_t f = caches_.AddFunction(target_, start, name, module, true, false, names_);
        if (f >= 0 && caches_.Function(f).Contains(after)) {
          attempted = true;
          function = f;
          found = FindCall(f, after, top, topLookup, call);
        }
      }
    }
  }
  if (!found)
    function = -1;
  if (kind == kExact && !found && DecodeCallBackwards(after, call, 0)) {
    // An unwound frame outside every known function still shows its call.
    found = true;
  }
  if (top && !found) {
    call = CallInfo{};
    call.code = v;
    call.after = after;
    uint8_t probe = 0;
    if (req_.extException && !mem_.Read(v, &probe, 1)) {
      // The exception address cannot be read: a function of length 0 keeps the item linkable.
      function = caches_.AddFunction(target_, after, std::string(), module, true, true, names_);
    }
    found = true;
  }

  if (!(top || anchor || !attempted || found))
    return false;
  Candidate c;
  c.AfterInstr = found && call.after ? call.after : after;
  c.Lookup = topLookup;
  c.Module = module;
  c.DontKill = top || anchor;
  c.TopItem = top && kind != kCreator;
  c.Creator = kind == kCreator;
  c.Exact = kind == kExact;
  if (found) {
    StackLink link;
    link.Func = function;
    link.CodeAddr = call.code;
    link.HasTarget = call.hasTarget;
    link.Target = call.target;
    c.Links[kCallers].push_back(link);
  }
  items_.push_back(std::move(c));
  return anchor && !top;
}

bool Tracer::FindCall(int32_t function, uint64_t a, bool top, uint64_t lookup, CallInfo &call) {
  if (function < 0)
    return false;
  const FunctionEntry &f = caches_.Function(function);
  if (!f.Usable())
    return false;
  call = CallInfo{};
  call.after = a;
  if (f.IsPseudo()) {
    if (a != f.fi.EntryPoint)
      return false;
    call.code = a;
    return true;
  }
  if (!top) {
    for (const auto &u : f.fi.UnknownTargets)
      if (u.Call && u.CodeAddr2 == a) {
        call.code = u.CodeAddr1;
        return true;
      }
    for (const auto &fc : f.fi.FarCalls)
      if (fc.Call && fc.CodeAddr2 == a) {
        call.code = fc.CodeAddr1;
        call.target = fc.Target;
        call.hasTarget = fc.Target != 0;
        return true;
      }
    return false;
  }
  if (lookup) {
    const std::vector<disasm::FarCall> farCalls = f.fi.FarCalls; // NameAt may grow the caches
    for (const auto &fc : farCalls) {
      if (!fc.Call || fc.CodeAddr2 != lookup)
        continue;
      const std::string name = caches_.NameAt(target_, fc.Target, names_);
      bool raise = false;
      for (const auto &marker : names_.raiseCallMarkers)
        raise = raise || name.find(marker) != std::string::npos;
      if (raise) {
        call.code = fc.CodeAddr1;
        call.target = fc.Target;
        call.hasTarget = true;
        call.after = fc.CodeAddr2;
        return true;
      }
    }
  }
  // Nothing below grows the caches, so the reference stays valid.
  const auto &areas = caches_.Function(function).fi.CodeAreas;
  for (const auto &area : areas) {
    if (area.CaseBlock || area.OnExceptBlock || !(area.AreaBegin < a && uint64_t(a) <= uint64_t(area.AreaEnd) + 1))
      continue;
    for (uint64_t x = area.AreaBegin; x < a;) {
      const disasm::DecodedInstruction d = disasm::ParseCode(mem_, x, false, req_.mode);
      if (d.Next <= x)
        break;
      if (d.Next == a) {
        call.code = x;
        if (d.Call && d.Target) {
          call.target = d.Target;
          call.hasTarget = true;
        }
        return true;
      }
      x = d.Next;
    }
  }
  return false;
}

bool Tracer::DecodeCallBackwards(uint64_t after, CallInfo &call, uint64_t startFrom) {
  if (after < 2)
    return false;
  const uint64_t longest = X64() ? 9 : 7; // the longest call form (x86-64: with a REX prefix)
  const uint64_t lowest = after >= longest ? after - longest : 0;
  for (uint64_t s = std::max(startFrom, lowest); s <= after - 2; ++s) {
    const disasm::DecodedInstruction d = disasm::ParseCode(mem_, s, true, req_.mode);
    if (d.IsValid && d.Call && d.Next == after) {
      call = CallInfo{};
      call.code = s;
      call.after = after;
      call.target = d.Target;
      call.hasTarget = d.Target != 0 && (d.RelTarget || d.PPTarget != 0);
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Links

void Tracer::AddLink(int32_t candidate, int list, const StackLink &link) {
  auto &links = items_[size_t(candidate)].Links[list];
  for (const auto &l : links)
    if (l.Link == link.Link && l.Func == link.Func && l.CodeAddr == link.CodeAddr)
      return;
  if (links.capacity() == links.size())
    links.reserve(links.empty() ? 8 : links.size() * 2);
  links.push_back(link);
}

void Tracer::Invalidate(int32_t i, bool full) {
  Candidate &c = items_[size_t(i)];
  c.Invalid = true;
  c.DontKill = false;
  if (!full)
    return;
  for (int list : {kCallers, kCallees})
    for (const auto &l : c.Links[list]) {
      if (l.Link < 0)
        continue;
      auto &other = items_[size_t(l.Link)].Links[1 - list];
      other.erase(std::remove_if(other.begin(), other.end(),
                                 [i](const StackLink &x) { return x.Link == i; }),
                  other.end());
    }
  c.Links[kCallers].clear();
  c.Links[kCallees].clear();
}

void Tracer::Disprove(int32_t function) {
  caches_.Function(function).invalid = true;
  for (auto &c : items_)
    for (auto &links : c.Links)
      links.erase(std::remove_if(links.begin(), links.end(),
                                 [function](const StackLink &x) { return x.Func == function; }),
                  links.end());
}

// The call that produced candidate l's return address, for a link whose callee is not known.
bool Tracer::CallOfCandidate(int32_t l, CallInfo &call) {
  const Candidate &c = items_[size_t(l)];
  for (const auto &link : c.Links[kCallers])
    if (link.CodeAddr) {
      call = CallInfo{};
      call.code = link.CodeAddr;
      call.hasTarget = link.HasTarget;
      call.target = link.Target;
      call.after = c.AfterInstr;
      return true;
    }
  if (c.TopItem)
    return false;
  return DecodeCallBackwards(c.AfterInstr, call, target_.Query(c.AfterInstr - 1).allocationBase);
}

void Tracer::LinkInward(int32_t q, int32_t function, bool approved) {
  for (int32_t l = q + 1; l < int32_t(items_.size()); ++l) {
    const Candidate &c = items_[size_t(l)];
    if (c.Invalid)
      continue;
    const bool anchor = c.DontKill;
    CallInfo call;
    bool ok = function >= 0 ? FindCall(function, c.AfterInstr, c.TopItem, c.Lookup, call)
                            : CallOfCandidate(l, call);
    if (ok && !approved && call.hasTarget) {
      for (const auto &link : c.Links[kCallers])
        if (Approved(link.Func) && link.CodeAddr != call.code) {
          ok = false;
          break;
        }
    }
    if (ok) {
      StackLink up;
      up.Link = q;
      up.Func = function;
      up.Target = call.target;
      up.CodeAddr = call.code;
      up.HasTarget = call.hasTarget;
      AddLink(l, kCallers, up);
      StackLink down;
      down.Link = l;
      down.Func = function;
      down.CodeAddr = call.code;
      AddLink(q, kCallees, down);
    }
    if (anchor)
      break;
  }
}

void Tracer::FillLinks(int32_t q, bool hasTarget, uint64_t code, uint64_t target, bool approved) {
  (void)code;
  bool unknown = true;
  if (hasTarget && target) {
    const int32_t f = caches_.AddFunction(target_, target, std::string(), -1, approved, false, names_);
    if (f < 0 || !caches_.Function(f).Usable())
      return;
    LinkInward(q, f, approved);
    unknown = false;
    for (const auto &u : caches_.Function(f).fi.UnknownTargets)
      if (!u.Call)
        unknown = true;
  }
  if (!unknown)
    return;
  for (const auto &link : items_[size_t(q)].Links[kCallees])
    if (link.Func < 0)
      return;
  LinkInward(q, -1, approved);
}

// ---------------------------------------------------------------------------------------------
// Recursion folding and deep checks

void Tracer::RemoveRecursiveAreas(bool full) {
  for (bool changed = true; changed;) {
    changed = false;
    // The previous candidate with the same return address, so that stacks without repeats
    // cost one pass.
    std::vector<int32_t> previousSame(items_.size(), -1);
    std::unordered_map<uint64_t, int32_t> last;
    for (int32_t i = 0; i < int32_t(items_.size()); ++i) {
      auto [it, inserted] = last.try_emplace(items_[size_t(i)].AfterInstr, i);
      if (!inserted) {
        previousSame[size_t(i)] = it->second;
        it->second = i;
      }
    }
    for (int32_t i = int32_t(items_.size()) - 1; i >= 1; --i) {
      if (AbortRequested())
        throw Aborted{};
      if (items_[size_t(i)].Invalid)
        continue;
      int32_t k = previousSame[size_t(i)];
      while (k >= 0 && items_[size_t(k)].Invalid)
        k = previousSame[size_t(k)];
      if (k < 0)
        continue;
      std::vector<int32_t> between; // valid candidates between k and i, nearest to i first
      for (int32_t x = i - 1; x > k; --x)
        if (!items_[size_t(x)].Invalid)
          between.push_back(x);
      const size_t j = between.size();
      if (size_t(k) < j)
        continue;
      std::vector<int32_t> belowK;
      for (int32_t x = k - 1; x >= 0 && belowK.size() < j; --x)
        if (!items_[size_t(x)].Invalid)
          belowK.push_back(x);
      if (belowK.size() < j)
        continue;
      bool same = true;
      for (size_t n = 0; n < j && same; ++n)
        same = items_[size_t(between[n])].AfterInstr == items_[size_t(belowK[n])].AfterInstr;
      if (!same)
        continue;
      // The exception's own frame is never folded away.
      bool hasTop = items_[size_t(i)].TopItem;
      for (int32_t x : between)
        hasTop = hasTop || items_[size_t(x)].TopItem;
      if (hasTop)
        continue;
      Invalidate(i, full);
      for (int32_t x : between)
        Invalidate(x, full);
      changed = true;
    }
  }
}

void Tracer::InDeepChecks() {
  const int32_t count = int32_t(items_.size());
  for (int32_t i = 0; i < count; ++i) {
    if (AbortRequested())
      throw Aborted{};
    Progress(25 + int64_t(i) * 625 / count);
    Candidate &c = items_[size_t(i)];
    if (c.Creator || c.Invalid)
      continue;

    auto firstApproved = [&]() -> int {
      const auto &links = items_[size_t(i)].Links[kCallers];
      for (size_t n = 0; n < links.size(); ++n)
        if (Approved(links[n].Func) && caches_.Function(links[n].Func).Usable())
          return int(n);
      return -1;
    };
    int b = firstApproved();
    if (b < 0) {
      const auto &functions = caches_.Functions();
      int32_t holder = -1;
      for (size_t f = 0; f < functions.size(); ++f)
        if (functions[f].approved && functions[f].Contains(c.AfterInstr)) {
          holder = int32_t(f);
          break;
        }
      if (holder >= 0) {
        CallInfo call;
        if (FindCall(holder, c.AfterInstr, c.TopItem, c.Lookup, call)) {
          StackLink link;
          link.Func = holder;
          link.CodeAddr = call.code;
          link.HasTarget = call.hasTarget;
          link.Target = call.target;
          AddLink(i, kCallers, link);
          b = firstApproved();
        } else if (!c.TopItem && !c.Exact) {
          Invalidate(i, true);
          continue;
        }
      }
    }
    if (b >= 0) {
      const StackLink best = items_[size_t(i)].Links[kCallers][size_t(b)];
      std::vector<int32_t> disproved;
      auto &links = items_[size_t(i)].Links[kCallers];
      for (size_t n = 0; n < links.size();) {
        const StackLink &other = links[n];
        if (other.CodeAddr == best.CodeAddr || int(n) == b) {
          ++n;
          continue;
        }
        if (other.Func >= 0 && other.Func != best.Func && !Approved(other.Func)) {
          disproved.push_back(other.Func);
          ++n;
          continue;
        }
        // Without a function of its own (or with an approved one) only the link goes.
        if (other.Link >= 0) {
          auto &back = items_[size_t(other.Link)].Links[kCallees];
          back.erase(std::remove_if(back.begin(), back.end(),
                                    [i](const StackLink &x) { return x.Link == i; }),
                     back.end());
        }
        links.erase(links.begin() + std::ptrdiff_t(n));
        if (int(n) < b)
          --b;
      }
      for (int32_t f : disproved)
        Disprove(f);
      FillLinks(i, best.HasTarget, best.CodeAddr, best.Target, true);
    } else if (!c.TopItem) {
      // No function known: calls that end at the return address, decoded backwards.
      const uint64_t after = items_[size_t(i)].AfterInstr;
      const uint64_t base = target_.Query(after - 1).allocationBase;
      const uint64_t longest = X64() ? 9 : 7;
      const uint64_t lowest = after >= longest ? after - longest : 0;
      for (uint64_t s = std::max(base, lowest); after >= 2 && s <= after - 2; ++s) {
        CallInfo call;
        if (DecodeCallBackwards(after, call, s) && call.code == s)
          FillLinks(i, call.hasTarget, call.code, call.target, false);
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Chain selection

int32_t Tracer::LineAt(int32_t module, uint64_t address) const {
  if (module < 0 || !caches_.Module(module).HasDebugInfo() || !FitsModel(address))
    return 0;
  return caches_.Module(module).mapFile->FindLine(address);
}

int64_t Tracer::WithBonus(int32_t f, int32_t b, const StackLink &link, bool direct, int64_t quality) {
  uint64_t q = uint64_t(quality);
  int c;
  if (link.Func < 0) {
    q &= ~kKnownOnly;
    c = 0;
  } else {
    c = 14;
    if (direct || (q & kKnownOnly))
      c += 14;
    if (Approved(link.Func))
      c += 14;
  }
  const Candidate &from = items_[size_t(f)], &to = items_[size_t(b)];
  if (from.Module >= 0 && to.Module >= 0 && caches_.Module(from.Module).HasDebugInfo()) {
    c += 3;
    if (LineAt(from.Module, from.AfterInstr - 1) > 0)
      c += 3;
    if (caches_.Module(to.Module).HasDebugInfo() && LineAt(to.Module, to.AfterInstr - 1) > 0)
      c += 3;
  }
  // The bonus sum stays below the flag bits however long the chain is.
  const uint64_t bonus = std::min<uint64_t>((q & kBonusMask) + (uint64_t(1) << c), kBonusMask);
  return int64_t((q & ~kBonusMask) | bonus);
}

// The best chain from candidate `from` towards `to`, following caller links when `to` lies
// further out and callee links otherwise. Iterative: stacks can hold many thousand candidates.
int64_t Tracer::Score(int32_t from, int32_t to, bool direct) {
  const bool outwards = to < from;
  const int list = outwards ? kCallers : kCallees;
  auto between = [&](int32_t b) { return outwards ? b >= to : b <= to; };
  struct Frame {
    int32_t f;
    bool d;
    size_t k = 0;
    int64_t bestValue = kNotReached;
    int32_t best = -1;
    bool waiting = false;
  };
  std::vector<Frame> stack;
  stack.push_back({from, direct});
  int64_t returned = 0;
  while (!stack.empty()) {
    if (AbortRequested())
      return kNotReached;
    const size_t top = stack.size() - 1;
    auto &links = items_[size_t(stack[top].f)].Links[list];
    bool descended = false;
    while (stack[top].k < links.size()) {
      Frame &fr = stack[top];
      StackLink &link = links[fr.k];
      if (fr.waiting) {
        fr.waiting = false;
        link.Quality = WithBonus(fr.f, link.Link, link, fr.d, returned);
      } else if (link.Link < 0 || !between(link.Link) || items_[size_t(link.Link)].Invalid) {
        ++fr.k;
        continue;
      } else if (link.Quality == 0) {
        if (link.Link == to) {
          const uint64_t high = link.Func >= 0 ? 0x70000000ull : 0x50000000ull;
          link.Quality = WithBonus(fr.f, link.Link, link, fr.d, int64_t(high << 32));
        } else {
          fr.waiting = true;
          const Frame child{link.Link, fr.d && link.Func >= 0};
          stack.push_back(child);
          descended = true;
          break;
        }
      }
      if (link.Quality > fr.bestValue) {
        fr.bestValue = link.Quality;
        fr.best = int32_t(fr.k);
      }
      ++fr.k;
    }
    if (descended)
      continue;
    items_[size_t(stack[top].f)].Best[list] = stack[top].best;
    returned = stack[top].bestValue;
    stack.pop_back();
  }
  return returned;
}

void Tracer::Resolve(int32_t l, int32_t h) {
  if (h - l < 2)
    return;
  const int64_t forward = l < 0 ? 0 : Score(l, h, true);
  const int64_t backward = (uint64_t(forward) & kReachesTarget) ? 0 : Score(h, l, true);
  for (int32_t x = l + 1; x < h; ++x)
    items_[size_t(x)].Invalid = true;
  const bool useForward = l >= 0 && forward > backward;
  int32_t x = useForward ? l : h;
  const int list = useForward ? kCallees : kCallers;
  for (size_t steps = 0; steps < items_.size(); ++steps) {
    const int32_t best = items_[size_t(x)].Best[list];
    if (best < 0 || size_t(best) >= items_[size_t(x)].Links[list].size())
      break;
    const int32_t next = items_[size_t(x)].Links[list][size_t(best)].Link;
    if (next <= l || next >= h)
      break;
    items_[size_t(next)].Invalid = false;
    x = next;
  }
}

void Tracer::RealizeOptimalLinkChains() {
  if (req_.dumbTrace || items_.empty())
    return;
  const int32_t count = int32_t(items_.size());
  int32_t h = count - 1;
  for (int32_t l = h - 1; l >= 0; --l) {
    if (AbortRequested())
      throw Aborted{};
    const Candidate &c = items_[size_t(l)];
    if (!c.DontKill || c.Invalid)
      continue;
    Resolve(l, h);
    h = l;
    Progress(650 + int64_t(count - 1 - l) * 350 / count);
  }
  Resolve(-1, h);
  Progress(1000);
}

// ---------------------------------------------------------------------------------------------
// Output

void Tracer::FillFinalOutput() {
  bool bcb = req_.bcbTermination;
  bool first = true;
  for (int32_t i = int32_t(items_.size()) - 1; i >= 0; --i) {
    if (AbortRequested())
      throw Aborted{};
    const Candidate &c = items_[size_t(i)];
    if (c.Invalid)
      continue;
    FinalOutput out;
    const auto &callers = c.Links[kCallers];
    const StackLink *chosen = nullptr;
    for (const auto &link : callers)
      if (Approved(link.Func)) {
        chosen = &link;
        const FunctionEntry &f = caches_.Function(link.Func);
        out.PublicName = f.name;
        out.PublicAddr = f.fi.EntryPoint;
        break;
      }
    if (!chosen)
      for (const auto &link : callers)
        if (link.CodeAddr) {
          chosen = &link;
          break;
        }
    if (!chosen && c.Best[kCallers] >= 0 && size_t(c.Best[kCallers]) < callers.size() &&
        callers[size_t(c.Best[kCallers])].CodeAddr)
      chosen = &callers[size_t(c.Best[kCallers])];
    out.Addr = chosen && chosen->CodeAddr ? chosen->CodeAddr : c.AfterInstr;

    out.ModuleName = "???";
    if (c.Module >= 0) {
      const ModuleEntry &m = caches_.Module(c.Module);
      out.ModuleName = m.name;
      if (m.mapFile && FitsModel(out.Addr)) {
        const TMapFile &model = *m.mapFile;
        if (out.PublicName.empty()) {
          const TMfPublic p = model.FindPublic(out.Addr);
          if (p.IsValid) {
            out.PublicName = p.Name;
            out.PublicAddr = p.Address;
          }
        }
        const TMfSegment seg = model.FindSegment(true, out.Addr);
        if (seg.IsValid)
          out.UnitName = seg.Unit_;
        out.Line = std::max<int32_t>(0, model.FindLine(out.Addr));
        if (out.Line > 0 && out.PublicAddr && FitsModel(out.PublicAddr))
          out.PublicLine = std::max<int32_t>(0, model.FindLine(out.PublicAddr));
        if (req_.minDebugInfos && !model.MinDebugInfo().empty()) {
          const std::string entry = m.name + "|" + model.MinDebugInfo();
          bool known = false;
          for (const auto &e : *req_.minDebugInfos)
            known = known || ReportLower(e) == ReportLower(entry);
          if (!known)
            req_.minDebugInfos->push_back(entry);
        }
      }
    }
    if (first) {
      result_.exceptAddr = out.Addr;
      first = false;
    }
    if (bcb && AnyRoutine(out.PublicName, names_.throwRoutines)) {
      output_.clear(); // this frame and everything further in
      bcb = false;
      continue;
    }
    output_.emplace_back(i, std::move(out));
  }

  if (topAddedAfterPrepared_) {
    for (size_t p = 0; p < output_.size(); ++p) {
      if (!AnyRoutine(output_[p].second.PublicName, names_.exceptionHandlers))
        continue;
      if (p >= 1)
        output_.erase(output_.begin() + 1, output_.begin() + std::ptrdiff_t(p) + 1);
      const size_t from = 1;
      while (from < output_.size()) {
        const bool named = !output_[from].second.PublicName.empty();
        const bool keep = named && SameRoutine(output_[from].second.PublicName, names_.exceptionDispatcher);
        if (!keep)
          output_.erase(output_.begin() + std::ptrdiff_t(from));
        if (named)
          break;
      }
      break;
    }
  }
}

void Tracer::ComposeResult() {
  for (const auto &[index, out] : output_) {
    const Candidate &c = items_[size_t(index)];
    StackItem item;
    item.Addr = out.Addr;
    item.FunctionAddr = out.PublicAddr;
    item.ModuleName = out.ModuleName;
    item.UnitName = out.UnitName;
    item.FunctionName = out.PublicName;
    item.Line = out.Line;
    item.FunctionLine = out.PublicLine;
    item.IsTop = c.TopItem;
    item.IsCreator = c.Creator;
    result_.items.push_back(std::move(item));
  }
  if (!result_.items.empty() && result_.items.front().FunctionAddr) {
    result_.exceptFunc = result_.items.front().FunctionAddr;
    result_.exceptFuncAddr = result_.items.front().Addr;
  }
  CallStackOptions options;
  options.hideUglyItems = req_.hideUglyItems;
  options.showRelativeAddrs = req_.showRelativeAddrs;
  options.showRelativeLines = req_.showRelativeLines;
  options.mode = req_.mode;
  result_.text = CallStackLines(result_.items, options, &result_.checksum);
}

TraceResult Tracer::Run() {
  // A stack that cannot be read gives an empty result.
  uint64_t probe = 0;
  const uint32_t slotSize = X64() ? 8 : 4;
  if (req_.stackTop < slotSize || req_.stackBottom >= req_.stackTop ||
      !mem_.Read(req_.stackTop - slotSize, &probe, slotSize) || !mem_.Read(req_.stackBottom, &probe, 1))
    return std::move(result_);
  caches_.defaultMode = req_.mode;

  auto removeFull = [](Tracer &t) { t.RemoveRecursiveAreas(true); };
  auto removeMarking = [](Tracer &t) { t.RemoveRecursiveAreas(false); };
  const std::pair<const char *, std::function<void(Tracer &)>> phases[] = {
      {"CollectPossibleStackItems", &Tracer::CollectPossibleStackItems},
      {"RemoveRecursiveStackAreas", removeFull},
      {"InDeepChecks", &Tracer::InDeepChecks},
      {"RealizeOptimalLinkChains", &Tracer::RealizeOptimalLinkChains},
      {"RemoveRecursiveAreas", removeMarking},
      {"FillFinalOutput", &Tracer::FillFinalOutput},
      {"ComposeResult", &Tracer::ComposeResult},
  };
  for (const auto &[name, run] : phases) {
    if (AbortRequested()) {
      result_ = TraceResult{};
      result_.aborted = true;
      return std::move(result_);
    }
    try {
      run(*this);
    } catch (const Aborted &) {
      result_ = TraceResult{};
      result_.aborted = true;
      return std::move(result_);
    } catch (...) {
      TraceResult failed;
      failed.failedPhase = name;
      failed.text = std::string(">> internal error in ") + name;
      if (req_.isException) {
        std::string location;
        try {
          location = LocationLineLocked(caches_, target_, req_.currentAddr, req_.showRelativeAddrs,
                                        req_.showRelativeLines, names_, req_.mode);
        } catch (...) {
          char buf[24];
          std::snprintf(buf, sizeof buf, "%0*llx", X64() ? 16 : 8,
                        static_cast<unsigned long long>(req_.currentAddr));
          location = buf;
        }
        failed.text += "\r\n>> original exception location: \r\n" + location;
      }
      return failed;
    }
  }
  return std::move(result_);
}

} // namespace

std::vector<PreStackItem> PrepareStackX64(const ITraceTarget &target, const X64Context &context, uint64_t stackTop,
                                          const std::atomic<bool> *abort,
                                          const std::function<void(int)> &progress) {
  const disasm::MemoryReader &memory = target.Memory();
  const uint64_t bottom = context.gpr[kX64Rsp];
  uint8_t probe = 0;
  if (stackTop < 8 || bottom >= stackTop || !memory.Read(bottom, &probe, 1))
    return {};
  const uint64_t span = stackTop - bottom;
  auto aborted = [&] { return abort && abort->load(); };
  auto report = [&](uint64_t at) {
    if (progress)
      progress(int((at - bottom) / (span / 1000 + 1)));
  };

  // The exact frames, innermost first. Every successful step moves RSP up, and the walk stays
  // inside the stack, so it ends after at most one step per slot.
  std::vector<uint64_t> exact;
  X64Context frame = context;
  bool guessAtRsp = false;
  for (;;) {
    if (aborted())
      return {};
    report(frame.gpr[kX64Rsp]);
    const MemoryRegion here = target.Query(frame.rip);
    if (!here.committed || !here.image) {
      // No module: nothing tells where this frame keeps its return address. Right after a call
      // through a bad pointer it lies at RSP; a value there that follows a call anchors the scan.
      guessAtRsp = true;
      break;
    }
    X64Context caller = frame;
    const X64UnwindResult result = target.UnwindX64(caller);
    if (!X64UnwindSucceeded(result) || result == X64UnwindResult::NoModule)
      break;
    if (caller.gpr[kX64Rsp] <= frame.gpr[kX64Rsp] || caller.gpr[kX64Rsp] > stackTop)
      break; // a step that leaves the stack is not believed
    if (caller.rip == 0) {
      frame = caller;
      frame.gpr[kX64Rsp] = stackTop; // the outermost frame: nothing left to scan
      break;
    }
    if (!target.Query(caller.rip).committed)
      break; // a return into no memory: the frame's unwind data did not fit its stack
    exact.push_back(caller.rip);
    frame = caller;
  }

  // The scan from the last frame's stack pointer up, outermost first.
  std::vector<PreStackItem> items;
  const uint64_t from = frame.gpr[kX64Rsp];
  if (from < stackTop && stackTop - from >= 8) {
    const uint64_t slots = (stackTop - from) / 8;
    for (uint64_t n = slots; n-- > 0;) {
      const uint64_t slot = from + 8 * n;
      if ((n & 0x3FF) == 0) {
        if (aborted())
          return {};
        report(slot);
      }
      uint64_t value = 0;
      if (!memory.Read(slot, &value, 8))
        continue;
      if (value > 8 && target.Query(value - 1).committed && CouldBeReturnAddress64(memory, value))
        items.push_back({guessAtRsp && slot == from, value});
    }
  }
  for (size_t i = exact.size(); i-- > 0;)
    items.push_back({true, exact[i]});
  if (progress)
    progress(1000);
  return items;
}

TraceResult StackTrace(const ITraceTarget &target, TraceCaches &caches, const TraceRequest &request,
                       const RuntimeNames &names) {
  std::lock_guard<std::mutex> lock(caches.TraceLock());
  Tracer tracer(target, caches, request, names);
  return tracer.Run();
}

} // namespace tidewell::stacktrace
