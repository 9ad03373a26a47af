#pragma once
// The geometry of a form: the main buttons' sizes and places, the client size, where each item
// goes and the gaps between items, the panel and the step indicator. Text is measured through
// INVFormMeasure, so the arithmetic runs without a window. Pixel values are those of a
// 96-pixels-per-inch screen.
#include <cstdint>
#include <string>

#include "crash/ui/assistant/NVForm.h"

namespace kx {

// The fonts of a form: Tahoma at 11 pixels for the items and plain buttons, Arial at 15 pixels
// for owner-drawn buttons, bold Arial at 15 pixels for the heading and the step numbers.
enum class TNVFont { items, button, heading };

struct TNVSize {
  int32_t cx = 0, cy = 0;
  bool operator==(const TNVSize &) const = default;
};

class INVFormMeasure {
public:
  virtual ~INVFormMeasure() = default;
  // The size of the text on one line.
  virtual TNVSize TextSize(TNVFont font, const std::string &text) = 0;
  // The size of the text word-wrapped within width.
  virtual TNVSize WrappedTextSize(TNVFont font, const std::string &text, int32_t width) = 0;
  // The size of the system's check mark.
  virtual TNVSize CheckMarkSize() = 0;
  virtual int32_t ScreenHeight() = 0;
};

// Sizes and positions are kept within this many pixels, whatever a definition asks for.
inline constexpr int32_t kMaxFormExtent = 32767;

inline constexpr int32_t kItemLeft = 21;
inline constexpr int32_t kItemsTop = 40;
inline constexpr int32_t kMinFormWidth = 315;
inline constexpr int32_t kStepWidth = 19;

// Item 0, 1 or 2: owner-drawn 32 high and the caption (Arial 15) + 20 wide, 85 when the caption
// is at most 64 wide; plain 23 high and the caption (Tahoma 11) + 20 wide, 75 when it is narrower
// than 55; an invisible button is -8 wide, so that it takes no room.
TNVSize MainButtonSize(TNVButton &button, INVFormMeasure &measure);

// A label whose caption ends with ":" or "?" and fits on one line within the width.
bool IsHeadLabel(TNVItem &item, INVFormMeasure &measure, int32_t width);

// The gap below the item at index (3 or more) in a form of the client width.
int32_t GapBelow(TNVForm &form, size_t index, INVFormMeasure &measure, int32_t width);

// Lays the form out: FWidth, FHeight and every item's FRect (the main buttons' too). Images
// without a picture load their File; pictures of another size than their item are zoomed. The
// form counts as laid out afterwards.
void LayoutForm(TNVForm &form, INVFormMeasure &measure);

// Where an item's window goes: an edit's window sits 2 pixels inside its rectangle (the frame
// around it is painted by the form); other items fill theirs.
TNVRect ItemWindowRect(const TNVItem &item);

// The panel behind the items: from (8, 25) to (width - 9, Continue button top - 10).
TNVRect PanelRect(int32_t width, int32_t continueTop);
// The left edge of step number (1 to steps) at the top right; numbers stand at y 4.
int32_t StepNumberLeft(int32_t width, int32_t steps, int32_t number);
// The 20 x 20 box behind the current step's number.
TNVRect StepBoxRect(int32_t width, int32_t steps, int32_t step);

} // namespace kx
