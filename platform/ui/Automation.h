// The test automation of the UI kit (tests only): drives a testing host
// the way a user and time would, and reads what is on screen.
//
//  - touch(): one input event of one or more touches (several fingers at
//    once, which only tests can make); tap(), doubleTap() (two taps, the
//    second with tap count 2), drag() (began, moves, ended).
//  - advance(seconds): moves the host's clock in steps of at most 1/60 s,
//    serving the main run loop's calls and timers and the animations at
//    each step; advance(0) serves what is ready now.
//  - viewTree(): the window's dump (see dumpViewTree), one line per view;
//    findByTag().
//  - alerts(), answer(index): the alerts and sheets on screen, bottom to
//    top, and choosing a button of the topmost one; escape(), enter().
//  - typeText(), backspace(): typing into the field being edited.
//  - frame(): the composited frame, top-down RGBA8 at the host's scale;
//    frameAt1x() boxes it down to 320 x 480.
//
// Threads: main thread only.
#ifndef PLATFORM_UI_AUTOMATION_H
#define PLATFORM_UI_AUTOMATION_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/Application.h"

namespace platform::ui {

struct AlertInfo {
  std::string kind;  // "alert" or "sheet"
  std::string title;
  std::string message;
  std::vector<std::string> buttons;  // in index order
  int cancelIndex = -1;
};

class Automation {
 public:
  explicit Automation(Application& app) : app_(app) {}

  void touch(const std::vector<TouchInput>& touches);
  void tap(double x, double y, int tapCount = 1);
  void doubleTap(double x, double y);
  void drag(Point from, Point to, int steps = 4);

  void advance(double seconds);

  std::string viewTree() const;
  View* findByTag(int tag) const;

  std::vector<AlertInfo> alerts() const;
  bool answer(int index);
  void escape();
  void enter();
  void typeText(const std::string& text);
  void backspace();

  std::vector<std::uint8_t> frame();
  std::vector<std::uint8_t> frameAt1x();
  // One pixel of a frame of the width given.
  static std::array<int, 4> pixel(const std::vector<std::uint8_t>& frame, int width, int x, int y);

 private:
  Application& app_;
};

}  // namespace platform::ui

#endif
