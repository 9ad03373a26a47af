#pragma once
// The text rules of the bug report: joining header and sections into the report, the one-line
// form of header values, the exception message, internal-error texts, thread-title marks, the
// creator line of a thread trace and the callstack checksum field.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kx {

using KXTextPairs = std::vector<std::pair<std::string, std::string>>;

// Lower-case hexadecimal, 8 digits (more when the value needs them).
std::string Hex8(uint64_t value);
// Lower-case hexadecimal without leading zeros.
std::string HexPlain(uint64_t value);

// A header value on one line: CR LF, then every other CR and LF, become one space; runs of
// spaces shrink to one.
std::string OneLineValue(std::string_view value);

// The report text: the header lines (names padded to the longest name plus one, then ": "),
// then per section an empty line, the title (with ":" unless it holds one) and its lines, where
// trailing blanks are cut and an empty line is written ".". No line break at the end.
std::string JoinReport(const KXTextPairs &header, const KXTextPairs &sections);

// The "exception message" value: trailing '!', '.' and NUL characters replaced by one '.',
// CR and LF as spaces, runs of spaces shrunk to one.
std::string ReportMessage(std::string_view message);
// True when the message says nothing but the class name (trailing '!' and '.' ignored).
bool MessageIsClassName(std::string_view message, std::string_view className);

// ">> internal error in " + producer, and ":" CR LF + the location line when one is given.
std::string InternalErrorText(std::string_view producer, std::string_view location = {});

// The title of a thread section: title + ":", then " <suspended>" and " <priority:n>" marks.
std::string ThreadSectionTitle(std::string_view title, bool suspended, int priority);

// Puts ">> created by <creator> at:" on its own line before the last line of the trace (the line
// of the creator address). A trace that is empty or starts with ">" is returned unchanged.
std::string InsertCreatorLine(std::string_view trace, std::string_view creatorTitle);

// "$xxxxxxxx, $xxxxxxxx, $xxxxxxxx".
std::string CallstackCrcText(const std::array<uint32_t, 3> &crc);

// Updates a chain value with the four bytes of `value`, least significant first.
uint32_t CrcUpdateValue(uint32_t crc, uint32_t value);

} // namespace kx
