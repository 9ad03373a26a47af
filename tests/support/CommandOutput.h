#pragma once
// Runs a shell command of the build machine (native tests only) and returns what it printed on
// its standard output; "" when it could not be started.
#include <cstdio>
#include <string>

namespace tidewell_test {

inline std::string CommandOutput(const std::string &command) {
  std::string out;
  if (FILE *pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
      out.append(buffer, got);
    pclose(pipe);
  }
  return out;
}

} // namespace tidewell_test
