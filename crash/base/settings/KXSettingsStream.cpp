#include "crash/base/settings/KXSettingsStream.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "crash/base/bytes/ByteReader.h"
#include "crash/base/propstream/PropertyStream.h"
#include "crash/base/settings/KXText.h"

namespace kx {

namespace {

const uint8_t kSignature[] = {'T', 'P', 'F', '0', 10,  'T', 'K', 'e', 's', 't', 'r', 'e', 'l', 'i',
                              'x', 9,   'K', 'e', 's', 't', 'r', 'e', 'l', 'i', 'x'};

// The value types a settings stream may hold; any other type byte stops the reading.
constexpr TPropValueTypes kSettingsValueTypes = {
    TPropValueType::vaInt8,  TPropValueType::vaInt16,   TPropValueType::vaInt32,   TPropValueType::vaString,
    TPropValueType::vaFalse, TPropValueType::vaTrue,    TPropValueType::vaLString, TPropValueType::vaWString,
    TPropValueType::vaUtf8String};

// Appends a value read from the stream to the list: integers, booleans, and every text as 8-bit
// text (wide and UTF-8 texts converted).
void AppendValue(TKXPropertyList &list, std::string_view name, const TPropValue &value) {
  if (value.IsInteger()) {
    list.Append(name, TPropertyType::ptInteger).vInt = value.integer;
  } else if (value.IsBoolean()) {
    list.Append(name, TPropertyType::ptBoolean).vBool = value.boolean;
  } else if (value.type == TPropValueType::vaWString) {
    list.Append(name, TPropertyType::ptString).SetText(NarrowUtf16(value.WideText()));
  } else if (value.type == TPropValueType::vaUtf8String) {
    list.Append(name, TPropertyType::ptString).SetText(NarrowUtf8(value.text));
  } else {
    list.Append(name, TPropertyType::ptString).SetText(value.text);
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
  ByteReader in(data);
  in.Skip(sizeof kSignature);
  TPropertyStreamReader stream(in);
  for (;;) {
    std::string_view name;
    TPropValue value;
    switch (stream.Property(name, value, kSettingsValueTypes)) {
    case TPropertyStreamReader::TStatus::property:
      AppendValue(list, name, value);
      break;
    case TPropertyStreamReader::TStatus::endOfList:
      result.complete = true;
      return result;
    case TPropertyStreamReader::TStatus::truncated:
      result.error = TruncatedStreamMessage();
      return result;
    case TPropertyStreamReader::TStatus::badType:
      result.error = InvalidTypeMessage(uint8_t(value.type));
      return result;
    }
  }
}

std::vector<uint8_t> WriteSettingsStream(const TKXPropertyList &list) {
  TPropertyStreamWriter out;
  out.BeginObject("TKestrelix", "Kestrelix");
  for (size_t i = 0; i < list.Count(); ++i) {
    const TKXProperty &p = list[i];
    if (p.name.empty() || p.name.size() > 255)
      throw std::invalid_argument("property name must have 1 to 255 characters: '" + p.name + "'");
    switch (p.typ) {
    case TPropertyType::ptInteger:
      out.Int32(p.name, p.vInt);
      break;
    case TPropertyType::ptBoolean:
      out.Boolean(p.name, p.vBool);
      break;
    case TPropertyType::ptString:
      out.LString(p.name, p.Text());
      break;
    default:
      throw std::invalid_argument("property '" + p.name + "' has a type the stream cannot hold");
    }
  }
  out.EndList(); // end of the property list
  out.EndList(); // end of the child list
  return std::vector<uint8_t>(out.Bytes().begin(), out.Bytes().end());
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
