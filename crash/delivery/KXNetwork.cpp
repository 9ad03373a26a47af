#include "crash/delivery/KXNetwork.h"

namespace kx {

std::optional<KXIPv4> ParseDottedAddress(std::string_view text) {
  KXIPv4 address = 0;
  int parts = 0;
  size_t i = 0;
  while (parts < 4) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9')
      return std::nullopt;
    uint32_t value = 0;
    size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      value = value * 10 + static_cast<uint32_t>(text[i] - '0');
      if (++digits > 3 || value > 255)
        return std::nullopt;
      ++i;
    }
    address = (address << 8) | value;
    if (++parts < 4) {
      if (i >= text.size() || text[i] != '.')
        return std::nullopt;
      ++i;
    }
  }
  if (i != text.size())
    return std::nullopt;
  return address;
}

std::string FormatAddress(KXIPv4 address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

} // namespace kx
