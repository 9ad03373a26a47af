#include "tools/kxembed/EmbedResources.h"

#include <algorithm>
#include <optional>
#include <span>

#include "crash/base/pe/PeImage.h"
#include "tools/kxembed/EmbedError.h"
#include "tools/kxembed/LittleEndian.h"
#include "tools/kxembed/PeAppendSection.h"
#include "tools/kxembed/PeChecksum.h"
#include "tools/kxembed/ResourceSection.h"
#include "tools/kxembed/ResourceTree.h"

namespace kxembed {

namespace {

using debuginfo::PeImage;
using debuginfo::PeSection;

bool Contains(const PeSection &s, uint32_t rva) {
  const uint64_t size = std::max(s.VirtualSize, s.SizeOfRawData);
  return rva >= s.VirtualAddress && rva - s.VirtualAddress < size;
}

// The leaves of the image's current resource directory. Data inside `rebuilt` (the section about
// to be rewritten) is copied out, since its old bytes go.
std::vector<ResourceLeaf> CurrentLeaves(const PeImage &pe, std::span<const uint8_t> file, const PeSection *rebuilt) {
  std::vector<ResourceLeaf> leaves;
  const uint32_t root = pe.Directory(debuginfo::kDirectoryResource).first;
  if (root == 0)
    return leaves;
  const debuginfo::PeFileRvas rvas(pe, file);
  debuginfo::PeResourceTree tree = debuginfo::ReadResources(rvas, root);
  if (!tree.Error.empty())
    throw EmbedError("malformed resource directory: " + tree.Error);
  for (debuginfo::PeResource &r : tree.Resources) {
    ResourceLeaf leaf;
    leaf.Type = std::move(r.Type);
    leaf.Name = std::move(r.Name);
    leaf.Language = std::move(r.Language);
    leaf.CodePage = r.CodePage;
    leaf.DataRva = r.DataRva;
    leaf.DataSize = r.DataSize;
    if (rebuilt && Contains(*rebuilt, r.DataRva)) {
      std::vector<uint8_t> bytes(r.DataSize);
      if (!rvas.Read(r.DataRva, bytes.data(), bytes.size()))
        throw EmbedError("malformed resource directory: a resource's data lies outside the image");
      leaf.NewData = std::move(bytes);
    }
    leaves.push_back(std::move(leaf));
  }
  return leaves;
}

} // namespace

std::vector<uint8_t> EmbedResources(std::vector<uint8_t> image, const std::vector<NewResource> &resources) {
  std::optional<PeImage> pe = PeImage::Parse(image.data(), image.size());
  if (!pe)
    throw EmbedError("not a PE image");
  const auto [certificateAt, certificateSize] = pe->Directory(debuginfo::kDirectoryCertificate);
  if (certificateAt || certificateSize)
    throw EmbedError("the image is signed (it has a certificate table); embed resources before signing");
  if (pe->DataDirectories.size() <= debuginfo::kDirectoryResource)
    throw EmbedError("the image's headers have no resource directory entry");
  CheckSectionLayout(*pe, image);

  const uint32_t root = pe->Directory(debuginfo::kDirectoryResource).first;
  const PeSection *ours = TrailingSection(*pe, image.size(), kResourceSectionName);
  if (ours && !(root && Contains(*ours, root)))
    ours = nullptr; // an earlier directory of ours that is no longer the image's: leave it
  const SectionPlace place = ours ? PlaceOverLastSection(*pe) : PlaceNewSection(*pe, image);

  std::vector<ResourceLeaf> leaves = CurrentLeaves(*pe, image, ours);
  for (const NewResource &r : resources) {
    if (!IsValidResourceName(r.Name))
      throw EmbedError("bad resource name '" + r.Name + "' (1 to 64 characters of A-Z, a-z, 0-9, _)");
    PutRcData(leaves, r.Name, r.Bytes);
  }
  const std::vector<uint8_t> section = BuildResourceSection(leaves, place.VirtualAddress);

  WriteSection(image, *pe, place, kResourceSectionName, kResourceSectionCharacteristics, section);
  const debuginfo::PeHeaderFields fields = pe->HeaderFields();
  Put32(image, fields.DataDirectories + 8 * debuginfo::kDirectoryResource, place.VirtualAddress);
  Put32(image, fields.DataDirectories + 8 * debuginfo::kDirectoryResource + 4, uint32_t(section.size()));
  if (pe->CheckSum != 0)
    Put32(image, fields.CheckSum, PeChecksum(image, fields.CheckSum));
  return image;
}

} // namespace kxembed
