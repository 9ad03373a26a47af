#include "tools/kxstream/StreamSource.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

namespace kx {

bool TSourceLines::Next(std::string_view &line) {
  while (!FRest.empty()) {
    ++FNumber;
    const size_t end = FRest.find('\n');
    line = FRest.substr(0, end);
    FRest = end == std::string_view::npos ? std::string_view() : FRest.substr(end + 1);
    while (!line.empty() && FBlank(line.front()))
      line.remove_prefix(1);
    while (!line.empty() && FBlank(line.back()))
      line.remove_suffix(1);
    if (!line.empty() && line.front() != '#')
      return true;
  }
  return false;
}

TIntegerScan ScanInt32(std::string_view text, bool allowPlus, int32_t &value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || (allowPlus && text[i] == '+')))
    negative = text[i++] == '-';
  if (i == text.size())
    return TIntegerScan::notANumber;
  int64_t magnitude = 0;
  bool tooLarge = false;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9')
      return TIntegerScan::notANumber;
    if (!tooLarge)
      magnitude = magnitude * 10 + (text[i] - '0');
    tooLarge = tooLarge || magnitude > int64_t(INT32_MAX) + 1;
  }
  if (negative)
    magnitude = -magnitude;
  if (tooLarge || magnitude > INT32_MAX)
    return TIntegerScan::outOfRange;
  value = int32_t(magnitude);
  return TIntegerScan::ok;
}

int CompileSourceFile(const char *toolName, const char *sourcePath, const char *outputPath,
                      const std::function<std::string(std::string_view)> &compile) {
  std::ifstream in(sourcePath, std::ios::binary);
  if (!in) {
    std::cerr << toolName << ": cannot read " << sourcePath << "\n";
    return 1;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::string stream;
  try {
    stream = compile(text.str());
  } catch (const std::exception &e) {
    std::cerr << sourcePath << ":" << e.what() << "\n";
    return 1;
  }
  const std::string temp = std::string(outputPath) + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(stream.data(), std::streamsize(stream.size()));
    if (!out.flush()) {
      std::cerr << toolName << ": cannot write " << temp << "\n";
      std::remove(temp.c_str());
      return 1;
    }
  }
  if (std::rename(temp.c_str(), outputPath) != 0) {
    std::cerr << toolName << ": cannot write " << outputPath << "\n";
    std::remove(temp.c_str());
    return 1;
  }
  return 0;
}

} // namespace kx
