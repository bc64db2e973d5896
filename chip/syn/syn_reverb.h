// Reverberators of the synthesis toolkit: JCRev, NRev and KestRev.
//
// Each one is a network of fixed-length delay lines (Delay, whole-sample
// lines) used as feedback combs and Schroeder allpasses. A tick takes one
// mono sample, forms a stereo pair (kept as the last output) and returns the
// mean of its two channels. The common base Reverb holds that pair and the
// effect mix (the wet share; the dry share is 1 - mix); below it,
// CombAllpassReverb owns the lines and forms the allpass and comb steps
// that all three wire together differently.
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

#include "chip/syn/syn.h"
#include "chip/syn/syn_delay.h"

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
  // Stores the stereo pair dry + wet of each channel (the wet parts already
  // scaled by the mix) as the last output; returns the pair's mean.
  float stereoOut(float leftWet, float rightWet, float dry) {
    lastOutput[0] = leftWet + dry;
    lastOutput[1] = dry + rightWet;
    return (lastOutput[0] + lastOutput[1]) * 0.5f;
  }

  float t60 = 0.0f;
  const char* className_;
};

// The lines the three reverberators are built of: NAllpass allpasses that
// share one coefficient (0.7) and NComb feedback combs, each with the
// coefficient its length and the decay time give. It owns the lines; the
// reverberator makes them in its constructor (makeAllpass, makeComb) and
// wires them in its tick.
template <int NAllpass, int NComb>
class CombAllpassReverb : public Reverb {
 public:
  ~CombAllpassReverb() override {
    for (Delay* line : allpassDelays_) delete line;
    for (Delay* line : combDelays_) delete line;
  }

  // Line lengths in samples, as built.
  long combLength(int i) const { return static_cast<long>(combDelays_[i]->getDelay()); }
  long allpassLength(int i) const { return static_cast<long>(allpassDelays_[i]->getDelay()); }
  float combCoefficientAt(int i) const { return combCoefficient_[i]; }

 protected:
  // Stores T60 after safeT60.
  CombAllpassReverb(const char* className, float T60) : Reverb(className) { t60 = safeT60(T60); }

  // Whole-sample lines whose delay and maximum are both `length`.
  void makeAllpass(int i, long length) { allpassDelays_[i] = new Delay(length, length); }
  void makeComb(int i, long length) {
    combDelays_[i] = new Delay(length, length);
    combCoefficient_[i] = combCoefficient(length, t60, safeRate(Syn::srate));
  }

  // Silences every line and the last output.
  void clearLines() {
    for (Delay* line : allpassDelays_) line->clear();
    for (Delay* line : combDelays_) line->clear();
    lastOutput[0] = lastOutput[1] = 0.0f;
  }

  // Comb i's next input for the network signal s: s plus the comb's
  // feedback, flushed. The comb itself does not move.
  float combInput(int i, float s) const {
    return syn_flush(s + combCoefficient_[i] * combDelays_[i]->lastOut());
  }

  // A Schroeder allpass section around allpass i: feeds its line with
  // v + g * (the line's last output) and returns that last output minus g
  // times what went in.
  float allpass(int i, float v) {
    Delay* line = allpassDelays_[i];
    const float g = allpassCoefficient_;
    float t = line->lastOut();
    float a = syn_flush(v + g * t);
    line->tick(a);
    return t - g * a;
  }

  Delay* allpassDelays_[NAllpass] = {};
  Delay* combDelays_[NComb] = {};
  float allpassCoefficient_ = 0.7f;
  float combCoefficient_[NComb] = {};
};

// Three allpasses in series into four parallel combs, then two output
// delays that decorrelate left and right. Reference rate 44100 Hz.
class JCRev : public CombAllpassReverb<3, 4> {
 public:
  explicit JCRev(float T60);
  ~JCRev() override;

  void clear() override;
  float tick(float input) override;

  // Output line lengths in samples, as built.
  long outLength(int channel) const;

 private:
  Delay* outLeftDelay_;
  Delay* outRightDelay_;
};

// Six parallel combs, three allpasses, a one-pole lowpass and three more
// allpasses (two of them feed left and right). Reference rate 25641 Hz.
// Allpasses 6 and 7 are built and cleared with the others but never ticked.
class NRev : public CombAllpassReverb<8, 6> {
 public:
  explicit NRev(float T60);

  void clear() override;
  float tick(float input) override;

 private:
  float lowpassState_;
};

// Two allpasses in series into two combs, one per channel. Reference rate
// 44100 Hz.
class KestRev : public CombAllpassReverb<2, 2> {
 public:
  explicit KestRev(float T60);

  void clear() override;
  float tick(float input) override;
};

#endif
