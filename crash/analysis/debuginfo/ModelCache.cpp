#include "crash/analysis/debuginfo/ModelCache.h"

#include <algorithm>

uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
  year = std::clamp(year, 1980, 2107);
  uint32_t date = uint32_t((year - 1980) << 9 | (month & 0xF) << 5 | (day & 0x1F));
  uint32_t time = uint32_t((hour & 0x1F) << 11 | (minute & 0x3F) << 5 | ((second / 2) & 0x1F));
  return date << 16 | time;
}

TModelCache &TModelCache::Process() {
  static TModelCache cache;
  return cache;
}

size_t TModelCache::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

void TModelCache::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
}

TModelCache::ModelPtr TModelCache::ModelFor(IModuleLocator &locator, uint64_t address) {
  auto module = locator.ModuleOfAddress(address);
  if (!module)
    return std::make_shared<const TMapFile>();
  const uint32_t fileTime = locator.FileDosDateTime(module->FileName);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].Model->ModuleFileName() != module->FileName)
        continue;
      if (entries_[i].FileTime == fileTime)
        return entries_[i].Model;
      entries_[i] = std::move(entries_.back());
      entries_.pop_back();
      break;
    }
  }
  // Loading runs outside the lock; two threads may load the same module, the first stored wins.
  auto model = std::make_shared<const TMapFile>(true, module->FileName, module->HInstance, false,
                                                false, locator.Files());
  if (!model->IsValid())
    return model;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Entry &e : entries_)
    if (e.Model->ModuleFileName() == module->FileName && e.FileTime == fileTime)
      return e.Model;
  entries_.push_back({fileTime, model});
  return model;
}

TAddressDescription DescribeAddress(TModelCache &cache, IModuleLocator &locator, uint64_t address) {
  TAddressDescription d;
  try {
    auto model = cache.ModelFor(locator, address);
    if (!model->IsValid())
      return d;
    d.ModuleFileName = model->ModuleFileName();
    d.Unit = model->FindSegment(true, address).Unit_;
    d.Line = std::max(model->FindLine(address), 0);
    TMfPublic pub = model->FindPublic(address);
    if (pub.IsValid) {
      d.FunctionName = pub.Name;
      d.FunctionAddress = pub.Address;
    }
    d.Ok = true;
  } catch (...) {
    d = TAddressDescription{};
  }
  return d;
}

std::string ProcedureName(const TMapFile &model, uint64_t address) {
  TMfPublic pub = model.FindPublic(address);
  if (!pub.IsValid || pub.Address != address)
    return {};
  std::string unit = model.FindSegment(true, address).Unit_;
  std::string name = unit.empty() ? pub.Name : unit + "." + pub.Name;
  if (name.find('%') != std::string::npos) {
    const std::string &file = model.ModuleFileName();
    size_t slash = file.find_last_of("/\\");
    name += " (" + (slash == std::string::npos ? file : file.substr(slash + 1)) + ")";
  }
  return name;
}

void UpdateLine(const TMapFile &model, uint64_t address, int32_t &line, uint64_t &rangeStart,
                uint64_t &rangeEnd) {
  if (line != 0 && address >= rangeStart && address < rangeEnd)
    return;
  line = std::max(model.FindLine(address, rangeEnd), 0);
  rangeStart = address;
}
