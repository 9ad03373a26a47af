#pragma once
#include <string>

// Converts decimal text (optional sign, optional surrounding blanks) or "$"/"0x"-prefixed
// hexadecimal text to a signed 32-bit integer. Anything else, the empty text and values
// outside the 32-bit range included, raises EConvertError with the message
// "'<text>' is not a valid integer value".
int StrToInt(const std::string &text);

// The same conversion without an exception: false for text that is not an integer.
bool TryStrToInt(const std::string &text, int &value);
