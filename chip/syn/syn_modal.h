// Modal synthesis: a struck object sounded as a bank of resonant two-pole
// filters, one per vibration mode.
//
// Modal is the shared engine: a short strike wave (read once by a WvIn the
// subclass owns), shaped by a one-sample envelope and a one-pole lowpass,
// excites every mode filter; the modes' sum, mixed with some of the dry
// strike (directGain), can carry an amplitude vibrato. Each mode has a
// ratio (a multiple of the base frequency, or, when negative, an absolute
// frequency of |ratio| Hz) and a pole radius.
//
// ModalBar is the four-mode bar: the built-in strike table
// "special:marmsyn1", nine presets of bars and blocks, stick hardness (the
// strike wave's speed and loudness) and strike position (the first three
// modes' gains).
//
// Hostile values. A ratio or frequency that is not finite is refused (the
// halving that keeps a mode below Nyquist would never end on one), and the
// halving is bounded anyway. The radius a filter actually gets (the stored
// radius times a damping factor) is kept below kMaxRadius in magnitude, so
// no setting can make a mode ring up; the stored radii stay as set. Preset
// numbers take their non-negative remainder modulo 9, so a negative number
// selects a row too.
//
// Everything runs on the audio thread; nothing is locked.
#ifndef CHIP_SYN_MODAL_H
#define CHIP_SYN_MODAL_H

#include <memory>
#include <vector>

#include "chip/syn/syn.h"
#include "chip/syn/syn_envelope.h"
#include "chip/syn/syn_filter.h"
#include "chip/syn/syn_wvin.h"

class Modal : public Instrmnt {
 public:
  // The largest pole radius magnitude a mode filter is given.
  static constexpr float kMaxRadius = 0.99999f;
  // The most halvings that bring a ratio below Nyquist.
  static constexpr int kMaxHalvings = 400;

  // modes <= 0 is a bad argument (reported and thrown).
  explicit Modal(int modes);
  ~Modal() override = default;

  void setFrequency(float frequency) override;
  void setRatioAndRadius(int modeIndex, float ratio, float radius);
  void setModeGain(int modeIndex, float gain);
  virtual void strike(float amplitude);
  void noteOn(float frequency, float amplitude) override;
  void noteOff(float amplitude) override;
  // Every mode's resonance from its stored ratio and radius x factor (the
  // stored radii stay); a factor that is not finite is ignored.
  void damp(float factor);
  // Zeroes the one-pole's and every mode filter's histories.
  void clear();
  float tick() override;
  using Instrmnt::tick;

  // The mode's resonance from a ratio (negative: |ratio| Hz) and a radius.
  void setResonance(int modeIndex, float ratio, float radius);

  // Language-side copies the getters return.
  double storedVibratoGain = 0.0;
  double storedVibratoFreq = 6.0;
  double storedVolume = 1.0;

  Envelope envelope;
  std::unique_ptr<WvIn> wave;  // made by the subclass
  std::vector<BiQuad> filters;
  OnePole strikeFilter;
  WaveLoop vibrato;
  int modeCount;
  float vibratoGain = 0.0f;
  float masterGain = 1.0f;
  float directGain = 0.0f;
  float stickHardness = 0.5f;
  float strikePosition = 0.561f;
  float baseFrequency = 440.0f;
  std::vector<float> ratios;
  std::vector<float> radii;
  float lastOutput = 0.0f;
};

class ModalBar : public Modal {
 public:
  ModalBar();
  ~ModalBar() override = default;

  // Installs row preset mod 9 (the non-negative remainder).
  void setPreset(int preset);
  void setStickHardness(float hardness);
  void setStrikePosition(float position);
  void controlChange(int number, float value) override;

  // The language's fields: the preset last set, the addressed mode and
  // its stored ratio and radius (mode 0's until `mode` is called).
  int preset = 0;
  int mode = 0;
  double modeRatio = 0.0;
  double modeRadius = 0.0;
};

#endif
