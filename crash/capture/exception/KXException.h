#pragma once
// IKXException: one caught exception or detected freeze, with a per-exception view of its module's
// settings, the decisions taken for it, the bug report and the bookkeeping of sending and saving.
// The crash dialog, the assistants, delivery and saving work only through this interface.
//
// Objects are reference-counted through std::shared_ptr and made by CreateExceptionObject
// (KXExceptionObject.h).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <typeinfo>

#include "crash/base/settings/KXFields.h"
#include "crash/base/settings/KXSettings.h"

class INVBitmap; // a screenshot, made by the screenshot module

namespace kx {

enum class TExceptType : int32_t { etNormal = 0, etFrozen = 1, etHidden = 2 };

enum class TExceptSource : int32_t {
  esManual = 0,
  esAntiFreezeCheck,
  esBcbAbnormalProgramTermination,
  esSysUtilsShowException,
  esApplicationShowException,
  esApplicationHandleException,
  esCGI,
  esISAPI,
  esHttpExtension,
  esIntraweb,
  esTThreadSynchronize,
  esRuntimeError,
  esInitializePackage,
  esExceptProc,
  esSystemExceptionHandler,
  esHidden,
  esThreadFrame,
  esTThreadExecute,
  esUnhandledFilter
};

enum class TExceptPhase : int32_t { epNotHandledYet = 0, epQuickFiltering, epMainPhase, epPostProcessing, epCompleteReport };

enum class TExceptAction : int32_t {
  eaSendBugReport = 0,
  eaSaveBugReport,
  eaPrintBugReport,
  eaSendBugReport2,
  eaSaveBugReport2,
  eaPrintBugReport2,
  eaShowBugReport,
  eaHelp,
  eaContinueApplication,
  eaRestartApplication,
  eaCloseApplication
};

enum class TSyncType : int32_t { stDontSync = 0, stTrySyncCallOnSuccess, stTrySyncCallAlways };

// A caught C++ exception object: its address and its dynamic type. The object belongs to the
// catching code and lives only while that code waits for the handling.
struct KXExceptObject {
  void *object = nullptr;
  const std::type_info *type = nullptr;

  explicit operator bool() const { return object != nullptr && type != nullptr; }
  bool operator==(const KXExceptObject &other) const = default;

  template <class T> static KXExceptObject Of(T &object) {
    return {const_cast<void *>(dynamic_cast<const void *>(&object)), &typeid(object)};
  }
};

// The register context of a thread at the fault, as the report shows it. The Win32 shell fills
// it from the platform's context record. Each general register is held at its full width under
// its 64-bit name: an x86-32 context (x64 false) uses the low halves only (rax is eax) and leaves
// r8 to r15 at 0.
struct KXRegisterContext {
  bool x64 = false;
  uint64_t rax = 0, rbx = 0, rcx = 0, rdx = 0, rsi = 0, rdi = 0, rbp = 0, rsp = 0, rip = 0;
  uint64_t r8 = 0, r9 = 0, r10 = 0, r11 = 0, r12 = 0, r13 = 0, r14 = 0, r15 = 0;
  uint32_t eflags = 0;
  uint16_t cs = 0, ds = 0, es = 0, fs = 0, gs = 0, ss = 0;
};

class IKXException;

// A report callback gets (complete, report text, exception).
using TBugReportCallback = void (*)(bool complete, const std::string &bugReport, IKXException &exception);
// The method form: a routine bound to an object; two registrations are the same when both match.
struct TBugReportCallbackOO {
  void (*code)(void *object, bool complete, const std::string &bugReport, IKXException &exception) = nullptr;
  void *object = nullptr;
  bool operator==(const TBugReportCallbackOO &other) const = default;
};

using KXWindow = std::uintptr_t; // a window handle; 0 for none

class IKXException : public virtual IKXSettings {
public:
  virtual TExceptPhase GetPhase() = 0;
  virtual bool GetCanContinue() = 0;
  // Setting true is ignored unless the exception was created continuable.
  virtual void SetCanContinue(bool value) = 0;
  virtual TExceptType GetExceptType() = 0;
  virtual KXExceptObject GetExceptObject() = 0;
  // "Unknown" when there is no object.
  virtual std::string GetExceptClass() = 0;
  virtual std::string GetExceptMessage() = 0;
  virtual void SetExceptMessage(const std::string &value) = 0;
  virtual std::uintptr_t GetExceptAddr() = 0;
  virtual uint32_t GetCrashedThreadId() = 0;
  // Index 0, 1 or 2; 0 for any other index.
  virtual uint32_t GetCallstackCrc(int index) = 0;
  // Null when no context was given.
  virtual const KXRegisterContext *GetContext() = 0;
  virtual TExceptSource GetSource() = 0;
  virtual void *GetRelatedObject() = 0;
  virtual KXModule GetPackage() = 0;
  virtual std::shared_ptr<IKXFields> GetBugReportHeader() = 0;
  virtual std::shared_ptr<IKXFields> GetBugReportSections() = 0;
  std::string GetBugReport() { return GetBugReport(true); }
  virtual void SetBugReport(const std::string &text) = 0;
  virtual std::string GetBugReport(bool mustBeComplete) = 0;
  virtual std::shared_ptr<INVBitmap> GetScreenShot() = 0;
  virtual void SetScreenShot(std::shared_ptr<INVBitmap> bitmap) = 0;
  virtual void BeginUpdate() = 0;
  virtual void EndUpdate() = 0;
  virtual void RegisterBugReportCallback(TBugReportCallback callback, bool critical) = 0;
  virtual void RegisterBugReportCallback(TBugReportCallbackOO callback, bool critical) = 0;
  virtual void UnregisterBugReportCallback(TBugReportCallback callback) = 0;
  virtual void UnregisterBugReportCallback(TBugReportCallbackOO callback) = 0;
  virtual bool GetCreateBugReport() = 0;
  virtual void SetCreateBugReport(bool value) = 0;
  virtual bool GetCreateScreenShot() = 0;
  virtual void SetCreateScreenShot(bool value) = 0;
  virtual bool GetCallHandlers() = 0;
  virtual void SetCallHandlers(bool value) = 0;
  virtual bool GetAppendScreenShot() = 0;
  virtual void SetAppendScreenShot(bool value) = 0;
  virtual TKXShowSetting GetShowSetting() = 0;
  virtual void SetShowSetting(TKXShowSetting value) = 0;
  virtual std::string GetShowAssistant() = 0;
  virtual void SetShowAssistant(const std::string &value) = 0;
  virtual void Show() = 0;
  // The user actions; parentWindow 0 means the reporter's dialog window, if one is open.
  virtual void ShowBugReport(KXWindow parentWindow) = 0;
  virtual void SendBugReport(KXWindow parentWindow) = 0;
  virtual void SaveBugReport(KXWindow parentWindow) = 0;
  virtual void PrintBugReport(KXWindow parentWindow) = 0;
  virtual void ContinueApplication(KXWindow parentWindow) = 0;
  virtual void RestartApplication(KXWindow parentWindow) = 0;
  virtual void CloseApplication(KXWindow parentWindow) = 0;
};

class IKXExceptionEx {
public:
  virtual ~IKXExceptionEx() = default;
  virtual bool CriticalBugReportCallbackExists() = 0;
  virtual uint32_t GetCompleteThreadId() = 0;
  // epPostProcessing becomes epCompleteReport when the report is complete already.
  virtual void SetPhase(TExceptPhase value) = 0;
  virtual bool GetMailWasSent() = 0;
  virtual void SetMailWasSent(bool value) = 0;
  virtual bool GetMailWasSaved() = 0;
  virtual void SetMailWasSaved(bool value) = 0;
  // True exactly once each.
  virtual bool FirstCompleteCallback() = 0;
  virtual bool FirstAutoSave() = 0;
  // The handle of the last send thread (0 when none); the send module replaces it.
  virtual std::uintptr_t *PSendThread() = 0;
};

// Messages understood by the crash dialog window.
inline constexpr uint32_t kDialogShowReportMessage = 1802;
inline constexpr uint32_t kDialogCloseMessage = 1803;
// The class name of the crash dialog's window.
inline constexpr const char *kDialogWindowClass = "KestrelixWndClass";

} // namespace kx
