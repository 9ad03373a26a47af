#pragma once
// How the settings reach the assistant module: GetAssistant loads an assistant through the hook
// "load", and the form cache reads and fills an assistant's forms through the hook "forms".
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "crash/base/settings/KXSettingsObject.h"
#include "crash/ui/assistant/NVAssistant.h"

namespace kx {

// Creates an assistant (LoadAssistant on Windows): module, title, form names, exception object.
using KXAssistantLoader = std::function<std::shared_ptr<INVAssistant>(
    KXModule module, const std::string &title, const std::vector<std::string> &forms,
    std::shared_ptr<IKXException> exception)>;

// The hooks over a loader; "forms" gives the form cache the forms of an assistant made by
// CreateAssistant.
KXAssistantHooks MakeAssistantHooks(KXAssistantLoader loader);

// The exception object of a request as a reference (null when the request has none, or when the
// object is not an exception object held by a std::shared_ptr).
std::shared_ptr<IKXException> RequestException(const KXAssistantRequest &request);

} // namespace kx
