#pragma once
// Fixed facts of a process for the report composition: a few threads with titles, stacks given as
// frames, a small memory and a completion thread that runs on a std::thread.
#include <map>
#include <stdexcept>
#include <thread>

#include "crash/analysis/stacktrace/CallStackText.h"
#include "crash/report/composition/ReportFacts.h"

namespace kx::test {

struct FakeThread {
  std::string title;           // "" for a thread without section
  bool capturable = true;
  KXThreadCapture capture;
  tidewell::stacktrace::StackTraceItems frames; // what the trace finds
  bool traceFails = false;
  uint64_t creatorAddr = 0;
  uint32_t creatorTid = 0;
};

class FakeThreadRun : public IKXCompletionThread {
public:
  explicit FakeThreadRun(std::function<void()> work) : FThread(std::move(work)) {}
  ~FakeThreadRun() override {
    if (FThread.joinable())
      FThread.join();
  }
  uint32_t ThreadId() override { return 999; }
  bool WaitFor(uint32_t) override {
    if (FThread.joinable())
      FThread.join();
    return true;
  }
  void RaisePriority() override {}
  void Terminate() override {}

private:
  std::thread FThread;
};

class FakeFacts : public IKXReportFacts {
public:
  // header facts
  std::string computer = "BUILDBOX", wtsClient, user = "ada", owner = "Ada Lovelace", organisation = "Analytical Ltd";
  bool admin = true, throwOnComputerName = false;
  KXOsVersion os{true, 6, 1, 7601, true, false, false, false, false, true, "Service Pack 1"};
  std::string language = "English";
  std::optional<int64_t> systemUp = 90061, programUp = 250;
  std::vector<std::string> processors{"Intel(R)  Core(TM) i7   CPU", "Intel(R)  Core(TM) i7   CPU"};
  uint64_t availMem = 1536ull << 20, totalMem = 4096ull << 20;
  std::string windowsDir = "C:\\Windows", exePath = "D:\\Apps\\Tidewell.exe", reporterPath = "D:\\Apps\\Tidewell.exe";
  std::map<char, uint64_t> freeDisk{{'C', 1536}, {'D', 3ull << 30}};
  std::string commandLine = "\"D:\\Apps\\Tidewell.exe\" /station\r\nsecond";
  bool hasParameters = true;
  int linker = 2;
  std::optional<KXLocalTime> exeTime = KXLocalTime{2026, 3, 4, 5, 6, 7, 8};
  KXFileVersion exeVersion{{1, 2, 0, 34}, ""};

  // threads
  uint32_t current = 7, main = 1;
  std::vector<uint32_t> threadOrder;
  std::map<uint32_t, FakeThread> threads;
  std::map<uint64_t, uint8_t> memory;
  bool disassembler = true;
  std::vector<std::string> minDebugInfo;
  bool runThreads = true;
  int traces = 0;
  std::vector<KXThreadStack> traced;

  std::string ComputerName() override {
    if (throwOnComputerName)
      throw std::runtime_error("no name");
    return computer;
  }
  std::string WtsClientName() override { return wtsClient; }
  std::string UserName() override { return user; }
  bool UserIsAdministrator() override { return admin; }
  std::string RegisteredOwner() override { return owner; }
  std::string RegisteredOrganization() override { return organisation; }
  KXOsVersion OsVersion() override { return os; }
  std::string SystemLanguage() override { return language; }
  std::optional<int64_t> SystemUpSeconds() override { return systemUp; }
  std::optional<int64_t> ProgramUpMilliseconds() override { return programUp; }
  std::string ProcessorName(int index) override {
    return size_t(index) < processors.size() ? processors[size_t(index)] : std::string();
  }
  bool PhysicalMemory(uint64_t &a, uint64_t &t) override {
    a = availMem;
    t = totalMem;
    return true;
  }
  bool SystemResources(int &, int &) override { return false; }
  std::string WindowsDirectory() override { return windowsDir; }
  std::optional<uint64_t> FreeDiskBytes(char drive) override {
    auto it = freeDisk.find(drive);
    return it == freeDisk.end() ? std::nullopt : std::optional<uint64_t>(it->second);
  }
  char DecimalSeparator() override { return ','; }
  KXDisplayMode DisplayMode() override { return {1920, 1080, 32, 1}; }
  uint32_t ProcessId() override { return 0x1a2c; }
  uint64_t AllocatedMemory() override { return 1048576; }
  std::string CommandLine() override { return commandLine; }
  bool HasParameters() override { return hasParameters; }
  std::string ExecutablePath() override { return exePath; }
  std::string ReporterModulePath() override { return reporterPath; }
  std::optional<KXLocalTime> FileLastWrite(const std::string &) override { return exeTime; }
  std::optional<KXFileVersion> FileVersion(const std::string &) override { return exeVersion; }
  std::string LoadedModulePath(const std::string &) override { return {}; }
  int LinkerMajorVersion() override { return linker; }

  uint32_t CurrentThreadId() override { return current; }
  uint32_t MainThreadId() override { return main; }
  std::vector<uint32_t> ThreadIds() override { return threadOrder; }
  std::string ThreadTitle(uint32_t id, bool always, uint64_t &creatorAddr, uint32_t &creatorTid) override {
    auto it = threads.find(id);
    if (it == threads.end())
      return always ? "thread $" + std::to_string(id) : std::string();
    creatorAddr = it->second.creatorAddr;
    creatorTid = it->second.creatorTid;
    return it->second.title;
  }
  std::map<uint32_t, KXCrashedStackHint> hints; // the hints given, per thread
  bool CaptureThread(uint32_t id, const KXCrashedStackHint *hint, KXThreadCapture &capture) override {
    if (hint)
      hints[id] = *hint;
    auto it = threads.find(id);
    if (it == threads.end() || !it->second.capturable)
      return false;
    capture = it->second.capture;
    return true;
  }
  std::vector<tidewell::stacktrace::PreStackItem> PrepareStack(const KXThreadStack &) override { return {{}}; }
  tidewell::stacktrace::TraceResult TraceThread(const KXThreadStack &t, const KXTraceOptions &o) override {
    ++traces;
    traced.push_back(t);
    const FakeThread &thread = threads.at(t.threadId);
    if (thread.traceFails)
      throw std::runtime_error("trace");
    tidewell::stacktrace::TraceResult r;
    if (o.abort && *o.abort) {
      r.aborted = true;
      return r;
    }
    r.items = thread.frames;
    r.text = tidewell::stacktrace::CallStackLines(r.items, {o.hideUglyItems, o.showRelativeAddrs, o.showRelativeLines},
                                                  &r.checksum);
    if (!r.items.empty()) {
      r.exceptAddr = r.items[0].Addr;
      r.exceptFunc = r.items[0].FunctionAddr;
      r.exceptFuncAddr = r.items[0].Addr;
    }
    if (o.minDebugInfos)
      for (const std::string &info : minDebugInfo)
        o.minDebugInfos->push_back(info);
    return r;
  }
  std::string LocationLine(uint64_t address, bool, bool) override {
    return address ? Hex(address) + " Tidewell.exe MainUnit 12 TForm1.Crash" : "00401000 Tidewell.exe Report 1 Here";
  }
  uint64_t RegionEnd(uint64_t address) override {
    uint64_t end = address;
    while (memory.count(end))
      ++end;
    return end;
  }
  bool ReadMemory(uint64_t address, uint8_t *buffer, size_t count) override {
    for (size_t i = 0; i < count; ++i) {
      auto it = memory.find(address + i);
      if (it == memory.end())
        return false;
      buffer[i] = it->second;
    }
    return true;
  }
  bool DisassemblerPresent() override { return disassembler; }
  std::string Disassemble(uint64_t start, uint64_t at, int limit, bool format) override {
    return "function " + Hex(start) + " at " + Hex(at) + " limit " + std::to_string(limit) + (format ? " formatted" : "");
  }
  std::shared_ptr<IKXCompletionThread> StartThread(std::function<void()> work) override {
    if (!runThreads)
      return nullptr;
    return std::make_shared<FakeThreadRun>(std::move(work));
  }

  static std::string Hex(uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%08llx", static_cast<unsigned long long>(v));
    return buf;
  }
};

} // namespace kx::test
