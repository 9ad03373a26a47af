#include "crash/ui/assistant/FormLayout.h"

#include <algorithm>

#include "crash/ui/assistant/AssistantBitmaps.h"

namespace kx {

namespace {

int32_t Extent(int64_t value) { return int32_t(std::clamp<int64_t>(value, -kMaxFormExtent, kMaxFormExtent)); }

TNVRect PlacedRect(int64_t left, int64_t top, int64_t width, int64_t height) {
  return {Extent(left), Extent(top), Extent(left + width), Extent(top + height)};
}

TNVButton &MainButton(TNVForm &form, size_t index) { return static_cast<TNVButton &>(form.Item(index)); }

// Places the item at the running top; returns the height by which the top moves down.
int32_t PlaceItem(TNVItem &item, int32_t top, int32_t width, INVFormMeasure &measure) {
  switch (item.Kind()) {
  case TNVItemKind::label: {
    const TNVSize size = measure.WrappedTextSize(TNVFont::items, item.ShownCaption(), width - 46);
    item.FRect = PlacedRect(kItemLeft, int64_t(top) - 2, size.cx, size.cy);
    return size.cy;
  }
  case TNVItemKind::edit: {
    auto &edit = static_cast<TNVEdit &>(item);
    int64_t line = measure.TextSize(TNVFont::items, "Gg").cy;
    if (line <= 0)
      line = 13;
    const int64_t height = line * (edit.FLines > 1 ? edit.FLines : 1) + 2;
    // The window is width - 46 wide at 2 pixels in; the rectangle holds the painted frame too.
    item.FRect = PlacedRect(kItemLeft, top, int64_t(width) - 46 + 4, height + 4);
    return item.FRect.Height();
  }
  case TNVItemKind::checkBox: {
    const TNVSize caption = measure.TextSize(TNVFont::items, item.ShownCaption());
    const TNVSize mark = measure.CheckMarkSize();
    item.FRect = PlacedRect(kItemLeft, top, int64_t(caption.cx) + mark.cx + 8, std::max(caption.cy, mark.cy));
    return item.FRect.Height();
  }
  case TNVItemKind::button: {
    auto &button = static_cast<TNVButton &>(item);
    const TNVSize caption = measure.TextSize(TNVFont::items, button.ShownCaption());
    const int64_t w = std::max<int64_t>({int64_t(caption.cx) + 32, 70, button.FMinWidth});
    item.FRect = PlacedRect(kItemLeft, top, w, int64_t(caption.cy) + 10);
    return item.FRect.Height();
  }
  case TNVItemKind::image: {
    auto &image = static_cast<TNVImage &>(item);
    std::shared_ptr<IKXAssistantBitmaps> bitmaps = AssistantBitmaps();
    if (!image.FBitmap && !image.FFile.empty() && bitmaps)
      image.FBitmap = bitmaps->LoadFile(image.FFile);
    const int32_t extras = image.Extras();
    const int32_t bw = image.FBitmap && bitmaps ? bitmaps->Width(*image.FBitmap) : 0;
    const int32_t bh = image.FBitmap && bitmaps ? bitmaps->Height(*image.FBitmap) : 0;
    int32_t w = image.FWidthWanted > 0 ? image.FWidthWanted : bw > 0 ? bw : 32;
    int32_t h = image.FHeightWanted > 0 ? image.FHeightWanted : bh > 0 ? bh : 32;
    w = std::max(1, std::min(w, width - 42 - extras));
    h = std::max(1, std::min(h, measure.ScreenHeight() / 3));
    if (image.FBitmap && bitmaps && (bw != w || bh != h)) {
      if (std::shared_ptr<INVBitmap> zoomed = bitmaps->Zoom(*image.FBitmap, w, h)) {
        image.FBitmap = zoomed;
        w = std::clamp(bitmaps->Width(*zoomed), 0, kMaxFormExtent);
        h = std::clamp(bitmaps->Height(*zoomed), 0, kMaxFormExtent);
      }
    }
    item.FRect = PlacedRect(kItemLeft, top, int64_t(w) + extras, int64_t(h) + extras);
    return item.FRect.Height();
  }
  }
  return 0;
}

} // namespace

TNVSize MainButtonSize(TNVButton &button, INVFormMeasure &measure) {
  if (!button.FNoOwnerDraw) {
    const int32_t caption = measure.TextSize(TNVFont::button, button.ShownCaption()).cx;
    return {button.FInvisible ? -8 : caption <= 64 ? 85 : Extent(int64_t(caption) + 20), 32};
  }
  const int32_t caption = measure.TextSize(TNVFont::items, button.ShownCaption()).cx;
  return {button.FInvisible ? -8 : caption < 55 ? 75 : Extent(int64_t(caption) + 20), 23};
}

bool IsHeadLabel(TNVItem &item, INVFormMeasure &measure, int32_t width) {
  if (item.Kind() != TNVItemKind::label)
    return false;
  const std::string caption = item.ShownCaption();
  if (caption.empty() || (caption.back() != ':' && caption.back() != '?'))
    return false;
  return measure.WrappedTextSize(TNVFont::items, caption, width - 46).cy == measure.TextSize(TNVFont::items, caption).cy;
}

int32_t GapBelow(TNVForm &form, size_t index, INVFormMeasure &measure, int32_t width) {
  const auto &items = form.ItemList();
  TNVItem &item = *items[index];
  if (item.FSpacing != 0)
    return item.FSpacing;
  if (index + 1 >= items.size())
    return 0;
  if (IsHeadLabel(item, measure, width))
    return 4;
  TNVItem &next = *items[index + 1];
  if (next.Kind() == item.Kind()) {
    switch (item.Kind()) {
    case TNVItemKind::button:
      return 4;
    case TNVItemKind::edit:
      return 6;
    default:
      return 8;
    }
  }
  if (index >= 1 && index + 2 < items.size() && IsHeadLabel(next, measure, width) &&
      IsHeadLabel(*items[index - 1], measure, width) && items[index + 2]->Kind() == item.Kind())
    return 8;
  return 12;
}

void LayoutForm(TNVForm &form, INVFormMeasure &measure) {
  if (form.ItemList().size() < 3)
    return;
  TNVSize sizes[3];
  int32_t buttonHeight = 0;
  int64_t width = 32;
  for (size_t i = 0; i < 3; ++i) {
    sizes[i] = MainButtonSize(MainButton(form, i), measure);
    width += sizes[i].cx;
    if (!MainButton(form, i).FInvisible)
      buttonHeight = std::max(buttonHeight, sizes[i].cy);
  }
  width = std::max<int64_t>({width, kMinFormWidth, form.MinWidth,
                             int64_t(measure.TextSize(TNVFont::heading, form.FMessage).cx) +
                                 int64_t(kStepWidth) * form.FSteps + 36});
  const int32_t w = Extent(width);
  form.FWidth = w;

  const auto &items = form.ItemList();
  int32_t top = kItemsTop;
  for (size_t i = 3; i < items.size(); ++i) {
    const int32_t height = PlaceItem(*items[i], top, w, measure);
    top = Extent(int64_t(top) + height + GapBelow(form, i, measure, w));
  }
  form.FHeight = Extent(int64_t(buttonHeight) + top + 33);

  // The main buttons stand 9 pixels above the bottom edge.
  TNVButton &continueButton = MainButton(form, 0), &skipButton = MainButton(form, 1), &cancelButton = MainButton(form, 2);
  int64_t left[3];
  if (continueButton.FNoOwnerDraw && cancelButton.FNoOwnerDraw && skipButton.FInvisible) {
    left[2] = int64_t(w) - sizes[2].cx - 8;
    left[0] = left[2] - 8 - sizes[0].cx;
    left[1] = 8;
  } else {
    left[0] = 8;
    left[1] = 8 + int64_t(sizes[0].cx) + 8;
    left[2] = int64_t(w) - sizes[2].cx - 8;
  }
  for (size_t i = 0; i < 3; ++i)
    items[i]->FRect = PlacedRect(left[i], int64_t(form.FHeight) - 9 - sizes[i].cy, sizes[i].cx, sizes[i].cy);
  form.FLaidOut = true;
}

TNVRect ItemWindowRect(const TNVItem &item) {
  return item.Kind() == TNVItemKind::edit ? item.FRect.Inflated(-2) : item.FRect;
}

TNVRect PanelRect(int32_t width, int32_t continueTop) { return {8, 25, width - 9, continueTop - 10}; }

int32_t StepNumberLeft(int32_t width, int32_t steps, int32_t number) {
  return Extent(int64_t(width) - int64_t(kStepWidth) * steps - 3 + int64_t(kStepWidth) * (number - 1));
}

TNVRect StepBoxRect(int32_t width, int32_t steps, int32_t step) {
  const int64_t left = int64_t(width) - int64_t(kStepWidth) * (int64_t(steps) - step) - 29;
  return PlacedRect(left, 2, 20, 20);
}

} // namespace kx
