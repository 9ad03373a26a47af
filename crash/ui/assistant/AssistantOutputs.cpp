#include "crash/ui/assistant/AssistantOutputs.h"

#include "crash/capture/exception/KXException.h"

namespace kx {

void AddAssistantOutputs(INVAssistant &assistant, IKXException &exception) {
  std::shared_ptr<IKXFields> header = exception.GetBugReportHeader();
  std::shared_ptr<IKXFields> sections = exception.GetBugReportSections();
  exception.BeginUpdate();
  for (int32_t f = 0; f < assistant.GetFormCount(); ++f) {
    std::shared_ptr<INVForm> form = assistant.GetForms(f);
    if (!form || form->GetModalResult() != TNVModalResult::nvmOk)
      continue;
    for (int32_t i = 0; i < form->GetItemCount(); ++i) {
      std::shared_ptr<INVItem> item = form->GetItems(i);
      if (auto edit = std::dynamic_pointer_cast<INVEdit>(item)) {
        const std::string name = edit->GetOutputName(), text = edit->GetText();
        if (name.empty() || text.empty())
          continue;
        const bool ownSection = edit->GetOutputType() == TOutputType::otOwnSection && edit->GetLines() > 1;
        if (IKXFields *list = ownSection ? sections.get() : header.get())
          list->SetContent(name, text);
      } else if (auto box = std::dynamic_pointer_cast<INVCheckBox>(item)) {
        const std::string name = box->GetOutputName();
        if (!name.empty() && header)
          header->SetContent(name, box->GetChecked() ? "yes" : "no");
      }
    }
  }
  exception.EndUpdate();
}

} // namespace kx
