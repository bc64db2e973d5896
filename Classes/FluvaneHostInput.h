// The desktop's stand-ins for a phone's fingers, breath and tilt.
//
// A desktop has one pointer, a keyboard and maybe a joystick; the
// instrument wants several fingers on its holes, breath on the microphone
// and the device's tilt. FluvaneHostInput turns host input into what the
// instrument screen hears on a phone: one touch set per input event (the
// touch that changed, with its phase, and every other finger still down as
// stationary), plus the tilt in g. The screen itself is unchanged.
//
//  - Left mouse button: a finger (down, drag, up). A drag across the
//    screen's halves moves the finger from one hole to the other.
//  - Right-click: latches a finger on the hole under the pointer, or frees
//    the one latched there, so chords can be held with a mouse alone.
//  - E, D, I, K: fingers held on holes 1, 0, 3, 2 (left upper, left lower,
//    right upper, right lower) at the holes' centres, while the key is down.
//  - Space: a synthetic breath: the breath sink gets kSpaceBreath while the
//    key is down and 0 when it is released (the host mixes noise of that
//    level into the microphone before the engine, with 20 ms rise and fall:
//    FluvaneMicInput).
//  - Arrows or joystick axes: tilt. At rest the device stands upright,
//    (0, -1, 0) g, which gives no vibrato depth; left and right tilt x to
//    -1.2 and 1.2 g (vibrato rate 2 to 8 Hz), up raises y to 0.7 g.
//  - Mouse wheel: notches to the wheel sink (the globe pinches with it).
//  - Escape with no alert on screen, or closing the window: terminate.
//  - Focus lost: fingers of the mouse and the keys are cancelled (a key
//    released elsewhere never reports); latched ones stay.
//  - While a text field is being edited the keyboard is the field's: no
//    key makes a finger, a breath, a tilt or an ending (the kit gives the
//    field its text, Return, Backspace and Escape); releasing a key that
//    held something before still lets it go.
// Window positions are mapped to the 320 x 480-point screen through the
// host's letterbox; outside the content, or while the window has no size
// (minimised), input is dropped and no touch is made.
//
// Threads: main thread.
#ifndef CLASSES_FLUVANEHOSTINPUT_H
#define CLASSES_FLUVANEHOSTINPUT_H

#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "platform/ui/Application.h"

class FluvaneHostInput {
 public:
  struct Tilt {
    float x = 0, y = -1, z = 0;
  };
  // Touch ids: the mouse, then one per hole for keys and for latches.
  static constexpr int kMouseTouch = 1;
  static constexpr int kKeyTouchBase = 10;
  static constexpr int kLatchTouchBase = 20;

  enum class Key { E, D, I, K, Space, Left, Right, Up, Down };

  // The synthetic breath of the Space key (0..1).
  static constexpr double kSpaceBreath = 0.7;

  using TouchSink = std::function<void(const std::vector<platform::ui::TouchInput>&)>;
  using BreathSink = std::function<void(double level)>;

  // touches hears each touch set, breath the Space key's level (either may
  // be empty).
  explicit FluvaneHostInput(TouchSink touches, BreathSink breath = {});

  // --- Input in screen points (x right, y down from the top) ---
  void mouseDown(platform::ui::Point p, int tapCount = 1);
  void mouseMove(platform::ui::Point p);
  void mouseUp(platform::ui::Point p);
  void rightClick(platform::ui::Point p);
  void key(Key key, bool down);
  // A joystick axis in -1..1 (0 x, 1 y; up is negative).
  void joystickAxis(int axis, float value);
  // Cancels the mouse's and the keys' fingers.
  void focusLost();
  // Hears the mouse wheel's notches (positive: away from the player).
  void setWheelSink(std::function<void(double notches)> sink) { wheel_ = std::move(sink); }

  // The tilt now, in g.
  Tilt tilt() const;
  // Fingers down now (id to point).
  const std::map<int, platform::ui::Point>& fingers() const { return fingers_; }

  // An SDL event (const SDL_Event*) of the host; true when it was taken
  // (the kit does not see it).
  bool handleEvent(const void* event, platform::ui::Application& app);

  // Starts SDL's joysticks, whose axes then arrive as events (a joystick
  // plugged in later is opened when it arrives). False when SDL refuses.
  static bool enableJoysticks();

  // The centre of hole 0..4 in screen points, in the current layout.
  static platform::ui::Point holeCentre(int hole);
  // The hole under a screen point (the screen's mapping, y turned).
  static int holeAt(platform::ui::Point p);

 private:
  void change(int id, platform::ui::TouchPhase phase, platform::ui::Point p, int tapCount = 1);
  // The release of the key of an SDL key code, when it is one of ours.
  void releaseKey(int symbol);

  TouchSink sink_;
  BreathSink breath_;
  std::function<void(double)> wheel_;
  std::map<int, platform::ui::Point> fingers_;
  bool left_ = false, right_ = false, up_ = false, down_ = false;
  bool spaceHeld_ = false;
  float axisX_ = 0, axisY_ = 0;
};

#endif
