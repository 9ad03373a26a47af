// What a completed assistant adds to the report, and the settings' way to assistants: GetAssistant
// through the hooks and the form cache between two assistants.
#include <gtest/gtest.h>

#include <map>

#include "crash/ui/assistant/AssistantHooks.h"
#include "crash/ui/assistant/AssistantOutputs.h"
#include "runtime/Exception.h"
#include "tests/crash/capture/exception/HostTest.h"
#include "tests/crash/ui/assistant/AssistantTestSupport.h"

namespace kx::test {
namespace {

std::map<std::string, std::string> Definitions() {
  return {{"ContactForm", FormBuilder("ContactForm", "TKXContactForm", {{"OnAction", "Kestrelix.HandleContactForm"}})
                              .Child("TNVLabel", "Label1", {{"Caption", "your name:"}})
                              .Child("TNVEdit", "NameEdit",
                                     {{"Optional", "?true"}, {"OutputName", "contact name"}, {"OutputType", "nvoHeader"}})
                              .Child("TNVLabel", "Label2", {{"Caption", "your email:"}})
                              .Child("TNVEdit", "EmailEdit", {{"OutputName", "contact email"}})
                              .Child("TNVCheckBox", "MemCheck", {{"Caption", "remember me"}})
                              .End()},
          {"DetailsForm", FormBuilder("DetailsForm")
                              .Child("TNVEdit", "DetailsMemo",
                                     {{"Lines", "#9"}, {"OutputName", "error details"}, {"OutputType", "nvoOwnSection"}})
                              .End()},
          {"OneLineForm", FormBuilder("OneLineForm")
                              .Child("TNVEdit", "Short", {{"OutputName", "short"}, {"OutputType", "nvoOwnSection"}})
                              .Child("TNVEdit", "Unnamed", {{"Optional", "?true"}})
                              .Child("TNVEdit", "Empty", {{"Optional", "?true"}, {"OutputName", "empty"}})
                              .Child("TNVCheckBox", "Agree", {{"OutputName", "agreed"}})
                              .Child("TNVCheckBox", "Quiet")
                              .End()},
          {"ScrShotForm", FormBuilder("ScrShotForm").End()}};
}

class Outputs : public HostTest {
protected:
  FakeFormPlatform platform;
  ContactStoreScope contact;
  Exception error{"boom"};
  std::shared_ptr<TIKXException> exception;

  void SetUp() override {
    UseStream(StreamBuilder()
                  .Int("ScrShotDepth", 0)
                  .Text("Assistant1", "SendAssistant|Send Assistant|ContactForm|DetailsForm|ScrShotForm")
                  .Text("Assistant2", "OtherAssistant|Other|OneLineForm"));
    auto settings = std::dynamic_pointer_cast<TIKXSettings>(host->settings);
    settings->Context()->SetAssistantHooks(MakeAssistantHooks(
        [this](KXModule, const std::string &title, const std::vector<std::string> &forms,
               std::shared_ptr<IKXException> e) -> std::shared_ptr<INVAssistant> {
          std::vector<std::string> streams;
          for (const std::string &name : forms)
            streams.push_back(Definitions()[name]);
          return CreateAssistant(title, std::move(e), streams, platform);
        }));
    exception = Create(KXExceptObject::Of(error));
    exception->GetBugReport(false); // the report's lists exist
    FieldsEx(*exception->GetBugReportSections()).AcceptData();
  }
  std::shared_ptr<TNVAssistant> Send() {
    return std::static_pointer_cast<TNVAssistant>(exception->GetAssistant("sendassistant"));
  }
};

TEST_F(Outputs, ACompletedSendAssistantAddsTheContactFieldsAndTheDetailsSection) {
  auto a = Send();
  ASSERT_TRUE(a);
  EXPECT_EQ(a->GetTitle(), "Send Assistant");
  EXPECT_EQ(a->GetFormCount(), 2) << "no screenshot is taken: no screenshot form";
  EXPECT_EQ(a->GetException().get(), static_cast<IKXException *>(exception.get()));
  platform.user = [](TNVForm &form, FakeView &view) {
    if (form.FName == "ContactForm") {
      view.Type("NameEdit", "Ann");
      view.Type("EmailEdit", "ann@example.com");
    } else {
      view.Type("DetailsMemo", "clicked Set\r\ntwice");
    }
    Click(form, "ContinueBtn");
  };
  ASSERT_EQ(a->RunModal(0), TNVModalResult::nvmOk);
  AddAssistantOutputs(*a, *exception);
  auto header = exception->GetBugReportHeader();
  EXPECT_EQ(header->GetContent("contact name"), "Ann");
  EXPECT_EQ(header->GetContent("contact email"), "ann@example.com");
  EXPECT_EQ(header->FindItem("error details"), -1);
  EXPECT_EQ(exception->GetBugReportSections()->GetContent("error details"), "clicked Set\r\ntwice");
}

TEST_F(Outputs, SkippingTheContactFormAddsNoContactFields) {
  auto a = Send();
  a->Form(0).GetSkipButton()->SetEnabled(true);
  platform.user = [](TNVForm &form, FakeView &view) {
    if (form.FName == "ContactForm") {
      view.Type("NameEdit", "Ann");
      view.Type("EmailEdit", "ann@example.com");
      Click(form, "SkipBtn");
    } else {
      view.Type("DetailsMemo", "details");
      Click(form, "ContinueBtn");
    }
  };
  ASSERT_EQ(a->RunModal(0), TNVModalResult::nvmOk);
  AddAssistantOutputs(*a, *exception);
  EXPECT_EQ(exception->GetBugReportHeader()->FindItem("contact name"), -1);
  EXPECT_EQ(exception->GetBugReportHeader()->FindItem("contact email"), -1);
  EXPECT_EQ(exception->GetMailFrom(), "");
  EXPECT_EQ(exception->GetBugReportSections()->GetContent("error details"), "details");
}

TEST_F(Outputs, AOneLineOwnSectionEditGoesToTheHeaderAndCheckBoxesSayYesOrNo) {
  auto a = std::static_pointer_cast<TNVAssistant>(exception->GetAssistant("OtherAssistant"));
  ASSERT_TRUE(a);
  platform.user = [](TNVForm &form, FakeView &view) {
    view.Type("Short", "one line");
    view.Type("Unnamed", "goes nowhere");
    Click(form, "Quiet");
    Click(form, "ContinueBtn");
  };
  ASSERT_EQ(a->RunModal(0), TNVModalResult::nvmOk);
  AddAssistantOutputs(*a, *exception);
  auto header = exception->GetBugReportHeader();
  EXPECT_EQ(header->GetContent("short"), "one line");
  EXPECT_EQ(exception->GetBugReportSections()->FindItem("short"), -1);
  EXPECT_EQ(header->GetContent("agreed"), "no");
  EXPECT_EQ(header->FindItem("Unnamed"), -1);
  EXPECT_EQ(header->FindItem("Quiet"), -1);
  EXPECT_EQ(header->FindItem("empty"), -1) << "an empty text adds nothing";
}

TEST_F(Outputs, TheFormCacheFillsTheNextAssistantAndFocusesItsContinueButton) {
  EXPECT_EQ(exception->GetAssistant("NoSuchAssistant"), nullptr);
  auto first = Send();
  platform.user = [](TNVForm &form, FakeView &view) {
    if (form.FName == "ContactForm") {
      view.Type("NameEdit", "Ann");
      view.Type("EmailEdit", "ann@example.com");
      Click(form, "ContinueBtn");
    } else {
      view.Type("DetailsMemo", "typed, then cancelled");
      Click(form, "CancelBtn");
    }
  };
  ASSERT_EQ(first->RunModal(0), TNVModalResult::nvmCancel);
  exception->FillFormCache(static_cast<INVAssistant &>(*first));

  auto second = Send();
  TNVForm &contactForm = second->Form(0);
  EXPECT_EQ(contactForm.EditNamed("NameEdit")->GetText(), "Ann");
  EXPECT_EQ(contactForm.EditNamed("EmailEdit")->GetText(), "ann@example.com");
  EXPECT_TRUE(contactForm.EditNamed("EmailEdit")->GetValid());
  EXPECT_FALSE(contactForm.CheckBoxNamed("MemCheck")->GetChecked());
  EXPECT_EQ(contactForm.GetActiveControl(), "ContinueBtn");
  EXPECT_EQ(second->Form(1).EditNamed("DetailsMemo")->GetText(), "") << "a cancelled form is not cached";
  EXPECT_EQ(second->Form(1).GetActiveControl(), "");
}

} // namespace
} // namespace kx::test
