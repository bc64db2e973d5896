// Sample-playback instruments: Sampler, the base (an attack wave played
// once and a loop wave played continuously, mixed, through a one-pole
// lowpass and an ADSR), and Moog, an analogue-style voice on it: a pluck
// attack, an impulse-train loop at the note's pitch, a sine loop that can
// modulate that pitch, and two formant filters in series whose resonance
// falls from 2000 Hz to the note's frequency at each note.
//
// Values that are not finite numbers leave a setting as it was (a NaN
// frequency would otherwise reach the wave readers' rates); the filters and
// readers keep their own outputs finite.
//
// Everything runs on the audio thread; nothing is locked.
#ifndef CHIP_SYN_MOOG_H
#define CHIP_SYN_MOOG_H

#include <memory>

#include "chip/syn/syn.h"
#include "chip/syn/syn_envelope.h"
#include "chip/syn/syn_filter.h"
#include "chip/syn/syn_wvin.h"

class Sampler : public Instrmnt {
 public:
  Sampler();
  ~Sampler() override = default;

  // ADSR key-off (the amplitude is not used).
  void noteOff(float amplitude) override;
  // ADSR key-on, and the attack wave rewound.
  void keyOn();
  float tick() override;
  using Instrmnt::tick;

  ADSR envelope;
  std::unique_ptr<WvIn> attackWaves[5];
  std::unique_ptr<WaveLoop> loopWaves[5];
  OnePole filter;
  float baseFrequency = 440.0f;
  float attackLevel = 0.25f;
  float loopLevel = 0.25f;
  int activeSlot = 0;
  float lastOutput = 0.0f;
};

class Moog : public Sampler {
 public:
  Moog();
  ~Moog() override = default;

  void setFrequency(float frequency) override;
  void noteOn(float frequency, float amplitude) override;
  void noteOn(float amplitude) { noteOn(baseFrequency, amplitude); }
  // Three times the filtered sample (the stored last output is not scaled).
  float tick() override;
  using Instrmnt::tick;
  void controlChange(int number, float value) override;
  // The modulating loop's frequency in Hz (non-finite ignored).
  void setModulationSpeed(float hz);
  // modDepth = 0.5 x depth (non-finite ignored).
  void setModulationDepth(float depth);

  double storedVibratoFreq = 6.122;
  double storedVibratoGain = 0.0;
  double storedVolume = 1.0;
  FormSwep filters[2];
  float modDepth = 0.0f;
  float filterQ = 0.85f;
  float sweepSpeed = 0.0001f;
};

#endif
