// The toolkit's FM instruments: FM, a four-operator engine, and its seven
// voices BeeThree (organ), FMVoices (singing voice), HevyMetl, PercFlut
// (percussive flute), Rhodey and Wurley (electric pianos) and TubeBell.
//
// Each operator is a table oscillator (a normalised WaveLoop on a built-in
// table) with a frequency ratio, a gain and an ADSR. Operators modulate
// one another by setting each other's phase offset every sample; operator
// 3 also feeds back on itself through a TwoZero (b = {1, 0, -1}). A slow
// sine gives vibrato or tremolo. Voices differ in tables, ratios, gains,
// envelopes and in the algorithm of their tick.
//
// Tables: gain table entry i = 0.933033^(99 - i) (running product, single
// precision), entry 99 = 1; sustain-level table entry j = 0.707101^(15 - j).
//
// Controls (controlChange, 0..128): 2 control 1, 4 control 2, 11 vibrato
// rate (12 Hz at 128), 1 modulation depth, 128 the targets of operators 1
// and 3 (FMVoices: its own set, below). Out-of-range values are clamped
// with the toolkit's messages; NaN is ignored with a message, so it never
// reaches a table index. An operator's ratio above 0 scales the base
// frequency; at or below 0 it is a fixed frequency in Hz (Wurley's -510).
//
// A bare FM (no voice) is a BareFM: it outputs 0 and says once that its
// tick is virtual. Everything runs on the audio thread; nothing allocates
// after construction.
#ifndef CHIP_SYN_FM_H
#define CHIP_SYN_FM_H

#include <memory>
#include <vector>

#include "chip/syn/syn.h"
#include "chip/syn/syn_envelope.h"
#include "chip/syn/syn_filter.h"
#include "chip/syn/syn_wvin.h"

class FM : public Instrmnt {
 public:
  // operators below 1: "[chip](via FM): Invalid number of operators (%d)
  // argument to constructor!" through Syn::handleError (thrown).
  explicit FM(int operators = 4);
  ~FM() override;

  // Operator k reads the built-in table names[k] (looping, normalised).
  void loadWaves(const char* const* names);
  void setFrequency(float frequency) override;
  // Ratio of operator waveIndex (a message and no change outside the
  // operators).
  void setRatio(int waveIndex, float ratio);
  // One operator's gain; for an instrument that voices its operators one
  // by one (the instruments here set their gains when they are built).
  void setGain(int waveIndex, float gain);
  // Vibrato rate in Hz; non-finite ignored.
  void setModulationSpeed(float hz);
  // Non-finite values are ignored by these three.
  void setModulationDepth(float depth);
  void setControl1(float value);
  void setControl2(float value);
  void keyOn();
  void keyOff();
  void noteOff(float amplitude) override;
  void controlChange(int number, float value) override;
  float lastOut() const { return lastOutput; }

  int nOperators;
  std::vector<std::unique_ptr<ADSR>> adsr;
  std::vector<std::unique_ptr<WaveLoop>> waves;  // null until loadWaves
  WaveLoop vibrato;
  TwoZero twozero;
  float baseFrequency;
  std::vector<float> ratios;
  std::vector<float> gains;
  float modDepth;
  float control1;
  float control2;
  float fmGains[100];
  float fmSusLevels[16];
  float lastOutput = 0.0f;

 protected:
  // Operator k's envelope ticked, then its wave; their product.
  float op(int k);
  // Operator k's frequency in Hz (non-finite values leave it as it is).
  void setOperatorFrequency(int k, double hz);
  void setPhaseOffset(int k, float cycles);
  // The tick of Rhodey, TubeBell and Wurley.
  float tickPiano();
};

// What a language FM without a voice holds.
class BareFM : public FM {
 public:
  BareFM() : FM(4) {}
  void noteOn(float, float) override {}
  float tick() override;
  using Instrmnt::tick;

 private:
  SynOnce virtual_;
};

class BeeThree : public FM {
 public:
  BeeThree();
  void noteOn(float frequency, float amplitude) override;
  float tick() override;
  using Instrmnt::tick;
};

class FMVoices : public FM {
 public:
  FMVoices();
  // Frequencies at or below 0 (and NaN) play 220 Hz, with a message.
  void setFrequency(float frequency) override;
  void noteOn(float frequency, float amplitude) override;
  void controlChange(int number, float value) override;
  float tick() override;
  using Instrmnt::tick;

  int currentVowel = 0;
  float tilt[3];
  float mods[3];
  float vowelSetting = 0.8f;  // what the language's `vowel` last set
};

class HevyMetl : public FM {
 public:
  HevyMetl();
  void noteOn(float frequency, float amplitude) override;
  float tick() override;
  using Instrmnt::tick;
};

class PercFlut : public FM {
 public:
  PercFlut();
  void setFrequency(float frequency) override;
  void noteOn(float frequency, float amplitude) override;
  float tick() override;
  using Instrmnt::tick;
};

class Rhodey : public FM {
 public:
  Rhodey();
  void setFrequency(float frequency) override;
  void noteOn(float frequency, float amplitude) override;
  float tick() override;
  using Instrmnt::tick;
};

class TubeBell : public FM {
 public:
  TubeBell();
  void noteOn(float frequency, float amplitude) override;
  float tick() override;
  using Instrmnt::tick;
};

class Wurley : public FM {
 public:
  Wurley();
  void setFrequency(float frequency) override;
  void noteOn(float frequency, float amplitude) override;
  void controlChange(int number, float value) override;
  float tick() override;
  using Instrmnt::tick;
};

#endif
