// Shakers: the presets, the four sound models and the controls.
#include "chip/syn/syn_shakers.h"

#include <cmath>
#include <cstdlib>

#include "chip/syn/syn_control.h"
#include "chip/syn/syn_filter.h"

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kRandSpan = 2147483648.0;  // 2^31

// 2 rand() / 2^31 - 1.
float noise_draw() { return static_cast<float>(2.0 * std::rand() / kRandSpan - 1.0); }
// rand() x 1024 / 2^31.
float u1024() { return static_cast<float>(std::rand() * 1024.0 / kRandSpan); }
// (int)(rand() x n / 2^31).
int rand_below(int n) { return static_cast<int>(std::rand() * double(n) / kRandSpan); }

float resonance_coeff(float radius, float frequency) {
  return static_cast<float>(-2.0 * radius * std::cos(kTwoPi * frequency / Syn::srate));
}

bool is_ratchet(int preset) { return preset == 3 || preset == 10; }

}  // namespace

Shakers::Shakers() {
  m_frequency = 220.0;
  setupNum(0);
}

void Shakers::setResonance(int i, float frequency, float radius) {
  presetFreqs[i] = tunedFreqs[i] = frequency;
  radii[i] = radius;
  coeffs[i][0] = resonance_coeff(radius, frequency);
  coeffs[i][1] = radius * radius;
}

void Shakers::setDecays(float sound, float system) {
  soundDecayFactor = sound;
  systemDecayFactor = system;
}

void Shakers::setFinalZeros(float b0, float b1, float b2) {
  zeroCoeffs[0] = b0;
  zeroCoeffs[1] = b1;
  zeroCoeffs[2] = b2;
}

void Shakers::rebuildGains() {
  const float g = std::log(objectCount) * presetGain / objectCount;
  for (int i = 0; i < resonanceCount; i++) gains[i] = g;
  if (activePreset == 6) {
    gains[0] *= 0.1f;
    gains[1] *= 0.8f;
  } else if (activePreset == 7) {
    gains[3] *= 0.5f;
    gains[4] *= 0.3f;
  } else if (activePreset == 12) {
    for (int i = 1; i < resonanceCount; i++) gains[i] *= 1.8f;
  }
}

int Shakers::setupNum(int inst) {
  int p = inst % kPresets;
  if (p < 0) p = 0;
  which = p;
  for (int& f : retuneFlags) f = 0;

  // Objects, decays, decay scale, base gain and the resonance count of a
  // preset; g is the gain every resonance starts from.
  float objects = 0.0f, sound = 0.0f, system = 0.0f, scale = 0.0f, base = 0.0f;
  float presetDecay = -1.0f;  // the decay control 4 scales from, when not system
  int count = 1;
  auto common = [&](float o, float sd, float sy, float sc, float b, int n) {
    objects = o;
    sound = sd;
    system = sy;
    scale = sc;
    base = b;
    count = n;
  };
  switch (p) {
    case 0: common(25, 0.95f, 0.999f, 0.9f, 20, 1); break;
    case 1: common(512, 0.96f, 0.997f, 0.97f, 40, 1); break;
    case 2: common(64, 0.96f, 0.999f, 0.94f, 20, 1); break;
    case 3: common(128, 0.95f, 1.0f, 1.0f, 10, 2); presetDecay = 0.9999f; break;
    case 4: common(10, 0.95f, 0.996f, 0.8f, 1, 3); break;
    case 5: common(1.25f, 0.95f, 0.9999f, 0.7f, 2, 3); break;
    case 6: common(32, 0.95f, 0.9985f, 0.95f, 5, 3); break;
    case 7: common(32, 0.97f, 0.9994f, 0.9f, 1, 5); break;
    case 8: common(2, 0.96f, 0.998f, 0.96f, 30, 1); break;
    case 9: common(7, 0.95f, 0.99806f, 0.96f, 20, 1); break;
    case 10: common(128, 0.95f, 1.0f, 0.98f, 5, 2); presetDecay = 0.9999f; break;
    case 11: common(128, 0.999f, 0.999f, 0.97f, 0.5f, 1); break;
    case 12: common(48, 0.97f, 0.999f, 0.95f, 0.8f, 5); break;
    case 13: case 14: case 15: case 16: case 17: case 18: case 19:
      common(3, 0.97f, 0.9995f, 0.95f, 0.8f, p == 13 ? 4 : (p == 14 ? 7 : 6));
      break;
    case 20: common(23, 0.98f, 0.9965f, 0.95f, 20, 1); break;
    case 21: common(1600, 0.98f, 0.99586f, 0.95f, 20, 1); break;
    default: common(1.25f, 0.95f, 0.9999f, 0.7f, 1, 7); break;  // 22
  }
  objectCount = presetObjects[p] = objects;
  setDecays(sound, system);
  presetDecays[p] = presetDecay >= 0.0f ? presetDecay : system;
  presetDecayScales[p] = scale;
  presetGain = base;
  resonanceCount = count;
  const float g = std::log(objects) * base / objects;

  switch (p) {
    case 0: setResonance(0, 3200, 0.96f); gains[0] = g; setFinalZeros(1, -1, 0); break;
    case 1: setResonance(0, 3000, 0.7f); gains[0] = g; setFinalZeros(1, -1, 0); break;
    case 2: setResonance(0, 5500, 0.6f); gains[0] = g; setFinalZeros(1, 0, -1); break;
    case 3:
      setResonance(0, 2500, 0.97f);
      setResonance(1, 4000, 0.97f);
      gains[0] = gains[1] = g;
      scrapePhase = 0.0f;
      scrapeCount = 10;
      break;
    case 4:
      for (int i = 0; i < 3; i++) {
        setResonance(i, 450, 0.9985f);
        retuneFlags[i] = 1;
        retuneSpread[i] = 0.2f;
        gains[i] = g;
      }
      setFinalZeros(1, 0, 0);
      break;
    case 5: {
      const float f[3] = {2800, 2240, 3360};
      for (int i = 0; i < 3; i++) {
        setResonance(i, f[i], 0.995f);
        retuneFlags[i] = 1;
        retuneSpread[i] = 0.2f;
        gains[i] = g;
      }
      setFinalZeros(1, 0, 0);
      break;
    }
    case 6:
      setResonance(0, 2300, 0.96f);
      setResonance(1, 5600, 0.99f);
      setResonance(2, 8100, 0.99f);
      retuneFlags[1] = retuneFlags[2] = 1;
      retuneSpread[1] = retuneSpread[2] = 0.05f;
      gains[0] = 0.1f * g;
      gains[1] = 0.8f * g;
      gains[2] = g;
      setFinalZeros(1, 0, -1);
      break;
    case 7: {
      const float f[5] = {2500, 5300, 6500, 8300, 9800};
      const float m[5] = {1, 1, 1, 0.5f, 0.3f};
      for (int i = 0; i < 5; i++) {
        setResonance(i, f[i], 0.99f);
        retuneFlags[i] = 1;
        retuneSpread[i] = 0.03f;
        gains[i] = m[i] * g;
      }
      setFinalZeros(1, 0, -1);
      break;
    }
    case 8: setResonance(0, 5500, 0.6f); gains[0] = g; setFinalZeros(1, 0, -1); break;
    case 9: setResonance(0, 800, 0.95f); gains[0] = g; setFinalZeros(1, -1, 0); break;
    case 10:
      setResonance(0, 3200, 0.99f);
      setResonance(1, 8000, 0.992f);
      gains[0] = gains[1] = g;
      scrapePhase = 0.0f;
      scrapeCount = 10;
      break;
    case 11: setResonance(0, 4500, 0.6f); gains[0] = g; setFinalZeros(1, 0, -1); break;
    case 12: {
      setResonance(0, 370, 0.99f);
      const float f[4] = {1025, 1424, 2149, 3596};
      for (int i = 0; i < 4; i++) setResonance(i + 1, f[i], 0.992f);
      gains[0] = g;
      for (int i = 1; i < 5; i++) gains[i] = 1.8f * g;
      setFinalZeros(1, 0, -1);
      break;
    }
    case 20:
      setResonance(0, 6460, 0.932f);
      retuneFlags[0] = 1;
      retuneSpread[0] = 0.11f;
      gains[0] = g;
      setFinalZeros(1, 0, -1);
      break;
    case 21:
      setResonance(0, 9000, 0.843f);
      retuneFlags[0] = 1;
      retuneSpread[0] = 0.18f;
      gains[0] = g;
      setFinalZeros(1, 0, -1);
      break;
    case 22: {
      const float f[7] = {1046.6f, 1174.8f, 1397, 1568, 1760, 2093.3f, 2350};
      for (int i = 0; i < 7; i++) {
        setResonance(i, f[i], 0.996f);
        gains[i] = g;
      }
      setFinalZeros(1, 0, -1);
      break;
    }
    default: {  // 13..19: the wine glass and its bowls
      const float f[4] = {2123, 4518, 8856, 10753};
      const float m[4] = {1, 0.8f, 0.6f, 0.4f};
      for (int i = 0; i < 4; i++) {
        setResonance(i, f[i], 0.997f);
        gains[i] = m[i] * g;
      }
      setFinalZeros(1, 0, -1);
      struct Extra {
        float f[3];
        float r;
        float m[3];
      };
      const Extra extras[6] = {
          {{11000, 5200, 3835}, 0.999f, {1, 0.8f, 0.5f}},
          {{5583, 9255, 9805}, 0.9992f, {1, 0.8f, 0.5f}},
          {{4450, 4974, 9945}, 0.9993f, {1, 0.8f, 0.5f}},
          {{1708, 8863, 9045}, 0.9995f, {1.3f, 1, 0.8f}},
          {{5583, 11010, 1917}, 0.9995f, {0.7f, 0.4f, 0.3f}},
          {{7250, 8150, 10060}, 0.9996f, {1, 1.2f, 0.7f}},
      };
      if (p >= 14) {
        const Extra& e = extras[p - 14];
        for (int i = 0; i < 3; i++) {
          setResonance(4 + i, e.f[i], e.r);
          gains[4 + i] = e.m[i] * g;
        }
      }
      break;
    }
  }
  storedEnergy = scrapeLevel;
  storedDecay = systemDecayFactor;
  storedObjects = objectCount;
  return p;
}

void Shakers::noteOn(float frequency, float amplitude) {
  if (std::isfinite(frequency) && frequency > 0.0f) {
    const double n = 12.0 * std::log(double(frequency) / 220.0) / std::log(2.0) + 57.01;
    const int note = static_cast<int>(n) % 32;  // |n| < 1600 for any float
    which = note;
    if (note != activePreset) activePreset = setupNum(note);
  }
  if (amplitude == amplitude) {
    excitation += amplitude * kMaxEnergy * 0.1f;
    if (excitation > kMaxEnergy) excitation = kMaxEnergy;
  }
  if (is_ratchet(activePreset)) scrapeCount += 1;
}

void Shakers::cp_noteOn(float amplitude) {
  if (activePreset != which) activePreset = setupNum(which);
  if (amplitude == amplitude) {
    excitation += amplitude * kMaxEnergy * 0.1f;
    if (excitation > kMaxEnergy) excitation = kMaxEnergy;
  }
  if (is_ratchet(activePreset)) scrapeCount += 1;
}

void Shakers::noteOff(float) {
  excitation = 0.0f;
  if (is_ratchet(activePreset)) scrapeCount = 0;
}

float Shakers::resonate(int i, float x) {
  const float y = x - outputs[i][0] * coeffs[i][0] - outputs[i][1] * coeffs[i][1];
  outputs[i][1] = outputs[i][0];
  outputs[i][0] = syn_flush(y);
  return outputs[i][0];
}

float Shakers::genericTick() {
  if (!(excitation > kMinEnergy)) return 0.0f;
  excitation *= systemDecayFactor;
  if (u1024() < objectCount) {
    soundLevel += excitation;
    for (int i = 0; i < resonanceCount; i++) {
      if (!retuneFlags[i]) continue;
      const double f = tunedFreqs[i] * (1.0 + retuneSpread[i] * noise_draw());
      coeffs[i][0] = static_cast<float>(-2.0 * radii[i] * std::cos(kTwoPi * f / Syn::srate));
    }
  }
  inputs[0] = soundLevel * noise_draw();
  for (int i = 1; i < resonanceCount; i++) inputs[i] = inputs[0];
  soundLevel = syn_flush(soundLevel * soundDecayFactor);
  zeroHistory[2] = zeroHistory[1];
  zeroHistory[1] = zeroHistory[0];
  zeroHistory[0] = 0.0f;
  for (int i = 0; i < resonanceCount; i++) {
    resonate(i, inputs[i]);
    zeroHistory[0] += gains[i] * outputs[i][1];
  }
  float data = zeroCoeffs[0] * zeroHistory[0] + zeroCoeffs[1] * zeroHistory[1] +
               zeroCoeffs[2] * zeroHistory[2];
  if (data != data) data = 0.0f;
  if (data > 10000.0f) data = 10000.0f;
  if (data < -10000.0f) data = -10000.0f;
  return data * 0.0001f;
}

float Shakers::ratchetTick() {
  if (static_cast<int>(u1024()) < objectCount)
    soundLevel += 512.0f * scrapePhase * scrapeLevel;
  const float x = soundLevel * noise_draw() * scrapePhase;
  soundLevel = syn_flush(soundLevel * soundDecayFactor);
  resonate(0, x);
  resonate(1, x);
  zeroHistory[2] = zeroHistory[1];
  zeroHistory[1] = zeroHistory[0];
  zeroHistory[0] = gains[0] * outputs[0][1] + gains[1] * outputs[1][1];
  float data = zeroHistory[0] - zeroHistory[2];
  if (!std::isfinite(data)) data = 0.0f;
  return data;
}

float Shakers::waterTick() {
  excitation *= systemDecayFactor;
  if (rand_below(32767) < objectCount) {
    soundLevel = excitation;
    int j = rand_below(3);
    if (j > 2) j = 2;
    const float centre[3] = {0.75f, 1.0f, 1.25f};
    presetFreqs[j] = 600.0f * (centre[j] + 0.25f * noise_draw());
    gains[j] = std::fabs(noise_draw());
  }
  for (int j = 0; j < 3; j++) {
    gains[j] *= radii[j];
    if (gains[j] > 0.001f) {
      presetFreqs[j] *= 1.0001f;
      coeffs[j][0] = resonance_coeff(radii[j], presetFreqs[j]);
    }
  }
  soundLevel = syn_flush(soundLevel * soundDecayFactor);
  const float x = soundLevel * noise_draw();
  float y[3];
  for (int j = 0; j < 3; j++) y[j] = resonate(j, gains[j] * x);
  zeroHistory[2] = zeroHistory[1];
  zeroHistory[1] = zeroHistory[0];
  zeroHistory[0] = 4.0f * (gains[0] * y[0] + gains[1] * y[1] + gains[2] * y[2]);
  const float out = zeroHistory[2] - zeroHistory[0];
  return std::isfinite(out) ? out : 0.0f;
}

float Shakers::chimeTick() {
  if (!(excitation > kMinEnergy)) return 0.0f;
  excitation *= systemDecayFactor;
  if (u1024() < objectCount) {
    soundLevel += excitation;
    chime = rand_below(7);
    if (chime > 6) chime = 6;
  }
  for (int i = 0; i < resonanceCount; i++) inputs[i] = 0.0f;
  if (chime < resonanceCount) inputs[chime] = soundLevel * noise_draw();
  soundLevel = syn_flush(soundLevel * soundDecayFactor);
  zeroHistory[2] = zeroHistory[1];
  zeroHistory[1] = zeroHistory[0];
  zeroHistory[0] = 0.0f;
  for (int i = 0; i < resonanceCount; i++) {
    resonate(i, inputs[i]);
    zeroHistory[0] += gains[i] * outputs[i][1];
  }
  float data = zeroCoeffs[0] * zeroHistory[0] + zeroCoeffs[1] * zeroHistory[1] +
               zeroCoeffs[2] * zeroHistory[2];
  if (data != data) data = 0.0f;
  if (data > 10000.0f) data = 10000.0f;
  if (data < -10000.0f) data = -10000.0f;
  return data * 0.0001f;
}

float Shakers::tick() {
  float out = 0.0f;
  if (activePreset == 4) {
    out = excitation > kMinEnergy ? waterTick() * 0.0001f : 0.0f;
  } else if (activePreset == 22) {
    out = chimeTick();
  } else if (is_ratchet(activePreset)) {
    if (scrapeCount > 0) {
      scrapePhase -= scrapeStep + 0.002f * scrapeLevel;
      if (scrapePhase < 0.0f) {
        scrapePhase = 1.0f;
        scrapeCount -= 1;
      }
      scrapeLevel = scrapePhase;
      out = ratchetTick() * 0.0001f;
    }
  } else {
    out = genericTick();
  }
  lastOutput = out;
  return out;
}

void Shakers::scrape(float value) {
  // Bounded so the count and the last position stay ints.
  const double v = std::fmax(-1e6, std::fmin(1e6, double(value)));
  scrapeCount = static_cast<int>(std::fabs(v - lastScrape));
  lastScrape = static_cast<int>(v);
  scrapeStep = 0.0002f * scrapeCount;
}

void Shakers::controlChange(int number, float value) {
  float norm;
  if (!syn_control_norm("Shakers", value, &norm)) return;
  // Where the raw value is used, an infinity counts as the largest float of
  // its sign (the controls below hold such values to their ranges).
  const float raw = std::isinf(value) ? std::copysign(SYN_FLOAT_MAX, value) : value;
  const int p = activePreset;  // always 0..22
  switch (number) {
    case 2:
    case 128:
      excitation += norm * kMaxEnergy * 0.1f;
      if (excitation > kMaxEnergy) excitation = kMaxEnergy;
      if (is_ratchet(p)) scrape(raw);
      break;
    case 4: {
      if (is_ratchet(p)) break;
      float d = presetDecays[p] +
                (raw - 64.0f) * presetDecayScales[p] * (1.0f - presetDecays[p]) / 64.0f;
      if (!(d >= 0.0f)) d = 0.0f;
      if (d > kMaxDecay) d = kMaxDecay;
      systemDecayFactor = d;
      rebuildGains();
      const float scale = (128.0f - raw) / 100.0f + 0.36f;
      for (int i = 0; i < resonanceCount; i++) gains[i] *= scale;
      break;
    }
    case 11: {
      // A negative count would take the log of a negative number; a huge one
      // would overflow the count.
      const float v = raw < 0.0f ? 0.0f : std::fmin(raw, 1e9f);
      objectCount = v * presetObjects[p] / 64.0f + (p == 5 ? 0.3f : 1.1f);
      rebuildGains();
      if (!is_ratchet(p)) {
        const float denominator = (1.0f - presetDecays[p]) * presetDecayScales[p];
        const float vd = denominator != 0.0f
                             ? (systemDecayFactor - presetDecays[p]) * 64.0f / denominator + 64.0f
                             : 64.0f;
        const float scale = (128.0f - vd) / 100.0f + 0.36f;
        for (int i = 0; i < resonanceCount; i++) gains[i] *= scale;
      }
      break;
    }
    case 1: {
      const double base = (p == 2 || p == 6 || p == 7) ? 1.008 : 1.015;
      const double exponent = std::fmax(-1000.0, std::fmin(1000.0, double(raw) - 64.0));
      const double factor = std::pow(base, exponent);
      for (int i = 0; i < resonanceCount; i++) {
        tunedFreqs[i] = static_cast<float>(presetFreqs[i] * factor);
        coeffs[i][0] = resonance_coeff(radii[i], tunedFreqs[i]);
        coeffs[i][1] = radii[i] * radii[i];
      }
      break;
    }
    case 1071: {
      const double preset = std::fmod(std::floor(double(raw) + 0.5), double(kPresets));
      activePreset = setupNum(static_cast<int>(preset));
      break;
    }
    default:
      syn_warn(SYN_PREFIX "Shakers: Undefined Control Number (%d)!!", number);
  }
}
