#include "chip/lib/util_xforms.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace {

// Constants from the start (never set on first use): cfft may be the first
// routine a caller runs.
const double kPi = std::numbers::pi;
const double kTwoPi = 6.283185307179586;

// The recurrence step of the twiddle factor (wr, wi) by the angle whose
// (cos - 1, sin) are (wpr, wpi).
inline void advance(double& wr, double& wi, double wpr, double wpi) {
  const double old = wr;
  wr = wr * wpr - wi * wpi + wr;
  wi = wi * wpr + old * wpi + wi;
}

// The raised-cosine windows: a0 - a1 cos t + a2 cos 2t.
void cosine_window(float window[], unsigned long N, double a0, double a1, double a2) {
  const double step = kTwoPi / static_cast<double>(N);
  for (unsigned long i = 0; i < N; i++) {
    const double t = step * static_cast<double>(i);
    window[i] = static_cast<float>(a0 - a1 * std::cos(t) + a2 * std::cos(2.0 * t));
  }
}

}  // namespace

extern "C" {

void hanning(float window[], unsigned long N) { cosine_window(window, N, 0.5, 0.5, 0.0); }

void hamming(float window[], unsigned long N) { cosine_window(window, N, 0.54, 0.46, 0.0); }

void blackman(float window[], unsigned long N) { cosine_window(window, N, 0.42, 0.5, 0.08); }

void bartlett(float window[], unsigned long N) {
  const float h = static_cast<float>(N) * 0.5f;
  for (unsigned long i = 0; i < N; i++) {
    const float fi = static_cast<float>(i);
    window[i] = fi < h ? fi / h : (static_cast<float>(N) - fi) / h;
  }
}

void apply_window(float data[], const float window[], unsigned long N) {
  for (unsigned long i = 0; i < N; i++) data[i] *= window[i];
}

void the_dct_matrix(float* D[], unsigned long N) {
  const double n_total = static_cast<double>(N);
  for (unsigned long k = 0; k < N; k++) {
    for (unsigned long n = 0; n < N; n++) {
      D[k][n] = static_cast<float>(
          std::cos(kPi * static_cast<double>(k) * (static_cast<double>(n) + 0.5) / n_total));
    }
  }
}

void the_dct_now(const float x_in[], float* const D[], unsigned long N, float X_out[],
                 unsigned long Nout) {
  if (Nout > N) Nout = N;
  for (unsigned long k = 0; k < Nout; k++) {
    const float* row = D[k];
    double sum = 0.0;
    for (unsigned long n = 0; n < N; n++) sum += static_cast<double>(x_in[n]) * row[n];
    X_out[k] = static_cast<float>(sum);
  }
}

void the_inverse_dct_matrix(float* E[], unsigned long N) {
  const double n_total = static_cast<double>(N);
  for (unsigned long n = 0; n < N; n++) {
    for (unsigned long k = 0; k < N; k++) {
      E[n][k] = static_cast<float>(
          std::cos((static_cast<double>(n) + 0.5) * static_cast<double>(k) * kPi / n_total));
    }
  }
}

void the_inverse_dct_now(const float X_in[], float* const E[], unsigned long N, float x_out[],
                         unsigned long Nout) {
  if (Nout > N) Nout = N;
  const double scale = N ? 2.0 / static_cast<double>(N) : 0.0;
  for (unsigned long n = 0; n < Nout; n++) {
    const float* row = E[n];
    double sum = 0.5 * static_cast<double>(X_in[0]) * row[0];
    for (unsigned long k = 1; k < N; k++) sum += static_cast<double>(X_in[k]) * row[k];
    x_out[n] = static_cast<float>(scale * sum);
  }
}

void cfft(float x[], long NC, unsigned forward) {
  if (NC < 1) return;
  const long ND = NC << 1;

  // Bit-reversal permutation of the complex values.
  for (long i = 0, j = 0; i < ND; i += 2) {
    if (j > i) {
      std::swap(x[j], x[i]);
      std::swap(x[j + 1], x[i + 1]);
    }
    long m = ND >> 1;
    while (m >= 2 && j >= m) {
      j -= m;
      m >>= 1;
    }
    j += m;
  }

  // Butterfly passes.
  for (long mmax = 2; mmax < ND; mmax <<= 1) {
    const long step = mmax << 1;
    const double angle = kTwoPi / static_cast<double>(forward ? mmax : -mmax);
    const double half = std::sin(0.5 * angle);
    const double wpr = -2.0 * half * half;
    const double wpi = std::sin(angle);
    double wr = 1.0;
    double wi = 0.0;
    for (long m = 0; m < mmax; m += 2) {
      for (long i = m; i < ND; i += step) {
        const long j = i + mmax;
        const double tr = wr * x[j] - wi * x[j + 1];
        const double ti = wr * x[j + 1] + wi * x[j];
        x[j] = static_cast<float>(x[i] - tr);
        x[j + 1] = static_cast<float>(x[i + 1] - ti);
        x[i] = static_cast<float>(x[i] + tr);
        x[i + 1] = static_cast<float>(x[i + 1] + ti);
      }
      advance(wr, wi, wpr, wpi);
    }
  }

  const float scale = forward ? 1.0f / static_cast<float>(ND) : 2.0f;
  for (long i = 0; i < ND; i++) x[i] *= scale;
}

void rfft(float x[], long N, unsigned forward) {
  if (N < 1) return;
  const double c1 = 0.5;
  double c2;
  double angle = kPi / static_cast<double>(N);
  double xr;
  double xi;
  if (forward) {
    c2 = -0.5;
    cfft(x, N, forward);
    xr = x[0];
    xi = x[1];
  } else {
    c2 = 0.5;
    angle = -angle;
    xr = x[1];
    xi = 0.0;
    x[1] = 0.0f;
  }
  const double half = std::sin(0.5 * angle);
  const double wpr = -2.0 * half * half;
  const double wpi = std::sin(angle);
  double wr = 1.0;
  double wi = 0.0;
  const long N2 = N << 1;
  for (long i = 0; i <= (N >> 1); i++) {
    const long i1 = i << 1;
    const long i2 = i1 + 1;
    const long i3 = N2 + 1 - i2;
    const long i4 = i3 + 1;
    // Bin 0 pairs with the value saved above (its mirror would lie past the
    // array).
    const double ar = i == 0 ? xr : x[i3];
    const double ai = i == 0 ? xi : x[i4];
    const double h1r = c1 * (x[i1] + ar);
    const double h1i = c1 * (x[i2] - ai);
    const double h2r = -c2 * (x[i2] + ai);
    const double h2i = c2 * (x[i1] - ar);
    x[i1] = static_cast<float>(h1r + wr * h2r - wi * h2i);
    x[i2] = static_cast<float>(h1i + wr * h2i + wi * h2r);
    const double mr = h1r - wr * h2r + wi * h2i;
    const double mi = -h1i + wr * h2i + wi * h2r;
    if (i == 0) {
      xr = mr;
      xi = mi;
    } else {
      x[i3] = static_cast<float>(mr);
      x[i4] = static_cast<float>(mi);
    }
    advance(wr, wi, wpr, wpi);
  }
  if (forward) {
    x[1] = static_cast<float>(xr);
  } else {
    cfft(x, N, forward);
  }
}

}
