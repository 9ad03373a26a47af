#include "crash/ui/dialog/DetailsTabs.h"

#include <algorithm>

namespace kx {
namespace {

bool IsThreadSection(const TReportItem &item) { return item.name.find('$') != std::string::npos; }

// The number of thread stacks: section 0 and the "$" sections that follow it.
size_t ThreadSections(const TReportSnapshot &report) {
  if (report.sections.empty())
    return 0;
  size_t k = 1;
  while (k < report.sections.size() && IsThreadSection(report.sections[k]))
    ++k;
  return k;
}

} // namespace

std::vector<std::string> WantedTabCaptions(const TReportSnapshot &report) {
  std::vector<std::string> wanted{"general", "call stack"};
  if (report.sections.size() > 1 && IsThreadSection(report.sections[1]))
    wanted[1] += "s";
  for (size_t i = std::max<size_t>(ThreadSections(report), 1); i < report.sections.size(); ++i) {
    const std::string &name = report.sections[i].name;
    wanted.push_back(name == "cpu registers" ? "cpu regs" : name == "disassembling" ? "disasm" : name);
  }
  return wanted;
}

std::string TabContent(const TReportSnapshot &report, int tab) {
  std::string text;
  if (tab == 0) {
    for (const TReportItem &field : report.header) {
      if (!text.empty())
        text += "\r\n";
      text += field.name + "\t" + field.content;
    }
    return text;
  }
  const size_t k = ThreadSections(report);
  if (tab == 1) {
    for (size_t i = 0; i < k; ++i) {
      if (i)
        text += "\r\n\r\n";
      text += ">> " + report.sections[i].name + "\r\n" + report.sections[i].content;
    }
    return text;
  }
  if (tab < 0)
    return {};
  const size_t index = size_t(tab) + std::max<size_t>(k, 1) - 2;
  return index < report.sections.size() ? report.sections[index].content : std::string();
}

std::string TabSectionName(const TReportSnapshot &report, int tab) {
  if (tab < 2)
    return {};
  const size_t index = size_t(tab) + std::max<size_t>(ThreadSections(report), 1) - 2;
  return index < report.sections.size() ? report.sections[index].name : std::string();
}

TTabEdits SyncTabs(const std::vector<std::string> &current, const std::vector<std::string> &wanted) {
  auto isWanted = [&](const std::string &c) { return std::find(wanted.begin(), wanted.end(), c) != wanted.end(); };
  TTabEdits edits;
  std::vector<std::string> tabs;
  for (size_t i = current.size(); i-- > 0;)
    if (!isWanted(current[i]))
      edits.deletions.push_back(int(i));
  for (const std::string &c : current)
    if (isWanted(c))
      tabs.push_back(c);
  for (size_t i = 0; i < wanted.size(); ++i)
    if (std::find(tabs.begin(), tabs.end(), wanted[i]) == tabs.end()) {
      const size_t at = std::min(i, tabs.size());
      tabs.insert(tabs.begin() + std::ptrdiff_t(at), wanted[i]);
      edits.insertions.emplace_back(int(at), wanted[i]);
    }
  if (tabs != wanted) {
    // Tabs in another order (or twice): start again from no tabs, so each tab shows its own text.
    edits = {};
    for (size_t i = current.size(); i-- > 0;)
      edits.deletions.push_back(int(i));
    for (size_t i = 0; i < wanted.size(); ++i)
      edits.insertions.emplace_back(int(i), wanted[i]);
  }
  return edits;
}

} // namespace kx
