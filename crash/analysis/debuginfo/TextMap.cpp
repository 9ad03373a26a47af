// Reader of the linker's text map: segment overview, detailed segments, publics by value,
// line numbers and the entry point.
//
// Segment and public lines start with "SSSS:OOOOOOOO" (section, offset). The columns of the
// fields after it are taken relative to that colon, so a three-digit section column reads
// the same way as the usual four-digit one.
#include "crash/analysis/debuginfo/MapFile.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace {

std::optional<uint32_t> Hex(std::string_view s, size_t pos, size_t digits) {
  if (pos + digits > s.size() || digits == 0)
    return std::nullopt;
  uint32_t v = 0;
  for (size_t i = pos; i < pos + digits; ++i) {
    int c = (unsigned char)s[i];
    if (!std::isxdigit(c))
      return std::nullopt;
    v = v * 16 + uint32_t(std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
  }
  return v;
}

bool At(std::string_view s, size_t pos, std::string_view what) {
  return pos + what.size() <= s.size() && s.substr(pos, what.size()) == what;
}

// Column of the colon after the section number (3 or 4), or npos.
size_t SectionColon(std::string_view s) {
  if (At(s, 4, ":") && Hex(s, 0, 4))
    return 4;
  if (At(s, 3, ":") && Hex(s, 0, 3))
    return 3;
  return std::string_view::npos;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// "SSSS:OOOOOOOO" at the start of s.
std::optional<std::pair<uint32_t, uint32_t>> SectionOffset(std::string_view s) {
  size_t colon = SectionColon(s);
  if (colon == std::string_view::npos)
    return std::nullopt;
  auto offset = Hex(s, colon + 1, 8);
  if (!offset)
    return std::nullopt;
  return std::make_pair(*Hex(s, 0, colon), *offset);
}

} // namespace

bool TMapFile::LoadTextMap(std::string_view text) {
  enum class State { None, Overview, Detailed, Publics, Lines } state = State::None;
  uint32_t codeSize2 = 0;   // offset of code section 2 (C)
  uint32_t dataSection = 2; // D
  bool haveCodeSize = false;
  bool added = false;
  bool firstBlockLine = false;
  bool segmentsSorted = true;

  auto codeAddress = [&](uint32_t section, uint32_t offset) {
    return CodeAddress(section >= 2 ? offset + codeSize2 : offset);
  };
  auto leave = [&](State next) {
    if (!segmentsSorted) {
      SortSegments();
      segmentsSorted = true;
    }
    state = next;
  };

  while (!text.empty()) {
    size_t eol = text.find('\n');
    std::string_view raw = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    if (!raw.empty() && raw.back() == '\r')
      raw.remove_suffix(1);
    std::string_view line = raw;
    while (!line.empty() && line.front() == ' ')
      line.remove_prefix(1);
    if (line.empty())
      continue;

    if (line.find("Start         Length     Name                   Class") != line.npos) {
      leave(State::Overview);
      continue;
    }
    if (line.starts_with("Detailed map of segments")) {
      leave(State::Detailed);
      continue;
    }
    if (line.find("Publics by Value") != line.npos) {
      leave(State::Publics);
      continue;
    }
    if (line.find("Publics by Name") != line.npos || line.starts_with("Bound resource files")) {
      leave(State::None);
      continue;
    }
    if (line.starts_with("Line numbers for ")) {
      leave(State::Lines);
      firstBlockLine = true;
      continue;
    }
    if (line.starts_with("Program entry point at ")) {
      leave(State::None);
      if (auto so = SectionOffset(line.substr(23)))
        FEntryPoint = codeAddress(so->first, so->second);
      continue;
    }

    switch (state) {
    case State::None:
      break;
    case State::Overview: {
      size_t k = SectionColon(line);
      if (k == std::string_view::npos)
        break;
      if (line.find(".text") != line.npos && !haveCodeSize && At(line, k + 9, " ") &&
          At(line, k + 18, "H")) {
        if (auto len = Hex(line, k + 10, 8)) {
          codeSize2 = (*len + 0xFFF) & ~0xFFFu;
          haveCodeSize = true;
        }
      } else if (line.find(".data") != line.npos) {
        uint32_t n = 0;
        bool ok = true;
        for (size_t i = 0; i < 4 && i < line.size(); ++i) {
          if (!std::isdigit((unsigned char)line[i])) {
            ok = i > 0 && line[i] == ':';
            break;
          }
          n = n * 10 + uint32_t(line[i] - '0');
        }
        dataSection = ok && n >= 2 && n <= 9 ? n : 2;
      }
      break;
    }
    case State::Detailed: {
      size_t k = SectionColon(line);
      if (k == std::string_view::npos || line.size() <= 72 + (k - 3) || !At(line, k + 9, " ") ||
          !At(line, k + 18, " ") || !At(line, k + 19, "C="))
        break;
      uint32_t section = *Hex(line, 0, k);
      auto offset = Hex(line, k + 1, 8);
      auto length = Hex(line, k + 10, 8);
      if (!offset || !length || section < 1 || section > dataSection)
        break;
      std::string_view rest = Trim(line);
      // A trailing segment attribute ("ACBP=A9") is not part of the module name.
      size_t acbp = rest.rfind(" ACBP=");
      if (acbp != rest.npos)
        rest = Trim(rest.substr(0, acbp));
      size_t cut = rest.find_last_of("=\\|");
      std::string unit(Trim(cut == rest.npos ? rest : rest.substr(cut + 1)));
      bool code = section < dataSection;
      uint64_t start = code ? codeAddress(section, *offset) : FBaseOfData + *offset;
      AddSegment(code, start, *length, std::move(unit));
      segmentsSorted = false;
      added = true;
      break;
    }
    case State::Publics: {
      if (line.size() <= 13)
        break;
      auto so = SectionOffset(line);
      if (!so || so->first < 1 || so->first > dataSection)
        break;
      std::string_view rest = Trim(line);
      if (!rest.empty() && rest.back() == ')') {
        size_t open = rest.rfind('(');
        if (open != rest.npos)
          rest = Trim(rest.substr(0, open));
      }
      size_t blank = rest.find_last_of(" \t");
      std::string_view name = blank == rest.npos ? rest : rest.substr(blank + 1);
      if (name.empty() || blank == rest.npos)
        break;
      bool code = so->first < dataSection;
      uint64_t address = code ? codeAddress(so->first, so->second) : FBaseOfData + so->second;
      AddPublic(code, std::string(name), address);
      added = true;
      break;
    }
    case State::Lines: {
      bool firstLine = firstBlockLine;
      firstBlockLine = false;
      std::string_view rest = line;
      while (true) {
        rest = Trim(rest);
        size_t sp = rest.find_first_of(" \t");
        if (sp == rest.npos)
          break;
        std::string_view number = rest.substr(0, sp);
        rest = Trim(rest.substr(sp));
        size_t end = rest.find_first_of(" \t");
        std::string_view where = rest.substr(0, end);
        rest = end == rest.npos ? std::string_view{} : rest.substr(end);
        auto so = SectionOffset(where);
        if (!so || number.empty() ||
            !std::all_of(number.begin(), number.end(), [](char c) { return std::isdigit((unsigned char)c); }) ||
            number.size() > 9)
          break;
        if (so->first < 1 || so->first >= dataSection)
          continue;
        uint64_t address = codeAddress(so->first, so->second);
        if (!firstLine && !FLItems.empty() && address <= FLItems.back().Address)
          continue;
        AddLine(int32_t(std::stoul(std::string(number))), address);
        added = true;
      }
      break;
    }
    }
  }
  leave(State::None);
  SortPublics();
  SortLines();
  return added;
}
