#include "crash/output/KXZipArchive.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

#include "crash/analysis/debuginfo/Crc32.h"
#include "crash/base/settings/KXText.h"
#include "crash/output/KXBugFilePaths.h"
#include "crash/output/KXSafeFileName.h"

namespace kx {

namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr uint32_t kEndRecordSignature = 0x06054B50;
constexpr uint16_t kVersion = 20;         // 2.0: deflate
// Made by: version 2.0 on Windows NTFS. The attributes read as DOS attributes as with the MS-DOS
// host (0), but Info-ZIP's unzip takes the names of MS-DOS host entries for OEM code page text
// even when they are flagged UTF-8, and so garbles every non-ASCII name.
constexpr uint16_t kMadeBy = 11 << 8 | kVersion;
constexpr uint16_t kUtf8NamesFlag = 0x0800;
constexpr uint16_t kMethodDeflate = 8;
constexpr uint64_t kMaxOffset = std::numeric_limits<uint32_t>::max();
constexpr size_t kMaxMembers = std::numeric_limits<uint16_t>::max();

void Put16(std::string &out, uint16_t value) {
  out.push_back(char(value & 0xFF));
  out.push_back(char(value >> 8));
}

void Put32(std::string &out, uint32_t value) {
  Put16(out, uint16_t(value & 0xFFFF));
  Put16(out, uint16_t(value >> 16));
}

// Raw deflate (no zlib header or trailer). False when zlib fails.
bool Deflate(const std::string &data, std::string &out) {
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    return false;
  // size * 11 / 10 + 12 holds any member; deflateBound is the tighter promise of zlib itself.
  size_t room = std::max<size_t>(data.size() / 10 * 11 + 12, deflateBound(&z, uLong(data.size())));
  try {
    out.assign(room, '\0');
  } catch (const std::bad_alloc &) {
    deflateEnd(&z);
    throw;
  }
  z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
  z.avail_in = uInt(data.size());
  z.next_out = reinterpret_cast<Bytef *>(out.data());
  z.avail_out = uInt(out.size());
  int rc = deflate(&z, Z_FINISH);
  size_t produced = out.size() - z.avail_out;
  deflateEnd(&z);
  if (rc != Z_STREAM_END)
    return false;
  out.resize(produced);
  return true;
}

// The member name in UTF-8: the given 8-bit name reduced to a plain file name (no folders, drive
// or "..", so that unpacking cannot leave the target folder), else the file's own name.
std::string MemberName(const std::u16string &file, const std::vector<std::string> &names, size_t index) {
  std::optional<std::string> given =
      index < names.size() && !names[index].empty() ? SafeFileName(names[index]) : std::nullopt;
  return EncodeUtf8(given ? WidenToUtf16(*given) : FileNamePart(file));
}

class ZipWriter {
public:
  ZipWriter(IKXFileStore &store, IKXOutputFile &out) : FStore(store), FOut(out) {}

  // False when the archive has to be given up; a member that cannot be opened is no failure.
  bool AddMember(const std::u16string &file, const std::string &name) {
    std::unique_ptr<IKXInputFile> in = FStore.OpenForReading(file);
    if (!in)
      return true;
    std::string data;
    if (!in->ReadAll(data))
      return false;
    KXDosDateTime time = in->LastWriteDosTime().value_or(kEarliestDosTime);
    in.reset();
    uint32_t attributes = FStore.Attributes(file).value_or(0);

    std::string compressed;
    if (data.size() > kMaxOffset || name.size() > std::numeric_limits<uint16_t>::max() ||
        FMembers >= kMaxMembers || !Deflate(data, compressed))
      return false;
    uint32_t crc = debuginfo::Crc32(data.data(), data.size());

    // Local header bytes 4 to 27 reappear in the central directory.
    std::string shared;
    Put16(shared, kVersion);
    Put16(shared, kUtf8NamesFlag);
    Put16(shared, kMethodDeflate);
    Put16(shared, time.time);
    Put16(shared, time.date);
    Put32(shared, crc);
    Put32(shared, uint32_t(compressed.size()));
    Put32(shared, uint32_t(data.size()));
    Put16(shared, uint16_t(name.size()));

    std::string local;
    Put32(local, kLocalHeaderSignature);
    local += shared;
    Put16(local, 0); // extra field length
    local += name;

    uint64_t headerOffset = FOffset;
    if (FOffset + local.size() + compressed.size() > kMaxOffset)
      return false;
    if (!Write(local) || !Write(compressed))
      return false;

    Put32(FCentral, kCentralHeaderSignature);
    Put16(FCentral, kMadeBy);
    FCentral += shared;
    Put16(FCentral, 0); // extra field length
    Put16(FCentral, 0); // comment length
    Put16(FCentral, 0); // disk number start
    Put16(FCentral, 0); // internal attributes
    Put32(FCentral, attributes);
    Put32(FCentral, uint32_t(headerOffset));
    FCentral += name;
    ++FMembers;
    return true;
  }

  size_t Members() const { return FMembers; }

  bool Finish() {
    uint64_t centralOffset = FOffset;
    if (centralOffset + FCentral.size() + 22 > kMaxOffset)
      return false;
    std::string end;
    Put32(end, kEndRecordSignature);
    Put16(end, 0); // this disk
    Put16(end, 0); // disk with the central directory
    Put16(end, uint16_t(FMembers));
    Put16(end, uint16_t(FMembers));
    Put32(end, uint32_t(FCentral.size()));
    Put32(end, uint32_t(centralOffset));
    Put16(end, 0); // comment length
    return Write(FCentral) && Write(end);
  }

private:
  bool Write(const std::string &bytes) {
    if (!FOut.Write(bytes))
      return false;
    FOffset += bytes.size();
    return true;
  }

  IKXFileStore &FStore;
  IKXOutputFile &FOut;
  uint64_t FOffset = 0;
  std::string FCentral;
  size_t FMembers = 0;
};

} // namespace

bool WriteZipArchive(IKXFileStore &store, const std::u16string &zipPath, const std::vector<std::u16string> &files,
                     const std::vector<std::string> &names, std::vector<size_t> *packed) {
  std::unique_ptr<IKXOutputFile> out = store.Create(zipPath);
  if (!out)
    return false;
  bool ok = true;
  try {
    ZipWriter writer(store, *out);
    std::vector<size_t> members;
    for (size_t i = 0; ok && i < files.size(); ++i) {
      size_t before = writer.Members();
      ok = writer.AddMember(files[i], MemberName(files[i], names, i));
      if (writer.Members() > before)
        members.push_back(i);
    }
    ok = ok && writer.Members() > 0 && writer.Finish();
    if (ok && packed)
      *packed = std::move(members);
  } catch (const std::bad_alloc &) {
    ok = false;
  }
  ok = out->Close() && ok;
  out.reset();
  if (!ok)
    store.Delete(zipPath);
  return ok;
}

} // namespace kx
