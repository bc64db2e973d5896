// The xxx module: the multichannel classes' registration and the module's
// small self-contained generators.
//
// The multichannel classes (UGen_Multi, UGen_Stereo, DAC, ADC, Pan2, Mix2,
// Gain) live with the machine (chip/vm/ugen_multi.h); xxx_query registers
// them first of its classes.
//
// The other classes are mono (one in, one out):
//   Noise     white noise, uniform in [-1, 1], from the C library's rand().
//   CNoise    selectable noises: "white"; "pink" (rows of random values
//             renewed at octave-spaced rates, the Voss-McCartney scheme);
//             "flip" (one random bit of a word toggled per sample); "xor"
//             (each bit toggled with probability `fprob`); "brown" and "fbm"
//             are accepted names that output silence.
//   Impulse   one sample of `next` after each `next(v)`, zeros otherwise.
//   Step      `next` on every sample.
//   HalfRect  max(x, 0);  FullRect  |x|.
//   DelayP    a delay line whose write head moves with the delay: a delay
//             change glides linearly over `window` samples, and the head
//             spreads each input over the positions it passes (softer the
//             faster it moves), so a gliding delay bends pitch smoothly
//             instead of clicking.
//   Dyno      a dynamics processor: a peak detector with attack and release
//             drives a gain law of two slopes around a threshold; presets
//             limit, compress, gate, expand and duck (the last listens to an
//             external side input).
//
// Design. The behaviour lives in the plain classes below (CNoise_Obj,
// Impulse_Obj, Step_Obj, DelayP_Obj, Dyno_Obj, derived from Frame_Obj), which
// build and test without a machine: a constructor, setters that store their
// value after its clamp and compute what depends on it, getters and a
// per-sample tick. Noise, HalfRect and FullRect have no state: their ticks
// are the plain functions white_noise_sample, half_rect and full_rect. Each
// language class is one row of the binding frame (chip/vm/ugen_frame.h),
// which makes its native functions; the stateful ones keep their object in
// a hidden member ("@cnoise_data", "@impulse_data", "@step_data",
// "@delayp_data", "@dyno_data"). Properties are setter/getter pairs; CNoise's
// `mode(string)` and `fprob(float)` are methods that answer nothing (as they
// always have), Dyno's presets are methods without arguments, and DelayP
// accepts every parameter message. xxx_query registers first the deprecated
// lower-case names of the module, then the multichannel classes, then Noise,
// CNoise, Impulse, Step, HalfRect, FullRect, DelayP and Dyno.
//
// Parameters are sanitised where a raw value would hurt: no setter value
// (huge, negative, NaN or infinite) can make a tick loop without end, index
// outside a buffer or leave an object in a state that later sane values do
// not repair.
//
// Threads: registration runs on the thread that starts the engine, before
// any script; constructors, ticks and member functions run on the machine's
// thread.
#ifndef CHIP_UGEN_XXX_H
#define CHIP_UGEN_XXX_H

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/frame_object.h"

// Byte offsets of the hidden members that hold the native objects; -1 until
// registered.
extern t_CPWORD cnoise_offset_data;
extern t_CPWORD impulse_offset_data;
extern t_CPWORD step_offset_data;
extern t_CPWORD delayp_offset_data;
extern t_CPWORD dyno_offset_data;

// The module's query: copies QUERY's sample rate, registers the classes
// above in the global namespace of the environment (Chip_Env::instance) and
// sets the offsets. TRUE on success; FALSE (the import interface printed
// why) when a class cannot be registered.
// It ends by registering LiSa (lisa_query, chip/lib/ugen_lisa.h) and
// returns that result.
t_CPBOOL xxx_query(Chip_DL_Query* QUERY);
// Clears the multichannel types and every offset (for an environment that
// is shut down).
void xxx_forget_types();

// ---------------------------------------------------------------------------
// The stateless generators' samples (the ticks of Noise, HalfRect and
// FullRect).

// One uniform sample in [-1, 1] from rand().
SAMPLE white_noise_sample();
// max(x, 0): 0 for NaN.
inline SAMPLE half_rect(SAMPLE x) { return x > 0.0f ? x : 0.0f; }
// |x|.
inline SAMPLE full_rect(SAMPLE x) { return std::fabs(x); }

// ---------------------------------------------------------------------------
// CNoise

// CNoise modes.
enum { CNOISE_WHITE = 0, CNOISE_PINK, CNOISE_BROWN, CNOISE_FBM, CNOISE_FLIP, CNOISE_XOR };

class CNoise_Obj : public Frame_Obj {
 public:
  // Pink.
  CNoise_Obj();

  // Selects the mode of that name: "white", "pink", "brown", "fbm", "flip",
  // "xor"; false, changing nothing, for any other text.
  bool setMode(const std::string& name);
  // Selects a mode (CNOISE_...): every mode scales rand()'s range onto
  // [-1, 1]; pink sums depth + 1 values, so its scale shrinks accordingly.
  void select(int32_t which);
  // fprob = p x 2147483647, cut to the int range (NaN: 0).
  void setFprob(double p);
  // One sample of the current mode (the input is not used).
  SAMPLE tick();

  // Pink: the sample counter whose lowest set bit picks the row to renew.
  // Unsigned, so it wraps after 2^32 samples; a counter of 0 renews no row.
  uint32_t counter = 1;
  std::unique_ptr<int32_t[]> dice;  // `depth` rows of rand() values, made on the first pink sample
  int32_t depth = 24;
  bool rand_counter = false;  // re-draw the counter from rand() after each pink sample
  int32_t fbits = 31;         // bits of the flip and xor words
  double scale = 2.0 / 2147483647.0;
  double bias = -1.0;
  int64_t sum = 0;           // pink: sum of the rows (up to depth x 2^31, beyond 32 bits)
  uint32_t bits = 0;         // flip and xor: the current bit word
  int32_t fprob = 67108863;  // xor: a bit toggles when rand() <= fprob (1/32)
  int32_t mode = CNOISE_PINK;

 private:
  SAMPLE pink();
};

// ---------------------------------------------------------------------------
// Impulse and Step

class Impulse_Obj : public Frame_Obj {
 public:
  // Stores v (as a sample) and has the next tick output it; the stored value.
  SAMPLE setNext(double v) {
    next = static_cast<SAMPLE>(v);
    pending = true;
    return next;
  }
  // The pending value, or 0 (then nothing is pending).
  SAMPLE tick() {
    const SAMPLE out = pending ? next : 0.0f;
    pending = false;
    return out;
  }

  SAMPLE next = 1.0f;
  bool pending = false;
};

class Step_Obj : public Frame_Obj {
 public:
  // Stores v (as a sample), output from the next tick on; the stored value.
  SAMPLE setNext(double v) { return value = static_cast<SAMPLE>(v); }
  SAMPLE tick() const { return value; }

  SAMPLE value = 1.0f;
};

// ---------------------------------------------------------------------------
// DelayP

// Longest DelayP line, in samples: `max` beyond it is cut to it.
const int32_t DELAYP_MAX_SIZE = 1 << 24;

class DelayP_Obj : public Frame_Obj {
 public:
  // A line of two seconds at srate (at least one sample, at most the
  // longest line); without a line (it could not be had, which is logged)
  // the object outputs silence.
  explicit DelayP_Obj(t_CPUINT srate);

  // Starts a glide from the delay in force to `delay` samples over the
  // window; NaN changes nothing, a negative delay is 0, and one beyond the
  // line is refused with a message. Answers the delay in force before it.
  double setDelay(double delay);
  // The delay applied at the last tick.
  double delay() const { return last_delay; }
  // The glide's duration, a finite number of samples of 0 or more (other
  // values change nothing); answers the window.
  double setWindow(double window);
  // A new line of `max` samples (rounded, at most DELAYP_MAX_SIZE), cleared,
  // when its length changes; max of one sample or less (or NaN) changes
  // nothing. Answers the line's length.
  double setMax(double max);
  double maxDelay() const { return size; }
  SAMPLE tick(SAMPLE in);

  std::unique_ptr<SAMPLE[]> buffer;
  int32_t size = 0;          // samples in buffer, at least 1
  double position = 0.0;     // read position, in [0, size)
  double current = 0.0;      // delay applied at this tick
  double start = 0.0;        // delay at the start of a change
  double target = 0.0;       // delay being approached
  double remaining = 0.0;    // ticks until the change completes
  double window = 1.0;       // duration of a change, in samples
  SAMPLE last_input = 0.0f;  // input of the previous tick
  double last_delay = 0.0;   // delay of the previous tick
};

// ---------------------------------------------------------------------------
// Dyno

// The coefficient of a detector time of t samples: 1 - exp(-2.2 / t); a time
// of 0, below 0 or NaN is instantaneous (1).
double dyno_coefficient(double t);
// The time (samples) of a coefficient: -2.2 / ln(1 - c); infinite for 0.
double dyno_time(double c);

class Dyno_Obj : public Frame_Obj {
 public:
  // Samples per millisecond of the preset times: the runtime's default rate
  // (44100) over 1000, whatever rate the engine runs at.
  static constexpr double ms = 44100.0 / 1000.0;

  // The limiter.
  Dyno_Obj() { limit(); }

  // Presets: slopes, threshold, times and the side-input switch.
  void limit();
  void compress();
  void gate();
  void expand();
  void duck();

  // slopeBelow 1, slopeAbove 1 / ratio; answers 1 / slopeAbove.
  double setRatio(double ratio) {
    slopeBelow = 1.0;
    slopeAbove = 1.0 / ratio;
    return 1.0 / slopeAbove;
  }
  double ratio() const { return slopeBelow / slopeAbove; }
  // Detector times in samples; each answers the time its coefficient keeps.
  double setAttackTime(double t) {
    at = dyno_coefficient(t);
    return attackTime();
  }
  double attackTime() const { return dyno_time(at); }
  double setReleaseTime(double t) {
    rt = dyno_coefficient(t);
    return releaseTime();
  }
  double releaseTime() const { return dyno_time(rt); }
  SAMPLE tick(SAMPLE in);

  // The plain properties (thresh, slopeBelow, slopeAbove, sideInput,
  // externalSideInput) store any value as it comes.
  double slopeAbove = 0.1;
  double slopeBelow = 1.0;
  double thresh = 0.5;
  double rt = 0.0;  // release coefficient, 1 - exp(-2.2 / release samples)
  double at = 0.0;  // attack coefficient, 1 - exp(-2.2 / attack samples)
  double envelope = 0.0;
  int32_t externalSideInput = 0;
  double sideInput = 0.0;
};

#endif
