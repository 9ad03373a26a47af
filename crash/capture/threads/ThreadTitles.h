#pragma once
// Titles of threads in bug reports, from what the thread registry knows about a thread.
#include <cstdint>
#include <string>

namespace kx {

// The names the reporter gives its own threads. Threads with these names (and threads named "-")
// are left out of reports unless a title is asked for always.
inline constexpr char kAntiFreezeThreadName[] = "Kestrelix - AntiFreezeThread";
inline constexpr char kHandleExceptionThreadName[] = "Kestrelix - HandleExceptionThread";
inline constexpr char kTraceProcessThreadName[] = "Kestrelix - TraceProcessThread";
// The name recorded for the process's main thread.
inline constexpr char kMainThreadName[] = "main thread";

// Lower-case hexadecimal without leading zeros ("1a2c").
std::string ThreadIdHex(uint32_t threadId);

// True for "-" and the reporter's own thread names.
bool IsHiddenThreadName(const std::string &name);

// While a report of the whole process is made on request (the trace-process export), reports list
// the reporter's own threads like any other. Traces may overlap: the mark stays until the last
// one has ended.
void BeginProcessTrace();
void EndProcessTrace();
bool ProcessTraceRunning();

// The title of a thread:
//  - always false and a hidden name: "" (the thread gets no section); while a process trace
//    runs only "-" counts as hidden;
//  - a name other than "-": name + " ($" + id + ")";
//  - otherwise "thread $" + id, then " (" + class name + ")" when a class name is known.
std::string FormatThreadTitle(uint32_t threadId, const std::string &name, const std::string &className,
                              bool always);

// The title when the registry cannot be read: "thread $" + id.
std::string PlainThreadTitle(uint32_t threadId);

} // namespace kx
