// Clarinet, Saxofony, BlowHole, Flute, BlowBotl and Brass.
#include "chip/syn/syn_winds.h"

#include <cmath>

#include "chip/syn/syn_control.h"

namespace {

const double kTwoPi = 6.283185307179586;

// A delay computed for a note, held to the line: 0.3 samples at or below
// 0, the line's length above it.
float held_delay(float d, long length) {
  if (d <= 0.0f) return 0.3f;
  if (d > float(length)) return float(length);
  return d;
}

// The frequency an instrument plays for f: 220 Hz, with a message, at or
// below 0. False (with a message) when f is not a number.
bool playable(const char* who, float* f) {
  if (!syn_is_number(who, "setFrequency parameter", *f)) return false;
  if (*f <= 0.0f) {
    syn_warn(SYN_PREFIX "%s: setFrequency parameter is less than or equal to zero!", who);
    *f = 220.0f;
  }
  return true;
}

// Jet and lip instruments tune resonators by the cosine of the frequency's
// angle, which an infinite frequency does not have: refused like NaN.
bool playable_finite(const char* who, float* f) {
  if (*f == INFINITY) {
    syn_warn(SYN_PREFIX "%s: setFrequency parameter is not finite!", who);
    return false;
  }
  return playable(who, f);
}

// What a waveguide writes into its lines (no denormals, no runaway, no NaN).
inline float line_input(float x) { return syn_flush(x); }

}  // namespace

// ---------------------------------------------------------------------------
// ReedBreath

ReedBreath::ReedBreath() : vibrato("special:sinewave", true, true) {
  vibrato.setFrequency(5.735);
}

float ReedBreath::tick() {
  float b = envelope.tick();
  b += b * noiseGain * noise.tick();
  b += b * vibratoGain * vibrato.tick();
  return b;
}

void ReedBreath::start(float target, float rate) {
  envelope.setRate(rate);
  envelope.setTarget(target);
}

void ReedBreath::stop(float rate) {
  envelope.setRate(rate);
  envelope.setTarget(0.0f);
}

void ReedBreath::startBlowing(const char* who, float amplitude, float rate) {
  if (!syn_is_number(who, "startBlowing parameter", amplitude) ||
      !syn_is_number(who, "startBlowing rate", rate))
    return;
  start(amplitude, rate);
}

void ReedBreath::stopBlowing(const char* who, float rate) {
  if (!syn_is_number(who, "stopBlowing parameter", rate)) return;
  stop(rate);
}

bool ReedBreath::noteOn(const char* who, float amplitude) {
  if (!syn_is_number(who, "noteOn amplitude", amplitude)) return false;
  startBlowing(who, 0.55f + amplitude * 0.3f, amplitude * 0.005f);
  return true;
}

void ReedBreath::noteOff(const char* who, float amplitude) {
  if (!syn_is_number(who, "noteOff amplitude", amplitude)) return;
  stopBlowing(who, amplitude * 0.01f);
}

// ---------------------------------------------------------------------------
// Clarinet

Clarinet::Clarinet(float lowest)
    : delayLine(0.5f * float(syn_waveguide_length(lowest)), syn_waveguide_length(lowest)),
      length(syn_waveguide_length(lowest)) {
  reedTable.setOffset(0.7f);
  reedTable.setSlope(-0.3f);
  setFrequency(220.0f);
  storedReed = (double(reedTable.slope) + 0.44) / 0.26;
  storedNoiseGain = double(breath.noiseGain) / 0.4;
  storedVibratoFreq = double(breath.vibrato.frequency) / 12.0;
  storedVibratoGain = 0.2;
}

void Clarinet::clear() {
  delayLine.clear();
  filter.tick(0.0f);
}

void Clarinet::setFrequency(float frequency) {
  if (!playable("Clarinet", &frequency)) return;
  const float d = (Syn::srate / frequency) * 0.5f - 1.5f;
  delayLine.setDelay(held_delay(d, length));
  m_frequency = frequency;
}

void Clarinet::startBlowing(float amplitude, float rate) {
  breath.startBlowing("Clarinet", amplitude, rate);
}

void Clarinet::stopBlowing(float rate) { breath.stopBlowing("Clarinet", rate); }

void Clarinet::noteOn(float frequency, float amplitude) {
  setFrequency(frequency);
  if (breath.noteOn("Clarinet", amplitude)) outputGain = amplitude + 0.001f;
}

void Clarinet::noteOff(float amplitude) { breath.noteOff("Clarinet", amplitude); }

float Clarinet::tick() {
  const float b = breath.tick();
  // The bore's wave, filtered and inverted at the bell, less the mouth's.
  const float p = filter.tick(delayLine.lastOut()) * -0.95f - b;
  const float r = reedTable.tick(p);
  lastOutput = syn_finite(delayLine.tick(line_input(b + p * r)) * outputGain);
  return lastOutput;
}

void Clarinet::controlChange(int number, float value) {
  float x;
  if (!syn_control_norm("Clarinet", value, &x)) return;
  switch (number) {
    case 1:
      breath.vibratoGain = x * 0.5f;
      storedVibratoGain = x;
      break;
    case 2:
      reedTable.setSlope(x * 0.26f - 0.44f);
      storedReed = x;
      break;
    case 4:
      breath.noiseGain = x * 0.4f;
      storedNoiseGain = x;
      break;
    case 11:
      breath.vibrato.setFrequency(x * 12.0f);
      storedVibratoFreq = breath.vibrato.frequency;
      break;
    case 128:
      breath.envelope.setValue(x);
      storedPressure = x;
      break;
    default:
      syn_warn(SYN_PREFIX "Clarinet: Undefined Control Number (%d)!!", number);
  }
}

// ---------------------------------------------------------------------------
// Saxofony

Saxofony::Saxofony(float lowest)
    : delays{DelayL((1.0f - 0.2f) * float(syn_waveguide_length(lowest) / 2),
                    syn_waveguide_length(lowest)),
             DelayL(0.2f * float(syn_waveguide_length(lowest) / 2),
                    syn_waveguide_length(lowest))},
      length(syn_waveguide_length(lowest)) {
  reedTable.setOffset(0.7f);
  reedTable.setSlope(0.3f);
  storedReed = (double(reedTable.slope) - 0.1) / 0.4;
  storedAperture = (double(reedTable.offset) - 0.4) / 0.6;
  storedNoiseGain = double(breath.noiseGain) / 0.4;
  storedPressure = breath.envelope.value;
}

void Saxofony::clear() {
  delays[0].clear();
  delays[1].clear();
  filter.tick(0.0f);
}

void Saxofony::setFrequency(float frequency) {
  if (!playable("Saxofony", &frequency)) return;
  const float d = held_delay(Syn::srate / frequency - 3.0f, length);
  delays[0].setDelay((1.0f - position) * d);
  delays[1].setDelay(position * d);
  m_frequency = frequency;
}

void Saxofony::setBlowPosition(float q) {
  if (!syn_is_number("Saxofony", "setBlowPosition parameter", q)) return;
  if (q == position) return;
  position = q < 0.0f ? 0.0f : (q > 1.0f ? 1.0f : q);
  const float total = delays[0].getDelay() + delays[1].getDelay();
  delays[0].setDelay((1.0f - position) * total);
  delays[1].setDelay(position * total);
}

void Saxofony::startBlowing(float amplitude, float rate) {
  breath.startBlowing("Saxofony", amplitude, rate);
}

void Saxofony::stopBlowing(float rate) { breath.stopBlowing("Saxofony", rate); }

void Saxofony::noteOn(float frequency, float amplitude) {
  setFrequency(frequency);
  if (breath.noteOn("Saxofony", amplitude)) outputGain = amplitude + 0.001f;
}

void Saxofony::noteOff(float amplitude) { breath.noteOff("Saxofony", amplitude); }

float Saxofony::tick() {
  const float b = breath.tick();
  const float t = -0.95f * filter.tick(delays[0].lastOut());
  const float y = t - delays[1].lastOut();
  const float p = b - y;
  delays[1].tick(line_input(t));
  delays[0].tick(line_input(b - p * reedTable.tick(p) - t));
  lastOutput = syn_finite(y * outputGain);
  return lastOutput;
}

void Saxofony::controlChange(int number, float value) {
  float x;
  if (!syn_control_norm("Saxofony", value, &x)) return;
  switch (number) {
    case 1:
      breath.vibratoGain = x * 0.5f;
      storedVibratoGain = x;
      break;
    case 2:
      reedTable.setSlope(0.1f + x * 0.4f);
      storedReed = x;
      break;
    case 4:
      breath.noiseGain = x * 0.4f;
      storedNoiseGain = x;
      break;
    case 11:
      setBlowPosition(x);
      break;
    case 26:
      reedTable.setOffset(0.4f + x * 0.6f);
      storedAperture = x;
      break;
    case 29:
      breath.vibrato.setFrequency(x * 12.0f);
      break;
    case 128:
      breath.envelope.setValue(x);
      storedPressure = x;
      break;
    default:
      syn_warn(SYN_PREFIX "Saxofony: Undefined Control Number (%d)!!", number);
  }
}

// ---------------------------------------------------------------------------
// BlowHole

BlowHole::BlowHole(float lowest)
    : delays{DelayL(5.0f * Syn::srate / 22050.0f, 100),
             DelayL(float(syn_waveguide_length(lowest) / 2), syn_waveguide_length(lowest)),
             DelayL(4.0f * Syn::srate / 22050.0f, 100)},
      length(syn_waveguide_length(lowest)) {
  reedTable.setOffset(0.7f);
  reedTable.setSlope(-0.3f);

  // The tone hole: twice its effective length (1.4 r_th) in samples per
  // metre against the speed of sound; it starts open.
  const double k = 0.0084 * double(Syn::srate);
  thCoeff = static_cast<float>((k - 347.23) / (k + 347.23));
  tonehole.setA1(-thCoeff);
  tonehole.setB0(thCoeff);
  tonehole.setB1(-1.0f);

  // The register vent, closed at first.
  const double m = 2.0 * double(Syn::srate) * double(0.105f);
  rhCoeff = static_cast<float>((347.23 - m) / (347.23 + m));
  rhGain = static_cast<float>(-347.23 / (347.23 + m));
  vent.setA1(rhCoeff);
  vent.setB0(1.0f);
  vent.setB1(1.0f);
  vent.setGain(0.0f);

  breath.vibratoGain = 0.01f;
  setFrequency(220.0f);
  storedReed = (double(reedTable.slope) + 0.44) / 0.26;
  storedNoiseGain = double(breath.noiseGain) / 0.4;
  storedRate = breath.envelope.rate;
}

void BlowHole::setFrequency(float frequency) {
  if (!playable("BlowHole", &frequency)) return;
  float d = (Syn::srate / frequency) * 0.5f - 3.5f;
  d -= delays[0].getDelay() + delays[2].getDelay();
  delays[1].setDelay(held_delay(d, length));
  m_frequency = frequency;
}

void BlowHole::setVent(float v) {
  if (!syn_is_number("BlowHole", "setVent parameter", v)) return;
  float gain;
  if (v <= 0.0f) {
    gain = 0.0f;
  } else if (v >= 1.0f) {
    gain = rhGain;
  } else {
    gain = v * rhGain;
  }
  vent.setGain(gain);
}

void BlowHole::setTonehole(float v) {
  if (!syn_is_number("BlowHole", "setTonehole parameter", v)) return;
  double c;
  if (v <= 0.0f) {
    c = 0.9995;
  } else if (v >= 1.0f) {
    c = thCoeff;
  } else {
    c = 0.9995 + double(v) * (double(thCoeff) - 0.9995);
  }
  tonehole.setA1(static_cast<float>(-c));
  tonehole.setB0(static_cast<float>(c));
}

void BlowHole::startBlowing(float amplitude, float rate) {
  breath.startBlowing("BlowHole", amplitude, rate);
}

void BlowHole::stopBlowing(float rate) { breath.stopBlowing("BlowHole", rate); }

void BlowHole::noteOn(float frequency, float amplitude) {
  setFrequency(frequency);
  if (breath.noteOn("BlowHole", amplitude)) outputGain = amplitude + 0.001f;
}

void BlowHole::noteOff(float amplitude) { breath.noteOff("BlowHole", amplitude); }

float BlowHole::tick() {
  const float b = breath.tick();
  // The reed junction.
  const float p = delays[0].lastOut() - b;
  float pa = b + p * reedTable.tick(p);
  // The vent junction: the vent filter sees both waves meeting there.
  float pb = delays[1].lastOut();
  vent.tick(pa + pb);
  const float y = syn_finite(delays[0].tick(line_input(vent.lastOut() + pb)) * outputGain);
  // The tone-hole junction.
  pa += vent.lastOut();
  pb = delays[2].lastOut();
  const float pth = tonehole.lastOut();
  const float t = scatter * (pa + pb - 2.0f * pth);
  delays[2].tick(line_input(filter.tick(pa + t) * -0.95f));
  delays[1].tick(line_input(pb + t));
  tonehole.tick(pa + pb - pth + t);
  lastOutput = y;
  return y;
}

void BlowHole::controlChange(int number, float value) {
  float x;
  if (!syn_control_norm("BlowHole", value, &x)) return;
  switch (number) {
    case 1:
      setVent(x);
      storedVent = x;
      break;
    case 2:
      reedTable.setSlope(x * 0.26f - 0.44f);
      storedReed = x;
      break;
    case 4:
      breath.noiseGain = x * 0.4f;
      storedNoiseGain = x;
      break;
    case 11:
      setTonehole(x);
      storedTonehole = x;
      break;
    case 128:
      breath.envelope.setValue(x);
      storedPressure = x;
      break;
    default:
      syn_warn(SYN_PREFIX "BlowHole: Undefined Control Number (%d)!!", number);
  }
}

// ---------------------------------------------------------------------------
// JetBreath

JetBreath::JetBreath(double vibratoHz) : vibrato("special:sinewave", true, true) {
  vibrato.setFrequency(vibratoHz);
}

void JetBreath::startBlowing(const char* who, float amplitude, float rate,
                             float pressureDivisor) {
  if (!syn_is_number(who, "startBlowing parameter", amplitude) ||
      !syn_is_number(who, "startBlowing rate", rate))
    return;
  envelope.setAttackRate(rate);
  maxPressure = amplitude / pressureDivisor;
  envelope.keyOn();
}

void JetBreath::stopBlowing(const char* who, float rate) {
  if (!syn_is_number(who, "stopBlowing parameter", rate)) return;
  envelope.setReleaseRate(rate);
  envelope.keyOff();
}

// ---------------------------------------------------------------------------
// Flute

Flute::Flute(float lowest)
    : jetDelay(49.0f, syn_waveguide_length(lowest) / 2),
      boreDelay(100.0f, syn_waveguide_length(lowest)),
      breath(5.925),
      length(syn_waveguide_length(lowest) / 2) {
  dcBlock.setB0(1.0f);
  dcBlock.setB1(-1.0f);
  dcBlock.setA1(-0.99f);
  clear();
  // The bore's loss: a one-pole lowpass whose pole follows the rate, with
  // the inversion of the open end in its gain.
  const float pole = 0.7f - 0.1f * 22050.0f / Syn::srate;
  filter.setB0(pole > 0.0f ? 1.0f - pole : 1.0f + pole);
  filter.setA1(-pole);
  filter.setGain(-1.0f);
  breath.envelope.setAllTimes(0.005f, 0.01f, 0.8f, 0.01f);
  breath.vibratoGain = 0.05f;
  m_frequency = 220.0;
  storedNoiseGain = double(noiseGain) / 0.4;
  storedVibratoFreq = 5.925 / 12.0;
  storedVibratoGain = double(breath.vibratoGain) / 0.4;
}

void Flute::clear() {
  jetDelay.clear();
  boreDelay.clear();
  filter.clear();
  dcBlock.clear();
}

void Flute::setFrequency(float frequency) {
  if (!syn_is_number("Flute", "setFrequency parameter", frequency)) return;
  m_frequency = frequency;
  if (frequency <= 0.0f) {
    syn_warn(SYN_PREFIX "Flute: setFrequency parameter is less than or equal to zero!");
    frequency = 220.0f;
  }
  // The bore sounds a fifth below; the jet overblows it to the note.
  lastFrequency = static_cast<float>(double(frequency) * 0.66666);
  const float d = held_delay(Syn::srate / lastFrequency - 2.0f, length);
  boreDelay.setDelay(d);
  jetDelay.setDelay(d * jetRatio);
}

void Flute::setJetDelay(float ratio) {
  if (!syn_is_number("Flute", "setJetDelay parameter", ratio)) return;
  jetRatio = ratio;
  jetDelay.setDelay(ratio * (Syn::srate / lastFrequency - 2.0f));
}

void Flute::setJetReflection(float v) {
  if (syn_is_number("Flute", "setJetReflection parameter", v)) jetReflection = v;
}

void Flute::setEndReflection(float v) {
  if (syn_is_number("Flute", "setEndReflection parameter", v)) endReflection = v;
}

void Flute::startBlowing(float amplitude, float rate) {
  breath.startBlowing("Flute", amplitude, rate, 0.8f);
}

void Flute::stopBlowing(float rate) { breath.stopBlowing("Flute", rate); }

void Flute::noteOn(float frequency, float amplitude) {
  setFrequency(frequency);
  if (!syn_is_number("Flute", "noteOn amplitude", amplitude)) return;
  startBlowing(1.1f + amplitude * 0.2f, amplitude * 0.02f);
  outputGain = amplitude + 0.001f;
}

void Flute::noteOff(float amplitude) {
  if (!syn_is_number("Flute", "noteOff amplitude", amplitude)) return;
  stopBlowing(amplitude * 0.02f);
}

float Flute::tick() {
  float b = breath.maxPressure * breath.envelope.tick();
  b += b * noiseGain * noise.tick();
  b += b * breath.vibratoGain * breath.vibrato.tick();
  // The wave back from the open end, low-passed and without DC.
  const float t = dcBlock.tick(filter.tick(boreDelay.lastOut()));
  float d = jetDelay.tick(line_input(b - jetReflection * t));
  d = jetTable.tick(d) + endReflection * t;
  lastOutput = syn_finite(boreDelay.tick(line_input(d)) * 0.3f * outputGain);
  return lastOutput;
}

void Flute::controlChange(int number, float value) {
  float x;
  if (!syn_control_norm("Flute", value, &x)) return;
  switch (number) {
    case 1:
      breath.vibratoGain = x * 0.4f;
      storedVibratoGain = x;
      break;
    case 2:
      setJetDelay(0.08f + x * 0.48f);
      storedJetDelay = jetRatio;
      break;
    case 4:
      noiseGain = x * 0.4f;
      storedNoiseGain = x;
      break;
    case 11:
      breath.vibrato.setFrequency(x * 12.0f);
      storedVibratoFreq = breath.vibrato.frequency;
      break;
    case 128:
      breath.envelope.setTarget(x);
      storedPressure = x;
      break;
    default:
      syn_warn(SYN_PREFIX "Flute: Undefined Control Number (%d)!!", number);
  }
}

// ---------------------------------------------------------------------------
// BlowBotl

BlowBotl::BlowBotl() : breath(5.925) {
  dcBlock.setB0(1.0f);
  dcBlock.setB1(-1.0f);
  dcBlock.setA1(-0.99f);
  tune(500.0f);
  breath.envelope.setAllTimes(0.005f, 0.01f, 0.8f, 0.01f);
  m_frequency = 500.0;
  storedNoiseGain = double(noiseGain) / 30.0;
  storedVibratoFreq = 5.925 / 12.0;
}

void BlowBotl::tune(float frequency) {
  // Poles at radius 0.999 and the note's angle; zeros at DC and Nyquist.
  const float a2 = 0.998001f;
  resonator.setA2(a2);
  resonator.setA1(static_cast<float>(-1.998 * std::cos(kTwoPi * frequency / Syn::srate)));
  resonator.setB0(0.5f - 0.5f * a2);
  resonator.setB1(0.0f);
  resonator.setB2(-(0.5f - 0.5f * a2));
}

void BlowBotl::setFrequency(float frequency) {
  if (!playable_finite("BlowBotl", &frequency)) return;
  tune(frequency);
  m_frequency = frequency;
}

void BlowBotl::startBlowing(float amplitude, float rate) {
  breath.startBlowing("BlowBotl", amplitude, rate);
}

void BlowBotl::stopBlowing(float rate) { breath.stopBlowing("BlowBotl", rate); }

void BlowBotl::noteOn(float frequency, float amplitude) {
  setFrequency(frequency);
  if (!syn_is_number("BlowBotl", "noteOn amplitude", amplitude)) return;
  startBlowing(1.1f + amplitude * 0.2f, amplitude * 0.02f);
  outputGain = amplitude + 0.001f;
}

void BlowBotl::noteOff(float amplitude) {
  if (!syn_is_number("BlowBotl", "noteOff amplitude", amplitude)) return;
  stopBlowing(amplitude * 0.02f);
}

float BlowBotl::tick() {
  // The vibrato adds to the breath here; it does not scale with it.
  const float b = breath.maxPressure * breath.envelope.tick() +
                  breath.vibratoGain * breath.vibrato.tick();
  const float d = b - resonator.lastOut();
  const float n = static_cast<float>(double(noiseGain) * double(noise.tick()) * double(b) *
                                     (1.0 + double(d)));
  resonator.tick(b + n - d * jetTable.tick(d));
  lastOutput = syn_finite(outputGain * 0.2f * dcBlock.tick(d));
  return lastOutput;
}

void BlowBotl::controlChange(int number, float value) {
  float x;
  if (!syn_control_norm("BlowBotl", value, &x)) return;
  switch (number) {
    case 1:
      breath.vibratoGain = x * 0.4f;
      storedVibratoGain = x;
      break;
    case 4:
      noiseGain = x * 30.0f;
      storedNoiseGain = x;
      break;
    case 11:
      breath.vibrato.setFrequency(x * 12.0f);
      storedVibratoFreq = breath.vibrato.frequency;
      break;
    case 128:
      breath.envelope.setTarget(x);
      storedVolume = x;
      break;
    default:
      syn_warn(SYN_PREFIX "BlowBotl: Undefined Control Number (%d)!!", number);
  }
}

// ---------------------------------------------------------------------------
// Brass

Brass::Brass(float lowest)
    : delayLine(0.5f * float(syn_waveguide_length(lowest)), syn_waveguide_length(lowest)),
      breath(6.137),
      length(syn_waveguide_length(lowest)) {
  lipFilter.setGain(0.03f);
  dcBlock.setB0(1.0f);
  dcBlock.setB1(-1.0f);
  dcBlock.setA1(-0.99f);
  breath.envelope.setAllTimes(0.005f, 0.001f, 1.0f, 0.01f);
  clear();
  setFrequency(220.0f);
  storedSlide = double(length);
  storedVibratoFreq = 6.137 / 12.0;
}

void Brass::clear() {
  delayLine.clear();
  delayLine.apInput = 0.0f;
  lipFilter.clear();
  dcBlock.clear();
}

void Brass::lipResonance(float frequency) {
  lipFilter.setA2(0.99400896f);
  lipFilter.setA1(static_cast<float>(-1.994 * std::cos(kTwoPi * frequency / Syn::srate)));
}

void Brass::setFrequency(float frequency) {
  if (!playable_finite("Brass", &frequency)) return;
  // The tube is two periods long: the lips pick its second mode.
  slideTarget = syn_float(double(Syn::srate) / double(frequency) * 2.0 + 3.0);
  delayLine.setDelay(slideTarget);
  lipTarget = frequency;
  lipResonance(frequency);
  m_frequency = frequency;
}

void Brass::setLip(float frequency) {
  if (!syn_is_number("Brass", "setLip parameter", frequency)) return;
  if (frequency == INFINITY) {
    syn_warn(SYN_PREFIX "Brass: setLip parameter is not finite!");
    return;
  }
  if (frequency <= 0.0f) {
    syn_warn(SYN_PREFIX "Brass: setLip parameter is less than or equal to zero!");
    frequency = 220.0f;
  }
  lipResonance(frequency);
}

void Brass::startBlowing(float amplitude, float rate) {
  breath.startBlowing("Brass", amplitude, rate);
}

void Brass::stopBlowing(float rate) { breath.stopBlowing("Brass", rate); }

void Brass::noteOn(float frequency, float amplitude) {
  setFrequency(frequency);
  if (!syn_is_number("Brass", "noteOn amplitude", amplitude)) return;
  startBlowing(amplitude, amplitude * 0.001f);
}

void Brass::noteOff(float amplitude) {
  if (!syn_is_number("Brass", "noteOff amplitude", amplitude)) return;
  stopBlowing(amplitude * 0.005f);
}

float Brass::tick() {
  // Mouth pressure and the bore's pressure at the mouthpiece.
  const float m = (breath.maxPressure * breath.envelope.tick() +
                   breath.vibratoGain * breath.vibrato.tick()) *
                  0.3f;
  const float q = 0.85f * delayLine.lastOut();
  // The lips open with the square of their filtered pressure difference.
  float d = lipFilter.tick(m - q);
  d = d * d;
  if (d > 1.0f) d = 1.0f;
  const float u = d * m + (1.0f - d) * q;
  lastOutput = syn_finite(delayLine.tick(line_input(dcBlock.tick(u))));
  return lastOutput;
}

void Brass::controlChange(int number, float value) {
  float x;
  if (!syn_control_norm("Brass", value, &x)) return;
  switch (number) {
    case 1:
      breath.vibratoGain = x * 0.4f;
      storedVibratoGain = x;
      break;
    case 2:
      setLip(static_cast<float>(double(lipTarget) * std::pow(4.0, 2.0 * x - 1.0)));
      storedLip = x;
      break;
    case 4:
      delayLine.setDelay(syn_float(double(slideTarget) * (0.5 + double(x))));
      storedSlide = x;
      break;
    case 11:
      breath.vibrato.setFrequency(x * 12.0f);
      storedVibratoFreq = breath.vibrato.frequency;
      break;
    case 128:
      breath.envelope.setTarget(x);
      storedVolume = x;
      break;
    default:
      syn_warn(SYN_PREFIX "Brass: Undefined Control Number (%d)!!", number);
  }
}
