// Waveguide strings of the toolkit.
//
// PluckTwo is the two-string base of Mandolin: two slightly detuned loops
// (an allpass-interpolated delay line and a two-sample averaging filter
// each) and a comb that shapes the pluck by its position. Mandolin adds a
// body response, a stored wave played once at each pluck, and damps the
// loops for one period after it. Sitar is one loop whose length glides
// towards its target, excited by enveloped noise. StifKarp is a plucked
// string with stiffness: four allpass biquads in the loop stretch the
// partials, and a comb models the pickup position. Bowed is a string split
// at the bow into a neck and a bridge line, coupled by the bow's friction
// table, with a lossy bridge reflection, a resonant body and vibrato.
//
// Each instrument is built with its lowest frequency, which sizes its lines
// (L = srate / lowest + 1 samples); a frequency below it plays with the
// longest loop the lines hold, silently. Every frequency setter stores the
// frequency it used in m_frequency.
//
// Arguments. Out-of-range values are clamped with a message. A NaN argument
// changes nothing and is reported once per object (a NaN would otherwise
// become a delay, a coefficient or a stored frequency). Infinities take the
// clamps finite values take. Loop gains are kept within +-0.99999 wherever
// a setter computes one that could otherwise make the loop grow.
//
// Arithmetic is single precision unless a step says double. Everything runs
// on the audio thread; nothing allocates after construction except
// Mandolin::setBodyWave.
#ifndef CHIP_SYN_STRINGS_H
#define CHIP_SYN_STRINGS_H

#include <memory>

#include "chip/syn/syn.h"
#include "chip/syn/syn_delay.h"
#include "chip/syn/syn_envelope.h"
#include "chip/syn/syn_filter.h"
#include "chip/syn/syn_noise.h"
#include "chip/syn/syn_tables.h"
#include "chip/syn/syn_wvin.h"

// The delay-line length of an instrument built for the lowest frequency
// `lowest`: srate / lowest + 1 samples (held to what a line can hold).
int syn_string_length(float lowest);

// Reports a NaN argument once per object: true when v is NaN (the caller
// then changes nothing).
bool syn_reject_nan(SynOnce& once, const char* where, float v);

class PluckTwo : public Instrmnt {
 public:
  explicit PluckTwo(float lowestFrequency);
  ~PluckTwo() override = default;

  // Sets both loop delays from f (220 for f <= 0, with a message), held to
  // 0.3..L; the loop gain follows the frequency.
  void setFrequency(float frequency) override;
  // Loop gain (1 - a) / 2, held to +-0.99999.
  void noteOff(float amplitude) override;
  // The two loops' ratio (0.1 for d <= 0, with a message).
  void setDetune(float detune);
  // Where the next pluck strikes, 0..1.
  void setPluckPosition(float position);
  // The base loop gain; the loop gain adds the frequency's share.
  void setBaseLoopGain(float gain);

  DelayA delayLine;
  DelayA delayLine2;
  DelayL combDelay;
  OneZero filter;
  OneZero filter2;
  int length;
  float loopGain = 0.999f;
  float baseLoopGain = 0.995f;
  float lastFrequency;
  float lastLength;
  float detuning = 0.995f;
  float pluckAmplitude = 0.3f;
  float pluckPosition = 0.4f;

 protected:
  // The loop gain for the base gain and a frequency: only a value above
  // 1.0 is replaced by 0.99999 (1.0 itself stays), one below -0.99999
  // becomes -0.99999.
  void updateLoopGain(float frequency);
  // The class name in messages.
  virtual const char* name() const { return "PluckTwo"; }

  SynOnce nan_;
};

class Mandolin : public PluckTwo {
 public:
  static constexpr int kBodySlots = 12;

  explicit Mandolin(float lowestFrequency);
  ~Mandolin() override = default;

  // setFrequency(f), then pluck(a).
  void noteOn(float frequency, float amplitude) override;
  // Restarts the body wave with amplitude a (0..1), places the comb and
  // damps the loops for one period.
  void pluck(float amplitude);
  // The body wave's playback rate.
  void setBodySize(float size);
  // Reopens the body wave from a file or built-in table (raw when the name
  // contains ".raw"); a failure leaves the body silent and is reported.
  void setBodyWave(const char* path);
  float tick() override;
  using Instrmnt::tick;
  void controlChange(int number, float value) override;

  // The twelve body slots share one wave, so they are one reader here;
  // `bodySlot` remembers which slot control 128 chose.
  std::unique_ptr<WvIn> bodyWave;
  int bodySlot = 0;
  int dampTime = 0;
  bool waveDone = true;
  float bodySize = 1.0f;
  float lastOutput = 0.0f;

 protected:
  const char* name() const override { return "Mandolin"; }
};

class Sitar : public Instrmnt {
 public:
  explicit Sitar(float lowestFrequency);
  ~Sitar() override = default;

  // The target delay srate / f (held to the line), a random start within
  // 5 % of it, and the loop gain.
  void setFrequency(float frequency) override;
  // setFrequency(f), envelope on, excitation gain 0.1 a.
  void noteOn(float frequency, float amplitude) override;
  // Loop gain 1 - a, held to 0..0.99999 (the envelope is not released).
  void noteOff(float amplitude) override;
  // Envelope on only.
  void pluck(float amplitude);
  // Zeroes the delay line and the loop filter.
  void clear();
  float tick() override;
  using Instrmnt::tick;

  DelayA delayLine;
  OneZero loopFilter;
  Noise noise;
  ADSR envelope;
  int length;
  float loopGain = 0.999f;
  // Set by noteOn; 0 until then (the envelope is silent until then too).
  float amGain = 0.0f;
  float delay;
  float targetDelay;
  float lastOutput = 0.0f;

 private:
  // d held to the line's range, 0.5..L.
  float onLine(double d) const;
  SynOnce nan_;
};

class StifKarp : public Instrmnt {
 public:
  explicit StifKarp(float lowestFrequency);
  ~StifKarp() override = default;

  void setFrequency(float frequency) override;
  // The stiffness filters from s (c = 0.5 + 0.5 s, |c| at most 0.9999).
  void setStretch(float stretch);
  void setPickupPosition(float position);
  void setBaseLoopGain(float gain);
  // Fills the loop with filtered noise of amplitude a (warned, not clamped,
  // outside 0..1).
  void pluck(float amplitude);
  void noteOn(float frequency, float amplitude) override;
  // Loop gain (1 - a) / 2, a held to 0..1.
  void noteOff(float amplitude) override;
  // Zeroes the loop line, the comb and the loop filter.
  void clear();
  float tick() override;
  using Instrmnt::tick;
  void controlChange(int number, float value) override;

  DelayA delayLine;
  DelayL combDelay;
  OneZero filter;
  Noise noise;
  BiQuad biquad[4];
  int length;
  float loopGain = 0.999f;
  float baseLoopGain = 0.995f;
  float lastFrequency;
  float lastLength;
  float stretching = 0.9999f;
  float pluckAmplitude = 0.3f;
  float pickupPosition = 0.4f;
  float lastOutput = 0.0f;

 private:
  void updateLoopGain(float frequency);
  SynOnce nan_;
};

class Bowed : public Instrmnt {
 public:
  explicit Bowed(float lowestFrequency);
  ~Bowed() override = default;

  // Bowing with amplitude a: the envelope's rate r (replaced by the attack
  // rate at key-on), key-on, maximum velocity 0.03 + 0.2 a.
  void startBowing(float amplitude, float rate);
  void stopBowing(float rate);
  void noteOn(float frequency, float amplitude) override;
  void noteOff(float amplitude) override;
  void setFrequency(float frequency) override;
  // The vibrato's frequency in Hz (non-finite ignored).
  void setVibratoFrequency(float hz);
  float tick() override;
  using Instrmnt::tick;
  void controlChange(int number, float value) override;

  // What the language getters return.
  double storedBowPressure;
  double storedBowPosition;
  double storedVibratoFreq;
  double storedVibratoGain = 0.0;
  double storedVolume = 1.0;
  // The rate startBowing uses: Bowed has no rate member, so it stays at
  // noteOn's rate for a full bow (a x 0.001 with a = 1).
  double storedRate = 0.001;

  DelayL neckDelay;
  DelayL bridgeDelay;
  BowTabl bowTable;
  OnePole stringFilter;
  BiQuad bodyFilter;
  WaveLoop vibrato;
  ADSR adsr;
  float maxVelocity = 0.03f;
  float baseDelay = 0.0f;
  float vibratoGain = 0.0f;
  float betaRatio = 0.127236f;
  float lastOutput = 0.0f;

 private:
  // Both lines from the base delay and the beta ratio.
  void placeBow();
  int length;
  SynOnce nan_;
};

#endif
