#pragma once
// An in-memory file system for the bug report file: folders must exist (or be created) before a
// file can be opened in them; folders can be made unwritable and files busy or unreadable.
#include <map>
#include <set>

#include "crash/output/KXBugFilePaths.h"
#include "crash/output/KXBugFileSystem.h"

namespace kx::test {

class MemoryBugFileSystem : public IKXBugFileSystem {
public:
  std::map<std::u16string, std::string> files;
  std::set<std::u16string> folders;
  std::set<std::u16string> readOnlyFolders; // creating files or folders in them fails
  std::map<std::u16string, int> busyOpens;  // opens that still report busy
  bool failReads = false;
  bool failWrites = false;
  uint32_t slept = 0;

  bool CreateFolder(const std::u16string &path) override {
    if (folders.count(path))
      return true;
    if (!ParentUsable(path))
      return false;
    folders.insert(path);
    return true;
  }

  KXOpenResult Open(const std::u16string &path) override {
    KXOpenResult result;
    if (auto busy = busyOpens.find(path); busy != busyOpens.end() && busy->second > 0) {
      --busy->second;
      result.status = KXOpenStatus::busy;
      result.systemError = 32;
      return result;
    }
    if (!files.count(path)) {
      if (!ParentUsable(path)) {
        result.systemError = 3;
        return result;
      }
      files[path];
    }
    result.status = KXOpenStatus::opened;
    result.file = std::make_unique<File>(*this, files[path]);
    return result;
  }

  void Sleep(uint32_t ms) override { slept += ms; }

private:
  bool ParentUsable(const std::u16string &path) {
    std::u16string trimmed = path;
    if (!trimmed.empty() && trimmed.back() == u'\\')
      trimmed.pop_back();
    std::u16string parent = DirectoryPart(trimmed);
    if (readOnlyFolders.count(parent))
      return false;
    return parent.size() == PathRootLength(parent) || folders.count(parent) > 0;
  }

  class File : public IKXBugFile {
  public:
    File(MemoryBugFileSystem &fs, std::string &data) : FS(fs), Data(data) {}
    std::optional<uint64_t> Size() override { return Data.size(); }
    bool Read(uint64_t offset, size_t length, std::string &out) override {
      if (FS.failReads || offset + length > Data.size())
        return false;
      out = Data.substr(size_t(offset), length);
      return true;
    }
    bool Write(uint64_t offset, std::string_view data) override {
      if (FS.failWrites || offset > Data.size())
        return false;
      if (Data.size() < offset + data.size())
        Data.resize(size_t(offset + data.size()));
      Data.replace(size_t(offset), data.size(), data);
      return true;
    }
    bool Truncate(uint64_t size) override {
      Data.resize(size_t(size));
      return true;
    }

  private:
    MemoryBugFileSystem &FS;
    std::string &Data;
  };
};

} // namespace kx::test
