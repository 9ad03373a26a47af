#pragma once
// The attachment file operations over the files of a MemoryBugFileSystem, so that a report the
// bug file code writes is a file the attachment code sees. Files can be made unopenable or
// unreadable, and archive writes can fail after a number of bytes.
#include <map>
#include <set>

#include "crash/output/KXFileStore.h"
#include "tests/crash/output/MemoryBugFileSystem.h"

namespace kx::test {

class MemoryFileStore : public IKXFileStore {
public:
  explicit MemoryFileStore(MemoryBugFileSystem &fs) : FS(fs) {}

  std::map<std::u16string, KXDosDateTime> times;   // missing: time unknown
  std::map<std::u16string, uint32_t> attributes;   // missing: 0x20 (archive)
  std::set<std::u16string> unopenable;             // OpenForReading fails
  std::set<std::u16string> unreadable;             // ReadAll fails
  std::set<std::u16string> uncreatable;            // Create fails
  size_t writeLimit = SIZE_MAX;                    // bytes a created file takes before writes fail
  std::vector<std::u16string> deleted;             // every successful Delete, in order
  int copyFailures = 0;                            // Copy calls still to fail

  bool Exists(const std::u16string &path) override { return FS.files.count(path) > 0; }

  std::unique_ptr<IKXInputFile> OpenForReading(const std::u16string &path) override {
    if (!Exists(path) || unopenable.count(path))
      return nullptr;
    std::optional<KXDosDateTime> time;
    if (auto t = times.find(path); t != times.end())
      time = t->second;
    return std::make_unique<Input>(FS.files[path], time, unreadable.count(path) > 0);
  }

  std::optional<uint32_t> Attributes(const std::u16string &path) override {
    if (!Exists(path))
      return std::nullopt;
    auto a = attributes.find(path);
    return a == attributes.end() ? 0x20u : a->second;
  }

  std::unique_ptr<IKXOutputFile> Create(const std::u16string &path) override {
    if (uncreatable.count(path))
      return nullptr;
    std::string &data = FS.files[path];
    data.clear();
    return std::make_unique<Output>(data, writeLimit);
  }

  bool Delete(const std::u16string &path) override {
    if (!FS.files.erase(path))
      return false;
    deleted.push_back(path);
    return true;
  }

  bool Copy(const std::u16string &from, const std::u16string &to) override {
    if (copyFailures > 0) {
      --copyFailures;
      return false;
    }
    if (!Exists(from))
      return false;
    FS.files[to] = FS.files[from];
    return true;
  }

private:
  class Input : public IKXInputFile {
  public:
    Input(const std::string &data, std::optional<KXDosDateTime> time, bool fail)
        : Data(data), Time(time), Fail(fail) {}
    bool ReadAll(std::string &out) override {
      if (Fail)
        return false;
      out = Data;
      return true;
    }
    std::optional<KXDosDateTime> LastWriteDosTime() override { return Time; }

  private:
    std::string Data;
    std::optional<KXDosDateTime> Time;
    bool Fail;
  };

  class Output : public IKXOutputFile {
  public:
    Output(std::string &data, size_t limit) : Data(data), Limit(limit) {}
    bool Write(std::string_view bytes) override {
      if (Data.size() + bytes.size() > Limit)
        return false;
      Data.append(bytes);
      return true;
    }
    bool Close() override { return true; }

  private:
    std::string &Data;
    size_t Limit;
  };

  MemoryBugFileSystem &FS;
};

} // namespace kx::test
