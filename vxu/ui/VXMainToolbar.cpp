#include "vxu/ui/VXMainToolbar.h"

#include <numbers>

#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "vxu/ui/VXAppDelegate.h"
#include "vxu/VXLog.h"

using namespace platform::ui;

namespace {

constexpr double kPi = std::numbers::pi;

int statusBarOrientation() {
  Application* app = Application::shared();
  return app ? app->statusBarOrientation() : 1;
}

Rect mainScreen() { return Rect(0, 0, Application::kScreenWidth, Application::kScreenHeight); }

}  // namespace

VXMainToolbar::VXMainToolbar(const Rect& frame) : ImageView(frame) {}

View* VXMainToolbar::hitTest(Point p) {
  View* hit = View::hitTest(p);
  return hit == this ? nullptr : hit;
}

void VXMainToolbar::awakeFromNib() {
  nameForStats.reset();
  isAnimated = true;
  isReceivingMsg = false;
  isExpanded = false;
  expandMode = 0;
  orientation = statusBarOrientation();
  if (expandedToolBar) setUILocation(2);
}

void VXMainToolbar::toolbarButtonPressed(int tag) {
  if (nameForStats) {
    if (VXAppDelegate* app = VXAppDelegate::getAppDelegate()) {
      if (VXUserStats* stats = app->getStats()) {
        stats->trackFeatureByName(*nameForStats + std::to_string(tag));
      }
    }
  }
  isReceivingMsg = false;
  processMsg(tag);
}

void VXMainToolbar::receiveMsg(int code) {
  isReceivingMsg = true;
  processMsg(code);
}

void VXMainToolbar::processMsg(int code) {
  switch (code) {
    case kVXMsgHideToolbar:
      doHide(true);
      break;
    case kVXMsgShowToolbar:
      doHide(false);
      break;
    case kVXMsgExpandToolbar:
      doExpand(true);
      break;
    case kVXMsgCollapseToolbar:
      doExpand(false);
      break;
    default:
      if (!isReceivingMsg && msgDelegate) msgDelegate->receiveMsg(code);
      break;
  }
}

void VXMainToolbar::doHide(bool hide) {
  setHidden(hide);
  if (hide) return;
  if (collapsedButton) collapsedButton->setHidden(isExpanded);
  if (expandedToolBar) expandedToolBar->setHidden(!isExpanded);
  // Put the bar where the state says, without animation or listener.
  const bool animated = isAnimated;
  isAnimated = false;
  place(isExpanded);
  isAnimated = animated;
}

void VXMainToolbar::doExpand(bool expand) {
  if (expand && listener) listener->mainbarAboutToExpand();
  isExpanded = expand;
  if (hidden()) return;
  place(expand);
}

void VXMainToolbar::place(bool expand) {
  if (expand && expandedToolBar) {
    expandedToolBar->setHidden(false);
    expandedToolBar->setAlpha(1);
  }
  Animator& animator = Animator::shared();
  const bool animate = isAnimated;
  if (animate) {
    animator.beginAnimations("kVXMainToolbarExpand");
    animator.setAnimationDuration(0.25);
    animator.setAnimationCurve(AnimationCurve::EaseInOut);
  }
  if (collapsedButton) collapsedButton->setAlpha(expand ? 0 : 1);
  const double W = bounds().width(), H = bounds().height();
  const double h = expandedToolBar ? expandedToolBar->bounds().height() : 0;
  const double l = labels ? labels->bounds().height() : 0;
  double d = 0;
  if (!expand) d = (uiLocation == 1 || uiLocation == 3) ? -H : H;
  const Rect screen = mainScreen();
  if (expandMode == 1) {
    if (expand) {
      setFrame(screen);
      if (expandedToolBar) expandedToolBar->setCenter({screen.width() / 2, screen.height() / 2});
    } else {
      const Rect button = collapsedButton ? collapsedButton->bounds() : Rect();
      setFrame(Rect(0, screen.height() - button.height(), button.width(), button.height()));
      if (expandedToolBar) {
        expandedToolBar->setCenter({-screen.width() / 2, d + screen.height() / 2});
      }
    }
  } else if (expandedToolBar) {
    expandedToolBar->setCenter({W / 2, d + h / 2});
  }
  if (labels) {
    const double y = uiLocation == 1 ? d + h + l / 2 : d + h - 7 + l / 2;
    labels->setCenter({W / 2, y});
  }
  if (animate) animator.commitAnimations();
}

void VXMainToolbar::fadeToolbar(bool fade) {
  if (!expandedToolBar) return;
  const double alpha = expandedToolBar->alpha();
  if ((alpha == 0 && fade) || (alpha == 1 && !fade)) return;
  VXLog::sharedVXLog().log("fadeToolbar: %d", fade ? 1 : 0);
  Animator& animator = Animator::shared();
  animator.beginAnimations("kVXMainToolbarFading");
  animator.setAnimationDuration(0.5);
  animator.setAnimationCurve(AnimationCurve::EaseInOut);
  expandedToolBar->setAlpha(fade ? 0 : 1);
  animator.commitAnimations();
}

void VXMainToolbar::setViewForExpandedToolbar(std::shared_ptr<View> view) {
  if (expandedToolBar) expandedToolBar->removeFromSuperview();
  expandedToolBar = std::move(view);
  if (!expandedToolBar) return;
  insertSubviewBelow(expandedToolBar, collapsedButton.get());
  setUILocation(uiLocation);
}

void VXMainToolbar::setUILocation(int location) {
  uiLocation = location;
  const Rect container = superview() ? superview()->bounds() : mainScreen();
  const Rect own = bounds();
  if (orientation == 3) {
    switch (location) {
      case 2:
        setCenter({own.height() / 2, container.height() / 2});
        setTransform(transform().rotated(kPi / 2));
        break;
      case 3:
        if (expandedToolBar) expandedToolBar->setTransform(AffineTransform::rotation(kPi));
        setTransform(AffineTransform::identity());
        if (collapsedButton) collapsedButton->setTransform(AffineTransform::rotation(kPi / 2));
        setCenter({own.width() / 2, own.height() / 2});
        break;
      case 4:
        if (expandedToolBar) expandedToolBar->setTransform(AffineTransform::identity());
        setTransform(AffineTransform::identity());
        if (collapsedButton) collapsedButton->setTransform(AffineTransform::rotation(kPi / 2));
        setCenter({own.width() / 2, container.height() - own.height() / 2});
        break;
      default:
        break;
    }
  } else {
    if (location == 1 && expandedToolBar) {
      expandedToolBar->setTransform(AffineTransform::rotation(kPi));
    }
    const double y =
        location == 2 ? container.height() - own.height() / 2 : own.height() / 2;
    setCenter({container.width() / 2, y});
  }
  // Re-apply the expansion quietly.
  const bool animated = isAnimated;
  VXMainToolbarListener* told = listener;
  isAnimated = false;
  listener = nullptr;
  doExpand(isExpanded);
  isAnimated = animated;
  listener = told;
}

void VXMainToolbar::centerMainButton() {
  if (collapsedButton) collapsedButton->setCenter({bounds().midX(), bounds().midY()});
}
