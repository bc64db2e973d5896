// What the toolkit's instruments share for their settings: the control
// change's 0..128 scale and the refusal of arguments that are not numbers.
//
// A control value is normalised to value / 128 (x 0.0078125, single
// precision) and clamped to 0..1 with the messages
// "[chip](via SYN): <who>: Control value less than zero!" and
// "... greater than 128.0!" (an infinity takes the clamp of its sign). A NaN
// would pass both comparisons and become a delay, a coefficient or a gain;
// it is refused instead with one message and the setting stays as it was.
//
// Everything runs on the audio thread; nothing is locked.
#ifndef CHIP_SYN_CONTROL_H
#define CHIP_SYN_CONTROL_H

#include "chip/syn/syn.h"

// True when value is a number. A NaN prints
// "[chip](via SYN): <who>: <what> is not a number!" and gives false.
bool syn_is_number(const char* who, const char* what, double value);

// The normalised control value into *norm (clamped to 0..1 with who's
// messages); false, with "<who>: Control value is not a number!", for NaN
// (then *norm is untouched).
bool syn_control_norm(const char* who, float value, float* norm);

// The delay-line length of a waveguide built for the lowest frequency
// `lowest` Hz: the integer part of srate / lowest + 1, held to
// 1..Delay::kMaxDelay (a lowest frequency at or below 0, or not a number,
// gives the longest line).
long syn_waveguide_length(float lowest);

#endif
