// Named view animations on the host's clock.
//
// beginAnimations(name, context) opens a block; duration, curve and
// the did-stop callback are set on it; commitAnimations() starts it. Every
// change of alpha, center, frame (center and size) or transform made inside
// the block sets the view's model value at once (code that reads alpha
// right after sees the target) and makes the drawn value travel from where
// it is drawn now to the target over the block's duration. An animation of
// a property that is already animating replaces the old one from its
// current drawn value; the old block is then not finished. When the last
// animation of a block ends, or is replaced, or its view goes, the block's
// did-stop callback hears (name, finished, context) on the next tick.
// A change outside any block ends an animation of that property at once
// (not finished) and is drawn as it is.
//
// The clock is the host's (real time, or the tests' clock that only moves
// when advanced); tick(now) moves every drawn value.
//
// Threads: main thread only.
#ifndef PLATFORM_UI_ANIMATION_H
#define PLATFORM_UI_ANIMATION_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/View.h"

namespace platform::ui {

enum class AnimationCurve { EaseInOut, Linear };

class Animator {
 public:
  using DidStop = std::function<void(const std::string& name, bool finished, void* context)>;

  static Animator& shared();

  void beginAnimations(const std::string& name, void* context = nullptr);
  void setAnimationDuration(double seconds);
  void setAnimationCurve(AnimationCurve curve);
  void setAnimationDidStop(DidStop didStop);
  void commitAnimations();

  // Called by View for each property change.
  void propertyChanged(View& view, ViewProperty property, const double* from, const double* to);

  // Moves every animation to the time; ends and reports those done.
  void tick(double now);
  bool running() const { return !running_.empty() || !stops_.empty(); }
  // How many property animations run.
  std::size_t count() const { return running_.size(); }
  // The clock (seconds, any origin); the host sets it.
  void setClock(std::function<double()> clock) { clock_ = std::move(clock); }
  double now() const;
  // Drops every animation and pending report (a host going away).
  void reset();

  // The eased share of the way at a share of the time.
  static double ease(AnimationCurve curve, double t);

 private:
  struct Group {
    std::string name;
    void* context = nullptr;
    double duration = 0.2;
    AnimationCurve curve = AnimationCurve::EaseInOut;
    DidStop didStop;
    int pending = 0;
    bool interrupted = false;
    bool reported = false;
  };
  struct Change {
    std::weak_ptr<View> view;
    ViewProperty property;
    double from[6];
    double to[6];
  };
  struct Running {
    std::shared_ptr<Group> group;
    std::weak_ptr<View> view;
    const View* key;
    ViewProperty property;
    double from[6];
    double to[6];
    double start;
  };
  struct Open {
    std::shared_ptr<Group> group;
    std::vector<Change> changes;
  };
  void finishOne(const std::shared_ptr<Group>& group, bool interrupted);

  std::vector<Open> open_;
  std::vector<Running> running_;
  std::vector<std::shared_ptr<Group>> stops_;  // reported on the next tick
  std::function<double()> clock_;
};

// The block helpers of the platform, on the shared animator.
inline void beginAnimations(const std::string& name, void* context = nullptr) {
  Animator::shared().beginAnimations(name, context);
}
inline void commitAnimations() { Animator::shared().commitAnimations(); }

int propertyWidth(ViewProperty property);

}  // namespace platform::ui

#endif
