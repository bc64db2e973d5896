// Toolkit filters.
#include "chip/syn/syn_filter.h"

#include <cstdio>

namespace {

const double kTwoPi = 6.283185307179586;

}  // namespace

// ---------------------------------------------------------------------------
// FilterSyn

FilterSyn::FilterSyn()
    : gain(1.0f), nB(1), nA(1), b(1, 1.0f), a(1, 1.0f), outputs(1, 0.0f), inputs(1, 0.0f) {}

FilterSyn::~FilterSyn() = default;

void FilterSyn::setCoefficients(int nb, const float* bs, int na, const float* as) {
  char message[256];
  if (nb < 1 || na < 1) {
    std::snprintf(message, sizeof message,
                  SYN_PREFIX_FILTER "nb (%d) and na (%d) must be >= 1!", nb, na);
    handleError(message, SynError::FUNCTION_ARGUMENT);
    return;
  }
  if (as[0] == 0.0f) {
    handleError(SYN_PREFIX_FILTER "a[0] coefficient cannot == 0!", SynError::FUNCTION_ARGUMENT);
    return;
  }
  if (nb != nB) {
    nB = nb;
    b.assign(nb, 0.0f);
    inputs.assign(nb, 0.0f);
  }
  if (na != nA) {
    nA = na;
    a.assign(na, 0.0f);
    outputs.assign(na, 0.0f);
  }
  for (int i = 0; i < nb; i++) b[i] = bs[i];
  for (int i = 0; i < na; i++) a[i] = as[i];
  if (a[0] != 1.0f) {
    const float a0 = a[0];
    for (float& v : b) v /= a0;
    for (float& v : a) v /= a0;
  }
}

void FilterSyn::clear() {
  for (float& v : inputs) v = 0.0f;
  for (float& v : outputs) v = 0.0f;
}

float FilterSyn::tick(float x) {
  inputs[0] = gain * x;
  float y = 0.0f;
  for (int i = nB - 1; i > 0; i--) {
    y += b[i] * inputs[i];
    inputs[i] = inputs[i - 1];
  }
  y += b[0] * inputs[0];
  // outputs[k] holds y[n-k]; each moves one place once it has been used.
  for (int k = nA - 1; k > 0; k--) {
    y -= a[k] * outputs[k];
    if (k > 1) outputs[k] = outputs[k - 1];
  }
  // The recursion of a general filter is flushed like the fixed-order
  // ones: no denormals, no runaway, nothing non-finite kept or returned.
  y = syn_finite(y);
  outputs[0] = y;
  if (nA > 1) outputs[1] = syn_flush(y);
  return y;
}

float* FilterSyn::tick(float* vector, unsigned int n) {
  for (unsigned int i = 0; i < n; i++) vector[i] = tick(vector[i]);
  return vector;
}

// ---------------------------------------------------------------------------
// OnePole

OnePole::OnePole() {
  const float bs[] = {0.1f};
  const float as[] = {1.0f, -0.9f};
  setCoefficients(1, bs, 2, as);
}

void OnePole::setPole(float p) {
  b[0] = p > 0.0f ? 1.0f - p : 1.0f + p;
  a[1] = -p;
}

float OnePole::tick(float x) {
  inputs[0] = gain * x;
  const float y = syn_finite(b[0] * inputs[0] - a[1] * outputs[1]);
  outputs[0] = y;
  outputs[1] = syn_flush(y);
  return y;
}

// ---------------------------------------------------------------------------
// OneZero

OneZero::OneZero() {
  const float bs[] = {0.5f, 0.5f};
  const float as[] = {1.0f};
  setCoefficients(2, bs, 1, as);
}

void OneZero::setZero(float z) {
  b[0] = z > 0.0f ? 1.0f / (1.0f + z) : 1.0f / (1.0f - z);
  b[1] = -z * b[0];
}

float OneZero::tick(float x) {
  inputs[0] = gain * x;
  const float y = syn_finite(b[0] * inputs[0] + b[1] * inputs[1]);
  inputs[1] = inputs[0];
  outputs[0] = y;
  return y;
}

// ---------------------------------------------------------------------------
// PoleZero

PoleZero::PoleZero() {
  const float bs[] = {1.0f, 0.0f};
  const float as[] = {1.0f, 0.0f};
  setCoefficients(2, bs, 2, as);
}

void PoleZero::setAllpass(float c) {
  b[0] = c;
  b[1] = 1.0f;
  a[0] = 1.0f;
  a[1] = c;
}

void PoleZero::setBlockZero(float p) {
  b[0] = 1.0f;
  b[1] = -1.0f;
  a[0] = 1.0f;
  a[1] = -p;
}

float PoleZero::tick(float x) {
  inputs[0] = gain * x;
  const float y = syn_finite(b[0] * inputs[0] + b[1] * inputs[1] - a[1] * outputs[1]);
  inputs[1] = inputs[0];
  outputs[0] = y;
  outputs[1] = syn_flush(y);
  return y;
}

// ---------------------------------------------------------------------------
// TwoPole

TwoPole::TwoPole() : resNorm(false), resFreq(440.0f), resRad(0.0f) {
  const float bs[] = {1.0f};
  const float as[] = {1.0f, 0.0f, 0.0f};
  setCoefficients(1, bs, 3, as);
}

void TwoPole::setResonance(float frequency, float radius, bool normalize) {
  const double w = kTwoPi * frequency / Syn::srate;
  a[2] = radius * radius;
  a[1] = static_cast<float>(-2.0 * radius * std::cos(w));
  if (normalize) {
    // b0 = |1 - r + (r^2 - r) e^{-2iw}|, the inverse of the gain at the
    // resonance.
    const float re = static_cast<float>(1.0 - radius + (a[2] - radius) * std::cos(2.0 * w));
    const float im = static_cast<float>((a[2] - radius) * std::sin(2.0 * w));
    b[0] = std::sqrt(re * re + im * im);
  }
}

float TwoPole::tick(float x) {
  inputs[0] = gain * x;
  const float y = syn_finite(b[0] * inputs[0] - a[2] * outputs[2] - a[1] * outputs[1]);
  outputs[0] = y;
  outputs[2] = syn_flush(outputs[1]);
  outputs[1] = syn_flush(y);
  return y;
}

// ---------------------------------------------------------------------------
// TwoZero

TwoZero::TwoZero() : notchFreq(440.0f), notchRad(0.0f) {
  const float bs[] = {1.0f, 0.0f, 0.0f};
  const float as[] = {1.0f};
  setCoefficients(3, bs, 1, as);
}

void TwoZero::setNotch(float frequency, float radius) {
  b[2] = radius * radius;
  b[1] = static_cast<float>(-2.0 * radius * std::cos(kTwoPi * frequency / Syn::srate));
  b[0] = b[1] > 0.0f ? 1.0f / (1.0f + b[1] + b[2]) : 1.0f / (1.0f - b[1] + b[2]);
  b[1] *= b[0];
  b[2] *= b[0];
}

float TwoZero::tick(float x) {
  inputs[0] = gain * x;
  const float y = syn_finite(b[0] * inputs[0] + b[1] * inputs[1] + b[2] * inputs[2]);
  inputs[2] = inputs[1];
  inputs[1] = inputs[0];
  outputs[0] = y;
  return y;
}

// ---------------------------------------------------------------------------
// BiQuad

BiQuad::BiQuad() {
  const float bs[] = {1.0f, 0.0f, 0.0f};
  const float as[] = {1.0f, 0.0f, 0.0f};
  setCoefficients(3, bs, 3, as);
}

void BiQuad::setResonance(float frequency, float radius, bool normalize) {
  a[2] = radius * radius;
  a[1] = static_cast<float>(-2.0 * radius * std::cos(kTwoPi * frequency / Syn::srate));
  if (normalize) {
    b[0] = 0.5f - 0.5f * a[2];
    b[1] = 0.0f;
    b[2] = -b[0];
  }
}

void BiQuad::setEqualGainZeroes() {
  b[0] = 1.0f;
  b[1] = 0.0f;
  b[2] = -1.0f;
}

float BiQuad::tick(float x) {
  inputs[0] = gain * x;
  const float y = syn_finite(b[0] * inputs[0] + b[1] * inputs[1] + b[2] * inputs[2] -
                             (a[2] * outputs[2] + a[1] * outputs[1]));
  inputs[2] = inputs[1];
  inputs[1] = inputs[0];
  outputs[0] = y;
  outputs[2] = syn_flush(outputs[1]);
  outputs[1] = syn_flush(y);
  return y;
}

// ---------------------------------------------------------------------------
// FormSwep

FormSwep::FormSwep()
    : dirty(false),
      frequency(0.0f),
      radius(0.0f),
      startFrequency(0.0f),
      startRadius(0.0f),
      startGain(0.0f),
      targetFrequency(0.0f),
      targetRadius(0.0f),
      targetGain(1.0f),
      deltaFrequency(0.0f),
      deltaRadius(0.0f),
      deltaGain(0.0f),
      sweepState(0.0f),
      sweepRate(0.002f) {}

void FormSwep::setStates(float f, float r, float g) {
  dirty = false;
  if (frequency != f || radius != r) BiQuad::setResonance(f, r, true);
  frequency = targetFrequency = f;
  radius = targetRadius = r;
  gain = targetGain = g;
}

void FormSwep::setTargets(float f, float r, float g) {
  dirty = true;
  startFrequency = frequency;
  startRadius = radius;
  startGain = gain;
  targetFrequency = f;
  targetRadius = r;
  targetGain = g;
  deltaFrequency = f - frequency;
  deltaRadius = r - radius;
  deltaGain = g - gain;
  sweepState = 0.0f;
}

void FormSwep::setSweepRate(float rate) {
  sweepRate = rate;
  if (sweepRate > 1.0f) sweepRate = 1.0f;
  if (!(sweepRate >= 0.0f)) sweepRate = 0.0f;  // negative or NaN: the glide halts
}

float FormSwep::tick(float x) {
  if (dirty) {
    sweepState += sweepRate;
    if (sweepState >= 1.0f) {
      sweepState = 1.0f;
      dirty = false;
      radius = targetRadius;
      frequency = targetFrequency;
      gain = targetGain;
    } else {
      radius = startRadius + deltaRadius * sweepState;
      frequency = startFrequency + deltaFrequency * sweepState;
      gain = startGain + deltaGain * sweepState;
    }
    BiQuad::setResonance(frequency, radius, true);
  }
  return BiQuad::tick(x);
}
