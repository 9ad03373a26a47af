// kxform SOURCE OUTPUT: writes the form-definition stream for a readable form source.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tools/kxform/FormSource.h"

int main(int argc, char **argv) {
  if (argc != 3) {
    std::cerr << "usage: kxform SOURCE OUTPUT\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << "kxform: cannot read " << argv[1] << "\n";
    return 1;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::string stream;
  try {
    stream = kx::CompileFormSource(text.str());
  } catch (const std::exception &e) {
    std::cerr << argv[1] << ":" << e.what() << "\n";
    return 1;
  }
  // Written under a temporary name first, so that a failed run leaves no partial stream behind.
  const std::string temp = std::string(argv[2]) + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(stream.data(), std::streamsize(stream.size()));
    if (!out.flush()) {
      std::cerr << "kxform: cannot write " << temp << "\n";
      std::remove(temp.c_str());
      return 1;
    }
  }
  if (std::rename(temp.c_str(), argv[2]) != 0) {
    std::cerr << "kxform: cannot write " << argv[2] << "\n";
    std::remove(temp.c_str());
    return 1;
  }
  return 0;
}
