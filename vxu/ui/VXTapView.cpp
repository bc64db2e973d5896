#include "vxu/ui/VXTapView.h"

using namespace platform::ui;

void VXTapView::touchesEnded(const Touches& touches) {
  if (!touches.empty() && touches.front()->tapCount > 0 && delegate) delegate->tapViewTapped(this);
}

void VXPickerTextField::touchesBegan(const Touches& touches) {
  if (touches.empty()) return;
  setHighlighted(bounds().contains(touches.front()->locationIn(this)));
}

void VXPickerTextField::touchesEnded(const Touches&) {
  setHighlighted(false);
  sendActionsForControlEvents(kTouchUpInside);
}

void VXPickerTextField::touchesCancelled(const Touches&) { setHighlighted(false); }
