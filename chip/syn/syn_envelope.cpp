// Envelope and ADSR.
#include "chip/syn/syn_envelope.h"

#include <cmath>

namespace {

// Keeps a value or target finite: an infinite one becomes the largest
// float of its sign.
float finite(float x) {
  if (x > SYN_FLOAT_MAX) return SYN_FLOAT_MAX;
  if (x < -SYN_FLOAT_MAX) return -SYN_FLOAT_MAX;
  return x;
}

// A step that came out NaN (an infinite distance over an infinite time)
// becomes a jump.
float step_or_jump(float r) { return std::isnan(r) ? SYN_FLOAT_MAX : r; }

// The step of a stage of time t seconds covering `distance`; the shortest
// step for t = 0.
float stage_rate(float distance, float t) {
  if (t == 0.0f) return SYN_FLOAT_MAX;
  return step_or_jump(distance / (t * Syn::srate));
}

}  // namespace

// ---------------------------------------------------------------------------
// Envelope

Envelope::Envelope() : rampTime(1.0f / (0.001f * Syn::srate)) {}

void Envelope::updateRate() {
  float t = rampTime;
  if (t < 0.0f) {
    syn_warn(SYN_PREFIX_ENVELOPE "negative times not allowed ... correcting!");
    t = -t;
  }
  rate = t == 0.0f ? SYN_FLOAT_MAX : step_or_jump((target - value) / (t * Syn::srate));
  rampTime = t;
  if (rate < 0.0f) rate = -rate;
}

void Envelope::keyOn() {
  target = onTarget;
  if (target != value) state = 1;
  updateRate();
}

void Envelope::keyOff() {
  target = 0.0f;
  if (value != 0.0f) state = 1;
  updateRate();
}

void Envelope::setTarget(float x) {
  if (std::isnan(x)) return;
  x = finite(x);
  onTarget = x;
  target = x;
  if (x != value) state = 1;
  updateRate();
}

void Envelope::setValue(float x) {
  if (std::isnan(x)) return;
  x = finite(x);
  state = 0;
  target = x;
  value = x;
}

void Envelope::setTime(float t) {
  if (std::isnan(t)) return;
  rampTime = t;
  updateRate();
}

void Envelope::setRate(float r) {
  if (std::isnan(r)) return;
  if (r < 0.0f) {
    syn_warn(SYN_PREFIX_ENVELOPE "negative rates not allowed ... correcting!");
    r = -r;
  }
  rate = r;
  // A step of 0 never arrives: an infinite time (0/0 would be NaN).
  float t = r == 0.0f ? INFINITY : std::fabs((target - value) / (r * Syn::srate));
  rampTime = std::isnan(t) ? 0.0f : t;
}

float Envelope::tick() {
  if (state == 0) return value;
  if (value < target) {
    value += rate;
    if (value >= target) {
      value = target;
      state = 0;
    }
  } else {
    value -= rate;
    if (value <= target) {
      value = target;
      state = 0;
    }
  }
  return value;
}

float* Envelope::tick(float* vector, unsigned int size) {
  for (unsigned int i = 0; i < size; i++) vector[i] = tick();
  return vector;
}

// ---------------------------------------------------------------------------
// ADSR

ADSR::ADSR() { state = ATTACK; }

void ADSR::keyOn() {
  target = 1.0f;
  rate = attackRate;
  state = ATTACK;
}

void ADSR::keyOff() {
  target = 0.0f;
  state = RELEASE;
  // A release set as a time takes that time from wherever the value is.
  rate = releaseTime > 0.0f ? step_or_jump(value / (releaseTime * Syn::srate)) : releaseRate;
}

void ADSR::setTarget(float x) {
  if (std::isnan(x)) return;
  x = finite(x);
  target = x;
  if (value < x) {
    state = ATTACK;
    setSustainLevel(x);
    rate = attackRate;
  } else if (x < value) {
    setSustainLevel(x);
    state = DECAY;
    rate = decayRate;
  }
}

void ADSR::setValue(float x) {
  if (std::isnan(x)) return;
  x = finite(x);
  target = x;
  state = SUSTAIN;
  value = x;
  setSustainLevel(x);
  rate = 0.0f;
}

void ADSR::setSustainLevel(float level) {
  if (std::isnan(level)) return;
  if (level < 0.0f) {
    syn_warn(SYN_PREFIX_ADSR "sustain level out of range ... correcting!");
    sustainLevel = 0.0f;
  } else {
    sustainLevel = finite(level);
  }
  if (decayTime > 0.0f) decayRate = stage_rate(1.0f - sustainLevel, decayTime);
  if (releaseTime > 0.0f) releaseRate = stage_rate(sustainLevel, releaseTime);
}

void ADSR::setAttackRate(float r) {
  if (std::isnan(r)) return;
  if (r < 0.0f) {
    syn_warn(SYN_PREFIX_ADSR "negative rates not allowed ... correcting!");
    r = -r;
  }
  attackRate = r;
}

void ADSR::setDecayRate(float r) {
  if (std::isnan(r)) return;
  if (r < 0.0f) {
    syn_warn(SYN_PREFIX_ADSR "negative rates not allowed ... correcting!");
    r = -r;
  }
  decayRate = r;
  decayTime = -1.0f;
}

void ADSR::setReleaseRate(float r) {
  if (std::isnan(r)) return;
  if (r < 0.0f) {
    syn_warn(SYN_PREFIX_ADSR "negative rates not allowed ... correcting!");
    r = -r;
  }
  releaseRate = r;
  releaseTime = -1.0f;
}

void ADSR::setAttackTime(float t) {
  if (std::isnan(t)) return;
  if (t < 0.0f) {
    syn_warn(SYN_PREFIX_ADSR "negative rates not allowed ... correcting!");
    t = -t;
  }
  attackRate = stage_rate(1.0f, t);
}

void ADSR::setDecayTime(float t) {
  if (std::isnan(t)) return;
  float used = t;
  if (t < 0.0f) {
    syn_warn(SYN_PREFIX_ADSR "negative times not allowed ... correcting!");
    used = -t;
  }
  decayRate = stage_rate(1.0f - sustainLevel, used);
  // Kept as given: a corrected (negative) time is not followed by later
  // sustain changes.
  decayTime = t;
}

void ADSR::setReleaseTime(float t) {
  if (std::isnan(t)) return;
  float used = t;
  if (t < 0.0f) {
    syn_warn(SYN_PREFIX_ADSR "negative times not allowed ... correcting!");
    used = -t;
  }
  // A time of 0 is the shortest release, also from a sustain level of 0.
  releaseRate = stage_rate(sustainLevel, used);
  releaseTime = t;
}

void ADSR::setAllTimes(float a, float d, float s, float r) {
  setAttackTime(a);
  setDecayTime(d);
  setSustainLevel(s);
  setReleaseTime(r);
}

float ADSR::tick() {
  switch (state) {
    case ATTACK:
      value += rate;
      if (value >= target) {
        value = target;
        rate = decayRate;
        target = sustainLevel;
        state = DECAY;
        if (decayRate >= SYN_FLOAT_MAX) {
          // A decay of no time: sustain in this same sample.
          state = SUSTAIN;
          value = sustainLevel;
          rate = 0.0f;
          return value;
        }
      }
      break;
    case DECAY:
      value -= decayRate;
      // Falling to the level, or rising to one above the peak.
      if (decayRate >= 0.0f ? sustainLevel >= value : value >= sustainLevel) {
        value = sustainLevel;
        rate = 0.0f;
        state = SUSTAIN;
      }
      break;
    case RELEASE:
      value -= rate;
      if (value <= 0.0f) {
        value = 0.0f;
        state = DONE;
      }
      break;
    default:
      break;
  }
  return value;
}

float* ADSR::tick(float* vector, unsigned int size) {
  for (unsigned int i = 0; i < size; i++) vector[i] = tick();
  return vector;
}
