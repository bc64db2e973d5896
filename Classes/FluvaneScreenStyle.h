// The look the instrument's own screens share (settings, information,
// sign-in): their background colour, and labels and buttons in white on
// that background. Header-only: a few lines of the UI kit each.
#pragma once

#include <memory>
#include <string>

#include "platform/ui/Controls.h"

namespace FluvaneScreenStyle {

// Opaque: a screen hides what lies under it (the instrument's title, the
// sign-in form under the signed-in view).
inline const platform::ui::Color kScreenColor{0.05, 0.08, 0.16, 1};

inline std::shared_ptr<platform::ui::Label> makeLabel(const platform::ui::Rect& frame,
                                                      const std::string& text,
                                                      const platform::ui::Font& font) {
  auto label = std::make_shared<platform::ui::Label>(frame);
  label->setText(text);
  label->setFont(font);
  label->setTextColor(platform::ui::Color::white());
  return label;
}

inline std::shared_ptr<platform::ui::Button> makeButton(const platform::ui::Rect& frame,
                                                        const std::string& title, int tag) {
  auto button = std::make_shared<platform::ui::Button>(frame);
  button->setTag(tag);
  button->setTitle(title);
  button->setTitleColor(platform::ui::Color::white());
  button->setBackgroundColor(platform::ui::Color{0.2, 0.3, 0.55, 1});
  return button;
}

}  // namespace FluvaneScreenStyle
