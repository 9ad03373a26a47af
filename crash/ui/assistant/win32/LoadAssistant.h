#pragma once
// Assistants from the program's resources: each form definition is the RCDATA resource "TKX"
// and the form's name in upper case ("TKXCONTACTFORM", "TKXDETAILSFORM", "TKXSCRSHOTFORM").
#include <memory>
#include <string>
#include <vector>

#include "crash/base/settings/KXSettingsObject.h"
#include "crash/ui/assistant/NVAssistant.h"

namespace kx {

// The resource name of a form's definition.
std::string FormResourceName(const std::string &form);

// Creates the assistant of the named forms from the module's resources: read from the module's
// language resource module when that one holds the first form's definition, else from the module
// itself; a missing definition gives a form with the main buttons only. Every form takes the title
// as its caption and carries the exception object (or none).
std::shared_ptr<INVAssistant> LoadAssistant(KXModule module, const std::string &title,
                                            const std::vector<std::string> &forms,
                                            std::shared_ptr<IKXException> exception);

// Binds the settings of a context to the assistants (GetAssistant, FillFormCache, ReadFormCache)
// and makes the registry the store of the remembered contact, unless the process has one.
void InstallAssistantHooks(KXSettingsContext &context);

} // namespace kx
