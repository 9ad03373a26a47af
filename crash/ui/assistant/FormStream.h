#pragma once
// The binary form-definition stream: a property stream (crash/base/propstream) of one object
// whose children are the form's items, nested to any depth. What is the assistant's own: the
// value types a definition may hold (integers, texts, identifiers, booleans), every value passed
// on as text, the object tree flattened in stream order with each object's depth, and the failure
// texts.
//
// The reader never recurses, so any byte sequence gives a result: the objects read, in stream
// order, and a failure text when the stream could not be read to its end.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crash/base/propstream/PropertyStream.h"

namespace kx {

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
  void BeginObject(std::string_view className, std::string_view objectName) {
    FStream.BeginObject(className, objectName);
  }
  void Integer(std::string_view name, int32_t value) { FStream.Integer(name, value); }
  void String(std::string_view name, std::string_view value) { FStream.String(name, value); }
  void Ident(std::string_view name, std::string_view value) { FStream.Ident(name, value); }
  void Boolean(std::string_view name, bool value) { FStream.Boolean(name, value); }
  void EndProperties() { FStream.EndList(); }
  void EndObject() { FStream.EndList(); }
  const std::string &Bytes() const { return FStream.Bytes(); }

private:
  TPropertyStreamWriter FStream;
};

} // namespace kx
