// Building forms and assistants from definition streams, the program's own definitions included.
#include <gtest/gtest.h>

#include "crash/ui/assistant/ContactForm.h"
#include "crash/ui/assistant/ScreenshotForm.h"
#include "tests/crash/ui/assistant/AssistantTestSupport.h"

namespace kx::test {
namespace {

std::shared_ptr<TNVAssistant> Assistant(FakeFormPlatform &platform, const std::vector<std::string> &streams,
                                        const std::string &title = "Send Assistant") {
  return CreateAssistant(title, nullptr, streams, platform);
}

void CustomHandler(INVForm &, TNVAction, INVItem *, IKXException *) {}

TEST(FormDefinition, TheMainButtonsComeFirstAndTheStreamConfiguresThem) {
  FakeFormPlatform platform;
  auto a = Assistant(platform, {FormBuilder("Form")
                                    .Child("TNVButton", "ContinueBtn", {{"Caption", "Continue"}})
                                    .Child("TNVButton", "AbortBtn", {{"Caption", "Stop"}, {"Enabled", "?false"}})
                                    .Child("TNVButton", "HelpBtn", {{"MinWidth", "#90"}, {"Visible", "?false"}})
                                    .End(),
                                ""});
  TNVForm &form = a->Form(0);
  ASSERT_EQ(form.GetItemCount(), 4);
  EXPECT_EQ(form.GetContinueButton()->GetCaption(), "Continue");
  EXPECT_EQ(form.GetSkipButton()->GetCaption(), "Skip");
  EXPECT_EQ(form.GetCancelButton()->GetCaption(), "Stop") << "AbortBtn is read as CancelBtn";
  EXPECT_FALSE(form.GetCancelButton()->GetEnabled());
  auto help = std::dynamic_pointer_cast<TNVButton>(form.GetItems(3));
  ASSERT_TRUE(help);
  EXPECT_EQ(help->GetCaption(), "HelpBtn") << "no caption: the name";
  EXPECT_EQ(help->GetMinWidth(), 90);
  EXPECT_TRUE(help->FInvisible);
  EXPECT_EQ(form.GetItems(4), nullptr);
  EXPECT_EQ(form.GetItems(-1), nullptr);

  // An empty stream (a missing definition): only the main buttons, with their own captions.
  TNVForm &bare = a->Form(1);
  ASSERT_EQ(bare.GetItemCount(), 3);
  EXPECT_EQ(bare.GetContinueButton()->GetCaption(), "Next >");
  EXPECT_EQ(bare.GetCancelButton()->GetCaption(), "Cancel");
  EXPECT_EQ(bare.GetItems(0)->GetName(), "ContinueBtn");
  EXPECT_EQ(bare.GetItems(1)->GetName(), "SkipBtn");
  EXPECT_EQ(bare.GetItems(2)->GetName(), "CancelBtn");
  EXPECT_TRUE(platform.messages.empty());
}

TEST(FormDefinition, ItemsTakeTheirPropertiesAndTheFormTheRest) {
  FakeFormPlatform platform;
  platform.handlers["Tidewell.Forms|OnDetails"] = &CustomHandler;
  auto a = Assistant(platform,
                     {FormBuilder("FirstName", "TKXTestForm",
                                  {{"Message", "Details"}, {"MinWidth", "#400"}, {"Timer", "#250"},
                                   {"ActiveControl", "Memo"}, {"OnAction", "Tidewell.Forms.OnDetails"},
                                   {"Unknown", "ignored"}})
                          .Child("KNVLabel", "Label1", {{"Caption", "what happened?"}, {"Spacing", "#7"}})
                          .Child("TNVEdit", "Memo",
                                 {{"Lines", "#9"}, {"Text", "a%lf%b%lf%"}, {"Optional", "YES"}, {"Colored", "?false"},
                                  {"Valid", "0"}, {"OutputType", "nvoOwnSection"}, {"OutputName", "details"}})
                          .Child("TNVCheckBox", "Box", {{"Text", "remember"}, {"Checked", "True"}})
                          .Child("TNVImage", "Img", {{"Width", "#40"}, {"Height", "#30"}, {"File", "a.bmp"},
                                                     {"Clickable", "?true"}, {"Border", "?true"}})
                          .Child("TKXOther", "SecondName", {{"Message", "overwritten"}})
                          .End()});
  TNVForm &form = a->Form(0);
  EXPECT_EQ(form.GetName(), "FirstName") << "the first form object names the form";
  EXPECT_EQ(form.GetMessageText(), "overwritten");
  EXPECT_EQ(form.MinWidth, 400);
  EXPECT_EQ(form.GetTimer(), 250u);
  EXPECT_EQ(form.GetActiveControl(), "Memo");
  EXPECT_EQ(form.GetOnAction(), &CustomHandler);
  EXPECT_EQ(form.GetTitle(), "Send Assistant");

  auto label = form.LabelNamed("Label1");
  ASSERT_TRUE(label) << "the class's first letter becomes T";
  EXPECT_EQ(label->GetCaption(), "what happened?");
  EXPECT_EQ(label->GetSpacing(), 7);
  EXPECT_FALSE(label->GetTabStop());

  auto memo = form.EditNamed("Memo");
  ASSERT_TRUE(memo);
  EXPECT_EQ(memo->GetLines(), 9);
  EXPECT_EQ(memo->GetText(), "a\r\nb\r\n");
  EXPECT_TRUE(memo->GetOptional());
  EXPECT_FALSE(memo->GetColored());
  EXPECT_FALSE(memo->GetValid());
  EXPECT_EQ(memo->GetOutputType(), TOutputType::otOwnSection);
  EXPECT_EQ(memo->GetOutputName(), "details");
  EXPECT_TRUE(memo->GetTabStop());
  EXPECT_EQ(form.LabelNamed("Memo"), nullptr) << "the kind must match";

  auto box = form.CheckBoxNamed("Box");
  ASSERT_TRUE(box);
  EXPECT_EQ(box->GetCaption(), "remember");
  EXPECT_TRUE(box->GetChecked());

  auto img = form.ImageNamed("Img");
  ASSERT_TRUE(img);
  EXPECT_EQ(img->GetWidth(), 40);
  EXPECT_EQ(img->GetHeight(), 30);
  EXPECT_EQ(img->GetFile(), "a.bmp");
  EXPECT_TRUE(img->GetClickable());
  EXPECT_TRUE(img->GetBorder());
}

TEST(FormDefinition, OutputTypeOfAOneLineEditStaysHeaderWhenWritten) {
  FakeFormPlatform platform;
  auto a = Assistant(platform, {FormBuilder("F").Child("TNVEdit", "One").Child("TNVEdit", "Two", {{"Lines", "#2"}}).End()});
  auto one = a->Form(0).EditNamed("One"), two = a->Form(0).EditNamed("Two");
  one->SetOutputType(TOutputType::otOwnSection);
  two->SetOutputType(TOutputType::otOwnSection);
  EXPECT_EQ(one->GetOutputType(), TOutputType::otHeader);
  EXPECT_EQ(two->GetOutputType(), TOutputType::otOwnSection);
}

TEST(FormDefinition, HandlerNamesSelectTheBuiltInOnesOrTheDebugInformation) {
  FakeFormPlatform platform;
  platform.handlers["Main|Handler"] = &CustomHandler;
  auto a = Assistant(platform, {FormBuilder("A", "TKXForm", {{"OnAction", "kestrelix.handlecontactform"}}).End(),
                                FormBuilder("B", "TKXForm", {{"OnAction", "KESTRELIX.HandleScreenshotForm"}}).End(),
                                FormBuilder("C", "TKXForm", {{"OnAction", "Main.Handler"}}).End(),
                                FormBuilder("D", "TKXForm", {{"OnAction", "Main.Missing"}}).End(),
                                FormBuilder("E", "TKXForm", {{"OnAction", "NoDot"}}).End()});
  EXPECT_EQ(a->Form(0).GetOnAction(), &HandleContactForm);
  EXPECT_EQ(a->Form(1).GetOnAction(), &HandleScreenshotForm);
  EXPECT_EQ(a->Form(2).GetOnAction(), &CustomHandler);
  EXPECT_EQ(a->Form(3).GetOnAction(), nullptr);
  EXPECT_EQ(a->Form(4).GetOnAction(), nullptr);
}

TEST(FormDefinition, ABadStreamShowsItsFailureAndKeepsWhatWasRead) {
  FakeFormPlatform platform;
  std::string stream = FormBuilder("F").Child("TNVLabel", "Kept", {{"Caption", "kept"}}).End();
  // Cut the stream inside the label's object end and append a property of an unknown type.
  stream = stream.substr(0, stream.size() - 3) + char(3) + "Bad" + char(0x11);
  auto a = Assistant(platform, {stream});
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0],
            std::make_pair(std::string("Kestrelix"), std::string("Internal error: Invalid assistant resource (11).")));
  ASSERT_TRUE(a->Form(0).LabelNamed("Kept"));
  EXPECT_EQ(a->Form(0).LabelNamed("Kept")->GetCaption(), "kept");
}

TEST(FormDefinition, AssistantNumbersItsStepsAndFindsFormsByName) {
  FakeFormPlatform platform;
  auto a = Assistant(platform, {FormBuilder("One").End(), FormBuilder("Two").End(), FormBuilder("two").End()}, "Title");
  ASSERT_EQ(a->GetFormCount(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(a->Form(size_t(i)).FStep, i + 1);
    EXPECT_EQ(a->Form(size_t(i)).FSteps, 3);
    EXPECT_EQ(a->Form(size_t(i)).GetAssistant().get(), a.get());
  }
  EXPECT_EQ(a->FormNamed("TWO"), a->GetForms(2)) << "the last of several";
  EXPECT_EQ(a->FormNamed("three"), nullptr);
  EXPECT_EQ(a->GetForms(3), nullptr);
  a->SetTitle("Other");
  EXPECT_EQ(a->Form(1).GetTitle(), "Other");

  // Items and forms that outlive their owners no longer reach back.
  std::shared_ptr<INVForm> form = a->GetForms(0);
  std::shared_ptr<INVEdit> none = form->EditNamed("x");
  std::shared_ptr<INVItem> button = form->GetItems(0);
  a.reset();
  EXPECT_EQ(form->GetAssistant(), nullptr);
  form.reset();
  button->SetEnabled(false);
  button->Focus();
  EXPECT_FALSE(button->GetEnabled());
}

TEST(FormDefinition, TheProgramsDefinitions) {
  const std::string contact = ProgramFormStream("ContactForm"), details = ProgramFormStream("DetailsForm"),
                    screenshot = ProgramFormStream("ScrShotForm");
  if (contact.empty())
    GTEST_SKIP() << "built without the program's definitions";
  FakeFormPlatform platform;
  ContactStoreScope store; // nothing remembered
  auto a = Assistant(platform, {contact, details, screenshot});
  EXPECT_TRUE(platform.messages.empty());

  TNVForm &c = a->Form(0);
  EXPECT_EQ(c.GetName(), "ContactForm");
  EXPECT_EQ(c.GetMessageText(), "Contact Information");
  EXPECT_EQ(c.GetOnAction(), &HandleContactForm);
  EXPECT_EQ(c.GetTimer(), 0u);
  std::vector<std::string> names;
  for (const auto &item : c.ItemList())
    names.push_back(item->FName);
  EXPECT_EQ(names, (std::vector<std::string>{"ContinueBtn", "SkipBtn", "CancelBtn", "Label1", "NameEdit", "Label2",
                                             "EmailEdit", "MemCheck"}));
  EXPECT_EQ(c.GetContinueButton()->GetCaption(), "Continue");
  EXPECT_FALSE(c.GetSkipButton()->GetEnabled());
  EXPECT_TRUE(c.GetCancelButton()->GetEnabled());
  EXPECT_FALSE(static_cast<TNVButton &>(c.Item(0)).FNoOwnerDraw);
  EXPECT_EQ(c.LabelNamed("Label1")->GetCaption(), "your name:");
  EXPECT_TRUE(c.EditNamed("NameEdit")->GetOptional());
  EXPECT_EQ(c.EditNamed("NameEdit")->GetOutputName(), "contact name");
  EXPECT_FALSE(c.EditNamed("EmailEdit")->GetOptional());
  EXPECT_EQ(c.EditNamed("EmailEdit")->GetOutputName(), "contact email");
  EXPECT_EQ(c.EditNamed("EmailEdit")->GetOutputType(), TOutputType::otHeader);
  EXPECT_TRUE(c.EditNamed("EmailEdit")->GetColored());
  EXPECT_TRUE(c.EditNamed("EmailEdit")->GetValid());
  EXPECT_EQ(c.CheckBoxNamed("MemCheck")->GetCaption(), "remember me");
  EXPECT_FALSE(c.CheckBoxNamed("MemCheck")->GetChecked());

  TNVForm &d = a->Form(1);
  EXPECT_EQ(d.GetName(), "DetailsForm");
  EXPECT_EQ(d.GetMessageText(), "Error Details");
  EXPECT_EQ(d.GetOnAction(), nullptr);
  EXPECT_TRUE(d.GetSkipButton()->GetEnabled());
  EXPECT_EQ(d.LabelNamed("Label1")->GetCaption(), "in which situation did the error occur?");
  auto memo = d.EditNamed("DetailsMemo");
  EXPECT_EQ(memo->GetLines(), 9);
  EXPECT_FALSE(memo->GetOptional());
  EXPECT_EQ(memo->GetOutputType(), TOutputType::otOwnSection);
  EXPECT_EQ(memo->GetOutputName(), "error details");

  TNVForm &s = a->Form(2);
  EXPECT_EQ(s.GetName(), "ScrShotForm");
  EXPECT_EQ(s.GetMessageText(), "Screenshot Configuration");
  EXPECT_EQ(s.GetActiveControl(), "ContinueBtn");
  EXPECT_EQ(s.GetTimer(), 250u);
  EXPECT_EQ(s.GetOnAction(), &HandleScreenshotForm);
  names.clear();
  for (const auto &item : s.ItemList())
    names.push_back(item->FName);
  EXPECT_EQ(names, (std::vector<std::string>{"ContinueBtn", "SkipBtn", "CancelBtn", "AttachCheck", "ScrShotImg",
                                             "Label1"}));
  EXPECT_TRUE(s.CheckBoxNamed("AttachCheck")->GetChecked());
  auto img = s.ImageNamed("ScrShotImg");
  EXPECT_TRUE(img->GetClickable());
  EXPECT_TRUE(img->GetBorder());
  EXPECT_EQ(img->GetFile(), "");
  EXPECT_EQ(img->GetWidth(), 0);
  EXPECT_EQ(s.LabelNamed("Label1")->GetCaption(), "(click to edit image)");
}

} // namespace
} // namespace kx::test
