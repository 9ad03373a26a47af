#pragma once
// Puts RCDATA resources into a linked PE image (PE32 or PE32+), in memory: the image's resource
// directory is read through the PE reader, the changed directory is laid out in a section
// ".kxrsrc" after the image's last section, data directory 2 points at it, and the checksum is
// recomputed when the image has one. Unchanged resources keep their data where it lies. An image
// whose last section is a .kxrsrc holding its current directory gets that section rebuilt in
// place (resources whose data lies in it are copied over), so a rerun adds no section.
#include <cstdint>
#include <string>
#include <vector>

namespace kxembed {

inline constexpr char kResourceSectionName[] = ".kxrsrc";
inline constexpr uint32_t kResourceSectionCharacteristics = 0x40000040; // initialized data, read

struct NewResource {
  std::string Name; // see IsValidResourceName
  std::vector<uint8_t> Bytes;
};

// The image with the resources in it. Throws EmbedError, with a message for the user, when the
// image or a resource cannot be taken.
std::vector<uint8_t> EmbedResources(std::vector<uint8_t> image, const std::vector<NewResource> &resources);

} // namespace kxembed
