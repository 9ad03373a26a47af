#pragma once
// The property stream: "TPF0", then one object. An object is its class name and its object name
// (each a length byte and 8-bit characters), its properties, a zero byte, its child objects and a
// zero byte. A property is its name (length byte and characters), a value-type byte and the
// little-endian value bytes. The settings stream and the assistant's form definitions are both
// written in it; each user decides which value types it accepts and what it makes of them.
//
// Reading goes through kx::ByteReader, so every read is bounds-checked; nothing here recurses or
// allocates beyond the data. Portable and free of the rest of the tree, so host tools build it.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "crash/base/bytes/ByteReader.h"

namespace kx {

inline constexpr std::string_view kPropertyStreamSignature = "TPF0";

// The value-type bytes of the format.
enum class TPropValueType : uint8_t {
  vaInt8 = 2,
  vaInt16 = 3,
  vaInt32 = 4,
  vaString = 6, // length byte, 8-bit characters
  vaIdent = 7,  // length byte, 8-bit characters
  vaFalse = 8,
  vaTrue = 9,
  vaLString = 12,    // 32-bit length, 8-bit characters
  vaWString = 18,    // 32-bit count, that many UTF-16 units
  vaUtf8String = 20, // 32-bit length, that many bytes of UTF-8
};

// A set of value types (type bytes below 32), the ones a user of the format accepts.
class TPropValueTypes {
public:
  constexpr TPropValueTypes(std::initializer_list<TPropValueType> types) {
    for (TPropValueType t : types)
      FBits |= uint32_t(1) << uint8_t(t);
  }
  constexpr bool Has(uint8_t type) const { return type < 32 && (FBits >> type & 1); }

private:
  uint32_t FBits = 0;
};

// One value as it stands in the stream. Texts are views into the stream's bytes: 8-bit text for
// vaString, vaIdent and vaLString, the UTF-8 bytes for vaUtf8String and the little-endian UTF-16
// units (two bytes each) for vaWString.
struct TPropValue {
  TPropValueType type = TPropValueType::vaInt32;
  int32_t integer = 0; // the integer types, sign-extended from their width
  bool boolean = false;
  std::string_view text;

  bool IsInteger() const {
    return type == TPropValueType::vaInt8 || type == TPropValueType::vaInt16 || type == TPropValueType::vaInt32;
  }
  bool IsBoolean() const { return type == TPropValueType::vaFalse || type == TPropValueType::vaTrue; }
  // The UTF-16 units of a vaWString value.
  std::u16string WideText() const;
};

// Reads the stream's parts in order. Any read past the end leaves the reader Truncated (the
// underlying ByteReader failed) and yields false.
class TPropertyStreamReader {
public:
  explicit TPropertyStreamReader(ByteReader &in) : FIn(in) {}

  // The signature; false (and nothing read) when the data does not begin with it.
  bool Signature();
  // A length byte and that many characters.
  bool ShortString(std::string_view &text);
  // An object's class and object name.
  bool ObjectHeader(std::string_view &className, std::string_view &objectName) {
    return ShortString(className) && ShortString(objectName);
  }

  enum class TStatus {
    property,  // name and value were read
    endOfList, // the zero byte that ends the properties was read
    truncated, // the data ended inside the property
    badType,   // a type byte outside `accepted` (the value's type holds it); nothing more is read
  };
  // The next property of an object, or the end of its property list.
  TStatus Property(std::string_view &name, TPropValue &value, TPropValueTypes accepted);
  // In a child list: true (and the byte read) when a zero byte ends the list here; false when a
  // child object follows or the data has ended (see Truncated).
  bool EndOfChildren();

  bool Truncated() const { return FIn.Failed(); }

private:
  bool Value(TPropValue &value);
  ByteReader &FIn;
};

// Writes a stream: the signature, then for each object BeginObject, its properties, EndList, its
// children and EndList again. Names and short texts longer than 255 characters are cut to 255
// (callers that must not lose characters check the length first).
class TPropertyStreamWriter {
public:
  TPropertyStreamWriter() : FBytes(kPropertyStreamSignature) {}

  void BeginObject(std::string_view className, std::string_view objectName);
  // The smallest of the three integer types that holds the value.
  void Integer(std::string_view name, int32_t value);
  // Always the 32-bit integer type.
  void Int32(std::string_view name, int32_t value);
  // The short text type up to 255 characters, the 32-bit length beyond.
  void String(std::string_view name, std::string_view value);
  // Always the 32-bit length.
  void LString(std::string_view name, std::string_view value);
  void Ident(std::string_view name, std::string_view value);
  void Boolean(std::string_view name, bool value);
  void EndList() { FBytes += '\0'; }

  const std::string &Bytes() const { return FBytes; }

private:
  void ShortString(std::string_view text);
  void Type(TPropValueType type) { FBytes += char(type); }
  void Unsigned(uint32_t value, size_t width);
  std::string FBytes;
};

} // namespace kx
