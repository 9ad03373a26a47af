#pragma once
// Report texts laid out as the composer writes them: padded "name : value" header lines, then
// sections after an empty line.
#include <string>
#include <utility>
#include <vector>

namespace kx::test {

using Fields = std::vector<std::pair<std::string, std::string>>;

inline std::string Report(const Fields &fields, const std::string &sections = "main thread:\r\n00401000 Tidewell.exe") {
  size_t width = 0;
  for (const auto &f : fields)
    width = std::max(width, f.first.size() + 1);
  std::string text;
  for (const auto &f : fields) {
    if (!text.empty())
      text += "\r\n";
    text += f.first + std::string(width - f.first.size(), ' ') + ": " + f.second;
  }
  if (!sections.empty())
    text += "\r\n\r\n" + sections;
  return text;
}

inline constexpr const char *kCrcA = "$5d8b02ac, $0e41f1c9, $0e41f1c9";
inline constexpr const char *kCrcB = "$11111111, $22222222, $33333333";

// An exception report of Tidewell.exe with the given checksum and time.
inline std::string CrashReport(const std::string &crc, const std::string &time = "2026-12-09, 09:05:07, 85ms",
                               const std::string &version = "1.0.0.12") {
  return Report({{"date/time", time},
                 {"computer name", "STATION"},
                 {"process id", "$5d8b02ac"},
                 {"executable", "Tidewell.exe"},
                 {"exec. date/time", "2026-12-01 10:00"},
                 {"version", version},
                 {"callstack crc", crc},
                 {"exception number", "1"},
                 {"exception class", "EConvertError"},
                 {"exception message", "'abc' is not a valid integer value."}});
}

// A freeze report: no "exception class" field.
inline std::string FreezeReport(const std::string &crc) {
  return Report({{"date/time", "2026-12-09, 09:05:07, 85ms"},
                 {"executable", "Tidewell.exe"},
                 {"version", "1.0.0.12"},
                 {"callstack crc", crc},
                 {"exception message", "The application seems to be frozen."}});
}

inline size_t Occurrences(const std::string &text, const std::string &part) {
  size_t n = 0;
  for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1))
    ++n;
  return n;
}

// The number of reports in a bug report file (report starts).
inline size_t ReportCountIn(const std::string &file) {
  return Occurrences(file, "\r\ndate/time") + (file.rfind("date/time", 0) == 0 ? 1 : 0);
}

// The report of the file whose "date/time" value is the given text, up to the file's end.
inline std::string ReportAt(const std::string &file, const std::string &time) {
  size_t at = file.find(": " + time + "\r\n");
  if (at == std::string::npos)
    return {};
  size_t start = file.rfind("date/time", at);
  return start == std::string::npos ? std::string() : file.substr(start);
}

} // namespace kx::test
