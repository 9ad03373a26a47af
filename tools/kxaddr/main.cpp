// kxaddr: names code addresses of an executable from its own debug information.
//   kxaddr EXE ADDRESS...
// For each hexadecimal address (absolute at the image base) one line:
//   address<TAB>module<TAB>unit<TAB>line<TAB>function
// with empty fields, and 0 for the line, where unknown. Addresses have 8 digits for a 32-bit
// image and 16 for a 64-bit one.
#include "crash/analysis/debuginfo/MapFile.h"
#include "crash/base/pe/PeImage.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: kxaddr EXE ADDRESS...\n"
                         "Looks the hexadecimal addresses up in EXE's debug information (its\n"
                         "embedded container, or the .kes file beside it).\n");
    return 2;
  }
  const std::string exePath = argv[1];
  auto exe = FileModuleFiles::Instance().ReadFile(exePath);
  std::optional<debuginfo::PeImage> pe;
  if (exe)
    pe = debuginfo::PeImage::Parse(exe->data(), exe->size());
  if (!pe) {
    std::fprintf(stderr, "kxaddr: %s is not a readable PE image\n", exePath.c_str());
    return 1;
  }
  const bool wide = pe->Pe32Plus;
  const unsigned long long maxAddress = wide ? ~0ull : 0xFFFFFFFFull;
  TMapFile model(true, exePath, pe->ImageBase, false, true);
  int status = 0;
  if (!model.IsValid()) {
    std::fprintf(stderr, "kxaddr: no debug information for %s (embedded or %s)\n", exePath.c_str(),
                 TMapFile::ChangeExtension(exePath, ".kes").c_str());
    status = 1;
  }
  size_t slash = exePath.find_last_of("/\\");
  const std::string moduleName = slash == std::string::npos ? exePath : exePath.substr(slash + 1);

  for (int i = 2; i < argc; ++i) {
    const char *text = argv[i];
    char *end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(text, &end, 16);
    if (errno || end == text || *end || value > maxAddress) {
      std::fprintf(stderr, "kxaddr: not a %s-bit hexadecimal address: %s\n", wide ? "64" : "32", text);
      status = 1;
      continue;
    }
    const uint64_t address = value;
    const bool inImage = address >= pe->ImageBase && address - pe->ImageBase < pe->SizeOfImage;
    std::string unit, function;
    int32_t line = 0;
    if (inImage && model.IsValid()) {
      unit = model.FindSegment(true, address).Unit_;
      line = std::max(model.FindLine(address), 0);
      TMfPublic pub = model.FindPublic(address);
      if (pub.IsValid)
        function = pub.Name;
    }
    std::printf("%0*llx\t%s\t%s\t%d\t%s\n", wide ? 16 : 8, (unsigned long long)address,
                inImage ? moduleName.c_str() : "", unit.c_str(), int(line), function.c_str());
  }
  return status;
}
