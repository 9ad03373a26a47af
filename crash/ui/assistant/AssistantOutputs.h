#pragma once
// The transfer of what the user entered into an assistant into the bug report.
#include "crash/ui/assistant/NVAssistant.h"

namespace kx {

// For every form that ended with nvmOk, every item in order: an edit with an output name and a
// non-empty text sets the report section of that name (otOwnSection and more than one line) or
// else the header field of that name; a check box with an output name sets the header field to
// "yes" or "no". The changes notify the report's watchers once.
void AddAssistantOutputs(INVAssistant &assistant, IKXException &exception);

} // namespace kx
