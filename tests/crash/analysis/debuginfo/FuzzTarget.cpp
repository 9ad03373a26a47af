// Fuzz entry for the debug-information readers: the first byte picks the reader, the rest is
// its input. Builds as a libFuzzer target (clang -fsanitize=fuzzer) or with FuzzDriver.cpp.
#include "crash/analysis/debuginfo/Deflate.h"
#include "crash/analysis/debuginfo/MapFile.h"
#include "crash/analysis/debuginfo/Scrambler.h"
#include "crash/base/bytes/ByteStream.h"
#include "crash/base/pe/PeImage.h"
#include "tools/kesgen/CodeRanges.h"
#include "tools/kesgen/ExeDebugInfo.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

// Exercises every lookup so the sanitizers see reads of whatever the reader produced.
void Probe(const TMapFile &m, const uint8_t *data, size_t size) {
  uint32_t probe = 0;
  if (size >= 4)
    std::memcpy(&probe, data, 4);
  for (uint64_t a : {uint64_t(probe), m.BaseOfCode(), m.TopOfCode(), uint64_t(0), uint64_t(0xFFFFFFFFu)}) {
    uint64_t next = 0;
    m.FindLine(a, next);
    m.FindSegment(true, a);
    m.FindSegment(false, a);
    m.FindPublic(a);
  }
  if (m.SegmentCount() > 0) {
    TMfSegment s = m.FindSegmentAt(0);
    m.FindPublic(true, s.Unit_, "x", false);
    m.FindAddress(s.Unit_, "x");
  }
  if (m.SegmentCount() + m.PublicCount() + m.LineCount() > 0)
    m.Export(true, false, true);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1)
    return 0;
  const uint8_t mode = data[0] % 7;
  ++data;
  --size;
  TMapFile m;
  m.SetBounds(0x401000, 0x500000, 0x600000, 0x700000);
  switch (mode) {
  case 0: // a whole container
    m.LoadContainer(data, size);
    break;
  case 1: { // a debug stream inside a well-formed container, so the stream parser is reached
    std::vector<uint8_t> payload = debuginfo::CompressBlock(data, size);
    debuginfo::ScramblePayload(payload.data(), payload.size());
    debuginfo::ByteWriter w;
    w.Raw("Tidewell debug", 14);
    w.U32(uint32_t(payload.size()));
    w.U32(3);
    w.U32(0);
    w.U32(0);
    w.U32(size > 0 ? data[0] & 1 : 0); // minimal or full
    w.Raw(payload.data(), payload.size());
    m.LoadContainer(w.Bytes.data(), w.Bytes.size());
    break;
  }
  case 2:
    m.LoadTextMap(std::string_view(reinterpret_cast<const char *>(data), size));
    break;
  case 3:
    if (auto pe = debuginfo::PeImage::Parse(data, size)) {
      m.SetBounds(*pe, pe->ImageBase);
      pe->FindResourceData(data, size, debuginfo::kResourceTypeRcData, kDebugInfoResourceName);
      for (uint32_t rva : {0u, 0x1000u, pe->AddressOfEntryPoint})
        pe->FileOffsetOfRva(rva);
    }
    break;
  case 4:
    debuginfo::DecompressBlock(data, size);
    break;
  case 5: { // kesgen's DWARF line-program reader
    kesgen::Sections s;
    s.Line = data;
    s.LineSize = size;
    s.LineStr = s.Str = data;
    s.LineStrSize = s.StrSize = size;
    std::string error;
    kesgen::ReadLinePrograms(s, error);
    break;
  }
  case 6: { // kesgen's function and inlined-call ranges, and a function's lines built on them
    if (size < 8)
      break;
    // Four 16-bit lengths: abbreviations, .debug_ranges, .debug_rnglists, .debug_addr; those
    // sections follow, and .debug_info takes the rest.
    const uint8_t *parts[4];
    size_t lengths[4];
    size_t pos = 8;
    for (int i = 0; i < 4; ++i) {
      lengths[i] = std::min<size_t>(size_t(data[2 * i] | data[2 * i + 1] << 8), size - pos);
      parts[i] = data + pos;
      pos += lengths[i];
    }
    kesgen::Sections s;
    s.Abbrev = parts[0], s.AbbrevSize = lengths[0];
    s.Ranges = parts[1], s.RangesSize = lengths[1];
    s.RngLists = parts[2], s.RngListsSize = lengths[2];
    s.Addr = parts[3], s.AddrSize = lengths[3];
    s.Info = data + pos, s.InfoSize = size - pos;
    std::string error;
    const kesgen::CodeRanges code = kesgen::ReadCodeRanges(s, error);
    std::vector<kesgen::LineRow> rows;
    for (uint32_t k = 0; k < 32; ++k)
      rows.push_back({0x401000 + k * 8, k % 3, int32_t(k), k % 4 != 0, k == 31});
    for (const auto &[start, end] : {std::pair<uint32_t, uint32_t>{0x401000, 0x401100}, {0x401010, 0x401011},
                                     {0x401100, 0x402140}})
      kesgen::FunctionLines(rows, start, end, 1, code, start == 0x401010);
    break;
  }
  }
  Probe(m, data, size);
  return 0;
}
