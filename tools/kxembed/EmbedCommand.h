#pragma once
// The command: kxembed IMAGE NAME=FILE [NAME=FILE ...]. Reads the files, embeds them (see
// EmbedResources.h) and replaces IMAGE through a temporary file beside it, so a failed run
// leaves IMAGE as it was and no temporary file behind.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace kxembed {

inline constexpr uint64_t kMaxResourceFileSize = uint64_t(256) << 20;

// Runs the command on its arguments (without the program name); problems go to err as one line
// each. Returns the exit code: 0 done, 1 refused (nothing written), 2 wrong usage.
int RunEmbedCommand(const std::vector<std::string> &args, std::ostream &err);

} // namespace kxembed
