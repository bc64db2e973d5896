// The banded waveguide.
#include "chip/syn/syn_banded.h"

#include <cmath>
#include <numbers>

#include "chip/syn/syn_control.h"
#include "chip/syn/syn_strings.h"

namespace {

const double kPi = std::numbers::pi;

struct Preset {
  int count;
  float ratios[12];
  float gains[12];  // 0: 0.999^(i+1) or 0.9^(i+1), see below
  float excitations[12];
};

// The Tibetan bowl's values; the other sets are computed.
const Preset kBowl = {
    12,
    {0.99610835f, 1.0038917f, 2.979178f, 2.9932976f, 5.704452f, 5.704452f, 8.9982004f,
     9.0154972f, 12.83303f, 12.807382f, 17.280823f, 21.976027f},
    {0.99992597f, 0.99992597f, 0.99998277f, 0.99998277f, 1.0f, 1.0f, 1.0f, 1.0f, 0.99996549f,
     0.99996549f, 1.0f, 1.0f},
    {1.1900357f, 1.1900357f, 1.0914886f, 1.0914886f, 4.2995043f, 4.2995043f, 4.0063033f,
     4.0063033f, 0.70630342f, 0.70630342f, 5.7063036f, 5.7063036f},
};

}  // namespace

BandedWG::BandedWG() {
  bowTable.setOffset(0.0f);
  bowTable.setSlope(3.0f);
  adsr.setAllTimes(0.02f, 0.005f, 0.9f, 0.01f);
  frequency = 220.0f;
  setPreset(0);
  baseGain = 0.999f;
  integrationConstant = 0.0f;
  bowPosition = 0.0f;
  bowVelocity = 0.0f;
  bowTarget = 0.0f;
  trackVelocity = false;
  m_frequency = 220.0;
}

void BandedWG::setPreset(int preset) {
  static const float kTuned[4] = {1.0f, 4.0198393f, 10.718498f, 18.069706f};
  static const float kGlass[5] = {1.0f, 2.32f, 4.25f, 6.63f, 9.38f};
  static const float kUniform[4] = {1.0f, 2.756f, 5.404f, 8.933f};
  switch (preset) {
    case 1:
      presetModes = 4;
      for (int i = 0; i < 4; i++) {
        modes[i] = kTuned[i];
        basegains[i] = static_cast<float>(std::pow(0.999, i + 1));
        excitation[i] = 1.0f;
      }
      break;
    case 2:
      presetModes = 5;
      for (int i = 0; i < 5; i++) {
        modes[i] = kGlass[i];
        basegains[i] = static_cast<float>(std::pow(0.999, i + 1));
        excitation[i] = 1.0f;
      }
      break;
    case 3:
      presetModes = kBowl.count;
      for (int i = 0; i < kBowl.count; i++) {
        modes[i] = kBowl.ratios[i];
        basegains[i] = kBowl.gains[i];
        excitation[i] = kBowl.excitations[i];
      }
      break;
    default:
      presetModes = 4;
      for (int i = 0; i < 4; i++) {
        modes[i] = kUniform[i];
        basegains[i] = static_cast<float>(std::pow(0.9, i + 1));
        excitation[i] = 1.0f;
      }
  }
  presetNumber = preset;
  nModes = presetModes;
  setFrequency(frequency);
}

void BandedWG::setFrequency(float f) {
  if (syn_reject_nan(nan_, "BandedWG: setFrequency", f)) return;
  frequency = f;
  if (f <= 0.0f) {
    syn_warn(SYN_PREFIX "BandedWG: setFrequency parameter is less than or equal to zero!");
    frequency = 220.0f;
  }
  if (frequency > 1568.0f) frequency = 1568.0f;

  const float base = Syn::srate / frequency;
  double radius = 1.0 - kPi * 32.0 / Syn::srate;
  if (radius < 0.0) radius = 0.0;
  // Every frequency starts again from the preset's modes.
  nModes = presetModes;
  for (int i = 0; i < presetModes; i++) {
    // A period beyond any line is the longest line (the line says so);
    // the bound keeps the conversion to an integer defined.
    double q = double(base) / double(modes[i]);
    if (!(q < 1e9)) q = 1e9;
    const float length = static_cast<float>(static_cast<long>(q));
    if (length <= 2.0f) {
      nModes = i;
      break;
    }
    delay[i].setDelay(length);
    gains[i] = basegains[i];
    const double angle = 2.0 * kPi * double(frequency) * double(modes[i]) / Syn::srate;
    const float a2 = static_cast<float>(radius * radius);
    bandpass[i].setA1(static_cast<float>(-2.0 * radius * std::cos(angle)));
    bandpass[i].setA2(a2);
    bandpass[i].setB0(0.5f - 0.5f * a2);
    bandpass[i].setB1(0.0f);
    bandpass[i].setB2(-(0.5f - 0.5f * a2));
    delay[i].clear();
    bandpass[i].clear();
  }
  m_frequency = frequency;
}

void BandedWG::pluck(float amplitude) {
  if (syn_reject_nan(nan_, "BandedWG: pluck", amplitude)) return;
  const int n = nModes;
  if (n <= 0) return;
  const float shortest = delay[n - 1].getDelay();
  for (int i = 0; i < n; i++) {
    const int repeats = static_cast<int>(delay[i].getDelay() / shortest);
    for (int j = 0; j < repeats; j++) delay[i].tick(amplitude * excitation[i] / float(n));
  }
}

void BandedWG::startBowing(float amplitude) {
  if (syn_reject_nan(nan_, "BandedWG: startBowing", amplitude)) return;
  adsr.setRate(static_cast<float>(storedBowRate));
  adsr.keyOn();
  maxVelocity = 0.03f + 0.1f * amplitude;
}

void BandedWG::stopBowing(float rate) {
  if (syn_reject_nan(nan_, "BandedWG: stopBowing", rate)) return;
  adsr.setRate(rate);
  adsr.keyOff();
}

void BandedWG::noteOn(float f, float amplitude) {
  if (std::isnan(f) || std::isnan(amplitude)) {
    syn_reject_nan(nan_, "BandedWG: noteOn", NAN);
    return;
  }
  setFrequency(f);
  if (doPluck) {
    pluck(amplitude);
  } else {
    adsr.setRate(amplitude * 0.001f);
    adsr.keyOn();
    maxVelocity = 0.03f + 0.1f * amplitude;
  }
}

void BandedWG::noteOff(float amplitude) {
  if (syn_reject_nan(nan_, "BandedWG: noteOff", amplitude)) return;
  if (!doPluck) stopBowing((1.0f - amplitude) * 0.005f);
}

float BandedWG::tick() {
  const int n = nModes;
  float input = 0.0f;
  if (!doPluck && n > 0) {
    if (integrationConstant == 0.0f) {
      velocityInput = 0.0f;
    } else {
      velocityInput = integrationConstant * velocityInput;
    }
    for (int k = 0; k < n; k++) velocityInput += baseGain * delay[k].lastOut();
    velocityInput = syn_flush(velocityInput);

    if (trackVelocity) {
      bowVelocity = static_cast<float>(bowVelocity * 0.9995 + bowTarget);
      bowTarget *= 0.995f;
    } else {
      bowVelocity = adsr.tick() * maxVelocity;
    }
    const float deltaV = bowVelocity - velocityInput;
    input = deltaV * bowTable.tick(deltaV) / float(n);
  }

  float sum = 0.0f;
  for (int k = 0; k < n; k++) {
    bandpass[k].tick(input + gains[k] * delay[k].lastOut());
    delay[k].tick(bandpass[k].lastOut());
    sum += bandpass[k].lastOut();
  }
  lastOutput = sum * 4.0f;
  return lastOutput;
}

void BandedWG::controlChange(int number, float value) {
  float x;
  if (!syn_control_norm("BandedWG", value, &x)) return;
  switch (number) {
    case 1:
      baseGain = static_cast<float>(0.8999999999999999 + 0.1 * x);
      for (int i = 0; i < nModes; i++) gains[i] = basegains[i] * baseGain;
      storedModesGain = x;
      break;
    case 2:
      storedBowPressure = x;
      if (x == 0.0f) {
        doPluck = true;
      } else {
        doPluck = false;
        bowTable.setSlope(10.0f - 9.0f * x);
      }
      break;
    case 4:
      trackVelocity = true;
      bowTarget += 0.005f * (x - bowPosition);
      bowPosition = x;
      storedBowMotion = x;
      break;
    case 8: storedStrikePosition = x; break;
    case 11: integrationConstant = x; break;
    case 16: {
      // The raw value as a preset number, held to the int range first.
      double v = value;
      if (v > 2147483647.0) v = 2147483647.0;
      if (v < -2147483648.0) v = -2147483648.0;
      setPreset(static_cast<int>(v));
      break;
    }
    case 64: doPluck = value < 65.0f; break;
    case 65: trackVelocity = value >= 65.0f; break;
    case 128:
      trackVelocity = false;
      maxVelocity = 0.13f * x;
      adsr.setTarget(x);
      break;
    default: syn_warn(SYN_PREFIX "BandedWG: Undefined Control Number (%d)!!", number);
  }
}
