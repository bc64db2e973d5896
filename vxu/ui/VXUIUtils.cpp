#include "vxu/ui/VXUIUtils.h"

#include <algorithm>

#include "platform/ui/Controls.h"
#include "vxu/ui/VXButtonPicker.h"

using namespace platform::ui;

const char* const kOpenSubViewAnimation = "kOpenSubViewAnimation";

VXSubItem getSubItemWithTag(View* view, int tag) {
  if (!view) return {};
  if (view->tag() == tag) return {view, nullptr};
  if (auto* bar = dynamic_cast<Toolbar*>(view)) {
    for (const auto& item : bar->items()) {
      if (item->tag() == tag) return {nullptr, item.get()};
    }
  }
  for (const auto& child : view->subviews()) {
    if (VXSubItem found = getSubItemWithTag(child.get(), tag)) return found;
  }
  return {};
}

void updateUIBarItem(View* container, int tag, bool enabled,
                     const std::optional<std::string>& imageName) {
  VXSubItem found = getSubItemWithTag(container, tag);
  if (!found.item) return;
  found.item->setEnabled(enabled);
  if (imageName) found.item->setImage(resourceImage(*imageName));
}

void openSubView(const std::shared_ptr<View>& view, View* parent, const View* sibling,
                 bool animated) {
  if (!view || !parent) return;
  if (sibling && sibling->superview() == parent) {
    parent->insertSubviewBelow(view, sibling);
  } else {
    parent->addSubview(view);
  }
  view->setHidden(false);
  view->setAlpha(0);
  view->setExclusiveTouch(true);
  if (animated) {
    Animator& animator = Animator::shared();
    animator.beginAnimations(kOpenSubViewAnimation);
    animator.setAnimationDuration(0.75);
    animator.setAnimationCurve(AnimationCurve::EaseInOut);
    view->setAlpha(1);
    animator.commitAnimations();
  } else {
    view->setAlpha(1);
  }
}

void closeSubView(View* view, Animator::DidStop didStop) {
  if (!view) return;
  if (didStop) {
    Animator& animator = Animator::shared();
    animator.beginAnimations(kOpenSubViewAnimation, view);
    animator.setAnimationDuration(0.5);
    animator.setAnimationCurve(AnimationCurve::EaseInOut);
    animator.setAnimationDidStop(std::move(didStop));
    view->setAlpha(0);
    animator.commitAnimations();
  } else {
    view->setAlpha(0);
  }
}

void drawRoundedRect(Canvas& canvas, const Rect& rect, double radius, double lineWidth,
                     PathMode mode, int cornerMask) {
  canvas.setLineWidth(lineWidth);
  canvas.setShouldAntialias(true);
  const Rect r = rect.insetBy(lineWidth, lineWidth);
  canvas.beginPath();
  if (radius <= 0) {
    canvas.addRect(r);
  } else {
    const double most = std::min(r.width(), r.height()) / 2;
    const double rad = std::min(radius, most);
    auto corner = [&](int bit) { return (cornerMask & bit) ? rad : 0.0; };
    canvas.moveTo(r.minX(), r.midY());
    canvas.arcTo(r.minX(), r.minY(), r.midX(), r.minY(), corner(1));
    canvas.arcTo(r.maxX(), r.minY(), r.maxX(), r.midY(), corner(2));
    canvas.arcTo(r.maxX(), r.maxY(), r.midX(), r.maxY(), corner(8));
    canvas.arcTo(r.minX(), r.maxY(), r.minX(), r.midY(), corner(4));
    canvas.closePath();
  }
  canvas.drawPath(mode);
}

void VXMainView::receiveMsg(int code) {
  if (msgDelegate) msgDelegate->receiveMsg(code);
}

View* VXNoTouchView::hitTest(Point p) {
  View* hit = View::hitTest(p);
  if (hit && dynamic_cast<VXButtonPicker*>(hit)) return hit;
  if (msgDelegate) msgDelegate->receiveMsg(kVXMsgTouchOutsidePicker);
  return hit;
}
