// kxstream settings|form SOURCE OUTPUT: writes the property stream for a readable source, a
// settings source ("Name = value" lines) or a form-definition source ("object ... end").
#include <cstring>
#include <iostream>

#include "tools/kxstream/FormSource.h"
#include "tools/kxstream/SettingsSource.h"

int main(int argc, char **argv) {
  if (argc == 4 && std::strcmp(argv[1], "settings") == 0)
    return kx::CompileSourceFile("kxstream", argv[2], argv[3], [](std::string_view source) {
      const std::vector<uint8_t> stream = kx::CompileSettingsSource(source);
      return std::string(stream.begin(), stream.end());
    });
  if (argc == 4 && std::strcmp(argv[1], "form") == 0)
    return kx::CompileSourceFile("kxstream", argv[2], argv[3], kx::CompileFormSource);
  std::cerr << "usage: kxstream settings|form SOURCE OUTPUT\n";
  return 2;
}
