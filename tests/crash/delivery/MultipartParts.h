#pragma once
// Reads a written multipart message back the way a receiving server does, for the tests and the
// fuzz target that check that no content can add, end or forge a part. The reading is the loose
// one of common servers: every CR LF "--" boundary counts as a delimiter, whatever follows it.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx::test {

// A random source that gives the same words for the same seed, so that a test can know the
// boundary candidates in advance and put them into the content.
inline std::function<uint32_t()> SequenceRandom(uint32_t seed) {
  return [x = seed]() mutable {
    x = x * 1664525u + 1013904223u;
    return x >> 8;
  };
}

// A delimiter line of boundary followed by the headers of a forged form field.
inline std::string ForgedFieldPart(std::string_view boundary) {
  return "\r\n--" + std::string(boundary) + "\r\nContent-Disposition: form-data; name=\"Forged\"\r\n\r\nforged";
}

// The boundary of the product's earlier versions, the same for every message.
inline constexpr std::string_view kOldFixedBoundary = "KestrelixBoundary_7d41c09ef2a83b6";

struct MultipartPart {
  std::vector<std::string> headerLines;
  std::string body;
};

// The boundary parameter of the message's first Content-Type header line (quoted or not); "" when
// there is none.
inline std::string BoundaryFromHeader(std::string_view message) {
  size_t line = message.find("Content-Type: multipart/");
  if (line == std::string_view::npos)
    return {};
  size_t end = message.find("\r\n", line);
  std::string_view header = message.substr(line, end - line);
  size_t at = header.find("boundary=");
  if (at == std::string_view::npos)
    return {};
  std::string_view value = header.substr(at + 9);
  if (!value.empty() && value.front() == '"') {
    value.remove_prefix(1);
    value = value.substr(0, value.find('"'));
  } else {
    value = value.substr(0, value.find_first_of("; "));
  }
  return std::string(value);
}

// The parts between the delimiters of boundary, in order; nullopt when the message has no closing
// delimiter or a part has no empty line after its headers.
inline std::optional<std::vector<MultipartPart>> SplitMultipart(std::string_view message, std::string_view boundary) {
  if (boundary.empty())
    return std::nullopt;
  const std::string delimiter = "\r\n--" + std::string(boundary);
  std::vector<MultipartPart> parts;
  size_t at = message.find(delimiter);
  while (at != std::string_view::npos) {
    size_t after = at + delimiter.size();
    if (message.substr(after, 2) == "--")
      return parts;
    size_t lineEnd = message.find("\r\n", after);
    if (lineEnd == std::string_view::npos)
      return std::nullopt;
    size_t next = message.find(delimiter, lineEnd);
    if (next == std::string_view::npos)
      return std::nullopt;
    // The headers run from after the delimiter line to the first empty line (at once for none).
    std::string_view content = message.substr(lineEnd, next - lineEnd);
    size_t blank = content.find("\r\n\r\n");
    if (blank == std::string_view::npos)
      return std::nullopt;
    MultipartPart part;
    std::string_view headers = blank < 2 ? std::string_view() : content.substr(2, blank - 2);
    for (size_t pos = 0; pos < headers.size();) {
      size_t end = headers.find("\r\n", pos);
      if (end == std::string_view::npos)
        end = headers.size();
      part.headerLines.emplace_back(headers.substr(pos, end - pos));
      pos = end + 2;
    }
    part.body = std::string(content.substr(blank + 4));
    parts.push_back(std::move(part));
    at = next;
  }
  return std::nullopt;
}

// The parameters of a header line ("Content-Disposition: form-data; name=\"a\"; filename=\"b\""),
// quoted values read with their backslash escapes. A name given twice is kept with its first value
// and counted in duplicates.
struct HeaderParams {
  std::map<std::string, std::string> values;
  int duplicates = 0;
  bool malformed = false;
};
inline HeaderParams ReadHeaderParams(std::string_view line) {
  HeaderParams params;
  size_t pos = line.find(';');
  while (pos != std::string_view::npos && pos < line.size()) {
    ++pos;
    while (pos < line.size() && line[pos] == ' ')
      ++pos;
    size_t eq = line.find('=', pos);
    if (eq == std::string_view::npos) {
      params.malformed = true;
      break;
    }
    std::string name(line.substr(pos, eq - pos));
    std::string value;
    pos = eq + 1;
    if (pos < line.size() && line[pos] == '"') {
      ++pos;
      bool closed = false;
      for (; pos < line.size(); ++pos) {
        if (line[pos] == '\\' && pos + 1 < line.size()) {
          value += line[++pos];
        } else if (line[pos] == '"') {
          closed = true;
          ++pos;
          break;
        } else {
          value += line[pos];
        }
      }
      if (!closed || (pos < line.size() && line[pos] != ';'))
        params.malformed = true;
      if (pos >= line.size())
        pos = std::string_view::npos;
    } else {
      size_t end = line.find(';', pos);
      value = std::string(line.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos));
      pos = end;
    }
    if (!params.values.emplace(name, value).second)
      ++params.duplicates;
  }
  return params;
}

} // namespace kx::test
