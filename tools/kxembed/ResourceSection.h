#pragma once
// Lays out a complete resource directory in the bytes of a new section, as a linker does:
//   the directory tables level by level (the root, every type's table, every name's table), each
//     a 16-byte header and 8-byte entries in the order of ResourceNameLess;
//   the 16-byte data entries, one per leaf;
//   the names: a 16-bit length and the UTF-16 code units, on 2 bytes;
//   the new data, each resource on 8 bytes.
// Leaves with NewData get a data entry that points at their copy in the section; the others keep
// the RVA and size they had.
#include <cstdint>
#include <vector>

#include "tools/kxembed/ResourceTree.h"

namespace kxembed {

inline constexpr uint32_t kResourceDataAlignment = 8;

// The section's bytes when its first byte lies at sectionRva. Leaves that agree in type, name
// and language under the directory's order share their tables. Throws EmbedError when the
// section would not fit the image's 32-bit address space.
std::vector<uint8_t> BuildResourceSection(const std::vector<ResourceLeaf> &leaves, uint32_t sectionRva);

} // namespace kxembed
