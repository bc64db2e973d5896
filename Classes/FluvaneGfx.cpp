#include "Classes/FluvaneGfx.h"

#include <GLES/gl.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <new>
#include <numbers>
#include <vector>

#include "platform/Paths.h"
#include "vxu/VXLog.h"
#include "vxu/ui/VXUIUtils.h"

namespace FluvaneGfx {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;
constexpr float kTwoPi = 2 * kPi;
constexpr float kRippleGrowth = 1.0608f;
constexpr float kRippleFade = 0.97416f;
constexpr float kRippleLargest = 12.0f;

struct Colour {
  float r, g, b;
};
constexpr Colour kRecordingColour{1, 0, 0};
constexpr Colour kYellow{1, 1, 0.25f};
constexpr Colour kSoftYellow{0.7f, 0.7f, 0.1f};

struct Layout {
  float x, y;
};
// Positions of holes 0..4 by layout (layout 1 is the alternative one).
constexpr Layout kPositions[2][kHoleCount] = {
    {{-0.5f, -0.65f}, {-0.5f, 0.55f}, {0.5f, -0.65f}, {0.5f, 0.55f}, {-0.5f, 1.25f}},
    {{-0.5f, -0.7f}, {-0.5f, 0.5f}, {0.5f, -0.2f}, {0.5f, 0.9f}, {-0.5f, 1.25f}},
};
constexpr float kBaseSizes[kHoleCount] = {0.5f, 0.38f, 0.3f, 0.22f, 0.2f};

// The breath marker: a three-vertex coloured shape that pulses while the
// instrument asks for breath (pulseFrames after the last change of the
// player's), then comes to rest at the pulse's low point.
struct Triforce {
  float x = 0.74f, y = -1.4f;
  float phase = 0;
  float size = 0.1f;
  float alpha = 1;
  int pulseFrames = kMarkerPulseFrames;
  bool resting = false;
  void draw() const;
  // One frame of the pulse; false when the marker stays as it was.
  bool advance();
};

// The two ripple lists: the current one is drawn and grown, the survivors
// go to the next one, then the two swap. Capacity is kept, so a frame
// allocates only when the lists outgrow every earlier frame.
struct RippleCache {
  std::vector<Ripple> lists[2];
  int current = 0;
};

struct State {
  bool isPlaying = false;
  // Something not seen yet changed outside the frame (colours, layout,
  // touch mode, the indicator): the next frame differs.
  bool changed = true;
  FluvaneGfxBridge* bridge = nullptr;
  int state = 0;
  int breathPause = 0;
  int layout = 0;
  bool touchMode = false;
  MessageHandlerDelegate* messageDelegate = nullptr;
  bool showRecordingIndicator = false;
  Colour holeColour{0.5f, 0.5f, 2.0f};
  Colour rippleColour{0.5f, 1.0f, 0.25f};
  std::array<GLuint, kTextureCount> tex{};
  RippleCache cache;
  Ripple recordingDot, recordingWave;
  float recordingPhase = 0;
  Triforce triforce;
  FingerHole holes[kHoleSlots];
};

State& g() {
  static State state;
  return state;
}

// Shared with the audio thread.
std::atomic<float> g_breathIntegral{0};
std::atomic<int> g_breathTimer{0};

std::uint8_t toByte(float v) {
  // Colours above 1 (the hole colour's 2.0) would wrap as bytes: clamp first.
  if (!(v > 0)) return 0;
  if (v >= 1) return 255;
  return static_cast<std::uint8_t>(std::lround(v * 255.0f));
}

void sendMessage(int code) {
  if (MessageHandlerDelegate* handler = g().messageDelegate) handler->receiveMsg(code);
}

// Multiplies the integral by a factor without losing a concurrent add.
void decayBreath(float factor) {
  float value = g_breathIntegral.load(std::memory_order_relaxed);
  while (!g_breathIntegral.compare_exchange_weak(value, value * factor,
                                                  std::memory_order_relaxed)) {
  }
}

// Counts the timer down by one unless the audio side has just set it.
void countDownBreathTimer() {
  int value = g_breathTimer.load(std::memory_order_relaxed);
  while (value > 0 &&
         !g_breathTimer.compare_exchange_weak(value, value - 1, std::memory_order_relaxed)) {
  }
}

bool frame(bool draw, bool advance);

// The player did something: the breath marker pulses again.
void wakeMarker() {
  Triforce& t = g().triforce;
  t.pulseFrames = kMarkerPulseFrames;
  t.resting = false;
}

}  // namespace

// --- Quads ---

void Ripple::setColor(float red, float green, float blue, float a) {
  r = red;
  g = green;
  b = blue;
  alpha = a;
}

void Ripple::draw() const {
  const float h = size / 2;
  const GLfloat vertices[] = {x - h, y - h, x + h, y - h, x - h, y + h, x + h, y + h};
  static const GLfloat kTexCoords[] = {0, 0, 1, 0, 0, 1, 1, 1};
  const std::uint8_t c[4] = {toByte(r), toByte(g), toByte(b), toByte(alpha)};
  GLubyte colours[16];
  for (int i = 0; i < 4; i++) std::copy(c, c + 4, colours + 4 * i);
  glBindTexture(GL_TEXTURE_2D, FluvaneGfx::g().tex[static_cast<std::size_t>(texture) % 6]);
  glVertexPointer(2, GL_FLOAT, 0, vertices);
  glTexCoordPointer(2, GL_FLOAT, 0, kTexCoords);
  glColorPointer(4, GL_UNSIGNED_BYTE, 0, colours);
  glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

bool Triforce::advance() {
  if (resting) return false;
  const float before = phase;
  phase += 0.16f;
  if (pulseFrames > 0) {
    pulseFrames--;
  } else if (std::floor(before / kPi) != std::floor(phase / kPi)) {
    // The pulse's low point (|sin| = 0): it rests there.
    phase = std::floor(phase / kPi) * kPi;
    resting = true;
  }
  const float c = resting ? 0.0f : std::fabs(std::sin(phase));
  size = 0.1f + 0.1f * c;
  alpha = 1 - 0.5f * c;
  return true;
}

void Triforce::draw() const {
  // A triangle pointing up, its centre on (x, y).
  const float h = size;
  const GLfloat vertices[] = {x - h * 0.866f, y - h * 0.5f, x + h * 0.866f, y - h * 0.5f, x,
                              y + h};
  const std::uint8_t c[4] = {toByte(kYellow.r), toByte(kYellow.g), toByte(kYellow.b),
                             toByte(alpha)};
  GLubyte colours[12];
  for (int i = 0; i < 3; i++) std::copy(c, c + 4, colours + 4 * i);
  glVertexPointer(2, GL_FLOAT, 0, vertices);
  glColorPointer(4, GL_UNSIGNED_BYTE, 0, colours);
  glDrawArrays(GL_TRIANGLES, 0, 3);
}

// --- Holes ---

FingerHole* FingerHole::get(int index) {
  if (index < 0 || index >= kHoleSlots) return nullptr;
  return &g().holes[index];
}

void FingerHole::keyOn() {
  if (covered) return;
  covered = true;
  wakeMarker();
  targetScale = inverted ? 0.5f : 1.1f;
  State& s = g();
  if (!s.isPlaying) {
    s.state |= mask;
    if (s.bridge) s.bridge->setState(s.state);
  }
}

void FingerHole::keyOff() {
  if (!covered) return;
  covered = false;
  wakeMarker();
  targetScale = inverted ? 1.1f : 0.5f;
  State& s = g();
  if (!s.isPlaying) {
    s.state &= ~mask;
    if (s.bridge) s.bridge->setState(s.state);
  }
}

void FingerHole::setColor(float r, float g, float b) {
  const Colour c = inverted ? kSoftYellow : Colour{r, g, b};
  outer.setColor(c.r, c.g, c.b, 1);
  ring.setColor(c.r, c.g, c.b, 1);
  centre.setColor(c.r * 0.8f, c.g * 0.8f, c.b * 0.8f, 1);
}

// --- Set-up ---

void reset() {
  g() = State();
  g_breathIntegral.store(0);
  g_breathTimer.store(0);
  updateLayout();
}

bool setupTexture(const std::string& imageName, unsigned int texture, int minFilter,
                  int magFilter) {
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, minFilter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, magFilter);
  VX_logf("loading %s:", imageName.c_str());
  Luminance image =
      loadLuminance(platform::Paths::join(platform::Paths::resources(), imageName));
  VX_logf(" %dx%dx%d\n", image.width, image.height, image.channels);
  if (!image.pixels) return false;
  glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA, image.width, image.height, 0, GL_ALPHA,
               GL_UNSIGNED_BYTE, image.pixels.get());
  return true;
}

void initialize() {
  State& s = g();
  glClearColor(0, 0, 0, 1);
  glLineWidth(1);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glGenTextures(kTextureCount, s.tex.data());
  for (int i = 0; i < kTextureCount; i++) {
    char name[32];
    std::snprintf(name, sizeof name, "flare%d.bw", i + 1);
    setupTexture(name, s.tex[static_cast<std::size_t>(i)], GL_LINEAR, GL_LINEAR);
  }
  // The recording indicator: a red dot and a red wave around it.
  s.recordingDot.texture = 0;
  s.recordingDot.setColor(kRecordingColour.r, kRecordingColour.g, kRecordingColour.b, 1);
  s.recordingDot.x = -0.83f;
  s.recordingDot.y = -1.33f;
  s.recordingDot.size = 0.2f;
  s.recordingWave = s.recordingDot;
  s.recordingWave.texture = 5;
  s.recordingPhase = 0;
  s.layout = 0;
  updateLayout();
  s.triforce = Triforce();
}

// --- Images ---

Luminance loadLuminance(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    VX_logf("loadLuminance: cannot open %s\n", path.c_str());
    return {};
  }
  in.seekg(0, std::ios::end);
  const std::streamoff length = in.tellg();
  if (length < 0 || static_cast<std::uint64_t>(length) > kLargestImageFile) {
    VX_logf("loadLuminance: %s: not a usable size\n", path.c_str());
    return {};
  }
  std::vector<std::uint8_t> bytes;
  try {
    bytes.resize(static_cast<std::size_t>(length));
  } catch (const std::bad_alloc&) {
    VX_logf("loadLuminance: %s: out of memory\n", path.c_str());
    return {};
  }
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), length);
  if (!in) {
    VX_logf("loadLuminance: cannot read %s\n", path.c_str());
    return {};
  }
  std::string error;
  Luminance image = decodeLuminance(bytes.data(), bytes.size(), &error);
  if (!image.pixels) VX_logf("loadLuminance: %s: %s\n", path.c_str(), error.c_str());
  return image;
}

// --- Frame ---

namespace {

bool frame(bool draw, bool advance) {
  State& s = g();
  bool changed = s.changed;
  if (advance) s.changed = false;
  if (draw) {
    // The frame sets all it relies on: whatever drew before (the globe, the
    // kit's views, a help page's capture) may have left other state.
    glEnable(GL_TEXTURE_2D);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glShadeModel(GL_FLAT);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
  }

  // Holes.
  const int holes = s.touchMode ? kHoleCount : kHoleCount - 1;
  for (int i = 0; i < holes; i++) {
    FingerHole& h = s.holes[i];
    h.setColor(s.holeColour.r, s.holeColour.g, s.holeColour.b);
    if (advance && std::fabs(h.targetScale - h.currentScale) > kSettledScale) {
      h.currentScale += (h.targetScale - h.currentScale) * h.rate;
      changed = true;
    }
    h.centre.size = 2 * h.baseSize * h.currentScale;
    if (draw) {
      glPushMatrix();
      glTranslatef(h.x, h.y, 0);
      h.outer.draw();
      h.ring.draw();
      h.centre.draw();
      glPopMatrix();
    }
  }

  RippleCache& cache = s.cache;
  if (advance) {
    // Breath.
    if (s.breathPause > 0) {
      s.breathPause--;
    } else if (g_breathIntegral.load(std::memory_order_relaxed) > kBreathThreshold) {
      Ripple ripple;
      ripple.texture = 5;
      ripple.size = 0.08f;
      ripple.setColor(s.rippleColour.r, s.rippleColour.g, s.rippleColour.b, 1);
      ripple.x = 0;
      ripple.y = -1.35f;
      cache.lists[cache.current].push_back(ripple);
      s.breathPause = kRipplePause;
      wakeMarker();
      if (g_breathTimer.load(std::memory_order_relaxed) > 1) sendMessage(kMsgBreathRipple);
    }
    if (g_breathTimer.load(std::memory_order_relaxed) == 1) sendMessage(kMsgBreathRanDown);
    countDownBreathTimer();
    decayBreath(kBreathLeak);

    // Ripples: grown and drawn; the ones still on screen go to the next list.
    std::vector<Ripple>& now = cache.lists[cache.current];
    std::vector<Ripple>& next = cache.lists[1 - cache.current];
    // Ripples grow while they live; the frame after the last one goes, it
    // is gone from the picture.
    if (!now.empty()) changed = true;
    next.clear();
    for (Ripple& r : now) {
      r.size *= kRippleGrowth;
      r.alpha *= kRippleFade;
      if (draw) r.draw();
      if (r.size < kRippleLargest) next.push_back(r);
    }
    now.clear();
    cache.current = 1 - cache.current;
  } else if (draw) {
    for (const Ripple& r : cache.lists[cache.current]) r.draw();
  }

  // Recording indicator.
  if (s.showRecordingIndicator) {
    if (advance) {
      changed = true;
      s.recordingPhase += 0.1f;
      if (s.recordingPhase > kTwoPi) s.recordingPhase -= kTwoPi;
      s.recordingDot.size = 0.2f + 0.05f * std::sin(s.recordingPhase);
      s.recordingWave.size = 0.2f * s.recordingPhase;
      const float size = s.recordingWave.size;
      s.recordingWave.setColor(kRecordingColour.r, kRecordingColour.g, kRecordingColour.b,
                               size <= 0.1f ? 1.0f : std::max(0.0f, 1 - (size - 0.1f) * 1.2f));
    }
    if (draw) {
      s.recordingDot.draw();
      s.recordingWave.draw();
    }
  }

  if (draw) {
    glDisable(GL_TEXTURE_2D);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  }
  // The breath marker asks for breath while breath is the way to play.
  if (!s.touchMode) {
    Triforce& t = s.triforce;
    if (advance && t.advance()) changed = true;
    if (draw) t.draw();
  }
  if (draw) {
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
  }
  return changed;
}

}  // namespace

void render() { frame(true, true); }
bool advanceFrame() { return frame(false, true); }
void drawFrame() { frame(true, false); }

// --- Layout and input ---

void updateLayout() {
  State& s = g();
  const int layout = s.layout == 1 ? 1 : 0;
  for (int i = 0; i < kHoleCount; i++) {
    FingerHole& h = s.holes[i];
    h.x = kPositions[layout][i].x;
    h.y = kPositions[layout][i].y;
    h.mask = 1 << i;
    h.inverted = i == kBlowArea;
    h.baseSize = kBaseSizes[i];
    h.outer.texture = 2;
    h.outer.size = 0.85f * h.baseSize;
    h.ring.texture = 3;
    h.ring.size = h.baseSize;
    h.centre.texture = 3;
    h.centre.size = 2 * h.baseSize * h.currentScale;
    h.setColor(s.holeColour.r, s.holeColour.g, s.holeColour.b);
  }
}

void setLayoutMode(int layout) {
  g().layout = layout;
  updateLayout();
  g().changed = true;
  wakeMarker();
}

int getQuadrant(int x, int y) {
  const State& s = g();
  if (s.touchMode && x < 160 && y > 400) return kBlowArea;
  if (s.layout == 1) {
    if (x >= 160) return y < 298 ? 2 : 3;
    return y <= 232 ? 0 : 1;
  }
  if (x >= 160) return y >= 240 ? 3 : 2;
  return y >= 240 ? 1 : 0;
}

void fluvaneGFXsetTouchMode(bool on) {
  g().touchMode = on;
  g().changed = true;
  wakeMarker();
}
bool touchMode() { return g().touchMode; }
void fluvaneGfxSetMessageHandler(MessageHandlerDelegate* handler) {
  g().messageDelegate = handler;
}
void setChipBridge(FluvaneGfxBridge* bridge) { g().bridge = bridge; }

void breathControl(float power) {
  // Audio thread: add and clamp without a lock; a lost race retries with
  // the value the other side left.
  if (!std::isfinite(power)) return;
  float value = g_breathIntegral.load(std::memory_order_relaxed);
  float next;
  do {
    next = std::min(value + power, kBreathMax);
  } while (!g_breathIntegral.compare_exchange_weak(value, next, std::memory_order_relaxed));
  if (power > 0.1f) g_breathTimer.store(kBreathTimerFrames, std::memory_order_relaxed);
}

Vibrato vibratoForTilt(float x, float y) {
  Vibrato v;
  v.rate = 2.0f + ((x + 1.2f) / 2.4f) * 6.0f;
  v.depth = (y + 0.5f) / 2.4f;
  if (v.depth < 0) v.depth = 0;
  return v;
}

void setAccelerometer(float x, float y, float /*z*/) {
  const Vibrato v = vibratoForTilt(x, y);
  if (FluvaneGfxBridge* bridge = g().bridge) {
    bridge->setVibratoRate(v.rate);
    bridge->setVibratoDepth(v.depth);
  }
}

void setHoleColor(float r, float g_, float b) {
  g().holeColour = {r, g_, b};
  g().changed = true;
}
void setRippleColor(float r, float g_, float b) { g().rippleColour = {r, g_, b}; }
void setShowRecordingIndicator(bool show) {
  if (g().showRecordingIndicator != show) g().changed = true;
  g().showRecordingIndicator = show;
}
void gfxSetIsPlaying(bool playing) { g().isPlaying = playing; }
bool isPlaying() { return g().isPlaying; }

void gfxPlaybackStateChangedCallback(int state) {
  State& s = g();
  if (!s.isPlaying) return;
  for (int i = 0; i < kHoleCount; i++) {
    FingerHole& h = s.holes[i];
    const bool cover = state >= 0 && (state & h.mask) != 0;
    if (state < 0 && !h.covered) continue;
    h.covered = cover;
    h.targetScale = (cover != h.inverted) ? 1.1f : 0.5f;
  }
}

// --- Read-outs ---

int state() { return g().state; }
float breathIntegral() { return g_breathIntegral.load(); }
int breathTimer() { return g_breathTimer.load(); }
std::size_t rippleCount() { return g().cache.lists[g().cache.current].size(); }
unsigned int texture(int index) {
  if (index < 0 || index >= kTextureCount) return 0;
  return g().tex[static_cast<std::size_t>(index)];
}

}  // namespace FluvaneGfx
