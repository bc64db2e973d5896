// The host of the UI kit: the window, the event loop and the life cycle.
//
// One Application per process at a time (shared()). It owns the window (the
// root view, 320 x 480 points) and, when compositing, a GL ES 1.1 window of
// 320 x 480 points x scale pixels, resizable, the content letterboxed at the
// largest size that fits, black bars around it. The scale is the one the
// caller gives; otherwise FLUVANE_SCALE (1 to 3, default 2) made smaller,
// when needed, so that the window (with its frame, when the window system
// tells it) fits the usable area of the display: the largest quarter step
// that fits, 1 at least (fittingScale). A display that is no display
// (SDL's offscreen or dummy driver) is not fitted unless the options give
// its size. With SDL_VIDEODRIVER=offscreen the same code runs with no
// display.
//
// run(): the delegate's applicationDidFinishLaunching, then the loop: the
// main run loop's posted calls and due timers, the animations, a frame
// only when something changed (a view, an animation running, or whoever
// draws the GL frame said so with View::markScreenChanged), and never more
// than about 30 a second (kFrameInterval less kFrameSlack apart: wake-ups
// from posts and input do not add pictures), then a wait on
// SDL's events that the main run loop's posts and timers cut short (a
// posted call wakes the wait through an SDL user event; without a display,
// where SDL could only poll, the loop waits on the main run loop and then
// takes the events SDL holds). Input:
//  - the left mouse button is one touch (id 1): down = began, motion while
//    down = moved, up = ended; the button held while the window loses focus
//    or the pointer leaves it = cancelled. A press within 0.35 s and 10
//    points of the previous press counts up the tap count (double click:
//    2). Positions outside the content, and all input while the window has
//    no size (minimised), are ignored; nothing is drawn then either.
//  - keys: Escape and Return answer the topmost alert (see AlertView);
//    text and Backspace go to the text field being edited, Return or
//    Escape ends its editing.
//  - focus lost or minimised: applicationWillResignActive; focus regained
//    or restored: applicationDidBecomeActive (each once per change).
//  - closing the window (or terminate()): the termination steps, then the
//    loop ends and run() returns 0. Nothing calls exit().
// Termination steps: the delegate's applicationWillTerminate, once.
//
// Tests make a host with testing set: its clock stands still until the
// automation interface (Automation.h) advances it, and it moves the main
// run loop's timers and the animations with it; nothing waits for real
// time. The first testing host gives the main run loop this clock for the
// rest of the process.
//
// The host installs the kit's alert presenter while it lives.
//
// Threads: main thread only (the run loop's posts may come from anywhere).
#ifndef PLATFORM_UI_APPLICATION_H
#define PLATFORM_UI_APPLICATION_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/AlertView.h"
#include "platform/ui/View.h"

namespace platform::gfx {
class GLHost;
}

namespace platform::ui {

class Application;
class Compositor;

class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  virtual void applicationDidFinishLaunching(Application&) {}
  virtual void applicationWillResignActive(Application&) {}
  virtual void applicationDidBecomeActive(Application&) {}
  virtual void applicationWillTerminate(Application&) {}
};

struct HostOptions {
  bool testing = false;
  bool compositing = true;  // a GL window; without it the tree has no pictures
  double scale = 0;         // 0: FLUVANE_SCALE, else 2, fitted to the display
  std::string title = "Fluvane";
  // The display's usable area in the window system's units; 0 x 0: as the
  // display says (tests give one).
  int displayWidth = 0;
  int displayHeight = 0;
};

struct TouchInput {
  int id = 1;
  TouchPhase phase = TouchPhase::Began;
  Point location;  // window points
  int tapCount = 1;
};

class Application {
 public:
  static constexpr double kScreenWidth = 320;
  static constexpr double kScreenHeight = 480;
  static constexpr double kTapInterval = 0.35;
  static constexpr double kTapDistance = 10;
  // Frames are at least kFrameInterval - kFrameSlack apart (the slack lets
  // a 30 Hz timer's frame through however its tick falls).
  static constexpr double kFrameInterval = 1.0 / 30;
  static constexpr double kFrameSlack = 0.005;

  // Null, with the reason, when a host exists already or the GL window
  // cannot be made.
  static std::unique_ptr<Application> create(const HostOptions& options, std::string* error);
  static Application* shared();
  // The largest scale, at most largest, in quarter steps, at which the
  // content fits a usable area of width x height; 1 at least; largest when
  // the area is unknown (0 or less).
  static double fittingScale(double largest, double width, double height);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  View& window() { return *window_; }
  double scale() const { return scale_; }
  bool testing() const { return testing_; }
  gfx::GLHost* glHost() const { return gl_.get(); }

  void setDelegate(ApplicationDelegate* delegate) { delegate_ = delegate; }
  ApplicationDelegate* delegate() const { return delegate_; }

  // applicationDidFinishLaunching, once.
  void launch();
  // See above; answers 0.
  int run();
  // The termination steps (once), then the loop ends.
  void terminate();
  bool terminated() const { return terminated_; }

  // Focus: tells the delegate on a change.
  void setActive(bool active);
  bool active() const { return active_; }

  // The status bar's orientation the screens read (1 portrait; 3 landscape
  // right; tests set others).
  int statusBarOrientation() const { return orientation_; }
  void setStatusBarOrientation(int orientation) { orientation_ = orientation; }

  // --- Alerts ---
  void showAlert(std::shared_ptr<AlertView> alert);
  // On screen, bottom to top.
  std::vector<AlertView*> alerts() const;
  AlertView* topAlert() const;

  // --- Time ---
  double now() const;
  // Testing hosts: moves the clock.
  void advanceClock(double seconds);

  // --- One turn of the loop, and pictures ---
  // Posted calls and due timers, animations, layout.
  void step();
  // Draws the frame (GL frame, then the views); false when there is
  // nothing to draw into or the window has no size.
  bool render();
  // render(), then the content's pixels (top-down RGBA8, 320 x 480 x
  // scale); empty without compositing.
  std::vector<std::uint8_t> frame();
  // Drawn under the views each frame (the GL views of the application);
  // the viewport is the content's, the colour buffer cleared black.
  void setGLFrameDrawer(std::function<void()> drawer) { glDrawer_ = std::move(drawer); }
  // Frames at 30 per second even when nothing changed (a GL animation).
  void setContinuousFrames(bool on) { continuous_ = on; }
  // The loop's frame: drawn and presented when something changed since the
  // last one (see run()); true when it was.
  bool drawIfNeeded();
  // Frames the loop drew and presented.
  long framesPresented() const { return framesPresented_; }
  // How long until the loop may draw again (0: now).
  double secondsUntilFrameAllowed() const;

  // --- Input ---
  void dispatchTouches(const std::vector<TouchInput>& touches);
  void cancelAllTouches();
  std::size_t activeTouches() const { return touches_.size(); }
  void keyEscape();
  void keyReturn();
  void keyBackspace();
  void textInput(const std::string& text);
  // Window coordinates (the window system's, not pixels) to points;
  // none outside the content or while the window has no size.
  std::optional<Point> windowToPoints(double x, double y) const;
  // The same for a window of ww x wh (the window system's units) whose
  // drawable is dw x dh pixels; none when any size is 0.
  static std::optional<Point> letterboxToPoints(double x, double y, int ww, int wh, int dw, int dh);
  // The tap count of a mouse press at a point and time (see above).
  int tapCountForPress(Point p, double time);
  // An SDL event (const SDL_Event*): first to the event filter, then (unless
  // the filter took it) to the kit's own handling.
  void handleEvent(const void* event);
  // The application's own input (keys, joysticks): called with each SDL
  // event (const SDL_Event*) before the kit; true when it took the event.
  void setEventFilter(std::function<bool(const void* event)> filter) {
    eventFilter_ = std::move(filter);
  }

 private:
  Application() = default;
  void drawFrameContent();
  void wakeLoop();

  std::shared_ptr<View> window_;
  std::unique_ptr<gfx::GLHost> gl_;
  std::unique_ptr<Compositor> compositor_;
  std::shared_ptr<AlertPresenter> previousPresenter_;
  ApplicationDelegate* delegate_ = nullptr;
  std::function<void()> glDrawer_;
  std::function<bool(const void*)> eventFilter_;
  bool testing_ = false;
  bool continuous_ = false;
  double scale_ = 2;
  bool launched_ = false;
  bool quit_ = false;
  bool terminated_ = false;
  bool active_ = true;
  int orientation_ = 1;
  double lastFrame_ = -1;
  long framesPresented_ = 0;
  // SDL's wait serves this window's events (a real display); otherwise the
  // loop waits on the main run loop.
  bool displayEvents_ = false;
  std::uint32_t wakeEvent_ = 0;
  // The mouse.
  bool mouseDown_ = false;
  double lastPressTime_ = -1;
  Point lastPress_;
  int lastTapCount_ = 0;
  // Touches in progress by id.
  std::map<int, Touch> touches_;
};

}  // namespace platform::ui

#endif
