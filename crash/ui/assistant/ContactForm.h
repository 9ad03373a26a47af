#pragma once
// The contact form's handler: pre-fills the name and e-mail address that the user asked to be
// remembered, checks the address as it is typed, remembers or forgets the data when the form is
// completed and makes the contact the sender of the report's mails.
#include <memory>
#include <string>

#include "crash/ui/assistant/NVAssistant.h"

namespace kx {

// Where the contact is remembered (on Windows the registry, win32/ContactStoreRegistry). Failures
// are the store's own business: what cannot be read reads as empty.
class IKXContactStore {
public:
  virtual ~IKXContactStore() = default;
  virtual void Read(std::string &name, std::string &email) = 0;
  virtual void Write(const std::string &name, const std::string &email) = 0;
  // Deletes both remembered values.
  virtual void Forget() = 0;
};

// The process's store; without one nothing is remembered or pre-filled.
void SetContactStore(std::shared_ptr<IKXContactStore> store);
std::shared_ptr<IKXContactStore> ContactStore();

// The sender address of a contact: name, " <", address, ">". Control characters (a line break
// taken over from a remembered or cached value) become spaces, so the text stays one header line.
std::string ContactSender(const std::string &name, const std::string &email);

// The handler selected by "Kestrelix.HandleContactForm". Items: NameEdit, EmailEdit, MemCheck.
void HandleContactForm(INVForm &form, TNVAction action, INVItem *item, IKXException *exception);

} // namespace kx
