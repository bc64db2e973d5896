// Waveguide strings: PluckTwo, Mandolin, Sitar, StifKarp and Bowed.
#include "chip/syn/syn_strings.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "chip/syn/syn_control.h"

namespace {

const double kTwoPi = 6.283185307179586;

// A loop gain held to +-0.99999 where it would exceed 1.0 in size (1.0
// itself is kept when keepOne: the two-string loop allows it).
float cap_gain(float g, bool keepOne) {
  if (g > 1.0f || (!keepOne && g >= 1.0f)) return 0.99999f;
  if (g < -0.99999f) return -0.99999f;
  return g;
}

}  // namespace

int syn_string_length(float lowest) {
  double n = double(Syn::srate) / double(lowest) + 1.0;
  if (!(n >= 1.0)) n = 1.0;
  if (n > double(Delay::kMaxDelay)) n = double(Delay::kMaxDelay);
  return static_cast<int>(n);
}

bool syn_reject_nan(SynOnce& once, const char* where, float v) {
  if (!std::isnan(v)) return false;
  once.warn(SYN_PREFIX "%s argument is not a number, ignored!", where);
  return true;
}

// ---------------------------------------------------------------------------
// PluckTwo

PluckTwo::PluckTwo(float lowestFrequency)
    : delayLine(0.5f * syn_string_length(lowestFrequency), syn_string_length(lowestFrequency)),
      delayLine2(0.5f * syn_string_length(lowestFrequency), syn_string_length(lowestFrequency)),
      combDelay(0.5f * syn_string_length(lowestFrequency), syn_string_length(lowestFrequency)),
      length(syn_string_length(lowestFrequency)),
      lastFrequency(lowestFrequency * 2.0f),
      lastLength(length * 0.5f) {}

void PluckTwo::updateLoopGain(float frequency) {
  loopGain = cap_gain(baseLoopGain + frequency * 0.000005f, true);
}

void PluckTwo::setFrequency(float frequency) {
  char where[64];
  std::snprintf(where, sizeof where, "%s: setFrequency", name());
  if (syn_reject_nan(nan_, where, frequency)) return;
  lastFrequency = frequency;
  if (frequency <= 0.0f) {
    syn_warn(SYN_PREFIX "PluckTwo: setFrequency parameter less than or equal to zero!");
    lastFrequency = 220.0f;
  }
  lastLength = Syn::srate / lastFrequency;
  auto onLine = [this](float d) {
    if (d <= 0.0f) return 0.3f;
    if (d > float(length)) return float(length);
    return d;
  };
  delayLine.setDelay(onLine(lastLength / detuning - 0.5f));
  delayLine2.setDelay(onLine(lastLength * detuning - 0.5f));
  updateLoopGain(frequency);
  m_frequency = lastFrequency;
}

void PluckTwo::noteOff(float amplitude) {
  if (syn_reject_nan(nan_, "PluckTwo: noteOff", amplitude)) return;
  loopGain = cap_gain((1.0f - amplitude) * 0.5f, false);
}

void PluckTwo::setDetune(float detune) {
  if (syn_reject_nan(nan_, "PluckTwo: setDetune", detune)) return;
  detuning = detune;
  if (detune <= 0.0f) {
    syn_warn(SYN_PREFIX "PluckTwo: setDetune parameter less than or equal to zero!");
    detuning = 0.1f;
  }
  delayLine.setDelay(lastLength / detuning - 0.5f);
  delayLine2.setDelay(lastLength * detuning - 0.5f);
}

void PluckTwo::setPluckPosition(float position) {
  if (syn_reject_nan(nan_, "PluckTwo: setPluckPosition", position)) return;
  pluckPosition = position;
  if (position < 0.0f) {
    syn_warn(SYN_PREFIX "PluckTwo: setPluckPosition parameter is less than zero!");
    pluckPosition = 0.0f;
  } else if (position > 1.0f) {
    syn_warn(SYN_PREFIX "PluckTwo: setPluckPosition parameter is greater than 1.0!");
    pluckPosition = 1.0f;
  }
}

void PluckTwo::setBaseLoopGain(float gain) {
  if (syn_reject_nan(nan_, "PluckTwo: setBaseLoopGain", gain)) return;
  baseLoopGain = gain;
  loopGain = cap_gain(baseLoopGain + lastFrequency * 0.000005f, false);
}

// ---------------------------------------------------------------------------
// Mandolin

Mandolin::Mandolin(float lowestFrequency) : PluckTwo(lowestFrequency) {
  bodyWave = std::make_unique<WvIn>("special:mand1", true, true, true);
}

void Mandolin::pluck(float amplitude) {
  if (syn_reject_nan(nan_, "Mandolin: pluck", amplitude)) return;
  bodyWave->reset();
  waveDone = false;
  pluckAmplitude = amplitude;
  if (amplitude < 0.0f) {
    syn_warn(SYN_PREFIX "Mandolin: pluck amplitude parameter less than zero!");
    pluckAmplitude = 0.0f;
  } else if (amplitude > 1.0f) {
    syn_warn(SYN_PREFIX "Mandolin: pluck amplitude parameter greater than 1.0!");
    pluckAmplitude = 1.0f;
  }
  // Below the lowest frequency the loops hold L samples: so do the comb
  // and the damping period (a tiny frequency would give a period beyond
  // any integer).
  const float period = lastLength < float(length) ? lastLength : float(length);
  combDelay.setDelay(0.5f * pluckPosition * period);
  dampTime = static_cast<int>(period);
}

void Mandolin::noteOn(float frequency, float amplitude) {
  if (std::isnan(frequency) || std::isnan(amplitude)) {
    syn_reject_nan(nan_, "Mandolin: noteOn", NAN);
    return;
  }
  setFrequency(frequency);
  pluck(amplitude);
}

void Mandolin::setBodySize(float size) {
  if (syn_reject_nan(nan_, "Mandolin: setBodySize", size)) return;
  bodySize = size;
  bodyWave->setRate(size);
}

void Mandolin::setBodyWave(const char* path) {
  const bool raw = std::strstr(path, ".raw") != nullptr;
  bodyWave->openFile(path, raw, true, true);
  bodyWave->setRate(bodySize);
}

float Mandolin::tick() {
  float excitation = 0.0f;
  if (!waveDone) {
    excitation = bodyWave->tick() * pluckAmplitude;
    excitation -= combDelay.tick(excitation);
    waveDone = bodyWave->isFinished();
  }
  float gain = loopGain;
  if (dampTime >= 0) {
    dampTime--;
    gain = 0.7f;
  }
  const float y1 = delayLine.tick(filter.tick(excitation + delayLine.lastOut() * gain));
  const float y2 = delayLine2.tick(filter2.tick(excitation + delayLine2.lastOut() * gain));
  lastOutput = (y1 + y2) * 0.3f;
  return lastOutput;
}

void Mandolin::controlChange(int number, float value) {
  float x;
  if (!syn_control_norm("Mandolin", value, &x)) return;
  switch (number) {
    case 1: setDetune(1.0f - 0.1f * x); break;
    case 2: setBodySize(x * 2.0f); break;
    case 4: setPluckPosition(x); break;
    case 11: setBaseLoopGain(0.97f + 0.03f * x); break;
    case 128: {
      const int slot = static_cast<int>(x * 11.0f);
      bodySlot = slot < 0 ? 0 : (slot > kBodySlots - 1 ? kBodySlots - 1 : slot);
      break;
    }
    default: syn_warn(SYN_PREFIX "Mandolin: Undefined Control Number (%d)!!", number);
  }
}

// ---------------------------------------------------------------------------
// Sitar

Sitar::Sitar(float lowestFrequency)
    : delayLine(0.5f * syn_string_length(lowestFrequency), syn_string_length(lowestFrequency)),
      length(syn_string_length(lowestFrequency)) {
  loopFilter.setB0(0.990099f);
  loopFilter.setB1(-0.00990099f);
  envelope.setAllTimes(0.001f, 0.04f, 0.0f, 0.5f);
  delay = targetDelay = 0.5f * float(length);
  clear();
}

float Sitar::onLine(double d) const {
  if (!(d >= 0.5)) return 0.5f;
  if (d > double(length)) return float(length);
  return float(d);
}

void Sitar::setFrequency(float frequency) {
  if (syn_reject_nan(nan_, "Sitar: setFrequency", frequency)) return;
  float f = frequency;
  if (f <= 0.0f) {
    syn_warn(SYN_PREFIX "Sitar: setFrequency parameter is less than or equal to zero!");
    f = 220.0f;
  }
  // Below the lowest frequency the target lies beyond the line: the glide
  // would never reach it, so both stay on the line.
  targetDelay = onLine(double(Syn::srate) / double(f));
  delay = onLine(double(targetDelay) * (1.0 + 0.05 * double(noise.tick())));
  delayLine.setDelay(delay);
  m_frequency = f;
  loopGain = 0.995f + f * 0.0000005f;
  if (loopGain > 0.9995f) loopGain = 0.9995f;
}

void Sitar::noteOn(float frequency, float amplitude) {
  if (std::isnan(frequency) || std::isnan(amplitude)) {
    syn_reject_nan(nan_, "Sitar: noteOn", NAN);
    return;
  }
  setFrequency(frequency);
  envelope.keyOn();
  amGain = 0.1f * amplitude;
}

void Sitar::noteOff(float amplitude) {
  if (syn_reject_nan(nan_, "Sitar: noteOff", amplitude)) return;
  loopGain = 1.0f - amplitude;
  if (loopGain < 0.0f) {
    syn_warn(SYN_PREFIX "Plucked: noteOff amplitude greater than 1.0!");
    loopGain = 0.0f;
  } else if (loopGain > 1.0f) {
    syn_warn(SYN_PREFIX "Plucked: noteOff amplitude less than or zero!");
    loopGain = 0.99999f;
  }
}

void Sitar::pluck(float) { envelope.keyOn(); }

void Sitar::clear() {
  delayLine.clear();
  loopFilter.clear();
}

float Sitar::tick() {
  if (std::fabs(targetDelay - delay) > 0.001f) {
    delay = onLine(targetDelay < delay ? delay * 0.99999f : delay * 1.00001f);
    delayLine.setDelay(delay);
  }
  const float excitation = amGain * envelope.tick() * noise.tick();
  lastOutput = delayLine.tick(loopFilter.tick(delayLine.lastOut() * loopGain) + excitation);
  return lastOutput;
}

// ---------------------------------------------------------------------------
// StifKarp

StifKarp::StifKarp(float lowestFrequency)
    : delayLine(0.5f * syn_string_length(lowestFrequency), syn_string_length(lowestFrequency)),
      combDelay(0.2f * syn_string_length(lowestFrequency), syn_string_length(lowestFrequency)),
      length(syn_string_length(lowestFrequency)),
      lastFrequency(lowestFrequency * 2.0f),
      lastLength(length * 0.5f) {
  clear();
}

void StifKarp::updateLoopGain(float frequency) {
  loopGain = cap_gain(baseLoopGain + frequency * 0.000005f, false);
}

void StifKarp::setFrequency(float frequency) {
  if (syn_reject_nan(nan_, "StifKarp: setFrequency", frequency)) return;
  lastFrequency = frequency;
  if (frequency <= 0.0f) {
    syn_warn(SYN_PREFIX "StifKarp: setFrequency parameter is less than or equal to zero!");
    lastFrequency = 220.0f;
  }
  lastLength = Syn::srate / lastFrequency;
  float delay = lastLength - 0.5f;
  if (delay <= 0.0f) {
    delay = 0.3f;
  } else if (delay > float(length)) {
    delay = float(length);
  }
  delayLine.setDelay(delay);
  updateLoopGain(frequency);
  setStretch(stretching);
  const float period = lastLength < float(length) ? lastLength : float(length);
  combDelay.setDelay(0.5f * pickupPosition * period);
  m_frequency = lastFrequency;
}

void StifKarp::setStretch(float stretch) {
  if (syn_reject_nan(nan_, "StifKarp: setStretch", stretch)) return;
  stretching = stretch;
  // |c| below 1 keeps the allpass poles inside the unit circle.
  float c = 0.5f + 0.5f * stretch;
  if (c > 0.9999f) c = 0.9999f;
  if (c < -0.9999f) c = -0.9999f;
  const double f0 = 2.0 * double(lastFrequency);
  const double step = (double(Syn::srate) / 2.0 - f0) * 0.25;
  for (int i = 0; i < 4; i++) {
    const double f = f0 + i * step;
    const float coefficient = static_cast<float>(-2.0 * c * std::cos(kTwoPi * f / Syn::srate));
    biquad[i].setA2(c * c);
    biquad[i].setB0(c * c);
    biquad[i].setB2(1.0f);
    biquad[i].setA1(coefficient);
    biquad[i].setB1(coefficient);
  }
}

void StifKarp::setPickupPosition(float position) {
  if (syn_reject_nan(nan_, "StifKarp: setPickupPosition", position)) return;
  pickupPosition = position;
  if (position < 0.0f) {
    syn_warn(SYN_PREFIX "StifKarp: setPickupPosition parameter is less than zero!");
    pickupPosition = 0.0f;
  } else if (position > 1.0f) {
    syn_warn(SYN_PREFIX "StifKarp: setPickupPosition parameter is greater than 1.0!");
    pickupPosition = 1.0f;
  }
  const float period = lastLength < float(length) ? lastLength : float(length);
  combDelay.setDelay(0.5f * pickupPosition * period);
}

void StifKarp::setBaseLoopGain(float gain) {
  if (syn_reject_nan(nan_, "StifKarp: setBaseLoopGain", gain)) return;
  baseLoopGain = gain;
  loopGain = cap_gain(baseLoopGain + lastFrequency * 0.000005f, false);
}

void StifKarp::pluck(float amplitude) {
  if (syn_reject_nan(nan_, "StifKarp: pluck", amplitude)) return;
  if (amplitude > 1.0f) {
    syn_warn(SYN_PREFIX "StifKarp: pluck amplitude greater than 1.0!");
  } else if (amplitude < 0.0f) {
    syn_warn(SYN_PREFIX "StifKarp: pluck amplitude less than zero!");
  }
  pluckAmplitude = amplitude;
  for (int i = 0; i < length; i++) {
    delayLine.tick(delayLine.lastOut() * 0.6f + 0.4f * noise.tick() * pluckAmplitude);
  }
}

void StifKarp::noteOn(float frequency, float amplitude) {
  if (std::isnan(frequency) || std::isnan(amplitude)) {
    syn_reject_nan(nan_, "StifKarp: noteOn", NAN);
    return;
  }
  setFrequency(frequency);
  pluck(amplitude);
}

void StifKarp::noteOff(float amplitude) {
  if (syn_reject_nan(nan_, "StifKarp: noteOff", amplitude)) return;
  float a = amplitude;
  if (a > 1.0f) {
    syn_warn(SYN_PREFIX "StifKarp: noteOff amplitude greater than 1.0!");
    a = 1.0f;
  } else if (a < 0.0f) {
    syn_warn(SYN_PREFIX "StifKarp: noteOff amplitude less than zero!");
    a = 0.0f;
  }
  loopGain = (1.0f - a) * 0.5f;
}

void StifKarp::clear() {
  delayLine.clear();
  combDelay.clear();
  filter.clear();
}

float StifKarp::tick() {
  float t = delayLine.lastOut() * loopGain;
  for (BiQuad& b : biquad) t = b.tick(t);
  t = filter.tick(t);
  const float y = delayLine.tick(t);
  lastOutput = y - combDelay.tick(y);
  return lastOutput;
}

void StifKarp::controlChange(int number, float value) {
  float x;
  if (!syn_control_norm("StifKarp", value, &x)) return;
  switch (number) {
    case 4: setPickupPosition(x); break;
    case 11: setBaseLoopGain(0.97f + 0.03f * x); break;
    case 1: setStretch(0.9f + 0.1f * (1.0f - x)); break;
    default: syn_warn(SYN_PREFIX "StifKarp: Undefined Control Number (%d)!!", number);
  }
}

// ---------------------------------------------------------------------------
// Bowed

Bowed::Bowed(float lowestFrequency)
    : neckDelay(100.0f, syn_string_length(lowestFrequency)),
      bridgeDelay(29.0f, syn_string_length(lowestFrequency) / 2),
      vibrato("special:sinewave", true, true),
      length(syn_string_length(lowestFrequency)) {
  bowTable.setOffset(0.0f);
  bowTable.setSlope(3.0f);
  vibrato.setFrequency(6.12723);
  const double pole = 0.6 - 2205.0 / double(Syn::srate);
  stringFilter.setB0(static_cast<float>(pole > 0.0 ? 1.0 - pole : 1.0 + pole));
  stringFilter.setA1(static_cast<float>(-pole));
  stringFilter.setGain(0.95f);
  const float a2 = 0.7225f;
  bodyFilter.setA2(a2);
  bodyFilter.setA1(static_cast<float>(-1.7 * std::cos(kTwoPi * 500.0 / Syn::srate)));
  bodyFilter.setB0(0.5f - 0.5f * a2);
  bodyFilter.setB1(0.0f);
  bodyFilter.setB2(-(0.5f - 0.5f * a2));
  bodyFilter.setGain(0.2f);
  adsr.setAllTimes(0.02f, 0.005f, 0.9f, 0.01f);
  setFrequency(220.0f);
  storedBowPressure = (bowTable.slope - 5.0) * -0.25;
  storedBowPosition = (double(betaRatio) - 0.027236) / 0.2;
  storedVibratoFreq = 6.12723 / 12.0;
}

void Bowed::placeBow() {
  bridgeDelay.setDelay(baseDelay * betaRatio);
  neckDelay.setDelay(baseDelay * (1.0f - betaRatio));
}

void Bowed::setFrequency(float frequency) {
  if (syn_reject_nan(nan_, "Bowed: setFrequency", frequency)) return;
  float f = frequency;
  if (f <= 0.0f) {
    syn_warn(SYN_PREFIX "Bowed: setFrequency parameter is less than or equal to zero!");
    f = 220.0f;
  }
  baseDelay = Syn::srate / f - 4.0f;
  if (baseDelay <= 0.0f) baseDelay = 0.3f;
  // Below the lowest frequency: the longest string the lines hold.
  if (baseDelay > float(length)) baseDelay = float(length);
  placeBow();
  m_frequency = f;
}

void Bowed::startBowing(float amplitude, float rate) {
  if (std::isnan(amplitude) || std::isnan(rate)) {
    syn_reject_nan(nan_, "Bowed: startBowing", NAN);
    return;
  }
  adsr.setRate(rate);
  adsr.keyOn();
  maxVelocity = 0.03f + 0.2f * amplitude;
}

void Bowed::stopBowing(float rate) {
  if (syn_reject_nan(nan_, "Bowed: stopBowing", rate)) return;
  adsr.setRate(rate);
  adsr.keyOff();
}

void Bowed::noteOn(float frequency, float amplitude) {
  if (std::isnan(frequency) || std::isnan(amplitude)) {
    syn_reject_nan(nan_, "Bowed: noteOn", NAN);
    return;
  }
  startBowing(amplitude, amplitude * 0.001f);
  setFrequency(frequency);
}

void Bowed::noteOff(float amplitude) {
  if (syn_reject_nan(nan_, "Bowed: noteOff", amplitude)) return;
  stopBowing((1.0f - amplitude) * 0.005f);
}

void Bowed::setVibratoFrequency(float hz) {
  if (syn_reject_nan(nan_, "Bowed: vibratoFreq", hz)) return;
  vibrato.setFrequency(hz);  // an infinity is ignored there
  storedVibratoFreq = vibrato.frequency;
}

float Bowed::tick() {
  const float velocity = maxVelocity * adsr.tick();
  const float bridgeReflection = -stringFilter.tick(bridgeDelay.lastOut());
  const float nutReflection = -neckDelay.lastOut();
  const float stringVelocity = bridgeReflection + nutReflection;
  const float deltaV = velocity - stringVelocity;
  const float newVelocity = deltaV * bowTable.tick(deltaV);
  // The lines feed each other: what they store is flushed, so a NaN or a
  // runaway value from an extreme bow cannot stay in the string.
  neckDelay.tick(syn_flush(bridgeReflection + newVelocity));
  bridgeDelay.tick(syn_flush(nutReflection + newVelocity));
  if (vibratoGain > 0.0f) {
    neckDelay.setDelay(baseDelay * (1.0f - betaRatio) +
                       baseDelay * vibratoGain * vibrato.tick());
  }
  lastOutput = bodyFilter.tick(bridgeDelay.lastOut());
  return lastOutput;
}

void Bowed::controlChange(int number, float value) {
  float x;
  if (!syn_control_norm("Bowed", value, &x)) return;
  switch (number) {
    case 1:
      vibratoGain = x * 0.4f;
      storedVibratoGain = x;
      break;
    case 2:
      bowTable.setSlope(5.0f - 4.0f * x);
      storedBowPressure = x;
      break;
    case 4:
      betaRatio = 0.027236f + 0.2f * x;
      placeBow();
      storedBowPosition = x;
      break;
    case 11:
      vibrato.setFrequency(x * 12.0);
      storedVibratoFreq = x;
      break;
    case 128:
      adsr.setTarget(x);
      storedVolume = x;
      break;
    default: syn_warn(SYN_PREFIX "Bowed: Undefined Control Number (%d)!!", number);
  }
}
