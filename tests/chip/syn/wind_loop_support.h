// The loop delays of the wind instruments, computed from their delay lines'
// and loop filters' coefficients, and the pitch they give: a waveguide
// loop of total phase delay D(w) samples resonates where w D(w) reaches a
// multiple of 2 pi (a loop that keeps its sign) or an odd multiple of pi
// (an inverting loop). The instruments' tests compare the pitch they
// measure with these.
#ifndef TESTS_CHIP_SYN_WIND_LOOP_SUPPORT_H
#define TESTS_CHIP_SYN_WIND_LOOP_SUPPORT_H

#include <cmath>
#include <complex>
#include <functional>
#include <vector>

#include "chip/syn/syn_delay.h"
#include "chip/syn/syn_filter.h"

namespace windloop {

// The phase delay in samples, -arg H / w, of b(z) / a(z) at w radians per
// sample (the phase unwrapped around the low-frequency delay).
inline double phase_delay(const std::vector<float>& b, const std::vector<float>& a, double w) {
  auto poly = [w](const std::vector<float>& c) {
    std::complex<double> sum = 0.0;
    for (size_t k = 0; k < c.size(); k++) sum += double(c[k]) * std::polar(1.0, -w * double(k));
    return sum;
  };
  return -std::arg(poly(b) / poly(a)) / w;
}

// A filter's phase delay (its gain's sign is the loop's business).
inline double phase_delay(const FilterSyn& f, double w) { return phase_delay(f.b, f.a, w); }

// DelayL: x[n - N] (1 - alpha) + x[n - N + 1] alpha with N = delay + alpha.
inline double phase_delay(const DelayL& line, double w) {
  const std::complex<double> h = double(line.alpha) + double(line.omAlpha) * std::polar(1.0, -w);
  return double(line.delay) + double(line.alpha) - 1.0 - std::arg(h) / w;
}

// DelayA: x[n - M] through (c + z^-1) / (1 + c z^-1) with M = delay - alpha.
inline double phase_delay(const DelayA& line, double w) {
  const std::complex<double> z = std::polar(1.0, -w);
  const std::complex<double> h = (double(line.coeff) + z) / (1.0 + double(line.coeff) * z);
  return double(line.delay) - double(line.alpha) - std::arg(h) / w;
}

// The frequency (Hz) where w D(w) = pi x halfTurns, found from `guess` by
// fixed-point iteration; D is the loop's phase delay in samples at w.
inline double resonance(const std::function<double(double)>& loopDelay, double halfTurns,
                        double guess, double srate) {
  double f = guess;
  for (int i = 0; i < 100; i++) {
    const double w = 2.0 * M_PI * f / srate;
    const double next = halfTurns * M_PI / loopDelay(w) * srate / (2.0 * M_PI);
    if (std::fabs(next - f) < 1e-9 * f) return next;
    f = next;
  }
  return f;
}

// A filter's response b(z) / a(z) x gain at w.
inline std::complex<double> response(const FilterSyn& f, double w) {
  std::complex<double> num = 0.0, den = 0.0;
  for (size_t k = 0; k < f.b.size(); k++) num += double(f.b[k]) * std::polar(1.0, -w * double(k));
  for (size_t k = 0; k < f.a.size(); k++) den += double(f.a[k]) * std::polar(1.0, -w * double(k));
  return double(f.gain) * num / den;
}

// The frequency (Hz) between 0.85 and 1.2 x guess where the loop gain
// L(w) is real and positive (its phase falls through 0) with the largest
// magnitude: the loop's strongest resonance near the guess. 0 when none.
inline double strongest_resonance(const std::function<std::complex<double>(double)>& loop,
                                  double guess, double srate) {
  const double step = guess * 1e-4;
  double best = 0.0, bestGain = -1.0, previous = 0.0;
  for (double f = 0.85 * guess; f < 1.2 * guess; f += step) {
    const std::complex<double> l = loop(2.0 * M_PI * f / srate);
    const double phase = std::arg(l);
    if (f > 0.85 * guess && previous > 0.0 && phase <= 0.0 && previous - phase < 1.0 &&
        std::abs(l) > bestGain) {
      bestGain = std::abs(l);
      best = f - step * phase / (phase - previous);  // where the phase line meets 0
    }
    previous = phase;
  }
  return best;
}

}  // namespace windloop

#endif
