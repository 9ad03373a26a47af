#pragma once
// The binary form-definition stream: "TPF0" and one object. An object is its class name and its
// object name (each a length byte and 8-bit characters), its properties, a zero byte, its child
// objects and a zero byte. A property is its name (length byte and characters), a value-type byte
// and the value.
//
// The reader checks every length against the bytes that are left and never recurses, so any
// byte sequence gives a result: the objects read, in stream order, and a failure text when the
// stream could not be read to its end. No dependencies beyond the standard library (the form
// compiler tools/kxform builds this file on its own).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

inline constexpr std::string_view kFormStreamSignature = "TPF0";

// Value types of a property.
enum class TNVValueType : uint8_t {
  vaInt8 = 2,
  vaInt16 = 3,
  vaInt32 = 4,
  vaString = 6,
  vaIdent = 7,
  vaFalse = 8,
  vaTrue = 9,
  vaLString = 12, // 32-bit length
};

struct TNVStreamProperty {
  std::string name;
  std::string value; // as text: integers in decimal, false and true as "0" and "1"
  bool operator==(const TNVStreamProperty &) const = default;
};

struct TNVStreamObject {
  std::string className;
  std::string objectName;
  int32_t depth = 0; // 0 for the stream's own object, 1 for its children, ...
  std::vector<TNVStreamProperty> properties;
};

struct TNVStreamContent {
  bool signature = false;               // the stream begins with "TPF0"
  std::vector<TNVStreamObject> objects; // in stream order, parents before their children
  std::string failure;                  // empty when the stream was read to its end
};

// "Internal error: Invalid assistant resource (" + what + ")."
std::string InvalidResourceText(const std::string &what);

// Reads a stream. Without the signature nothing is read and there is no failure. An unsupported
// value type ends the reading with the failure text naming the type in hexadecimal; a stream that
// ends inside an object ends it with "(truncated)". What was read before stays, including the
// properties of the object being read.
TNVStreamContent ReadFormStream(std::string_view bytes);

// Writes a stream. Each object is BeginObject, its properties, EndProperties, its children and
// EndObject. Integers take the smallest of the three integer types; texts longer than 255
// characters are written with the 32-bit length.
class TNVStreamWriter {
public:
  TNVStreamWriter();
  void BeginObject(std::string_view className, std::string_view objectName);
  void Integer(std::string_view name, int32_t value);
  void String(std::string_view name, std::string_view value);
  void Ident(std::string_view name, std::string_view value);
  void Boolean(std::string_view name, bool value);
  void EndProperties();
  void EndObject();
  const std::string &Bytes() const { return FBytes; }

private:
  void ShortString(std::string_view text); // length byte; longer texts are cut to 255
  std::string FBytes;
};

} // namespace kx
