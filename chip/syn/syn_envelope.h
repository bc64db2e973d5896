// Control envelopes of the toolkit: Envelope, a linear ramp from its value
// to a target at a fixed step per sample, and ADSR, a four-stage attack,
// decay, sustain, release envelope built on it. Instruments use them for
// breath, amplitude and vibrato; the language classes of the same names wrap
// them (chip/syn/ugen_syn_envelope.cpp).
//
// Arithmetic is single precision. Times are seconds, turned into steps per
// sample with Syn::srate as it is at the call. A ramp keeps its time, not its
// step: keyOn, keyOff and setTarget recompute the step from `rampTime` and
// the distance left.
//
// Bad parameters are corrected, never refused: negative times and rates
// become positive, a negative sustain level becomes 0 (each reported). A
// time of 0 is the shortest ramp (one sample) for the attack, decay and
// release alike, so no step is ever 0/0. Values and targets are kept finite
// (an infinite one becomes the largest float) and a NaN argument leaves the
// envelope as it was, so no setting can leave the output stuck at NaN.
//
// ADSR states: ATTACK 0, DECAY 1, SUSTAIN 2, RELEASE 3, DONE 4. A decay
// towards a sustain level above the attack's peak rises to it and stops
// there, like a falling one.
#ifndef CHIP_SYN_ENVELOPE_H
#define CHIP_SYN_ENVELOPE_H

#include "chip/syn/syn.h"

class Envelope : public Syn {
 public:
  Envelope();
  ~Envelope() override = default;

  // Ramps to onTarget.
  virtual void keyOn();
  // Ramps to 0.
  virtual void keyOff();
  // Ramps to x, which also becomes onTarget, in rampTime.
  virtual void setTarget(float x);
  // Jumps to x (no ramp).
  virtual void setValue(float x);
  virtual int getState() const { return state; }
  // The next value.
  virtual float tick();
  // size successive tick() values into vector; returns vector.
  virtual float* tick(float* vector, unsigned int size);

  // The ramp time in seconds (negative corrected): the step follows at once
  // from the distance left; a time of 0 reaches the target in one sample.
  void setTime(float t);
  // The step per sample (negative corrected); rampTime follows from it.
  void setRate(float r);

  float value = 0.0f;     // the current output
  float target = 0.0f;    // the value being approached
  float rate = 0.001f;    // step per sample, never negative
  float onTarget = 1.0f;  // what keyOn ramps to
  float rampTime;         // seconds (1 / (0.001 srate) at first)
  int state = 0;          // Envelope: 0 at target, 1 ramping

 protected:
  // The step for the distance left over rampTime (the corrected time is
  // stored back).
  void updateRate();
};

class ADSR : public Envelope {
 public:
  enum { ATTACK = 0, DECAY = 1, SUSTAIN = 2, RELEASE = 3, DONE = 4 };

  ADSR();
  ~ADSR() override = default;

  void keyOn() override;
  void keyOff() override;
  void setTarget(float x) override;
  void setValue(float x) override;
  int getState() const override { return state; }
  float tick() override;
  float* tick(float* vector, unsigned int size) override;

  // The sustain level (negative becomes 0, no upper bound); the decay and
  // release rates of stages set as times follow it.
  void setSustainLevel(float level);
  void setAttackRate(float r);
  void setDecayRate(float r);    // decayTime becomes -1 (set as a rate)
  void setReleaseRate(float r);  // releaseTime becomes -1
  // Stage times in seconds.
  void setAttackTime(float t);
  void setDecayTime(float t);
  void setReleaseTime(float t);
  // Attack, decay (at the sustain level in force), sustain, release.
  void setAllTimes(float a, float d, float s, float r);

  float attackRate = 0.001f;
  float decayRate = 0.001f;
  float sustainLevel = 0.5f;
  float releaseRate = 0.01f;
  float decayTime = -1.0f;    // seconds, or -1 when set as a rate
  float releaseTime = -1.0f;  // seconds, or -1 when set as a rate
};

#endif
