#include "Classes/EAGLView.h"

#include <GLES/gl.h>

#include <cmath>
#include <memory>

#include "Classes/FluvaneChipBridge.h"
#include "Classes/FluvaneStats.h"
#include "platform/gfx/GLHost.h"
#include "platform/ui/AlertView.h"

using platform::ui::Point;
using platform::ui::Rect;
using platform::ui::Touch;
using platform::ui::TouchPhase;
using platform::ui::Touches;

// Hears the played tune for the globe (the bridge keeps it weakly).
class EAGLView::TuneListener : public FluvaneChipBridgeCallback {
 public:
  explicit TuneListener(FlameGlobe* globe) : globe_(globe) {}
  void finishedPlayingTune() override {
    if (globe_) globe_->finishedPlayingTune();
  }
  void playedNote(int note) override {
    if (globe_) globe_->playedNote(note);
  }
  FlameGlobe* globe_;
};

EAGLView::EAGLView(const Rect& frame) : VXMainView(frame) {
  setMultipleTouchEnabled(true);
  const bool gl = platform::gfx::hasCurrentContext();
  if (gl) FluvaneGfx::initialize();
  FlameGlobeServices services = FlameGlobeServices::standard();
  services.playTune = [this](const std::string& packet) {
    if (auto* bridge = dynamic_cast<FluvaneChipBridge*>(chipBridge_)) {
      bridge->playTune(std::vector<std::uint8_t>(packet.begin(), packet.end()), tuneListener_);
    }
  };
  services.stopTune = [this] {
    if (auto* bridge = dynamic_cast<FluvaneChipBridge*>(chipBridge_)) bridge->stopTune();
  };
  services.snippetListened = [] {
    FluvaneStats::defaultFluvaneStats().incrementSnippetsListened();
  };
  flameGlobe_ = std::make_unique<FlameGlobe>(std::move(services), gl);
  tuneListener_ = std::make_shared<TuneListener>(flameGlobe_.get());
  flameGlobe_->setUnreachableHandler([] {
    auto alert = std::make_shared<platform::ui::AlertView>(
        platform::ui::AlertStyle::Alert, "Network Error",
        "Unable to connect to the Vexel Globe. Please check your network settings.",
        std::nullopt, std::vector<std::string>{"Ok"}, [](int) {});
    alert->show();
  });
  snippetViewController_ = std::make_unique<SnippetGlobeViewController>();
}

EAGLView::~EAGLView() {
  stopAnimation();
  removeGlobeOverlay();
  tuneListener_->globe_ = nullptr;
  flameGlobe_.reset();
}

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
  bool changed = false;
  if (currentAppState_ == kStateInstrument) changed = FluvaneGfx::advanceFrame();
  if (currentAppState_ == kStateGlobe) {
    changed = flameGlobe_->update(enableRender_ ? 1.0f : 30.0f) && enableRender_;
  }
  if (changed) platform::ui::View::markScreenChanged();
}

void EAGLView::drawGL() {
  if (currentAppState_ == kStateGlobe) {
    if (!enableRender_) return;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glFrontFace(GL_CCW);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glDisable(GL_ALPHA_TEST);
    flameGlobe_->render();
    // The kit composites its views after this frame in its own state.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    return;
  }
  if (currentAppState_ != kStateInstrument) return;
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
  platform::ui::View::markScreenChanged();
  if (msgDelegate) msgDelegate->receiveMsg(kVXMsgCollapseToolbar);
  flameGlobe_->startZoomOut();
  snippetViewController_->setGlobe(flameGlobe_.get());
  flameGlobe_->setSnippetViewController(snippetViewController_.get());
  if (snippetViewController_->view()->superview() != this) {
    addSubview(snippetViewController_->view());
  }
  currentAppState_ = kStateGlobe;
  setAnimationInterval(1.0 / 30);
  FluvaneStats& stats = FluvaneStats::defaultFluvaneStats();
  stats.setGlobeViews(stats.globeViews() + 1);
  if (chipBridge_) chipBridge_->setFluvaneMode(2);
}

void EAGLView::removeGlobeOverlay() {
  if (snippetViewController_ && snippetViewController_->viewIfLoaded()) {
    snippetViewController_->viewIfLoaded()->removeFromSuperview();
  }
}

void EAGLView::transitionFromEarth() {
  platform::ui::View::markScreenChanged();
  removeGlobeOverlay();
  if (msgDelegate) msgDelegate->receiveMsg(kVXMsgCollapseToolbar);
  flameGlobe_->globeExit();
  currentAppState_ = kStateInstrument;
  setAnimationInterval(1.0 / 30);
  if (chipBridge_) chipBridge_->setFluvaneMode(1);
}

void EAGLView::ToFluvaneView() {
  platform::ui::View::markScreenChanged();
  removeGlobeOverlay();
  flameGlobe_->globeExit();
  currentAppState_ = kStateInstrument;
  if (chipBridge_) chipBridge_->setFluvaneMode(1);
}

void EAGLView::scrollWheel(double notches) {
  if (currentAppState_ != kStateGlobe || !std::isfinite(notches)) return;
  flameGlobe_->scaleGlobe(static_cast<float>(notches * kPointsPerWheelNotch * kPinchScale));
}

void EAGLView::globeTouches(const Touches& touches, TouchPhase phase) {
  if (touches.empty()) return;
  const Touch* t = touches.front();
  const float dx = static_cast<float>(t->previousLocation.x - t->location.x);
  const float dy = static_cast<float>(t->previousLocation.y - t->location.y);
  switch (phase) {
    case TouchPhase::Began:
      flameGlobe_->setRotationSpeedX(0, 0);
      if (touches.size() == 1 && t->tapCount == 2) {
        flameGlobe_->doubleTapEventAt(static_cast<float>(t->location.x),
                                      static_cast<float>(t->location.y));
      }
      break;
    case TouchPhase::Moved:
      if (touches.size() == 1) {
        flameGlobe_->setRotationSpeedX(0, 0);
        flameGlobe_->rotateX(dx, dy);
      } else if (touches.size() == 2) {
        const Touch* u = touches[1];
        const double now = std::hypot(t->location.x - u->location.x, t->location.y - u->location.y);
        const double before = std::hypot(t->previousLocation.x - u->previousLocation.x,
                                         t->previousLocation.y - u->previousLocation.y);
        flameGlobe_->scaleGlobe(static_cast<float>((now - before) * kPinchScale));
      }
      break;
    case TouchPhase::Ended:
      if (touches.size() == 1) flameGlobe_->setRotationSpeedX(dx, dy);
      break;
    default:
      break;
  }
}

void EAGLView::receiveMsg(int code) {
  switch (code) {
    case 0:
      return;
    case kVXMsgLeaveGlobe:
      transitionFromEarth();
      if (msgDelegate) msgDelegate->receiveMsg(kFluvaneMsgCloseSettings);
      if (msgDelegate) msgDelegate->receiveMsg(kVXMsgLeaveGlobe);
      return;
    case kMsgToggleGlobe:
      receiveMsg(currentAppState_ == kStateGlobe ? kVXMsgLeaveGlobe : kVXMsgGoToGlobe);
      return;
    case kVXMsgGoToGlobe:
      transitionToEarth();
      if (msgDelegate) msgDelegate->receiveMsg(kFluvaneMsgCloseSettings);
      if (msgDelegate) msgDelegate->receiveMsg(kVXMsgGoToGlobe);
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
  if (currentAppState_ == kStateGlobe) globeTouches(touches, TouchPhase::Began);
  if (msgDelegate) {
    for (const Touch* t : touches) {
      if (t->phase == TouchPhase::Began) msgDelegate->receiveMsg(kVXMsgCollapseToolbar);
    }
  }
}

void EAGLView::touchesMoved(const Touches& touches) {
  touchesTest(touches);
  if (currentAppState_ == kStateGlobe) globeTouches(touches, TouchPhase::Moved);
}
void EAGLView::touchesEnded(const Touches& touches) {
  touchesTest(touches);
  if (currentAppState_ == kStateGlobe) globeTouches(touches, TouchPhase::Ended);
}
void EAGLView::touchesCancelled(const Touches& touches) { touchesTest(touches); }
