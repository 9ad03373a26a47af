#pragma once
// A host that records what the exception object and the handling sequence ask of the process.
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "crash/capture/exception/KXExceptionHost.h"
#include "crash/capture/exception/KXExceptionObject.h"
#include "tests/crash/base/settings/FakePlatform.h"

namespace kx::test {

// A completion that ends when the test says so.
class FakeCompletion : public IKXCompletionThread {
public:
  std::function<void()> onWait; // runs on every wait step (the "work" of the thread)
  bool ended = false;
  bool raised = false, terminated = false;
  int waits = 0;
  uint32_t ThreadId() override { return 4242; }
  bool WaitFor(uint32_t) override {
    if (++waits > 1000)
      std::abort(); // a wait that never ends
    if (onWait)
      onWait();
    return ended;
  }
  void RaisePriority() override { raised = true; }
  void Terminate() override { terminated = true; }
};

// Lists the class and message; completion adds a "complete" line.
class FakeComposer : public IKXReportComposer {
public:
  int builds = 0, completions = 0;
  std::shared_ptr<FakeCompletion> completion; // handed to the exception when set
  // Fills the lists once, inside an update bracket; without a completion to wait for, the
  // report is complete at once.
  void BuildLists(TIKXException &e, bool startCompletion) override {
    auto header = e.GetBugReportHeader();
    if (header->GetItemCount() > 0)
      return;
    ++builds;
    KXCompositionResult filled;
    filled.openHeader = filled.openSections = true;
    filled.header = {{"exception class", e.GetExceptClass()}, {"exception message", e.GetExceptMessage()}};
    filled.complete = !completion;
    if (startCompletion && completion)
      filled.completionThread = completion;
    e.ApplyComposition(filled);
  }
  void CompleteHere(TIKXException &e) override {
    ++completions;
    e.ApplyComposition(Completed());
  }
  // What a completion hands back when it is done.
  static KXCompositionResult Completed() {
    KXCompositionResult r;
    r.complete = true;
    return r;
  }
  std::string Compose(TIKXException &e) override {
    std::string text = FieldsText(*e.GetBugReportHeader());
    return e.IsComplete() ? text + "|complete" : text;
  }
};

class FakeProgress : public IProgressAlert {
public:
  int shows = 0, pumps = 0, closes = 0;
  std::string GetTitle() override { return {}; }
  void SetTitle(const std::string &) override {}
  int32_t GetPosition() override { return 0; }
  void SetPosition(int32_t) override {}
  void AddArea(int64_t, const std::string &) override {}
  void ClearAreas() override {}
  void AreaDone() override {}
  int32_t GetCurrentArea() override { return 0; }
  void SetCurrentArea(int32_t) override {}
  void ProcessMessages() override { ++pumps; }
  bool Show(KXWindowHandle, bool) override { return ++shows == 1; }
  void Close() override { ++closes; }
};

// All five parts in one object, so that a test reads and overrides any of them in one place.
class FakeHost : public IKXExceptionHost,
                 public IKXThreadHost,
                 public IKXDataHost,
                 public IKXWindowHost,
                 public IKXOutputHost,
                 public IKXProcessEndHost {
public:
  explicit FakeHost(std::shared_ptr<IKXModuleSettings> settings) : settings(std::move(settings)) {}

  IKXThreadHost &Threads() override { return *this; }
  IKXDataHost &Data() override { return *this; }
  IKXWindowHost &Windows() override { return *this; }
  IKXOutputHost &Outputs() override { return *this; }
  IKXProcessEndHost &ProcessEnd() override { return *this; }

  std::shared_ptr<IKXModuleSettings> settings;
  FakeComposer composer;
  std::shared_ptr<FakeProgress> progress = std::make_shared<FakeProgress>();
  int64_t now = 13400000000;
  bool handlingThread = true, lockHeld = false, console = false, mainThreadAnswers = true;
  std::vector<std::string> calls; // in order
  std::vector<std::string> consoleLines;
  std::vector<std::pair<bool, std::string>> saves; // automatic, text
  std::vector<std::string> sends;
  std::vector<std::string> clipboard;
  std::vector<TExceptionBoxForm> boxes;
  std::function<void(IKXException &)> onShow; // what the "user" does in the dialog
  int screenshots = 0;
  bool screenshotFails = false;
  std::uintptr_t nextThread = 100;

  int64_t NowSeconds() override { return now; }
  KXLocalTime LocalNow() override { return {2026, 12, 9, 10, 0, 0, 0}; }
  uint32_t CurrentThreadId() override { return 7; }
  uint32_t MainThreadId() override { return 1; }
  bool IsHandlingThread() override { return handlingThread; }
  bool ProcessLockHeld(uint32_t) override { return lockHeld; }
  void PauseOtherThreads(bool pause, uint32_t) override { calls.push_back(pause ? "pause" : "resume"); }
  bool ResumeMainThreadTemporarily() override { return false; }
  void PauseMainThreadAgain() override {}
  void ResetFreezeMissCounter() override { calls.push_back("reset freeze"); }
  bool ReporterInExecutable() override { return true; }
  bool CallOnMainThread(const std::function<void()> &call) override {
    calls.push_back("main thread call");
    if (!mainThreadAnswers)
      return false;
    call();
    return true;
  }
  std::vector<std::uintptr_t> settingsAddresses; // what SettingsOfAddress was asked, in order
  std::shared_ptr<IKXModuleSettings> SettingsOfAddress(std::uintptr_t address) override {
    settingsAddresses.push_back(address);
    return settings;
  }
  std::shared_ptr<IKXModuleSettings> CallerSettings() override { return settings; }
  int corrections = 0;
  std::uintptr_t correctionShift = 0; // what each correction adds to the address
  std::uintptr_t CorrectExceptAddress(std::uintptr_t address, const KXExceptObject &) override {
    ++corrections;
    return address + correctionShift;
  }
  void CurrentStackPointers(std::uintptr_t &esp, std::uintptr_t &ebp) override {
    esp = 0x12ff00;
    ebp = 0x12ff40;
  }
  IKXReportComposer &ReportComposer() override { return composer; }
  void EmptyTempDirectory() override { calls.push_back("empty temp"); }
  std::shared_ptr<IProgressAlert> CreatePleaseWait(const std::string &, KXModule) override { return progress; }
  std::shared_ptr<INVBitmap> CaptureScreenShot(IKXException &) override {
    ++screenshots;
    if (screenshotFails)
      return nullptr;
    return std::shared_ptr<INVBitmap>(reinterpret_cast<INVBitmap *>(new char(1)),
                                      [](INVBitmap *p) { delete reinterpret_cast<char *>(p); });
  }
  void ShowExceptionBox(IKXException &e, TExceptionBoxForm form) override {
    boxes.push_back(form);
    calls.push_back("show");
    if (onShow)
      onShow(e);
  }
  std::map<std::string, bool> assistants; // name -> ends with OK
  bool RunAssistant(IKXException &, const std::string &name, KXWindow, bool &ok) override {
    calls.push_back("assistant " + name);
    auto it = assistants.find(name);
    if (it == assistants.end())
      return false;
    ok = it->second;
    return true;
  }
  KXWindow dialog = 0;
  KXWindow DialogWindow() override { return dialog; }
  void PostWindowMessage(KXWindow, uint32_t message) override { calls.push_back("post " + std::to_string(message)); }
  void SendWindowMessage(KXWindow, uint32_t message) override { calls.push_back("send " + std::to_string(message)); }
  void SetArrowCursor() override {}
  bool IsConsoleProgram() override { return console; }
  void WriteConsoleLine(const std::string &line) override { consoleLines.push_back(line); }
  std::uintptr_t StartSend(IKXException &, const std::string &report, bool, KXWindow, bool hidden, bool, bool) override {
    sends.push_back((hidden ? "hidden:" : "") + report);
    return nextThread++;
  }
  std::vector<std::pair<std::uintptr_t, bool>> closedThreads;
  void CloseThreadHandle(std::uintptr_t thread, bool wait) override { closedThreads.emplace_back(thread, wait); }
  void SaveBugReportFile(IKXException &, const std::string &report, bool automatic, KXWindow) override {
    saves.emplace_back(automatic, report);
  }
  void PrintBugReport(IKXException &, const std::string &, KXWindow) override { calls.push_back("print"); }
  void CopyToClipboard(const std::string &text) override { clipboard.push_back(text); }
  std::string miniDumpError; // what WriteMiniDump answers
  std::string WriteMiniDump(IKXException &) override {
    calls.push_back("minidump");
    return miniDumpError;
  }
  void CloseProcess() override { calls.push_back("close process"); }
  void RestartProcess() override { calls.push_back("restart process"); }

  int Count(const std::string &call) const { return int(std::count(calls.begin(), calls.end(), call)); }
};

} // namespace kx::test
