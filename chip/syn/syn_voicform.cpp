// Modulate, SingWave and VoicForm.
#include "chip/syn/syn_voicform.h"

#include <cmath>

#include "chip/syn/syn_control.h"
#include "chip/syn/syn_phonemes.h"

// ---------------------------------------------------------------------------
// Modulate

Modulate::Modulate() : vibrato("special:sinewave", true, true), noise(330) {
  vibrato.setFrequency(6.0);
  filter.setPole(0.999f);
  filter.setGain(randomGain);
}

void Modulate::setVibratoRate(float hz) {
  if (std::isfinite(hz)) vibrato.setFrequency(hz);
}

void Modulate::setVibratoGain(float gain) {
  if (std::isfinite(gain)) vibratoGain = gain;
}

void Modulate::setRandomGain(float gain) {
  if (!std::isfinite(gain)) return;
  randomGain = gain;
  filter.setGain(gain);
}

float Modulate::tick() {
  lastOutput = vibratoGain * vibrato.tick();
  lastOutput += filter.tick(noise.tick());
  if (!std::isfinite(lastOutput)) lastOutput = 0.0f;
  return lastOutput;
}

float* Modulate::tick(float* vector, unsigned int size) {
  for (unsigned int i = 0; i < size; i++) vector[i] = tick();
  return vector;
}

// ---------------------------------------------------------------------------
// SingWave

SingWave::SingWave(const char* fileName, bool raw) : wave(fileName, raw, true) {
  modulator.setVibratoRate(6.0f);
  modulator.setVibratoGain(0.04f);
  modulator.setRandomGain(0.005f);
  setFrequency(75.0f);
  rateEnvelope.setRate(1.0f);
  tick();
  tick();
  rateEnvelope.setRate(pitchSweepRate * readRate);
}

void SingWave::setFrequency(float f) {
  if (!std::isfinite(f)) return;
  frequency = f;
  const float old = readRate;
  readRate = static_cast<float>(double(wave.getSize()) * f / Syn::srate);
  rateEnvelope.setTarget(readRate);
  rateEnvelope.setRate(pitchSweepRate * std::fabs(old - readRate));
}

void SingWave::setSweepRate(float rate) {
  if (std::isfinite(rate)) pitchSweepRate = std::fabs(rate);
}

float SingWave::tick() {
  float newRate = rateEnvelope.tick();
  newRate += newRate * modulator.tick();
  wave.setRate(newRate);
  lastOutput = wave.tick() * envelope.tick();
  return lastOutput;
}

// ---------------------------------------------------------------------------
// VoicForm

VoicForm::VoicForm() : voiced("special:impuls20", true) {
  voiced.setGainRate(0.001f);
  voiced.setGainTarget(0.0f);
  for (FormSwep& f : filters) f.setSweepRate(0.001f);
  zeroFilter.setZero(-0.9f);
  poleFilter.setPole(0.9f);
  noiseEnvelope.setRate(0.001f);
  noiseEnvelope.setTarget(0.0f);
  phonemeIndex = 0;
  setPhoneme("eee");
  zeroFilter.clear();
  poleFilter.clear();
  for (FormSwep& f : filters) f.clear();
  voiced.setFrequency(440.0f);
  m_frequency = 440.0;
}

void VoicForm::setRow(int row, float factor) {
  for (int j = 0; j < 4; j++) {
    // One accessor after the other, so their messages come in this order.
    const float frequency = Phonemes::formantFrequency(row, j);
    const float radius = Phonemes::formantRadius(row, j);
    const float gain = std::pow(10.0f, Phonemes::formantGain(row, j) / 20.0f);
    filters[j].setTargets(factor * frequency, radius, gain);
  }
  voiced.setGainTarget(Phonemes::voiceGain(row));
  noiseEnvelope.setTarget(Phonemes::noiseGain(row) * 0.01f);
}

bool VoicForm::setPhoneme(const char* name) {
  const int row = Phonemes::find(name ? name : "");
  if (row < 0) {
    syn_warn(SYN_PREFIX "VoicForm: phoneme %s not found!", name ? name : "");
    return false;
  }
  setRow(row, 1.0f);
  phonemeIndex = row;
  phonemeName = Phonemes::name(row);
  return true;
}

void VoicForm::setFrequency(float frequency) {
  if (frequency != frequency) return;
  float f = frequency;
  if (f <= 0.0f) {
    syn_warn(SYN_PREFIX "VoicForm: setFrequency parameter is less than or equal to zero!");
    f = 220.0f;
  }
  voiced.setFrequency(f);
  m_frequency = f;
}

void VoicForm::setSourcePole(float amplitude) {
  if (amplitude != amplitude) return;
  float pole = 0.97f - 0.2f * amplitude;
  if (pole > 0.9999f) pole = 0.9999f;
  if (pole < -0.9999f) pole = -0.9999f;
  poleFilter.setPole(pole);
}

void VoicForm::noteOn(float frequency, float amplitude) {
  if (double(frequency) != m_frequency) setFrequency(frequency);
  if (amplitude == amplitude) voiced.setGainTarget(amplitude);
  setSourcePole(amplitude);
}

void VoicForm::quiet() {
  voiced.noteOff();
  noiseEnvelope.setTarget(0.0f);
}

void VoicForm::noteOff(float) { quiet(); }

float VoicForm::tick() {
  float temp = poleFilter.tick(zeroFilter.tick(voiced.tick()));
  const float e = noiseEnvelope.tick();
  temp += e * noise.tick();
  float out = filters[0].tick(temp);
  out += filters[1].tick(temp);
  out += filters[2].tick(temp);
  out += filters[3].tick(temp);
  lastOutput = std::isfinite(out) ? out : 0.0f;
  return lastOutput;
}

void VoicForm::controlChange(int number, float value) {
  float norm;
  if (!syn_control_norm("VoicForm", value, &norm)) return;
  switch (number) {
    case 2:
      voiced.setGainTarget(1.0f - norm);
      noiseEnvelope.setTarget(0.01f * norm);
      break;
    case 4: {
      // The raw value's integer part; a value that is not a finite number
      // in the int range selects no row (every formant then reads 0).
      int i = 1000;  // no row
      if (value > -2147483648.0f && value < 2147483648.0f) i = static_cast<int>(value);
      else if (value < 0.0f) i = -1;
      if (i >= 0 && i <= 31) setRow(i, 0.9f);
      else if (i >= 32 && i <= 63) setRow(i - 32, 1.0f);
      else if (i >= 64 && i <= 95) setRow(i - 64, 1.1f);
      else if (i >= 96 && i <= 127) setRow(i - 96, 1.2f);
      else if (i == 128) setRow(0, 1.4f);
      else setRow(i < 0 ? -1 : 32, 0.0f);
      break;
    }
    case 11: voiced.modulator.setVibratoRate(norm * 12.0f); break;
    case 1: voiced.modulator.setVibratoGain(norm * 0.2f); break;
    case 128:
      voiced.setGainTarget(norm);
      setSourcePole(norm);
      break;
    default:
      syn_warn(SYN_PREFIX "VoicForm: Undefined Control Number (%d)!!", number);
  }
}
