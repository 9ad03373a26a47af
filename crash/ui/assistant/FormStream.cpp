#include "crash/ui/assistant/FormStream.h"

#include <cstdio>

#include "crash/base/bytes/ByteReader.h"

namespace kx {

namespace {

// The value types a definition may hold; any other type byte ends the reading.
constexpr TPropValueTypes kFormValueTypes = {
    TPropValueType::vaInt8,  TPropValueType::vaInt16, TPropValueType::vaInt32, TPropValueType::vaString,
    TPropValueType::vaIdent, TPropValueType::vaFalse, TPropValueType::vaTrue,  TPropValueType::vaLString};

std::string HexText(uint8_t value) {
  char text[4];
  std::snprintf(text, sizeof text, "%x", unsigned(value));
  return text;
}

std::string ValueText(const TPropValue &value) {
  if (value.IsInteger())
    return std::to_string(value.integer);
  if (value.IsBoolean())
    return value.boolean ? "1" : "0";
  return std::string(value.text);
}

} // namespace

std::string InvalidResourceText(const std::string &what) {
  return "Internal error: Invalid assistant resource (" + what + ").";
}

TNVStreamContent ReadFormStream(std::string_view bytes) {
  TNVStreamContent content;
  ByteReader in(bytes);
  TPropertyStreamReader stream(in);
  if (!stream.Signature())
    return content;
  content.signature = true;

  // Objects nest without recursion: depth counts the child lists that are open.
  int32_t depth = 0;
  bool readObject = true; // the stream's own object comes first
  while (true) {
    if (!readObject && stream.EndOfChildren()) {
      if (--depth == 0)
        return content; // the stream's own object is complete
      continue;
    }
    std::string_view className, objectName;
    if (!stream.ObjectHeader(className, objectName))
      break;
    TNVStreamObject &current = content.objects.emplace_back();
    current.className = className;
    current.objectName = objectName;
    current.depth = depth;
    TPropertyStreamReader::TStatus status;
    std::string_view name;
    TPropValue value;
    while ((status = stream.Property(name, value, kFormValueTypes)) == TPropertyStreamReader::TStatus::property)
      current.properties.push_back({std::string(name), ValueText(value)});
    if (status == TPropertyStreamReader::TStatus::badType) {
      content.failure = InvalidResourceText(HexText(uint8_t(value.type)));
      return content;
    }
    if (status == TPropertyStreamReader::TStatus::truncated)
      break;
    ++depth; // the object's child list follows
    readObject = false;
  }
  content.failure = InvalidResourceText("truncated");
  return content;
}

} // namespace kx
