// Control-change scale and argument checks of the toolkit's instruments.
#include "chip/syn/syn_control.h"

#include <cmath>

#include "chip/syn/syn_delay.h"

bool syn_is_number(const char* who, const char* what, double value) {
  if (!std::isnan(value)) return true;
  syn_warn(SYN_PREFIX "%s: %s is not a number!", who, what);
  return false;
}

bool syn_control_norm(const char* who, float value, float* norm) {
  if (!syn_is_number(who, "Control value", value)) return false;
  float x = value * 0.0078125f;
  if (x < 0.0f) {
    syn_warn(SYN_PREFIX "%s: Control value less than zero!", who);
    x = 0.0f;
  } else if (x > 1.0f) {
    syn_warn(SYN_PREFIX "%s: Control value greater than 128.0!", who);
    x = 1.0f;
  }
  *norm = x;
  return true;
}

long syn_waveguide_length(float lowest) {
  const double kLongest = double(Delay::kMaxDelay);
  if (!(lowest > 0.0f)) return Delay::kMaxDelay;
  const double length = std::floor(double(Syn::srate) / double(lowest) + 1.0);
  if (!(length <= kLongest)) return Delay::kMaxDelay;
  return length < 1.0 ? 1 : static_cast<long>(length);
}
