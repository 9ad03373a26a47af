#include "tests/crash/ui/dialog/win32/FakeExceptionSubject.h"

#include "crash/base/settings/KXDefaults.h"

namespace kx {

KXModule TFakeSettings::Module() { return reinterpret_cast<KXModule>(GetModuleHandleW(nullptr)); }
std::shared_ptr<IKXFields> TFakeSettings::GetAdditionalFields() { return nullptr; }
std::shared_ptr<IKXAttachments> TFakeSettings::GetAdditionalAttachments() { return nullptr; }
std::u16string TFakeSettings::GetBugReportFile() { return u"bugreport.txt"; }
void TFakeSettings::SetBugReportFile(const std::u16string &) {}
bool TFakeSettings::GetPluginEnabled(const std::string &) { return false; }
void TFakeSettings::SetPluginEnabled(const std::string &, bool) {}
std::string TFakeSettings::VersionVar() { return {}; }
std::shared_ptr<INVAssistant> TFakeSettings::GetAssistant(const std::string &) { return nullptr; }

bool TFakeSettings::Bool(const std::string &key) { return Int(key) != 0; }

int32_t TFakeSettings::Int(const std::string &key) {
  std::lock_guard guard(FLock);
  if (auto it = FInts.find(key); it != FInts.end())
    return it->second;
  const TKXProperty *p = FindDefault(key);
  if (!p)
    return 0;
  return p->typ == TPropertyType::ptBoolean ? int32_t(p->vBool) : p->vInt;
}

std::string TFakeSettings::Text(const std::string &key) {
  std::lock_guard guard(FLock);
  if (auto it = FTexts.find(key); it != FTexts.end())
    return it->second;
  const TKXProperty *p = FindDefault(key);
  return p ? p->Text() : std::string();
}

void TFakeSettings::SetInt(const std::string &key, int32_t value) {
  std::lock_guard guard(FLock);
  FInts[key] = value;
}

void TFakeSettings::SetText(const std::string &key, const std::string &value) {
  std::lock_guard guard(FLock);
  FTexts[key] = value;
}

std::string TFakeExceptionSubject::DialogText(bool isFrozen, const std::string &msg) {
  std::string text = isFrozen ? settings.GetFrozenMsg() : settings.GetExceptMsg();
  for (size_t at; (at = text.find("%exceptMsg%")) != std::string::npos;)
    text.replace(at, 11, msg);
  return text;
}

std::string TFakeExceptionSubject::BugReportSoFar() {
  std::lock_guard guard(FLock);
  return report;
}

TReportSnapshot TFakeExceptionSubject::ReportSnapshot() {
  std::lock_guard guard(FLock);
  return FSnapshot;
}

void TFakeExceptionSubject::SetSnapshot(const TReportSnapshot &value) {
  std::lock_guard guard(FLock);
  FSnapshot = value;
}

void TFakeExceptionSubject::SetReport(const std::string &text) {
  std::lock_guard guard(FLock);
  report = text;
}

std::vector<std::string> TFakeExceptionSubject::Events() {
  std::lock_guard guard(FLock);
  return FEvents;
}

void TFakeExceptionSubject::ClearEvents() {
  std::lock_guard guard(FLock);
  FEvents.clear();
}

void TFakeExceptionSubject::Record(const std::string &event, KXBoxWindow parent) {
  std::lock_guard guard(FLock);
  FEvents.push_back(parent && !IsWindow(parent) ? event + "(no window)" : event);
}

void TFakeExceptionSubject::Ending(const std::string &event, KXBoxWindow parent) {
  Record(event, parent);
  if (parent)
    SendMessageW(parent, kBoxCloseMessage, 0, 0);
}

bool TFakeExceptionSubject::FireEvent(TExceptionBoxEvent event, KXBoxWindow parent) {
  Record(event == TExceptionBoxEvent::help ? "help-event" : "details-event", parent);
  return false;
}

void TFakeExceptionSubject::RegisterBugReportCallback(KXBoxWindow dialog) {
  {
    std::lock_guard guard(FLock);
    FWatcher = dialog;
  }
  ++callbacks;
  ReportChanged();
}

void TFakeExceptionSubject::UnregisterBugReportCallback(KXBoxWindow dialog) {
  std::lock_guard guard(FLock);
  if (FWatcher == dialog)
    FWatcher = nullptr;
}

void TFakeExceptionSubject::ReportChanged() {
  HWND watcher;
  {
    std::lock_guard guard(FLock);
    watcher = FWatcher;
  }
  if (watcher)
    PostMessageW(watcher, kBoxReportChangedMessage, kBoxReportChangedW, kBoxReportChangedL);
}

} // namespace kx
