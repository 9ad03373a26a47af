#pragma once
// Text helpers of the reporter settings: the 8-bit/UTF-16 conversions used where a stream or a
// caller carries wide text, case-insensitive comparison of 8-bit text, trimming and Base64.
//
// The portable conversions treat the 8-bit text as ISO-8859-1: bytes map to the code points
// 0..255 and back; a code point above 255 becomes '?'. The Win32 shell may replace them with the
// system code page where that matters.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// UTF-16 to 8-bit text. Built in: one character per code point (a valid surrogate pair is one
// code point), code points above 255 and unpaired surrogates become '?'.
std::string NarrowUtf16(std::u16string_view text);
// 8-bit text to UTF-16. Built in: one unit per byte.
std::u16string WidenToUtf16(std::string_view text);
// UTF-8 bytes to 8-bit text (through UTF-16); malformed sequences become U+FFFD first.
std::string NarrowUtf8(std::string_view utf8);
// UTF-16 to UTF-8 bytes (independent of the code page); an unpaired surrogate becomes U+FFFD.
std::string EncodeUtf8(std::u16string_view text);

// Replaces the two conversions above for the whole process (the Win32 shell installs the system
// code page at start-up, before any settings are read); null restores the built-in ones.
using KXNarrowFn = std::string (*)(std::u16string_view);
using KXWidenFn = std::u16string (*)(std::string_view);
void SetCodePageConversion(KXNarrowFn narrow, KXWidenFn widen);

// ASCII letter case folding, as the names of keys, variables and plug-ins need it.
char FoldCase(char c);
bool SameText(std::string_view a, std::string_view b);
// Case-insensitive comparison of UTF-16 text (ASCII and Latin-1 letters fold).
bool SameTextW(std::u16string_view a, std::u16string_view b);

// Removes characters with codes up to 32 at both ends.
std::string Trim(std::string_view text);

// Splits at every occurrence of sep; an empty text gives one empty item.
std::vector<std::string> SplitText(std::string_view text, char sep);

// The file name after the last '\\', '/' or ':'.
std::string ExtractFileName(std::string_view path);
// The folder part including its trailing separator ("" when there is none).
std::string ExtractFilePath(std::string_view path);
// The name without its last extension (from the last '.' of the file name part).
std::string StripExtension(std::string_view name);

// Standard Base64 (RFC 4648 alphabet, '=' padding).
std::string Base64Encode(std::string_view bytes);
// Decodes Base64; blanks are skipped. Returns nullopt on any other invalid character or a
// length that cannot be Base64.
std::optional<std::string> Base64Decode(std::string_view text);

} // namespace kx
