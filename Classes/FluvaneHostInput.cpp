#include "Classes/FluvaneHostInput.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>

#include "Classes/FluvaneGfx.h"
#include "platform/gfx/GLHost.h"
#include "platform/ui/Controls.h"

using platform::ui::Application;
using platform::ui::Point;
using platform::ui::TouchInput;
using platform::ui::TouchPhase;

// --- Host input ---

FluvaneHostInput::FluvaneHostInput(TouchSink touches, BreathSink breath)
    : sink_(std::move(touches)), breath_(std::move(breath)) {}

Point FluvaneHostInput::holeCentre(int hole) {
  const FluvaneGfx::FingerHole* h = FluvaneGfx::FingerHole::get(hole);
  if (!h) return {};
  // The screen's projection: x -1..1 over 320 points, y -1.5..1.5 (up) over
  // 480 points (down).
  return {(h->x + 1.0) * Application::kScreenWidth / 2,
          (1.5 - h->y) * Application::kScreenHeight / 3};
}

int FluvaneHostInput::holeAt(Point p) {
  return FluvaneGfx::getQuadrant(static_cast<int>(p.x),
                                 static_cast<int>(Application::kScreenHeight - p.y));
}

void FluvaneHostInput::change(int id, TouchPhase phase, Point p, int tapCount) {
  std::vector<TouchInput> set;
  set.push_back({id, phase, p, tapCount});
  for (const auto& [other, at] : fingers_) {
    if (other != id) set.push_back({other, TouchPhase::Stationary, at, 1});
  }
  if (phase == TouchPhase::Ended || phase == TouchPhase::Cancelled) {
    fingers_.erase(id);
  } else {
    fingers_[id] = p;
  }
  if (sink_) sink_(set);
}

void FluvaneHostInput::mouseDown(Point p, int tapCount) {
  if (fingers_.count(kMouseTouch)) return;
  change(kMouseTouch, TouchPhase::Began, p, tapCount);
}

void FluvaneHostInput::mouseMove(Point p) {
  if (!fingers_.count(kMouseTouch)) return;
  change(kMouseTouch, TouchPhase::Moved, p);
}

void FluvaneHostInput::mouseUp(Point p) {
  if (!fingers_.count(kMouseTouch)) return;
  change(kMouseTouch, TouchPhase::Ended, p);
}

void FluvaneHostInput::rightClick(Point p) {
  const int hole = holeAt(p);
  const int id = kLatchTouchBase + hole;
  if (fingers_.count(id)) {
    change(id, TouchPhase::Ended, fingers_[id]);
  } else {
    change(id, TouchPhase::Began, holeCentre(hole));
  }
}

void FluvaneHostInput::key(Key key, bool down) {
  int hole = -1;
  switch (key) {
    case Key::E: hole = 1; break;
    case Key::D: hole = 0; break;
    case Key::I: hole = 3; break;
    case Key::K: hole = 2; break;
    case Key::Space:
      // A release with no press before (typing took it) changes nothing.
      if (!down && !spaceHeld_) return;
      spaceHeld_ = down;
      if (breath_) breath_(down ? kSpaceBreath : 0.0);
      return;
    case Key::Left: left_ = down; return;
    case Key::Right: right_ = down; return;
    case Key::Up: up_ = down; return;
    case Key::Down: down_ = down; return;
  }
  const int id = kKeyTouchBase + hole;
  const bool held = fingers_.count(id) != 0;
  if (down && !held) change(id, TouchPhase::Began, holeCentre(hole));
  if (!down && held) change(id, TouchPhase::Ended, fingers_[id]);
}

void FluvaneHostInput::joystickAxis(int axis, float value) {
  if (!std::isfinite(value)) value = 0;
  value = std::clamp(value, -1.0f, 1.0f);
  if (axis == 0) axisX_ = value;
  if (axis == 1) axisY_ = value;
}

void FluvaneHostInput::focusLost() {
  std::vector<int> gone;
  for (const auto& [id, at] : fingers_) {
    if (id < kLatchTouchBase) gone.push_back(id);
  }
  for (int id : gone) change(id, TouchPhase::Cancelled, fingers_[id]);
  left_ = right_ = up_ = down_ = false;
  spaceHeld_ = false;
  if (breath_) breath_(0.0);
}

FluvaneHostInput::Tilt FluvaneHostInput::tilt() const {
  Tilt t;
  // Keys give the full tilt; the joystick any part of it.
  float x = axisX_;
  if (left_ != right_) x = left_ ? -1.0f : 1.0f;
  float up = std::max(0.0f, -axisY_);
  if (up_ && !down_) up = 1.0f;
  t.x = 1.2f * x;
  t.y = -1.0f + 1.7f * up;
  t.z = 0;
  return t;
}

bool FluvaneHostInput::handleEvent(const void* raw, Application& app) {
  const SDL_Event& e = *static_cast<const SDL_Event*>(raw);
  switch (e.type) {
    case SDL_MOUSEBUTTONDOWN: {
      if (e.button.which == SDL_TOUCH_MOUSEID) return true;  // the touch events come too
      auto p = app.windowToPoints(e.button.x, e.button.y);
      if (!p) return true;
      if (e.button.button == SDL_BUTTON_LEFT) mouseDown(*p, app.tapCountForPress(*p, app.now()));
      if (e.button.button == SDL_BUTTON_RIGHT) rightClick(*p);
      return true;
    }
    case SDL_MOUSEWHEEL: {
      double notches = e.wheel.y;
      if (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) notches = -notches;
      if (wheel_ && notches != 0) wheel_(notches);
      return true;
    }
    case SDL_MOUSEMOTION: {
      if (e.motion.which == SDL_TOUCH_MOUSEID) return true;
      if (auto p = app.windowToPoints(e.motion.x, e.motion.y)) mouseMove(*p);
      return true;
    }
    case SDL_MOUSEBUTTONUP: {
      if (e.button.which == SDL_TOUCH_MOUSEID) return true;
      if (e.button.button != SDL_BUTTON_LEFT) return true;
      if (auto p = app.windowToPoints(e.button.x, e.button.y)) {
        mouseUp(*p);
      } else if (fingers_.count(kMouseTouch)) {
        change(kMouseTouch, TouchPhase::Cancelled, fingers_[kMouseTouch]);
      }
      return true;
    }
    case SDL_FINGERDOWN:
    case SDL_FINGERMOTION:
    case SDL_FINGERUP: {
      // A touch screen: one finger, one touch, mapped through the letterbox
      // from the window's normalised coordinates.
      auto* window = static_cast<SDL_Window*>(app.glHost() ? app.glHost()->sdlWindow() : nullptr);
      int ww = 0, wh = 0;
      if (window) SDL_GetWindowSize(window, &ww, &wh);
      auto p = app.windowToPoints(e.tfinger.x * ww, e.tfinger.y * wh);
      const int id = 100 + static_cast<int>(e.tfinger.fingerId & 0xffff);
      const bool known = fingers_.count(id) != 0;
      if (!p) {
        if (known) change(id, TouchPhase::Cancelled, fingers_[id]);
        return true;
      }
      if (e.type == SDL_FINGERDOWN && !known) change(id, TouchPhase::Began, *p);
      if (e.type == SDL_FINGERMOTION && known) change(id, TouchPhase::Moved, *p);
      if (e.type == SDL_FINGERUP && known) change(id, TouchPhase::Ended, *p);
      return true;
    }
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      const bool down = e.type == SDL_KEYDOWN;
      if (platform::ui::TextField::firstResponder()) {
        // Typing: the keys are the text field's (its characters come as
        // text input, Return, Backspace and Escape through the kit). A key
        // that held a finger, the breath or the tilt before still lets go.
        if (!down) releaseKey(e.key.keysym.sym);
        return false;
      }
      if (down && e.key.repeat) {
        // Held keys repeat: the finger is down already.
        return e.key.keysym.sym != SDLK_ESCAPE && e.key.keysym.sym != SDLK_RETURN;
      }
      switch (e.key.keysym.sym) {
        case SDLK_e: key(Key::E, down); return true;
        case SDLK_d: key(Key::D, down); return true;
        case SDLK_i: key(Key::I, down); return true;
        case SDLK_k: key(Key::K, down); return true;
        case SDLK_SPACE: key(Key::Space, down); return true;
        case SDLK_LEFT: key(Key::Left, down); return true;
        case SDLK_RIGHT: key(Key::Right, down); return true;
        case SDLK_UP: key(Key::Up, down); return true;
        case SDLK_DOWN: key(Key::Down, down); return true;
        case SDLK_ESCAPE:
          // An alert takes Escape as its cancel button; otherwise it quits.
          if (down && !app.topAlert()) {
            app.terminate();
            return true;
          }
          return false;
        default:
          return false;
      }
    }
    case SDL_JOYAXISMOTION:
      joystickAxis(e.jaxis.axis, static_cast<float>(e.jaxis.value) / 32767.0f);
      return true;
    case SDL_JOYDEVICEADDED:
      SDL_JoystickOpen(e.jdevice.which);
      return true;
    case SDL_WINDOWEVENT:
      if (e.window.event == SDL_WINDOWEVENT_FOCUS_LOST ||
          e.window.event == SDL_WINDOWEVENT_MINIMIZED) {
        focusLost();
      } else if (e.window.event == SDL_WINDOWEVENT_LEAVE && fingers_.count(kMouseTouch)) {
        change(kMouseTouch, TouchPhase::Cancelled, fingers_[kMouseTouch]);
      }
      return false;  // the host still hears activity changes
    default:
      return false;
  }
}

void FluvaneHostInput::releaseKey(int symbol) {
  static const std::pair<SDL_Keycode, Key> keys[] = {
      {SDLK_e, Key::E},         {SDLK_d, Key::D},         {SDLK_i, Key::I},
      {SDLK_k, Key::K},         {SDLK_SPACE, Key::Space}, {SDLK_LEFT, Key::Left},
      {SDLK_RIGHT, Key::Right}, {SDLK_UP, Key::Up},       {SDLK_DOWN, Key::Down}};
  for (const auto& [code, k] : keys) {
    if (code == symbol) key(k, false);
  }
}

bool FluvaneHostInput::enableJoysticks() {
  return SDL_InitSubSystem(SDL_INIT_JOYSTICK) == 0;
}
