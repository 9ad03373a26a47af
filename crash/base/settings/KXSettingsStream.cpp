#include "crash/base/settings/KXSettingsStream.h"

#include <cstdio>
#include <stdexcept>

#include "crash/base/settings/KXText.h"

namespace kx {

namespace {

const uint8_t kSignature[] = {'T', 'P', 'F', '0', 10,  'T', 'K', 'e', 's', 't', 'r', 'e', 'l', 'i',
                              'x', 9,   'K', 'e', 's', 't', 'r', 'e', 'l', 'i', 'x'};

// Bounds-checked little-endian reader over the stream bytes.
class Reader {
public:
  explicit Reader(std::span<const uint8_t> data) : FData(data) {}
  bool Has(size_t n) const { return n <= FData.size() - FPos; }
  uint8_t Byte() { return FData[FPos++]; }
  uint32_t U16() {
    uint32_t v = uint32_t(FData[FPos]) | uint32_t(FData[FPos + 1]) << 8;
    FPos += 2;
    return v;
  }
  uint32_t U32() {
    uint32_t v = uint32_t(FData[FPos]) | uint32_t(FData[FPos + 1]) << 8 | uint32_t(FData[FPos + 2]) << 16 |
                 uint32_t(FData[FPos + 3]) << 24;
    FPos += 4;
    return v;
  }
  std::string_view Bytes(size_t n) {
    std::string_view v(reinterpret_cast<const char *>(FData.data() + FPos), n);
    FPos += n;
    return v;
  }
  void Skip(size_t n) { FPos += n; }

private:
  std::span<const uint8_t> FData;
  size_t FPos = 0;
};

enum class ValueResult { ok, truncated, badType };

// Reads one value (after its type byte) into prop.
ValueResult ReadValue(Reader &r, uint8_t type, TKXProperty &prop) {
  switch (type) {
  case kStreamInt8:
    if (!r.Has(1))
      return ValueResult::truncated;
    prop.typ = TPropertyType::ptInteger;
    prop.vInt = int8_t(r.Byte());
    return ValueResult::ok;
  case kStreamInt16:
    if (!r.Has(2))
      return ValueResult::truncated;
    prop.typ = TPropertyType::ptInteger;
    prop.vInt = int16_t(uint16_t(r.U16()));
    return ValueResult::ok;
  case kStreamInt32:
    if (!r.Has(4))
      return ValueResult::truncated;
    prop.typ = TPropertyType::ptInteger;
    prop.vInt = int32_t(r.U32());
    return ValueResult::ok;
  case kStreamFalse:
  case kStreamTrue:
    prop.typ = TPropertyType::ptBoolean;
    prop.vBool = type == kStreamTrue;
    return ValueResult::ok;
  case kStreamString: {
    if (!r.Has(1))
      return ValueResult::truncated;
    size_t n = r.Byte();
    if (!r.Has(n))
      return ValueResult::truncated;
    prop.typ = TPropertyType::ptString;
    prop.SetText(r.Bytes(n));
    return ValueResult::ok;
  }
  case kStreamLString:
  case kStreamUtf8String: {
    if (!r.Has(4))
      return ValueResult::truncated;
    size_t n = r.U32();
    if (!r.Has(n))
      return ValueResult::truncated;
    prop.typ = TPropertyType::ptString;
    std::string_view bytes = r.Bytes(n);
    prop.SetText(type == kStreamLString ? std::string(bytes) : NarrowUtf8(bytes));
    return ValueResult::ok;
  }
  case kStreamWString: {
    if (!r.Has(4))
      return ValueResult::truncated;
    size_t n = r.U32();
    if (n > SIZE_MAX / 2 || !r.Has(n * 2))
      return ValueResult::truncated;
    std::u16string wide;
    wide.reserve(n);
    for (size_t i = 0; i < n; ++i)
      wide.push_back(char16_t(r.U16()));
    prop.typ = TPropertyType::ptString;
    prop.SetText(NarrowUtf16(wide));
    return ValueResult::ok;
  }
  default:
    return ValueResult::badType;
  }
}

} // namespace

std::span<const uint8_t> SettingsStreamSignature() { return kSignature; }

std::string InvalidTypeMessage(uint8_t typeByte) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "$%02X", unsigned(typeByte));
  return std::string("Internal error: Invalid settings resource (") + hex + ").";
}

std::string TruncatedStreamMessage() { return "Internal error: Invalid settings resource (truncated)."; }

StreamReadResult ReadSettingsStream(std::span<const uint8_t> data, TKXPropertyList &list) {
  StreamReadResult result;
  if (data.size() < sizeof kSignature || !std::equal(std::begin(kSignature), std::end(kSignature), data.begin()))
    return result;
  result.signatureOk = true;
  Reader r(data);
  r.Skip(sizeof kSignature);
  for (;;) {
    if (!r.Has(1)) {
      result.error = TruncatedStreamMessage();
      return result;
    }
    size_t nameLength = r.Byte();
    if (nameLength == 0) {
      result.complete = true;
      return result;
    }
    if (!r.Has(nameLength + 1)) {
      result.error = TruncatedStreamMessage();
      return result;
    }
    std::string_view name = r.Bytes(nameLength);
    uint8_t type = r.Byte();
    TKXProperty value;
    switch (ReadValue(r, type, value)) {
    case ValueResult::ok: {
      TKXProperty &prop = list.Append(name, value.typ);
      prop.vBool = value.vBool;
      prop.vInt = value.vInt;
      prop.vStr = std::move(value.vStr);
      break;
    }
    case ValueResult::truncated:
      result.error = TruncatedStreamMessage();
      return result;
    case ValueResult::badType:
      result.error = InvalidTypeMessage(type);
      return result;
    }
  }
}

std::vector<uint8_t> WriteSettingsStream(const TKXPropertyList &list) {
  std::vector<uint8_t> out(std::begin(kSignature), std::end(kSignature));
  auto put32 = [&out](uint32_t v) {
    for (int i = 0; i < 4; ++i)
      out.push_back(uint8_t(v >> (8 * i)));
  };
  for (size_t i = 0; i < list.Count(); ++i) {
    const TKXProperty &p = list[i];
    if (p.name.empty() || p.name.size() > 255)
      throw std::invalid_argument("property name must have 1 to 255 characters: '" + p.name + "'");
    out.push_back(uint8_t(p.name.size()));
    out.insert(out.end(), p.name.begin(), p.name.end());
    switch (p.typ) {
    case TPropertyType::ptInteger:
      out.push_back(kStreamInt32);
      put32(uint32_t(p.vInt));
      break;
    case TPropertyType::ptBoolean:
      out.push_back(p.vBool ? kStreamTrue : kStreamFalse);
      break;
    case TPropertyType::ptString: {
      std::string text = p.Text();
      out.push_back(kStreamLString);
      put32(uint32_t(text.size()));
      out.insert(out.end(), text.begin(), text.end());
      break;
    }
    default:
      throw std::invalid_argument("property '" + p.name + "' has a type the stream cannot hold");
    }
  }
  out.push_back(0); // end of the property list
  out.push_back(0); // end of the child list
  return out;
}

void LoadSettingsList(std::span<const uint8_t> data, TKXPropertyList &list,
                      const std::function<void(const std::string &)> &showMessage) {
  StreamReadResult r = ReadSettingsStream(data, list);
  if (!r.error.empty() && showMessage)
    showMessage(r.error);
  DecipherStoredPasswords(list);
}

// --- password cipher ---------------------------------------------------------------------------
// A byte stream cipher with ciphertext feedback: the key text and a fixed constant seed a
// xorshift generator whose top byte, together with the previous cipher byte, masks each byte.
// It keeps credentials out of plain sight in the module; it is not meant to resist analysis.

namespace {

constexpr uint32_t kServerConstant = 0x5A3C96E1u;
constexpr uint32_t kAccountConstant = 0x1B7F4D2Bu;

uint32_t Seed(std::string_view key, uint32_t constant) {
  uint32_t h = 2166136261u ^ constant;
  for (char c : key) {
    h ^= uint8_t(c);
    h *= 16777619u;
  }
  return h != 0 ? h : (constant | 1u);
}

uint32_t Next(uint32_t &s) {
  s ^= s << 13;
  s ^= s >> 17;
  s ^= s << 5;
  return s;
}

std::string Encipher(std::string_view plain, std::string_view key, uint32_t constant) {
  uint32_t s = Seed(key, constant);
  uint8_t prev = uint8_t(s);
  std::string out(plain.size(), '\0');
  for (size_t i = 0; i < plain.size(); ++i) {
    uint8_t c = uint8_t(uint8_t(plain[i]) ^ uint8_t(Next(s) >> 24) ^ prev);
    out[i] = char(c);
    prev = c;
  }
  return out;
}

std::string Decipher(std::string_view cipher, std::string_view key, uint32_t constant) {
  uint32_t s = Seed(key, constant);
  uint8_t prev = uint8_t(s);
  std::string out(cipher.size(), '\0');
  for (size_t i = 0; i < cipher.size(); ++i) {
    uint8_t c = uint8_t(cipher[i]);
    out[i] = char(c ^ uint8_t(Next(s) >> 24) ^ prev);
    prev = c;
  }
  return out;
}

void TransformPassword(TKXPropertyList &list, const char *passwordKey, const char *serverKey,
                       const char *accountKey, bool encipher) {
  TKXProperty *pw = list.Find(passwordKey);
  if (!pw || pw->typ != TPropertyType::ptString || pw->vStr.empty())
    return;
  auto text = [&list](const char *key) {
    const TKXProperty *p = list.Find(key);
    return p && p->typ == TPropertyType::ptString ? p->Text() : std::string();
  };
  std::string server = text(serverKey), account = text(accountKey);
  if (encipher) {
    pw->SetText(EncipherPassword(pw->Text(), server, account));
  } else {
    std::optional<std::string> plain = DecipherPassword(pw->Text(), server, account);
    pw->SetText(plain ? *plain : std::string());
  }
}

} // namespace

std::string EncipherPassword(std::string_view plain, std::string_view server, std::string_view account) {
  if (plain.empty())
    return {};
  return Base64Encode(Encipher(Encipher(plain, account, kAccountConstant), server, kServerConstant));
}

std::optional<std::string> DecipherPassword(std::string_view stored, std::string_view server,
                                            std::string_view account) {
  std::optional<std::string> raw = Base64Decode(stored);
  if (!raw)
    return std::nullopt;
  return Decipher(Decipher(*raw, server, kServerConstant), account, kAccountConstant);
}

void DecipherStoredPasswords(TKXPropertyList &list) {
  TransformPassword(list, "SmtpPassword", "SmtpServer", "SmtpAccount", false);
  TransformPassword(list, "HttpPassword", "HttpServer", "HttpAccount", false);
}

void EncipherStoredPasswords(TKXPropertyList &list) {
  TransformPassword(list, "SmtpPassword", "SmtpServer", "SmtpAccount", true);
  TransformPassword(list, "HttpPassword", "HttpServer", "HttpAccount", true);
}

} // namespace kx
