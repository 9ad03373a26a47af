#include "crash/ui/assistant/FormStream.h"

#include <cstdio>
#include <cstring>

namespace kx {

namespace {

// A cursor over the stream: every read checks the bytes that are left and, past the end, marks
// the reader as failed instead of reading.
class TStreamCursor {
public:
  explicit TStreamCursor(std::string_view bytes) : FBytes(bytes) {}

  bool Failed() const { return FFailed; }
  size_t Left() const { return FBytes.size() - FPos; }

  bool Byte(uint8_t &value) {
    if (!Need(1))
      return false;
    value = uint8_t(FBytes[FPos++]);
    return true;
  }
  bool Int(size_t size, int32_t &value) {
    if (!Need(size))
      return false;
    uint32_t raw = 0;
    for (size_t i = 0; i < size; ++i)
      raw |= uint32_t(uint8_t(FBytes[FPos + i])) << (8 * i);
    FPos += size;
    // Sign-extend from the stored width.
    const uint32_t sign = 1u << (8 * size - 1);
    value = size == 4 ? int32_t(raw) : int32_t(raw ^ sign) - int32_t(sign);
    return true;
  }
  bool Text(size_t length, std::string &text) {
    if (!Need(length))
      return false;
    text.assign(FBytes.substr(FPos, length));
    FPos += length;
    return true;
  }
  // A length byte and that many characters.
  bool ShortString(std::string &text) {
    uint8_t length;
    return Byte(length) && Text(length, text);
  }
  bool Peek(uint8_t &value) {
    if (!Need(1))
      return false;
    value = uint8_t(FBytes[FPos]);
    return true;
  }

private:
  bool Need(size_t size) {
    if (FFailed || Left() < size) {
      FFailed = true;
      return false;
    }
    return true;
  }

  std::string_view FBytes;
  size_t FPos = 0;
  bool FFailed = false;
};

std::string HexText(uint8_t value) {
  char text[4];
  std::snprintf(text, sizeof text, "%x", unsigned(value));
  return text;
}

// Reads one value of the given type into text. False with failure set for an unsupported type;
// false without it when the stream ended.
bool ReadValue(TStreamCursor &in, uint8_t type, std::string &text, std::string &failure) {
  int32_t number = 0;
  switch (TNVValueType(type)) {
  case TNVValueType::vaInt8:
    if (!in.Int(1, number))
      return false;
    text = std::to_string(number);
    return true;
  case TNVValueType::vaInt16:
    if (!in.Int(2, number))
      return false;
    text = std::to_string(number);
    return true;
  case TNVValueType::vaInt32:
    if (!in.Int(4, number))
      return false;
    text = std::to_string(number);
    return true;
  case TNVValueType::vaString:
  case TNVValueType::vaIdent:
    return in.ShortString(text);
  case TNVValueType::vaFalse:
  case TNVValueType::vaTrue:
    text.assign(1, type == uint8_t(TNVValueType::vaTrue) ? '1' : '0');
    return true;
  case TNVValueType::vaLString: {
    if (!in.Int(4, number))
      return false;
    // The length is unsigned; one beyond what is left fails as a truncated stream.
    return in.Text(uint32_t(number), text);
  }
  }
  failure = InvalidResourceText(HexText(type));
  return false;
}

} // namespace

std::string InvalidResourceText(const std::string &what) {
  return "Internal error: Invalid assistant resource (" + what + ").";
}

TNVStreamContent ReadFormStream(std::string_view bytes) {
  TNVStreamContent content;
  if (bytes.substr(0, kFormStreamSignature.size()) != kFormStreamSignature)
    return content;
  content.signature = true;
  TStreamCursor in(bytes.substr(kFormStreamSignature.size()));

  // Objects nest without recursion: depth counts the child lists that are open.
  int32_t depth = 0;
  bool readObject = true; // the stream's own object comes first
  while (true) {
    if (!readObject) {
      // Inside a child list: a zero byte closes it, anything else starts a child.
      uint8_t next;
      if (!in.Peek(next))
        break;
      if (next == 0) {
        in.Byte(next);
        if (--depth == 0)
          return content; // the stream's own object is complete
        continue;
      }
    }
    TNVStreamObject object;
    object.depth = depth;
    if (!in.ShortString(object.className) || !in.ShortString(object.objectName))
      break;
    content.objects.push_back(std::move(object));
    TNVStreamObject &current = content.objects.back();
    while (true) {
      TNVStreamProperty property;
      if (!in.ShortString(property.name))
        break;
      if (property.name.empty())
        break; // the zero byte after the properties
      uint8_t type;
      if (!in.Byte(type))
        break;
      if (!ReadValue(in, type, property.value, content.failure))
        break;
      current.properties.push_back(std::move(property));
    }
    if (!content.failure.empty() || in.Failed())
      break;
    ++depth; // the object's child list follows
    readObject = false;
  }
  if (content.failure.empty())
    content.failure = InvalidResourceText("truncated");
  return content;
}

// --- writer ------------------------------------------------------------------------------------

TNVStreamWriter::TNVStreamWriter() : FBytes(kFormStreamSignature) {}

void TNVStreamWriter::ShortString(std::string_view text) {
  if (text.size() > 255)
    text = text.substr(0, 255);
  FBytes += char(uint8_t(text.size()));
  FBytes += text;
}

void TNVStreamWriter::BeginObject(std::string_view className, std::string_view objectName) {
  ShortString(className);
  ShortString(objectName);
}

void TNVStreamWriter::Integer(std::string_view name, int32_t value) {
  ShortString(name);
  size_t size = 4;
  TNVValueType type = TNVValueType::vaInt32;
  if (value >= -128 && value <= 127) {
    size = 1;
    type = TNVValueType::vaInt8;
  } else if (value >= -32768 && value <= 32767) {
    size = 2;
    type = TNVValueType::vaInt16;
  }
  FBytes += char(type);
  const uint32_t raw = uint32_t(value);
  for (size_t i = 0; i < size; ++i)
    FBytes += char(uint8_t(raw >> (8 * i)));
}

void TNVStreamWriter::String(std::string_view name, std::string_view value) {
  ShortString(name);
  if (value.size() <= 255) {
    FBytes += char(TNVValueType::vaString);
    ShortString(value);
    return;
  }
  FBytes += char(TNVValueType::vaLString);
  const uint32_t size = uint32_t(value.size());
  for (size_t i = 0; i < 4; ++i)
    FBytes += char(uint8_t(size >> (8 * i)));
  FBytes += value;
}

void TNVStreamWriter::Ident(std::string_view name, std::string_view value) {
  ShortString(name);
  FBytes += char(TNVValueType::vaIdent);
  ShortString(value);
}

void TNVStreamWriter::Boolean(std::string_view name, bool value) {
  ShortString(name);
  FBytes += char(value ? TNVValueType::vaTrue : TNVValueType::vaFalse);
}

void TNVStreamWriter::EndProperties() { FBytes += '\0'; }

void TNVStreamWriter::EndObject() { FBytes += '\0'; }

} // namespace kx
