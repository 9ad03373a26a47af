#pragma once
// Builds small PE32 images in memory for the tests: sections with given characteristics and,
// optionally, a resource section holding one named RCDATA resource.
#include <cstdint>
#include <string>
#include <vector>

struct TestSection {
  std::string Name;
  uint32_t VirtualAddress;
  uint32_t VirtualSize;
  uint32_t Characteristics;
};

inline void Put16(std::vector<uint8_t> &b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
inline void Put32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = uint8_t(v >> (8 * i));
}

// Sections get 0x200 bytes of raw data each, in order, starting at file offset 0x400. With a
// resource name, a last ".rsrc" section holds that RCDATA resource with the given content.
// With imageBaseHigh set (or pe32plus), a PE32+ image based at imageBaseHigh:imageBase.
inline std::vector<uint8_t> BuildTestImage(std::vector<TestSection> sections, uint32_t imageBase,
                                           const std::string &resourceName = {},
                                           const std::vector<uint8_t> &resource = {},
                                           bool pe32plus = false, uint32_t imageBaseHigh = 0) {
  const uint32_t optSize = pe32plus ? 240 : 224, dirsAt = pe32plus ? 112 : 96;
  uint32_t rsrcRva = 0;
  if (!resourceName.empty()) {
    rsrcRva = sections.empty() ? 0x1000 : ((sections.back().VirtualAddress + sections.back().VirtualSize + 0xFFF) & ~0xFFFu);
    sections.push_back({".rsrc", rsrcRva, 0, 0x40000040});
  }
  std::vector<uint8_t> rsrc;
  if (!resourceName.empty()) {
    // root (1 id entry) -> type 10 dir (1 named entry) -> name dir (1 id entry) -> data entry
    rsrc.assign(0x100 + resourceName.size() * 2 + 2 + resource.size(), 0);
    Put16(rsrc, 14, 1);
    Put32(rsrc, 16, 10);
    Put32(rsrc, 20, 0x80000000u | 0x18);
    Put16(rsrc, 0x18 + 12, 1);
    Put32(rsrc, 0x18 + 16, 0x80000000u | 0x100);
    Put32(rsrc, 0x18 + 20, 0x80000000u | 0x30);
    Put16(rsrc, 0x30 + 14, 1);
    Put32(rsrc, 0x30 + 16, 0x409);
    Put32(rsrc, 0x30 + 20, 0x48);
    size_t nameAt = 0x100;
    Put16(rsrc, nameAt, uint32_t(resourceName.size()));
    for (size_t i = 0; i < resourceName.size(); ++i)
      Put16(rsrc, nameAt + 2 + 2 * i, uint8_t(resourceName[i]));
    size_t dataAt = nameAt + 2 + 2 * resourceName.size();
    Put32(rsrc, 0x48, rsrcRva + uint32_t(dataAt));
    Put32(rsrc, 0x4C, uint32_t(resource.size()));
    std::copy(resource.begin(), resource.end(), rsrc.begin() + dataAt);
    sections.back().VirtualSize = uint32_t(rsrc.size());
  }
  std::vector<uint8_t> b(0x400 + 0x200 * sections.size() + rsrc.size(), 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, 0x80);
  Put32(b, 0x80, 0x00004550);
  size_t fh = 0x84;
  Put16(b, fh, pe32plus ? 0x8664 : 0x14C); // x86-64 or i386
  Put16(b, fh + 2, uint32_t(sections.size()));
  Put32(b, fh + 4, 0x12345678);
  Put16(b, fh + 16, optSize);
  size_t oh = fh + 20;
  Put16(b, oh, pe32plus ? 0x20B : 0x10B);
  Put32(b, oh + 4, 0x3000);   // SizeOfCode
  Put32(b, oh + 8, 0x2000);   // SizeOfInitializedData
  Put32(b, oh + 12, 0x400);   // SizeOfUninitializedData
  Put32(b, oh + 16, 0x1010);  // entry
  Put32(b, oh + 20, 0x1000);  // BaseOfCode
  if (pe32plus) {
    Put32(b, oh + 24, imageBase);
    Put32(b, oh + 28, imageBaseHigh);
  } else {
    Put32(b, oh + 24, 0x5000); // BaseOfData
    Put32(b, oh + 28, imageBase);
  }
  Put32(b, oh + dirsAt - 4, 16);
  if (rsrcRva) {
    Put32(b, oh + dirsAt + 16, rsrcRva);
    Put32(b, oh + dirsAt + 20, uint32_t(rsrc.size()));
  }
  size_t sh = oh + optSize;
  uint32_t raw = 0x400;
  for (size_t i = 0; i < sections.size(); ++i, sh += 40) {
    const TestSection &s = sections[i];
    std::copy(s.Name.begin(), s.Name.end(), b.begin() + sh);
    Put32(b, sh + 8, s.VirtualSize);
    Put32(b, sh + 12, s.VirtualAddress);
    uint32_t rawSize = (rsrcRva && i + 1 == sections.size()) ? uint32_t(rsrc.size()) : 0x200;
    Put32(b, sh + 16, rawSize);
    Put32(b, sh + 20, raw);
    Put32(b, sh + 36, s.Characteristics);
    if (rsrcRva && i + 1 == sections.size())
      std::copy(rsrc.begin(), rsrc.end(), b.begin() + raw);
    raw += rawSize;
  }
  return b;
}
