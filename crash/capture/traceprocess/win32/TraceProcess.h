#pragma once
// A complete report of this process on request, without an exception: the report of a freeze
// that lists every thread, the reporter's own threads included, handed over through the
// shared-memory object that the asking tool created, or through the clipboard.
#include <cstdint>
#include <string>

namespace kx {

// What the kesTraceProcess export does on the calling thread: names the thread
// "Kestrelix - TraceProcessThread" for the duration of the call, composes the report and
// delivers it (see DeliverTraceReport). Always returns 0; nothing escapes.
uint32_t TraceProcess(int32_t bufSize);

// The report as TraceProcess composes it; "" when the reporter is not running in this process or
// the report could not be made.
std::string ComposeProcessReport();

// bufSize < 1: copies the text to the clipboard. Otherwise writes it, cut to bufSize - 1
// characters and followed by a zero byte, to the start of the shared-memory object
// "Global\kesTraceProcessMap" or else "kesTraceProcessMap"; never beyond the object's memory.
// False when nothing was delivered (no such object, mapping failed).
bool DeliverTraceReport(const std::string &text, int32_t bufSize);

} // namespace kx
