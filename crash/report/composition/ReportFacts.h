#pragma once
// What the report composition needs from the live process: the machine and process facts of the
// header, the threads and their stacks, the stack tracer, memory reads, the disassembler and a
// background thread for the completion. The Win32 part implements it over this process; tests
// implement it with fixed facts.
//
// Every method may fail by throwing; the composition treats a failure as "this field or section
// could not be made" and goes on.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crash/analysis/stacktrace/StackTracer.h"
#include "crash/base/settings/KXPlatform.h"
#include "crash/capture/exception/KXExceptionHost.h"
#include "crash/report/composition/SystemTexts.h"

namespace kx {

struct KXDisplayMode {
  int width = 0, height = 0, bitsPerPixel = 0, planes = 1;
};

// What a thread looks like when its section is made.
struct KXThreadCapture {
  uint64_t stackPointer = 0; // the lowest address to scan
  uint64_t stackEnd = 0;     // end of the memory region that holds the stack pointer
  uint64_t framePointer = 0;
  bool wasSuspended = false;
  int priority = 0;
  uint64_t instructionPointer = 0;
};

// The stack pointers the crashed thread is traced from: the exception's context when there is
// one, else the values recorded when the exception was caught.
struct KXCrashedStackHint {
  bool hasContext = false;
  uint64_t contextEsp = 0, contextEbp = 0;
  std::uintptr_t caughtEsp = 0, caughtEbp = 0;
};

// One thread whose stack is to be traced, in section order.
struct KXThreadStack {
  std::string threadName;   // the section title
  uint64_t exceptAddr = 0;  // the exception address for the crashed thread, 0 for the others
  bool exceptThread = false;
  bool extException = false;
  uint64_t stackBottom = 0, stackTop = 0;
  uint64_t creatorAddr = 0;
  uint64_t ebp = 0;
  uint64_t currentAddr = 0; // where the thread was when its section was made
  bool bcbTermination = false;
  uint32_t threadId = 0;
  uint32_t creatorTid = 0;
  std::vector<tidewell::stacktrace::PreStackItem> preparedStack;
  // The crashed thread's registers at the exception, when it has a context: an x86-64 trace
  // starts from them.
  std::optional<KXRegisterContext> registers;
};

struct KXTraceOptions {
  bool hideUglyItems = false, showRelativeAddrs = false, showRelativeLines = false;
  const std::atomic<bool> *abort = nullptr;
  tidewell::stacktrace::ITraceProgress *progress = nullptr;
  std::vector<std::string> *minDebugInfos = nullptr;
};

class IKXReportFacts {
public:
  virtual ~IKXReportFacts() = default;

  // --- header facts ---
  virtual std::string ComputerName() = 0;
  // The terminal-services client name; "" when not in a remote session (or not NT).
  virtual std::string WtsClientName() = 0;
  virtual std::string UserName() = 0;
  virtual bool UserIsAdministrator() = 0;
  virtual std::string RegisteredOwner() = 0;
  virtual std::string RegisteredOrganization() = 0;
  virtual KXOsVersion OsVersion() = 0;
  virtual std::string SystemLanguage() = 0;
  // Seconds since the system started; nullopt without a performance counter.
  virtual std::optional<int64_t> SystemUpSeconds() = 0;
  // Milliseconds since the program started; nullopt when no start was recorded.
  virtual std::optional<int64_t> ProgramUpMilliseconds() = 0;
  // ProcessorNameString of processor i (0..15); "" when it has none.
  virtual std::string ProcessorName(int index) = 0;
  virtual bool PhysicalMemory(uint64_t &availableBytes, uint64_t &totalBytes) = 0;
  // Free GDI and USER resources; false outside the 9x family.
  virtual bool SystemResources(int &gdiPercent, int &userPercent) = 0;
  virtual std::string WindowsDirectory() = 0;
  // Free bytes of the drive with the letter; nullopt when it cannot be asked.
  virtual std::optional<uint64_t> FreeDiskBytes(char driveLetter) = 0;
  virtual char DecimalSeparator() = 0;
  virtual KXDisplayMode DisplayMode() = 0;
  virtual uint32_t ProcessId() = 0;
  // Committed memory of the process that belongs to no loaded image.
  virtual uint64_t AllocatedMemory() = 0;
  virtual std::string CommandLine() = 0;
  virtual bool HasParameters() = 0;
  virtual std::string ExecutablePath() = 0;
  // Path of the module that contains the reporter.
  virtual std::string ReporterModulePath() = 0;
  // Local last-write time of a file; nullopt when it is not found.
  virtual std::optional<KXLocalTime> FileLastWrite(const std::string &path) = 0;
  // nullopt when the file has no version resource.
  virtual std::optional<KXFileVersion> FileVersion(const std::string &path) = 0;
  // Path of a loaded module of that name; "" when it is not loaded.
  virtual std::string LoadedModulePath(const std::string &name) = 0;
  // Major linker version of the reporter's image; -1 when the header cannot be read.
  virtual int LinkerMajorVersion() = 0;

  // --- threads and stacks ---
  virtual uint32_t CurrentThreadId() = 0;
  virtual uint32_t MainThreadId() = 0;
  // The threads of the process in the order of the system's list.
  virtual std::vector<uint32_t> ThreadIds() = 0;
  // The thread's title (see FormatThreadTitle) and where it was created.
  virtual std::string ThreadTitle(uint32_t threadId, bool always, uint64_t &creatorAddr, uint32_t &creatorTid) = 0;
  // Registers and stack of a thread; for the crashed thread `hint` names the stack pointers to
  // use. False when the thread cannot be opened or its context or stack region not read.
  virtual bool CaptureThread(uint32_t threadId, const KXCrashedStackHint *hint, KXThreadCapture &capture) = 0;
  // The candidate list of the stack, made now.
  virtual std::vector<tidewell::stacktrace::PreStackItem> PrepareStack(const KXThreadStack &thread) = 0;
  // Traces one thread. A process whose stacks the tracer cannot read returns a result whose
  // text says so.
  virtual tidewell::stacktrace::TraceResult TraceThread(const KXThreadStack &thread, const KXTraceOptions &options) = 0;
  // The location line of a code address; 0 stands for the caller's own call site.
  virtual std::string LocationLine(uint64_t address, bool showRelativeAddrs, bool showRelativeLines) = 0;
  // End of the memory region that holds the address; 0 when it cannot be asked.
  virtual uint64_t RegionEnd(uint64_t address) = 0;
  virtual bool ReadMemory(uint64_t address, uint8_t *buffer, size_t count) = 0;

  // --- disassembly ---
  virtual bool DisassemblerPresent() = 0;
  virtual std::string Disassemble(uint64_t functionStart, uint64_t exceptAddr, int limit, bool format) = 0;

  // --- the completion thread ---
  // Runs work on a new thread (priority above normal); null when no thread could be made.
  virtual std::shared_ptr<IKXCompletionThread> StartThread(std::function<void()> work) = 0;
};

} // namespace kx
