#include "platform/ui/ActivityIndicator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/RunLoop.h"

namespace platform::ui {

namespace {
constexpr double kPi = std::numbers::pi;
}

ActivityIndicator::ActivityIndicator(const Rect& frame) : View(frame) {
  setUserInteractionEnabled(false);
  setHidden(true);
}

ActivityIndicator::~ActivityIndicator() {
  if (timer_) RunLoop::main().cancel(timer_);
}

std::string ActivityIndicator::describe() const {
  return isAnimating() ? "animating" : "stopped";
}

void ActivityIndicator::startAnimating() {
  if (timer_) return;
  setHidden(false);
  // The timer is cancelled before the view goes, so it may hold it plainly.
  timer_ = RunLoop::main().addTimer(kStepSeconds, true, [this] {
    lead_ = (lead_ + 1) % kSpokes;
    setNeedsDisplay();
  });
  setNeedsDisplay();
}

void ActivityIndicator::stopAnimating() {
  if (!timer_) return;
  RunLoop::main().cancel(timer_);
  timer_ = 0;
  setHidden(true);
  setNeedsDisplay();
}

void ActivityIndicator::setColor(Color color) {
  color_ = color;
  setNeedsDisplay();
}

void ActivityIndicator::drawRect(Canvas& canvas, const Rect& bounds) {
  const double side = std::min(bounds.width(), bounds.height());
  if (side <= 0) return;
  const double cx = bounds.midX(), cy = bounds.midY();
  const double outer = side / 2 - side / 16, inner = side / 4;
  canvas.setShouldAntialias(true);
  canvas.setLineWidth(std::max(1.0, side / 12));
  for (int i = 0; i < kSpokes; i++) {
    // Brightest at the lead, fading over the spokes behind it.
    const int behind = (lead_ - i + kSpokes) % kSpokes;
    Color c = color_;
    c.a *= 1.0 - 0.75 * behind / (kSpokes - 1);
    const double a = 2 * kPi * i / kSpokes;
    const double sx = std::sin(a), sy = -std::cos(a);
    canvas.setStrokeColor(c);
    canvas.beginPath();
    canvas.moveTo(cx + inner * sx, cy + inner * sy);
    canvas.lineTo(cx + outer * sx, cy + outer * sy);
    canvas.drawPath(PathMode::Stroke);
  }
}

}  // namespace platform::ui
