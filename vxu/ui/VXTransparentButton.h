// A translucent rounded button that the framework draws itself: its
// rectangle through drawRoundedRect (radius 7, line width 2, fill white at
// 0.1, stroke white at 0.7, fill and stroke, all four corners by default),
// then the title over it. The disabled title is gray.
//
// Threads: main thread only.
#ifndef VXU_UI_VXTRANSPARENTBUTTON_H
#define VXU_UI_VXTRANSPARENTBUTTON_H

#include "platform/ui/Controls.h"

class VXTransparentButton : public platform::ui::Button {
 public:
  explicit VXTransparentButton(const platform::ui::Rect& frame = platform::ui::Rect());
  std::string className() const override { return "VXTransparentButton"; }
  void drawRect(platform::ui::Canvas& canvas, const platform::ui::Rect& bounds) override;
  void setDefaultValues();

  double radius = 7;
  double lineWidth = 2;
  platform::ui::Color fillColor = platform::ui::Color::white(0.1);
  platform::ui::Color strokeColor = platform::ui::Color::white(0.7);
  platform::ui::PathMode drawMode = platform::ui::PathMode::FillStroke;
  int roundedCorners = 15;
};

#endif
