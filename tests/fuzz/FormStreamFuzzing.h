#pragma once
// What the form-stream fuzzer does with one input, shared with the regression test that replays
// the kept inputs: read the stream, build an assistant of two forms from it, lay the forms out and
// walk them through focus, keys, clicks, the form cache and a run.
#include <cstdint>
#include <memory>
#include <string>

#include "crash/ui/assistant/AssistantBitmaps.h"
#include "crash/ui/assistant/FormLayout.h"
#include "crash/ui/assistant/FormStream.h"
#include "crash/ui/assistant/NVAssistantObject.h"

namespace kx::fuzz {

// Windows that take the texts they are given; the form's run ends by Continue.
class QuietPlatform final : public INVFormPlatform {
public:
  TNVModalResult RunForm(TNVForm &form, TNVWindow) override {
    form.ReevaluateContinue();
    if (TNVItem *first = form.InitialFocus())
      first->Focus();
    if (!form.Showing())
      return form.FModalResult;
    form.ItemClicked(form.Item(0));
    return form.FModalResult;
  }
  bool ParentEnabled(TNVWindow) override { return true; }
  void EnableParent(TNVWindow, bool) override {}
  void ShowMessage(const std::string &, const std::string &) override {}
  TNVActionHandler FindHandler(const std::string &, const std::string &) override { return nullptr; }
};

class FixedMeasure final : public INVFormMeasure {
public:
  TNVSize TextSize(TNVFont, const std::string &text) override { return {int32_t(text.size() % 100000) * 7, 13}; }
  TNVSize WrappedTextSize(TNVFont font, const std::string &text, int32_t width) override {
    TNVSize line = TextSize(font, text);
    if (width <= 0 || line.cx <= width)
      return line;
    return {width, int32_t((line.cx / width + 1) * line.cy)};
  }
  TNVSize CheckMarkSize() override { return {13, 13}; }
  int32_t ScreenHeight() override { return 768; }
};

// Pictures that are only a size; a file's picture takes its size from the file name.
class SizedBitmaps final : public IKXAssistantBitmaps {
public:
  struct Picture {
    int32_t width, height;
  };
  static std::shared_ptr<INVBitmap> Make(int32_t w, int32_t h) {
    return std::shared_ptr<INVBitmap>(reinterpret_cast<INVBitmap *>(new Picture{w, h}),
                                      [](INVBitmap *p) { delete reinterpret_cast<Picture *>(p); });
  }
  static Picture &Of(INVBitmap &b) { return *reinterpret_cast<Picture *>(&b); }
  int32_t Width(INVBitmap &b) override { return Of(b).width; }
  int32_t Height(INVBitmap &b) override { return Of(b).height; }
  std::shared_ptr<INVBitmap> Zoom(INVBitmap &, int32_t maxWidth, int32_t maxHeight) override {
    return maxWidth > 0 && maxHeight > 0 ? Make(maxWidth, maxHeight) : nullptr;
  }
  std::shared_ptr<INVBitmap> LoadFile(const std::string &file) override {
    if (file.empty() || file[0] == 'x')
      return nullptr;
    return Make(int32_t(file.size() * 97 % 5000), int32_t(uint8_t(file[0])) * 13);
  }
  void Draw(INVBitmap &, std::uintptr_t, int32_t, int32_t) override {}
};

inline void FuzzFormStream(const uint8_t *data, size_t size) {
  const std::string bytes(reinterpret_cast<const char *>(data), size);
  TNVStreamContent content = ReadFormStream(bytes);
  if (!content.signature && (!content.objects.empty() || !content.failure.empty()))
    __builtin_trap(); // without the signature nothing is read

  SetAssistantBitmaps(std::make_shared<SizedBitmaps>());
  QuietPlatform platform;
  FixedMeasure measure;
  std::shared_ptr<TNVAssistant> assistant = CreateAssistant("Fuzz", nullptr, {bytes, bytes}, platform);
  for (int32_t f = 0; f < assistant->GetFormCount(); ++f) {
    TNVForm &form = assistant->Form(size_t(f));
    LayoutForm(form, measure);
    if (form.FWidth > kMaxFormExtent || form.FHeight > kMaxFormExtent)
      __builtin_trap();
    const auto &items = form.ItemList();
    for (size_t i = 0; i < items.size(); ++i) {
      // Every step below looks through the whole form; of a form with thousands of items only the
      // first and the last 64 are walked, so that the time an input takes stays linear in its size.
      if (i >= 64 && i + 64 < items.size())
        continue;
      const std::shared_ptr<TNVItem> &item = items[i];
      form.NextFocusable(*item, false);
      form.NextFocusable(*item, true);
      form.KeyPressed(TNVKey::tab, false, item.get());
      form.KeyPressed(TNVKey::enter, false, item.get());
      if (item->FIndex > 2)
        form.ItemClicked(*item);
      form.ClickableImageAt(item->FRect.left, item->FRect.top);
      (void)form.EditNamed(item->FName);
      (void)form.ImageNamed(item->FName);
    }
    form.KeyPressed(TNVKey::escape, false, nullptr);
    (void)assistant->FormNamed(form.FName);
  }
  assistant->RunModal(0);
  IKXAssistantForms &forms = *AssistantForms(*assistant);
  for (int f = 0; f < forms.FormCount(); ++f)
    for (int i = 0; i < forms.ItemCount(f); ++i) {
      forms.SetEditText(f, i, forms.EditText(f, i) + "x");
      forms.SetChecked(f, i, !forms.Checked(f, i));
    }
  SetAssistantBitmaps(nullptr);
}

} // namespace kx::fuzz
