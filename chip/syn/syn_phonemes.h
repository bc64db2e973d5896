// The phoneme table of the singing voices: 32 rows (chip/syn/
// syn_phoneme_data.h), each a three-letter name, four formants (frequency
// in Hz, pole radius, gain in dB) and the voiced and noise gains. The FM
// voice FMVoices reads its formant frequencies; the formant voice selects
// rows by name.
//
// Accessors take a row index and, for formants, a formant number 0..3. A
// row outside 0..31 yields 0 with "[chip](via SYN): Phonemes: <accessor>
// index is greater than 31!" (or "... less than zero!"); a formant number
// outside 0..3 yields 0 with "... partial is greater than 3!" (or "... less
// than zero!").
#ifndef CHIP_SYN_PHONEMES_H
#define CHIP_SYN_PHONEMES_H

#include "chip/syn/syn.h"

class Phonemes : public Syn {
 public:
  // The row's name, or "" for a row outside the table.
  static const char* name(int index);
  // The first row whose name is exactly `name` (case-sensitive), or -1.
  static int find(const char* name);
  static float voiceGain(int index);
  static float noiseGain(int index);
  static float formantFrequency(int index, int partial);
  static float formantRadius(int index, int partial);
  static float formantGain(int index, int partial);
};

#endif
