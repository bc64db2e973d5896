// The instrument screen: the application's one full-screen GL view.
//
// Two states: the instrument (0), drawn by the instrument graphics
// (FluvaneGfx), and the globe (1), whose drawing and gestures come with the
// globe. The view runs the 30 Hz frame timer, smooths the tilt, turns the
// touches of state 0 into covered holes, and carries out the transitions
// between the states. Its message delegate is the application delegate.
//
// Frames: each timer tick samples the tilt (when a source is set),
// advances the instrument by one frame (FluvaneGfx::advanceFrame: holes
// easing, breath, ripples, messages 4002 and 4007) or the globe, and asks
// the host for a picture only when that frame changed what is seen; the
// host's GL frame calls drawGL(), which draws the current state in the
// screen's projection (x -1..1, y -1.5..1.5). So the instrument moves at
// 30 frames a second however often the host draws, an instrument left alone
// costs no drawing, and a window with no size (minimised) draws nothing
// while time goes on.
//
// Touches (state 0, not while a recording plays back): every finger down
// on the view counts, whatever event it came with; each event recomputes
// the five hole flags from all of them (getQuadrant of x and of the height
// minus y, truncated) and switches holes 0..4, in order, whose flag differs
// from their covered state. Every touch-began sends 103 (collapse the
// toolbar) to the message delegate.
//
// The globe (state 1): the view owns the globe (FlameGlobe) and its overlay
// (SnippetGlobeViewController), advances the globe each frame (by 30
// frames' worth while drawing is off) and draws it. Touches turn into
// gestures: a drag rotates, a release while moving flicks, two fingers
// pinch (0.002 of the change of their distance), a double tap picks a
// region; the mouse wheel pinches too (scrollWheel, a notch being 20 points
// of distance). A service that cannot be reached is told by an alert once
// per entry; with no service configured the overlay's name says "offline".
//
// Threads: main thread only.
#ifndef CLASSES_EAGLVIEW_H
#define CLASSES_EAGLVIEW_H

#include <array>
#include <cstdint>
#include <functional>
#include <map>

#include "Classes/FlameGlobe.h"
#include "Classes/FluvaneGfx.h"
#include "Classes/FluvaneMessages.h"
#include "Classes/SnippetGlobeViewController.h"
#include "platform/RunLoop.h"
#include "vxu/ui/VXUIUtils.h"

class EAGLView : public VXMainView {
 public:
  static constexpr int kStateInstrument = 0;
  static constexpr int kStateGlobe = 1;
  // The instrument toolbar's globe button: to the globe from the instrument
  // (as 1002), back to the instrument from the globe (as 1001).
  static constexpr int kMsgToggleGlobe = kFluvaneMsgToggleGlobe;

  // Sets up the instrument graphics when a GL context is current (the
  // host's); without one the state still works and nothing is drawn.
  explicit EAGLView(const platform::ui::Rect& frame = platform::ui::Rect(0, 0, 320, 480));
  ~EAGLView() override;

  std::string className() const override { return "EAGLView"; }

  // The bridge (not owned): it hears the application state (2 in the globe,
  // else 1) and, through the graphics, the finger mask and the vibrato.
  void setChipBridge(FluvaneGfxBridge* bridge);
  FluvaneGfxBridge* chipBridge() const { return chipBridge_; }
  void setPlayback(bool playing);
  bool isPlaying() const { return isPlaying_; }
  void setRecording(bool recording);

  int currentAppState() const { return currentAppState_; }
  bool enableRender() const { return enableRender_; }
  void setEnableRender(bool on) { enableRender_ = on; }

  // --- Frames ---
  double animationInterval() const { return animationInterval_; }
  void setAnimationInterval(double seconds);
  void startAnimation();
  void stopAnimation();
  bool animating() const { return timer_ != 0; }
  // One timer tick (see above).
  void drawView();
  // The GL part of the host's frame (viewport set, colour cleared).
  void drawGL();
  // Where the tilt comes from, sampled once per frame (the host's arrows or
  // joystick); none: no tilt samples.
  void setAccelerometerSource(std::function<std::array<float, 3>()> source) {
    accelerometerSource_ = std::move(source);
  }
  // One tilt sample in g: smoothed (0.75 old + 0.25 new), then to the
  // graphics, which derive the vibrato.
  void accelerometer(float x, float y, float z);
  const std::array<float, 3>& smoothedAcceleration() const { return accel_; }

  // --- States ---
  void transitionToEarth();
  void transitionFromEarth();
  void ToFluvaneView();

  void receiveMsg(int code) override;

  // --- The globe ---
  FlameGlobe& flameGlobe() { return *flameGlobe_; }
  SnippetGlobeViewController& snippetViewController() { return *snippetViewController_; }
  // Wheel notches (positive: away from the player, zooming in).
  void scrollWheel(double notches);
  static constexpr double kPinchScale = 0.002;
  static constexpr double kPointsPerWheelNotch = 20;
  // Names of the touch phases (diagnostics).
  static const char* touchName(platform::ui::TouchPhase phase);

  // --- Touches ---
  void touchesBegan(const platform::ui::Touches& touches) override;
  void touchesMoved(const platform::ui::Touches& touches) override;
  void touchesEnded(const platform::ui::Touches& touches) override;
  void touchesCancelled(const platform::ui::Touches& touches) override;

 private:
  void touchesTest(const platform::ui::Touches& touches);
  void globeTouches(const platform::ui::Touches& touches, platform::ui::TouchPhase phase);
  void removeGlobeOverlay();
  class TuneListener;

  FluvaneGfxBridge* chipBridge_ = nullptr;
  int currentAppState_ = kStateInstrument;
  bool enableRender_ = true;
  bool isPlaying_ = false;
  double animationInterval_ = 1.0 / 30;
  std::array<float, 3> accel_{0, 0, 0};
  std::function<std::array<float, 3>()> accelerometerSource_;
  platform::RunLoop::TimerId timer_ = 0;
  // Fingers down on the view: id to position in the view.
  std::map<int, platform::ui::Point> fingers_;
  std::shared_ptr<TuneListener> tuneListener_;
  std::unique_ptr<FlameGlobe> flameGlobe_;
  std::unique_ptr<SnippetGlobeViewController> snippetViewController_;
};

#endif
