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
// easing, breath, ripples, messages 4002 and 4007) and asks the host for a
// picture; the host's GL frame calls drawGL(), which draws the current
// state in the screen's projection (x -1..1, y -1.5..1.5). So the
// instrument moves at 30 frames a second however often the host draws, and
// a window with no size (minimised) draws nothing while time goes on.
//
// Touches (state 0, not while a recording plays back): every finger down
// on the view counts, whatever event it came with; each event recomputes
// the five hole flags from all of them (getQuadrant of x and of the height
// minus y, truncated) and switches holes 0..4, in order, whose flag differs
// from their covered state. Every touch-began sends 103 (collapse the
// toolbar) to the message delegate.
//
// Threads: main thread only.
#ifndef CLASSES_EAGLVIEW_H
#define CLASSES_EAGLVIEW_H

#include <array>
#include <cstdint>
#include <functional>
#include <map>

#include "Classes/FluvaneGfx.h"
#include "platform/RunLoop.h"
#include "vxu/_ui/VXUIUtils.h"

class EAGLView : public VXMainView {
 public:
  static constexpr int kStateInstrument = 0;
  static constexpr int kStateGlobe = 1;

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
  // Names of the touch phases (diagnostics).
  static const char* touchName(platform::ui::TouchPhase phase);

  // --- Touches ---
  void touchesBegan(const platform::ui::Touches& touches) override;
  void touchesMoved(const platform::ui::Touches& touches) override;
  void touchesEnded(const platform::ui::Touches& touches) override;
  void touchesCancelled(const platform::ui::Touches& touches) override;

 private:
  void touchesTest(const platform::ui::Touches& touches);

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
};

#endif
