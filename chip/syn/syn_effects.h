// Delay-line effects of the toolkit: Chorus, one interpolating delay line
// whose length a slow sine sweeps, mixed with the dry signal; and PitShift,
// two delay lines whose read delays ramp continuously, 500 samples apart,
// cross-faded by a triangular window, which shifts the input's pitch by
// the factor 1 - rate (shift 2: an octave up; 0.5: an octave down).
//
// Chorus: tick() sets the line's delay to h + m h, h = baseLength x
// modDepth / 2 and m the modulator (a normalised "special:sinewave" loop at
// 0.25 Hz), and returns (1 - mix) x + mix line(x). set() rebuilds the line
// with room for a base delay and depth; the base length and depth fields
// do not resize it (the line then holds its longest delay, with one
// message).
//
// PitShift: read delays stay within 12 .. 1012 samples of lines of 1024;
// they wrap by fmod, so no shift, however large, loops.
//
// Parameters: values that are not finite numbers are ignored (the setting
// stays) with a message; the effect mix is clamped to 0..1 with the
// messages "<Class>: setEffectMix parameter is less than zero!" and "...
// greater than 1.0!". Everything runs on the audio thread; only set()
// allocates.
#ifndef CHIP_SYN_EFFECTS_H
#define CHIP_SYN_EFFECTS_H

#include <memory>

#include "chip/syn/syn.h"
#include "chip/syn/syn_delay.h"
#include "chip/syn/syn_wvin.h"

class Chorus : public Syn {
 public:
  // A line for baseDelay samples at depth 4; base length baseDelay, depth
  // 0.5, modulator 0.25 Hz, mix 0.5.
  explicit Chorus(float baseDelay);
  ~Chorus() override = default;

  // A new, silent line of delay baseDelay and room for baseDelay (1 +
  // depth) + 2 samples (held to the lines' maximum).
  void set(double baseDelay, double depth);
  void setModDepth(double depth);
  void setModFrequency(double hz);
  void setBaseLength(double samples);
  // Clamped to 0..1; returns the stored mix.
  float setEffectMix(double mix);
  float tick(float input);
  float lastOut() const { return lastOutput; }

  std::unique_ptr<DelayL> delayLine;
  WaveLoop modulator;
  float baseLength;
  float modDepth;
  float lastOutput = 0.0f;
  float effectMix;
};

class PitShift : public Syn {
 public:
  PitShift();
  ~PitShift() override = default;

  // rate = 1 - shift; a shift of exactly 1 fixes read delay 0 at 512.
  // Returns the shift as stored (1 - rate).
  float setShift(double shift);
  float getShift() const { return 1.0f - rate; }
  // Clamped to 0..1; returns the stored mix.
  float setEffectMix(double mix);
  float tick(float input);
  float lastOut() const { return lastOutput; }

  // A read delay wrapped into the window's range: above 1012 it drops by
  // whole 1000s into (12, 1012], below 12 it rises into [12, 1012).
  static float wrapDelay(double delay);

  DelayL delayLine[2];
  float lastOutput = 0.0f;
  float delays[2];
  float env[2];
  float effectMix;
  float rate;
};

#endif
