// Sampler and Moog.
#include "chip/syn/syn_moog.h"

#include <cmath>

#include "chip/syn/syn_control.h"

// ---------------------------------------------------------------------------
// Sampler

Sampler::Sampler() { m_frequency = 440.0; }

void Sampler::noteOff(float) { envelope.keyOff(); }

void Sampler::keyOn() {
  envelope.keyOn();
  if (attackWaves[0]) attackWaves[0]->reset();
}

float Sampler::tick() {
  float out = 0.0f;
  if (attackWaves[activeSlot]) out = attackLevel * attackWaves[activeSlot]->tick();
  if (loopWaves[activeSlot]) out += loopLevel * loopWaves[activeSlot]->tick();
  out = filter.tick(out);
  out *= envelope.tick();
  lastOutput = out;
  return out;
}

// ---------------------------------------------------------------------------
// Moog

Moog::Moog() {
  attackWaves[0] = std::make_unique<WvIn>("special:mandpluk", true, true, true);
  loopWaves[0] = std::make_unique<WaveLoop>("special:impuls20", true, true);
  loopWaves[1] = std::make_unique<WaveLoop>("special:sinewave", true, true);
  loopWaves[1]->setFrequency(6.122);
  for (FormSwep& f : filters) f.setTargets(0.0f, 0.7f, 1.0f);
  envelope.setAllTimes(0.001f, 1.5f, 0.6f, 0.250f);
}

void Moog::setFrequency(float frequency) {
  if (frequency != frequency) return;
  baseFrequency = frequency;
  if (frequency <= 0.0f) {
    syn_warn(SYN_PREFIX "Moog: setFrequency parameter is less than or equal to zero!");
    baseFrequency = 220.0f;
  }
  const double size = double(attackWaves[0]->getSize());
  attackWaves[0]->setRate(size * 0.01 * baseFrequency / Syn::srate);
  loopWaves[0]->setFrequency(baseFrequency);
  m_frequency = baseFrequency;
}

void Moog::noteOn(float frequency, float amplitude) {
  setFrequency(frequency);
  keyOn();
  attackLevel = 0.5f * amplitude;
  loopLevel = amplitude;
  for (FormSwep& f : filters) f.setStates(2000.0f, filterQ + 0.05f, 1.0f);
  const float target = frequency == frequency ? frequency : baseFrequency;
  for (FormSwep& f : filters) f.setTargets(target, filterQ + 0.099f, 1.0f);
  for (FormSwep& f : filters) f.setSweepRate(sweepSpeed * 22050.0f / Syn::srate);
}

float Moog::tick() {
  if (modDepth != 0.0f) {
    const float m = loopWaves[1]->tick() * modDepth;
    loopWaves[0]->setFrequency(baseFrequency * (1.0f + m));
  }
  float temp = Sampler::tick();
  temp = filters[0].tick(temp);
  lastOutput = filters[1].tick(temp);
  return lastOutput * 3.0f;
}

void Moog::setModulationSpeed(float hz) {
  if (!std::isfinite(hz)) return;
  loopWaves[1]->setFrequency(hz);
  storedVibratoFreq = loopWaves[1]->frequency;
}

void Moog::setModulationDepth(float depth) {
  if (!std::isfinite(depth)) return;
  modDepth = 0.5f * depth;
  storedVibratoGain = depth;
}

void Moog::controlChange(int number, float value) {
  float norm;
  if (!syn_control_norm("Moog", value, &norm)) return;
  switch (number) {
    case 2: filterQ = 0.8f + 0.1f * norm; break;
    case 4: sweepSpeed = 0.0002f * norm; break;
    case 11:
      loopWaves[1]->setFrequency(12.0f * norm);
      storedVibratoFreq = 12.0f * norm;
      break;
    case 1:
      modDepth = 0.5f * norm;
      storedVibratoGain = norm;
      break;
    case 128:
      envelope.setTarget(norm);
      storedVolume = norm;
      break;
    default:
      syn_warn(SYN_PREFIX "Moog: Undefined Control Number (%d)!!", number);
  }
}
