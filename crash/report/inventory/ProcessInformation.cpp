#include "crash/report/inventory/ProcessInformation.h"

#include <cstring>

namespace kx {

namespace {
struct RecordLayout {
  size_t nameLength, nameBuffer, processId, sessionId;
  size_t pointerSize;
};
constexpr RecordLayout kLayout32{0x38, 0x3c, 0x44, 0x50, 4};
constexpr RecordLayout kLayout64{0x38, 0x40, 0x50, 0x64, 8};

template <class T> T Read(const uint8_t *at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

uint64_t ReadPointer(const uint8_t *at, size_t pointerSize) {
  return pointerSize == 8 ? Read<uint64_t>(at) : Read<uint32_t>(at);
}
} // namespace

size_t ProcessRecordMinimumSize(bool pointers64) { return (pointers64 ? kLayout64 : kLayout32).sessionId + 4; }

std::vector<KXSystemProcess> ReadProcessInformation(const uint8_t *buffer, size_t size, uint64_t bufferAddress,
                                                    bool pointers64) {
  const RecordLayout &layout = pointers64 ? kLayout64 : kLayout32;
  const size_t recordSize = ProcessRecordMinimumSize(pointers64);
  std::vector<KXSystemProcess> processes;
  processes.reserve(64);
  size_t offset = 0;
  while (buffer && size >= recordSize && offset <= size - recordSize) {
    const uint8_t *record = buffer + offset;
    KXSystemProcess process;
    process.processId = uint32_t(ReadPointer(record + layout.processId, layout.pointerSize));
    process.sessionId = Read<uint32_t>(record + layout.sessionId);
    const uint16_t nameBytes = Read<uint16_t>(record + layout.nameLength);
    const uint64_t name = ReadPointer(record + layout.nameBuffer, layout.pointerSize);
    process.hasImageName = nameBytes > 0 && name != 0;
    if (process.hasImageName && name >= bufferAddress && name - bufferAddress <= size &&
        nameBytes <= size - (name - bufferAddress)) {
      process.imageName.resize(nameBytes / 2);
      std::memcpy(process.imageName.data(), buffer + (name - bufferAddress), process.imageName.size() * 2);
    }
    processes.push_back(std::move(process));
    const uint32_t next = Read<uint32_t>(record);
    if (next == 0 || next > size - offset)
      break;
    offset += next;
  }
  return processes;
}

} // namespace kx
