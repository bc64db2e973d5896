#include "platform/ui/Toolbar.h"

#include <algorithm>

namespace platform::ui {

void BarItem::changed() {
  if (toolbar_) toolbar_->setNeedsDisplay();
}

void BarItem::setEnabled(bool on) {
  enabled_ = on;
  changed();
}

void BarItem::setTitle(const std::string& title) {
  title_ = title;
  changed();
}

void BarItem::setImage(ImageRef image) {
  image_ = std::move(image);
  changed();
}

void BarItem::setWidth(double width) {
  width_ = std::max(0.0, width);
  changed();
}

void BarItem::trigger() {
  if (enabled_ && action_) {
    Action action = action_;  // the item may go while its action runs
    action(*this);
  }
}

Toolbar::Toolbar(const Rect& frame) : View(frame) {}

Toolbar::~Toolbar() {
  for (auto& item : items_) item->toolbar_ = nullptr;
}

std::string Toolbar::describe() const {
  std::string text;
  for (const auto& item : items_) {
    if (!text.empty()) text += "|";
    text += std::to_string(item->tag()) + ":" + item->title() + (item->enabled() ? "" : "(off)");
  }
  return text;
}

void Toolbar::setItems(std::vector<std::shared_ptr<BarItem>> items) {
  for (auto& item : items_) item->toolbar_ = nullptr;
  items_ = std::move(items);
  for (auto& item : items_) item->toolbar_ = this;
  tracked_ = highlighted_ = -1;
  setNeedsDisplay();
}

void Toolbar::setTintColor(Color color) {
  tint_ = color;
  setNeedsDisplay();
}

Rect Toolbar::itemRect(std::size_t index) const {
  if (index >= items_.size()) return Rect();
  double fixed = 0;
  int flexible = 0;
  for (const auto& item : items_) {
    if (item->width() > 0) {
      fixed += item->width();
    } else {
      flexible++;
    }
  }
  const double share = flexible > 0 ? std::max(0.0, bounds().width() - fixed) / flexible : 0;
  double x = bounds().minX();
  for (std::size_t i = 0; i < index; i++) x += items_[i]->width() > 0 ? items_[i]->width() : share;
  const double w = items_[index]->width() > 0 ? items_[index]->width() : share;
  return Rect(x, bounds().minY(), w, bounds().height());
}

int Toolbar::itemAt(Point p) const {
  for (std::size_t i = 0; i < items_.size(); i++) {
    if (itemRect(i).contains(p)) return static_cast<int>(i);
  }
  return -1;
}

void Toolbar::drawRect(Canvas& canvas, const Rect& bounds) {
  View::drawRect(canvas, bounds);
  canvas.setFillColor(tint_);
  canvas.fillRect(bounds);
  for (std::size_t i = 0; i < items_.size(); i++) {
    const BarItem& item = *items_[i];
    const Rect r = itemRect(i);
    const Color ink = item.enabled() ? Color::white() : Color{0.5, 0.5, 0.5, 1};
    if (static_cast<int>(i) == highlighted_) {
      canvas.setFillColor(Color::white(0.25));
      canvas.fillRect(r.insetBy(2, 4));
    }
    if (ImageRef img = item.image(); img && img->width > 0) {
      const double s = std::min((r.width() - 4) / img->width, (r.height() - 8) / img->height);
      const double w = img->width * s, h = img->height * s;
      canvas.save();
      canvas.setAlpha(item.enabled() ? 1.0 : 0.4);
      canvas.drawImage(img->pixels.data(), img->width, img->height,
                       Rect(r.midX() - w / 2, r.midY() - h / 2, w, h));
      canvas.restore();
    } else if (!item.title().empty()) {
      const Size size = font_.measure(item.title(), canvas.scale());
      canvas.drawText(item.title(), font_,
                      {r.midX() - size.width / 2, r.midY() - size.height / 2}, ink);
    }
  }
}

void Toolbar::touchesBegan(const Touches& touches) {
  if (touches.empty()) return;
  tracked_ = itemAt(touches.front()->locationIn(this));
  if (tracked_ >= 0 && !items_[static_cast<std::size_t>(tracked_)]->enabled()) tracked_ = -1;
  highlighted_ = tracked_;
  setNeedsDisplay();
}

void Toolbar::touchesMoved(const Touches& touches) {
  if (touches.empty() || tracked_ < 0) return;
  const int over = itemAt(touches.front()->locationIn(this));
  const int next = over == tracked_ ? tracked_ : -1;
  if (next != highlighted_) {
    highlighted_ = next;
    setNeedsDisplay();
  }
}

void Toolbar::touchesEnded(const Touches& touches) {
  if (touches.empty()) return;
  const int began = tracked_;
  const int over = itemAt(touches.front()->locationIn(this));
  tracked_ = highlighted_ = -1;
  setNeedsDisplay();
  if (began >= 0 && over == began) {
    std::shared_ptr<BarItem> item = items_[static_cast<std::size_t>(began)];
    item->trigger();
  }
}

void Toolbar::touchesCancelled(const Touches&) {
  tracked_ = highlighted_ = -1;
  setNeedsDisplay();
}

}  // namespace platform::ui
