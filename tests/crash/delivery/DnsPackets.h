#pragma once
// Builds DNS responses for tests: the header, the question copied from a query, and records.
#include <cstdint>
#include <string>
#include <string_view>

namespace kx::test {

inline std::string U16(uint16_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }

// "mx.example.com" as length-prefixed labels with the closing zero byte.
inline std::string Labels(std::string_view name) {
  std::string out;
  size_t start = 0;
  while (start < name.size()) {
    size_t end = name.find('.', start);
    if (end == std::string_view::npos)
      end = name.size();
    out += static_cast<char>(end - start);
    out += name.substr(start, end - start);
    start = end + 1;
  }
  return out + '\0';
}

// A pointer to the question's name (offset 12).
inline const std::string kQuestionName = "\xC0\x0C";

inline std::string Record(uint16_t type, std::string_view data, std::string_view owner = kQuestionName) {
  return std::string(owner) + U16(type) + U16(1) + std::string("\0\0\x0e\x10", 4) + U16(static_cast<uint16_t>(data.size())) +
         std::string(data);
}
inline std::string MxRecord(uint16_t preference, std::string_view encodedName) {
  return Record(15, U16(preference) + std::string(encodedName));
}

struct ResponseCounts {
  uint16_t answers = 0, authorities = 0;
};

// A response to the query: its identifier and question, the response code and the records.
inline std::string Response(std::string_view query, ResponseCounts counts, std::string_view records,
                            uint8_t responseCode = 0) {
  std::string packet(query.substr(0, 2));
  packet += static_cast<char>(0x81);
  packet += static_cast<char>(0x80 | responseCode);
  packet += U16(1) + U16(counts.answers) + U16(counts.authorities) + U16(0);
  packet += query.substr(12);
  packet += records;
  return packet;
}

} // namespace kx::test
