#include "crash/ui/assistant/NVAssistantObject.h"

#include "crash/base/settings/KXText.h"

namespace kx {

TNVAssistant::TNVAssistant(INVFormPlatform *platform) : FPlatform(platform) {}

TNVAssistant::~TNVAssistant() {
  for (const std::shared_ptr<TNVForm> &form : FForms)
    form->FParent = nullptr;
}

void TNVAssistant::SetTitle(const std::string &value) {
  FTitle = value;
  for (const std::shared_ptr<TNVForm> &form : FForms)
    form->SetTitle(value);
}

std::shared_ptr<INVForm> TNVAssistant::GetForms(int32_t index) {
  if (index < 0 || size_t(index) >= FForms.size())
    return nullptr;
  return FForms[size_t(index)];
}

std::shared_ptr<INVForm> TNVAssistant::FormNamed(const std::string &name) {
  std::shared_ptr<INVForm> found;
  for (const std::shared_ptr<TNVForm> &form : FForms)
    if (SameText(form->FName, name))
      found = form;
  return found;
}

TNVModalResult TNVAssistant::RunModal(TNVWindow parent) {
  std::shared_ptr<TNVAssistant> keep = weak_from_this().lock();
  // The parent is enabled again only when it was this run that disabled it.
  const bool disabled = parent && FPlatform && FPlatform->ParentEnabled(parent);
  if (disabled)
    FPlatform->EnableParent(parent, false);
  TNVModalResult result = TNVModalResult::nvmOk;
  for (const std::shared_ptr<TNVForm> &form : FForms) {
    const TNVModalResult formResult = form->RunModal(parent);
    // A form that ended neither by Continue nor by Skip (cancelled, or its loop was ended by the
    // quit message) ends the assistant.
    if (formResult != TNVModalResult::nvmOk && formResult != TNVModalResult::nvmSkip) {
      result = TNVModalResult::nvmCancel;
      break;
    }
  }
  if (disabled)
    FPlatform->EnableParent(parent, true);
  FModalResult = result;
  return result;
}

// --- the form cache's view ---------------------------------------------------------------------

TNVItem *TNVAssistant::CacheItem(int form, int item) {
  if (form < 0 || size_t(form) >= FForms.size())
    return nullptr;
  const auto &items = FForms[size_t(form)]->ItemList();
  if (item < 0 || size_t(item) >= items.size())
    return nullptr;
  return items[size_t(item)].get();
}

int TNVAssistant::FormModalResult(int form) {
  if (form < 0 || size_t(form) >= FForms.size())
    return 0;
  return int(FForms[size_t(form)]->FModalResult);
}

int TNVAssistant::ItemCount(int form) {
  if (form < 0 || size_t(form) >= FForms.size())
    return 0;
  return int(FForms[size_t(form)]->ItemList().size());
}

IKXAssistantForms::ItemKind TNVAssistant::Kind(int form, int item) {
  TNVItem *found = CacheItem(form, item);
  if (!found)
    return ItemKind::other;
  switch (found->Kind()) {
  case TNVItemKind::edit:
    return ItemKind::edit;
  case TNVItemKind::checkBox:
    return ItemKind::checkBox;
  default:
    return ItemKind::other;
  }
}

std::string TNVAssistant::ItemName(int form, int item) {
  TNVItem *found = CacheItem(form, item);
  return found ? found->FName : std::string();
}

std::string TNVAssistant::EditText(int form, int item) {
  TNVItem *found = CacheItem(form, item);
  return found && found->Kind() == TNVItemKind::edit ? static_cast<TNVEdit *>(found)->GetText() : std::string();
}

void TNVAssistant::SetEditText(int form, int item, const std::string &text) {
  TNVItem *found = CacheItem(form, item);
  if (found && found->Kind() == TNVItemKind::edit)
    static_cast<TNVEdit *>(found)->SetText(text);
}

bool TNVAssistant::Checked(int form, int item) {
  TNVItem *found = CacheItem(form, item);
  return found && found->Kind() == TNVItemKind::checkBox && static_cast<TNVCheckBox *>(found)->FChecked;
}

void TNVAssistant::SetChecked(int form, int item, bool checked) {
  TNVItem *found = CacheItem(form, item);
  if (found && found->Kind() == TNVItemKind::checkBox)
    static_cast<TNVCheckBox *>(found)->SetChecked(checked);
}

bool TNVAssistant::ContinueEnabled(int form) {
  TNVItem *found = CacheItem(form, 0);
  return found && found->FEnabled;
}

void TNVAssistant::ActivateContinue(int form) {
  if (TNVItem *found = CacheItem(form, 0))
    FForms[size_t(form)]->SetActiveControl(found->FName);
}

// --- creation ----------------------------------------------------------------------------------

std::shared_ptr<TNVAssistant> CreateAssistant(const std::string &title, std::shared_ptr<IKXException> exception,
                                              const std::vector<std::string> &streams, INVFormPlatform &platform) {
  auto assistant = std::make_shared<TNVAssistant>(&platform);
  assistant->FTitle = title;
  assistant->FException = exception;
  const int32_t steps = int32_t(streams.size());
  for (int32_t i = 0; i < steps; ++i) {
    auto form = std::make_shared<TNVForm>(assistant.get(), &platform);
    form->FTitle = title;
    form->FException = exception;
    form->FStep = i + 1;
    form->FSteps = steps;
    form->CreateMainButtons();
    form->Load(streams[size_t(i)]);
    assistant->AddForm(form);
    form->RaiseEvent(TNVAction::nvaFormCreate, nullptr);
  }
  return assistant;
}

IKXAssistantForms *AssistantForms(INVAssistant &assistant) { return dynamic_cast<TNVAssistant *>(&assistant); }

} // namespace kx
