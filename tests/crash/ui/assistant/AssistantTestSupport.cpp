#include "tests/crash/ui/assistant/AssistantTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kx::test {

// --- FakeView ----------------------------------------------------------------------------------

void FakeView::Attach(TNVForm &shown) {
  form = &shown;
  for (const std::shared_ptr<TNVItem> &item : shown.ItemList()) {
    if (item->Kind() == TNVItemKind::image)
      continue;
    item->FHandle = TNVWindow(1000 + item->FIndex);
    enabled[item->FHandle] = item->EffectivelyEnabled();
    texts[item->FHandle] =
        item->Kind() == TNVItemKind::edit ? static_cast<TNVEdit &>(*item).FText : item->ShownCaption();
  }
  shown.Handle = 999;
  shown.SetView(this);
}

void FakeView::Type(const std::string &editName, const std::string &text) {
  TNVItem &item = ItemNamed(*form, editName);
  ASSERT_EQ(item.Kind(), TNVItemKind::edit);
  SetItemText(item.FHandle, text);
}

void FakeView::SetItemText(TNVWindow window, const std::string &text) {
  texts[window] = text;
  // An edit tells the form of every change of its text, as its window does.
  if (TNVItem *item = form ? form->ItemOfWindow(window) : nullptr)
    if (item->Kind() == TNVItemKind::edit)
      form->EditChanged(static_cast<TNVEdit &>(*item));
}

bool FakeView::ItemEnabled(TNVWindow window) {
  auto it = enabled.find(window);
  return it == enabled.end() || it->second;
}

void FakeView::CloseRequest() {
  ++closeRequests;
  form->CloseRequested();
  destroyed = true;
}

// --- FakeFormPlatform --------------------------------------------------------------------------

TNVModalResult FakeFormPlatform::RunForm(TNVForm &form, TNVWindow) {
  FakeView view;
  view.Attach(form);
  form.ReevaluateContinue();
  if (TNVItem *first = form.InitialFocus())
    first->Focus();
  if (!form.Showing()) {
    form.WindowGone();
    return form.FModalResult;
  }
  shown.push_back(form.FName);
  if (user)
    user(form, view);
  lastView = view;
  lastView.form = nullptr;
  form.WindowGone();
  return form.FModalResult;
}

TNVItem &ItemNamed(TNVForm &form, const std::string &name) {
  for (const std::shared_ptr<TNVItem> &item : form.ItemList())
    if (item->FName == name)
      return *item;
  throw std::runtime_error("no item " + name);
}

void Click(TNVForm &form, const std::string &name) { form.ItemClicked(ItemNamed(form, name)); }

// --- FakeMeasure -------------------------------------------------------------------------------

TNVSize FakeMeasure::TextSize(TNVFont font, const std::string &text) {
  const int32_t n = int32_t(text.size());
  switch (font) {
  case TNVFont::items:
    return {6 * n, 13};
  case TNVFont::button:
    return {8 * n, 17};
  case TNVFont::heading:
    return {9 * n, 17};
  }
  return {};
}

TNVSize FakeMeasure::WrappedTextSize(TNVFont font, const std::string &text, int32_t width) {
  TNVSize line = TextSize(font, text);
  if (width <= 0 || line.cx <= width)
    return line;
  const int32_t lines = (line.cx + width - 1) / width;
  return {width, line.cy * lines};
}

// --- FakeBitmaps -------------------------------------------------------------------------------

namespace {
struct FakePicture {
  int32_t width, height;
};
FakePicture &Picture(INVBitmap &bitmap) { return *reinterpret_cast<FakePicture *>(&bitmap); }
} // namespace

std::shared_ptr<INVBitmap> FakeBitmaps::Make(int32_t width, int32_t height) {
  return std::shared_ptr<INVBitmap>(reinterpret_cast<INVBitmap *>(new FakePicture{width, height}),
                                    [](INVBitmap *p) { delete reinterpret_cast<FakePicture *>(p); });
}

int32_t FakeBitmaps::Width(INVBitmap &bitmap) { return Picture(bitmap).width; }
int32_t FakeBitmaps::Height(INVBitmap &bitmap) { return Picture(bitmap).height; }

std::shared_ptr<INVBitmap> FakeBitmaps::Zoom(INVBitmap &bitmap, int32_t maxWidth, int32_t maxHeight) {
  ++zooms;
  const int64_t w = Picture(bitmap).width, h = Picture(bitmap).height;
  if (w <= 0 || h <= 0 || maxWidth <= 0 || maxHeight <= 0)
    return nullptr;
  const int64_t hh = maxWidth * h / w, ww = maxHeight * w / h;
  if (hh > maxHeight || ww > maxWidth) {
    if (h * 65536 / maxHeight < w * 65536 / maxWidth)
      return Make(maxWidth, int32_t(hh));
    return Make(int32_t(ww), maxHeight);
  }
  return Make(maxWidth, maxHeight);
}

std::shared_ptr<INVBitmap> FakeBitmaps::LoadFile(const std::string &file) {
  loads.push_back(file);
  auto it = files.find(file);
  return it == files.end() ? nullptr : Make(it->second.first, it->second.second);
}

// --- FormBuilder -------------------------------------------------------------------------------

FormBuilder::FormBuilder(const std::string &name, const std::string &className, const Props &props) {
  FWriter.BeginObject(className, name);
  Write(props);
  FWriter.EndProperties();
}

FormBuilder &FormBuilder::Child(const std::string &className, const std::string &name, const Props &props) {
  FWriter.BeginObject(className, name);
  Write(props);
  FWriter.EndProperties();
  FWriter.EndObject();
  return *this;
}

std::string FormBuilder::End() {
  FWriter.EndObject();
  return FWriter.Bytes();
}

void FormBuilder::Write(const Props &props) {
  for (const auto &[name, value] : props) {
    if (!value.empty() && value[0] == '#')
      FWriter.Integer(name, std::stoi(value.substr(1)));
    else if (!value.empty() && value[0] == '?')
      FWriter.Boolean(name, value == "?true");
    else
      FWriter.String(name, value);
  }
}

std::string ProgramFormStream(const std::string &form) {
#ifdef TIDEWELL_FORM_STREAM_DIR
  std::ifstream in(std::string(TIDEWELL_FORM_STREAM_DIR) + "/" + form + ".nvstream", std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
#else
  (void)form;
  return std::string();
#endif
}

} // namespace kx::test
