#include "crash/analysis/stacktrace/TraceCaches.h"

#include <algorithm>
#include <iterator>

#include "crash/base/pe/PeImage.h"

namespace tidewell::stacktrace {

bool FunctionEntry::Contains(uint64_t a) const {
  if (!Usable())
    return false;
  if (fi.CodeLen == 0)
    return a == fi.EntryPoint;
  for (const auto &area : fi.CodeAreas)
    if (!area.CaseBlock && !area.OnExceptBlock && area.AreaBegin < a &&
        uint64_t(a) <= uint64_t(area.AreaEnd) + 1)
      return true;
  return false;
}

TraceCaches::TraceCaches() {
  modules_.reserve(16);
  functions_.reserve(16);
}

TraceCaches &TraceCaches::Process() {
  static TraceCaches caches;
  return caches;
}

namespace {

std::string BaseName(const std::string &path) {
  const size_t slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Address of a public found by its name anywhere in the model (names are unique enough for
// the run-time routines looked up here); 0 when absent.
uint64_t PublicByName(const TMapFile &model, const std::string &name) {
  for (const auto &p : model.Publics())
    if (p.Code && SameRoutine(p.Name, name))
      return p.Address;
  return 0;
}

} // namespace

int32_t TraceCaches::AddModule(const ITraceTarget &target, uint64_t handle,
                               const RuntimeNames &names) {
  if (handle == 0)
    return -1;
  for (size_t i = 0; i < modules_.size(); ++i)
    if (modules_[i].handle == handle)
      return int32_t(i);
  ModuleEntry m;
  m.handle = handle;
  const ModuleFacts facts = target.DescribeModule(handle);
  m.name = BaseName(facts.fileName);
  m.isExecutable = facts.isExecutable;
  m.isReporter = facts.isReporter;
  if (facts.debugInfo && facts.debugInfo->IsValid())
    m.mapFile = facts.debugInfo;
  if (facts.ehFrameEnd > facts.ehFrameBegin) {
    m.ehFrameBegin = facts.ehFrameBegin;
    m.ehFrameEnd = facts.ehFrameEnd;
  }

  // The headers: as much of the first 4 KiB as can be read.
  std::vector<uint8_t> headers(4096);
  uint32_t got = 0;
  for (uint32_t size : {4096u, 1024u, 512u})
    if (target.Memory().Read(handle, headers.data(), size)) {
      got = size;
      break;
    }
  headers.resize(got);
  if (auto pe = debuginfo::PeImage::Parse(headers.data(), headers.size())) {
    if (pe->Pe32Plus && pe->Machine == 0x8664)
      m.mode = disasm::CpuMode::X64;
    const auto &s = pe->Sections;
    if (!s.empty() && (s[0].Characteristics & debuginfo::kSectionCode)) {
      m.codeBegin = handle + s[0].VirtualAddress;
      m.codeEnd = m.codeBegin + s[0].VirtualSize;
      if (s.size() > 1 && (s[1].Characteristics & debuginfo::kSectionCode))
        m.codeEnd = handle + s[1].VirtualAddress + s[1].VirtualSize;
    } else {
      m.codeBegin = handle + pe->BaseOfCode;
      m.codeEnd = m.codeBegin + pe->SizeOfCode;
    }
    // A PE32+ header has no base of data: the data range stays empty.
    if (!pe->Pe32Plus) {
      m.dataBegin = handle + pe->BaseOfData;
      m.dataEnd = m.dataBegin + pe->SizeOfInitializedData + pe->SizeOfUninitializedData;
    }
    if (pe->AddressOfEntryPoint)
      m.entryPoint = handle + pe->AddressOfEntryPoint;
    if (!pe->DataDirectories.empty())
      m.exports = ReadExports(target.Memory(), handle, pe->DataDirectories[0].first,
                              pe->DataDirectories[0].second);
  }
  if (m.mapFile) {
    const TMapFile &model = *m.mapFile;
    m.helpers.handleOnException = model.FindPublic(true, "System", "@HandleOnException", true);
    m.helpers.handleAnyException = model.FindPublic(true, "System", "@HandleAnyException", true);
    m.helpers.handleFinally = model.FindPublic(true, "System", "@HandleFinally", true);
    m.helpers.handleAutoException = model.FindPublic(true, "System", "@HandleAutoException", true);
    m.helpers.halt = model.FindPublic(true, "System", "@Halt0", true);
    for (const auto &n : names.noReturn)
      if (uint64_t a = PublicByName(model, n))
        m.noReturn.push_back(a);
  }
  modules_.push_back(std::move(m));
  return int32_t(modules_.size() - 1);
}

int32_t TraceCaches::ModuleOf(uint64_t a) const {
  for (size_t i = 0; i < modules_.size(); ++i) {
    const auto &m = modules_[i];
    if ((m.codeBegin < a && a < m.codeEnd) || (m.dataBegin < a && a < m.dataEnd))
      return int32_t(i);
  }
  return -1;
}

int32_t TraceCaches::FindFunction(uint64_t entry) const {
  auto it = byEntry_.find(entry);
  return it == byEntry_.end() ? -1 : it->second;
}

std::string TraceCaches::NameAt(const ITraceTarget &target, uint64_t address,
                                const RuntimeNames &names) {
  int32_t mi = ModuleOf(address);
  if (mi < 0) {
    const MemoryRegion r = target.Query(address);
    if (r.committed && r.image)
      mi = AddModule(target, r.allocationBase, names);
  }
  if (mi < 0)
    return {};
  const ModuleEntry &m = modules_[size_t(mi)];
  if (m.mapFile && FitsModel(address)) {
    const TMfPublic p = m.mapFile->FindPublic(address);
    if (p.IsValid && p.Address == address)
      return p.Name;
  }
  auto it = std::lower_bound(m.exports.begin(), m.exports.end(), address,
                             [](const ExportEntry &e, uint64_t a) { return e.address < a; });
  if (it != m.exports.end() && it->address == address)
    return it->name;
  return {};
}

int32_t TraceCaches::AnalyseAndStore(const ITraceTarget &target, uint64_t entry,
                                     const std::string &name, int32_t module, bool forceValid,
                                     const RuntimeNames &names) {
  if (module < 0)
    module = ModuleOf(entry);
  if (module < 0) {
    const MemoryRegion r = target.Query(entry);
    if (r.committed && r.image)
      module = AddModule(target, r.allocationBase, names);
  }
  disasm::AnalysisOptions options;
  options.mode = defaultMode;
  std::shared_ptr<const TMapFile> model;
  if (module >= 0) {
    ModuleEntry &m = modules_[size_t(module)];
    options.mode = m.mode;
    // The landing pads of a C++ function belong to it although no jump reaches them.
    // The unwind table reader works on 32-bit addresses (the tables of x86-32 images).
    if (m.ehFrameEnd > m.ehFrameBegin && m.ehFrameEnd <= UINT32_MAX) {
      if (!m.framesRead) {
        m.framesRead = true;
        m.frames = disasm::ReadFrameDescriptions(target.Memory(), m.ehFrameBegin, m.ehFrameEnd);
        std::sort(m.frames.begin(), m.frames.end(),
                  [](const auto &x, const auto &y) { return x.begin < y.begin; });
      }
      auto it = std::upper_bound(m.frames.begin(), m.frames.end(), entry,
                                 [](uint64_t a, const auto &f) { return a < f.begin; });
      if (it != m.frames.begin() && entry < std::prev(it)->end && std::prev(it)->lsda) {
        const std::vector<uint32_t> pads = disasm::LandingPads(target.Memory(), *std::prev(it));
        options.extraEntries.assign(pads.begin(), pads.end());
      }
    }
    const uint64_t lo = m.dataEnd > m.dataBegin ? std::min(m.codeBegin, m.dataBegin) : m.codeBegin;
    const uint64_t hi = m.dataEnd > m.dataBegin ? std::max(m.codeEnd, m.dataEnd) : m.codeEnd;
    if (hi > lo) {
      options.rangeBegin = lo;
      options.rangeEnd = hi;
    }
    if (m.mapFile) {
      if (!m.isReporter)
        options.helpers = m.helpers;
      options.noReturn.assign(m.noReturn.begin(), m.noReturn.end());
      model = m.mapFile;
      options.isOtherFunction = [model, entry](uint64_t t) {
        if (!FitsModel(t))
          return false;
        const TMfPublic p = model->FindPublic(t);
        return t != entry && p.IsValid && p.Address == t;
      };
    }
  }
  FunctionEntry f;
  f.module = module;
  f.fi = disasm::ParseFunction(target.Memory(), entry, options);
  if (!f.fi.IsValid && forceValid) {
    disasm::FunctionInfo pseudo;
    pseudo.IsValid = true;
    pseudo.EntryPoint = pseudo.CodeBegin = entry;
    f.fi = std::move(pseudo);
  }
  f.name = name.empty() ? NameAt(target, entry, names) : name;
  functions_.push_back(std::move(f));
  const int32_t index = int32_t(functions_.size() - 1);
  byEntry_[entry] = index;
  return index;
}

int32_t TraceCaches::AddFunction(const ITraceTarget &target, uint64_t entry,
                                 const std::string &name, int32_t module, bool approve,
                                 bool forceValid, const RuntimeNames &names) {
  if (entry == 0)
    return -1;
  if (int32_t existing = FindFunction(entry); existing >= 0) {
    if (approve)
      Approve(existing);
    return existing;
  }
  const int32_t first = AnalyseAndStore(target, entry, name, module, forceValid, names);
  // Every far jump target is added in turn with the same approval (a work list, so that long
  // chains of tail jumps cannot exhaust the stack; cycles end at entries already cached).
  std::vector<int32_t> work{first};
  while (!work.empty()) {
    const int32_t fi = work.back();
    work.pop_back();
    if (approve)
      functions_[size_t(fi)].approved = true;
    std::vector<uint64_t> jumps;
    for (const auto &fc : functions_[size_t(fi)].fi.FarCalls)
      if (!fc.Call && fc.Target)
        jumps.push_back(fc.Target);
    for (uint64_t t : jumps) {
      if (int32_t e = FindFunction(t); e >= 0) {
        if (approve)
          Approve(e);
        continue;
      }
      work.push_back(AnalyseAndStore(target, t, std::string(), -1, false, names));
    }
  }
  return first;
}

void TraceCaches::Approve(int32_t function) {
  std::vector<int32_t> work{function};
  while (!work.empty()) {
    const int32_t i = work.back();
    work.pop_back();
    if (i < 0 || functions_[size_t(i)].approved)
      continue;
    functions_[size_t(i)].approved = true;
    for (const auto &fc : functions_[size_t(i)].fi.FarCalls)
      if (!fc.Call && fc.Target)
        work.push_back(FindFunction(fc.Target));
  }
}

} // namespace tidewell::stacktrace
