#pragma once
// The details pane's tabs: which captions the report asks for, what each tab shows, and how the
// tab control's captions are brought in line with the wanted ones.
#include <string>
#include <utility>
#include <vector>

namespace kx {

struct TReportItem {
  std::string name, content;
};

// The report's header fields and sections as the pane shows them. Section 0 is the crashed
// thread's stack; sections following it whose names contain "$" are further thread stacks.
struct TReportSnapshot {
  std::vector<TReportItem> header, sections;
};

// "general", "call stack" (plural with more threads), then the named sections after the thread
// stacks ("cpu registers" as "cpu regs", "disassembling" as "disasm").
std::vector<std::string> WantedTabCaptions(const TReportSnapshot &report);

// The text of tab t: 0 the header fields ("name" tab "content" lines), 1 the thread stacks, each
// as ">> " name, CR LF, content, separated by an empty line; later tabs the sections after the
// thread stacks. Empty for a tab the report does not have.
std::string TabContent(const TReportSnapshot &report, int tab);

// The name of the section tab t shows (tabs after the call stacks), "" for the others.
std::string TabSectionName(const TReportSnapshot &report, int tab);

// The edits that turn the current captions into the wanted ones: deletions (indices from the
// last tab down) of captions not wanted, then insertions of missing wanted captions at their
// position in the wanted list.
struct TTabEdits {
  std::vector<int> deletions;
  std::vector<std::pair<int, std::string>> insertions;
  bool Empty() const { return deletions.empty() && insertions.empty(); }
};
TTabEdits SyncTabs(const std::vector<std::string> &current, const std::vector<std::string> &wanted);

} // namespace kx
