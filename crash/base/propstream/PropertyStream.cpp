#include "crash/base/propstream/PropertyStream.h"

namespace kx {

std::u16string TPropValue::WideText() const {
  std::u16string wide;
  wide.reserve(text.size() / 2);
  for (size_t i = 0; i + 1 < text.size(); i += 2)
    wide.push_back(char16_t(uint8_t(text[i]) | uint8_t(text[i + 1]) << 8));
  return wide;
}

// --- reader ------------------------------------------------------------------------------------

bool TPropertyStreamReader::Signature() {
  const size_t start = FIn.Position();
  if (!FIn.Has(kPropertyStreamSignature.size()) || FIn.Text(kPropertyStreamSignature.size()) != kPropertyStreamSignature) {
    FIn.Seek(start);
    return false;
  }
  return true;
}

bool TPropertyStreamReader::ShortString(std::string_view &text) {
  const size_t length = FIn.U8();
  text = FIn.Text(length);
  return !FIn.Failed();
}

TPropertyStreamReader::TStatus TPropertyStreamReader::Property(std::string_view &name, TPropValue &value,
                                                               TPropValueTypes accepted) {
  std::string_view read;
  if (!ShortString(read))
    return TStatus::truncated;
  if (read.empty())
    return TStatus::endOfList;
  const uint8_t type = FIn.U8();
  if (FIn.Failed())
    return TStatus::truncated;
  value = TPropValue();
  value.type = TPropValueType(type);
  if (!accepted.Has(type))
    return TStatus::badType;
  if (!Value(value))
    return TStatus::truncated;
  name = read;
  return TStatus::property;
}

bool TPropertyStreamReader::Value(TPropValue &value) {
  switch (value.type) {
  case TPropValueType::vaInt8:
    value.integer = FIn.S8();
    break;
  case TPropValueType::vaInt16:
    value.integer = FIn.S16();
    break;
  case TPropValueType::vaInt32:
    value.integer = FIn.S32();
    break;
  case TPropValueType::vaString:
  case TPropValueType::vaIdent:
    return ShortString(value.text);
  case TPropValueType::vaFalse:
  case TPropValueType::vaTrue:
    value.boolean = value.type == TPropValueType::vaTrue;
    break;
  case TPropValueType::vaLString:
  case TPropValueType::vaUtf8String: {
    const uint32_t length = FIn.U32();
    value.text = FIn.Text(length);
    break;
  }
  case TPropValueType::vaWString: {
    // Counted in 16-bit units; the byte count is worked out wide enough not to wrap.
    const uint64_t bytes = uint64_t(FIn.U32()) * 2;
    if (bytes > FIn.Remaining()) {
      FIn.Skip(FIn.Remaining() + 1);
      return false;
    }
    value.text = FIn.Text(size_t(bytes));
    break;
  }
  default:
    return false;
  }
  return !FIn.Failed();
}

bool TPropertyStreamReader::EndOfChildren() {
  if (!FIn.Has(1)) {
    FIn.Skip(1); // marks the data as ended inside the object
    return false;
  }
  if (FIn.Peek() != 0)
    return false;
  FIn.U8();
  return true;
}

// --- writer ------------------------------------------------------------------------------------

void TPropertyStreamWriter::ShortString(std::string_view text) {
  if (text.size() > 255)
    text = text.substr(0, 255);
  FBytes += char(uint8_t(text.size()));
  FBytes += text;
}

void TPropertyStreamWriter::Unsigned(uint32_t value, size_t width) {
  for (size_t i = 0; i < width; ++i)
    FBytes += char(uint8_t(value >> (8 * i)));
}

void TPropertyStreamWriter::BeginObject(std::string_view className, std::string_view objectName) {
  ShortString(className);
  ShortString(objectName);
}

void TPropertyStreamWriter::Integer(std::string_view name, int32_t value) {
  if (value < -32768 || value > 32767)
    return Int32(name, value);
  ShortString(name);
  const bool small = value >= -128 && value <= 127;
  Type(small ? TPropValueType::vaInt8 : TPropValueType::vaInt16);
  Unsigned(uint32_t(value), small ? 1 : 2);
}

void TPropertyStreamWriter::Int32(std::string_view name, int32_t value) {
  ShortString(name);
  Type(TPropValueType::vaInt32);
  Unsigned(uint32_t(value), 4);
}

void TPropertyStreamWriter::String(std::string_view name, std::string_view value) {
  if (value.size() > 255)
    return LString(name, value);
  ShortString(name);
  Type(TPropValueType::vaString);
  ShortString(value);
}

void TPropertyStreamWriter::LString(std::string_view name, std::string_view value) {
  ShortString(name);
  Type(TPropValueType::vaLString);
  Unsigned(uint32_t(value.size()), 4);
  FBytes += value;
}

void TPropertyStreamWriter::Ident(std::string_view name, std::string_view value) {
  ShortString(name);
  Type(TPropValueType::vaIdent);
  ShortString(value);
}

void TPropertyStreamWriter::Boolean(std::string_view name, bool value) {
  ShortString(name);
  Type(value ? TPropValueType::vaTrue : TPropValueType::vaFalse);
}

} // namespace kx
