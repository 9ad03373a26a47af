#include "crash/report/composition/ReportPlugins.h"

#include <algorithm>

#include "crash/base/settings/KXText.h"

namespace kx {

namespace {
std::vector<KXReportPlugin> &Registry() {
  static std::vector<KXReportPlugin> registry;
  return registry;
}

void Append(KXReportPlugin plugin) { Registry().push_back(std::move(plugin)); }
} // namespace

void AddReportPlugin(const std::string &name, const std::string &description, TBugReportPluginA callback,
                     bool ownSection) {
  KXReportPlugin p{name, description};
  p.procOldA = callback;
  p.ownSection = ownSection;
  Append(std::move(p));
}

void AddReportPlugin(const std::string &name, const std::string &description, TBugReportPluginW callback,
                     bool ownSection) {
  KXReportPlugin p{name, description};
  p.procOldW = callback;
  p.ownSection = ownSection;
  Append(std::move(p));
}

void AddReportPlugin(const std::string &name, const std::string &description, TBugReportPluginExA callback,
                     bool ownSection) {
  KXReportPlugin p{name, description};
  p.procNewA = callback;
  p.ownSection = ownSection;
  Append(std::move(p));
}

void AddReportPlugin(const std::string &name, const std::string &description, TBugReportPluginExW callback,
                     bool ownSection) {
  KXReportPlugin p{name, description};
  p.procNewW = callback;
  p.ownSection = ownSection;
  Append(std::move(p));
}

void RemoveReportPlugin(const std::string &name) {
  auto &registry = Registry();
  auto it = std::find_if(registry.begin(), registry.end(), [&](const KXReportPlugin &p) { return p.name == name; });
  if (it != registry.end())
    registry.erase(it);
}

std::vector<KXReportPlugin> ConfiguredPlugins(const std::string &pluginsSetting) {
  std::vector<KXReportPlugin> plugins;
  for (const std::string &name : SplitText(pluginsSetting, '|')) {
    if (name.empty())
      continue;
    for (const KXReportPlugin &p : Registry())
      if (SameText(p.name, name)) {
        plugins.push_back(p);
        break;
      }
  }
  return plugins;
}

std::string CallReportPlugin(const KXReportPlugin &plugin, IKXException &exception) {
  if (plugin.procOldA)
    return plugin.procOldA();
  if (plugin.procOldW)
    return NarrowUtf16(plugin.procOldW());
  if (plugin.procNewA)
    return plugin.procNewA(exception);
  if (plugin.procNewW)
    return NarrowUtf16(plugin.procNewW(exception));
  return {};
}

} // namespace kx
