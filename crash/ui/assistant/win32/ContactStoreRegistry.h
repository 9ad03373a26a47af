#pragma once
// The remembered contact in the registry: the text values "RememberName" and "RememberEmail" under
// HKEY_CURRENT_USER\Software\Pellumar\ContactForm. Failures are ignored: what cannot be read
// reads as empty, what cannot be written is not remembered.
#include <string>

#include "crash/ui/assistant/ContactForm.h"

namespace kx {

inline constexpr const wchar_t *kContactFormKey = L"Software\\Pellumar\\ContactForm";

class TKXRegistryContactStore final : public IKXContactStore {
public:
  void Read(std::string &name, std::string &email) override;
  void Write(const std::string &name, const std::string &email) override;
  void Forget() override;
};

} // namespace kx
