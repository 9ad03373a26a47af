#pragma once
// The keyed scrambler of the debug-information container. It hides the payload from casual
// reading; it is not encryption. The keystream is the RC4 generator; the key is derived from
// a fixed word and the payload length, and that key text is itself passed once through the
// generator before use. Scrambling and unscrambling are the same operation.
#include <cstddef>
#include <cstdint>
#include <string>

namespace debuginfo {

// XORs data with the keystream generated from key.
void KeyedScramble(const std::string &key, uint8_t *data, size_t size);

// The key of a payload of the given length: word + length in hex + length in decimal, once
// through the scrambler keyed with itself.
std::string ContainerKey(uint32_t payloadLength);

// Scrambles (or unscrambles) a container payload in place.
void ScramblePayload(uint8_t *data, size_t size);

} // namespace debuginfo
