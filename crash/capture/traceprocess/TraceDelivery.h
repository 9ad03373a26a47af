#pragma once
// How a report made on request through the kesTraceProcess export reaches the tool that asked
// for it: the names involved and the rules for cutting the text to the tool's buffer.
#include <cstddef>
#include <cstdint>

namespace kx {

// The executable's export, called with one signed 32-bit buffer size.
inline constexpr char kTraceProcessExportName[] = "kesTraceProcess";
// The shared-memory object the tool creates before the call: the first name is looked for first.
inline constexpr char kTraceMapGlobalName[] = "Global\\kesTraceProcessMap";
inline constexpr char kTraceMapName[] = "kesTraceProcessMap";

// A buffer size below 1 asks for the clipboard instead of the shared memory.
bool TraceGoesToClipboard(int32_t bufSize);

// The number of characters of a text of textLength characters that are written, followed by one
// zero byte, into a delivery object of bufSize bytes whose mapped memory has room for viewSize
// bytes: the text is cut to bufSize - 1 characters and, should the object be smaller than the
// caller said, to viewSize - 1. 0 for bufSize 1 (only the zero). Meaningless for sizes that go to
// the clipboard and for viewSize 0 (nothing fits).
size_t DeliveredLength(size_t textLength, int32_t bufSize, size_t viewSize);

} // namespace kx
