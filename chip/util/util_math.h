// Pitch and level conversions, exported by the standard and math libraries
// and used by the spectral code.
//
// Decibels are on a 100 dB scale: 100 dB is unit power or amplitude, and
// nothing goes below 0 dB. Inputs are capped so that results stay finite
// (mtof at note 1499, dbtopow at 870 dB, dbtorms at 485 dB). The decibel
// factors are fixed double constants derived from ln 10 to twelve decimals,
// not from the exact logarithm, so results match the language's libraries
// bit for bit.
#ifndef CHIP_UTIL_MATH_H
#define CHIP_UTIL_MATH_H

extern "C" {

// MIDI note to frequency in Hz (note 69 is 440 Hz); 0 for notes <= -1500.
double mtof(double note);
// Frequency in Hz to MIDI note; -1500 for frequencies <= 0.
double ftom(double freq);
// Power to decibels, clamped at 0 dB.
double powtodb(double power);
// Amplitude to decibels, clamped at 0 dB.
double rmstodb(double amplitude);
// Decibels to power; 0 for decibels <= 0.
double dbtopow(double db);
// Decibels to amplitude; 0 for decibels <= 0.
double dbtorms(double db);
// The smallest power of two >= n for n >= 2; 0 for n <= 1, and 0 when no
// power of two >= n fits in a long.
long ensurepow2(long n);

}

#endif
