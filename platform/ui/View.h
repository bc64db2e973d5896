// The retained view tree of the UI kit.
//
// A View is a rectangle of the screen with its own coordinates (bounds), a
// place in its superview (center, and a transform about the center), an
// alpha, a hidden flag, a tag and subviews, drawn back to front. A
// superview owns its subviews (shared pointers); the superview pointer is
// a plain observer, and so is every delegate a view is given, so the tree
// has no ownership cycles. Views are made with std::make_shared (the kit's
// animations and touches keep weak references to them).
//
// Two values of alpha, center, bounds size and transform exist: the model
// value that setters change and getters answer, and the drawn value that
// the compositor shows. Outside an animation both change together; inside
// an animation block (see Animation.h) the model value changes at once and
// the drawn value follows over the animation's time.
//
// Hit-testing (hitTest) skips hidden views, views with alpha below 0.01
// and views that take no touches, and asks subviews front to back. Touches
// come through touchesBegan/Moved/Ended/Cancelled; a touch stays with the
// view it began in. Views that draw say so (drawsContent) and draw their
// bounds into a canvas in drawRect; setNeedsDisplay asks for a new drawing.
//
// Threads: main thread only.
#ifndef PLATFORM_UI_VIEW_H
#define PLATFORM_UI_VIEW_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Canvas.h"
#include "platform/ui/Geometry.h"

namespace platform::ui {

class View;

enum class TouchPhase { Began, Moved, Stationary, Ended, Cancelled };

struct Touch {
  int id = 0;
  TouchPhase phase = TouchPhase::Began;
  Point location;          // window points
  Point previousLocation;  // window points
  int tapCount = 1;
  double timestamp = 0;
  std::weak_ptr<View> view;

  Point locationIn(const View* view) const;
};
using Touches = std::vector<const Touch*>;

// The animatable properties.
enum class ViewProperty { Alpha, Center, Size, Transform };

class View : public std::enable_shared_from_this<View> {
 public:
  explicit View(const Rect& frame = Rect());
  virtual ~View();
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  // The class's name in the view-tree dump.
  virtual std::string className() const { return "View"; }
  // The title or text the dump shows ("" for none).
  virtual std::string describe() const { return ""; }

  // --- Geometry (model values) ---
  Rect frame() const;
  void setFrame(const Rect& frame);
  Rect bounds() const { return bounds_; }
  void setBounds(const Rect& bounds);
  Point center() const { return center_; }
  void setCenter(Point center);
  AffineTransform transform() const { return transform_; }
  void setTransform(const AffineTransform& transform);
  double alpha() const { return alpha_; }
  void setAlpha(double alpha);
  bool hidden() const { return hidden_; }
  void setHidden(bool hidden);
  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }
  bool userInteractionEnabled() const { return userInteractionEnabled_; }
  void setUserInteractionEnabled(bool on) { userInteractionEnabled_ = on; }
  bool exclusiveTouch() const { return exclusiveTouch_; }
  void setExclusiveTouch(bool on) { exclusiveTouch_ = on; }
  bool multipleTouchEnabled() const { return multipleTouchEnabled_; }
  void setMultipleTouchEnabled(bool on) { multipleTouchEnabled_ = on; }
  Color backgroundColor() const { return background_; }
  void setBackgroundColor(Color color);

  // --- Drawn values ---
  double drawnAlpha() const { return drawn_.alpha; }
  Point drawnCenter() const { return drawn_.center; }
  Size drawnSize() const { return drawn_.size; }
  AffineTransform drawnTransform() const { return drawn_.transform; }
  // The animation clock sets them (Animation.cpp).
  void setDrawnValue(ViewProperty property, const double* value);
  void drawnValue(ViewProperty property, double* value) const;

  // --- Tree ---
  View* superview() const { return superview_; }
  const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
  void addSubview(std::shared_ptr<View> view);
  void insertSubview(std::shared_ptr<View> view, std::size_t index);
  void insertSubviewBelow(std::shared_ptr<View> view, const View* sibling);
  void bringSubviewToFront(const View* view);
  // Leaves the superview; the view lives on while someone else holds it.
  void removeFromSuperview();
  // The root of the tree (the window when the view is on screen).
  View* root();
  const View* root() const;
  bool isDescendantOf(const View* view) const;
  // The first view of the subtree (this one included) with the tag,
  // depth first.
  View* viewWithTag(int tag);

  // --- Coordinates (model values) ---
  // A point of this view's bounds in the superview's bounds, and back.
  Point toSuperview(Point p) const;
  Point fromSuperview(Point p) const;
  // Between this view and another of the same tree (null: the root).
  Point convertTo(Point p, const View* view) const;
  Point convertFrom(Point p, const View* view) const;

  // --- Touches ---
  virtual View* hitTest(Point p);
  virtual bool pointInside(Point p) const;
  virtual void touchesBegan(const Touches&) {}
  virtual void touchesMoved(const Touches&) {}
  virtual void touchesEnded(const Touches&) {}
  virtual void touchesCancelled(const Touches&) {}

  // --- Drawing ---
  virtual bool drawsContent() const { return background_.a > 0; }
  // Draws the bounds (the canvas's origin is the bounds' origin); the base
  // fills the background colour.
  virtual void drawRect(Canvas& canvas, const Rect& bounds);
  void setNeedsDisplay();
  std::uint64_t contentVersion() const { return contentVersion_; }
  // A drawing of the view's bounds at the scale.
  Canvas renderContent(double scale);
  virtual void layoutSubviews() {}
  void setNeedsLayout();
  void layoutIfNeeded();

  // Something on screen changed: the host draws a new frame. Cleared by
  // the host.
  static bool takeScreenChanged();
  static void markScreenChanged();

 protected:
  virtual void didMoveToSuperview() {}

 private:
  struct Drawn {
    double alpha = 1;
    Point center;
    Size size;
    AffineTransform transform;
  };
  void changeProperty(ViewProperty property, const double* to);

  Rect bounds_;
  Point center_;
  AffineTransform transform_;
  double alpha_ = 1;
  Drawn drawn_;
  bool hidden_ = false;
  int tag_ = 0;
  bool userInteractionEnabled_ = true;
  bool exclusiveTouch_ = false;
  bool multipleTouchEnabled_ = false;
  bool needsLayout_ = true;
  Color background_ = Color::clear();
  std::uint64_t contentVersion_ = 1;
  View* superview_ = nullptr;
  std::vector<std::shared_ptr<View>> subviews_;
};

// The dump of a tree: one line per view, depth first, each indented two
// spaces per level: "<Class> tag=<tag> (<x>,<y>,<w>,<h>) alpha=<a>" then
// " hidden" when hidden and " '<text>'" when the view has a title or text.
std::string dumpViewTree(const View& root);

}  // namespace platform::ui

#endif
