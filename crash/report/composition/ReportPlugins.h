#pragma once
// The process-wide registry of bug report plug-ins: code that contributes a header field or a
// whole section of its own. The registry is changed during start-up and shut-down only.
#include <string>
#include <vector>

#include "crash/capture/exception/KXException.h"

namespace kx {

using TBugReportPluginA = std::string (*)();
using TBugReportPluginW = std::u16string (*)();
using TBugReportPluginExA = std::string (*)(IKXException &exception);
using TBugReportPluginExW = std::u16string (*)(IKXException &exception);

struct KXReportPlugin {
  std::string name;
  std::string description;
  TBugReportPluginA procOldA = nullptr;
  TBugReportPluginW procOldW = nullptr;
  TBugReportPluginExA procNewA = nullptr;
  TBugReportPluginExW procNewW = nullptr;
  bool ownSection = false;
};

void AddReportPlugin(const std::string &name, const std::string &description, TBugReportPluginA callback,
                     bool ownSection);
void AddReportPlugin(const std::string &name, const std::string &description, TBugReportPluginW callback,
                     bool ownSection);
void AddReportPlugin(const std::string &name, const std::string &description, TBugReportPluginExA callback,
                     bool ownSection);
void AddReportPlugin(const std::string &name, const std::string &description, TBugReportPluginExW callback,
                     bool ownSection);
// Removes the first record with exactly this name.
void RemoveReportPlugin(const std::string &name);

// The records named by a Plugins setting ("a|b|c"), in its order: for each name the first record
// whose name matches case-insensitively; names without a record are skipped.
std::vector<KXReportPlugin> ConfiguredPlugins(const std::string &pluginsSetting);

// The plug-in's text: the first callback that is set, UTF-16 results converted to 8-bit text.
// Throws what the callback throws.
std::string CallReportPlugin(const KXReportPlugin &plugin, IKXException &exception);

} // namespace kx
