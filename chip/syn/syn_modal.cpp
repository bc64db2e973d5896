// Modal and ModalBar: the mode bank, its strike and the bar's presets.
#include "chip/syn/syn_modal.h"

#include <cmath>
#include <cstdio>
#include <numbers>

#include "chip/syn/syn_control.h"

namespace {

// One preset row: ratios, radii, gains of the four modes, then stick
// hardness, strike position and direct gain.
struct Bar_Preset {
  float ratios[4];
  float radii[4];
  float gains[4];
  float hardness;
  float position;
  float direct;
};

const Bar_Preset kBarPresets[9] = {
    {{1.0f, 3.99f, 10.65f, -2443.0f}, {0.9996f, 0.9994f, 0.9994f, 0.999f},
     {0.04f, 0.01f, 0.01f, 0.008f}, 0.429688f, 0.445312f, 0.09375f},
    {{1.0f, 2.01f, 3.9f, 14.37f}, {0.99995f, 0.99991f, 0.99992f, 0.9999f},
     {0.025f, 0.015f, 0.015f, 0.015f}, 0.390625f, 0.570312f, 0.078125f},
    {{1.0f, 4.08f, 6.669f, -3725.0f}, {0.999f, 0.999f, 0.999f, 0.999f},
     {0.06f, 0.05f, 0.03f, 0.02f}, 0.609375f, 0.359375f, 0.140625f},
    {{1.0f, 2.777f, 7.378f, 15.377f}, {0.996f, 0.994f, 0.994f, 0.99f},
     {0.04f, 0.01f, 0.01f, 0.008f}, 0.460938f, 0.375f, 0.046875f},
    {{1.0f, 2.777f, 7.378f, 15.377f}, {0.99996f, 0.99994f, 0.99994f, 0.9999f},
     {0.02f, 0.005f, 0.005f, 0.004f}, 0.453125f, 0.25f, 0.101562f},
    {{1.0f, 1.777f, 2.378f, 3.377f}, {0.996f, 0.994f, 0.994f, 0.99f},
     {0.04f, 0.01f, 0.01f, 0.008f}, 0.3125f, 0.445312f, 0.109375f},
    {{1.0f, 1.004f, 1.013f, 2.377f}, {0.9999f, 0.9999f, 0.9999f, 0.999f},
     {0.02f, 0.005f, 0.005f, 0.004f}, 0.398438f, 0.296875f, 0.070312f},
    {{1.0f, 4.0f, -1320.0f, -3960.0f}, {0.9996f, 0.999f, 0.9994f, 0.999f},
     {0.04f, 0.01f, 0.01f, 0.008f}, 0.453125f, 0.453125f, 0.070312f},
    {{1.0f, 1.217f, 1.475f, 1.729f}, {0.999f, 0.999f, 0.999f, 0.999f},
     {0.03f, 0.03f, 0.03f, 0.03f}, 0.390625f, 0.570312f, 0.078125f},
};

constexpr double kPi = std::numbers::pi;

}  // namespace

// ---------------------------------------------------------------------------
// Modal

Modal::Modal(int modes)
    : vibrato("special:sinewave", true, true), modeCount(modes) {
  if (modes <= 0) {
    char message[256];
    std::snprintf(message, sizeof message,
                  SYN_PREFIX_MODAL "Invalid number of modes (%d) argument to constructor!", modes);
    handleError(message, SynError::FUNCTION_ARGUMENT);
    modeCount = 0;
  }
  ratios.assign(modeCount, 0.0f);
  radii.assign(modeCount, 0.0f);
  filters.resize(modeCount);
  for (BiQuad& f : filters) f.setEqualGainZeroes();
  vibrato.setFrequency(6.0);
  clear();
  m_frequency = 440.0;
}

void Modal::clear() {
  strikeFilter.clear();
  for (BiQuad& f : filters) f.clear();
}

void Modal::setResonance(int i, float ratio, float radius) {
  const double f = ratio < 0.0f ? -double(ratio) : double(ratio) * baseFrequency;
  float r = radius;
  if (!(std::fabs(r) < kMaxRadius)) r = std::signbit(r) ? -kMaxRadius : kMaxRadius;
  filters[i].setResonance(static_cast<float>(f), r, false);
}

void Modal::setFrequency(float frequency) {
  if (!std::isfinite(frequency)) {
    syn_warn(SYN_PREFIX "Modal: setFrequency parameter is not a finite number!");
    return;
  }
  baseFrequency = frequency;
  for (int i = 0; i < modeCount; i++) setRatioAndRadius(i, ratios[i], radii[i]);
  m_frequency = frequency;
}

void Modal::setRatioAndRadius(int modeIndex, float ratio, float radius) {
  if (modeIndex < 0) {
    syn_warn(SYN_PREFIX "Modal: setRatioAndRadius modeIndex parameter is less than zero!");
    return;
  }
  if (modeIndex >= modeCount) {
    syn_warn(SYN_PREFIX
             "Modal: setRatioAndRadius modeIndex parameter is greater than the number of "
             "operators!");
    return;
  }
  if (!std::isfinite(ratio) || !std::isfinite(radius)) {
    syn_warn(SYN_PREFIX "Modal: setRatioAndRadius parameter is not a finite number!");
    return;
  }
  const double nyquist = Syn::srate * 0.5;
  float stored = ratio;
  for (int n = 0; n < kMaxHalvings && double(stored) * baseFrequency > nyquist; n++)
    stored *= 0.5f;
  ratios[modeIndex] = stored;
  radii[modeIndex] = radius;
  setResonance(modeIndex, ratio, radius);
}

void Modal::setModeGain(int modeIndex, float gain) {
  if (modeIndex < 0) {
    syn_warn(SYN_PREFIX "Modal: setModeGain modeIndex parameter is less than zero!");
    return;
  }
  if (modeIndex >= modeCount) {
    syn_warn(SYN_PREFIX
             "Modal: setModeGain modeIndex parameter is greater than the number of operators!");
    return;
  }
  filters[modeIndex].setGain(gain);
}

void Modal::strike(float amplitude) {
  float gain = amplitude;
  if (gain < 0.0f) {
    syn_warn(SYN_PREFIX "Modal: strike amplitude is less than zero!");
    gain = 0.0f;
  } else if (gain > 1.0f) {
    syn_warn(SYN_PREFIX "Modal: strike amplitude is greater than 1.0!");
    gain = 1.0f;
  } else if (gain != gain) {
    gain = 0.0f;
  }
  envelope.setRate(1.0f);
  envelope.setTarget(gain);
  strikeFilter.setPole(1.0f - gain);
  envelope.tick();
  if (wave) wave->reset();
  for (int i = 0; i < modeCount; i++) setResonance(i, ratios[i], radii[i]);
}

void Modal::noteOn(float frequency, float amplitude) {
  setFrequency(frequency);
  strike(amplitude);
}

void Modal::noteOff(float amplitude) {
  damp(static_cast<float>(1.0 - 0.03 * double(amplitude)));
}

void Modal::damp(float factor) {
  if (!std::isfinite(factor)) return;
  for (int i = 0; i < modeCount; i++) setResonance(i, ratios[i], radii[i] * factor);
}

float Modal::tick() {
  const float w = wave ? wave->tick() : 0.0f;
  const float temp = masterGain * strikeFilter.tick(w * envelope.tick());
  float sum = 0.0f;
  for (BiQuad& f : filters) sum += f.tick(temp);
  float out = sum - directGain * sum + directGain * temp;
  if (vibratoGain != 0.0f) out = out + (vibrato.tick() * vibratoGain) * out;
  if (!std::isfinite(out)) out = 0.0f;
  lastOutput = out;
  return out;
}

// ---------------------------------------------------------------------------
// ModalBar

ModalBar::ModalBar() : Modal(4) {
  wave = std::make_unique<WvIn>("special:marmsyn1", true, true, true);
  wave->setRate(11025.0 / Syn::srate);
  setPreset(0);
  m_frequency = baseFrequency;
  storedVibratoGain = vibratoGain / 0.3;
  storedVolume = 1.0;
  storedVibratoFreq = vibrato.frequency;
  mode = 0;
  modeRatio = ratios[0];
  modeRadius = radii[0];
}

void ModalBar::setPreset(int number) {
  int row = number % 9;
  if (row < 0) row += 9;
  const Bar_Preset& p = kBarPresets[row];
  for (int i = 0; i < 4; i++) {
    setRatioAndRadius(i, p.ratios[i], p.radii[i]);
    setModeGain(i, p.gains[i]);
  }
  setStickHardness(p.hardness);
  setStrikePosition(p.position);
  directGain = p.direct;
  vibratoGain = row == 1 ? 0.2f : 0.0f;
}

void ModalBar::setStickHardness(float hardness) {
  stickHardness = hardness;
  if (hardness < 0.0f) {
    syn_warn(SYN_PREFIX "ModalBar: setStickHardness parameter is less than zero!");
    stickHardness = 0.0f;
  } else if (hardness > 1.0f) {
    syn_warn(SYN_PREFIX "ModalBar: setStickHarness parameter is greater than 1.0!");
    stickHardness = 1.0f;
  } else if (hardness != hardness) {
    stickHardness = 0.5f;
  }
  wave->setRate(0.25 * std::pow(4.0, double(stickHardness)));
  masterGain = 0.1f + 1.8f * stickHardness;
}

void ModalBar::setStrikePosition(float position) {
  strikePosition = position;
  if (position < 0.0f) {
    syn_warn(SYN_PREFIX "ModalBar: setStrikePositions parameter is less than zero!");
    strikePosition = 0.0f;
  } else if (position > 1.0f) {
    syn_warn(SYN_PREFIX "ModalBar: setStrikePosition parameter is greater than 1.0!");
    strikePosition = 1.0f;
  } else if (position != position) {
    strikePosition = 0.561f;
  }
  const float p = static_cast<float>(strikePosition * kPi);
  setModeGain(0, 0.12f * std::sin(p));
  setModeGain(1, -0.03f * std::sin(0.05f + 3.9f * p));
  setModeGain(2, 0.11f * std::sin(11.0f * p - 0.05f));
}

void ModalBar::controlChange(int number, float value) {
  float norm;
  if (!syn_control_norm("ModalBar", value, &norm)) return;
  switch (number) {
    case 2: setStickHardness(norm); break;
    case 4: setStrikePosition(norm); break;
    case 16:
      // The raw value's integer part selects the row; a value that is not a
      // finite number selects none. fmod keeps huge values exact.
      if (std::isfinite(value)) {
        double row = std::fmod(std::trunc(double(value)), 9.0);
        setPreset(static_cast<int>(row));
      }
      break;
    case 1: directGain = norm; break;
    case 11:
      vibratoGain = norm * 0.3f;
      storedVibratoGain = norm;
      break;
    case 7:
      vibrato.setFrequency(norm * 12.0f);
      storedVibratoFreq = norm * 12.0f;
      break;
    case 128:
      envelope.setTarget(norm);
      storedVolume = norm;
      break;
    default:
      syn_warn(SYN_PREFIX "ModalBar: Undefined Control Number (%d)!!", number);
  }
}
