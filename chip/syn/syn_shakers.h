// Shakers: a stochastic particle-collision model of shaken and scraped
// percussion. A shake puts energy into the system; while the energy decays
// (by systemDecayFactor per sample), random collisions, more likely with
// more objects, add to a sound level that excites up to eight two-pole
// resonances, and a final zero filter shapes their sum. Twenty-three
// presets (0..22) set the objects, decays, resonances and gains; presets 3
// and 10 are ratchets (driven by a scraping position), 4 is dripping water
// and 22 tuned chimes. The random source is the standard library's rand().
//
// Hostile values. A note frequency that is not a positive finite number
// selects no preset; every preset number (setupNum, control 1071) is
// reduced modulo 23 before it indexes a table; the system decay that
// control 4 computes stays in [0, kMaxDecay], so the energy always dies
// away; a negative object count is taken as 0; the scrape count and the
// retuning exponent are bounded; a control value that is not a number is
// refused with its message (the toolkit's one control rule), an infinite
// one is clamped like any value out of range, and the output clamp turns
// NaN into 0. The chime struck last belongs to each instance (one
// shaker's chimes never excite another's).
//
// Everything runs on the audio thread; nothing is locked.
#ifndef CHIP_SYN_SHAKERS_H
#define CHIP_SYN_SHAKERS_H

#include "chip/syn/syn.h"

class Shakers : public Instrmnt {
 public:
  static constexpr int kMaxResonances = 8;
  static constexpr int kPresets = 23;
  static constexpr float kMaxEnergy = 2000.0f;
  static constexpr float kMinEnergy = 0.3f;
  // The largest system decay control 4 may set (below 1: the energy dies).
  static constexpr float kMaxDecay = 0.999999f;

  Shakers();
  ~Shakers() override = default;

  // Installs preset inst mod 23 (a negative remainder installs 0); the
  // preset installed.
  int setupNum(int inst);
  void noteOn(float frequency, float amplitude) override;
  // The language's noteOn: switches the model to `which` if needed, then
  // adds the energy (and a scrape for the ratchets).
  void cp_noteOn(float amplitude);
  void noteOff(float amplitude) override;
  float tick() override;
  using Instrmnt::tick;
  void controlChange(int number, float value) override;

  int which = 0;
  float storedFrequency = 220.0f;
  double storedEnergy = 0.0, storedDecay = 0.0, storedObjects = 0.0;
  int activePreset = 0;
  int scrapeCount = 0, lastScrape = 0;
  float excitation = 0.0f;
  float inputs[kMaxResonances] = {};
  float outputs[kMaxResonances][2] = {};
  float coeffs[kMaxResonances][2] = {};
  float soundLevel = 0.0f, presetGain = 0.0f;
  float gains[kMaxResonances] = {};
  int resonanceCount = 0;
  float tunedFreqs[kMaxResonances] = {};
  float presetFreqs[kMaxResonances] = {};
  float radii[kMaxResonances] = {};
  float retuneSpread[kMaxResonances] = {};
  int retuneFlags[kMaxResonances] = {};
  float soundDecayFactor = 0.0f, systemDecayFactor = 0.0f, objectCount = 0.0f;
  float scrapeLevel = 0.0f, scrapePhase = 0.0f, scrapeStep = 0.0005f;
  float zeroHistory[3] = {};
  float zeroCoeffs[3] = {1.0f, 0.0f, 0.0f};
  float presetObjects[24] = {}, presetDecays[24] = {}, presetDecayScales[24] = {};
  int chime = 0;  // the chime struck last
  float lastOutput = 0.0f;

 private:
  void setResonance(int i, float frequency, float radius);
  void setDecays(float sound, float system);
  void setFinalZeros(float b0, float b1, float b2);
  void rebuildGains();
  void scrape(float value);
  float genericTick();
  float ratchetTick();
  float waterTick();
  float chimeTick();
  // The resonance step of resonance i with input x; the new output.
  float resonate(int i, float x);
};

#endif
