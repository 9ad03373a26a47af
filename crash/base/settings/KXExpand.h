#pragma once
// Variable expansion of setting texts ("%appname%", "%exceptMsg%", "%date%", ...).
#include <functional>
#include <optional>
#include <string>

#include "crash/base/settings/KXPlatform.h"

namespace kx {

struct KXExpandArgs {
  KXModule module = 0;
  // Texts for %exceptClass%, %exceptMsg% and %bugReport%; nullopt leaves the variable in place.
  std::optional<std::string> exceptClass;
  std::optional<std::string> exceptMsg;
  std::optional<std::string> bugReport;
};

// The VersionVar text of the settings of a module ("" when none).
using KXVersionVarFn = std::function<std::string(KXModule)>;

// Replaces the variables in this order, every occurrence, names in any letter case:
// %appname%, %modname%, %appversion%, %modversion%, %LF%, %date%/%time%/%datetime% (one clock
// reading), %computerName%, %userappdata%, %commonappdata%, then in one pass the report's texts
// %exceptClass%, %exceptMsg% ("Unknown" for an empty message) and %bugReport%: these come from the
// report and are never expanded themselves.
std::string ExpandVariables(const std::string &text, const KXExpandArgs &args, IKXPlatform &platform,
                            const KXVersionVarFn &versionVar);
std::u16string ExpandVariables(const std::u16string &text, const KXExpandArgs &args, IKXPlatform &platform,
                               const KXVersionVarFn &versionVar);

// Only the report's texts of args (those given), in one pass as ExpandVariables puts them in.
std::string ExpandReportTexts(const std::string &text, const KXExpandArgs &args);

// The version text of a module: its VersionVar text, else its file version ("a.b.c.d", or the
// FileVersion string when the four parts are zero), else "?".
std::string ModuleVersionText(KXModule module, IKXPlatform &platform, const KXVersionVarFn &versionVar);

} // namespace kx
