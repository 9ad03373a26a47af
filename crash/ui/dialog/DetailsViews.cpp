#include "crash/ui/dialog/DetailsViews.h"

#include <algorithm>

namespace kx {
namespace {

size_t EffectiveLength(const std::string &line) { return line.rfind(">>", 0) == 0 ? 0 : line.size(); }

std::vector<std::string> Split(const std::string &text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos)
      return parts;
    start = at + 1;
  }
}

TDetailsTable Table(const std::string &captionList, std::vector<TDetailsRow> rows, bool fixedPitch = false) {
  TDetailsTable t;
  t.columns = ParseColumnCaptions(captionList);
  t.rows = std::move(rows);
  t.fixedPitch = fixedPitch;
  return t;
}

TDetailsTable Detected(const std::string &text, bool strict, const std::string &captionList, bool fixedPitch = false) {
  std::vector<std::string> lines = DetailsLines(text);
  const std::vector<size_t> boundaries = DetectColumns(lines, strict);
  return Table(captionList, SplitRows(lines, boundaries), fixedPitch);
}

TDetailsTable Automatic(const std::string &text) {
  std::vector<std::string> lines = DetailsLines(text);
  size_t longLines = 0, shortLines = 0;
  for (const std::string &l : lines)
    (l.size() > 80 ? longLines : shortLines)++;
  const bool captioned = !text.empty() && text[0] == '^';
  if (!captioned && !(lines.size() > 1 && 5 * longLines < shortLines))
    return {};
  TDetailsTable t;
  if (captioned) {
    std::string head = lines.front().substr(1);
    std::replace(head.begin(), head.end(), '\t', '|');
    t.columns = ParseColumnCaptions(head);
    lines.erase(lines.begin());
  }
  // A tree of "+" and "-" lines: one column in the fixed-pitch font.
  bool tree = !lines.empty();
  for (size_t i = 0; i < lines.size() && tree; ++i) {
    const size_t first = lines[i].find_first_not_of(' ');
    const char c = first == std::string::npos ? '\0' : lines[i][first];
    tree = c == '+' || c == '-' || (i == 0 && !captioned && !lines[i].empty() && lines[i][0] == '!');
  }
  if (tree) {
    t.fixedPitch = true;
    if (t.columns.empty())
      t.columns = {TDetailsColumn{}};
    for (size_t i = 0; i < lines.size(); ++i) {
      std::string row = lines[i];
      TDetailsRow r;
      if (!row.empty() && row[0] == '+')
        r.forceColor = 0xFFF8F0;
      if (!row.empty() && row[0] == '!') {
        r.forceColor = 0xF4F4FF;
        if (i == 0)
          row.erase(0, 1);
      }
      if (!row.empty() && row[0] == ' ')
        row[0] = char(0xA0);
      r.captions = row;
      t.rows.push_back(r);
    }
    t.showHeaders = captioned;
    return t;
  }
  if (text.find('\t') == std::string::npos) {
    const std::vector<size_t> boundaries = DetectColumns(lines, true);
    t.rows = SplitRows(lines, boundaries);
    if (t.columns.empty())
      t.columns.resize(boundaries.size() + 1);
  } else {
    size_t fields = 1;
    for (const std::string &l : lines) {
      fields = std::max(fields, size_t(std::count(l.begin(), l.end(), '\t')) + 1);
      t.rows.push_back({l, 0, false});
    }
    if (t.columns.empty())
      t.columns.resize(fields);
  }
  t.showHeaders = captioned;
  return t;
}

// The disassembly: address, the optional line column, the code (the current instruction marked)
// and the comments.
TDetailsTable Disassembly(const std::string &text) {
  std::vector<std::string> lines = DetailsLines(text);
  size_t p = 0; // 1-based position of the marker column
  for (const std::string &l : lines) {
    const size_t at = l.substr(0, 25).find('>');
    if (!l.empty() && at != std::string::npos) {
      p = at + 1;
      break;
    }
  }
  if (p == 0)
    return {};
  const bool lineColumn = p > 10;
  // The tab stands in place of the space after the address (position 9) and of the space before
  // the marker column (position p - 1), so the address keeps all its digits.
  std::vector<size_t> boundaries{10};
  if (lineColumn)
    boundaries.push_back(p);
  TDetailsTable t = Table(lineColumn ? "address|line|asm code|comments" : "address|asm code|comments", {}, true);
  for (std::string line : lines) {
    TDetailsRow row;
    if (line.size() >= p && (line[p - 1] == ' ' || line[p - 1] == '>')) {
      if (line[p - 1] == '>')
        row.forceColor = 0xD0D0FF;
      line[p - 1] = char(0xA0);
    }
    const size_t separator = line.find("; --");
    if (separator != std::string::npos)
      line.erase(separator + 4, 28);
    line = SplitRows({line}, boundaries)[0].captions;
    std::string withComments;
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] == ';' && line.compare(i, 4, "; --") != 0)
        withComments += '\t';
      withComments += line[i];
    }
    const size_t first = withComments.find_first_not_of(' '), last = withComments.find_last_not_of(' ');
    row.captions = first == std::string::npos ? std::string() : withComments.substr(first, last - first + 1);
    t.rows.push_back(row);
  }
  return t;
}

std::string Trim(const std::string &text) {
  const size_t first = text.find_first_not_of(' '), last = text.find_last_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

bool IsDataLine(const std::string &line) { return !line.empty() && line.rfind(">>", 0) != 0; }

// The columns of the common header of the thread view, in order.
enum TThreadColumn { kAddress, kRelAddress, kModule, kUnit, kLine, kRelLine, kFunction, kThreadColumns };

// One piece of a call stack: its lines split into cells and which cell holds which column.
struct TStackPiece {
  std::vector<std::vector<std::string>> cells; // per line (empty for marker and empty lines)
  std::vector<std::string> lines;
  int columnOf[kThreadColumns] = {0, -1, -1, -1, -1, -1, -1};
};

std::vector<std::string> CellsOf(const std::string &row) {
  std::vector<std::string> cells = Split(row, '\t');
  return cells;
}

TStackPiece AnalysePiece(std::vector<std::string> lines) {
  TStackPiece piece;
  piece.lines = lines;
  const std::vector<size_t> boundaries = DetectColumns(lines, false);
  const std::vector<TDetailsRow> rows = SplitRows(lines, boundaries);
  size_t columns = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    piece.cells.push_back(IsDataLine(lines[i]) ? CellsOf(rows[i].captions) : std::vector<std::string>());
    columns = std::max(columns, piece.cells.back().size());
  }
  // Every data row's cell of a column passes the test (rows without the cell do not count).
  auto every = [&](size_t column, auto &&test) {
    bool any = false;
    for (const auto &row : piece.cells) {
      if (row.empty())
        continue;
      if (column >= row.size() || !test(row[column]))
        return false;
      any = true;
    }
    return any;
  };
  auto relAddress = [](const std::string &cell) {
    const std::string t = Trim(cell);
    return t.size() > 1 && t[0] == '+' &&
           t.find_first_not_of("0123456789abcdefABCDEF", 1) == std::string::npos;
  };
  // Frames without a line number leave the cell blank.
  auto rightDigits = [](const std::string &cell) {
    const std::string t = Trim(cell);
    return t.empty() || (t.find_first_not_of("0123456789") == std::string::npos &&
                         cell.find_last_not_of(' ') + 1 == cell.size());
  };
  auto anyFilled = [&](size_t column) {
    for (const auto &row : piece.cells)
      if (column < row.size() && !Trim(row[column]).empty())
        return true;
    return false;
  };
  auto identifier = [](const std::string &cell) {
    const std::string t = Trim(cell);
    if (t.empty() || t.rfind("public%", 0) == 0 || t.rfind("segment%", 0) == 0)
      return true;
    return t.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.@$") ==
           std::string::npos;
  };
  size_t next = 1;
  if (columns > 1 && every(1, relAddress)) {
    piece.columnOf[kRelAddress] = 1;
    next = 2;
  }
  if (next < columns)
    piece.columnOf[kModule] = int(next);
  for (size_t c = next + 1; c < columns; ++c)
    if (anyFilled(c) && every(c, rightDigits)) {
      piece.columnOf[kLine] = int(c);
      if (c - 1 > next)
        piece.columnOf[kUnit] = int(c - 1);
      if (columns - c - 1 >= 2) {
        piece.columnOf[kRelLine] = int(c + 1);
        piece.columnOf[kFunction] = int(c + 2);
      } else if (columns - c - 1 == 1) {
        piece.columnOf[kFunction] = int(c + 1);
      }
      return piece;
    }
  for (size_t c = next + 1; c < columns; ++c)
    if (every(c, identifier)) {
      if (columns - c == 2) {
        piece.columnOf[kUnit] = int(c);
        piece.columnOf[kFunction] = int(c + 1);
      } else {
        piece.columnOf[kFunction] = int(c);
      }
      break;
    }
  return piece;
}

// The call stacks: each piece split into its own columns, the rows rebuilt in the columns of a
// header common to all pieces.
TDetailsTable ThreadView(const std::string &text) {
  // Every thread's stack and every creation stack has column widths of its own, so each marker
  // line starts a piece.
  std::vector<std::vector<std::string>> pieces(1);
  for (const std::string &line : DetailsLines(text)) {
    if (line.rfind(">>", 0) == 0 && !pieces.back().empty())
      pieces.emplace_back();
    pieces.back().push_back(line);
  }
  std::vector<TStackPiece> analysed;
  bool used[kThreadColumns] = {true, false, false, false, false, false, false};
  for (auto &lines : pieces) {
    analysed.push_back(AnalysePiece(lines));
    for (int c = 1; c < kThreadColumns; ++c)
      used[c] = used[c] || analysed.back().columnOf[c] >= 0;
  }
  static const char *const captions[kThreadColumns] = {"^address", "^ rel.", "module", "unit", " line", " rel.",
                                                       "function"};
  std::string header;
  for (int c = 0; c < kThreadColumns; ++c)
    if (used[c])
      header += std::string(header.empty() ? "" : "|") + captions[c];
  TDetailsTable t = Table(header, {});
  const bool internalError = !pieces.back().empty() && pieces.back()[0].rfind(">> internal error", 0) == 0;
  bool previousEmpty = true; // the start of the text counts as following an empty row
  for (const TStackPiece &piece : analysed)
    for (size_t i = 0; i < piece.lines.size(); ++i) {
      const std::string &line = piece.lines[i];
      TDetailsRow row;
      if (!IsDataLine(line)) {
        row.captions = line;
        row.forceColor = 0xFFFFFF;
        row.title = !line.empty() && previousEmpty && !internalError;
        previousEmpty = line.empty();
        t.rows.push_back(row);
        continue;
      }
      previousEmpty = false;
      std::string rebuilt;
      bool first = true;
      for (int c = 0; c < kThreadColumns; ++c) {
        if (!used[c])
          continue;
        const int from = piece.columnOf[c];
        const std::vector<std::string> &cells = piece.cells[i];
        if (!first)
          rebuilt += '\t';
        first = false;
        if (from >= 0 && size_t(from) < cells.size())
          rebuilt += cells[size_t(from)];
      }
      row.captions = rebuilt;
      t.rows.push_back(row);
    }
  return t;
}

} // namespace

std::vector<TDetailsColumn> ParseColumnCaptions(const std::string &captionList) {
  std::vector<TDetailsColumn> columns;
  for (std::string caption : Split(captionList, '|')) {
    TDetailsColumn c;
    if (!caption.empty() && caption[0] == '^') {
      c.upperCase = true;
      caption.erase(0, 1);
    }
    if (!caption.empty() && caption[0] == ' ') {
      c.rightAligned = true;
      caption.erase(0, 1);
    }
    c.caption = caption;
    columns.push_back(c);
  }
  return columns;
}

std::vector<std::string> DetailsLines(const std::string &text) {
  std::vector<std::string> lines = Split(text, '\r');
  for (std::string &l : lines)
    l.erase(std::remove(l.begin(), l.end(), '\n'), l.end());
  return lines;
}

std::vector<size_t> DetectColumns(std::vector<std::string> &lines, bool strict) {
  std::vector<size_t> boundaries;
  size_t longest = 0;
  for (size_t i = 1; i < lines.size(); ++i)
    if (EffectiveLength(lines[i]) > EffectiveLength(lines[longest]))
      longest = i;
  if (lines.empty())
    return boundaries;
  const size_t nonEmpty = size_t(std::count_if(lines.begin(), lines.end(), [](const std::string &l) { return !l.empty(); }));
  const std::string L = lines[longest];
  const size_t len = EffectiveLength(L);
  for (size_t i = 1; i + 2 <= len; ++i) { // 1-based position i; L[i] is the character at i + 1
    const char c = L[i - 1];
    const bool candidate = c == ' ' || c == '=' || c == '|' || (c == ':' && i < len && L[i] == ' ');
    if (!candidate)
      continue;
    bool separator = true;
    size_t count = 0;
    for (const std::string &line : lines) {
      if (EffectiveLength(line) < i)
        continue;
      if (line[i - 1] != c) {
        separator = false;
        break;
      }
      if (c != ' ' || i >= line.size() || line[i] != ' ')
        ++count;
    }
    if (!separator || (strict && !(nonEmpty == 1 || count > 1)))
      continue;
    for (std::string &line : lines)
      if (EffectiveLength(line) >= i)
        line[i - 1] = ' ';
    boundaries.push_back(i + 1);
  }
  return boundaries;
}

std::vector<TDetailsRow> SplitRows(const std::vector<std::string> &lines, const std::vector<size_t> &boundaries) {
  std::vector<TDetailsRow> rows;
  for (std::string line : lines) {
    if (EffectiveLength(line) > 0)
      for (size_t b : boundaries)
        if (b >= 2 && line.size() >= b - 1)
          line[b - 2] = '\t'; // the character just before the boundary
    rows.push_back({line, 0, false});
  }
  return rows;
}

TDetailsTable PrepareDetailsView(int tab, const std::string &sectionName, const std::string &text) {
  if (text.rfind(">> will be", 0) == 0)
    return Automatic(text);
  if (text.rfind(">> internal", 0) == 0 || tab == 1)
    return ThreadView(text);
  if (tab == 0) {
    std::vector<TDetailsRow> rows;
    for (const std::string &l : DetailsLines(text))
      rows.push_back({l, 0, false});
    return Table("description|value", std::move(rows));
  }
  if (sectionName == "modules")
    return Detected(text, true, "^handle|file name| version|path");
  if (sectionName == "cpu registers")
    return Detected(text, true, "reg.|content", true);
  if (sectionName == "stack dump")
    return Table("address|data - hexadecimal|data - chars", SplitRows(DetailsLines(text), {10, 61}), true);
  if (sectionName == "processes") {
    std::vector<std::string> lines = DetailsLines(text);
    const std::vector<size_t> boundaries = DetectColumns(lines, true);
    static const char *const captionLists[] = {
        "^id|file name|priority|path", "^id|file name|session|priority|path",
        "^id|file name|gdi objects|user objects|priority|path",
        "^id|file name|session|gdi objects|user objects|priority|path"};
    if (boundaries.size() < 3 || boundaries.size() > 6)
      return {};
    return Table(captionLists[boundaries.size() - 3], SplitRows(lines, boundaries));
  }
  if (sectionName == "disassembling")
    return Disassembly(text);
  return Automatic(text);
}

} // namespace kx
