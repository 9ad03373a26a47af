#include "runtime/StrToInt.h"

#include "runtime/Exception.h"

#include <cstdint>

bool TryStrToInt(const std::string &text, int &value) {
  size_t i = 0, n = text.size();
  while (i < n && text[i] == ' ')
    ++i;
  while (n > i && text[n - 1] == ' ')
    --n;
  bool negative = false;
  if (i < n && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  unsigned base = 10;
  if (i < n && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= n)
    return false;
  // Decimal text must fit a signed 32-bit value; hexadecimal text may use all 32 bits.
  const uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  uint64_t magnitude = 0;
  for (; i < n; ++i) {
    char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = unsigned(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = unsigned(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = unsigned(c - 'A' + 10);
    else
      return false;
    magnitude = magnitude * base + digit;
    if (magnitude > limit)
      return false;
  }
  uint32_t bits = uint32_t(magnitude);
  if (negative)
    bits = 0u - bits;
  value = int32_t(bits);
  return true;
}

int StrToInt(const std::string &text) {
  int value = 0;
  if (!TryStrToInt(text, value))
    throw EConvertError("'" + text + "' is not a valid integer value");
  return value;
}
