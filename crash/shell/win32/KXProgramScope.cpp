#include "crash/shell/win32/KXProgramScope.h"

#include "crash/shell/win32/KXReporter.h"

// The C runtime's constructor pass. GCC calls it at the start of main; it runs the constructors
// once, so the call in the program's main does nothing after ours.
extern "C" void __main();

namespace kx {

KXProgramScope::KXProgramScope() {
  // The reporter's own objects with static storage are made in this pass too.
  __main();
  StartReporter();
}

KXProgramScope::~KXProgramScope() { StopReporter(); }

} // namespace kx
