#pragma once
// The handling sequence that runs for each caught exception (on the handling thread, or on the
// catching thread while the loader lock is held).
#include "crash/capture/exception/KXCaughtException.h"

namespace kx {

// Handles one caught exception from creating its object to the continue, restart or close;
// whatever fails inside is swallowed. The sequence corrects the exception address (the only
// correction it gets) and picks the settings of the module that holds it.
void ProcessCaughtException(const KXCaughtException &caught);

} // namespace kx
