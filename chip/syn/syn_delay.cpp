// Toolkit delay lines and echo.
#include "chip/syn/syn_delay.h"

#include <cmath>

namespace {

// Slots of a line made without a maximum (largest delay 4096).
const long kDefaultSlots = 4097;

// A non-finite value as messages show it ("nan" whatever its sign bit).
const char* non_finite_text(double v) {
  if (std::isnan(v)) return "nan";
  return v > 0 ? "inf" : "-inf";
}

}  // namespace

// ---------------------------------------------------------------------------
// Delay

Delay::Delay() : inPoint(0), outPoint(0), length(0), delay(0.0f) {
  allocate(kDefaultSlots);
  setDelay(0L);
}

Delay::Delay(long theDelay, long maxDelay) : Delay() {
  allocate(clampMaximum(maxDelay) + 1);
  setDelay(theDelay);
}

Delay::~Delay() = default;

void Delay::allocate(long slots) {
  length = static_cast<int>(slots);
  nB = length;
  inputs.assign(static_cast<size_t>(slots), 0.0f);
  outputs[0] = 0.0f;
  inPoint = 0;
}

long Delay::clampMaximum(long maxDelay) {
  if (maxDelay < 0) {
    badMaximum_.warn(SYN_PREFIX "%s: maximum delay (%ld) less than zero!", name(), maxDelay);
    return 0;
  }
  if (maxDelay > kMaxDelay) {
    badMaximum_.warn(SYN_PREFIX "%s: maximum delay (%ld) too big!", name(), maxDelay);
    return kMaxDelay;
  }
  return maxDelay;
}

void Delay::useSlotsFor(long maxDelay) {
  const long slots = clampMaximum(maxDelay) + 1;
  if (slots > kDefaultSlots - 1) {
    allocate(slots);
  } else {
    // A short line uses the first slots of the default buffer.
    length = static_cast<int>(slots);
    inPoint = 0;
  }
}

bool Delay::fractionalPosition(float theDelay, float minimum, float lead, float lowPoint,
                               const char* belowText, float* position) {
  if (!std::isfinite(theDelay)) {
    rejectNonFinite("setDelay", theDelay);
    return false;
  }
  if (theDelay > length - 1) {
    tooBig_.warn(SYN_PREFIX "%s: setDelay(%g) too big!", name(), theDelay);
    *position = inPoint + 1.0f;
    delay = static_cast<float>(length - 1);
  } else if (theDelay < minimum) {
    tooSmall_.warn(SYN_PREFIX "%s: setDelay(%g) %s", name(), theDelay, belowText);
    *position = inPoint + lowPoint;
    delay = minimum;
  } else {
    *position = inPoint - theDelay + lead;
    delay = theDelay;
  }
  return true;
}

void Delay::resize(long maxDelay) {
  const float remembered = delay;
  allocate(clampMaximum(maxDelay) + 1);
  reapplyDelay(remembered);
}

void Delay::reapplyDelay(float d) { setDelay(static_cast<long>(d)); }

void Delay::rejectNonFinite(const char* what, double value) {
  notFinite_.warn(SYN_PREFIX "%s: %s(%s) is not a finite number!", name(), what,
                  non_finite_text(value));
}

void Delay::setDelay(long theDelay) {
  if (theDelay > length - 1) {
    tooBig_.warn(SYN_PREFIX "Delay: setDelay(%ld) too big!", theDelay);
    outPoint = inPoint + 1;
    delay = static_cast<float>(length - 1);
  } else if (theDelay < 0) {
    tooSmall_.warn(SYN_PREFIX "Delay: setDelay(%ld) less than zero!", theDelay);
    outPoint = inPoint;
    delay = 0.0f;
  } else {
    outPoint = inPoint - static_cast<int>(theDelay);
    delay = static_cast<float>(theDelay);
  }
  while (outPoint < 0) outPoint += length;
  // inPoint + 1 is length when the write point is the last slot.
  if (outPoint >= length) outPoint -= length;
}

float Delay::tick(float x) {
  write(x);
  outputs[0] = inputs[outPoint++];
  if (outPoint >= length) outPoint -= length;
  return outputs[0];
}

// ---------------------------------------------------------------------------
// DelayL

DelayL::DelayL() : alpha(0.0f), omAlpha(1.0f), nextOutput(0.0f), doNextOut(true) {}

DelayL::DelayL(float theDelay, long maxDelay) : DelayL() {
  useSlotsFor(maxDelay);
  setDelay(theDelay);
  doNextOut = true;
}

void DelayL::reapplyDelay(float d) {
  setDelay(d);
  doNextOut = true;
}

void DelayL::setDelay(float theDelay) {
  float p;
  if (!fractionalPosition(theDelay, 0.0f, 0.0f, 0.0f, "less than zero!", &p)) return;
  while (p < 0.0f) p += length;
  int i = static_cast<int>(p);
  alpha = p - i;
  omAlpha = 1.0f - alpha;
  // p may round up to length in single precision, or sit at inPoint + 1.
  while (i >= length) i -= length;
  outPoint = i;
}

float DelayL::tick(float x) {
  write(x);
  if (doNextOut) {
    const int next = outPoint + 1 < length ? outPoint + 1 : 0;
    nextOutput = inputs[outPoint] * omAlpha + inputs[next] * alpha;
    doNextOut = false;
  }
  outputs[0] = nextOutput;
  doNextOut = true;
  if (++outPoint >= length) outPoint -= length;
  return outputs[0];
}

// ---------------------------------------------------------------------------
// DelayA

DelayA::DelayA()
    : alpha(0.0f), coeff(0.0f), apInput(0.0f), nextOutput(0.0f), doNextOut(true) {
  setDelay(0.5f);
}

DelayA::DelayA(float theDelay, long maxDelay) : DelayA() {
  useSlotsFor(maxDelay);
  setDelay(theDelay);
  apInput = 0.0f;
  doNextOut = true;
}

void DelayA::reapplyDelay(float d) {
  apInput = 0.0f;
  setDelay(d);
  apInput = 0.0f;
  doNextOut = true;
}

void DelayA::setDelay(float theDelay) {
  // The read point trails the write point by one slot less (lead 1): the
  // allpass adds its own sample of delay.
  float p;
  if (!fractionalPosition(theDelay, 0.5f, 1.0f, 0.4999999999f, "less than 0.5 not possible!", &p))
    return;
  while (p < 0.0f) p += length;
  int i = static_cast<int>(p);
  alpha = 1.0f + i - p;
  while (i >= length) i -= length;
  outPoint = i;
  if (alpha < 0.5f) {
    if (++outPoint >= length) outPoint -= length;
    alpha += 1.0f;
  }
  coeff = (1.0f - alpha) / (1.0f + alpha);
}

float DelayA::tick(float x) {
  write(x);
  if (doNextOut) {
    nextOutput = -coeff * outputs[0] + apInput + coeff * inputs[outPoint];
    doNextOut = false;
  }
  // The allpass feeds its output back: keep it flushed.
  outputs[0] = syn_flush(nextOutput);
  doNextOut = true;
  apInput = inputs[outPoint];
  if (++outPoint >= length) outPoint = 0;
  return outputs[0];
}

// ---------------------------------------------------------------------------
// Echo

Echo::Echo() : length(0), lastOutput(0.0f), effectMix(0.5f) {
  set(Syn::srate * 0.5f);
  effectMix = 0.5f;
}

Echo::~Echo() = default;

void Echo::set(float max) {
  const float kLargest = static_cast<float>(Delay::kMaxDelay - 2);
  if (!std::isfinite(max)) {
    notFinite_.warn(SYN_PREFIX "Echo: set(%s) is not a finite number!",
                    non_finite_text(max));
    if (delayLine) return;
    max = 0.0f;
  }
  if (max < 0.0f) {
    maxBad_.warn(SYN_PREFIX "Echo: set(%g) less than zero!", max);
    max = 0.0f;
  } else if (max > kLargest) {
    maxBad_.warn(SYN_PREFIX "Echo: set(%g) too big!", max);
    max = kLargest;
  }
  length = static_cast<int>(max) + 2;
  float d;
  if (delayLine) {
    d = delayLine->getDelay();
  } else {
    d = static_cast<float>(length / 2);
  }
  if (max <= d) d = max;
  delayLine = std::make_unique<Delay>(length / 2, length);
  clear();
  setDelay(d + 0.5f);
}

void Echo::setDelay(float x) {
  if (!std::isfinite(x)) {
    notFinite_.warn(SYN_PREFIX "Echo: setDelay(%s) is not a finite number!",
                    non_finite_text(x));
    return;
  }
  if (x < 0.0f) {
    delayLow_.warn(SYN_PREFIX "Echo: setDelay parameter is less than zero!");
    x = 0.0f;
  } else if (x > length) {
    delayHigh_.warn(SYN_PREFIX "Echo: setDelay parameter is greater than delay length!");
    x = static_cast<float>(length);
  }
  delayLine->setDelay(static_cast<long>(x));
}

void Echo::setEffectMix(float mix) {
  if (!std::isfinite(mix)) {
    notFinite_.warn(SYN_PREFIX "Echo: setEffectMix(%s) is not a finite number!",
                    non_finite_text(mix));
    return;
  }
  effectMix = mix;
  if (mix < 0.0f) {
    mixLow_.warn(SYN_PREFIX "Echo: setEffectMix parameter is less than zero!");
    effectMix = 0.0f;
  } else if (mix > 1.0f) {
    mixHigh_.warn(SYN_PREFIX "Echo: setEffectMix parameter is greater than 1.0!");
    effectMix = 1.0f;
  }
}

void Echo::clear() {
  delayLine->clear();
  lastOutput = 0.0f;
}

float Echo::tick(float x) {
  lastOutput = effectMix * delayLine->tick(x) + x * (1.0f - effectMix);
  return lastOutput;
}
