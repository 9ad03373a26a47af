#include "crash/base/settings/KXText.h"

#include <atomic>

namespace kx {

namespace {

std::atomic<KXNarrowFn> gNarrow{nullptr};
std::atomic<KXWidenFn> gWiden{nullptr};

std::string BuiltInNarrow(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
      ++i; // a pair is one code point, always above 255
    out.push_back(u < 256 ? char(uint8_t(u)) : '?');
  }
  return out;
}

std::u16string BuiltInWiden(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char c : text)
    out.push_back(char16_t(uint8_t(c)));
  return out;
}

void AppendUtf16(std::u16string &out, uint32_t cp) {
  if (cp < 0x10000) {
    out.push_back(char16_t(cp));
  } else {
    cp -= 0x10000;
    out.push_back(char16_t(0xD800 + (cp >> 10)));
    out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
  }
}

} // namespace

void SetCodePageConversion(KXNarrowFn narrow, KXWidenFn widen) {
  gNarrow = narrow;
  gWiden = widen;
}

std::string NarrowUtf16(std::u16string_view text) {
  KXNarrowFn narrow = gNarrow;
  return narrow ? narrow(text) : BuiltInNarrow(text);
}

std::u16string WidenToUtf16(std::string_view text) {
  KXWidenFn widen = gWiden;
  return widen ? widen(text) : BuiltInWiden(text);
}

std::string NarrowUtf8(std::string_view utf8) {
  std::u16string wide;
  wide.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    uint8_t b = uint8_t(utf8[i]);
    if (b < 0x80) {
      wide.push_back(b);
      ++i;
      continue;
    }
    size_t need;
    uint32_t cp, min;
    if ((b & 0xE0) == 0xC0) {
      need = 1, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      need = 2, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      need = 3, cp = b & 0x07, min = 0x10000;
    } else {
      wide.push_back(0xFFFD);
      ++i;
      continue;
    }
    size_t j = 1;
    for (; j <= need && i + j < utf8.size(); ++j) {
      uint8_t c = uint8_t(utf8[i + j]);
      if ((c & 0xC0) != 0x80)
        break;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (j <= need || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      wide.push_back(0xFFFD); // malformed: skip the lead byte and the continuation bytes seen
      i += j;
      continue;
    }
    AppendUtf16(wide, cp);
    i += need + 1;
  }
  return NarrowUtf16(wide);
}

std::string EncodeUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(char(cp));
    } else if (cp < 0x800) {
      out.push_back(char(0xC0 | (cp >> 6)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(char(0xE0 | (cp >> 12)));
      out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(char(0xF0 | (cp >> 18)));
      out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i]))
      return false;
  return true;
}

namespace {
char16_t FoldCaseW(char16_t c) {
  if (c >= u'A' && c <= u'Z')
    return char16_t(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
    return char16_t(c + 32);
  return c;
}
} // namespace

bool SameTextW(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldCaseW(a[i]) != FoldCaseW(b[i]))
      return false;
  return true;
}

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && uint8_t(text[b]) <= 32)
    ++b;
  while (e > b && uint8_t(text[e - 1]) <= 32)
    --e;
  return std::string(text.substr(b, e - b));
}

std::vector<std::string> SplitText(std::string_view text, char sep) {
  std::vector<std::string> items;
  size_t start = 0;
  for (;;) {
    size_t p = text.find(sep, start);
    if (p == std::string_view::npos) {
      items.emplace_back(text.substr(start));
      return items;
    }
    items.emplace_back(text.substr(start, p - start));
    start = p + 1;
  }
}

namespace {
size_t NameStart(std::string_view path) {
  size_t p = path.find_last_of("\\/:");
  return p == std::string_view::npos ? 0 : p + 1;
}
} // namespace

std::string ExtractFileName(std::string_view path) { return std::string(path.substr(NameStart(path))); }

std::string ExtractFilePath(std::string_view path) { return std::string(path.substr(0, NameStart(path))); }

std::string StripExtension(std::string_view name) {
  size_t start = NameStart(name);
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot < start)
    return std::string(name);
  return std::string(name.substr(0, dot));
}

namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z')
    return c - 'A';
  if (c >= 'a' && c <= 'z')
    return c - 'a' + 26;
  if (c >= '0' && c <= '9')
    return c - '0' + 52;
  if (c == '+')
    return 62;
  if (c == '/')
    return 63;
  return -1;
}
} // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 | uint8_t(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  size_t rest = bytes.size() - i;
  if (rest == 1) {
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (rest == 2) {
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
  std::string digits;
  size_t pad = 0;
  for (char c : text) {
    if (uint8_t(c) <= 32)
      continue;
    if (c == '=') {
      ++pad;
      continue;
    }
    if (pad != 0 || Base64Value(c) < 0)
      return std::nullopt; // a digit after padding, or not a Base64 digit
    digits += c;
  }
  if (digits.size() % 4 == 1 || pad > 2)
    return std::nullopt;
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : digits) {
    acc = (acc << 6) | uint32_t(Base64Value(c));
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += char(uint8_t(acc >> bits));
    }
  }
  return out;
}

} // namespace kx
