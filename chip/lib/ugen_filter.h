// The filter module: the basic second-order filters and the Teabox reader.
//
// Each language class is one row of the binding frame (chip/vm/ugen_frame.h)
// over a plain class below that builds and tests without a machine:
//   FilterBasic  Filter_Basic: the abstract base. It declares the hidden
//                member "@FilterBasic_data" that its subclasses keep their
//                object in; its own tick prints that the class is abstract
//                on every sample and outputs silence, and its members
//                (freq, Q, set) do nothing and answer 0.
//   BPF, BRF, LPF, HPF, ResonZ
//                Filter_Resonant, one class with a kind: the five share the
//                recursion history and differ only in how `freq` and `Q`
//                become the three coefficients a0, b1, b2 and in their
//                output equation:
//     BPF     band-pass with constant skirt gain, zeros at DC and Nyquist;
//     BRF     band-reject (notch);
//     LPF     resonant low-pass, double zero at Nyquist;
//     HPF     resonant high-pass, double zero at DC;
//     ResonZ  two-pole resonator with zeros at +-1 and a peak gain near 1
//             (exactly 1 as the band narrows).
//   BiQuad       Filter_BiQuad (member "@biquad_data"): a direct two-pole
//                two-zero filter whose coefficients a script sets one by one
//                or through the frequency and radius of its poles and zeros.
//   Teabox       Filter_Teabox, kept in the inherited FilterBasic member:
//                demultiplexes a framed sensor stream arriving as audio (a
//                negative sample starts a frame of up to ten samples: a lead,
//                eight analog channels and a digital word) and passes its
//                input through.
// Each class's init takes the sample rate and sets the starting state; its
// setters store their value after its clamp, compute the coefficients and
// return the value as stored; its getters return the stored value; its tick
// computes one sample. The rows only forward to them.
//
// The clamps keep every filter finite and stable whatever a script asks for:
//   - a NaN argument is ignored: the setter keeps and returns the old value;
//   - frequencies are clamped to [0, srate / 2];
//   - Q is clamped to [FILTER_MIN_Q, FILTER_MAX_Q] (LPF and HPF to
//     [FILTER_MIN_Q, 1000]), so a Q of 0 or below, such as the 0 a new BPF
//     or BRF starts with, acts as the smallest Q;
//   - the coefficient formulas see the centre angle inside
//     [FILTER_MIN_ANGLE, pi - FILTER_MIN_ANGLE] and their tangent
//     arguments below pi/2, and ResonZ's pole radius R = 1 - pf/(2Q) no
//     lower than 0, so the poles stay inside the unit circle (at the exact
//     band edges a pole would sit on the circle, and a tangent argument
//     past pi/2 puts the poles outside);
//   - a BiQuad pole radius is clamped to +-FILTER_MAX_POLE_RADIUS, a zero
//     radius to +-FILTER_MAX_ZERO_RADIUS, a coefficient to
//     +-FILTER_MAX_COEFFICIENT.
// Coefficients and histories are doubles: in single precision the poles of
// a low cutoff round onto or past the unit circle. Stored histories are
// flushed (kept only when 1e-15 < |v| < 1e15, else 0); a value at or past
// the upper bound (or not finite) clears the whole history, so the filter
// restarts from silence instead of kicking itself back over the bound; and
// a tick whose result does not fit a sample outputs 0. Nothing non-finite
// survives a sample.
//
// Threads: filter_query runs once on the thread that starts the engine;
// constructors, destructors, ticks and member functions on the machine's
// thread. No locks.
#ifndef CHIP_UGEN_FILTER_H
#define CHIP_UGEN_FILTER_H

#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/frame_object.h"

// Parameter limits (see above).
const double FILTER_MIN_Q = 0.001;
const double FILTER_MAX_Q = 1.0e6;
const double FILTER_MAX_LH_Q = 1000.0;  // LPF and HPF
const double FILTER_MIN_ANGLE = 1.0e-6;  // radians per sample
const double FILTER_MAX_POLE_RADIUS = 1.0 - 1.0e-6;
const double FILTER_MAX_ZERO_RADIUS = 1000.0;
const double FILTER_MAX_COEFFICIENT = 1.0e6;

// Byte offsets of "@FilterBasic_data" and "@biquad_data"; -1 until
// registered.
extern t_CPWORD FilterBasic_offset_data;
extern t_CPWORD biquad_offset_data;

// The module's query: copies QUERY's sample rate (none: 44100), registers
// the deprecated lower-case names, then FilterBasic, BPF, BRF, LPF, HPF,
// ResonZ, BiQuad and Teabox in the global namespace. TRUE on success; FALSE
// when a class cannot be registered (the import interface printed why).
t_CPBOOL filter_query(Chip_DL_Query* QUERY);

// Stores v only when 1e-15 < |v| < 1e15 (single-precision bounds), else 0.
double filter_flush(double v);

// FilterBasic's own object.
class Filter_Basic : public Frame_Obj {
 public:
  // Prints "FilterBasic.tick() --> FitlerBasic is virtual!" and outputs 0.
  SAMPLE tick() const;
};

// BPF, BRF, LPF, HPF and ResonZ.
class Filter_Resonant : public Frame_Obj {
 public:
  enum Kind { BPF, BRF, LPF, HPF, RESONZ };

  // A new filter is in its starting state at the default rate.
  explicit Filter_Resonant(Kind kind) : kind_(kind) { init(0); }

  // The starting state at srate (0: 44100), history cleared: BPF and BRF
  // with freq and Q 0, LPF and HPF with freq 0 and Q 1, all four with zero
  // coefficients (silent until a parameter is set); ResonZ tuned to 220 Hz
  // with Q 1.
  void init(t_CPUINT srate);

  // Store (NaN: keep), clamp, compute the coefficients; the value as stored.
  double setFreq(double hz);
  double setQ(double q);
  // Both at once (each NaN kept), one computation.
  void set(double hz, double q);

  Kind kind() const { return kind_; }
  double freq() const { return freq_; }
  double Q() const { return Q_; }
  double a0() const { return a0_; }
  double b1() const { return b1_; }
  double b2() const { return b2_; }
  // The recursion history, newest first.
  double y1() const { return y1_; }
  double y2() const { return y2_; }
  // Stores a history as given (a restart from a known state).
  void setHistory(double y1, double y2) {
    y1_ = y1;
    y2_ = y2;
  }

  SAMPLE tick(SAMPLE in);

 private:
  void recompute();
  void push(double y0);

  Kind kind_;
  double srate_ = 44100.0;
  double radians_per_sample_ = 6.283185307179586 / 44100.0;
  double y1_ = 0.0, y2_ = 0.0;
  double a0_ = 0.0, b1_ = 0.0, b2_ = 0.0;
  double freq_ = 0.0;  // Hz, as stored
  double Q_ = 0.0;     // as stored
};

// BiQuad.
class Filter_BiQuad : public Frame_Obj {
 public:
  enum Coefficient { A0, A1, A2, B0, B1, B2 };

  // At srate (0: 44100): passes its input unchanged (a0 = b0 = 1, every
  // other coefficient, parameter and history 0).
  void init(t_CPUINT srate);

  // Pole and zero frequency (Hz, clamped to [0, srate / 2]) and radius
  // (clamped as above); NaN keeps the old value. Pole settings recompute
  // a1 and a2 (and, with norm on, b0..b2); zero settings b1 and b2.
  double setPoleFreq(double hz);
  double setPoleRadius(double r);
  double setZeroFreq(double hz);
  double setZeroRadius(double r);
  double poleFreq() const { return pfreq_; }
  double poleRadius() const { return prad_; }
  double zeroFreq() const { return zfreq_; }
  double zeroRadius() const { return zrad_; }
  // Non-zero: zeros at DC and Nyquist scaled for unit gain at the
  // resonance (recomputed now and with every pole setting).
  t_CPINT setNorm(t_CPINT norm);
  t_CPINT norm() const { return norm_; }
  // Non-zero: equal-gain zeros at DC and Nyquist (b0 1, b1 0, b2 -1). The
  // value as given.
  t_CPINT setEqualGainZeros(t_CPINT on);
  // A direct coefficient (a0 is an input gain), clamped to
  // +-FILTER_MAX_COEFFICIENT; NaN keeps the old value.
  double setCoefficient(Coefficient which, double v);
  double coefficient(Coefficient which) const;
  // The output history, newest first; stored as given.
  double output1() const { return output1_; }
  double output2() const { return output2_; }
  void setHistory(double output1, double output2) {
    output1_ = output1;
    output2_ = output2;
  }

  SAMPLE tick(SAMPLE in);

 private:
  void poleUpdate();
  void zeroUpdate();
  static double Filter_BiQuad::*field(Coefficient which);

  double a0_ = 1.0, a1_ = 0.0, a2_ = 0.0, b0_ = 1.0, b1_ = 0.0, b2_ = 0.0;
  double input0_ = 0.0, input1_ = 0.0, input2_ = 0.0;  // scaled input, newest first
  double output0_ = 0.0, output1_ = 0.0, output2_ = 0.0;
  double pfreq_ = 0.0, zfreq_ = 0.0;  // Hz
  double prad_ = 0.0, zrad_ = 0.0;
  t_CPINT norm_ = 0;
  double srate_ = 44100.0;
};

// Teabox.
class Filter_Teabox : public Frame_Obj {
 public:
  // Reads one sample of the stream; outputs it unchanged.
  SAMPLE tick(SAMPLE in);

  // Analog channel which (clamped to 0..7), as 8 x the received sample.
  double analog(t_CPINT which) const;
  // Bit which (clamped to 0..15) of the digital word: 1 or 0.
  double digital(t_CPINT which) const;
  // 8 x the first sample of the frame.
  double lead() const { return lead_; }
  // The digital word as an integer (a negative word as its 16-bit pattern).
  t_CPINT bits() const { return bits_; }
  // Samples since the last frame start.
  t_CPINT counter() const { return counter_; }

 private:
  t_CPINT counter_ = 0;
  double analog_[8] = {};
  double raw_ = 0.0;   // the digital word as received
  double lead_ = 0.0;
  double last_ = 0.0;  // the previous input sample
  t_CPINT bits_ = 0;
};

#endif
