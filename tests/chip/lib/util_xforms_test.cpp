// The transform routines: windows, cosine transform, complex and real FFT.
// Every oracle is computed here in long double from the definitions (the
// direct DFT and DCT sums, the closed forms of the windows); tolerances are
// relative to the largest value of the true result.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "chip/lib/util_xforms.h"

namespace {

typedef long double Real;
typedef std::complex<Real> Complex;

const Real kPiL = 3.141592653589793238462643383279502884L;

std::vector<float> random_samples(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> x(n);
  for (float& v : x) v = dist(gen);
  return x;
}

// The M roots e^(sign 2 pi i j / M), j < M.
std::vector<Complex> roots(size_t m, int sign) {
  std::vector<Complex> r(m);
  for (size_t j = 0; j < m; j++) {
    const Real angle = sign * 2.0L * kPiL * static_cast<Real>(j) / static_cast<Real>(m);
    r[j] = Complex(std::cos(angle), std::sin(angle));
  }
  return r;
}

// X[k] = sum over n of x[n] e^(sign 2 pi i k n / M) for the bins k listed.
std::vector<Complex> dft_bins(const std::vector<Complex>& x, int sign,
                              const std::vector<size_t>& bins) {
  const size_t m = x.size();
  const std::vector<Complex> r = roots(m, sign);
  std::vector<Complex> out;
  for (size_t k : bins) {
    Complex sum = 0.0L;
    for (size_t n = 0; n < m; n++) sum += x[n] * r[(k * n) % m];
    out.push_back(sum);
  }
  return out;
}

std::vector<Complex> dft(const std::vector<Complex>& x, int sign) {
  std::vector<size_t> all(x.size());
  for (size_t k = 0; k < all.size(); k++) all[k] = k;
  return dft_bins(x, sign, all);
}

std::vector<Complex> as_complex(const std::vector<float>& x) {
  return std::vector<Complex>(x.begin(), x.end());
}

Real peak(const std::vector<Complex>& x) {
  Real p = 0.0L;
  for (const Complex& v : x) p = std::max(p, std::abs(v));
  return p;
}

// ---------------------------------------------------------------------------
// Real FFT

TEST(RealFftTest, ForwardIsTheConjugateDftOverMPackedWithNyquistInBinZero) {
  for (size_t m = 2; m <= 65536; m *= 2) {
    SCOPED_TRACE(m);
    std::vector<float> s = random_samples(m, static_cast<unsigned>(m));
    std::vector<float> x = s;
    rfft(x.data(), static_cast<long>(m / 2), 1);

    // Bins 0 .. M/2 (M/2 is the Nyquist bin); the direct sum is O(M) per
    // bin, so above 4096 points the ends and every 97th bin are checked.
    std::vector<size_t> bins;
    for (size_t k = 0; k <= m / 2; k++) {
      if (m <= 4096 || k < 8 || k + 8 > m / 2 || k % 97 == 0) bins.push_back(k);
    }
    // e^(+2 pi i k n / M) / M: the conjugate of the usual DFT, over M.
    std::vector<Complex> want = dft_bins(as_complex(s), +1, bins);
    for (Complex& v : want) v /= static_cast<Real>(m);
    const double tol = static_cast<double>(1e-5L * peak(want));

    for (size_t b = 0; b < bins.size(); b++) {
      const size_t k = bins[b];
      const double re = static_cast<double>(want[b].real());
      const double im = static_cast<double>(want[b].imag());
      if (k == 0) {
        EXPECT_NEAR(x[0], re, tol);  // DC
      } else if (k == m / 2) {
        EXPECT_NEAR(x[1], re, tol);  // Nyquist, in bin 0's imaginary slot
      } else {
        ASSERT_NEAR(x[2 * k], re, tol) << k;
        ASSERT_NEAR(x[2 * k + 1], im, tol) << k;
      }
    }
  }
}

TEST(RealFftTest, InverseGivesTheSamplesBackAndParsevalHolds) {
  for (size_t m : {2u, 8u, 64u, 1024u, 65536u}) {
    SCOPED_TRACE(m);
    std::vector<float> s = random_samples(m, 7u + static_cast<unsigned>(m));
    std::vector<float> x = s;
    rfft(x.data(), static_cast<long>(m / 2), 1);

    // Parseval with the packing: sum s^2 / M = DC^2 + Nyquist^2 + 2 sum |X_k|^2
    // over 1 <= k < M/2 (each of those bins stands for itself and its mirror),
    // all of it scaled by M because the bins carry 1/M.
    Real energy = 0.0L;
    for (float v : s) energy += static_cast<Real>(v) * v;
    Real bins = static_cast<Real>(x[0]) * x[0] + static_cast<Real>(x[1]) * x[1];
    for (size_t k = 1; k < m / 2; k++) {
      bins += 2.0L * (static_cast<Real>(x[2 * k]) * x[2 * k] +
                      static_cast<Real>(x[2 * k + 1]) * x[2 * k + 1]);
    }
    EXPECT_NEAR(static_cast<double>(bins * m), static_cast<double>(energy),
                static_cast<double>(1e-5L * energy));

    rfft(x.data(), static_cast<long>(m / 2), 0);
    for (size_t n = 0; n < m; n++) ASSERT_NEAR(x[n], s[n], 1e-5) << n;
  }
}

TEST(RealFftTest, ConstantAndAlternatingInputsLandInBinZero) {
  std::vector<float> ones(8, 1.0f);
  rfft(ones.data(), 4, 1);
  EXPECT_NEAR(ones[0], 1.0, 1e-7);
  for (size_t i = 1; i < 8; i++) EXPECT_NEAR(ones[i], 0.0, 1e-7) << i;

  std::vector<float> alt = {1, -1, 1, -1, 1, -1, 1, -1};
  rfft(alt.data(), 4, 1);
  EXPECT_NEAR(alt[1], 1.0, 1e-7);
  for (size_t i : {0u, 2u, 3u, 4u, 5u, 6u, 7u}) EXPECT_NEAR(alt[i], 0.0, 1e-7) << i;
}

TEST(RealFftTest, ACountBelowOneTransformsNothing) {
  // Guards around the array catch any write outside it.
  for (long n : {0L, -1L, -1024L}) {
    for (unsigned forward : {0u, 1u}) {
      float x[2] = {3.0f, 5.0f};
      rfft(x, n, forward);
      EXPECT_EQ(x[0], 3.0f);
      EXPECT_EQ(x[1], 5.0f);
      cfft(x, n, forward);
      EXPECT_EQ(x[0], 3.0f);
      EXPECT_EQ(x[1], 5.0f);
    }
  }
}

// ---------------------------------------------------------------------------
// Complex FFT

TEST(ComplexFftTest, ForwardMatchesThePositiveKernelDftAndInverseUndoesIt) {
  // The complex FFT works as the process's first transform (each test case
  // runs in a process of its own): it needs nothing that a real FFT sets up.
  for (size_t nc : {1u, 2u, 4u, 16u, 256u, 2048u}) {
    SCOPED_TRACE(nc);
    std::vector<float> raw = random_samples(2 * nc, 99u + static_cast<unsigned>(nc));
    std::vector<Complex> values(nc);
    for (size_t k = 0; k < nc; k++) values[k] = Complex(raw[2 * k], raw[2 * k + 1]);
    std::vector<Complex> want = dft(values, +1);
    for (Complex& v : want) v /= static_cast<Real>(2 * nc);
    const Real tol = 1e-5L * peak(want);

    std::vector<float> x = raw;
    cfft(x.data(), static_cast<long>(nc), 1);
    for (size_t k = 0; k < nc; k++) {
      ASSERT_NEAR(x[2 * k], static_cast<double>(want[k].real()), static_cast<double>(tol)) << k;
      ASSERT_NEAR(x[2 * k + 1], static_cast<double>(want[k].imag()), static_cast<double>(tol))
          << k;
    }
    // The inverse (kernel e^(-i ...), scaled by 2) of the forward result is
    // the input scaled by NC / NC: the input itself.
    cfft(x.data(), static_cast<long>(nc), 0);
    for (size_t i = 0; i < 2 * nc; i++) ASSERT_NEAR(x[i], raw[i], 1e-5) << i;
  }
}

// ---------------------------------------------------------------------------
// Windows

TEST(WindowTest, CosineWindowsFollowTheirPeriodicClosedForms) {
  struct Case {
    const char* name;
    void (*fill)(float[], unsigned long);
    Real a0, a1, a2;
  } cases[] = {{"hann", hanning, 0.5L, 0.5L, 0.0L},
               {"hamming", hamming, 0.54L, 0.46L, 0.0L},
               {"blackman", blackman, 0.42L, 0.5L, 0.08L}};
  for (const Case& c : cases) {
    for (unsigned long n : {1ul, 2ul, 4ul, 7ul, 512ul}) {
      SCOPED_TRACE(std::string(c.name) + " " + std::to_string(n));
      std::vector<float> w(n + 1, -7.0f);
      c.fill(w.data(), n);
      for (unsigned long i = 0; i < n; i++) {
        const Real t = 2.0L * kPiL * i / n;
        const Real want = c.a0 - c.a1 * std::cos(t) + c.a2 * std::cos(2.0L * t);
        ASSERT_NEAR(w[i], static_cast<double>(want), 1e-7) << i;
      }
      EXPECT_EQ(w[n], -7.0f);  // nothing past N
    }
  }
  // The small tables, and hann windows at half overlap summing to 1.
  float w[4];
  hanning(w, 4);
  EXPECT_NEAR(w[0], 0.0, 1e-7);
  EXPECT_NEAR(w[1], 0.5, 1e-7);
  EXPECT_NEAR(w[2], 1.0, 1e-7);
  EXPECT_NEAR(w[3], 0.5, 1e-7);
  hamming(w, 4);
  EXPECT_NEAR(w[0], 0.08, 1e-7);
  EXPECT_NEAR(w[1], 0.54, 1e-7);
  EXPECT_NEAR(w[2], 1.0, 1e-7);
  EXPECT_NEAR(w[3], 0.54, 1e-7);
  std::vector<float> h(64);
  hanning(h.data(), 64);
  for (size_t i = 0; i < 32; i++) EXPECT_NEAR(h[i] + h[i + 32], 1.0, 1e-6) << i;
}

TEST(WindowTest, BartlettTablesAndZeroLengthWritesNothing) {
  std::vector<float> w4(4);
  bartlett(w4.data(), 4);
  EXPECT_EQ(w4, (std::vector<float>{0.0f, 0.5f, 1.0f, 0.5f}));
  std::vector<float> w5(5);
  bartlett(w5.data(), 5);
  const float want5[] = {0.0f, 0.4f, 0.8f, 0.8f, 0.4f};
  for (size_t i = 0; i < 5; i++) EXPECT_FLOAT_EQ(w5[i], want5[i]) << i;

  void (*fills[])(float[], unsigned long) = {hanning, hamming, blackman, bartlett};
  for (auto fill : fills) {
    float guard = -3.0f;
    fill(&guard, 0);
    EXPECT_EQ(guard, -3.0f);
  }
  float data[3] = {1.0f, 2.0f, 3.0f};
  const float win[3] = {0.5f, 0.0f, 2.0f};
  apply_window(data, win, 2);
  EXPECT_EQ(data[0], 0.5f);
  EXPECT_EQ(data[1], 0.0f);
  EXPECT_EQ(data[2], 3.0f);  // past N: untouched
}

// ---------------------------------------------------------------------------
// Cosine transform

struct Matrix {
  explicit Matrix(size_t n) : cells(n * n), rows(n) {
    for (size_t i = 0; i < n; i++) rows[i] = cells.data() + i * n;
  }
  std::vector<float> cells;
  std::vector<float*> rows;
};

TEST(DctTest, ForwardIsTheDirectDctSumAndTheInverseGivesTheInputBack) {
  for (size_t n : {1u, 7u, 100u, 512u}) {
    SCOPED_TRACE(n);
    std::vector<float> x = random_samples(n, 31u + static_cast<unsigned>(n));
    Matrix d(n), e(n);
    the_dct_matrix(d.rows.data(), n);
    the_inverse_dct_matrix(e.rows.data(), n);

    std::vector<Real> want(n);
    Real top = 0.0L;
    for (size_t k = 0; k < n; k++) {
      Real sum = 0.0L;
      for (size_t i = 0; i < n; i++) sum += x[i] * std::cos(kPiL * k * (i + 0.5L) / n);
      want[k] = sum;
      top = std::max(top, std::fabs(sum));
    }
    std::vector<float> X(n + 1, -9.0f);
    the_dct_now(x.data(), d.rows.data(), n, X.data(), n);
    for (size_t k = 0; k < n; k++) {
      ASSERT_NEAR(X[k], static_cast<double>(want[k]), static_cast<double>(1e-5L * top)) << k;
    }
    EXPECT_EQ(X[n], -9.0f);

    std::vector<float> back(n, -9.0f);
    the_inverse_dct_now(X.data(), e.rows.data(), n, back.data(), n);
    for (size_t i = 0; i < n; i++) ASSERT_NEAR(back[i], x[i], 1e-5) << i;
  }
}

TEST(DctTest, OnesGiveNInCoefficientZeroAndFewerOutputsStopEarly) {
  const size_t n = 8;
  Matrix d(n);
  the_dct_matrix(d.rows.data(), n);
  std::vector<float> ones(n, 1.0f);
  std::vector<float> X(n, -1.0f);
  the_dct_now(ones.data(), d.rows.data(), n, X.data(), 3);
  EXPECT_NEAR(X[0], 8.0, 1e-6);
  EXPECT_NEAR(X[1], 0.0, 1e-6);
  EXPECT_NEAR(X[2], 0.0, 1e-6);
  EXPECT_EQ(X[3], -1.0f);  // past Nout: untouched
  // N = 0 writes nothing.
  float guard = -2.0f;
  the_dct_now(ones.data(), d.rows.data(), 0, &guard, 0);
  the_inverse_dct_now(ones.data(), d.rows.data(), 0, &guard, 0);
  EXPECT_EQ(guard, -2.0f);
}

}  // namespace
