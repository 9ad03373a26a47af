#pragma once
// Running an assistant of the settings for an exception, as the crash reporter does before
// sending, saving or printing and for the assistant show mode.
#include <string>

#include "crash/capture/exception/KXException.h"

namespace kx {

// Gets the assistant of the name from the exception's settings (GetAssistant; false when there is
// none). A topmost parent is made non-topmost while the assistant runs modally over it; with
// nvmOk its outputs go into the report (AddAssistantOutputs); then the entered values are cached
// (FillFormCache). ok tells whether it ended with nvmOk. Installs the assistant hooks on the
// exception's settings context when the process has not done so.
bool RunExceptionAssistant(IKXException &exception, const std::string &name, KXWindow parent, bool &ok);

} // namespace kx
