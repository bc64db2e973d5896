// Measuring what the instrument plays: the fundamental of a steady tone,
// its distance from a MIDI note in cents, and the level in dBFS. Shared by
// the in-process and the through-the-process tests.
#ifndef TESTS_CLASSES_FLUVANE_PITCH_SUPPORT_H
#define TESTS_CLASSES_FLUVANE_PITCH_SUPPORT_H

#include <algorithm>
#include <cmath>
#include <vector>

constexpr double kPitchRate = 16000.0;

// The fundamental of a steady tone (Hz), or 0 when there is none: the
// first autocorrelation peak near the strongest one gives the period
// roughly; a peak at many periods, interpolated, gives it finely.
inline double fundamental(const std::vector<double>& x) {
  const int n = static_cast<int>(x.size());
  const int maxLag = 600;
  if (n < 2 * maxLag) return 0;
  std::vector<double> r(maxLag + 2, 0.0);
  const int span = n - maxLag - 1;
  for (int lag = 0; lag <= maxLag + 1; lag++) {
    double sum = 0;
    for (int i = 0; i < span; i++) sum += x[i] * x[i + lag];
    r[lag] = sum;
  }
  if (r[0] <= 0) return 0;
  const int minLag = 4;  // 4 kHz down to 160 Hz (lag 100)
  double best = 0;
  for (int lag = minLag; lag <= 100; lag++) best = std::max(best, r[lag]);
  int coarse = 0;
  for (int lag = minLag; lag <= 100; lag++) {
    if (r[lag] >= 0.9 * best && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1]) {
      coarse = lag;
      break;
    }
  }
  if (coarse == 0 || best < 0.5 * r[0]) return 0;
  // The peak at about m periods, with m periods near 500 samples.
  const int m = std::max(1, 500 / coarse);
  double period = coarse;
  for (int k = 1; k <= m; k *= 2) {
    const int centre = static_cast<int>(std::lround(period * k));
    int peak = centre;
    for (int lag = std::max(minLag, centre - 2); lag <= std::min(maxLag, centre + 2); lag++) {
      if (r[lag] > r[peak]) peak = lag;
    }
    if (peak <= 0 || peak >= maxLag + 1) break;
    const double a = r[peak - 1], b = r[peak], c = r[peak + 1];
    const double denominator = a - 2 * b + c;
    const double offset = denominator != 0 ? 0.5 * (a - c) / denominator : 0;
    period = (peak + offset) / k;
  }
  return kPitchRate / period;
}

inline double cents(double frequency, int midi) {
  const double wanted = 440.0 * std::pow(2.0, (midi - 69) / 12.0);
  return 1200.0 * std::log2(frequency / wanted);
}

inline double rmsDbfs(const std::vector<double>& x) {
  double sum = 0;
  for (double v : x) sum += v * v;
  const double rms = std::sqrt(sum / std::max<std::size_t>(1, x.size()));
  return rms > 0 ? 20 * std::log10(rms) : -400;
}

#endif
