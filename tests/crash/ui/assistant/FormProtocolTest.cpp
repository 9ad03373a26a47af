// How a shown form behaves: Continue's enabling, clicks, keys, focus, events and how forms and
// assistants end.
#include <gtest/gtest.h>

#include "tests/crash/ui/assistant/AssistantTestSupport.h"

namespace kx::test {
namespace {

struct Event {
  std::string who; // "form" or "assistant"
  TNVAction action;
  std::string item;
  IKXException *exception;
  bool operator==(const Event &) const = default;
};
std::vector<Event> gEvents;

void FormHandler(INVForm &, TNVAction action, INVItem *item, IKXException *exception) {
  gEvents.push_back({"form", action, item ? item->GetName() : "", exception});
}
void AssistantHandler(INVForm &, TNVAction action, INVItem *item, IKXException *exception) {
  gEvents.push_back({"assistant", action, item ? item->GetName() : "", exception});
}
void ThrowingHandler(INVForm &, TNVAction, INVItem *, IKXException *) { throw std::runtime_error("handler fails"); }
void SkipOnShow(INVForm &form, TNVAction action, INVItem *, IKXException *) {
  if (action == TNVAction::nvaFormShow)
    form.Skip();
}

// A form: name label, a required edit, an optional one, a memo and a check box.
std::string InputForm() {
  return FormBuilder("Input")
      .Child("TNVLabel", "Label1", {{"Caption", "your name:"}})
      .Child("TNVEdit", "Required")
      .Child("TNVEdit", "Free", {{"Optional", "?true"}})
      .Child("TNVEdit", "Memo", {{"Lines", "#4"}, {"Optional", "?true"}})
      .Child("TNVCheckBox", "Box")
      .End();
}

class FormProtocol : public ::testing::Test {
protected:
  FakeFormPlatform platform;
  void SetUp() override { gEvents.clear(); }
  std::shared_ptr<TNVAssistant> Make(const std::vector<std::string> &streams) {
    return CreateAssistant("T", nullptr, streams, platform);
  }
};

TEST_F(FormProtocol, ContinueIsEnabledOnlyWhileEveryRequiredEditHasAValidText) {
  auto a = Make({InputForm()});
  platform.user = [](TNVForm &form, FakeView &view) {
    TNVItem &cont = form.Item(0);
    EXPECT_FALSE(view.ItemEnabled(cont.FHandle)) << "the required edit is empty";
    view.Type("Required", "x");
    EXPECT_TRUE(view.ItemEnabled(cont.FHandle)) << "typing enables it at once";
    form.EditNamed("Required")->SetValid(false);
    EXPECT_FALSE(view.ItemEnabled(cont.FHandle));
    form.EditNamed("Required")->SetValid(true);
    EXPECT_TRUE(view.ItemEnabled(cont.FHandle));
    // Its own Enabled keeps it disabled whatever the edits say.
    cont.SetEnabled(false);
    EXPECT_FALSE(view.ItemEnabled(cont.FHandle));
    cont.SetEnabled(true);
    view.Type("Required", "");
    EXPECT_FALSE(view.ItemEnabled(cont.FHandle));
    Click(form, "ContinueBtn"); // a click that reaches a disabled Continue ends nothing
    EXPECT_FALSE(view.destroyed);
    Click(form, "CancelBtn");
  };
  EXPECT_EQ(a->RunModal(0), TNVModalResult::nvmCancel);
}

TEST_F(FormProtocol, ContinueKeepsTheTextsRaisesCloseAndDestroysTheWindow) {
  auto a = Make({InputForm()});
  a->SetOnAction(&AssistantHandler);
  a->Form(0).SetOnAction(&FormHandler);
  platform.user = [](TNVForm &form, FakeView &view) {
    gEvents.clear();
    view.Type("Required", "typed");
    view.Type("Memo", "line 1\r\nline 2");
    Click(form, "Box");
    EXPECT_TRUE(form.CheckBoxNamed("Box")->GetChecked());
    Click(form, "ContinueBtn");
    EXPECT_TRUE(view.timerStopped);
    EXPECT_TRUE(view.destroyed);
  };
  EXPECT_EQ(a->RunModal(0), TNVModalResult::nvmOk);
  TNVForm &form = a->Form(0);
  EXPECT_EQ(form.GetModalResult(), TNVModalResult::nvmOk);
  EXPECT_EQ(form.EditNamed("Required")->GetText(), "typed") << "readable after the window is gone";
  EXPECT_EQ(form.EditNamed("Memo")->GetText(), "line 1\r\nline 2");
  EXPECT_EQ(form.EditNamed("Required")->GetHandle(), 0u);

  const std::vector<Event> expected{
      {"form", TNVAction::nvaItemEvent, "Required", nullptr},  {"assistant", TNVAction::nvaItemEvent, "Required", nullptr},
      {"form", TNVAction::nvaItemEvent, "Memo", nullptr},      {"assistant", TNVAction::nvaItemEvent, "Memo", nullptr},
      {"form", TNVAction::nvaItemEvent, "Box", nullptr},       {"assistant", TNVAction::nvaItemEvent, "Box", nullptr},
      {"form", TNVAction::nvaItemEvent, "ContinueBtn", nullptr}, {"assistant", TNVAction::nvaItemEvent, "ContinueBtn", nullptr},
      {"form", TNVAction::nvaFormClose, "", nullptr},          {"assistant", TNVAction::nvaFormClose, "", nullptr}};
  EXPECT_EQ(gEvents, expected);
}

TEST_F(FormProtocol, CancelAndTheCloseBoxEndWithCancelAndSkipWithSkip) {
  auto a = Make({InputForm(), InputForm(), InputForm()});
  int run = 0;
  platform.user = [&](TNVForm &form, FakeView &view) {
    ++run;
    if (run == 1)
      Click(form, "SkipBtn");
    else if (run == 2)
      view.CloseRequest();
  };
  EXPECT_EQ(a->RunModal(0), TNVModalResult::nvmCancel);
  EXPECT_EQ(a->GetModalResult(), TNVModalResult::nvmCancel);
  EXPECT_EQ(a->Form(0).GetModalResult(), TNVModalResult::nvmSkip);
  EXPECT_EQ(a->Form(1).GetModalResult(), TNVModalResult::nvmCancel);
  EXPECT_EQ(platform.shown.size(), 2u) << "the third form is never shown";
}

TEST_F(FormProtocol, AssistantGoesOnAfterSkippedFormsAndEndsOkAfterTheLast) {
  auto a = Make({InputForm(), FormBuilder("Second").End(), FormBuilder("Third").End()});
  a->Form(1).SetOnAction(&SkipOnShow);
  platform.user = [](TNVForm &form, FakeView &view) {
    if (form.FName == "Input")
      view.Type("Required", "x");
    Click(form, "ContinueBtn");
  };
  platform.windows[77] = true;
  EXPECT_EQ(a->RunModal(77), TNVModalResult::nvmOk);
  EXPECT_EQ(platform.shown, (std::vector<std::string>{"Input", "Third"})) << "skipped while it was being shown";
  EXPECT_EQ(a->Form(1).GetModalResult(), TNVModalResult::nvmSkip);
  EXPECT_EQ(platform.enableCalls, (std::vector<std::pair<TNVWindow, bool>>{{77, false}, {77, true}}));

  // A parent that was disabled already stays disabled.
  platform.enableCalls.clear();
  platform.windows[77] = false;
  a->Form(0).Skip();
  EXPECT_EQ(a->Form(0).RunModal(0), TNVModalResult::nvmSkip);
  EXPECT_EQ(a->RunModal(77), TNVModalResult::nvmOk);
  EXPECT_TRUE(platform.enableCalls.empty());
  EXPECT_EQ(platform.shown.size(), 3u) << "a form marked to be skipped is not shown again";
}

TEST_F(FormProtocol, AFormWhoseLoopEndedWithoutAnAnswerCancelsTheAssistant) {
  auto a = Make({FormBuilder("Left").End(), FormBuilder("Never").End()});
  platform.user = [](TNVForm &, FakeView &) {}; // the message loop got the quit message
  EXPECT_EQ(a->RunModal(0), TNVModalResult::nvmCancel);
  EXPECT_EQ(a->Form(0).GetModalResult(), TNVModalResult::nvmInvalid);
  EXPECT_EQ(platform.shown.size(), 1u);
}

TEST_F(FormProtocol, EscapeCancelsOnlyWhileCancelIsEnabled) {
  auto a = Make({FormBuilder("F").Child("TNVButton", "CancelBtn", {{"Enabled", "?false"}}).End(), FormBuilder("G").End()});
  platform.user = [](TNVForm &form, FakeView &view) {
    const bool consumed = form.KeyPressed(TNVKey::escape, false, nullptr);
    if (form.FName == "F") {
      EXPECT_FALSE(consumed);
      EXPECT_EQ(view.closeRequests, 0);
      Click(form, "CancelBtn"); // disabled: nothing
      EXPECT_FALSE(view.destroyed);
      Click(form, "ContinueBtn");
    } else {
      EXPECT_TRUE(consumed);
      EXPECT_EQ(view.closeRequests, 1);
    }
  };
  EXPECT_EQ(a->RunModal(0), TNVModalResult::nvmCancel);
  EXPECT_EQ(a->Form(0).GetModalResult(), TNVModalResult::nvmOk);
  EXPECT_EQ(a->Form(1).GetModalResult(), TNVModalResult::nvmCancel);
}

TEST_F(FormProtocol, TabAndEnterMoveTheFocusAroundTheRing) {
  platform.user = [](TNVForm &form, FakeView &view) {
    EXPECT_EQ(view.FocusedName(), "Required") << "the first item after Cancel that takes the focus";
    EXPECT_TRUE(view.selectedAll);
    view.Type("Required", "x");
    form.KeyPressed(TNVKey::tab, false, view.Focused());
    EXPECT_EQ(view.FocusedName(), "Free");
    form.KeyPressed(TNVKey::enter, false, view.Focused()); // a one-line edit: on to the next item
    EXPECT_EQ(view.FocusedName(), "Memo");
    EXPECT_FALSE(form.KeyPressed(TNVKey::enter, false, view.Focused())) << "a line break in the memo";
    EXPECT_EQ(view.FocusedName(), "Memo");
    form.KeyPressed(TNVKey::tab, false, view.Focused());
    EXPECT_EQ(view.FocusedName(), "Box");
    form.KeyPressed(TNVKey::tab, false, view.Focused());
    EXPECT_EQ(view.FocusedName(), "ContinueBtn") << "round the ring";
    form.KeyPressed(TNVKey::tab, false, view.Focused());
    EXPECT_EQ(view.FocusedName(), "CancelBtn") << "the disabled Skip is passed";
    form.KeyPressed(TNVKey::tab, true, view.Focused());
    EXPECT_EQ(view.FocusedName(), "ContinueBtn");
    form.KeyPressed(TNVKey::tab, true, view.Focused());
    EXPECT_EQ(view.FocusedName(), "Box");
    EXPECT_TRUE(form.KeyPressed(TNVKey::enter, false, view.Focused())) << "a check box is no button";
    EXPECT_EQ(view.FocusedName(), "ContinueBtn");
    EXPECT_FALSE(form.CheckBoxNamed("Box")->GetChecked());
    form.KeyPressed(TNVKey::enter, false, view.Focused()); // Enter on a button clicks it
  };
  // Skip disabled by the definition.
  auto a = Make({FormBuilder("Input")
                .Child("TNVButton", "SkipBtn", {{"Enabled", "?false"}})
                .Child("TNVLabel", "Label1", {{"Caption", "your name:"}})
                .Child("TNVEdit", "Required")
                .Child("TNVEdit", "Free", {{"Optional", "?true"}})
                .Child("TNVEdit", "Memo", {{"Lines", "#4"}, {"Optional", "?true"}})
                .Child("TNVCheckBox", "Box")
                .End()});
  EXPECT_EQ(a->RunModal(0), TNVModalResult::nvmOk);
}

TEST_F(FormProtocol, TheActiveControlTakesTheFocusWhenItCan) {
  auto a = Make({FormBuilder("F", "TKXForm", {{"ActiveControl", "ContinueBtn"}}).Child("TNVEdit", "Needed").End()});
  platform.user = [](TNVForm &form, FakeView &view) {
    EXPECT_EQ(view.FocusedName(), "Needed") << "Continue is disabled while the edit is empty";
    Click(form, "CancelBtn");
  };
  a->RunModal(0);
  a->Form(0).EditNamed("Needed")->SetText("filled");
  platform.user = [](TNVForm &form, FakeView &view) {
    EXPECT_EQ(view.FocusedName(), "ContinueBtn");
    EXPECT_FALSE(view.selectedAll);
    Click(form, "ContinueBtn");
  };
  EXPECT_EQ(a->RunModal(0), TNVModalResult::nvmOk) << "a form can run again";
}

TEST_F(FormProtocol, EventsGoToTheFormThenTheAssistantWithTheirOwnExceptionsAndThrowsStayInside) {
  auto a = Make({FormBuilder("F").Child("TNVEdit", "E", {{"Optional", "?true"}}).End()});
  auto formException = reinterpret_cast<IKXException *>(0x1000);
  auto assistantException = reinterpret_cast<IKXException *>(0x2000);
  // Held without ownership: the handlers only pass the pointers on.
  a->Form(0).SetException(std::shared_ptr<IKXException>(formException, [](IKXException *) {}));
  a->SetException(std::shared_ptr<IKXException>(assistantException, [](IKXException *) {}));
  a->Form(0).SetOnAction(&FormHandler);
  a->SetOnAction(&AssistantHandler);
  a->Form(0).EditNamed("E")->SetText("t");
  EXPECT_EQ(gEvents, (std::vector<Event>{{"form", TNVAction::nvaItemEvent, "E", formException},
                                         {"assistant", TNVAction::nvaItemEvent, "E", assistantException}}));
  gEvents.clear();
  a->Form(0).SetOnAction(&ThrowingHandler);
  a->Form(0).RaiseEvent(TNVAction::nvaItemEvent, nullptr);
  EXPECT_EQ(gEvents, (std::vector<Event>{{"assistant", TNVAction::nvaItemEvent, "", assistantException}}));
}

} // namespace
} // namespace kx::test
