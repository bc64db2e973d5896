// The FM engine and its seven voices.
#include "chip/syn/syn_fm.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "chip/syn/syn_control.h"
#include "chip/syn/syn_phonemes.h"

namespace {

const char* const kSine = "special:sinewave";
const char* const kFwav = "special:fwavblnk";

}  // namespace

// ---------------------------------------------------------------------------
// FM

FM::FM(int operators) : vibrato(kSine, true, true) {
  if (operators < 1) {
    char text[128];
    std::snprintf(text, sizeof text,
                  SYN_PREFIX_FM "Invalid number of operators (%d) argument to constructor!",
                  operators);
    Syn::handleError(text, SynError::FUNCTION_ARGUMENT);
  }
  nOperators = operators;
  twozero.setB2(-1.0f);
  twozero.setGain(0.0f);
  vibrato.setFrequency(6.0);
  for (int i = 0; i < nOperators; i++) {
    ratios.push_back(1.0f);
    gains.push_back(1.0f);
    adsr.push_back(std::make_unique<ADSR>());
    waves.push_back(nullptr);
  }
  modDepth = 0.0f;
  control1 = 1.0f;
  control2 = 1.0f;
  baseFrequency = 440.0f;
  m_frequency = 440.0;

  float temp = 1.0f;
  for (int i = 99; i >= 0; i--) {
    fmGains[i] = temp;
    temp = static_cast<float>(temp * 0.933033);
  }
  temp = 1.0f;
  for (int i = 15; i >= 0; i--) {
    fmSusLevels[i] = temp;
    temp = static_cast<float>(temp * 0.707101);
  }
}

FM::~FM() = default;

void FM::loadWaves(const char* const* names) {
  for (int i = 0; i < nOperators; i++) waves[i] = std::make_unique<WaveLoop>(names[i], true, true);
}

void FM::setOperatorFrequency(int k, double hz) {
  if (waves[k]) waves[k]->setFrequency(hz);
}

void FM::setPhaseOffset(int k, float cycles) {
  if (waves[k]) waves[k]->addPhaseOffset(cycles);
}

float FM::op(int k) {
  const float e = adsr[k]->tick();
  const float w = waves[k] ? waves[k]->tick() : 0.0f;
  return e * w;
}

void FM::setFrequency(float frequency) {
  if (!std::isfinite(frequency)) return;
  baseFrequency = frequency;
  for (int i = 0; i < nOperators; i++) setOperatorFrequency(i, double(baseFrequency) * ratios[i]);
  m_frequency = frequency;
}

void FM::setRatio(int waveIndex, float ratio) {
  if (waveIndex < 0) {
    syn_warn(SYN_PREFIX "FM: setRatio waveIndex parameter is less than zero!");
    return;
  }
  if (waveIndex >= nOperators) {
    syn_warn(SYN_PREFIX
             "FM: setRatio waveIndex parameter is greater than the number of "
             "operators!");
    return;
  }
  ratios[waveIndex] = ratio;
  setOperatorFrequency(waveIndex, ratio > 0.0f ? double(baseFrequency) * ratio : double(ratio));
}

void FM::setGain(int waveIndex, float gain) {
  if (waveIndex >= 0 && waveIndex < nOperators) gains[waveIndex] = gain;
}

void FM::setModulationSpeed(float hz) { vibrato.setFrequency(hz); }

void FM::setModulationDepth(float depth) {
  if (std::isfinite(depth)) modDepth = depth;
}

void FM::setControl1(float value) {
  if (std::isfinite(value)) control1 = value * 2.0f;
}

void FM::setControl2(float value) {
  if (std::isfinite(value)) control2 = value * 2.0f;
}

void FM::keyOn() {
  for (auto& e : adsr) e->keyOn();
}

void FM::keyOff() {
  for (auto& e : adsr) e->keyOff();
}

void FM::noteOff(float) { keyOff(); }

void FM::controlChange(int number, float value) {
  float norm;
  if (!syn_control_norm("FM", value, &norm)) return;
  if (number == 2) {
    control1 = 2.0f * norm;
  } else if (number == 4) {
    control2 = 2.0f * norm;
  } else if (number == 11) {
    vibrato.setFrequency(norm * 12.0);
  } else if (number == 1) {
    modDepth = norm;
  } else if (number == 128) {
    adsr[1]->setTarget(norm);
    if (nOperators > 3) adsr[3]->setTarget(norm);
  } else {
    syn_warn(SYN_PREFIX "FM: Undefined Control Number (%d)!!", number);
  }
}

float FM::tickPiano() {
  const float t = gains[1] * op(1) * control1;
  setPhaseOffset(0, t);
  setPhaseOffset(3, twozero.lastOut());
  const float u = gains[3] * op(3);
  twozero.tick(u);
  setPhaseOffset(2, u);
  const float a = (1.0f - control2 * 0.5f) * gains[0] * op(0);
  const float b = control2 * 0.5f * gains[2] * op(2);
  const float v = vibrato.tick();
  lastOutput = (a + b) * (1.0f + modDepth * v) * 0.5f;
  return lastOutput;
}

// ---------------------------------------------------------------------------
// BareFM

float BareFM::tick() {
  virtual_.warn(SYN_PREFIX "error : FM tick is virtual!");
  return 0.0f;
}

// ---------------------------------------------------------------------------
// BeeThree

BeeThree::BeeThree() : FM(4) {
  // The first three name their sine with the raw-wave path in front; the
  // table is found inside the longer name.
  const std::string sine = std::string(Syn::rawwavepath) + kSine;
  const char* names[] = {sine.c_str(), sine.c_str(), sine.c_str(), kFwav};
  loadWaves(names);
  setRatio(0, 0.999f);
  setRatio(1, 1.997f);
  setRatio(2, 3.006f);
  setRatio(3, 6.009f);
  gains[0] = fmGains[95];
  gains[1] = fmGains[95];
  gains[2] = fmGains[99];
  gains[3] = fmGains[95];
  adsr[0]->setAllTimes(0.005f, 0.003f, 1.0f, 0.01f);
  adsr[1]->setAllTimes(0.005f, 0.003f, 1.0f, 0.01f);
  adsr[2]->setAllTimes(0.005f, 0.003f, 1.0f, 0.01f);
  adsr[3]->setAllTimes(0.005f, 0.001f, 0.4f, 0.03f);
  twozero.setGain(0.1f);
  vibrato.setFrequency(6.0);
  modDepth = 0.0f;
}

void BeeThree::noteOn(float frequency, float amplitude) {
  gains[0] = amplitude * fmGains[95];
  gains[1] = amplitude * fmGains[95];
  gains[2] = amplitude * fmGains[99];
  gains[3] = amplitude * fmGains[95];
  setFrequency(frequency);
  keyOn();
}

float BeeThree::tick() {
  if (modDepth > 0.0f) {
    const double m = 1.0 + modDepth * vibrato.tick() * 0.1;
    for (int k = 0; k < 4; k++) setOperatorFrequency(k, baseFrequency * m * ratios[k]);
  }
  setPhaseOffset(3, twozero.lastOut());
  float t = control1 * 2.0f * gains[3] * op(3);
  twozero.tick(t);
  t += control2 * 2.0f * gains[2] * op(2);
  t += gains[1] * op(1);
  t += gains[0] * op(0);
  lastOutput = t * 0.125f;
  return lastOutput;
}

// ---------------------------------------------------------------------------
// FMVoices

FMVoices::FMVoices() : FM(4) {
  const char* names[] = {kSine, kSine, kSine, kFwav};
  loadWaves(names);
  setRatio(0, 2.0f);
  setRatio(1, 4.0f);
  setRatio(2, 12.0f);
  setRatio(3, 1.0f);
  gains[3] = fmGains[80];
  adsr[0]->setAllTimes(0.05f, 0.05f, fmSusLevels[15], 0.05f);
  adsr[1]->setAllTimes(0.05f, 0.05f, fmSusLevels[15], 0.05f);
  adsr[2]->setAllTimes(0.05f, 0.05f, fmSusLevels[15], 0.05f);
  adsr[3]->setAllTimes(0.01f, 0.01f, fmSusLevels[15], 0.5f);
  twozero.setGain(0.0f);
  modDepth = 0.005f;
  currentVowel = 0;
  tilt[0] = 1.0f;
  tilt[1] = 0.5f;
  tilt[2] = 0.2f;
  mods[0] = 1.0f;
  mods[1] = 1.1f;
  mods[2] = 1.1f;
  baseFrequency = 110.0f;
  setFrequency(110.0f);
}

void FMVoices::setFrequency(float frequency) {
  if (!(frequency > 0.0f) || !std::isfinite(frequency)) {
    syn_warn(SYN_PREFIX "FMVoices: setFrequency parameter is less than or equal to zero!");
    frequency = 220.0f;
  }
  float factor = 0.0f;
  int index = 0;
  if (currentVowel < 32) {
    index = currentVowel;
    factor = 0.9f;
  } else if (currentVowel < 64) {
    index = currentVowel - 32;
    factor = 1.0f;
  } else if (currentVowel < 96) {
    index = currentVowel - 64;
    factor = 1.1f;
  } else if (currentVowel <= 128) {
    index = currentVowel - 96;
    factor = 1.2f;
  }
  baseFrequency = frequency;
  for (int k = 0; k < 3; k++) {
    const float formant = Phonemes::formantFrequency(index, k);
    setRatio(k, static_cast<float>(static_cast<int>(factor * formant / baseFrequency + 0.5f)));
  }
  gains[0] = 1.0f;
  gains[1] = 1.0f;
  gains[2] = 1.0f;
  m_frequency = frequency;
}

void FMVoices::noteOn(float frequency, float amplitude) {
  setFrequency(frequency);
  tilt[0] = amplitude;
  tilt[1] = amplitude * amplitude;
  tilt[2] = tilt[1] * amplitude;
  keyOn();
}

void FMVoices::controlChange(int number, float value) {
  float norm;
  if (!syn_control_norm("FMVoices", value, &norm)) return;
  if (number == 2) {
    gains[3] = fmGains[static_cast<int>(norm * 99.9f)];
  } else if (number == 4) {
    currentVowel = static_cast<int>(norm * 128.0f);
    setFrequency(baseFrequency);
  } else if (number == 11) {
    vibrato.setFrequency(norm * 12.0);
  } else if (number == 1) {
    modDepth = norm;
  } else if (number == 128) {
    tilt[0] = norm;
    tilt[1] = norm * norm;
    tilt[2] = tilt[1] * norm;
  } else {
    syn_warn(SYN_PREFIX "FMVoices: Undefined Control Number (%d)!!", number);
  }
}

float FMVoices::tick() {
  const float u = gains[3] * op(3);
  const double m = 1.0 + vibrato.tick() * modDepth * 0.1;
  for (int k = 0; k < 4; k++) setOperatorFrequency(k, baseFrequency * m * ratios[k]);
  setPhaseOffset(0, u * mods[0]);
  setPhaseOffset(1, u * mods[1]);
  setPhaseOffset(2, u * mods[2]);
  setPhaseOffset(3, twozero.lastOut());
  twozero.tick(u);
  float out = gains[0] * tilt[0] * op(0);
  out += gains[1] * tilt[1] * op(1);
  out += gains[2] * tilt[2] * op(2);
  return out * 0.33f;
}

// ---------------------------------------------------------------------------
// HevyMetl

HevyMetl::HevyMetl() : FM(4) {
  const char* names[] = {kSine, kSine, kSine, kFwav};
  loadWaves(names);
  setRatio(0, 1.0f);
  setRatio(1, 3.996f);
  setRatio(2, 3.003f);
  setRatio(3, 0.501f);
  gains[0] = fmGains[92];
  gains[1] = fmGains[76];
  gains[2] = fmGains[91];
  gains[3] = fmGains[68];
  adsr[0]->setAllTimes(0.001f, 0.001f, 1.0f, 0.01f);
  adsr[1]->setAllTimes(0.001f, 0.01f, 1.0f, 0.5f);
  adsr[2]->setAllTimes(0.01f, 0.005f, 1.0f, 0.2f);
  adsr[3]->setAllTimes(0.03f, 0.01f, 0.2f, 0.2f);
  twozero.setGain(2.0f);
  vibrato.setFrequency(5.5);
  modDepth = 0.0f;
}

void HevyMetl::noteOn(float frequency, float amplitude) {
  gains[0] = amplitude * fmGains[92];
  gains[1] = amplitude * fmGains[76];
  gains[2] = amplitude * fmGains[91];
  gains[3] = amplitude * fmGains[68];
  setFrequency(frequency);
  keyOn();
}

float HevyMetl::tick() {
  const double m = 1.0 + vibrato.tick() * modDepth * 0.2;
  for (int k = 0; k < 4; k++) setOperatorFrequency(k, baseFrequency * m * ratios[k]);
  setPhaseOffset(1, gains[2] * op(2));
  setPhaseOffset(3, twozero.lastOut());
  float t = (1.0f - control2 * 0.5f) * gains[3] * op(3);
  twozero.tick(t);
  t += control2 * 0.5f * gains[1] * op(1);
  setPhaseOffset(0, t * control1);
  lastOutput = gains[0] * op(0) * 0.5f;
  return lastOutput;
}

// ---------------------------------------------------------------------------
// PercFlut

PercFlut::PercFlut() : FM(4) {
  const char* names[] = {kSine, kSine, kSine, kFwav};
  loadWaves(names);
  setRatio(0, 1.5f);
  setRatio(1, 2.985f);
  setRatio(2, 3.00495f);
  setRatio(3, 5.982f);
  gains[0] = fmGains[99];
  gains[1] = fmGains[71];
  gains[2] = fmGains[93];
  gains[3] = fmGains[85];
  adsr[0]->setAllTimes(0.05f, 0.05f, fmSusLevels[14], 0.05f);
  adsr[1]->setAllTimes(0.02f, 0.50f, fmSusLevels[13], 0.5f);
  adsr[2]->setAllTimes(0.02f, 0.30f, fmSusLevels[11], 0.05f);
  adsr[3]->setAllTimes(0.02f, 0.05f, fmSusLevels[13], 0.01f);
  twozero.setGain(0.0f);
  modDepth = 0.005f;
}

void PercFlut::setFrequency(float frequency) {
  if (!std::isfinite(frequency)) return;
  baseFrequency = frequency;
  m_frequency = frequency;
}

void PercFlut::noteOn(float frequency, float amplitude) {
  gains[0] = amplitude * fmGains[99] * 0.5f;
  gains[1] = amplitude * fmGains[71] * 0.5f;
  gains[2] = amplitude * fmGains[93] * 0.5f;
  gains[3] = amplitude * fmGains[85] * 0.5f;
  setFrequency(frequency);
  keyOn();
}

float PercFlut::tick() {
  const double m = 1.0 + vibrato.tick() * modDepth * 0.2;
  for (int k = 0; k < 4; k++) setOperatorFrequency(k, baseFrequency * m * ratios[k]);
  setPhaseOffset(3, twozero.lastOut());
  const float u = gains[3] * op(3);
  twozero.tick(u);
  setPhaseOffset(2, u);
  float t = (1.0f - control2 * 0.5f) * gains[2] * op(2);
  t += control2 * 0.5f * gains[1] * op(1);
  setPhaseOffset(0, t * control1);
  lastOutput = gains[0] * op(0) * 0.5f;
  return lastOutput;
}

// ---------------------------------------------------------------------------
// Rhodey

Rhodey::Rhodey() : FM(4) {
  const char* names[] = {kSine, kSine, kSine, kFwav};
  loadWaves(names);
  setRatio(0, 1.0f);
  setRatio(1, 0.5f);
  setRatio(2, 1.0f);
  setRatio(3, 15.0f);
  gains[0] = fmGains[99];
  gains[1] = fmGains[90];
  gains[2] = fmGains[99];
  gains[3] = fmGains[67];
  adsr[0]->setAllTimes(0.001f, 1.50f, 0.0f, 0.04f);
  adsr[1]->setAllTimes(0.001f, 1.50f, 0.0f, 0.04f);
  adsr[2]->setAllTimes(0.001f, 1.00f, 0.0f, 0.04f);
  adsr[3]->setAllTimes(0.001f, 0.25f, 0.0f, 0.04f);
  twozero.setGain(1.0f);
  modDepth = 0.0f;
}

void Rhodey::setFrequency(float frequency) {
  if (!std::isfinite(frequency)) return;
  baseFrequency = frequency * 2.0f;
  for (int k = 0; k < nOperators; k++) setOperatorFrequency(k, double(baseFrequency) * ratios[k]);
  m_frequency = baseFrequency * 0.5f;
}

void Rhodey::noteOn(float frequency, float amplitude) {
  gains[0] = amplitude * fmGains[99];
  gains[1] = amplitude * fmGains[90];
  gains[2] = amplitude * fmGains[99];
  gains[3] = amplitude * fmGains[67];
  setFrequency(frequency);
  keyOn();
}

float Rhodey::tick() { return tickPiano(); }

// ---------------------------------------------------------------------------
// TubeBell

TubeBell::TubeBell() : FM(4) {
  const char* names[] = {kSine, kSine, kSine, kFwav};
  loadWaves(names);
  setRatio(0, 0.995f);
  setRatio(1, 1.40693f);
  setRatio(2, 1.005f);
  setRatio(3, 1.414f);
  gains[0] = fmGains[94];
  gains[1] = fmGains[76];
  gains[2] = fmGains[99];
  gains[3] = fmGains[71];
  adsr[0]->setAllTimes(0.005f, 4.0f, 0.0f, 0.04f);
  adsr[1]->setAllTimes(0.005f, 4.0f, 0.0f, 0.04f);
  adsr[2]->setAllTimes(0.001f, 2.0f, 0.0f, 0.04f);
  adsr[3]->setAllTimes(0.004f, 4.0f, 0.0f, 0.04f);
  twozero.setGain(0.5f);
  vibrato.setFrequency(2.0);
  modDepth = 0.0f;
}

void TubeBell::noteOn(float frequency, float amplitude) {
  gains[0] = amplitude * fmGains[94];
  gains[1] = amplitude * fmGains[76];
  gains[2] = amplitude * fmGains[99];
  gains[3] = amplitude * fmGains[71];
  setFrequency(frequency);
  keyOn();
}

float TubeBell::tick() { return tickPiano(); }

// ---------------------------------------------------------------------------
// Wurley

Wurley::Wurley() : FM(4) {
  const char* names[] = {kSine, kSine, kSine, kFwav};
  loadWaves(names);
  setRatio(0, 1.0f);
  setRatio(1, 4.0f);
  setRatio(2, -510.0f);
  setRatio(3, -510.0f);
  gains[0] = fmGains[99];
  gains[1] = fmGains[82];
  gains[2] = fmGains[92];
  gains[3] = fmGains[68];
  adsr[0]->setAllTimes(0.001f, 1.50f, 0.0f, 0.04f);
  adsr[1]->setAllTimes(0.001f, 1.50f, 0.0f, 0.04f);
  adsr[2]->setAllTimes(0.001f, 0.25f, 0.0f, 0.04f);
  adsr[3]->setAllTimes(0.001f, 0.15f, 0.0f, 0.04f);
  twozero.setGain(2.0f);
  vibrato.setFrequency(8.0);
  modDepth = 0.0f;
}

void Wurley::setFrequency(float frequency) {
  if (!std::isfinite(frequency)) return;
  baseFrequency = frequency;
  setOperatorFrequency(0, double(baseFrequency) * ratios[0]);
  setOperatorFrequency(1, double(baseFrequency) * ratios[1]);
  setOperatorFrequency(2, ratios[2]);
  setOperatorFrequency(3, ratios[3]);
  m_frequency = frequency;
}

void Wurley::noteOn(float frequency, float amplitude) {
  gains[0] = amplitude * fmGains[99];
  gains[1] = amplitude * fmGains[82];
  gains[2] = amplitude * fmGains[82];
  gains[3] = amplitude * fmGains[68];
  setFrequency(frequency);
  keyOn();
}

void Wurley::controlChange(int number, float value) {
  if (number != 3) {
    FM::controlChange(number, value);
    return;
  }
  if (!syn_is_number("Wurley", "Control value", value)) return;
  adsr[0]->setAllTimes(0.001f, 1.5f * value, 0.0f, 0.04f);
  adsr[1]->setAllTimes(0.001f, 1.5f * value, 0.0f, 0.04f);
  adsr[2]->setAllTimes(0.001f, 0.25f * value, 0.0f, 0.04f);
  adsr[3]->setAllTimes(0.001f, 0.15f * value, 0.0f, 0.04f);
}

float Wurley::tick() { return tickPiano(); }
