// Reverberators of the synthesis toolkit: JCRev, NRev and KestRev.
//
// Each one is a network of fixed-length delay lines (Delay, whole-sample
// lines) used as feedback combs and Schroeder allpasses. A tick takes one
// mono sample, forms a stereo pair (kept as the last output) and returns the
// mean of its two channels. The common base Reverb holds that pair and the
// effect mix (the wet share; the dry share is 1 - mix).
//
// Delay lengths come from a table at a reference rate. The constructor
// rescales them to the toolkit rate (Syn::srate): floor(scale * length),
// bumped to the next odd "prime" (1 counts, so a length never reaches 0).
// Comb k of length L gets the feedback 10^(-3 L / (T60 * rate)), so every
// comb loses 60 dB in T60 seconds; lengths and coefficients are fixed for
// the object's life.
//
// Every value that goes back into a recursive path is flushed: it stays only
// while 1e-15 < |v| < 1e15, else it becomes 0. That keeps the loops free of
// denormals and stops a runaway before it reaches infinity.
//
// Hostile parameters are corrected rather than trusted:
// - T60 that is NaN, negative or 0 gives no comb feedback (a short diffuse
//   burst only); T60 above kMaxT60 (and +inf) uses kMaxT60, so every comb
//   gain stays strictly below 1 and every tail dies out.
// - A mix of NaN becomes 0 (dry only); a finite mix outside 0..1 scales wet
//   and dry as given, but its magnitude is held to kMaxMix so that no
//   product can overflow to infinity.
// - A sample rate that is not a positive finite number counts as 44100; a
//   rate so high that a line would exceed kMaxLength samples is capped there.
//   A rate so low that a line would have 0 samples gives it 1.
// The mix corrections print a message; the T60 ones are silent (the
// language classes always build with 4 seconds).
//
// Everything runs on the audio thread; nothing allocates after construction.
#ifndef CHIP_SYN_REVERB_H
#define CHIP_SYN_REVERB_H

#include "chip/syn.h"
#include "chip/syn_delay.h"

class Reverb : public Syn {
 public:
  // Longest decay time honoured, in seconds.
  static constexpr float kMaxT60 = 1000.0f;
  // Largest magnitude of the effect mix.
  static constexpr float kMaxMix = 1.0e6f;
  // Longest scaled line before the prime search, in samples: room below
  // the longest Delay for the search's few steps.
  static constexpr long kMaxLength = Delay::kMaxDelay - 4096;

  // className: the name messages carry.
  explicit Reverb(const char* className);
  ~Reverb() override;

  // Silences every line and the last output; coefficients and mix stay.
  virtual void clear() = 0;
  // One sample in; the mean of the new stereo pair out.
  virtual float tick(float input) = 0;
  // Replaces each of the first vectorSize samples by tick() of it.
  float* tick(float* vector, unsigned int vectorSize);

  // Stores the effect mix, in single precision, after the correction
  // above (made in double precision, so no value overflows the conversion);
  // returns it as stored.
  float setEffectMix(double mix);
  float getEffectMix() const { return effectMix; }
  float lastOutLeft() const { return lastOutput[0]; }
  float lastOutRight() const { return lastOutput[1]; }
  // The decay time the combs were built with (after correction).
  float getT60() const { return t60; }

  // The wet share, used unchanged by tick (use setEffectMix to write it).
  float effectMix = 0.0f;
  // The stereo pair of the latest tick: left, right.
  float lastOutput[2] = {0.0f, 0.0f};

  // Decay-time and length rules, exposed for the classes and their tests.
  static float safeT60(float t60);
  static float safeRate(float rate);
  // Trial division by odd numbers up to the square root; 2 and 1 pass.
  static bool isPrime(long n);
  // floor(scaler * length), made odd, then raised to the next passing odd.
  static long scaledLength(long length, double scaler);
  // 10^(-3 L / (t60 * rate)) in the single-precision form of the toolkit.
  static float combCoefficient(long length, float t60, float rate);

 protected:
  float t60 = 0.0f;
  const char* className_;
};

// Three allpasses in series into four parallel combs, then two output
// delays that decorrelate left and right. Reference rate 44100 Hz.
class JCRev : public Reverb {
 public:
  explicit JCRev(float T60);
  ~JCRev() override;

  void clear() override;
  float tick(float input) override;

  // Line lengths in samples, as built.
  long combLength(int i) const;
  long allpassLength(int i) const;
  long outLength(int channel) const;
  float combCoefficientAt(int i) const { return combCoefficient_[i]; }

 private:
  Delay* allpassDelays_[3];
  Delay* combDelays_[4];
  Delay* outLeftDelay_;
  Delay* outRightDelay_;
  float allpassCoefficient_;
  float combCoefficient_[4];
};

// Six parallel combs, three allpasses, a one-pole lowpass and three more
// allpasses (two of them feed left and right). Reference rate 25641 Hz.
class NRev : public Reverb {
 public:
  explicit NRev(float T60);
  ~NRev() override;

  void clear() override;
  float tick(float input) override;

  long combLength(int i) const;
  long allpassLength(int i) const;
  float combCoefficientAt(int i) const { return combCoefficient_[i]; }

 private:
  // Allpasses 6 and 7 are built and cleared with the others but never
  // ticked.
  Delay* allpassDelays_[8];
  Delay* combDelays_[6];
  float allpassCoefficient_;
  float combCoefficient_[6];
  float lowpassState_;
};

// Two allpasses in series into two combs, one per channel. Reference rate
// 44100 Hz.
class KestRev : public Reverb {
 public:
  explicit KestRev(float T60);
  ~KestRev() override;

  void clear() override;
  float tick(float input) override;

  long combLength(int i) const;
  long allpassLength(int i) const;
  float combCoefficientAt(int i) const { return combCoefficient_[i]; }

 private:
  Delay* allpassDelays_[2];
  Delay* combDelays_[2];
  float allpassCoefficient_;
  float combCoefficient_[2];
};

#endif
