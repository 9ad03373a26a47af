// The contact and screenshot handlers over a real exception object.
#include <gtest/gtest.h>

#include "crash/ui/assistant/ContactForm.h"
#include "crash/ui/assistant/ScreenshotForm.h"
#include "runtime/Exception.h"
#include "tests/crash/capture/exception/HostTest.h"
#include "tests/crash/ui/assistant/AssistantTestSupport.h"

namespace kx::test {
namespace {

std::string ContactStream() {
  return FormBuilder("ContactForm", "TKXContactForm", {{"Message", "Contact Information"},
                                                       {"OnAction", "Kestrelix.HandleContactForm"}})
      .Child("TNVButton", "ContinueBtn", {{"Caption", "Continue"}})
      .Child("TNVButton", "SkipBtn", {{"Caption", "Skip"}, {"Enabled", "?false"}})
      .Child("TNVLabel", "Label1", {{"Caption", "your name:"}})
      .Child("TNVEdit", "NameEdit", {{"Optional", "?true"}, {"OutputName", "contact name"}})
      .Child("TNVLabel", "Label2", {{"Caption", "your email:"}})
      .Child("TNVEdit", "EmailEdit", {{"OutputName", "contact email"}})
      .Child("TNVCheckBox", "MemCheck", {{"Caption", "remember me"}})
      .End();
}

std::string ScreenshotStream() {
  return FormBuilder("ScrShotForm", "TKXScrShotForm", {{"OnAction", "Kestrelix.HandleScreenshotForm"}, {"Timer", "#250"}})
      .Child("TNVCheckBox", "AttachCheck", {{"Checked", "?true"}})
      .Child("TNVImage", "ScrShotImg", {{"Border", "?true"}, {"Clickable", "?true"}})
      .Child("TNVLabel", "Label1", {{"Caption", "(click to edit image)"}})
      .End();
}

class Handlers : public HostTest {
protected:
  FakeFormPlatform platform;
  ContactStoreScope contact;
  Exception error{"boom"};
  std::shared_ptr<TIKXException> exception;

  void SetUp() override {
    UseStream(StreamBuilder().Int("ScrShotDepth", 8));
    exception = Create(KXExceptObject::Of(error));
  }
  std::shared_ptr<TNVAssistant> Make(const std::string &stream) {
    return CreateAssistant("Send Assistant", exception, {stream}, platform);
  }
};

TEST_F(Handlers, ARememberedContactPrefillsTheFormAndTheFocusGoesToContinue) {
  contact.store->name = "Ann Lee";
  contact.store->email = "ann@example.com";
  auto a = Make(ContactStream());
  TNVForm &form = a->Form(0);
  EXPECT_EQ(form.EditNamed("NameEdit")->GetText(), "Ann Lee");
  EXPECT_EQ(form.EditNamed("EmailEdit")->GetText(), "ann@example.com");
  EXPECT_TRUE(form.EditNamed("EmailEdit")->GetValid());
  EXPECT_TRUE(form.CheckBoxNamed("MemCheck")->GetChecked());
  EXPECT_EQ(form.GetActiveControl(), "ContinueBtn");
  platform.user = [](TNVForm &f, FakeView &view) {
    EXPECT_EQ(view.FocusedName(), "ContinueBtn");
    Click(f, "ContinueBtn");
  };
  EXPECT_EQ(a->RunModal(0), TNVModalResult::nvmOk);
  EXPECT_EQ(contact.store->writes, 1);
  EXPECT_EQ(exception->GetMailFrom(), "Ann Lee <ann@example.com>");
}

TEST_F(Handlers, OnlyAnEmailIsRememberedButStillPrefillsBoth) {
  contact.store->email = "x@y.org";
  auto a = Make(ContactStream());
  EXPECT_EQ(a->Form(0).EditNamed("NameEdit")->GetText(), "");
  EXPECT_EQ(a->Form(0).EditNamed("EmailEdit")->GetText(), "x@y.org");
  EXPECT_TRUE(a->Form(0).CheckBoxNamed("MemCheck")->GetChecked());

  // Nothing remembered: nothing changes, the focus stays with the form's own choice.
  contact.store->email.clear();
  auto b = Make(ContactStream());
  EXPECT_FALSE(b->Form(0).CheckBoxNamed("MemCheck")->GetChecked());
  EXPECT_EQ(b->Form(0).GetActiveControl(), "");
}

TEST_F(Handlers, TheAddressIsCheckedAsItIsTyped) {
  auto a = Make(ContactStream());
  platform.user = [](TNVForm &f, FakeView &view) {
    TNVItem &cont = f.Item(0);
    view.Type("EmailEdit", "ann@");
    EXPECT_FALSE(f.EditNamed("EmailEdit")->GetValid());
    EXPECT_FALSE(view.ItemEnabled(cont.FHandle));
    view.Type("EmailEdit", "ann@example.com");
    EXPECT_TRUE(f.EditNamed("EmailEdit")->GetValid());
    EXPECT_TRUE(view.ItemEnabled(cont.FHandle)) << "the name is optional";
    Click(f, "CancelBtn");
  };
  EXPECT_EQ(a->RunModal(0), TNVModalResult::nvmCancel);
  EXPECT_EQ(contact.store->writes + contact.store->forgets, 0) << "a cancelled form remembers nothing";
  EXPECT_EQ(exception->GetMailFrom(), "");
}

TEST_F(Handlers, CompletingWithRememberMeUncheckedForgetsTheContact) {
  contact.store->name = "Ann";
  contact.store->email = "ann@example.com";
  auto a = Make(ContactStream());
  platform.user = [](TNVForm &f, FakeView &) {
    Click(f, "MemCheck"); // unchecks it
    Click(f, "ContinueBtn");
  };
  EXPECT_EQ(a->RunModal(0), TNVModalResult::nvmOk);
  EXPECT_EQ(contact.store->forgets, 1);
  EXPECT_EQ(contact.store->name, "");
  EXPECT_EQ(contact.store->email, "");
  EXPECT_EQ(exception->GetMailFrom(), "Ann <ann@example.com>") << "the sender is set all the same";
}

TEST_F(Handlers, AnEmptyNameSetsNoSenderAndLineBreaksNeverReachTheSender) {
  auto a = Make(ContactStream());
  platform.user = [](TNVForm &f, FakeView &view) {
    view.Type("EmailEdit", "ann@example.com");
    Click(f, "MemCheck");
    Click(f, "ContinueBtn");
  };
  EXPECT_EQ(a->RunModal(0), TNVModalResult::nvmOk);
  EXPECT_EQ(exception->GetMailFrom(), "");
  EXPECT_EQ(contact.store->writes, 1);
  EXPECT_EQ(contact.store->name, "");
  EXPECT_EQ(contact.store->email, "ann@example.com");

  EXPECT_EQ(ContactSender("Ann\r\nBcc: x@y.z", "a@b.c"), "Ann  Bcc: x@y.z <a@b.c>");
}

TEST_F(Handlers, WithoutAStoreTheFormStillWorks) {
  SetContactStore(nullptr);
  auto a = Make(ContactStream());
  platform.user = [](TNVForm &f, FakeView &view) {
    view.Type("NameEdit", "Bo");
    view.Type("EmailEdit", "bo@example.com");
    Click(f, "ContinueBtn");
  };
  EXPECT_EQ(a->RunModal(0), TNVModalResult::nvmOk);
  EXPECT_EQ(exception->GetMailFrom(), "Bo <bo@example.com>");
}

TEST_F(Handlers, TheScreenshotFormShowsTheScreenshotEditsItAndSetsTheAttachFlag) {
  BitmapsScope bitmaps;
  FakeMeasure measure;
  std::shared_ptr<INVBitmap> shot = FakeBitmaps::Make(1600, 1200), edited = FakeBitmaps::Make(200, 100);
  exception->SetScreenShot(shot);
  exception->SetAppendScreenShot(false);

  int starts = 0, ends = 0, polls = 0;
  int state = 42;
  KXScreenshotEditing editing;
  editing.startEdit = [&](void *&data, IKXException &e) {
    ++starts;
    EXPECT_EQ(&e, static_cast<IKXException *>(exception.get()));
    data = &state;
  };
  editing.editedScreenshot = [&](void *&data) -> std::shared_ptr<INVBitmap> {
    ++polls;
    return data && polls == 2 ? edited : nullptr;
  };
  editing.endEdit = [&](void *&data) {
    ++ends;
    EXPECT_EQ(data, &state);
    data = nullptr;
  };
  SetScreenshotEditing(editing);

  auto a = Make(ScreenshotStream());
  TNVForm &form = a->Form(0);
  EXPECT_EQ(form.ImageNamed("ScrShotImg")->GetBitmap(), shot) << "kept as it is before the layout";
  EXPECT_FALSE(form.CheckBoxNamed("AttachCheck")->GetChecked()) << "the exception's flag";

  platform.user = [&](TNVForm &f, FakeView &) {
    LayoutForm(f, measure);
    auto image = std::static_pointer_cast<TNVImage>(f.ImageNamed("ScrShotImg"));
    EXPECT_EQ(bitmaps.bitmaps->Width(*image->FBitmap), image->InnerRect().Width()) << "zoomed into the item";
    f.RaiseEvent(TNVAction::nvaItemEvent, nullptr); // timer: nothing saved yet
    f.ItemClicked(*image);                          // click: editing starts
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(f.GetData(), &state);
    f.RaiseEvent(TNVAction::nvaItemEvent, nullptr); // timer: the editor saved
    EXPECT_EQ(image->FBitmap, edited) << "smaller than the item: shown as it is";
    Click(f, "AttachCheck");
    Click(f, "CancelBtn");
  };
  EXPECT_EQ(a->RunModal(0), TNVModalResult::nvmCancel);
  EXPECT_EQ(exception->GetScreenShot(), edited);
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(form.GetData(), nullptr);
  EXPECT_TRUE(exception->GetAppendScreenShot()) << "the check box decides however the form ends";
  SetScreenshotEditing({});
}

TEST_F(Handlers, TheScreenshotHandlerLeavesAFormWithoutAnExceptionAlone) {
  int calls = 0;
  KXScreenshotEditing editing;
  editing.endEdit = [&](void *&) { ++calls; };
  SetScreenshotEditing(editing);
  auto a = CreateAssistant("T", nullptr, {ScreenshotStream()}, platform);
  EXPECT_TRUE(a->Form(0).CheckBoxNamed("AttachCheck")->GetChecked()) << "the definition's state";
  int marker = 0;
  a->Form(0).SetData(&marker);
  platform.user = [](TNVForm &f, FakeView &) { Click(f, "ContinueBtn"); };
  EXPECT_EQ(a->RunModal(0), TNVModalResult::nvmOk);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(a->Form(0).GetData(), &marker);
  SetScreenshotEditing({});
}

} // namespace
} // namespace kx::test
