#pragma once
// The processes running on the computer: the system's process list (NtQuerySystemInformation,
// class 5), each process's main module file name (GetModuleFileNameExW of the process-status
// library), priority class and GDI and USER object counts. Every function that is not part of
// kernel32 is looked up at run time; a missing one leaves out only what it would have given.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crash/report/inventory/ProcessList.h"

namespace kx {

// The raw process list: first with the size the system names (twice that size), otherwise with
// buffers of 128 KB doubling up to 4 MB. nullopt when the list could not be read. The bytes are
// returned in `buffer`; the result is how many of them the system filled.
std::optional<size_t> QuerySystemProcessList(std::vector<uint8_t> &buffer);

// The processes of the system in the order of its list, with what could be read about each.
std::vector<KXProcessEntry> RunningProcesses();

// The "processes" section.
std::u16string RunningProcessesText();

} // namespace kx
