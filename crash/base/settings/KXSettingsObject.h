#pragma once
// The settings registry (one property list per module), the context a settings object works in,
// and the settings object TIKXSettings. The exception object derives from TIKXSettings; every
// other caller uses it through IKXModuleSettings and IKXSettingsEx.
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "crash/base/settings/KXExpand.h"
#include "crash/base/settings/KXProperty.h"
#include "crash/base/settings/KXSettings.h"

namespace kx {

// The lock of the registry and of the module lists. Those structures are shared by every module of
// the process that carries its own copy of this code (and of the C++ runtime), so the lock is
// nothing but an atomic flag: the same instructions in every copy, no runtime state behind it.
// It is only ever held for short steps.
class KXSpinLock {
public:
  void lock() {
    while (FFlag.exchange(true, std::memory_order_acquire))
      while (FFlag.load(std::memory_order_relaxed))
        std::this_thread::yield();
  }
  bool try_lock() { return !FFlag.exchange(true, std::memory_order_acquire); }
  void unlock() { FFlag.store(false, std::memory_order_release); }

private:
  std::atomic<bool> FFlag{false};
};

// The property list of one module, shared by every settings object of that module.
struct TKXSettingsModule {
  int32_t refCount = 0;
  KXModule module = 0;
  TKXPropertyList props;
  TKXSettingsModule *next = nullptr;
  // Guards single property reads and writes, so that a text is never read while it is replaced.
  KXSpinLock valueLock;
};

// The suffix of the process-wide named objects: "$" and the process id in lower-case hexadecimal
// without leading zeros (process id 6700 gives "$1a2c").
std::string KXProcessSuffix(uint32_t processId);
// "KestrelixSettingsBuf2" + suffix and "KestrelixSettingsMtx" + suffix: the shared-memory object
// that holds the registry's address and the mutex that serialises its creation.
std::string KXSettingsBufferName(uint32_t processId);
std::string KXSettingsMutexName(uint32_t processId);

// The chain of module property lists of a process. The Win32 shell keeps one per process, shared
// by every module through a named shared-memory object.
class KXSettingsRegistry {
public:
  KXSettingsRegistry() = default;
  ~KXSettingsRegistry();
  KXSettingsRegistry(const KXSettingsRegistry &) = delete;
  KXSettingsRegistry &operator=(const KXSettingsRegistry &) = delete;

  // References the module's list: the existing one, or a new one read from the module's settings
  // stream. Null when the module carries no stream.
  TKXSettingsModule *Acquire(KXModule module, IKXPlatform &platform);
  // Drops one reference; the last one unlinks and frees the list.
  void Release(TKXSettingsModule *list);
  // Frees the list's properties and reads them again from the module's stream.
  void Reload(TKXSettingsModule *list, IKXPlatform &platform);

  // One count per list reference held; the shell frees the registry when it drops to 0.
  int32_t RefCount();
  size_t ListCount();

private:
  KXSpinLock FLock;
  int32_t FRefCount = 0;
  TKXSettingsModule *FHead = nullptr;
};

// The title and form names of an assistant entry ("Assistant1", "Assistant2", ...).
struct KXAssistantEntry {
  std::string name;
  std::string title;
  std::vector<std::string> forms;
};

// What the assistant module provides: LoadAssistant (module, title, form names, exception object
// or null) and the access to an assistant's forms that the form cache needs.
struct KXAssistantRequest {
  KXModule module = 0;
  std::string title;
  std::vector<std::string> forms;
  TIKXSettings *exceptionObject = nullptr;
};

// The forms of an assistant as the form cache sees them.
class IKXAssistantForms {
public:
  enum class ItemKind { other, edit, checkBox };
  virtual ~IKXAssistantForms() = default;
  virtual int FormCount() = 0;
  virtual int FormModalResult(int form) = 0;
  virtual int ItemCount(int form) = 0;
  virtual ItemKind Kind(int form, int item) = 0;
  virtual std::string ItemName(int form, int item) = 0;
  virtual std::string EditText(int form, int item) = 0;
  virtual void SetEditText(int form, int item, const std::string &text) = 0;
  virtual bool Checked(int form, int item) = 0;
  virtual void SetChecked(int form, int item, bool checked) = 0;
  virtual bool ContinueEnabled(int form) = 0;
  // Makes the form's continue button its active control.
  virtual void ActivateContinue(int form) = 0;
};

struct KXAssistantHooks {
  std::function<std::shared_ptr<INVAssistant>(const KXAssistantRequest &)> load;
  std::function<IKXAssistantForms *(INVAssistant &)> forms;
};

// Everything settings objects of a process share: the platform, the registry, the main settings
// object (held weakly; start-up keeps it alive until shutdown) and the assistant module's hooks.
class KXSettingsContext {
public:
  KXSettingsContext(IKXPlatform &platform, std::shared_ptr<KXSettingsRegistry> registry);

  IKXPlatform &Platform() { return FPlatform; }
  KXSettingsRegistry &Registry() { return *FRegistry; }

  void SetMainSettings(const std::shared_ptr<IKXModuleSettings> &main);
  std::shared_ptr<TIKXSettings> MainSettings();

  void SetAssistantHooks(KXAssistantHooks hooks);
  KXAssistantHooks AssistantHooks();

  // Shows a failure message with the caption "Kestrelix".
  void ShowFailure(const std::string &text) { FPlatform.ShowMessage("Kestrelix", text); }

private:
  IKXPlatform &FPlatform;
  std::shared_ptr<KXSettingsRegistry> FRegistry;
  std::mutex FLock;
  std::weak_ptr<TIKXSettings> FMain;
  KXAssistantHooks FHooks;
};

// Creates the settings object of a module. With read set, the module's property list is taken
// from the registry (read from the module's stream on first use); without a stream the object is
// invalid.
std::shared_ptr<IKXModuleSettings> CreateModuleSettings(const std::shared_ptr<KXSettingsContext> &context,
                                                        KXModule module, bool read = true);

// Holds the value locks a property access needs.
struct KXValueGuard {
  std::unique_lock<KXSpinLock> first;
  std::unique_lock<KXSpinLock> second;
};

#define KX_OP(...) __VA_ARGS__ override;
#define KX_GB(op, key) bool op() override { return GetPropBool(key); }
#define KX_SB(op, key) void op(bool value) override { SetPropBool(key, value); }
#define KX_GD(op, key) uint32_t op() override { return GetPropDw(key); }
#define KX_SD(op, key) void op(uint32_t value) override { SetPropDw(key, value); }
#define KX_GI(op, key) int32_t op() override { return GetPropInt(key); }
#define KX_SI(op, key) void op(int32_t value) override { SetPropInt(key, value); }
#define KX_GS(op, key) std::string op() override { return GetPropStr(key); }
#define KX_SS(op, key) void op(const std::string &value) override { SetPropStr(key, value); }
#define KX_GE(op, key, type) type op() override { return type(int32_t(GetPropDw(key))); }
#define KX_SE(op, key, type) void op(type value) override { SetPropDw(key, uint32_t(int32_t(value))); }

class TIKXSettings : public IKXModuleSettings, public IKXSettingsEx, public std::enable_shared_from_this<TIKXSettings> {
public:
  TIKXSettings(std::shared_ptr<KXSettingsContext> context, KXModule module, bool read);
  ~TIKXSettings() override;
  TIKXSettings(const TIKXSettings &) = delete;
  TIKXSettings &operator=(const TIKXSettings &) = delete;

#define KX_SETTINGS_OPS
#include "crash/base/settings/KXSettingsOps.inc"
#undef KX_SETTINGS_OPS
#define KX_MODULE_SETTINGS_OPS
#include "crash/base/settings/KXSettingsOps.inc"
#undef KX_MODULE_SETTINGS_OPS

  // IKXSettingsEx
  bool GetPropBool(const std::string &key) override;
  int32_t GetPropInt(const std::string &key) override;
  std::string GetPropStr(const std::string &key) override;
  std::u16string GetPropStrW(const std::string &key) override;
  uint32_t GetPropDw(const std::string &key) override;
  void FillFormCache(INVAssistant &assistant) override;
  void ReadFormCache(INVAssistant &assistant) override;
  TIKXSettings *GetSelf() override { return this; }

  // Type-checked stores; false on an invalid object or a key of another type.
  bool SetPropBool(const std::string &key, bool value);
  bool SetPropInt(const std::string &key, int32_t value);
  bool SetPropDw(const std::string &key, uint32_t value);
  bool SetPropStr(const std::string &key, const std::string &value);
  bool SetPropStrW(const std::string &key, const std::u16string &value);

  // Property lookup: the own list by exact name; when absent, a new entry of createTyp when
  // writing, else the built-in default when allowDefault is set. The caller holds LockValues().
  virtual TKXProperty *FindProp(std::string_view name, bool allowDefault, bool write, TPropertyType createTyp);

  // The stored value of a key with the main-settings fallback, before expansion.
  std::optional<TKXProperty> LookupValue(const std::string &key);
  // True when there is no main settings object or this object belongs to its module.
  bool IsPrimary();

  // The assistant entry named name (case-insensitive), with "ScrShotForm" removed when no
  // screenshot is taken.
  std::optional<KXAssistantEntry> FindAssistantEntry(const std::string &name);
  // The form cache over an assistant's forms.
  void FillFormCache(IKXAssistantForms &forms);
  void ReadFormCache(IKXAssistantForms &forms);
  std::shared_ptr<IKXFields> FormCache();

  const std::shared_ptr<KXSettingsContext> &Context() const { return FContext; }

protected:
  // Hooks for the exception object. LockValues holds every list that FindProp may touch; an
  // override that adds its own list locks that one first and the module's list second.
  virtual KXValueGuard LockValues();
  virtual KXExpandArgs ExpandArgs();
  virtual bool TakesScreenShot();
  virtual TIKXSettings *ExceptionObject() { return nullptr; }

  std::shared_ptr<KXSettingsContext> FContext;
  bool FValid = false;
  KXModule FModule = 0;
  TKXSettingsModule *FSettings = nullptr;
  std::string FVersionVar;

private:
  std::string Expand(const std::string &text);
  std::u16string Expand(const std::u16string &text);
  template <class F> bool Store(const std::string &key, TPropertyType typ, F &&assign);

  std::mutex FListsLock; // creation of the lists below
  std::shared_ptr<IKXAttachments> FAddAttachs;
  std::shared_ptr<IKXFields> FAddFields;
  std::shared_ptr<IKXFields> FFormCache;
};

#include "crash/base/settings/KXSettingsOpsEnd.inc"

} // namespace kx
