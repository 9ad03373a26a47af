// Building a form from its definition stream: which object configures which item, and the
// properties of the form itself.
#include "crash/base/settings/KXText.h"
#include "crash/ui/assistant/ContactForm.h"
#include "crash/ui/assistant/FormStream.h"
#include "crash/ui/assistant/NVForm.h"
#include "crash/ui/assistant/ScreenshotForm.h"

namespace kx {

namespace {

constexpr const char *kContactHandlerName = "Kestrelix.HandleContactForm";
constexpr const char *kScreenshotHandlerName = "Kestrelix.HandleScreenshotForm";

std::shared_ptr<TNVItem> NewItem(const std::string &className, TNVForm &form, const std::string &name) {
  if (className == "TNVButton")
    return std::make_shared<TNVButton>(&form, name);
  if (className == "TNVLabel")
    return std::make_shared<TNVLabel>(&form, name);
  if (className == "TNVEdit")
    return std::make_shared<TNVEdit>(&form, name);
  if (className == "TNVCheckBox")
    return std::make_shared<TNVCheckBox>(&form, name);
  if (className == "TNVImage")
    return std::make_shared<TNVImage>(&form, name);
  return nullptr;
}

} // namespace

std::string TNVForm::Load(std::string_view stream) {
  TNVStreamContent content = ReadFormStream(stream);
  for (const TNVStreamObject &object : content.objects) {
    const std::string name = object.objectName == "AbortBtn" ? std::string("CancelBtn") : object.objectName;
    std::string className = object.className;
    if (!className.empty())
      className[0] = 'T';

    TNVItem *target = nullptr;
    if (className == "TNVButton")
      for (size_t i = 0; i < 3 && i < FItems.size(); ++i)
        if (FItems[i]->FName == name)
          target = FItems[i].get();
    if (!target) {
      if (std::shared_ptr<TNVItem> item = NewItem(className, *this, name)) {
        target = item.get();
        Append(std::move(item));
      }
    }
    if (!target && FName.empty())
      FName = name; // any other class is the form itself

    for (const TNVStreamProperty &property : object.properties) {
      if (target)
        target->SetProperty(property.name, property.value);
      else
        SetProperty(property.name, property.value);
    }
  }
  if (!content.failure.empty() && FPlatform)
    FPlatform->ShowMessage("Kestrelix", content.failure);
  return content.failure;
}

void TNVForm::SetProperty(const std::string &name, const std::string &value) {
  if (name == "MinWidth") {
    MinWidth = NVInteger(value);
  } else if (name == "Message") {
    FMessage = value;
  } else if (name == "ActiveControl") {
    FActiveControl = value;
  } else if (name == "Timer") {
    FTimer = uint32_t(NVInteger(value));
  } else if (name == "OnAction") {
    if (SameText(value, kContactHandlerName)) {
      FOnAction = &HandleContactForm;
    } else if (SameText(value, kScreenshotHandlerName)) {
      FOnAction = &HandleScreenshotForm;
    } else {
      // "Unit.Symbol": the symbol follows the last dot (unit names may hold dots themselves).
      FOnAction = nullptr;
      const size_t dot = value.rfind('.');
      if (dot != std::string::npos && dot > 0 && dot + 1 < value.size() && FPlatform)
        FOnAction = FPlatform->FindHandler(value.substr(0, dot), value.substr(dot + 1));
    }
  }
}

} // namespace kx
