// The formant voice and its parts.
//
// Modulate is a slow pitch-modulation signal: a sine vibrato plus noise
// held for 330 samples at a time and smoothed by a one-pole lowpass (its
// gain is the random gain). SingWave is a looped excitation wave whose read
// rate follows a pitch envelope (the glide between notes) and its own
// Modulate, with an amplitude envelope. VoicForm is the voice: a SingWave
// on "special:impuls20" through a zero and a pole (the voiced source), an
// enveloped noise source (the unvoiced one), and four sweeping formant
// filters in parallel set from the phoneme table (chip/syn/syn_phonemes.h).
//
// Hostile values. Control 4 (phoneme by number) takes the raw value's
// integer part only when it is a finite number in the int range; anything
// else selects no row (every formant 0, as for any value outside 0..128).
// The source's pole, 0.97 - 0.2 x amplitude, is kept inside (-1, 1).
// Setters ignore values that are not finite numbers.
//
// Everything runs on the audio thread; nothing is locked.
#ifndef CHIP_SYN_VOICFORM_H
#define CHIP_SYN_VOICFORM_H

#include <string>

#include "chip/syn/syn.h"
#include "chip/syn/syn_envelope.h"
#include "chip/syn/syn_filter.h"
#include "chip/syn/syn_noise.h"
#include "chip/syn/syn_wvin.h"

class Modulate : public Syn {
 public:
  Modulate();
  ~Modulate() override = default;

  // The vibrato's frequency in Hz (non-finite ignored).
  void setVibratoRate(float hz);
  void setVibratoGain(float gain);
  // randomGain and the lowpass's gain.
  void setRandomGain(float gain);
  float tick();
  float* tick(float* vector, unsigned int size);

  WaveLoop vibrato;
  SubNoise noise;
  OnePole filter;
  float vibratoGain = 0.04f;
  float randomGain = 0.05f;
  float lastOutput = 0.0f;
};

class SingWave : public Syn {
 public:
  SingWave(const char* fileName, bool raw = false);
  ~SingWave() override = default;

  // The pitch: the read rate glides to the frequency's rate at
  // pitchSweepRate x the rate change per sample.
  void setFrequency(float frequency);
  void setSweepRate(float rate);
  void setGainTarget(float target) { envelope.setTarget(target); }
  void setGainRate(float rate) { envelope.setRate(rate); }
  void noteOn() { envelope.keyOn(); }
  void noteOff() { envelope.keyOff(); }
  float tick();

  WaveLoop wave;
  Modulate modulator;
  Envelope envelope;
  Envelope rateEnvelope;
  float readRate = 1.0f;
  float pitchSweepRate = 0.001f;
  float frequency = 0.0f;
  float lastOutput = 0.0f;
};

class VoicForm : public Instrmnt {
 public:
  VoicForm();
  ~VoicForm() override = default;

  // Selects the first row named exactly `name`; false (with the message)
  // when none is.
  bool setPhoneme(const char* name);
  void setFrequency(float frequency) override;
  void noteOn(float frequency, float amplitude) override;
  void noteOff(float amplitude) override;
  // Key-on of the voiced amplitude envelope.
  void speak() { voiced.noteOn(); }
  // Key-off of it, and the noise target 0.
  void quiet();
  float tick() override;
  using Instrmnt::tick;
  void controlChange(int number, float value) override;
  // The source's pole 0.97 - 0.2 x amplitude, kept inside (-1, 1).
  void setSourcePole(float amplitude);
  // Row `row` (any int: outside 0..31 every formant reads 0) with formant
  // frequencies scaled by factor.
  void setRow(int row, float factor);

  int phonemeIndex = 0;
  std::string phonemeName;
  SingWave voiced;
  Noise noise;
  Envelope noiseEnvelope;
  FormSwep filters[4];
  OnePole poleFilter;
  OneZero zeroFilter;
  float lastOutput = 0.0f;
};

#endif
