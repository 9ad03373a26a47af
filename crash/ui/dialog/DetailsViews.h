#pragma once
// How a tab of the details pane shows its text: as a table (columns and rows for a list view) when
// the text can be read as one, else as plain text. Column detection finds the character positions
// at which every line of a text has the same separator.
#include <cstdint>
#include <string>
#include <vector>

namespace kx {

struct TDetailsColumn {
  std::string caption;
  bool rightAligned = false;
  bool upperCase = false;
};

struct TDetailsRow {
  std::string captions; // cells separated by tabs
  uint32_t forceColor = 0;
  bool title = false;
};

struct TDetailsTable {
  std::vector<TDetailsColumn> columns;
  std::vector<TDetailsRow> rows;
  bool fixedPitch = false;   // shown in the fixed-pitch font
  bool showHeaders = true;
  bool IsTable() const { return !columns.empty() && !rows.empty(); }
};

// Column captions separated by "|": "^" makes an upper-case column, a following space a
// right-aligned one.
std::vector<TDetailsColumn> ParseColumnCaptions(const std::string &captionList);

// The lines of a text (split at CR, line feeds dropped).
std::vector<std::string> DetailsLines(const std::string &text);

// Column detection over the lines: the 1-based column boundaries; kept separators are blanked in
// the lines. Strict mode keeps a separator only when there is one non-empty line or more than one
// line has it as more than a double space.
std::vector<size_t> DetectColumns(std::vector<std::string> &lines, bool strict);

// Rows with a tab in place of the character before each boundary (where the row reaches it).
std::vector<TDetailsRow> SplitRows(const std::vector<std::string> &lines, const std::vector<size_t> &boundaries);

// The view of a tab: tab index, the section's name (for tabs after the call stacks) and its text.
// No columns means the text is shown as plain text.
TDetailsTable PrepareDetailsView(int tab, const std::string &sectionName, const std::string &text);

} // namespace kx
