#include "platform/ui/View.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/ui/Animation.h"

namespace platform::ui {

namespace {

bool g_screenChanged = true;

void encode(ViewProperty property, double alpha, Point center, Size size,
            const AffineTransform& t, double* out) {
  switch (property) {
    case ViewProperty::Alpha:
      out[0] = alpha;
      break;
    case ViewProperty::Center:
      out[0] = center.x;
      out[1] = center.y;
      break;
    case ViewProperty::Size:
      out[0] = size.width;
      out[1] = size.height;
      break;
    case ViewProperty::Transform:
      out[0] = t.a, out[1] = t.b, out[2] = t.c, out[3] = t.d, out[4] = t.tx, out[5] = t.ty;
      break;
  }
}

std::string number(double v) {
  char text[32];
  if (std::fabs(v) < 5e-7) v = 0;
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

void dump(const View& view, int depth, std::string& out) {
  out.append(static_cast<std::size_t>(depth) * 2, ' ');
  const Rect f = view.frame();
  out += view.className() + " tag=" + std::to_string(view.tag()) + " (" + number(f.x()) + "," +
         number(f.y()) + "," + number(f.width()) + "," + number(f.height()) +
         ") alpha=" + number(view.alpha());
  if (view.hidden()) out += " hidden";
  const std::string text = view.describe();
  if (!text.empty()) out += " '" + text + "'";
  out += "\n";
  for (const auto& child : view.subviews()) dump(*child, depth + 1, out);
}

}  // namespace

Point Touch::locationIn(const View* v) const { return v ? v->convertFrom(location, nullptr) : location; }

View::View(const Rect& frame) {
  bounds_ = Rect(0, 0, frame.width(), frame.height());
  center_ = {frame.midX(), frame.midY()};
  drawn_.center = center_;
  drawn_.size = bounds_.size;
}

View::~View() {
  for (auto& child : subviews_) child->superview_ = nullptr;
}

bool View::takeScreenChanged() {
  bool changed = g_screenChanged;
  g_screenChanged = false;
  return changed;
}

void View::markScreenChanged() { g_screenChanged = true; }

Rect View::frame() const {
  return Rect(center_.x - bounds_.width() / 2, center_.y - bounds_.height() / 2, bounds_.width(),
              bounds_.height());
}

void View::setFrame(const Rect& frame) {
  setCenter({frame.midX(), frame.midY()});
  if (frame.size != bounds_.size) {
    Rect b = bounds_;
    b.size = frame.size;
    setBounds(b);
  }
}

void View::setBounds(const Rect& bounds) {
  const bool resized = bounds.size != bounds_.size;
  const bool moved = bounds.origin != bounds_.origin;
  const double to[2] = {bounds.width(), bounds.height()};
  bounds_.origin = bounds.origin;
  if (resized) {
    changeProperty(ViewProperty::Size, to);
    contentVersion_++;
    setNeedsLayout();
  }
  if (moved) markScreenChanged();
}

void View::setCenter(Point center) {
  const double to[2] = {center.x, center.y};
  changeProperty(ViewProperty::Center, to);
}

void View::setTransform(const AffineTransform& t) {
  const double to[6] = {t.a, t.b, t.c, t.d, t.tx, t.ty};
  changeProperty(ViewProperty::Transform, to);
}

void View::setAlpha(double alpha) {
  const double to[1] = {std::clamp(alpha, 0.0, 1.0)};
  changeProperty(ViewProperty::Alpha, to);
}

void View::setHidden(bool hidden) {
  if (hidden_ == hidden) return;
  hidden_ = hidden;
  markScreenChanged();
}

void View::setBackgroundColor(Color color) {
  background_ = color;
  setNeedsDisplay();
}

void View::changeProperty(ViewProperty property, const double* to) {
  double from[6];
  drawnValue(property, from);
  switch (property) {
    case ViewProperty::Alpha:
      alpha_ = to[0];
      break;
    case ViewProperty::Center:
      center_ = {to[0], to[1]};
      break;
    case ViewProperty::Size:
      bounds_.size = {to[0], to[1]};
      break;
    case ViewProperty::Transform:
      transform_ = {to[0], to[1], to[2], to[3], to[4], to[5]};
      break;
  }
  Animator::shared().propertyChanged(*this, property, from, to);
  markScreenChanged();
}

void View::setDrawnValue(ViewProperty property, const double* v) {
  switch (property) {
    case ViewProperty::Alpha:
      drawn_.alpha = v[0];
      break;
    case ViewProperty::Center:
      drawn_.center = {v[0], v[1]};
      break;
    case ViewProperty::Size:
      drawn_.size = {v[0], v[1]};
      break;
    case ViewProperty::Transform:
      drawn_.transform = {v[0], v[1], v[2], v[3], v[4], v[5]};
      break;
  }
  markScreenChanged();
}

void View::drawnValue(ViewProperty property, double* out) const {
  encode(property, drawn_.alpha, drawn_.center, drawn_.size, drawn_.transform, out);
}

void View::addSubview(std::shared_ptr<View> view) {
  insertSubview(std::move(view), subviews_.size());
}

void View::insertSubview(std::shared_ptr<View> view, std::size_t index) {
  if (!view || view.get() == this || isDescendantOf(view.get())) return;
  std::shared_ptr<View> keep = view;  // removal must not destroy it
  if (view->superview_ == this) {
    auto at = std::find(subviews_.begin(), subviews_.end(), view);
    std::size_t old = static_cast<std::size_t>(at - subviews_.begin());
    subviews_.erase(at);
    if (old < index) index--;
  } else {
    view->removeFromSuperview();
  }
  index = std::min(index, subviews_.size());
  subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(index), view);
  view->superview_ = this;
  view->didMoveToSuperview();
  markScreenChanged();
}

void View::insertSubviewBelow(std::shared_ptr<View> view, const View* sibling) {
  auto at = std::find_if(subviews_.begin(), subviews_.end(),
                         [sibling](const auto& v) { return v.get() == sibling; });
  if (at == subviews_.end()) {
    addSubview(std::move(view));
    return;
  }
  std::size_t index = static_cast<std::size_t>(at - subviews_.begin());
  insertSubview(std::move(view), index);
}

void View::bringSubviewToFront(const View* view) {
  auto at = std::find_if(subviews_.begin(), subviews_.end(),
                         [view](const auto& v) { return v.get() == view; });
  if (at == subviews_.end()) return;
  std::shared_ptr<View> keep = *at;
  subviews_.erase(at);
  subviews_.push_back(std::move(keep));
  markScreenChanged();
}

void View::removeFromSuperview() {
  View* parent = superview_;
  if (!parent) return;
  auto at = std::find_if(parent->subviews_.begin(), parent->subviews_.end(),
                         [this](const auto& v) { return v.get() == this; });
  superview_ = nullptr;
  markScreenChanged();
  if (at != parent->subviews_.end()) {
    std::shared_ptr<View> keep = std::move(*at);  // released after the erase
    parent->subviews_.erase(at);
  }
}

View* View::root() {
  View* v = this;
  while (v->superview_) v = v->superview_;
  return v;
}

const View* View::root() const {
  const View* v = this;
  while (v->superview_) v = v->superview_;
  return v;
}

bool View::isDescendantOf(const View* view) const {
  for (const View* v = this; v; v = v->superview_) {
    if (v == view) return true;
  }
  return false;
}

View* View::viewWithTag(int tag) {
  if (tag_ == tag) return this;
  for (const auto& child : subviews_) {
    if (View* found = child->viewWithTag(tag)) return found;
  }
  return nullptr;
}

Point View::toSuperview(Point p) const {
  const Point local{p.x - bounds_.midX(), p.y - bounds_.midY()};
  const Point turned = transform_.apply(local);
  return {center_.x + turned.x, center_.y + turned.y};
}

Point View::fromSuperview(Point p) const {
  const Point local = transform_.inverted().apply({p.x - center_.x, p.y - center_.y});
  return {local.x + bounds_.midX(), local.y + bounds_.midY()};
}

Point View::convertTo(Point p, const View* view) const {
  // Up to the root, then down to the view.
  for (const View* v = this; v->superview_; v = v->superview_) p = v->toSuperview(p);
  return view ? view->convertFrom(p, nullptr) : p;
}

Point View::convertFrom(Point p, const View* view) const {
  if (view) p = view->convertTo(p, nullptr);
  std::vector<const View*> chain;
  for (const View* v = this; v->superview_; v = v->superview_) chain.push_back(v);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) p = (*it)->fromSuperview(p);
  return p;
}

bool View::pointInside(Point p) const { return bounds_.contains(p); }

View* View::hitTest(Point p) {
  if (hidden_ || alpha_ < 0.01 || !userInteractionEnabled_ || !pointInside(p)) return nullptr;
  for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
    View* child = it->get();
    if (View* hit = child->hitTest(child->fromSuperview(p))) return hit;
  }
  return this;
}

void View::drawRect(Canvas& canvas, const Rect& bounds) {
  if (background_.a > 0) {
    canvas.setFillColor(background_);
    canvas.fillRect(bounds);
  }
}

void View::setNeedsDisplay() {
  contentVersion_++;
  markScreenChanged();
}

Canvas View::renderContent(double scale) {
  const int w = static_cast<int>(std::ceil(bounds_.width() * scale - 1e-6));
  const int h = static_cast<int>(std::ceil(bounds_.height() * scale - 1e-6));
  Canvas canvas(w, h, scale);
  canvas.translate(-bounds_.x(), -bounds_.y());
  drawRect(canvas, bounds_);
  return canvas;
}

void View::setNeedsLayout() {
  needsLayout_ = true;
  markScreenChanged();
}

void View::layoutIfNeeded() {
  if (needsLayout_) {
    needsLayout_ = false;
    layoutSubviews();
  }
  for (std::size_t i = 0; i < subviews_.size(); i++) subviews_[i]->layoutIfNeeded();
}

std::string dumpViewTree(const View& root) {
  std::string out;
  dump(root, 0, out);
  return out;
}

}  // namespace platform::ui
