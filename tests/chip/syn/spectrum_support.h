// Spectral measurements for the toolkit's instrument tests: a radix-2 FFT,
// an averaged (Welch) power spectrum with a Hann window, the strongest
// frequency in a band, the DTFT magnitude at one frequency, and the
// fundamental by autocorrelation.
#ifndef TESTS_CHIP_SYN_SPECTRUM_SUPPORT_H
#define TESTS_CHIP_SYN_SPECTRUM_SUPPORT_H

#include <cmath>
#include <complex>
#include <vector>

namespace spectrum {

inline void fft(std::vector<std::complex<double>>& a) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; i++) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double angle = -2.0 * M_PI / double(len);
    const std::complex<double> w(std::cos(angle), std::sin(angle));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> wn(1.0);
      for (size_t k = 0; k < len / 2; k++) {
        const auto u = a[i + k], v = a[i + k + len / 2] * wn;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        wn *= w;
      }
    }
  }
}

// The mean power of segments of n samples (a power of two) with a Hann
// window; bins 0..n/2.
inline std::vector<double> averaged_power(const std::vector<float>& x, size_t n) {
  std::vector<double> power(n / 2 + 1, 0.0);
  std::vector<std::complex<double>> frame(n);
  for (size_t start = 0; start + n <= x.size(); start += n / 2) {
    for (size_t i = 0; i < n; i++) {
      const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * double(i) / double(n));
      frame[i] = w * double(x[start + i]);
    }
    fft(frame);
    for (size_t k = 0; k <= n / 2; k++) power[k] += std::norm(frame[k]);
  }
  return power;
}

// power averaged over 2 half + 1 neighbouring bins (a smoother estimate of
// a broad peak).
inline std::vector<double> smoothed(const std::vector<double>& power, size_t half) {
  std::vector<double> out(power.size(), 0.0);
  for (size_t k = half; k + half < power.size(); k++) {
    for (size_t i = k - half; i <= k + half; i++) out[k] += power[i];
  }
  return out;
}

// The frequency (Hz, refined by a parabola through the top three bins) of
// the strongest bin between low and high Hz.
inline double peak_in_band(const std::vector<double>& power, size_t n, double srate, double low,
                           double high) {
  const double hz = srate / double(n);
  size_t best = size_t(low / hz) + 1;
  for (size_t k = best; k <= size_t(high / hz) && k + 1 < power.size(); k++) {
    if (power[k] > power[best]) best = k;
  }
  const double a = std::log(power[best - 1] + 1e-300), b = std::log(power[best] + 1e-300),
               c = std::log(power[best + 1] + 1e-300);
  const double denominator = a - 2.0 * b + c;
  const double offset = denominator != 0.0 ? 0.5 * (a - c) / denominator : 0.0;
  return (double(best) + offset) * hz;
}

// |sum x[n] w[n] e^{-j 2 pi f n / srate}| with a Hann window.
inline double dtft_magnitude(const std::vector<float>& x, double f, double srate) {
  std::complex<double> sum = 0.0;
  const double n = double(x.size());
  for (size_t i = 0; i < x.size(); i++) {
    const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * double(i) / n);
    const double phase = -2.0 * M_PI * f * double(i) / srate;
    sum += w * double(x[i]) * std::complex<double>(std::cos(phase), std::sin(phase));
  }
  return std::abs(sum);
}

// The frequency in [0.98 f, 1.02 f] where the DTFT is strongest (a grid of
// 0.01 % steps).
inline double dtft_peak_near(const std::vector<float>& x, double f, double srate) {
  double best = f, best_mag = -1.0;
  for (int k = -200; k <= 200; k++) {
    const double g = f * (1.0 + 0.0001 * k);
    const double m = dtft_magnitude(x, g, srate);
    if (m > best_mag) {
      best_mag = m;
      best = g;
    }
  }
  return best;
}

// The fundamental of a periodic signal expected near f: the autocorrelation
// peak between periods 0.7 and 1.4 of the expected one, refined by a
// parabola.
inline double fundamental(const std::vector<float>& x, double f, double srate) {
  const size_t low = size_t(srate / f / 1.4), high = size_t(srate / f / 0.7) + 1;
  const size_t count = x.size() - high - 1;
  auto r = [&](size_t lag) {
    double sum = 0.0;
    for (size_t i = 0; i < count; i++) sum += double(x[i]) * x[i + lag];
    return sum;
  };
  size_t best = low;
  double best_r = r(low);
  for (size_t lag = low + 1; lag <= high; lag++) {
    const double v = r(lag);
    if (v > best_r) {
      best_r = v;
      best = lag;
    }
  }
  const double a = r(best - 1), b = best_r, c = r(best + 1);
  const double denominator = a - 2.0 * b + c;
  const double offset = denominator != 0.0 ? 0.5 * (a - c) / denominator : 0.0;
  return srate / (double(best) + offset);
}

}  // namespace spectrum

#endif
