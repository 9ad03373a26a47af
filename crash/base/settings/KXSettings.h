#pragma once
// The settings interfaces of the crash reporter: IKXSettings (the per-exception keys),
// IKXModuleSettings (adds the module-level keys) and IKXSettingsEx (untyped access).
// Objects are reference-counted through std::shared_ptr; see KXSettingsObject.h for creation.
#include <cstdint>
#include <memory>
#include <string>

#include "crash/base/settings/KXFields.h"
#include "crash/base/settings/KXPlatform.h"

class INVAssistant; // an assistant: a sequence of forms, built by the assistant module

namespace kx {

class TIKXSettings;

enum class TKXShowSetting : int32_t { ssFullBox = 0, ssAssistant = 1, ssDetailBox = 2, ssSimpleBox = 3, ssNothing = 4 };
enum class TKXDupDef : int32_t { ddExceptAddrIdentical = 0, ddCrashStackIdentical = 1, ddAllStacksIdentical = 2 };
enum class TKXButton : int32_t {
  bSendBugReport = 0,
  bSaveBugReport = 1,
  bPrintBugReport = 2,
  bShowBugReport = 3,
  bContinueApplication = 4,
  bRestartApplication = 5,
  bCloseApplication = 6
};

#define KX_OP(...) virtual __VA_ARGS__ = 0;
#define KX_GB(op, key) virtual bool op() = 0;
#define KX_SB(op, key) virtual void op(bool value) = 0;
#define KX_GD(op, key) virtual uint32_t op() = 0;
#define KX_SD(op, key) virtual void op(uint32_t value) = 0;
#define KX_GI(op, key) virtual int32_t op() = 0;
#define KX_SI(op, key) virtual void op(int32_t value) = 0;
#define KX_GS(op, key) virtual std::string op() = 0;
#define KX_SS(op, key) virtual void op(const std::string &value) = 0;
#define KX_GE(op, key, type) virtual type op() = 0;
#define KX_SE(op, key, type) virtual void op(type value) = 0;

class IKXSettings {
public:
  virtual ~IKXSettings() = default;
#define KX_SETTINGS_OPS
#include "crash/base/settings/KXSettingsOps.inc"
#undef KX_SETTINGS_OPS
};

// Virtual, so that the exception object (which is both a settings object and an IKXException,
// itself an IKXSettings) has one set of settings operations.
class IKXModuleSettings : public virtual IKXSettings {
public:
#define KX_MODULE_SETTINGS_OPS
#include "crash/base/settings/KXSettingsOps.inc"
#undef KX_MODULE_SETTINGS_OPS
};

#include "crash/base/settings/KXSettingsOpsEnd.inc"

class IKXSettingsEx {
public:
  virtual ~IKXSettingsEx() = default;
  virtual bool GetPropBool(const std::string &key) = 0;
  virtual int32_t GetPropInt(const std::string &key) = 0;
  virtual std::string GetPropStr(const std::string &key) = 0;
  virtual std::u16string GetPropStrW(const std::string &key) = 0;
  virtual uint32_t GetPropDw(const std::string &key) = 0;
  virtual void FillFormCache(INVAssistant &assistant) = 0;
  virtual void ReadFormCache(INVAssistant &assistant) = 0;
  virtual TIKXSettings *GetSelf() = 0;
};

} // namespace kx
