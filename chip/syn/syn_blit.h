// Band-limited oscillators from a closed-form band-limited impulse train
// (a periodic sinc of finite order M): Blit, the impulse train itself;
// BlitSaw, a sawtooth from the leaky integration of a unipolar train; and
// BlitSquare, a square from the integration of a bipolar train (impulses
// of alternating sign, so its period holds two impulse periods) followed by
// a DC blocker.
//
// The order M: 2N + 1 for Blit and BlitSaw and 2N for BlitSquare when N
// harmonics are asked for; with N = 0 as many as fit below the Nyquist
// frequency (2 floor(P / 2) + 1, or 2 floor(P / 2), for a period of P
// samples).
//
// BLT is their common base: it keeps the values last set through the
// language (phase, frequency, harmonic count) for the language's getters;
// before any set they are the oscillators' own start (phase 0, 220 Hz,
// automatic harmonics).
//
// Arguments. A frequency at or below 0, or not a finite number, keeps the
// previous frequency (with a message, once per object); periods are held
// to kMaxPeriod samples, so the order stays within 32 bits. A phase is
// reduced into the oscillator's cycle (NaN and infinities keep the phase,
// with the message). Harmonic counts are unsigned: a huge count wraps the
// order as 32-bit arithmetic does. The integrators' states are stored
// flushed (see syn_flush) and no sample is inf or NaN, so a frequency beyond
// the sample rate cannot leave an oscillator stuck.
//
// Single precision on the signal path; the constants pi, 2 pi, 0.995 and
// 0.999 are double and the steps using them are computed in double.
// Everything runs on the audio thread; nothing allocates.
#ifndef CHIP_SYN_BLIT_H
#define CHIP_SYN_BLIT_H

#include "chip/syn/syn.h"

class BLT : public Syn {
 public:
  // The longest period in samples (about 6.8 hours at 44.1 kHz).
  static constexpr double kMaxPeriod = 1073741824.0;

  ~BLT() override = default;

  virtual void setPhase(float phase) = 0;
  virtual void setFrequency(float frequency) = 0;
  virtual void setHarmonics(unsigned int harmonics) = 0;
  virtual float tick() = 0;

  // The language's values.
  double lastPhase = 0.0;
  double lastFrequency = 220.0;
  unsigned int lastHarmonics = 0;

 protected:
  // The period srate / frequency x scale for an acceptable frequency (held
  // to kMaxPeriod); false, with a message, for one that is not (the caller
  // then keeps its frequency).
  bool periodFor(float frequency, double scale, const char* who, float* period);
  // phase x pi reduced into [0, cycle); false (with a message) when not a
  // finite number.
  bool phaseFor(float x, double cycle, const char* who, float* phase);

  SynOnce badFrequency_;
  SynOnce badPhase_;
};

class Blit : public BLT {
 public:
  explicit Blit(float frequency = 220.0f);

  void setPhase(float phase) override;
  void setFrequency(float frequency) override;
  void setHarmonics(unsigned int harmonics) override;
  float tick() override;

  unsigned int nHarmonics = 0;
  unsigned int m = 1;
  float rate = 0.0f;
  float phase = 0.0f;
  float p = 0.0f;

 private:
  void updateHarmonics();
};

class BlitSaw : public BLT {
 public:
  explicit BlitSaw(float frequency = 220.0f);

  void setPhase(float phase) override;
  void setFrequency(float frequency) override;
  void setHarmonics(unsigned int harmonics) override;
  float tick() override;

  unsigned int nHarmonics = 0;
  unsigned int m = 1;
  float rate = 0.0f;
  float phase = 0.0f;
  float p = 0.0f;
  float c2 = 0.0f;     // 1 / P, the offset removed each sample
  float a = 0.0f;      // M / P
  float state = 0.0f;  // the leaky integrator

 private:
  void updateHarmonics();
};

class BlitSquare : public BLT {
 public:
  explicit BlitSquare(float frequency = 220.0f);

  void setPhase(float phase) override;
  void setFrequency(float frequency) override;
  void setHarmonics(unsigned int harmonics) override;
  float tick() override;

  unsigned int nHarmonics = 0;
  unsigned int m = 0;
  float rate = 0.0f;
  float phase = 0.0f;
  float a = 0.0f;
  float p = 0.0f;         // half the period, in samples
  float lastBlitOutput = 0.0f;
  float dcbState = 0.0f;  // the DC blocker's input memory
  float lastOutput = 0.0f;

 private:
  void updateHarmonics();
};

#endif
