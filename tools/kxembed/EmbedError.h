#pragma once
// What makes kxembed refuse an image or a resource: one line for the user, nothing written.
#include <stdexcept>
#include <string>

namespace kxembed {

class EmbedError : public std::runtime_error {
public:
  explicit EmbedError(const std::string &message) : std::runtime_error(message) {}
};

} // namespace kxembed
