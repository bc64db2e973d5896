// Probes of what the instrument's screens show, without golden images (text
// depends on the font library's version):
//  - overflowingText(): the views of a tree whose one line of text is wider
//    than the room they give it (labels of one line, buttons' titles, text
//    fields' text or placeholder), each as "text: needs W, has R" in
//    points at a scale;
//  - onScreen(): a view's frame in window points;
//  - covered(): whether a view is hidden from sight under an opaque one
//    that stands above it in the tree.
#ifndef TESTS_CLASSES_UI_SCREEN_PROBE_SUPPORT_H
#define TESTS_CLASSES_UI_SCREEN_PROBE_SUPPORT_H

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "platform/ui/Controls.h"
#include "platform/ui/Font.h"
#include "platform/ui/View.h"

namespace probe {

inline platform::ui::Rect onScreen(const platform::ui::View& v) {
  const platform::ui::Rect b = v.bounds();
  const platform::ui::Point a = v.convertTo(platform::ui::Point{b.x(), b.y()}, nullptr);
  const platform::ui::Point z =
      v.convertTo(platform::ui::Point{b.x() + b.width(), b.y() + b.height()}, nullptr);
  return platform::ui::Rect(std::min(a.x, z.x), std::min(a.y, z.y), std::abs(z.x - a.x),
                            std::abs(z.y - a.y));
}

inline void collectOverflows(const platform::ui::View& v, double scale,
                             std::vector<std::string>& found) {
  namespace ui = platform::ui;
  const auto check = [&](const std::string& text, const ui::Font& font, double room) {
    if (text.empty()) return;
    const double needs = font.measure(text, scale).width;
    if (needs > room + 0.5) {
      found.push_back(text + ": needs " + std::to_string(static_cast<int>(std::ceil(needs))) +
                      ", has " + std::to_string(static_cast<int>(room)));
    }
  };
  if (!v.hidden()) {
    const double width = v.bounds().width();
    if (const auto* label = dynamic_cast<const ui::Label*>(&v)) {
      if (label->numberOfLines() == 1) check(label->text(), label->font(), width);
    } else if (const auto* field = dynamic_cast<const ui::TextField*>(&v)) {
      // The field's text starts 4 points in.
      check(field->displayText().empty() ? field->placeholder() : field->displayText(),
            field->font(), width - 4);
    } else if (const auto* button = dynamic_cast<const ui::Button*>(&v)) {
      check(button->currentTitle(), button->titleFont(scale), button->titleRoom().width());
    }
  }
  for (const auto& child : v.subviews()) collectOverflows(*child, scale, found);
}

inline std::vector<std::string> overflowingText(const platform::ui::View& root, double scale) {
  std::vector<std::string> found;
  collectOverflows(root, scale, found);
  return found;
}

}  // namespace probe

#endif  // TESTS_CLASSES_UI_SCREEN_PROBE_SUPPORT_H
