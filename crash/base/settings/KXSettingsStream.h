#pragma once
// The settings stream: a property stream (crash/base/propstream) whose one object is of class
// TKestrelix named Kestrelix and holds only properties, no children. Each property is a
// length-prefixed name, a type byte and the little-endian value bytes. What is the settings' own:
// the fixed header, the value types a settings stream may hold and how each becomes a list entry,
// the failure texts, and the password cipher.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crash/base/propstream/PropertyStream.h"
#include "crash/base/settings/KXProperty.h"

namespace kx {

// Value type bytes of the stream.
enum : uint8_t {
  kStreamInt8 = uint8_t(TPropValueType::vaInt8),
  kStreamInt16 = uint8_t(TPropValueType::vaInt16),
  kStreamInt32 = uint8_t(TPropValueType::vaInt32),
  kStreamString = uint8_t(TPropValueType::vaString),
  kStreamFalse = uint8_t(TPropValueType::vaFalse),
  kStreamTrue = uint8_t(TPropValueType::vaTrue),
  kStreamLString = uint8_t(TPropValueType::vaLString),
  kStreamWString = uint8_t(TPropValueType::vaWString),
  kStreamUtf8String = uint8_t(TPropValueType::vaUtf8String),
};

// The bytes every settings stream begins with.
std::span<const uint8_t> SettingsStreamSignature();

struct StreamReadResult {
  bool signatureOk = false; // false: the data is not a settings stream, nothing was read
  bool complete = false;    // the end marker was reached
  std::string error;        // the failure text when reading stopped early ("" otherwise)
};

// Appends the properties of a settings stream to the list. A type byte outside the table, or data
// that ends inside a property, stops the reading; the properties read until then stay.
StreamReadResult ReadSettingsStream(std::span<const uint8_t> data, TKXPropertyList &list);

// The failure text shown for an unknown value type byte.
std::string InvalidTypeMessage(uint8_t typeByte);
// The failure text shown for a stream that ends inside a property.
std::string TruncatedStreamMessage();

// Writes a settings stream with the value types 4 (integers), 8 and 9 (booleans) and 12 (texts),
// ending with two zero bytes. Throws std::invalid_argument for a binary property or a name that
// is empty or longer than 255 bytes.
std::vector<uint8_t> WriteSettingsStream(const TKXPropertyList &list);

// Reads a module's settings stream into an empty list: the stream itself, then the stored
// passwords replaced by their plain form (DecipherStoredPasswords). A failure text is handed to
// showMessage (caption "Kestrelix" is the caller's).
void LoadSettingsList(std::span<const uint8_t> data, TKXPropertyList &list,
                      const std::function<void(const std::string &)> &showMessage);

// The password cipher. A stored password is Base64 of the plain text enciphered first keyed with
// the account text and then keyed with the server text (each with its own fixed constant). Empty
// text stays empty in both directions. Decipher returns nullopt for text that is not Base64.
std::string EncipherPassword(std::string_view plain, std::string_view server, std::string_view account);
std::optional<std::string> DecipherPassword(std::string_view stored, std::string_view server,
                                            std::string_view account);

// Replaces SmtpPassword and HttpPassword by their plain forms (keyed with SmtpServer/SmtpAccount
// and HttpServer/HttpAccount of the same list). A stored password that is not Base64 is cleared.
void DecipherStoredPasswords(TKXPropertyList &list);
// The reverse, used by the stream writer tool: plain passwords in the list become stored ones.
void EncipherStoredPasswords(TKXPropertyList &list);

} // namespace kx
