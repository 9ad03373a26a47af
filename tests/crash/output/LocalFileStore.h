#pragma once
// The attachment file operations over the local (POSIX) file system, for tests that hand real
// archives to unzip. Windows-style paths from the path rules come back with backslashes; they
// are turned into slashes here. Attributes: 0x20 (archive), plus 0x01 for a file without write
// permission, as Windows would report them.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

#include "crash/base/settings/KXText.h"
#include "crash/output/KXFileStore.h"

namespace kx::test {

inline std::string LocalPath(const std::u16string &path) {
  std::string p = EncodeUtf8(path);
  for (char &c : p)
    if (c == '\\')
      c = '/';
  return p;
}

class LocalFileStore : public IKXFileStore {
public:
  bool Exists(const std::u16string &path) override {
    struct stat st;
    return stat(LocalPath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }

  std::unique_ptr<IKXInputFile> OpenForReading(const std::u16string &path) override {
    std::string local = LocalPath(path);
    std::ifstream in(local, std::ios::binary);
    if (!in)
      return nullptr;
    return std::make_unique<Input>(std::move(in), local);
  }

  std::optional<uint32_t> Attributes(const std::u16string &path) override {
    struct stat st;
    if (stat(LocalPath(path).c_str(), &st) != 0)
      return std::nullopt;
    return (st.st_mode & S_IWUSR) ? 0x20u : 0x21u;
  }

  std::unique_ptr<IKXOutputFile> Create(const std::u16string &path) override {
    std::ofstream out(LocalPath(path), std::ios::binary | std::ios::trunc);
    if (!out)
      return nullptr;
    return std::make_unique<Output>(std::move(out));
  }

  bool Delete(const std::u16string &path) override { return unlink(LocalPath(path).c_str()) == 0; }

  bool Copy(const std::u16string &from, const std::u16string &to) override {
    std::ifstream in(LocalPath(from), std::ios::binary);
    if (!in)
      return false;
    std::ofstream out(LocalPath(to), std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    return bool(out);
  }

private:
  class Input : public IKXInputFile {
  public:
    Input(std::ifstream in, std::string path) : In(std::move(in)), Path(std::move(path)) {}
    bool ReadAll(std::string &out) override {
      std::ostringstream all;
      all << In.rdbuf();
      out = all.str();
      return !In.bad();
    }
    std::optional<KXDosDateTime> LastWriteDosTime() override {
      struct stat st;
      struct tm local;
      if (stat(Path.c_str(), &st) != 0 || !localtime_r(&st.st_mtime, &local) || local.tm_year < 80)
        return std::nullopt;
      KXDosDateTime t;
      t.time = uint16_t(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
      t.date = uint16_t((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
      return t;
    }

  private:
    std::ifstream In;
    std::string Path;
  };

  class Output : public IKXOutputFile {
  public:
    explicit Output(std::ofstream out) : Out(std::move(out)) {}
    bool Write(std::string_view data) override {
      Out.write(data.data(), std::streamsize(data.size()));
      return bool(Out);
    }
    bool Close() override {
      Out.close();
      return !Out.fail();
    }

  private:
    std::ofstream Out;
  };
};

} // namespace kx::test
