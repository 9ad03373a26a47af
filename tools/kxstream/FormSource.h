#pragma once
// The readable form of a form-definition stream, one statement a line:
//
//   object ContactForm: TKXContactForm     an object: its name and its class
//     Message = 'Contact Information'      a property of the object
//     object NameEdit: TNVEdit             a child object, after the properties
//       Lines = 1
//     end
//   end
//
// Values: a decimal integer (written as the smallest integer type that holds it), True or False,
// a text in single quotes ('' for a quote; #13 and other #codes may follow or precede a quoted
// part, as in 'a'#13#10'b'), or a bare identifier (written as an identifier, e.g. nvoHeader).
// Blank lines and lines whose first non-blank character is '#' are ignored; the file holds
// exactly one top-level object.
#include <string>
#include <string_view>

#include "tools/kxstream/StreamSource.h"

namespace kx {

// The stream of a source text; throws StreamSourceError for the first malformed line.
std::string CompileFormSource(std::string_view source);

} // namespace kx
