#include "crash/analysis/debuginfo/Scrambler.h"

#include <array>
#include <cstdio>
#include <utility>

namespace debuginfo {

namespace {
constexpr char kKeyWord[] = "Tdwell"; // six characters
}

void KeyedScramble(const std::string &key, uint8_t *data, size_t size) {
  if (key.empty())
    return;
  std::array<uint8_t, 256> s;
  for (int i = 0; i < 256; ++i)
    s[i] = uint8_t(i);
  uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = uint8_t(j + s[i] + uint8_t(key[i % key.size()]));
    std::swap(s[i], s[j]);
  }
  uint8_t a = 0, b = 0;
  for (size_t n = 0; n < size; ++n) {
    a = uint8_t(a + 1);
    b = uint8_t(b + s[a]);
    std::swap(s[a], s[b]);
    data[n] ^= s[uint8_t(s[a] + s[b])];
  }
}

std::string ContainerKey(uint32_t payloadLength) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%x%u", unsigned(payloadLength), unsigned(payloadLength));
  std::string key = std::string(kKeyWord) + buf;
  std::string text = key;
  KeyedScramble(key, reinterpret_cast<uint8_t *>(text.data()), text.size());
  return text;
}

void ScramblePayload(uint8_t *data, size_t size) {
  KeyedScramble(ContainerKey(uint32_t(size)), data, size);
}

} // namespace debuginfo
