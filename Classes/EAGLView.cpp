#include "Classes/EAGLView.h"

#include <GLES/gl.h>

#include <cmath>
#include <memory>

#include "platform/gfx/GLHost.h"

using platform::ui::Point;
using platform::ui::Rect;
using platform::ui::Touch;
using platform::ui::TouchPhase;
using platform::ui::Touches;

EAGLView::EAGLView(const Rect& frame) : VXMainView(frame) {
  setMultipleTouchEnabled(true);
  if (platform::gfx::hasCurrentContext()) FluvaneGfx::initialize();
}

EAGLView::~EAGLView() { stopAnimation(); }

void EAGLView::setChipBridge(FluvaneGfxBridge* bridge) {
  chipBridge_ = bridge;
  if (chipBridge_) chipBridge_->setFluvaneMode(currentAppState_ == kStateGlobe ? 2 : 1);
}

void EAGLView::setPlayback(bool playing) {
  isPlaying_ = playing;
  FluvaneGfx::gfxSetIsPlaying(playing);
}

void EAGLView::setRecording(bool recording) { FluvaneGfx::setShowRecordingIndicator(recording); }

// --- Frames ---

void EAGLView::setAnimationInterval(double seconds) {
  animationInterval_ = seconds;
  if (timer_) {
    stopAnimation();
    startAnimation();
  }
}

void EAGLView::startAnimation() {
  stopAnimation();
  // The view outlives its timer: the destructor stops it.
  timer_ = platform::RunLoop::main().addTimer(animationInterval_, true, [this] { drawView(); });
}

void EAGLView::stopAnimation() {
  if (timer_) platform::RunLoop::main().cancel(timer_);
  timer_ = 0;
}

void EAGLView::accelerometer(float x, float y, float z) {
  const float sample[3] = {x, y, z};
  for (int i = 0; i < 3; i++) {
    float s = std::isfinite(sample[i]) ? sample[i] : 0.0f;
    accel_[static_cast<std::size_t>(i)] = 0.75f * accel_[static_cast<std::size_t>(i)] + 0.25f * s;
  }
  FluvaneGfx::setAccelerometer(accel_[0], accel_[1], accel_[2]);
}

void EAGLView::drawView() {
  if (accelerometerSource_) {
    const std::array<float, 3> a = accelerometerSource_();
    accelerometer(a[0], a[1], a[2]);
  }
  if (currentAppState_ == kStateInstrument) FluvaneGfx::advanceFrame();
  platform::ui::View::markScreenChanged();
}

void EAGLView::drawGL() {
  if (currentAppState_ != kStateInstrument) return;  // the globe draws itself
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrthof(-1, 1, -1.5f, 1.5f, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_LIGHTING);
  glDisable(GL_CULL_FACE);
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_COLOR_ARRAY);
  FluvaneGfx::drawFrame();
  glShadeModel(GL_SMOOTH);
  glDisable(GL_BLEND);
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
}

// --- States ---

void EAGLView::transitionToEarth() {
  if (msgDelegate) msgDelegate->receiveMsg(103);
  currentAppState_ = kStateGlobe;
  setAnimationInterval(1.0 / 30);
  if (chipBridge_) chipBridge_->setFluvaneMode(2);
}

void EAGLView::transitionFromEarth() {
  if (msgDelegate) msgDelegate->receiveMsg(103);
  currentAppState_ = kStateInstrument;
  setAnimationInterval(1.0 / 30);
  if (chipBridge_) chipBridge_->setFluvaneMode(1);
}

void EAGLView::ToFluvaneView() {
  currentAppState_ = kStateInstrument;
  if (chipBridge_) chipBridge_->setFluvaneMode(1);
}

void EAGLView::receiveMsg(int code) {
  switch (code) {
    case 0:
      return;
    case 1001:
      transitionFromEarth();
      if (msgDelegate) msgDelegate->receiveMsg(4001);
      if (msgDelegate) msgDelegate->receiveMsg(1001);
      return;
    case 1002:
      transitionToEarth();
      if (msgDelegate) msgDelegate->receiveMsg(4001);
      if (msgDelegate) msgDelegate->receiveMsg(1002);
      return;
    default:
      if (msgDelegate) msgDelegate->receiveMsg(code);
  }
}

const char* EAGLView::touchName(TouchPhase phase) {
  switch (phase) {
    case TouchPhase::Began: return "Began";
    case TouchPhase::Moved: return "Moved";
    case TouchPhase::Stationary: return "Stat";
    case TouchPhase::Ended: return "Ended";
    case TouchPhase::Cancelled: return "Cancel";
  }
  return "???";
}

// --- Touches ---

void EAGLView::touchesTest(const Touches& touches) {
  for (const Touch* t : touches) {
    if (t->phase == TouchPhase::Ended || t->phase == TouchPhase::Cancelled) {
      fingers_.erase(t->id);
    } else {
      fingers_[t->id] = t->locationIn(this);
    }
  }
  if (currentAppState_ != kStateInstrument || isPlaying_) return;
  bool flags[FluvaneGfx::kHoleCount] = {};
  const double height = bounds().size.height;
  for (const auto& [id, p] : fingers_) {
    const int hole = FluvaneGfx::getQuadrant(static_cast<int>(p.x),
                                             static_cast<int>(height - p.y));
    if (hole >= 0 && hole < FluvaneGfx::kHoleCount) flags[hole] = true;
  }
  for (int i = 0; i < FluvaneGfx::kHoleCount; i++) {
    FluvaneGfx::FingerHole* hole = FluvaneGfx::FingerHole::get(i);
    if (flags[i] == hole->covered) continue;
    if (flags[i]) {
      hole->keyOn();
    } else {
      hole->keyOff();
    }
  }
}

void EAGLView::touchesBegan(const Touches& touches) {
  touchesTest(touches);
  if (msgDelegate) {
    for (const Touch* t : touches) {
      if (t->phase == TouchPhase::Began) msgDelegate->receiveMsg(103);
    }
  }
}

void EAGLView::touchesMoved(const Touches& touches) { touchesTest(touches); }
void EAGLView::touchesEnded(const Touches& touches) { touchesTest(touches); }
void EAGLView::touchesCancelled(const Touches& touches) { touchesTest(touches); }
