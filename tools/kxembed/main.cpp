// kxembed IMAGE NAME=FILE [NAME=FILE ...]: puts each FILE into the PE image IMAGE as the RCDATA
// resource NAME (see README.md).
#include <iostream>
#include <string>
#include <vector>

#include "tools/kxembed/EmbedCommand.h"

int main(int argc, char **argv) {
  return kxembed::RunEmbedCommand(std::vector<std::string>(argv + 1, argv + argc), std::cerr);
}
