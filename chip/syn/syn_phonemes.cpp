// The phoneme table's accessors.
#include "chip/syn/syn_phonemes.h"

#include <cstring>

#include "chip/syn/syn_phoneme_data.h"

namespace {

// The row, or null after the accessor's message.
const Syn_Phoneme_Row* row(const char* accessor, int index) {
  if (index < 0) {
    syn_warn(SYN_PREFIX "Phonemes: %s index is less than zero!", accessor);
    return nullptr;
  }
  if (index > kSynPhonemeCount - 1) {
    syn_warn(SYN_PREFIX "Phonemes: %s index is greater than 31!", accessor);
    return nullptr;
  }
  return &kSynPhonemeRows[index];
}

// One value of a formant, or 0 after the accessor's message.
float formant(const char* accessor, int index, int partial, int field) {
  const Syn_Phoneme_Row* r = row(accessor, index);
  if (!r) return 0.0f;
  if (partial < 0) {
    syn_warn(SYN_PREFIX "Phonemes: %s partial is less than zero!", accessor);
    return 0.0f;
  }
  if (partial > 3) {
    syn_warn(SYN_PREFIX "Phonemes: %s partial is greater than 3!", accessor);
    return 0.0f;
  }
  return static_cast<float>(r->formant[partial][field]);
}

}  // namespace

const char* Phonemes::name(int index) {
  return index >= 0 && index < kSynPhonemeCount ? kSynPhonemeRows[index].name : "";
}

int Phonemes::find(const char* name) {
  if (!name) return -1;
  for (int i = 0; i < kSynPhonemeCount; i++) {
    if (std::strcmp(kSynPhonemeRows[i].name, name) == 0) return i;
  }
  return -1;
}

float Phonemes::voiceGain(int index) {
  const Syn_Phoneme_Row* r = row("voiceGain", index);
  return r ? static_cast<float>(r->voiceGain) : 0.0f;
}

float Phonemes::noiseGain(int index) {
  const Syn_Phoneme_Row* r = row("noiseGain", index);
  return r ? static_cast<float>(r->noiseGain) : 0.0f;
}

float Phonemes::formantFrequency(int index, int partial) {
  return formant("formantFrequency", index, partial, 0);
}

float Phonemes::formantRadius(int index, int partial) {
  return formant("formantRadius", index, partial, 1);
}

float Phonemes::formantGain(int index, int partial) {
  return formant("formantGain", index, partial, 2);
}
