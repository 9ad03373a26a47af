#pragma once
// TNVAssistant: a sequence of forms built from definition streams, run one after the other. It
// also offers its forms to the settings' form cache (IKXAssistantForms).
#include <memory>
#include <string>
#include <vector>

#include "crash/base/settings/KXSettingsObject.h"
#include "crash/ui/assistant/NVForm.h"

namespace kx {

class TNVAssistant final : public INVAssistant, public IKXAssistantForms, public std::enable_shared_from_this<TNVAssistant> {
public:
  explicit TNVAssistant(INVFormPlatform *platform);
  ~TNVAssistant() override;
  TNVAssistant(const TNVAssistant &) = delete;
  TNVAssistant &operator=(const TNVAssistant &) = delete;

  // INVAssistant
  std::string GetTitle() override { return FTitle; }
  void SetTitle(const std::string &value) override;
  int32_t GetFormCount() override { return int32_t(FForms.size()); }
  std::shared_ptr<INVForm> GetForms(int32_t index) override;
  std::shared_ptr<INVForm> FormNamed(const std::string &name) override;
  TNVModalResult GetModalResult() override { return FModalResult; }
  TNVActionHandler GetOnAction() override { return FOnAction; }
  void SetOnAction(TNVActionHandler value) override { FOnAction = value; }
  TNVModalResult RunModal(TNVWindow parent) override;
  std::shared_ptr<IKXException> GetException() override { return FException; }
  void SetException(std::shared_ptr<IKXException> value) override { FException = std::move(value); }
  void *GetData() override { return FData; }
  void SetData(void *value) override { FData = value; }

  // IKXAssistantForms: the form cache's view of the forms.
  int FormCount() override { return int(FForms.size()); }
  int FormModalResult(int form) override;
  int ItemCount(int form) override;
  ItemKind Kind(int form, int item) override;
  std::string ItemName(int form, int item) override;
  std::string EditText(int form, int item) override;
  void SetEditText(int form, int item, const std::string &text) override;
  bool Checked(int form, int item) override;
  void SetChecked(int form, int item, bool checked) override;
  bool ContinueEnabled(int form) override;
  void ActivateContinue(int form) override;

  void AddForm(std::shared_ptr<TNVForm> form) { FForms.push_back(std::move(form)); }
  TNVForm &Form(size_t index) { return *FForms[index]; }

  std::string FTitle;
  TNVModalResult FModalResult = TNVModalResult::nvmInvalid;
  TNVActionHandler FOnAction = nullptr;
  std::shared_ptr<IKXException> FException;
  void *FData = nullptr;

private:
  TNVItem *CacheItem(int form, int item); // null outside the ranges
  std::vector<std::shared_ptr<TNVForm>> FForms;
  INVFormPlatform *FPlatform;
};

// Creates an assistant of one form per definition stream, in order, with the steps 1 to n of n;
// every form takes the title as its caption and carries the exception object (or none). Each form
// raises nvaFormCreate once it is built.
std::shared_ptr<TNVAssistant> CreateAssistant(const std::string &title, std::shared_ptr<IKXException> exception,
                                              const std::vector<std::string> &streams, INVFormPlatform &platform);

// The form cache's view of an assistant made here (null for any other object).
IKXAssistantForms *AssistantForms(INVAssistant &assistant);

} // namespace kx
