#include "platform/ui/Automation.h"

#include <algorithm>
#include <cmath>

namespace platform::ui {

void Automation::touch(const std::vector<TouchInput>& touches) {
  app_.dispatchTouches(touches);
  app_.step();
}

void Automation::tap(double x, double y, int tapCount) {
  touch({{1, TouchPhase::Began, {x, y}, tapCount}});
  touch({{1, TouchPhase::Ended, {x, y}, tapCount}});
}

void Automation::doubleTap(double x, double y) {
  tap(x, y, 1);
  tap(x, y, 2);
}

void Automation::drag(Point from, Point to, int steps) {
  steps = std::max(1, steps);
  touch({{1, TouchPhase::Began, from, 1}});
  for (int i = 1; i <= steps; i++) {
    const double t = static_cast<double>(i) / steps;
    touch({{1, TouchPhase::Moved, {from.x + (to.x - from.x) * t, from.y + (to.y - from.y) * t}, 1}});
  }
  touch({{1, TouchPhase::Ended, to, 1}});
}

void Automation::advance(double seconds) {
  app_.step();
  double left = std::max(0.0, seconds);
  while (left > 1e-12) {
    const double step = std::min(left, 1.0 / 60);
    app_.advanceClock(step);
    left -= step;
    app_.step();
  }
}

std::string Automation::viewTree() const { return dumpViewTree(app_.window()); }

View* Automation::findByTag(int tag) const {
  for (const auto& child : app_.window().subviews()) {
    if (View* found = child->viewWithTag(tag)) return found;
  }
  return nullptr;
}

std::vector<AlertInfo> Automation::alerts() const {
  std::vector<AlertInfo> infos;
  for (AlertView* alert : app_.alerts()) {
    AlertInfo info;
    info.kind = alert->style() == AlertStyle::Alert ? "alert" : "sheet";
    info.title = alert->title();
    info.message = alert->message();
    info.buttons = alert->buttonTitles();
    info.cancelIndex = alert->cancelButtonIndex();
    infos.push_back(std::move(info));
  }
  return infos;
}

bool Automation::answer(int index) {
  AlertView* alert = app_.topAlert();
  const bool done = alert && alert->dismissWithButton(index);
  app_.step();
  return done;
}

void Automation::escape() {
  app_.keyEscape();
  app_.step();
}

void Automation::enter() {
  app_.keyReturn();
  app_.step();
}

void Automation::typeText(const std::string& text) {
  app_.textInput(text);
  app_.step();
}

void Automation::backspace() {
  app_.keyBackspace();
  app_.step();
}

std::vector<std::uint8_t> Automation::frame() {
  app_.step();
  return app_.frame();
}

std::vector<std::uint8_t> Automation::frameAt1x() {
  std::vector<std::uint8_t> big = frame();
  const int s = static_cast<int>(std::lround(app_.scale()));
  if (s <= 1 || big.empty()) return big;
  const int w = 320, h = 480, bw = w * s;
  std::vector<std::uint8_t> small(static_cast<std::size_t>(w) * h * 4);
  for (int y = 0; y < h; y++) {
    for (int x = 0; x < w; x++) {
      for (int c = 0; c < 4; c++) {
        int sum = 0;
        for (int dy = 0; dy < s; dy++) {
          for (int dx = 0; dx < s; dx++) {
            sum += big[(static_cast<std::size_t>(y * s + dy) * bw + (x * s + dx)) * 4 + c];
          }
        }
        small[(static_cast<std::size_t>(y) * w + x) * 4 + c] =
            static_cast<std::uint8_t>((sum + s * s / 2) / (s * s));
      }
    }
  }
  return small;
}

std::array<int, 4> Automation::pixel(const std::vector<std::uint8_t>& frame, int width, int x,
                                     int y) {
  const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 4;
  if (x < 0 || y < 0 || x >= width || at + 3 >= frame.size()) return {-1, -1, -1, -1};
  return {frame[at], frame[at + 1], frame[at + 2], frame[at + 3]};
}

}  // namespace platform::ui
