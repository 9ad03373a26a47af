#include "tools/kestrace/ExportTable.h"

#include "crash/base/pe/PeImage.h"

namespace kestrace {

namespace {
// The image as the PE reader reads it: through the caller's reader, by RVA.
class ReaderImage : public debuginfo::PeSource {
public:
  explicit ReaderImage(const ImageReader &read) : FRead(read) {}
  bool Read(uint64_t offset, void *out, size_t size) const override {
    return offset <= UINT32_MAX && FRead(uint32_t(offset), out, size);
  }

private:
  const ImageReader &FRead;
};
} // namespace

std::optional<uint32_t> ExportRva(const ImageReader &read, std::string_view name) {
  return debuginfo::FindExport(ReaderImage(read), name);
}

} // namespace kestrace
