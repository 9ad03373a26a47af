#include "crash/ui/assistant/win32/LoadAssistant.h"

#include <windows.h>

#include <cctype>

#include "crash/base/settings/win32/KXWin32Platform.h"
#include "crash/ui/assistant/AssistantHooks.h"
#include "crash/ui/assistant/ContactForm.h"
#include "crash/ui/assistant/NVAssistantObject.h"
#include "crash/ui/assistant/win32/ContactStoreRegistry.h"
#include "crash/ui/assistant/win32/FormWindow.h"

namespace kx {

namespace {

HRSRC FindDefinition(KXModule module, const std::string &form) {
  if (!IsResourceModuleHandle(module))
    return nullptr;
  return FindResourceA(reinterpret_cast<HMODULE>(module), FormResourceName(form).c_str(), MAKEINTRESOURCEA(10));
}

std::string ReadDefinition(KXModule module, const std::string &form) {
  HRSRC resource = FindDefinition(module, form);
  if (!resource)
    return std::string();
  HGLOBAL loaded = LoadResource(reinterpret_cast<HMODULE>(module), resource);
  const void *bytes = loaded ? LockResource(loaded) : nullptr;
  const DWORD size = SizeofResource(reinterpret_cast<HMODULE>(module), resource);
  if (!bytes || size == 0)
    return std::string();
  return std::string(static_cast<const char *>(bytes), size);
}

} // namespace

std::string FormResourceName(const std::string &form) {
  std::string name = "TKX" + form;
  for (char &c : name)
    c = char(std::toupper(uint8_t(c)));
  return name;
}

std::shared_ptr<INVAssistant> LoadAssistant(KXModule module, const std::string &title,
                                            const std::vector<std::string> &forms,
                                            std::shared_ptr<IKXException> exception) {
  KXModule resources = LanguageResourceModule(module);
  if (!resources || forms.empty() || !FindDefinition(resources, forms.front()))
    resources = module;
  std::vector<std::string> streams;
  for (const std::string &form : forms)
    streams.push_back(ReadDefinition(resources, form));
  return CreateAssistant(title, std::move(exception), streams, Win32FormPlatform());
}

void InstallAssistantHooks(KXSettingsContext &context) {
  if (!ContactStore())
    SetContactStore(std::make_shared<TKXRegistryContactStore>());
  context.SetAssistantHooks(MakeAssistantHooks(&LoadAssistant));
}

} // namespace kx
