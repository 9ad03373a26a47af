#pragma once
// The one multipart boundary of every upload and every mail: 33 ASCII characters that a bug
// report does not contain, made only of letters, digits and "_" so that it needs no quoting in an
// HTTP header.
#include <string_view>

namespace kx {

inline constexpr std::string_view kMultipartBoundary = "KestrelixBoundary_7d41c09ef2a83b6";
static_assert(kMultipartBoundary.size() == 33);

} // namespace kx
