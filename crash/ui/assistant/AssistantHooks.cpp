#include "crash/ui/assistant/AssistantHooks.h"

#include "crash/capture/exception/KXException.h"
#include "crash/ui/assistant/NVAssistantObject.h"

namespace kx {

std::shared_ptr<IKXException> RequestException(const KXAssistantRequest &request) {
  if (!request.exceptionObject)
    return nullptr;
  return std::dynamic_pointer_cast<IKXException>(request.exceptionObject->weak_from_this().lock());
}

KXAssistantHooks MakeAssistantHooks(KXAssistantLoader loader) {
  KXAssistantHooks hooks;
  hooks.load = [loader = std::move(loader)](const KXAssistantRequest &request) -> std::shared_ptr<INVAssistant> {
    if (!loader)
      return nullptr;
    return loader(request.module, request.title, request.forms, RequestException(request));
  };
  hooks.forms = [](INVAssistant &assistant) { return AssistantForms(assistant); };
  return hooks;
}

} // namespace kx
