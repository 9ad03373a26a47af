#include "crash/ui/assistant/ContactForm.h"

#include <mutex>

#include "crash/capture/exception/KXException.h"
#include "crash/ui/assistant/EMailAddress.h"

namespace kx {

namespace {
std::mutex gStoreLock;
std::shared_ptr<IKXContactStore> gStore;

std::string OneLine(std::string text) {
  for (char &c : text)
    if (uint8_t(c) < 32)
      c = ' ';
  return text;
}
} // namespace

void SetContactStore(std::shared_ptr<IKXContactStore> store) {
  std::lock_guard g(gStoreLock);
  gStore = std::move(store);
}

std::shared_ptr<IKXContactStore> ContactStore() {
  std::lock_guard g(gStoreLock);
  return gStore;
}

std::string ContactSender(const std::string &name, const std::string &email) {
  return OneLine(name) + " <" + OneLine(email) + ">";
}

void HandleContactForm(INVForm &form, TNVAction action, INVItem *item, IKXException *exception) {
  std::shared_ptr<INVEdit> nameEdit = form.EditNamed("NameEdit");
  std::shared_ptr<INVEdit> emailEdit = form.EditNamed("EmailEdit");
  std::shared_ptr<INVCheckBox> memCheck = form.CheckBoxNamed("MemCheck");
  std::shared_ptr<IKXContactStore> store = ContactStore();

  switch (action) {
  case TNVAction::nvaFormCreate: {
    std::string name, email;
    if (store)
      store->Read(name, email);
    if (name.empty() && email.empty())
      return;
    if (nameEdit)
      nameEdit->SetText(name);
    if (emailEdit)
      emailEdit->SetText(email);
    if (memCheck)
      memCheck->SetChecked(true);
    if (std::shared_ptr<INVButton> continueButton = form.GetContinueButton(); continueButton && continueButton->GetEnabled())
      form.SetActiveControl(continueButton->GetName());
    return;
  }
  case TNVAction::nvaItemEvent:
    if (item && item->GetName() == "EmailEdit")
      if (auto *edit = dynamic_cast<INVEdit *>(item))
        edit->SetValid(ValidEMailAddress(edit->GetText()));
    return;
  case TNVAction::nvaFormClose: {
    if (form.GetModalResult() != TNVModalResult::nvmOk)
      return;
    const std::string name = nameEdit ? nameEdit->GetText() : std::string();
    const std::string email = emailEdit ? emailEdit->GetText() : std::string();
    if (store) {
      if (memCheck && memCheck->GetChecked())
        store->Write(name, email);
      else
        store->Forget();
    }
    if (exception && !name.empty())
      exception->SetMailFrom(ContactSender(name, email));
    return;
  }
  case TNVAction::nvaFormShow:
    return;
  }
}

} // namespace kx
