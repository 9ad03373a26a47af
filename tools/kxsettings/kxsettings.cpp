// kxsettings SOURCE OUTPUT: writes the settings stream for a readable settings source.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tools/kxsettings/SettingsSource.h"

int main(int argc, char **argv) {
  if (argc != 3) {
    std::cerr << "usage: kxsettings SOURCE OUTPUT\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << "kxsettings: cannot read " << argv[1] << "\n";
    return 1;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::vector<uint8_t> stream;
  try {
    stream = kx::CompileSettingsSource(text.str());
  } catch (const std::exception &e) {
    std::cerr << argv[1] << ":" << e.what() << "\n";
    return 1;
  }
  // Written under a temporary name first, so that a failed run leaves no partial stream behind.
  std::string temp = std::string(argv[2]) + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(stream.data()), std::streamsize(stream.size()));
    if (!out.flush()) {
      std::cerr << "kxsettings: cannot write " << temp << "\n";
      std::remove(temp.c_str());
      return 1;
    }
  }
  if (std::rename(temp.c_str(), argv[2]) != 0) {
    std::cerr << "kxsettings: cannot write " << argv[2] << "\n";
    std::remove(temp.c_str());
    return 1;
  }
  return 0;
}
