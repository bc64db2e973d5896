// Band-limited impulse oscillators.
#include "chip/syn/syn_blit.h"

#include <cmath>
#include <numbers>

#include "chip/syn/syn_filter.h"

namespace {

const double kPi = std::numbers::pi;
const double kTwoPi = 6.283185307179586;
const float kEpsilon = 1.1920929e-7f;

// The automatic order's half: floor(P / 2), within 32 bits (P is held to
// BLT::kMaxPeriod).
unsigned int half_period(float p) { return static_cast<unsigned int>(std::floor(0.5 * p)); }

// phase += increment, wrapped into [0, cycle): once by subtraction as a
// normal increment needs, by fmod when the increment is a cycle or more.
float advance(float phase, float increment, double cycle) {
  phase += increment;
  if (phase >= cycle) {
    phase = static_cast<float>(phase - cycle);
    if (phase >= cycle) phase = static_cast<float>(std::fmod(double(phase), cycle));
  }
  return phase;
}

}  // namespace

bool BLT::periodFor(float frequency, double scale, const char* who, float* period) {
  if (!(frequency > 0.0f) || !std::isfinite(frequency)) {
    badFrequency_.warn(SYN_PREFIX "%s: setFrequency(%g) is not a positive finite number!", who,
                       double(frequency));
    return false;
  }
  double p = scale * double(Syn::srate) / double(frequency);
  if (p > kMaxPeriod) p = kMaxPeriod;
  *period = static_cast<float>(p);
  return true;
}

bool BLT::phaseFor(float x, double cycle, const char* who, float* phase) {
  if (!std::isfinite(x)) {
    badPhase_.warn(SYN_PREFIX "%s: setPhase(%g) is not a finite number!", who, double(x));
    return false;
  }
  double ph = std::fmod(kPi * double(x), cycle);
  if (ph < 0.0) ph += cycle;
  float f = static_cast<float>(ph);
  if (f >= cycle) f = 0.0f;  // a value just below the cycle may round up to it
  *phase = f;
  return true;
}

// ---------------------------------------------------------------------------
// Blit

Blit::Blit(float frequency) {
  nHarmonics = 0;
  setFrequency(frequency);
  phase = 0.0f;
}

void Blit::updateHarmonics() {
  m = nHarmonics != 0 ? 2 * nHarmonics + 1 : 2 * half_period(p) + 1;
}

void Blit::setPhase(float x) { phaseFor(x, kPi, "Blit", &phase); }

void Blit::setFrequency(float frequency) {
  if (!periodFor(frequency, 1.0, "Blit", &p)) return;
  rate = static_cast<float>(kPi / p);
  updateHarmonics();
}

void Blit::setHarmonics(unsigned int harmonics) {
  nHarmonics = harmonics;
  updateHarmonics();
}

float Blit::tick() {
  const float denominator = std::sin(phase);
  float y;
  if (denominator <= kEpsilon) {
    y = 1.0f;
  } else {
    const float mf = static_cast<float>(m);
    y = std::sin(mf * phase) / (mf * denominator);
  }
  phase = advance(phase, rate, kPi);
  return syn_finite(y);
}

// ---------------------------------------------------------------------------
// BlitSaw

BlitSaw::BlitSaw(float frequency) {
  nHarmonics = 0;
  phase = 0.0f;
  state = 0.0f;
  setFrequency(frequency);
}

void BlitSaw::updateHarmonics() {
  m = nHarmonics != 0 ? 2 * nHarmonics + 1 : 2 * half_period(p) + 1;
}

void BlitSaw::setPhase(float x) { phaseFor(x, kPi, "BlitSaw", &phase); }

void BlitSaw::setFrequency(float frequency) {
  if (!periodFor(frequency, 1.0, "BlitSaw", &p)) return;
  c2 = 1.0f / p;
  rate = static_cast<float>(kPi * c2);
  updateHarmonics();
  a = static_cast<float>(m) / p;
}

void BlitSaw::setHarmonics(unsigned int harmonics) {
  nHarmonics = harmonics;
  updateHarmonics();
  a = static_cast<float>(m) / p;
  state = -0.5f * a;
}

float BlitSaw::tick() {
  const float denominator = std::sin(phase);
  float t;
  if (std::fabs(denominator) <= kEpsilon) {
    t = a;
  } else {
    t = std::sin(static_cast<float>(m) * phase) / (p * denominator);
  }
  t += state - c2;
  // The integrator is a recursion: stored flushed, so a frequency beyond
  // the rate (a period below one sample) cannot leave inf or NaN in it.
  state = syn_flush(static_cast<float>(t * 0.995));
  phase = advance(phase, rate, kPi);
  return syn_finite(t);
}

// ---------------------------------------------------------------------------
// BlitSquare

BlitSquare::BlitSquare(float frequency) {
  nHarmonics = 0;
  setFrequency(frequency);
  phase = 0.0f;
  lastBlitOutput = 0.0f;
  dcbState = 0.0f;
  lastOutput = 0.0f;
}

void BlitSquare::updateHarmonics() {
  m = nHarmonics != 0 ? 2 * nHarmonics : 2 * half_period(p);
}

void BlitSquare::setPhase(float x) { phaseFor(x, kTwoPi, "BlitSquare", &phase); }

void BlitSquare::setFrequency(float frequency) {
  if (!periodFor(frequency, 0.5, "BlitSquare", &p)) return;
  rate = static_cast<float>(kPi / p);
  updateHarmonics();
  a = static_cast<float>(m) / p;
}

void BlitSquare::setHarmonics(unsigned int harmonics) {
  nHarmonics = harmonics;
  updateHarmonics();
  a = static_cast<float>(m) / p;
}

float BlitSquare::tick() {
  const float previous = lastBlitOutput;
  const float denominator = std::sin(phase);
  float b;
  if (std::fabs(denominator) < kEpsilon) {
    b = (phase < 0.1f || phase > kTwoPi - 0.1f) ? a : -a;
  } else {
    b = std::sin(static_cast<float>(m) * phase) / (p * denominator);
  }
  // The integrator and the DC blocker are recursions: stored flushed.
  lastBlitOutput = syn_flush(b + previous);
  lastOutput = syn_flush(static_cast<float>(lastBlitOutput - dcbState + 0.999 * lastOutput));
  dcbState = lastBlitOutput;
  phase = advance(phase, rate, kTwoPi);
  return lastOutput;
}
