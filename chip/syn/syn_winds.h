// Waveguide models of wind instruments.
//
// Reed winds, one breath model each: a linear Envelope gives the mouth
// pressure, to which breath noise and a sine vibrato are added in
// proportion to it; a ReedTabl at the mouthpiece reflects the bore's
// pressure wave by an amount that depends on the pressure difference.
// - Clarinet: one bore delay line behind the reed; its loop is inverted
//   (-0.95 at the bell), so the line is half a period long.
// - Saxofony: a conical bore, two delay lines on either side of the blowing
//   position (the fraction of the bore's delay given to the second).
// - BlowHole: a clarinet whose bore is cut into three lines by a register
//   vent (a two-port junction with a PoleZero) and a tone hole (a three-port
//   junction with a PoleZero); both open and close while sounding.
//
// Jet and lip winds, their breath an ADSR scaled by a maximum pressure:
// - Flute: an air jet (a JetTabl behind a jet delay line) drives a bore
//   line; the bore is tuned to 2/3 of the note, which the jet overblows.
// - BlowBotl: the jet excites a two-pole Helmholtz resonator (a BiQuad).
// - Brass: a resonant BiQuad stands for the lips, a DelayA for the tube,
//   whose length the slide stretches.
//
// Controls (controlChange, 0..128, chip/syn/syn_control.h):
//   number   Clarinet        Saxofony        BlowHole   Flute       BlowBotl    Brass
//   1        vibrato gain    vibrato gain    vent       vib. gain   vib. gain   vib. gain
//   2        reed stiffness  reed stiffness  reed       jet delay   -           lip tension
//   4        noise gain      noise gain      noise gain noise gain  noise gain  slide
//   11       vibrato freq    blow position   tone hole  vib. freq   vib. freq   vib. freq
//   26       -               reed aperture   -          -           -           -
//   29       -               vibrato freq    -          -           -           -
//   128      pressure        pressure        pressure   pressure    volume      volume
// The stored* fields are what the language getters return: the value last
// given to each property (0..1 for controls), not the signal parameter.
//
// Bad settings are corrected as the instruments always did: frequencies at
// or below 0 play 220 Hz, delays outside the lines are held to 0.3 samples
// and the line's length, control values are clamped, all with a message.
// Arguments that are not numbers are refused with one message and change
// nothing (a NaN passes every range check and would become a delay or a
// coefficient). BlowBotl and Brass also refuse an infinite frequency, whose
// resonance angle has no cosine. On top of that every value written into a
// delay line is flushed (syn_flush: 0 unless 1e-15 < |v| < 1e15) and every
// output is finite, so no setting leaves the waveguide stuck at NaN or
// running away: a normal note plays again once sane settings return.
//
// Everything runs on the audio thread; nothing allocates after
// construction, nothing is locked.
#ifndef CHIP_SYN_WINDS_H
#define CHIP_SYN_WINDS_H

#include "chip/syn/syn.h"
#include "chip/syn/syn_delay.h"
#include "chip/syn/syn_envelope.h"
#include "chip/syn/syn_filter.h"
#include "chip/syn/syn_noise.h"
#include "chip/syn/syn_tables.h"
#include "chip/syn/syn_wvin.h"

// The breath of the reed winds: envelope, noise and vibrato.
struct ReedBreath {
  ReedBreath();
  // The envelope's value plus noise and vibrato in proportion to it.
  float tick();
  // Rate, then target (so the rate holds for this ramp).
  void start(float target, float rate);
  void stop(float rate);

  // The reed instruments' blowing and note controls, alike for the three of
  // them: a NaN argument changes nothing, with one message naming `who`.
  void startBlowing(const char* who, float amplitude, float rate);
  void stopBlowing(const char* who, float rate);
  // Starts blowing for a note of amplitude; false (nothing changed) for NaN.
  bool noteOn(const char* who, float amplitude);
  void noteOff(const char* who, float amplitude);

  Envelope envelope;
  Noise noise;
  WaveLoop vibrato;
  float noiseGain = 0.2f;
  float vibratoGain = 0.1f;
};

class Clarinet : public Instrmnt {
 public:
  // Delay lines sized for `lowest` Hz; tuned to 220 Hz.
  explicit Clarinet(float lowest);
  ~Clarinet() override = default;

  void clear();
  void setFrequency(float frequency) override;
  void startBlowing(float amplitude, float rate);
  void stopBlowing(float rate);
  void noteOn(float frequency, float amplitude) override;
  void noteOff(float amplitude) override;
  float tick() override;
  using Instrmnt::tick;
  void controlChange(int number, float value) override;

  double storedReed;
  double storedNoiseGain;
  double storedVibratoFreq;
  double storedVibratoGain;
  double storedPressure = 1.0;
  double storedRate = 0.005;

  DelayL delayLine;
  ReedTabl reedTable;
  OneZero filter;
  ReedBreath breath;
  long length;
  float outputGain = 1.0f;
  float lastOutput = 0.0f;
};

class Saxofony : public Instrmnt {
 public:
  // Delay lines sized for `lowest` Hz; untuned (the language sets 220 Hz).
  explicit Saxofony(float lowest);
  ~Saxofony() override = default;

  void clear();
  void setFrequency(float frequency) override;
  // The share of the bore's delay on the second line, clamped to 0..1; the
  // same value again (before the clamp) changes nothing.
  void setBlowPosition(float position);
  void startBlowing(float amplitude, float rate);
  void stopBlowing(float rate);
  void noteOn(float frequency, float amplitude) override;
  void noteOff(float amplitude) override;
  float tick() override;
  using Instrmnt::tick;
  void controlChange(int number, float value) override;

  double storedRate = 0.005;
  double storedReed;
  double storedAperture;
  double storedNoiseGain;
  double storedVibratoGain = 0.2;
  double storedPressure;

  DelayL delays[2];
  ReedTabl reedTable;
  OneZero filter;
  ReedBreath breath;
  long length;
  float outputGain = 0.3f;
  float position = 0.2f;
  float lastOutput = 0.0f;
};

class BlowHole : public Instrmnt {
 public:
  // Delay lines sized for `lowest` Hz; tuned to 220 Hz, the tone hole open
  // and the vent closed.
  explicit BlowHole(float lowest);
  ~BlowHole() override = default;

  void setFrequency(float frequency) override;
  // 0 (or less) closed, 1 (or more) fully open, in between a share of the
  // open vent's gain.
  void setVent(float v);
  // 0 (or less) closed, 1 (or more) open, in between the coefficient moves
  // from closed to open.
  void setTonehole(float v);
  void startBlowing(float amplitude, float rate);
  void stopBlowing(float rate);
  void noteOn(float frequency, float amplitude) override;
  void noteOff(float amplitude) override;
  float tick() override;
  using Instrmnt::tick;
  void controlChange(int number, float value) override;

  double storedReed;
  double storedNoiseGain;
  double storedTonehole = 1.0;
  double storedVent = 0.0;
  double storedPressure = 1.0;
  double storedRate;

  // 0 reed to vent, 1 vent to tone hole, 2 tone hole to bell.
  DelayL delays[3];
  ReedTabl reedTable;
  OneZero filter;
  PoleZero tonehole;
  PoleZero vent;
  ReedBreath breath;
  long length;
  float scatter = -0.0740740746f;  // -r_th^2 / (r_th^2 + 2 r_b^2)
  float thCoeff;                   // the open tone hole's coefficient
  float rth = 0.003f;              // tone-hole radius in metres
  float rhCoeff;                   // the vent's pole
  float rhGain;                    // the open vent's gain
  float outputGain = 1.0f;
  float lastOutput = 0.0f;
};

// The breath of the jet and lip winds: an ADSR, scaled by the maximum
// pressure, and a vibrato.
struct JetBreath {
  explicit JetBreath(double vibratoHz);

  // Blowing, alike for the flute, the bottle and the brass: a NaN argument
  // changes nothing, with one message naming `who`. The peak pressure is
  // amplitude / pressureDivisor.
  void startBlowing(const char* who, float amplitude, float rate, float pressureDivisor = 1.0f);
  void stopBlowing(const char* who, float rate);

  ADSR envelope;
  WaveLoop vibrato;
  float maxPressure = 0.0f;
  float vibratoGain = 0.0f;
};

class Flute : public Instrmnt {
 public:
  // Delay lines sized for `lowest` Hz; untuned until the first frequency
  // (the bore holds 100 samples, the jet 49).
  explicit Flute(float lowest);
  ~Flute() override = default;

  void clear();
  // Stores its argument as the frequency, also when it plays 220 Hz.
  void setFrequency(float frequency) override;
  // Jet delay as a share of the bore's.
  void setJetDelay(float ratio);
  void setJetReflection(float v);
  void setEndReflection(float v);
  // Maximum pressure amplitude / 0.8, attack at `rate`.
  void startBlowing(float amplitude, float rate);
  void stopBlowing(float rate);
  void noteOn(float frequency, float amplitude) override;
  void noteOff(float amplitude) override;
  float tick() override;
  using Instrmnt::tick;
  void controlChange(int number, float value) override;

  double storedJetDelay = 0.32;
  double storedJetReflection = 0.5;
  double storedEndReflection = 0.5;
  double storedNoiseGain;
  double storedVibratoFreq;
  double storedVibratoGain;
  double storedPressure = 1.0;
  double storedRate = 0.005;

  DelayL jetDelay;
  DelayL boreDelay;
  JetTabl jetTable;
  OnePole filter;
  PoleZero dcBlock;
  Noise noise;
  JetBreath breath;
  long length;        // half the bore's allocated length
  float lastFrequency = 220.0f;  // what the bore is tuned to (2/3 of the note)
  float jetReflection = 0.5f;
  float endReflection = 0.5f;
  float noiseGain = 0.15f;
  float outputGain = 1.0f;
  float jetRatio = 0.32f;
  float lastOutput = 0.0f;
};

class BlowBotl : public Instrmnt {
 public:
  // The resonator at 500 Hz (the language sets 220 Hz).
  BlowBotl();
  ~BlowBotl() override = default;

  void setFrequency(float frequency) override;
  void startBlowing(float amplitude, float rate);
  void stopBlowing(float rate);
  void noteOn(float frequency, float amplitude) override;
  void noteOff(float amplitude) override;
  float tick() override;
  using Instrmnt::tick;
  void controlChange(int number, float value) override;

  double storedRate = 0.02;
  double storedNoiseGain;
  double storedVibratoFreq;
  double storedVibratoGain = 0.0;
  double storedVolume = 1.0;

  JetTabl jetTable;
  BiQuad resonator;
  PoleZero dcBlock;
  Noise noise;
  JetBreath breath;
  float noiseGain = 20.0f;
  float outputGain = 1.0f;
  float lastOutput = 0.0f;

 private:
  void tune(float frequency);
};

class Brass : public Instrmnt {
 public:
  // The tube sized for `lowest` Hz; tuned to 220 Hz.
  explicit Brass(float lowest);
  ~Brass() override = default;

  void clear();
  void setFrequency(float frequency) override;
  // The lips' resonance in Hz (at or below 0: 220 Hz, with a message).
  void setLip(float frequency);
  void startBlowing(float amplitude, float rate);
  void stopBlowing(float rate);
  void noteOn(float frequency, float amplitude) override;
  void noteOff(float amplitude) override;
  float tick() override;
  using Instrmnt::tick;
  void controlChange(int number, float value) override;

  double storedRate = 0.005;
  double storedLip = 0.1;
  double storedSlide;
  double storedVibratoFreq;
  double storedVibratoGain = 0.0;
  double storedVolume = 1.0;

  DelayA delayLine;
  BiQuad lipFilter;
  PoleZero dcBlock;
  JetBreath breath;
  long length;
  float lipTarget = 0.0f;    // Hz: the resonance the lip control scales
  float slideTarget = 0.0f;  // samples: the tube for the note
  float lastOutput = 0.0f;

 private:
  void lipResonance(float frequency);
};

#endif
