// The crash laboratory: provokes one kind of failure on demand, in a program that runs the
// reporter as the tool does, and writes what the reporter caught and how the program went on.
//
//   crashlab <kind> <result file> [continue|close|restart] [cycles]
//
// Instead of showing a window, the reporter's show step writes a "caught" line (class, message,
// source, can continue, thread, where the registers were taken) and then takes the action given.
// Other lines record what the program saw afterwards.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "crash/capture/catching/win32/KXCatchingPoints.h"
#include "crash/capture/exception/KXExceptionTimes.h"
#include "crash/capture/exception/win32/KXWin32ExceptionHost.h"
#include "crash/capture/threads/win32/ThreadRegistry.h"
#include "crash/report/composition/ReportPlugins.h"
#include "crash/shell/win32/KXReporter.h"
#include "runtime/Exception.h"
#include "runtime/win32/Application.h"
#include "runtime/win32/Forms.h"
#include "runtime/win32/RuntimeHooks.h"
#include "runtime/win32/Thread.h"
#include "tests/support/TestTime.h"

namespace {

std::string gKind, gAction = "continue";
std::FILE *gOut = nullptr;
std::atomic<int> gCaught{0};
std::atomic<int> gShowing{0}; // show steps running at this moment
DWORD gMainThread = 0;
DWORD gStart = GetTickCount();
HWND gWindow = nullptr;
constexpr UINT kProvoke = WM_APP + 1;
constexpr UINT kNested = WM_APP + 2;
constexpr UINT kFinish = WM_APP + 3;

void Line(const char *text) {
  std::fprintf(gOut, "%s\n", text);
  std::fflush(gOut);
}
void Line(const std::string &text) { Line(text.c_str()); }

// Faults that happen in code of their own, so the recorded registers can be told from the
// handler's.
__attribute__((noinline)) void WriteThroughNull(volatile int *p) { *p = 42; }
__attribute__((noinline)) int DivideBy(int divisor) {
  volatile int d = divisor;
  return 1000 / d;
}
__attribute__((noinline)) int Recurse(int depth) {
  volatile char pad[512];
  pad[0] = char(depth);
  return depth > 1000000000 ? pad[0] : Recurse(depth + 1) + pad[0];
}

bool InFunction(std::uintptr_t address, const void *function) {
  auto start = reinterpret_cast<std::uintptr_t>(function);
  return address >= start && address - start < 0x100;
}

void Record(kx::IKXException &e) {
  ++gCaught;
  const kx::KXRegisterContext *c = e.GetContext();
  std::string where = "none";
  if (c) {
    std::uintptr_t eip = std::uintptr_t(c->rip);
    if (InFunction(eip, reinterpret_cast<const void *>(&WriteThroughNull)) ||
        InFunction(eip, reinterpret_cast<const void *>(&DivideBy)))
      where = "fault";
    else
      where = "elsewhere";
  }
  char buf[512];
  std::snprintf(buf, sizeof buf, "caught %s|%s|source=%d|continue=%d|thread=%s|registers=%s", e.GetExceptClass().c_str(),
                e.GetExceptMessage().c_str(), int(e.GetSource()), int(e.GetCanContinue()),
                e.GetCrashedThreadId() == gMainThread ? "main" : "other", where.c_str());
  Line(buf);
  if (gKind == "worker" || gKind == "tthread") {
    // The crashed thread's section comes first: its trace's first line names where it failed.
    e.GetBugReport(true);
    std::shared_ptr<kx::IKXFields> sections = e.GetBugReportSections();
    if (sections && sections->GetItemCount() > 0) {
      std::string trace = sections->GetContent(sections->GetItem(0));
      Line("top " + trace.substr(0, trace.find('\r')));
    }
  }
  if (gKind == "freeze")
    Line("at " + std::to_string(GetTickCount() - gStart));
}

void ShowRecorder(kx::IKXException &e, kx::TExceptionBoxForm) {
  if (gShowing.fetch_add(1) != 0)
    Line("overlap");
  if (gKind == "threads8")
    Line("enter");
  Record(e);
  if (gKind == "threads8") {
    // Long enough for a second handling to start, were the handlings not one after the other.
    Sleep(tidewell_test::ScaledMs(20));
    Line("leave");
  }
  --gShowing;
  if (gKind == "internal")
    throw std::runtime_error("the show step failed");
  if (gKind == "nested" && gCaught == 1) {
    // A message that raises again reaches the main thread while it waits for this handling.
    PostMessageW(gWindow, kNested, 0, 0);
    Sleep(500);
  }
  if (gKind == "quit")
    PostThreadMessageW(gMainThread, WM_QUIT, 7, 0);
  if (gAction == "close")
    e.CloseApplication(0);
  else if (gAction == "restart")
    e.RestartApplication(0);
  else
    e.ContinueApplication(0);
}

class Worker : public TThread {
public:
  Worker() : TThread(true) {}

protected:
  void Execute() override {
    if (gKind == "tthread")
      throw EConvertError("'x' is not a valid integer value");
    if (gKind == "sync") {
      Synchronize([] { throw Exception("raised in a synchronised call"); });
      Line("worker returned");
    }
  }
};

DWORD WINAPI WaitForEvent(void *event) {
  return WaitForSingleObject(static_cast<HANDLE>(event), tidewell_test::ScaledMs(20000));
}

DWORD WINAPI FaultingWorker(void *) {
  WriteThroughNull(nullptr);
  return 5;
}

// Threads that fault together: each says it is ready, then waits for the common start.
std::atomic<int> gReady{0};
DWORD WINAPI FaultWhenReleased(void *go) {
  ++gReady;
  WaitForSingleObject(static_cast<HANDLE>(go), tidewell_test::ScaledMs(60000));
  WriteThroughNull(nullptr);
  return 5;
}

// A report plug-in that faults while the report is composed.
std::string FaultingPlugin() {
  WriteThroughNull(nullptr);
  return "not reached";
}

// The memory used up, without the machine paying for it: every free range of the address
// space is reserved (reserved pages cost no memory), so the heap cannot grow; then what is left
// inside the heap goes in blocks of falling sizes. Both are kept until the fault is handled.
constexpr size_t kMaxBlocks = 1 << 16;
void *gBlocks[kMaxBlocks];
size_t gBlockCount = 0;
constexpr size_t kMaxRanges = 1 << 14;
void *gRanges[kMaxRanges];
size_t gRangeCount = 0;
bool gExhausted = false;
void ExhaustMemory() {
  for (size_t size = size_t(1) << 30; size >= 0x10000; size /= 2)
    while (gRangeCount < kMaxRanges) {
      void *range = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
      if (!range)
        break;
      gRanges[gRangeCount++] = range;
    }
  for (size_t size = size_t(64) << 20; size >= 8; size /= 2)
    while (gBlockCount < kMaxBlocks) {
      void *block = std::malloc(size);
      if (!block)
        break;
      gBlocks[gBlockCount++] = block;
    }
  void *more = std::malloc(8);
  gExhausted = !more;
  std::free(more);
}
void ReleaseMemory() {
  for (size_t i = 0; i < gBlockCount; ++i)
    std::free(gBlocks[i]);
  for (size_t i = 0; i < gRangeCount; ++i)
    VirtualFree(gRanges[i], 0, MEM_RELEASE);
  char buf[64];
  std::snprintf(buf, sizeof buf, "released %u blocks exhausted=%d", unsigned(gBlockCount), int(gExhausted));
  gBlockCount = 0;
  gRangeCount = 0;
  Line(buf);
}

// A report plug-in that uses up the memory again while the report is composed (the reserve went
// back when the handling began) and then asks for more: its std::bad_alloc must still be thrown.
std::string ExhaustingPlugin() {
  struct GiveBack {
    ~GiveBack() { ReleaseMemory(); }
  } giveBack;
  ExhaustMemory();
  return std::string(100000, 'x');
}

// Overwrites the block headers before and after an allocation of the given heap (null: the
// runtime's heap) whose neighbour is another block of the laboratory. The three blocks are never
// freed, so the damage stays for the rest of the run.
bool DamageHeapAround(HANDLE heap) {
  constexpr size_t size = 48;
  auto allocate = [&] { return static_cast<BYTE *>(heap ? HeapAlloc(heap, 0, size) : std::malloc(size)); };
  for (int attempt = 0; attempt < 64; ++attempt) {
    allocate();
    BYTE *block = allocate(), *next = allocate();
    if (block && next > block + size && next <= block + size + 32) {
      std::memset(block - 8, 0xCC, 8);
      std::memset(block + size, 0xCC, size_t(next - (block + size)));
      return true;
    }
  }
  return false;
}

// One cycle of the restart test: the how-many-th run this is (from the runs recorded in the
// result file), how many earlier exceptions this run knows of, then a fault outside any message
// loop while cycles remain. The reporter restarts the program for it.
void RunCycle(const char *resultFile, int cycles) {
  int run = 1;
  if (std::FILE *in = std::fopen(resultFile, "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, in))
      if (std::strncmp(line, "run ", 4) == 0)
        ++run;
    std::fclose(in);
  }
  int known = 0;
  for (int64_t time : kx::ExceptionTimes())
    known += time != 0;
  char buf[64];
  std::snprintf(buf, sizeof buf, "run %d times=%d", run, known);
  Line(buf);
  if (run <= cycles)
    WriteThroughNull(nullptr);
  Line("cycles done");
}

// The import-table entry of kernel32's CreateThread in the executable, or null.
FARPROC *CreateThreadSlot() {
  auto base = reinterpret_cast<BYTE *>(GetModuleHandleW(nullptr));
  auto nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
  auto dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  FARPROC real = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateThread");
  for (auto d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress); d->Name; ++d) {
    auto names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
    auto slots = reinterpret_cast<FARPROC *>(base + d->FirstThunk);
    for (int i = 0; names[i].u1.AddressOfData; ++i) {
      if (IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal))
        continue;
      auto byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names[i].u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<char *>(byName->Name), "CreateThread") == 0 && (slots[i] == real || real))
        return &slots[i];
    }
  }
  return nullptr;
}

class LabForm : public TForm {
public:
  LabForm() : TForm("TCrashLab", "Crash laboratory", 200, 100) {}

protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (msg == kProvoke) {
      // Caught as the form's window procedure catches; the laboratory ends once the handling is
      // over. (A message posted while the exception unwinds would be dispatched by the waiting
      // main thread and end the laboratory before the report.)
      try {
        Provoke();
      } catch (...) {
        Application->HandleException(this);
      }
      PostMessageW(Handle(), kFinish, 0, 0);
      return 0;
    }
    if (msg == kFinish) {
      if (gKind == "oom")
        ReleaseMemory();
      Close();
      return 0;
    }
    if (msg == kNested) {
      Line("raising the nested one");
      throw EConvertError("'nested' is not a valid integer value");
    }
    return TForm::WndProc(msg, wParam, lParam);
  }

private:
  void Provoke() {
    if (gKind == "convert")
      throw EConvertError("'' is not a valid integer value");
    if (gKind == "abort")
      throw EAbort("Operation aborted");
    if (gKind == "dberror")
      throw EDBEditError("Invalid input value");
    if (gKind == "stdlib")
      (void)std::string("abc").at(10);
    if (gKind == "av" || gKind == "internal" || gKind == "oomplugin")
      WriteThroughNull(nullptr);
    if (gKind == "oom") {
      // A program that has run a while has raised exceptions before: the runtime's unwinder has
      // set up its tables, which it does on first use, with memory.
      try {
        throw EConvertError("warm-up");
      } catch (const EConvertError &) {
      }
      ExhaustMemory();
      WriteThroughNull(nullptr);
    }
    if (gKind == "heap") {
      bool damaged = DamageHeapAround(GetProcessHeap()) && DamageHeapAround(nullptr);
      Line(damaged ? "heap damaged" : "heap not damaged");
      WriteThroughNull(nullptr);
    }
    if (gKind == "threads8") {
      constexpr int kThreads = 8;
      HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      HANDLE threads[kThreads];
      for (HANDLE &t : threads)
        t = CreateThread(nullptr, 0, &FaultWhenReleased, go, 0, nullptr);
      DWORD until = GetTickCount() + tidewell_test::ScaledMs(20000);
      while (gReady < kThreads && GetTickCount() < until)
        Sleep(1);
      SetEvent(go);
      bool ended = WaitForMultipleObjects(kThreads, threads, TRUE, tidewell_test::ScaledMs(120000)) == WAIT_OBJECT_0;
      int faulted = 0;
      for (HANDLE t : threads) {
        DWORD code = 0;
        GetExitCodeThread(t, &code);
        faulted += code == 0xFFFFFFFF;
        CloseHandle(t);
      }
      CloseHandle(go);
      Line("threads ready=" + std::to_string(gReady.load()) + " ended=" + std::to_string(int(ended)) +
           " faulted=" + std::to_string(faulted));
    }
    if (gKind == "div0")
      Line(std::to_string(DivideBy(0)));
    if (gKind == "overflow")
      Line(std::to_string(Recurse(0)));
    if (gKind == "nested" || gKind == "quit") {
      try {
        throw Exception("first");
      } catch (...) {
        Application->HandleException(this);
      }
      Line("first returned");
      MSG quit;
      if (gKind == "quit" && PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE))
        Line("quit reposted " + std::to_string(quit.wParam));
      return;
    }
    if (gKind == "terminate")
      std::terminate();
    if (gKind == "freeze") {
      // The main thread retrieves no message for twice the watch's timeout of one second.
      Line("blocking at " + std::to_string(GetTickCount() - gStart));
      Sleep(2000);
      Line("main thread answers again at " + std::to_string(GetTickCount() - gStart));
      // The report of the freeze is handled while the main thread answers; the laboratory ends
      // after it has been shown.
      DWORD until = GetTickCount() + tidewell_test::ScaledMs(20000);
      while (gCaught == 0 && GetTickCount() < until) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
          TranslateMessage(&msg);
          DispatchMessageW(&msg);
        }
      }
    }
    if (gKind == "worker") {
      DWORD id = 0;
      HANDLE t = CreateThread(nullptr, 0, &FaultingWorker, nullptr, 0, &id);
      WaitForSingleObject(t, tidewell_test::ScaledMs(20000));
      DWORD code = 0;
      GetExitCodeThread(t, &code);
      kx::ThreadRecord record;
      bool registered = kx::FindThreadRecord(id, record, 1000);
      char buf[96];
      std::snprintf(buf, sizeof buf, "worker exit=%lx registered=%d", static_cast<unsigned long>(code), int(registered));
      Line(buf);
      CloseHandle(t);
    }
    if (gKind == "tthread" || gKind == "sync") {
      Worker w;
      w.Start();
      DWORD code = w.WaitFor();
      Line("thread exit=" + std::to_string(code));
    }
    if (gKind == "named") {
      // A thread that waits, named from here by the platform's thread-naming exception.
      HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      DWORD id = 0;
      HANDLE t = CreateThread(nullptr, 0, &WaitForEvent, go, 0, &id);
      struct {
        DWORD type;
        const char *name;
        DWORD threadId;
        DWORD flags;
      } info{0x1000, "lab worker", id, 0};
      RaiseException(0x406D1388, 0, sizeof info / sizeof(ULONG_PTR), reinterpret_cast<const ULONG_PTR *>(&info));
      Line("title " + kx::ThreadTitle(id, true).title.substr(0, 12));
      SetEvent(go);
      WaitForSingleObject(t, tidewell_test::ScaledMs(20000));
      CloseHandle(t);
      CloseHandle(go);
    }
  }
};

} // namespace

int main(int argc, char **argv) {
  if (argc < 3)
    return 90;
  gKind = argv[1];
  gOut = std::fopen(argv[2], "a");
  if (!gOut)
    return 91;
  if (argc > 3)
    gAction = argv[3];
  gMainThread = GetCurrentThreadId();

  FARPROC *slot = CreateThreadSlot();
  FARPROC before = slot ? *slot : nullptr;
  bool active = kx::StartReporter();
  Line(std::string("reporter ") + (active ? "active" : "absent"));
  kx::KXWin32ExceptionHost::Instance().SetConsoleDetection(false);
  kx::KXWin32ExceptionHost::Instance().SetExceptionBox(&ShowRecorder);
  if (gKind == "internal")
    kx::AddReportPlugin("lab fault", "faults while the report is composed", &FaultingPlugin, true);
  if (gKind == "oomplugin")
    kx::AddReportPlugin("lab fault", "uses up the memory while the report is composed", &ExhaustingPlugin, true);

  int exitCode = 0;
  try {
    if (gKind == "cycle") {
      RunCycle(argv[2], argc > 4 ? std::atoi(argv[4]) : 1);
    } else if (gKind == "patches") {
      Line(std::string("patched ") + (slot && *slot != before ? "yes" : "no"));
    } else if (gKind == "main-throw") {
      throw KesException("raised outside the message loop");
    } else {
      TApplication application;
      Application = &application;
      LabForm form;
      gWindow = form.Handle();
      PostMessageW(gWindow, kProvoke, 0, 0);
      application.Run();
      Application = nullptr;
      MSG msg;
      if (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        exitCode = int(msg.wParam);
    }
  } catch (...) {
    Application = nullptr;
    if (RuntimeHooks().topLevelException)
      RuntimeHooks().topLevelException();
    Line("top level returned");
  }
  kx::StopReporter();
  if (gKind == "patches")
    Line(std::string("restored ") + (slot && *slot == before ? "yes" : "no"));
  Line("end " + std::to_string(gCaught.load()));
  std::fclose(gOut);
  return exitCode;
}
