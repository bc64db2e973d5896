// Chorus and the pitch shifter.
#include "chip/syn/syn_effects.h"

#include <cmath>

namespace {

// The mix clamp shared by both effects.
float clamp_mix(const char* name, double mix, float previous) {
  if (std::isnan(mix)) {
    syn_warn(SYN_PREFIX "%s: setEffectMix parameter is not a number!", name);
    return previous;
  }
  if (mix < 0.0) {
    syn_warn(SYN_PREFIX "%s: setEffectMix parameter is less than zero!", name);
    return 0.0f;
  }
  if (mix > 1.0) {
    syn_warn(SYN_PREFIX "%s: setEffectMix parameter is greater than 1.0!", name);
    return 1.0f;
  }
  return static_cast<float>(mix);
}

// A length in samples held to what a delay line takes (the line reports
// the values it has to correct).
long line_length(double samples) {
  if (samples > double(Delay::kMaxDelay) + 1.0) return Delay::kMaxDelay + 1;
  if (samples < -1.0) return -1;
  return static_cast<long>(samples);
}

}  // namespace

// ---------------------------------------------------------------------------
// Chorus

Chorus::Chorus(float baseDelay) : modulator("special:sinewave", true, true) {
  set(baseDelay, 4.0);
  if (!delayLine) set(0.0, 0.0);  // a non-finite base delay: an empty line
  baseLength = std::isfinite(baseDelay) ? baseDelay : 0.0f;
  modDepth = 0.5f;
  modulator.setFrequency(0.25);
  effectMix = 0.5f;
}

void Chorus::set(double baseDelay, double depth) {
  if (!std::isfinite(baseDelay) || !std::isfinite(depth)) {
    syn_warn(SYN_PREFIX "Chorus: max parameters must be finite numbers!");
    return;
  }
  const double delay = std::trunc(baseDelay);
  const long maximum = line_length(std::trunc(baseDelay + baseDelay * depth) + 2.0);
  delayLine = std::make_unique<DelayL>(static_cast<float>(line_length(delay)), maximum);
  delayLine->clear();
  lastOutput = 0.0f;
}

void Chorus::setModDepth(double depth) {
  if (std::isfinite(depth)) {
    modDepth = syn_float(depth);
  } else {
    syn_warn(SYN_PREFIX "Chorus: modDepth must be a finite number!");
  }
}

void Chorus::setModFrequency(double hz) {
  if (std::isfinite(hz)) {
    modulator.setFrequency(hz);
  } else {
    syn_warn(SYN_PREFIX "Chorus: modFreq must be a finite number!");
  }
}

void Chorus::setBaseLength(double samples) {
  if (std::isfinite(samples)) {
    baseLength = syn_float(samples);
  } else {
    syn_warn(SYN_PREFIX "Chorus: baseDelay must be a finite number!");
  }
}

float Chorus::setEffectMix(double mix) { return effectMix = clamp_mix("Chorus", mix, effectMix); }

float Chorus::tick(float input) {
  const float m = modulator.tick();
  const float product = baseLength * modDepth;
  const float h = static_cast<float>(product * 0.5);
  delayLine->setDelay(h + m * h);
  const float dry = static_cast<float>(input * (1.0 - effectMix));
  lastOutput = dry + effectMix * delayLine->tick(input);
  return lastOutput;
}

// ---------------------------------------------------------------------------
// PitShift

PitShift::PitShift()
    : delayLine{DelayL(12.0f, 1024), DelayL(512.0f, 1024)},
      delays{12.0f, 512.0f},
      env{1.0f, 0.0f},
      effectMix(0.5f),
      rate(1.0f) {}

float PitShift::setShift(double shift) {
  if (!std::isfinite(shift)) {
    syn_warn(SYN_PREFIX "PitShift: shift must be a finite number!");
    return getShift();
  }
  if (shift != 1.0) {
    rate = syn_float(1.0 - shift);
  } else {
    rate = 0.0f;
    delays[0] = 512.0f;
  }
  return getShift();
}

float PitShift::setEffectMix(double mix) {
  return effectMix = clamp_mix("PitShift", mix, effectMix);
}

float PitShift::wrapDelay(double d) {
  if (d > 1012.0) {
    d -= 1000.0;
    if (d > 1012.0) {
      double r = std::fmod(d - 12.0, 1000.0);
      d = 12.0 + (r == 0.0 ? 1000.0 : r);
    }
  } else if (d < 12.0) {
    d += 1000.0;
    if (d < 12.0) {
      double r = std::fmod(12.0 - d, 1000.0);
      d = 12.0 + (r == 0.0 ? 0.0 : 1000.0 - r);
    }
  }
  return (d >= 12.0 && d <= 1012.0) ? static_cast<float>(d) : 512.0f;
}

float PitShift::tick(float input) {
  delays[0] = wrapDelay(double(delays[0]) + rate);
  delays[1] = wrapDelay(double(delays[0]) + 500.0);
  delayLine[0].setDelay(static_cast<float>(static_cast<long>(delays[0])));
  delayLine[1].setDelay(static_cast<float>(static_cast<long>(delays[1])));
  env[1] = static_cast<float>(std::fabs(delays[0] - 512.0) * 0.002);
  env[0] = 1.0f - env[1];
  const float wet = env[0] * delayLine[0].tick(input) + env[1] * delayLine[1].tick(input);
  lastOutput = static_cast<float>(effectMix * wet + (1.0 - effectMix) * input);
  return lastOutput;
}
