// The instrument's graphics and the input state behind them.
//
// The instrument screen (state 0 of EAGLView) is drawn here: four finger
// holes (five in touch mode, the fifth being the blow area at the top
// left), the breath ripples rising from the mouthpiece at the bottom, the
// recording indicator and a pulsing breath marker. The module also holds
// the input state no view keeps: which holes are covered and their bit
// mask, the breath integral and timer, the touch-to-hole mapping and the
// tilt-to-vibrato mapping. Free functions over module-wide state, as the
// screen is one per process.
//
// The breath marker pulses for ten seconds after the player last changed
// something, then rests, so an instrument left alone has nothing to draw
// (each frame costs a whole software-GL picture).
//
// Coordinates are those of the screen's orthographic projection: x from -1
// (left) to 1, y from -1.5 (bottom) to 1.5 (top). Touches come in points of
// the 320 x 480 screen, x to the right, y up from the bottom edge.
//
// Hole masks: hole 0 = 1 (left, lower in layout 0), 1 = 2 (left, upper),
// 2 = 4 (right, lower), 3 = 8 (right, upper), 4 = 16 (the touch-mode blow
// area). Covering or uncovering a hole tells the engine bridge the new mask,
// except while a recording plays back (then the holes only show it).
//
// Breath: breathControl() is called on the audio thread with each breath
// power the scripts report; the frame (main thread) leaks, compares and
// counts down the same integral and timer. Both are atomics: the audio side
// adds and clamps by compare-exchange and never locks or waits, the main
// side decays and counts down the same way, so no update is lost.
//
// Images: the six flare textures are one-channel Silicon Graphics image
// files ("flare1.bw" .. "flare6.bw" in the resources). loadLuminance()
// reads such a file and trusts nothing in it: the header, the sizes (1 to
// 4096 a side), the run-length tables and every run are checked against the
// file and the row; a bad file (or too little memory) gives null, logged,
// and the hole draws untextured.
//
// Threads: main thread (the GL context's), except breathControl().
#ifndef CLASSES_FLUVANEGFX_H
#define CLASSES_FLUVANEGFX_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "Classes/FluvaneMessages.h"

class MessageHandlerDelegate;

// What the graphics tell the engine bridge (FluvaneChipBridge implements it).
class FluvaneGfxBridge {
 public:
  virtual ~FluvaneGfxBridge() = default;
  virtual void setState(int mask) = 0;
  virtual void setVibratoRate(float rate) = 0;
  virtual void setVibratoDepth(float depth) = 0;
  // 1 instrument, 2 globe or playback (the instrument screen sets it).
  virtual void setFluvaneMode(int mode) = 0;
};

namespace FluvaneGfx {

// Messages to the message handler.
constexpr int kMsgBreathRipple = kFluvaneMsgBreathRipple;
constexpr int kMsgBreathRanDown = kFluvaneMsgBreathRanDown;

constexpr int kHoleCount = 5;   // four holes and the blow area
constexpr int kHoleSlots = 6;
constexpr int kBlowArea = 4;
constexpr int kTextureCount = 6;
constexpr float kBreathMax = 3.0f;
constexpr float kBreathThreshold = 0.2f;
constexpr float kBreathLeak = 0.9f;
constexpr int kBreathTimerFrames = 45;
constexpr int kRipplePause = 16;
// The breath marker pulses this many frames (10 s) after the player's last
// change (a hole covered or opened, a ripple, the layout or the mode),
// then rests at its smallest until the next one.
constexpr int kMarkerPulseFrames = 300;
// A hole whose scale is this close to its target has stopped easing.
constexpr float kSettledScale = 1e-3f;
constexpr int kLargestSide = 4096;
// No SGI file of at most 4096 x 4096 one-byte pixels, with its row tables
// and worst-case packets, is larger.
constexpr std::size_t kLargestImageFile =
    512 + 8u * kLargestSide + 2u * kLargestSide * kLargestSide + kLargestSide;

// A textured quad: a breath ripple, or one of the three parts of a hole.
struct Ripple {
  int texture = 0;  // index into the six textures
  float size = 0;   // edge length
  float alpha = 1;
  float r = 1, g = 1, b = 1;
  float x = 0, y = 0;
  void setColor(float red, float green, float blue, float a);
  void draw() const;
};

class FingerHole {
 public:
  // The hole of an index 0..5; null for any other.
  static FingerHole* get(int index);

  void keyOn();
  void keyOff();
  // Colours the three quads: the hole colour (soft yellow when inverted),
  // the centre at 0.8 of it.
  void setColor(float r, float g, float b);

  Ripple outer, ring, centre;
  float baseSize = 0.5f;
  float currentScale = 1.5f;
  float targetScale = 0.5f;
  float rate = 0.375f;
  int mask = 0;
  bool inverted = false;
  float x = 0, y = 0;
  bool covered = false;
};

// --- Set-up ---
// GL state, the six textures from the resources, the indicator, layout 0,
// the breath marker. Needs a current GL ES 1.1 context.
void initialize();
// Binds the texture name, modulate, the filters; reads the named image of
// the resources with loadLuminance and uploads it as an 8-bit alpha
// texture. False when the image could not be read (the texture stays
// empty).
bool setupTexture(const std::string& imageName, unsigned int texture, int minFilter,
                  int magFilter);
// Back to the state of a fresh process (tests; the GL objects are not
// touched).
void reset();

// --- Images ---
struct Luminance {
  std::unique_ptr<std::uint8_t[]> pixels;  // width * height bytes, rows in file order
  int width = 0;
  int height = 0;
  int channels = 0;
};
// Reads a one-channel SGI image file; pixels null (and logged) on any fault.
Luminance loadLuminance(const std::string& path);
// The same from bytes in memory (no logging; the reason in *error).
Luminance decodeLuminance(const std::uint8_t* data, std::size_t size,
                          std::string* error = nullptr);

// --- Frame ---
// One frame: holes, breath, ripples, indicator, marker (drawing needs the
// context; the screen's projection is set by the caller).
void render();
// The same steps without drawing (the state advances exactly as in
// render()); true when the picture changed since the last frame: a hole
// still easing, a ripple alive (or just gone), the recording indicator, the
// breath marker pulsing, or a colour, layout or mode set since. An
// instrument nobody plays draws nothing.
bool advanceFrame();
// Draws the current state without advancing it (a host that draws more
// often than the 30 Hz frame, or again after a resize).
void drawFrame();

// --- Layout and input ---
void updateLayout();
void setLayoutMode(int layout);
int getQuadrant(int x, int y);
void fluvaneGFXsetTouchMode(bool on);
bool touchMode();
void fluvaneGfxSetMessageHandler(MessageHandlerDelegate* handler);
void setChipBridge(FluvaneGfxBridge* bridge);
// Audio thread: breath power as the scripts report it.
void breathControl(float power);
// Smoothed tilt in g: vibrato rate and depth to the bridge.
void setAccelerometer(float x, float y, float z);
// The vibrato a tilt gives (rate, depth).
struct Vibrato {
  float rate;
  float depth;
};
Vibrato vibratoForTilt(float x, float y);
void setHoleColor(float r, float g, float b);
void setRippleColor(float r, float g, float b);
void setShowRecordingIndicator(bool show);
void gfxSetIsPlaying(bool playing);
bool isPlaying();
void gfxPlaybackStateChangedCallback(int state);

// --- Read-outs (tests, the automation) ---
int state();
float breathIntegral();
int breathTimer();
std::size_t rippleCount();
// The six texture names (0 when not loaded).
unsigned int texture(int index);

}  // namespace FluvaneGfx

#endif
