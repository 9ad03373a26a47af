#include "crash/delivery/KXDnsMessage.h"

#include "crash/base/settings/KXText.h"

namespace kx {

namespace {

constexpr size_t kHeaderSize = 12;
constexpr size_t kMaxNameBytes = 255;
constexpr int kMaxPointers = 64;

uint16_t ReadU16(std::string_view packet, size_t offset) {
  return static_cast<uint16_t>(static_cast<unsigned char>(packet[offset]) << 8 |
                               static_cast<unsigned char>(packet[offset + 1]));
}

void AppendU16(std::string &packet, uint16_t value) {
  packet += static_cast<char>(value >> 8);
  packet += static_cast<char>(value & 0xFF);
}

struct KXQuestion {
  std::string name;
  uint16_t type = 0;
  uint16_t qclass = 0;
};

// The question at offset 12; offset moves past it.
std::optional<KXQuestion> ReadQuestion(std::string_view packet, size_t &offset) {
  std::optional<std::string> name = ReadDnsName(packet, offset);
  if (!name || offset + 4 > packet.size())
    return std::nullopt;
  KXQuestion question{*name, ReadU16(packet, offset), ReadU16(packet, offset + 2)};
  offset += 4;
  return question;
}

struct KXRecord {
  uint16_t type = 0;
  size_t dataStart = 0;
  size_t dataEnd = 0;
};

std::optional<KXRecord> ReadRecord(std::string_view packet, size_t &offset) {
  if (!ReadDnsName(packet, offset) || offset + 10 > packet.size())
    return std::nullopt;
  KXRecord record;
  record.type = ReadU16(packet, offset);
  const uint16_t length = ReadU16(packet, offset + 8);
  record.dataStart = offset + 10;
  record.dataEnd = record.dataStart + length;
  if (record.dataEnd > packet.size())
    return std::nullopt;
  offset = record.dataEnd;
  return record;
}

// The name in a record's data at skip bytes from its start; it must begin and, as far as it stands
// there, end inside the data.
std::optional<std::string> RecordName(std::string_view packet, const KXRecord &record, size_t skip) {
  size_t offset = record.dataStart + skip;
  if (offset >= record.dataEnd)
    return std::nullopt;
  std::optional<std::string> name = ReadDnsName(packet, offset);
  if (!name || name->empty() || offset > record.dataEnd)
    return std::nullopt; // the root name is no server (an MX of "." says no mail is taken)
  return name;
}

std::string_view WithoutTrailingDot(std::string_view name) {
  if (!name.empty() && name.back() == '.')
    name.remove_suffix(1);
  return name;
}

} // namespace

std::optional<std::string> BuildDnsQuery(std::string_view name, uint16_t type, uint16_t identifier) {
  name = WithoutTrailingDot(name);
  if (name.empty())
    return std::nullopt;
  std::string packet;
  AppendU16(packet, identifier);
  AppendU16(packet, 0x0100);
  AppendU16(packet, 1);
  AppendU16(packet, 0);
  AppendU16(packet, 0);
  AppendU16(packet, 0);
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('.', start);
    if (end == std::string_view::npos)
      end = name.size();
    const size_t length = end - start;
    if (length == 0 || length > 63)
      return std::nullopt;
    packet += static_cast<char>(length);
    packet += name.substr(start, length);
    start = end + 1;
  }
  packet += '\0';
  if (packet.size() - kHeaderSize > kMaxNameBytes)
    return std::nullopt;
  AppendU16(packet, type);
  AppendU16(packet, kDnsClassIN);
  return packet;
}

std::optional<std::string> ReadDnsName(std::string_view packet, size_t &offset) {
  std::string name;
  size_t pos = offset;
  size_t segmentStart = offset; // where the labels being read began
  std::optional<size_t> endInPlace;
  size_t nameBytes = 0;
  for (int pointers = 0;;) {
    if (pos >= packet.size())
      return std::nullopt;
    const unsigned char length = static_cast<unsigned char>(packet[pos]);
    if (length == 0) {
      if (!endInPlace)
        endInPlace = pos + 1;
      break;
    }
    if ((length & 0xC0) == 0xC0) {
      if (pos + 1 >= packet.size() || ++pointers > kMaxPointers)
        return std::nullopt;
      const size_t target = static_cast<size_t>(length & 0x3F) << 8 | static_cast<unsigned char>(packet[pos + 1]);
      if (target >= segmentStart)
        return std::nullopt; // a pointer forwards or into its own name could loop
      if (!endInPlace)
        endInPlace = pos + 2;
      pos = segmentStart = target;
      continue;
    }
    if ((length & 0xC0) != 0 || pos + 1 + length > packet.size())
      return std::nullopt;
    nameBytes += 1u + length;
    if (nameBytes > kMaxNameBytes)
      return std::nullopt;
    if (!name.empty())
      name += '.';
    name.append(packet.substr(pos + 1, length));
    pos += 1u + length;
  }
  offset = *endInPlace;
  return name;
}

KXDnsAnswer ParseDnsAnswer(std::string_view packet, std::string_view query) {
  KXDnsAnswer answer;
  if (packet.size() < kHeaderSize || query.size() < kHeaderSize)
    return answer;
  if (ReadU16(packet, 0) != ReadU16(query, 0) || (static_cast<unsigned char>(packet[2]) & 0x80) == 0)
    return answer;
  if (ReadU16(packet, 4) != 1)
    return answer;
  size_t queryOffset = kHeaderSize;
  size_t offset = kHeaderSize;
  std::optional<KXQuestion> asked = ReadQuestion(query, queryOffset);
  std::optional<KXQuestion> echoed = ReadQuestion(packet, offset);
  if (!asked || !echoed || !SameText(echoed->name, asked->name) || echoed->type != asked->type ||
      echoed->qclass != asked->qclass)
    return answer;
  answer.forQuery = true;
  answer.responseCode = static_cast<unsigned char>(packet[3]) & 0x0F;
  if (answer.responseCode != 0)
    return answer;

  const uint16_t answerCount = ReadU16(packet, 6);
  const uint16_t authorityCount = ReadU16(packet, 8);
  for (uint16_t i = 0; i < answerCount; ++i) {
    std::optional<KXRecord> record = ReadRecord(packet, offset);
    if (!record)
      return answer;
    if (record->type != asked->type)
      continue;
    if (auto name = RecordName(packet, *record, asked->type == kDnsTypeMX ? 2 : 0))
      answer.answers.push_back(*name);
  }
  if (asked->type != kDnsTypeNS)
    return answer;
  for (uint16_t i = 0; i < authorityCount; ++i) {
    std::optional<KXRecord> record = ReadRecord(packet, offset);
    if (!record)
      return answer;
    if (record->type != kDnsTypeNS)
      continue;
    if (auto name = RecordName(packet, *record, 0))
      answer.authorities.push_back(*name);
  }
  return answer;
}

} // namespace kx
