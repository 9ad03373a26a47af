#pragma once
// The DNS messages of the mail exchanger lookup: the query packet (one question, recursion
// desired) and the names an answer carries. Answers are read strictly inside the packet; a
// compression pointer must point before the name it continues, so pointers can never loop.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

inline constexpr uint16_t kDnsTypeNS = 2;
inline constexpr uint16_t kDnsTypeMX = 15;
inline constexpr uint16_t kDnsClassIN = 1;
inline constexpr size_t kDnsMaxPacket = 512;

// The query for a name: header (the identifier, flags 0x0100, one question), the name as
// length-prefixed labels ended by a zero byte, the type and class IN. A trailing "." of the name
// is ignored. Nullopt for a name that cannot be sent: empty, an empty label, a label longer than
// 63 bytes or more than 255 bytes in all.
std::optional<std::string> BuildDnsQuery(std::string_view name, uint16_t type, uint16_t identifier);

// Reads a name at offset: labels joined by ".", following compression pointers. On success offset
// moves past the name as it stands at offset (past the first pointer when there is one).
std::optional<std::string> ReadDnsName(std::string_view packet, size_t &offset);

struct KXDnsAnswer {
  bool forQuery = false;  // a response to the query: its identifier and its question
  uint8_t responseCode = 0;
  std::vector<std::string> answers;     // in the order of the response
  std::vector<std::string> authorities; // NS queries only
};

// Reads a response to the query packet. Only a response with the query's identifier and question
// counts (forQuery). With response code 0, the answer records of the query's type give their names
// (for MX after the 2-byte preference, which is ignored: the order stays that of the response)
// and, for an NS query, the NS records of the authority section give theirs. Reading stops at the
// first record that does not fit in the packet; the names read before it are kept.
KXDnsAnswer ParseDnsAnswer(std::string_view packet, std::string_view query);

} // namespace kx
