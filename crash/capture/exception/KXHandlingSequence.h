#pragma once
// The hand-off record a catching point writes into the handling thread's pipe, and the handling
// sequence that runs for each record.
#include <cstdint>
#include <string>

#include "crash/capture/exception/KXException.h"

namespace kx {

// Pointer-size fields: 56 bytes in the 32-bit program. The pointers are valid only inside the
// process; the record never leaves it.
struct KXHandOffRecord {
  std::uintptr_t event = 0;          // manual-reset event set when done; 0 stops the thread
  std::uintptr_t threadId = 0;       // the crashed thread
  std::uintptr_t exceptType = 0;     // TExceptType
  std::uintptr_t exceptObject = 0;   // const KXExceptObject * or 0
  std::uintptr_t exceptAddr = 0;
  std::uintptr_t canContinue = 0;
  std::uintptr_t esp = 0;
  std::uintptr_t ebp = 0;
  std::uintptr_t context = 0;        // const KXRegisterContext * or 0
  std::uintptr_t bugReportOut = 0;   // std::string * that receives the report in server mode, or 0
  std::uintptr_t source = 0;         // TExceptSource
  std::uintptr_t relatedObject = 0;
  std::uintptr_t package = 0;
  std::uintptr_t preparedStack = 0;  // const std::vector<PreStackItem> * or 0
};
static_assert(sizeof(KXHandOffRecord) == 14 * sizeof(void *));
static_assert(sizeof(void *) != 4 || sizeof(KXHandOffRecord) == 56);

// Handles one caught exception from creating its object to the continue, restart or close;
// whatever fails inside is swallowed.
void ProcessCaughtException(const KXHandOffRecord &record);

} // namespace kx
