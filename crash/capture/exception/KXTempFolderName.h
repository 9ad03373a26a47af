#pragma once
// Names of the reporter's temporary folders. Each process has its own folder under the system's
// temporary path, "<exe name>.Kestrelix.<process id>-<8 hex digits>": the process id tells a
// later start whether the folder's process still runs, the random digits make the name
// unpredictable, so that nobody can prepare it beforehand.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kx {

// The folder name (no trailing backslash) of the process processId of the exe whose file name
// without extension is exeName.
std::u16string TempFolderName(std::u16string_view exeName, uint32_t processId, uint32_t random);

// The search pattern (for a folder listing) of the folders of one exe: "<exe name>.Kestrelix.*".
std::u16string TempFolderPattern(std::u16string_view exeName);

// The process id that folderName was made for, when it is a folder name of exeName exactly as
// TempFolderName writes them (the exe name compared without regard to case); nullopt
// otherwise.
std::optional<uint32_t> TempFolderProcess(std::u16string_view folderName, std::u16string_view exeName);

} // namespace kx
