// Toolkit filters: direct-form filters of any order and their fixed-order
// specialisations.
//
// FilterSyn is a direct-form filter y[n] = sum b[i] x[n-i] - sum a[k] y[n-k]
// with a[0] normalised to 1; it is also the base of the delay lines
// (chip/syn/syn_delay.h), which use its `inputs` as their ring buffer. OnePole,
// OneZero, PoleZero, TwoPole, TwoZero and BiQuad are the fixed-order forms
// with straight-line ticks and setters that compute coefficients from
// musical parameters (pole, zero, resonance, notch); FormSwep is a BiQuad
// whose resonance glides from one setting to another, one step per tick.
//
// Every tick first scales its input by `gain` and returns the new output.
// Recursive filters keep their history clean: a stored output whose
// magnitude is not strictly between 1e-15 and 1e15 is stored as 0, so
// denormal numbers never enter a recursion and an unstable setting (a pole
// radius at or above 1) cannot grow without bound. On top of that, no tick
// ever returns inf or NaN: a non-finite result (from non-finite coefficients
// or input) comes out as 0 and leaves a zero history behind, so the filter
// recovers as soon as its parameters are sane again.
//
// Setters store what they are given and compute coefficients; they never
// touch the histories, so a parameter can change while sound passes. Only
// setCoefficients with a changed count, and clear(), reset a history.
//
// Everything runs on the audio thread; nothing is locked.
#ifndef CHIP_SYN_FILTER_H
#define CHIP_SYN_FILTER_H

#include <cmath>
#include <vector>

#include "chip/syn/syn.h"

// A history value as the recursions store it: 0 unless 1e-15 < |v| < 1e15
// (so denormals, runaway values and NaN all become 0).
inline float syn_flush(float v) {
  const float m = std::fabs(v);
  return (m > 1e-15f && m < 1e15f) ? v : 0.0f;
}

// A tick's result as it leaves a filter: inf and NaN become 0.
inline float syn_finite(float v) { return std::isfinite(v) ? v : 0.0f; }

class FilterSyn : public Syn {
 public:
  // The identity filter: b = {1}, a = {1}, gain 1.
  FilterSyn();
  ~FilterSyn() override;

  // Replaces all coefficients. nb or na below 1, or a[0] == 0, is reported
  // through Syn::handleError (a bad argument: printed and thrown). A count
  // that changes zeroes its history; one that stays keeps it. Every
  // coefficient is divided by a[0] when that is not 1.
  void setCoefficients(int nb, const float* b, int na, const float* a);
  // Zeroes the input and output histories.
  void clear();

  virtual void setGain(float g) { gain = g; }
  virtual float getGain() const { return gain; }
  virtual float lastOut() const { return outputs[0]; }
  virtual float tick(float x);
  // Replaces each of the n samples of vector by the tick of it (through the
  // virtual single-sample tick); returns vector.
  virtual float* tick(float* vector, unsigned int n);

  float gain;
  int nB;
  int nA;
  std::vector<float> b;
  std::vector<float> a;
  std::vector<float> outputs;  // outputs[0] newest
  std::vector<float> inputs;   // inputs[0] newest (scaled) input
};

// y = b0 x - a1 y[n-1]. Default: pole 0.9, b0 0.1 (unity gain at DC).
class OnePole : public FilterSyn {
 public:
  OnePole();
  void setB0(float v) { b[0] = v; }
  void setA1(float v) { a[1] = v; }
  // Pole at p with peak gain 1: b0 = 1 - |p|, a1 = -p.
  void setPole(float p);
  float tick(float x) override;
  using FilterSyn::tick;
};

// y = b0 x + b1 x[n-1]. Default: the average of two samples.
class OneZero : public FilterSyn {
 public:
  OneZero();
  void setB0(float v) { b[0] = v; }
  void setB1(float v) { b[1] = v; }
  // Zero at z, normalised to a peak gain of 1.
  void setZero(float z);
  float tick(float x) override;
  using FilterSyn::tick;
};

// y = b0 x + b1 x[n-1] - a1 y[n-1]. Default: identity.
class PoleZero : public FilterSyn {
 public:
  PoleZero();
  void setB0(float v) { b[0] = v; }
  void setB1(float v) { b[1] = v; }
  void setA1(float v) { a[1] = v; }
  // First-order allpass (c + z^-1) / (1 + c z^-1).
  void setAllpass(float c);
  // DC blocker (1 - z^-1) / (1 - p z^-1).
  void setBlockZero(float p);
  float tick(float x) override;
  using FilterSyn::tick;
};

// y = b0 x - a1 y[n-1] - a2 y[n-2]. Default: identity.
class TwoPole : public FilterSyn {
 public:
  TwoPole();
  void setB0(float v) { b[0] = v; }
  void setA1(float v) { a[1] = v; }
  void setA2(float v) { a[2] = v; }
  // Poles at radius r and angle 2 pi f / srate; normalize scales b0 so the
  // gain at the resonance is 1.
  void setResonance(float frequency, float radius, bool normalize = false);
  float tick(float x) override;
  using FilterSyn::tick;

  // The resonance as last set through the language class.
  bool resNorm;
  float resFreq;
  float resRad;
};

// y = b0 x + b1 x[n-1] + b2 x[n-2]. Default: identity.
class TwoZero : public FilterSyn {
 public:
  TwoZero();
  void setB0(float v) { b[0] = v; }
  void setB1(float v) { b[1] = v; }
  void setB2(float v) { b[2] = v; }
  // Zeros at radius r and angle 2 pi f / srate, normalised to a peak gain
  // of 1.
  void setNotch(float frequency, float radius);
  float tick(float x) override;
  using FilterSyn::tick;

  // The notch as last set through the language class.
  float notchFreq;
  float notchRad;
};

// Two poles, two zeros. Default: identity.
class BiQuad : public FilterSyn {
 public:
  BiQuad();
  void setB0(float v) { b[0] = v; }
  void setB1(float v) { b[1] = v; }
  void setB2(float v) { b[2] = v; }
  void setA1(float v) { a[1] = v; }
  void setA2(float v) { a[2] = v; }
  // Poles at radius r and angle 2 pi f / srate; normalize puts the zeros
  // at +1 and -1 with a peak gain of about 1.
  void setResonance(float frequency, float radius, bool normalize = false);
  // Zeros at +1 and -1: b = {1, 0, -1}.
  void setEqualGainZeroes();
  float tick(float x) override;
  using FilterSyn::tick;
};

// A normalised BiQuad resonance that glides linearly, in 1 / sweepRate
// ticks, from its current frequency, radius and gain to targets.
class FormSwep : public BiQuad {
 public:
  FormSwep();
  // Jumps to the resonance at once and ends any glide.
  void setStates(float frequency, float radius, float gain = 1.0f);
  // Starts a glide from the current values to these.
  void setTargets(float frequency, float radius, float gain = 1.0f);
  // Per-tick increment of the glide, limited to 0..1.
  void setSweepRate(float rate);
  float tick(float x) override;
  using FilterSyn::tick;

  bool dirty;
  float frequency;
  float radius;
  float startFrequency;
  float startRadius;
  float startGain;
  float targetFrequency;
  float targetRadius;
  float targetGain;
  float deltaFrequency;
  float deltaRadius;
  float deltaGain;
  float sweepState;
  float sweepRate;
};

#endif
