// The banded waveguide of the toolkit: struck or bowed bars, glasses and
// bowls. Each resonant mode is a delay-line loop of one period of that mode
// with a two-pole bandpass at its frequency; a strike fills the loops at
// once, a bow drives all of them through the bow's friction table with the
// difference between the bow's velocity and the modes' summed output.
//
// Presets (mode ratios, loop gains and excitation gains): 0 (and any
// number not listed) a uniform bar, 1 a tuned bar, 2 a glass harmonica,
// 3 a Tibetan bowl. A mode whose loop would be 2 samples or shorter at the
// current frequency is left out (with all modes above it); the count is
// worked out from the preset at every frequency, so a high note does not
// take modes away from the notes after it.
//
// Arguments. A NaN argument changes nothing and is reported once per object;
// control values are clamped to 0..128 with a message; frequencies at or
// below 0 become 220 (with a message), those above 1568 are capped. The
// bow's velocity input, a recursion, is stored flushed (see syn_flush).
//
// Arithmetic is single precision unless a step says double. Everything runs
// on the audio thread; nothing is allocated after construction.
#ifndef CHIP_SYN_BANDED_H
#define CHIP_SYN_BANDED_H

#include "chip/syn/syn.h"
#include "chip/syn/syn_delay.h"
#include "chip/syn/syn_envelope.h"
#include "chip/syn/syn_filter.h"
#include "chip/syn/syn_tables.h"

class BandedWG : public Instrmnt {
 public:
  static constexpr int kMaxModes = 20;

  BandedWG();
  ~BandedWG() override = default;

  // Loads mode set n and retunes to the current frequency.
  void setPreset(int preset);
  void setFrequency(float frequency) override;
  // Fills each active mode's loop with impulses of a x its excitation gain.
  void pluck(float amplitude);
  // Strikes in pluck mode, starts bowing otherwise.
  void noteOn(float frequency, float amplitude) override;
  // Stops bowing in bow mode; nothing in pluck mode.
  void noteOff(float amplitude) override;
  // Envelope at the stored bow rate, key-on, maximum velocity 0.03 + 0.1 a.
  void startBowing(float amplitude);
  // Envelope at rate r, key-off.
  void stopBowing(float rate);
  float tick() override;
  using Instrmnt::tick;
  void controlChange(int number, float value) override;

  // What the language getters return.
  double storedBowRate = 0.02;
  int presetNumber = 0;
  double storedBowPressure = 0.0;
  double storedBowMotion = 0.0;
  double storedModesGain = 0.9900001287460336;
  double storedStrikePosition = 0.0;

  bool doPluck = true;
  bool trackVelocity = false;
  int nModes = 0;
  int presetModes = 0;
  BowTabl bowTable;
  ADSR adsr;
  BiQuad bandpass[kMaxModes];
  DelayL delay[kMaxModes];
  float maxVelocity = 0.0f;  // set by bowing and control 128
  float modes[kMaxModes] = {};
  float frequency = 220.0f;
  float baseGain = 0.999f;
  float gains[kMaxModes] = {};
  float basegains[kMaxModes] = {};
  float excitation[kMaxModes] = {};
  float integrationConstant = 0.0f;
  float velocityInput = 0.0f;  // set by the first bowed sample
  float bowVelocity = 0.0f;
  float bowTarget = 0.0f;
  float bowPosition = 0.0f;
  float lastOutput = 0.0f;

 private:
  SynOnce nan_;
};

#endif
