#pragma once
// What the readable notations of property streams share: the error that names a source line, the
// walk over a source's statement lines, the decimal integers, and the command that turns a source
// file into a stream file. The notations themselves are in SettingsSource and FormSource.
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kx {

class StreamSourceError : public std::runtime_error {
public:
  StreamSourceError(int line, const std::string &message)
      : std::runtime_error(std::to_string(line) + ": " + message), FLine(line) {}
  int Line() const { return FLine; }

private:
  int FLine;
};

// The statement lines of a source, each with its number (counted from 1) and with the blanks
// around it removed: lines that are blank or whose first non-blank character is '#' are passed
// over. Which characters are blanks is the notation's choice.
class TSourceLines {
public:
  using TBlank = bool (*)(char);
  TSourceLines(std::string_view source, TBlank blank) : FRest(source), FBlank(blank) {}

  // The next statement line; false at the end of the source.
  bool Next(std::string_view &line);
  // The number of the line Next gave last (of the last line at the end).
  int Number() const { return FNumber; }

private:
  std::string_view FRest;
  TBlank FBlank;
  int FNumber = 0;
};

// A decimal 32-bit integer: an optional sign ('+' only where allowed), then digits and nothing
// else. Long digit strings are rejected as soon as they leave the range, so the work stays linear.
enum class TIntegerScan { ok, notANumber, outOfRange };
TIntegerScan ScanInt32(std::string_view text, bool allowPlus, int32_t &value);

// The command around a compiler: reads the source file, compiles it and writes the stream under a
// temporary name first, so that a failed run leaves no partial stream behind. A compile error is
// printed as "<source>:<line>: <message>". Returns the process exit code.
int CompileSourceFile(const char *toolName, const char *sourcePath, const char *outputPath,
                      const std::function<std::string(std::string_view)> &compile);

} // namespace kx
