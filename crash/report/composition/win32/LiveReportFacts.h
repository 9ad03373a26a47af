#pragma once
// The facts of this process for the bug report: the machine and process facts from the system,
// the threads from the thread registry, stacks, traces and location lines from the stack tracer,
// the disassembly from the decoder, and completion threads made with CreateThread.
#include <windows.h>

#include "crash/report/composition/ReportFacts.h"

namespace kx {

class KXLiveReportFacts final : public IKXReportFacts {
public:
  // startTime gives the program's start in milliseconds of the performance counter (0: none).
  explicit KXLiveReportFacts(int64_t (*startTime)() = nullptr) : FStartTime(startTime) {}

  std::string ComputerName() override;
  std::string WtsClientName() override;
  std::string UserName() override;
  bool UserIsAdministrator() override;
  std::string RegisteredOwner() override;
  std::string RegisteredOrganization() override;
  KXOsVersion OsVersion() override;
  std::string SystemLanguage() override;
  std::optional<int64_t> SystemUpSeconds() override;
  std::optional<int64_t> ProgramUpMilliseconds() override;
  std::string ProcessorName(int index) override;
  bool PhysicalMemory(uint64_t &availableBytes, uint64_t &totalBytes) override;
  bool SystemResources(int &gdiPercent, int &userPercent) override;
  std::string WindowsDirectory() override;
  std::optional<uint64_t> FreeDiskBytes(char driveLetter) override;
  char DecimalSeparator() override;
  KXDisplayMode DisplayMode() override;
  uint32_t ProcessId() override;
  uint64_t AllocatedMemory() override;
  std::string CommandLine() override;
  bool HasParameters() override;
  std::string ExecutablePath() override;
  std::string ReporterModulePath() override;
  std::optional<KXLocalTime> FileLastWrite(const std::string &path) override;
  std::optional<KXFileVersion> FileVersion(const std::string &path) override;
  std::string LoadedModulePath(const std::string &name) override;
  int LinkerMajorVersion() override;

  uint32_t CurrentThreadId() override;
  uint32_t MainThreadId() override;
  std::vector<uint32_t> ThreadIds() override;
  std::string ThreadTitle(uint32_t threadId, bool always, uint64_t &creatorAddr, uint32_t &creatorTid) override;
  bool CaptureThread(uint32_t threadId, const KXCrashedStackHint *hint, KXThreadCapture &capture) override;
  std::vector<tidewell::stacktrace::PreStackItem> PrepareStack(const KXThreadStack &thread) override;
  tidewell::stacktrace::TraceResult TraceThread(const KXThreadStack &thread, const KXTraceOptions &options) override;
  std::string LocationLine(uint64_t address, bool showRelativeAddrs, bool showRelativeLines) override;
  uint64_t RegionEnd(uint64_t address) override;
  bool ReadMemory(uint64_t address, uint8_t *buffer, size_t count) override;

  bool DisassemblerPresent() override { return true; }
  std::string Disassemble(uint64_t functionStart, uint64_t exceptAddr, int limit, bool format) override;

  std::shared_ptr<IKXCompletionThread> StartThread(std::function<void()> work) override;

private:
  int64_t (*FStartTime)();
};

// The first line of a thread section whose stack could not be read (its context or its stack's
// range was not available); the thread's location line follows.
inline constexpr char kStackNotTraceable[] = ">> stack not traced: the thread's stack could not be read";

} // namespace kx
