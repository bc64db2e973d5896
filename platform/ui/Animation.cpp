#include "platform/ui/Animation.h"

#include <algorithm>
#include <cmath>

#include "platform/Clock.h"

namespace platform::ui {

int propertyWidth(ViewProperty property) {
  switch (property) {
    case ViewProperty::Alpha:
      return 1;
    case ViewProperty::Center:
    case ViewProperty::Size:
      return 2;
    case ViewProperty::Transform:
      return 6;
  }
  return 1;
}

Animator& Animator::shared() {
  static Animator animator;
  return animator;
}

double Animator::now() const { return clock_ ? clock_() : Clock::monotonic(); }

double Animator::ease(AnimationCurve curve, double t) {
  t = std::clamp(t, 0.0, 1.0);
  if (curve == AnimationCurve::Linear) return t;
  // The cubic Bezier (0.42, 0) (0.58, 1): solve x(s) = t, answer y(s).
  auto bez = [](double p1, double p2, double s) {
    const double u = 1 - s;
    return 3 * u * u * s * p1 + 3 * u * s * s * p2 + s * s * s;
  };
  double lo = 0, hi = 1, s = t;
  for (int i = 0; i < 40; i++) {
    s = (lo + hi) / 2;
    if (bez(0.42, 0.58, s) < t) {
      lo = s;
    } else {
      hi = s;
    }
  }
  return bez(0.0, 1.0, s);
}

void Animator::beginAnimations(const std::string& name, void* context) {
  Open block;
  block.group = std::make_shared<Group>();
  block.group->name = name;
  block.group->context = context;
  open_.push_back(std::move(block));
}

void Animator::setAnimationDuration(double seconds) {
  if (!open_.empty()) open_.back().group->duration = std::max(0.0, seconds);
}

void Animator::setAnimationCurve(AnimationCurve curve) {
  if (!open_.empty()) open_.back().group->curve = curve;
}

void Animator::setAnimationDidStop(DidStop didStop) {
  if (!open_.empty()) open_.back().group->didStop = std::move(didStop);
}

void Animator::finishOne(const std::shared_ptr<Group>& group, bool interrupted) {
  if (interrupted) group->interrupted = true;
  if (--group->pending <= 0 && !group->reported) {
    group->reported = true;
    stops_.push_back(group);
  }
}

void Animator::propertyChanged(View& view, ViewProperty property, const double* from,
                               const double* to) {
  const int n = propertyWidth(property);
  // A running animation of the property gives way.
  for (auto it = running_.begin(); it != running_.end(); ++it) {
    if (it->key == &view && it->property == property) {
      std::shared_ptr<Group> group = it->group;
      running_.erase(it);
      finishOne(group, true);
      break;
    }
  }
  if (open_.empty()) {
    view.setDrawnValue(property, to);
    return;
  }
  // Inside a block: the drawn value stays until the block is committed.
  Open& block = open_.back();
  for (Change& change : block.changes) {
    if (change.view.lock().get() == &view && change.property == property) {
      std::copy(to, to + n, change.to);
      return;
    }
  }
  Change change;
  change.view = view.weak_from_this();
  change.property = property;
  std::copy(from, from + n, change.from);
  std::copy(to, to + n, change.to);
  if (change.view.expired()) {
    view.setDrawnValue(property, to);  // not in a shared pointer: drawn at once
    return;
  }
  block.changes.push_back(change);
}

void Animator::commitAnimations() {
  if (open_.empty()) return;
  Open block = std::move(open_.back());
  open_.pop_back();
  const double start = now();
  block.group->pending = 0;
  for (const Change& change : block.changes) {
    std::shared_ptr<View> view = change.view.lock();
    if (!view) continue;
    // Replaced meanwhile by another block's animation of the same property?
    for (auto it = running_.begin(); it != running_.end(); ++it) {
      if (it->key == view.get() && it->property == change.property) {
        std::shared_ptr<Group> group = it->group;
        running_.erase(it);
        finishOne(group, true);
        break;
      }
    }
    Running run;
    run.group = block.group;
    run.view = view;
    run.key = view.get();
    run.property = change.property;
    std::copy(change.from, change.from + 6, run.from);
    std::copy(change.to, change.to + 6, run.to);
    run.start = start;
    running_.push_back(run);
    block.group->pending++;
  }
  if (block.group->pending == 0) {
    block.group->reported = true;
    stops_.push_back(block.group);
  }
  View::markScreenChanged();
}

void Animator::tick(double now) {
  std::vector<std::shared_ptr<Group>> report;
  report.swap(stops_);
  for (std::size_t i = 0; i < running_.size();) {
    Running& run = running_[i];
    std::shared_ptr<View> view = run.view.lock();
    if (!view) {
      std::shared_ptr<Group> group = run.group;
      running_.erase(running_.begin() + static_cast<std::ptrdiff_t>(i));
      finishOne(group, true);
      continue;
    }
    const double duration = run.group->duration;
    const double t = duration > 0 ? (now - run.start) / duration : (now >= run.start ? 1.0 : 0.0);
    const int n = propertyWidth(run.property);
    if (t >= 1.0) {
      view->setDrawnValue(run.property, run.to);
      std::shared_ptr<Group> group = run.group;
      running_.erase(running_.begin() + static_cast<std::ptrdiff_t>(i));
      finishOne(group, false);
      continue;
    }
    if (t > 0) {
      const double e = ease(run.group->curve, t);
      double value[6];
      for (int k = 0; k < n; k++) value[k] = run.from[k] + (run.to[k] - run.from[k]) * e;
      view->setDrawnValue(run.property, value);
    }
    i++;
  }
  // Blocks ended in this tick are reported now, those ended before first.
  report.insert(report.end(), stops_.begin(), stops_.end());
  stops_.clear();
  for (const auto& group : report) {
    if (group->didStop) group->didStop(group->name, !group->interrupted, group->context);
  }
}

void Animator::reset() {
  open_.clear();
  running_.clear();
  stops_.clear();
}

}  // namespace platform::ui
