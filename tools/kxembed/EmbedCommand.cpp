#include "tools/kxembed/EmbedCommand.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "tools/kxembed/EmbedError.h"
#include "tools/kxembed/EmbedResources.h"
#include "tools/kxembed/ResourceTree.h"

namespace kxembed {

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kMaxImageSize = UINT32_MAX;

std::vector<uint8_t> ReadFileBytes(const std::string &path, uint64_t limit, const std::string &limitText) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec))
    throw EmbedError("cannot read " + path + " (not a readable file)");
  const uint64_t size = fs::file_size(path, ec);
  if (ec)
    throw EmbedError("cannot read " + path + " (" + ec.message() + ")");
  if (size > limit)
    throw EmbedError(path + " is larger than " + limitText);
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes(size);
  if (!in || !in.read(reinterpret_cast<char *>(bytes.data()), std::streamsize(size)) ||
      in.gcount() != std::streamsize(size))
    throw EmbedError("cannot read " + path);
  return bytes;
}

// Writes bytes to a temporary file beside path, with path's permissions, and renames it over
// path. The temporary file is removed when anything fails.
void ReplaceFile(const std::string &path, const std::vector<uint8_t> &bytes) {
  const std::string temp = path + ".kxembed.tmp";
  std::error_code ec;
  const fs::perms perms = fs::status(path, ec).permissions();
  try {
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
      out.close();
      if (!out)
        throw EmbedError("cannot write " + temp);
    }
    if (!ec)
      fs::permissions(temp, perms, ec);
    fs::rename(temp, path, ec);
    if (ec)
      throw EmbedError("cannot replace " + path + " (" + ec.message() + ")");
  } catch (const EmbedError &) {
    std::error_code ignored;
    if (!fs::is_directory(temp, ignored))
      fs::remove(temp, ignored);
    throw;
  }
}

// Splits "NAME=FILE" and checks the name.
NewResource ParseAssignment(const std::string &arg, std::string &file) {
  const size_t eq = arg.find('=');
  if (eq == std::string::npos || eq + 1 == arg.size())
    throw EmbedError("expected NAME=FILE, got '" + arg + "'");
  NewResource r;
  r.Name = arg.substr(0, eq);
  file = arg.substr(eq + 1);
  if (!IsValidResourceName(r.Name))
    throw EmbedError("bad resource name '" + r.Name + "' (1 to 64 characters of A-Z, a-z, 0-9, _)");
  return r;
}

} // namespace

int RunEmbedCommand(const std::vector<std::string> &args, std::ostream &err) {
  if (args.size() < 2) {
    err << "usage: kxembed IMAGE NAME=FILE [NAME=FILE ...]\n"
           "Adds each FILE to the PE image IMAGE as the RCDATA resource NAME (replacing one of that\n"
           "name), in a section .kxrsrc after the image's last section.\n";
    return 2;
  }
  const std::string &imagePath = args[0];
  try {
    std::vector<NewResource> resources;
    for (size_t i = 1; i < args.size(); ++i) {
      std::string file;
      NewResource r = ParseAssignment(args[i], file);
      for (const NewResource &earlier : resources) {
        if (StoredResourceName(earlier.Name) == StoredResourceName(r.Name))
          throw EmbedError("resource name " + r.Name + " is given twice");
      }
      r.Bytes = ReadFileBytes(file, kMaxResourceFileSize, "256 MiB");
      resources.push_back(std::move(r));
    }
    std::vector<uint8_t> image = ReadFileBytes(imagePath, kMaxImageSize, "4 GiB");
    try {
      image = EmbedResources(std::move(image), resources);
    } catch (const EmbedError &e) {
      throw EmbedError(imagePath + ": " + e.what());
    }
    ReplaceFile(imagePath, image);
  } catch (const EmbedError &e) {
    err << "kxembed: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

} // namespace kxembed
