#include "vxu/ui/VXTransparentButton.h"

#include "vxu/ui/VXUIUtils.h"

using namespace platform::ui;

VXTransparentButton::VXTransparentButton(const Rect& frame) : Button(frame) { setDefaultValues(); }

void VXTransparentButton::setDefaultValues() {
  radius = 7;
  lineWidth = 2;
  fillColor = Color::white(0.1);
  strokeColor = Color::white(0.7);
  drawMode = PathMode::FillStroke;
  roundedCorners = 15;
  setTitleColor(Color::gray(), ControlState::Disabled);
  setNeedsDisplay();
}

void VXTransparentButton::drawRect(Canvas& canvas, const Rect& bounds) {
  View::drawRect(canvas, bounds);
  canvas.save();
  canvas.setFillColor(fillColor);
  canvas.setStrokeColor(strokeColor);
  drawRoundedRect(canvas, bounds, radius, lineWidth, drawMode, roundedCorners);
  canvas.restore();
  drawImageAndTitle(canvas, bounds);
}
