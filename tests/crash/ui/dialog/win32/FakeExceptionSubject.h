#pragma once
// A stand-in exception for the dialog tests: settings from the built-in defaults with overrides,
// and user actions that are recorded and end the dialog the way the exception object does.
#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "crash/base/settings/KXSettings.h"
#include "crash/ui/dialog/ExceptionBoxSubject.h"

namespace kx {

#define KX_OP(...) __VA_ARGS__ override;
#define KX_GB(op, key) bool op() override { return Bool(key); }
#define KX_SB(op, key) void op(bool value) override { SetInt(key, value); }
#define KX_GD(op, key) uint32_t op() override { return uint32_t(Int(key)); }
#define KX_SD(op, key) void op(uint32_t value) override { SetInt(key, int32_t(value)); }
#define KX_GI(op, key) int32_t op() override { return Int(key); }
#define KX_SI(op, key) void op(int32_t value) override { SetInt(key, value); }
#define KX_GS(op, key) std::string op() override { return Text(key); }
#define KX_SS(op, key) void op(const std::string &value) override { SetText(key, value); }
#define KX_GE(op, key, type) type op() override { return type(Int(key)); }
#define KX_SE(op, key, type) void op(type value) override { SetInt(key, int32_t(value)); }

class TFakeSettings : public IKXSettings {
public:
#define KX_SETTINGS_OPS
#include "crash/base/settings/KXSettingsOps.inc"
#undef KX_SETTINGS_OPS

  bool Bool(const std::string &key);
  int32_t Int(const std::string &key);
  std::string Text(const std::string &key);
  void SetInt(const std::string &key, int32_t value);
  void SetText(const std::string &key, const std::string &value);

private:
  std::mutex FLock;
  std::map<std::string, int32_t> FInts;
  std::map<std::string, std::string> FTexts;
};

#include "crash/base/settings/KXSettingsOpsEnd.inc"

class TFakeExceptionSubject : public IExceptionBoxSubject {
public:
  TFakeSettings settings;
  std::string message = "Access violation at address 00401234. Read of address 00000000.";
  std::string exceptClass = "EAccessViolation";
  std::string report = "report so far";
  bool frozen = false;
  bool canContinue = true;

  // What happened, in order: "send", "continue", "details-event", "clipboard:<text>", ...
  std::vector<std::string> Events();
  void ClearEvents();
  std::atomic<int> callbacks{0};
  std::atomic<HWND> frozenDialog{nullptr};

  IKXSettings &Settings() override { return settings; }
  bool IsFrozen() override { return frozen; }
  bool CanContinue() override { return canContinue; }
  std::string ExceptMessage() override { return message; }
  std::string ExceptClass() override { return exceptClass; }
  std::string DialogText(bool frozen, const std::string &message) override;
  bool AutoActionDue(uint32_t value) override { return value == 1; }
  std::string BugReportSoFar() override;
  TReportSnapshot ReportSnapshot() override;
  void SetSnapshot(const TReportSnapshot &value);
  void SendBugReport(KXBoxWindow parent) override { Record("send", parent); }
  void SaveBugReport(KXBoxWindow parent) override { Record("save", parent); }
  void PrintBugReport(KXBoxWindow parent) override { Record("print", parent); }
  void ContinueApplication(KXBoxWindow parent) override { Ending("continue", parent); }
  void RestartApplication(KXBoxWindow parent) override { Ending("restart", parent); }
  void CloseApplication(KXBoxWindow parent) override { Ending("close", parent); }
  bool FireEvent(TExceptionBoxEvent event, KXBoxWindow parent) override;
  void RegisterBugReportCallback(KXBoxWindow dialog) override;
  void UnregisterBugReportCallback(KXBoxWindow dialog) override;
  void PostFreezeDialog(KXBoxWindow dialog) override { frozenDialog = dialog; }
  void CopyToClipboard(const std::string &text) override { Record("clipboard:" + text, nullptr); }

  // Notifies the registered window, as a report change would (from any thread).
  void ReportChanged();
  void SetReport(const std::string &text);

private:
  void Record(const std::string &event, KXBoxWindow parent);
  void Ending(const std::string &event, KXBoxWindow parent);
  std::mutex FLock;
  std::vector<std::string> FEvents;
  HWND FWatcher = nullptr;
  TReportSnapshot FSnapshot{{{"exception class", "EAccessViolation"}}, {{"main thread ($1a4)", "00401234 +004 Tidewell.exe"}}};
};

} // namespace kx
