#pragma once
// Reading the system's process list as NtQuerySystemInformation delivers it for the
// process-information class (5): a chain of variable-length records, each starting with the
// byte offset of the next one (0 for the last). The fields read, by offset in a 32-bit process
// (in a 64-bit process in brackets):
//   0x00 NextEntryOffset       (0x00)  32-bit
//   0x38 ImageName.Length      (0x38)  16-bit, bytes
//   0x3c ImageName.Buffer      (0x40)  pointer
//   0x44 UniqueProcessId       (0x50)  pointer-size
//   0x50 SessionId             (0x64)  32-bit
#include <cstddef>
#include <cstdint>
#include <vector>

#include "crash/report/inventory/ProcessList.h"

namespace kx {

// The size of the part of a record that is read: a record must reach this far.
size_t ProcessRecordMinimumSize(bool pointers64);

// The processes of the buffer, in its order. The buffer lies at bufferAddress in the process that
// filled it; the image names point into it. The walk stops at the last record and at a record
// that would not fit into the buffer; a name that points outside the buffer is not read (the
// process then has an image name but its text is empty).
std::vector<KXSystemProcess> ReadProcessInformation(const uint8_t *buffer, size_t size, uint64_t bufferAddress,
                                                    bool pointers64);

} // namespace kx
