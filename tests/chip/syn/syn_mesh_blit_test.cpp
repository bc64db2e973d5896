// The waveguide mesh and the band-limited oscillators on their own: the
// mesh's closed forms, energy conservation at every junction and over long
// runs, its clamps and hostile input; the impulse train's exact spectrum,
// the sawtooth's and square's harmonics through their integrators, the
// order rule, phases and frequencies that are out of range.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "chip/syn/syn.h"
#include "chip/syn/syn_blit.h"
#include "chip/syn/syn_mesh.h"
#include "log_capture.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();
const double kPi = 3.141592653589793;

// What the engine printed while it lives.
class LogCapture {
 public:
  LogCapture() {
    static const EM_Sink sink{log_capture::vlogf, log_capture::flush};
    std::lock_guard<std::mutex> guard(log_capture::lock());
    log_capture::text().clear();
    EM_set_sink(&sink);
  }
  ~LogCapture() { EM_set_sink(nullptr); }
  std::string text() const {
    std::lock_guard<std::mutex> guard(log_capture::lock());
    return log_capture::text();
  }
};

class MeshBlitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = Syn::srate;
    Syn::srate = 44100.0f;
  }
  void TearDown() override { Syn::srate = saved; }
  float saved = 44100.0f;
};

// ---------------------------------------------------------------------------
// Mesh2D

TEST_F(MeshBlitTest, TwoByTwoMeshClosedForms) {
  for (float a : {1.0f, 0.25f, -3.0f}) {
    Mesh2D mesh(2, 2);
    EXPECT_EQ(mesh.energy(), 0.0);
    mesh.noteOn(440.0f, a);
    EXPECT_FLOAT_EQ(float(mesh.energy()), 2.0f * a * a);
    EXPECT_EQ(mesh.tick(), 0.0f);
    EXPECT_FLOAT_EQ(mesh.tick(), 2.0f * a);
  }
  // The language's step: the input is struck in before the step.
  Mesh2D mesh(2, 2);
  EXPECT_EQ(mesh.tick(0.5f), 0.0f);
  EXPECT_FLOAT_EQ(mesh.tick(0.0f), 1.0f);
}

TEST_F(MeshBlitTest, EveryJunctionConservesEnergy) {
  Mesh2D mesh(7, 5);
  std::srand(7);
  for (auto& direction : mesh.waves[0]) {
    for (auto& row : direction) {
      for (float& w : row) w = float(double(std::rand()) / RAND_MAX - 0.5);
    }
  }
  const auto before = mesh.waves[0];
  mesh.tick();
  const auto& after = mesh.waves[1];
  enum { XP = Mesh2D::XP, XM = Mesh2D::XM, YP = Mesh2D::YP, YM = Mesh2D::YM };
  for (int x = 0; x < mesh.NX - 1; x++) {
    for (int y = 0; y < mesh.NY - 1; y++) {
      const double in = std::pow(before[XP][x][y], 2) + std::pow(before[XM][x + 1][y], 2) +
                        std::pow(before[YP][x][y], 2) + std::pow(before[YM][x][y + 1], 2);
      const double out = std::pow(after[XP][x + 1][y], 2) + std::pow(after[YP][x][y + 1], 2) +
                         std::pow(after[XM][x][y], 2) + std::pow(after[YM][x][y], 2);
      EXPECT_NEAR(out, in, 1e-5 * (1.0 + in)) << x << "," << y;
    }
  }
}

TEST_F(MeshBlitTest, EnergyStaysBoundedAndDecays) {
  for (float decay : {1.0f, 0.9f}) {
    SCOPED_TRACE(decay);
    Mesh2D mesh(12, 12);
    mesh.setDecay(decay);
    mesh.setInputPosition(0.5f, 0.3f);
    mesh.noteOn(0.0f, 1.0f);
    const double start = mesh.energy();
    double highest = start, first = 0.0, last = 0.0;
    for (int i = 0; i < 100000; i++) {
      const float y = mesh.tick();
      ASSERT_TRUE(std::isfinite(y));
      highest = std::max(highest, mesh.energy());
      if (i < 2000) first = std::max(first, double(std::fabs(y)));
      if (i >= 99000) last = std::max(last, double(std::fabs(y)));
    }
    // The boundary filters are passive: never more than what went in.
    EXPECT_LE(highest, start * (1.0 + 1e-4));
    if (decay < 1.0f) {
      // The sound dies away. Patterns whose junctions all sum to zero
      // bounce between neighbours without reaching the lossy edges, so part
      // of the energy stays.
      EXPECT_LT(last, 1e-5 * first);
      EXPECT_LT(mesh.energy(), 0.5 * start);
    }
  }
}

TEST_F(MeshBlitTest, MeshClampsAndControls) {
  LogCapture log;
  Mesh2D mesh(2, 2);
  mesh.setNX(1);
  EXPECT_EQ(mesh.NX, 2);
  mesh.setNX(13);
  EXPECT_EQ(mesh.NX, 12);
  mesh.setNY(65547);  // not narrowed to 11 on the way
  EXPECT_EQ(mesh.NY, 12);
  mesh.setNX(5);
  mesh.setNY(5);
  mesh.setInputPosition(1.0f, 0.5f);
  EXPECT_EQ(mesh.xInput, 4);
  EXPECT_EQ(mesh.yInput, 2);
  mesh.setInputPosition(-0.1f, 0.5f);
  EXPECT_EQ(mesh.xInput, 0);
  mesh.setInputPosition(kNaN, 0.5f);
  EXPECT_EQ(mesh.xInput, 0);
  mesh.setInputPosition(kInf, -kInf);
  EXPECT_EQ(mesh.xInput, 4);
  EXPECT_EQ(mesh.yInput, 0);
  mesh.controlChange(2, 128.0f);
  EXPECT_EQ(mesh.NX, 12);
  mesh.controlChange(2, 0.0f);
  EXPECT_EQ(mesh.NX, 2);
  mesh.controlChange(11, 0.0f);
  EXPECT_FLOAT_EQ(mesh.filterX[3].getGain(), 0.9f);
  mesh.controlChange(1, 1e30f);
  mesh.controlChange(128, 64.0f);
  mesh.controlChange(5, 64.0f);
  EXPECT_EQ(log.text(),
            "[chip](via SYN): Mesh2D::setNX(1): Minimum length is 2!\n"
            "[chip](via SYN): Mesh2D::setNX(13): Maximum length is 12!\n"
            "[chip](via SYN): Mesh2D::setNY(65547): Maximum length is 12!\n"
            "[chip](via SYN): Mesh2D::setInputPosition xFactor value is less than 0.0!\n"
            "[chip](via SYN): Mesh2D::setInputPosition argument is not a number, ignored!\n"
            "[chip](via SYN): Mesh2D::setInputPosition xFactor value is greater than 1.0!\n"
            "[chip](via SYN): Mesh2D::setInputPosition yFactor value is less than 0.0!\n"
            "[chip](via SYN): Mesh2D: Control value greater than 128.0!\n"
            "[chip](via SYN): Mesh2D: Undefined Control Number (5)!!\n");
}

TEST_F(MeshBlitTest, NonFiniteInputCannotPoisonTheMesh) {
  const float hostile[] = {-1e30f, -1.0f, 0.0f, 0.5f, 1.0f, 2.0f, 1e30f, kNaN, kInf, -kInf};
  LogCapture log;
  Mesh2D mesh(6, 6);
  for (float v : hostile) {
    mesh.tick(v);
    mesh.noteOn(v, v);
    mesh.setDecay(v);
    mesh.setInputPosition(v, v);
    mesh.controlChange(1, v);
    mesh.controlChange(2, v);
    mesh.controlChange(11, v);
    for (int i = 0; i < 200; i++) ASSERT_TRUE(std::isfinite(mesh.tick()));
    ASSERT_TRUE(std::isfinite(mesh.energy()));
  }
  // Back to normal: the 2 x 2 closed form on a cleared mesh.
  mesh.clearMesh();
  mesh.setNX(2);
  mesh.setNY(2);
  mesh.setInputPosition(0.0f, 0.0f);
  mesh.noteOn(0.0f, 1.0f);
  mesh.tick();
  EXPECT_FLOAT_EQ(mesh.tick(), 2.0f);
}

// ---------------------------------------------------------------------------
// Blit

// The DFT of x at bin k, divided by the length (a real signal's harmonic
// of amplitude A shows as A / 2).
std::complex<double> bin(const std::vector<float>& x, size_t k) {
  std::complex<double> sum = 0.0;
  const double n = double(x.size());
  for (size_t i = 0; i < x.size(); i++) {
    sum += double(x[i]) * std::polar(1.0, -2.0 * kPi * double(k) * double(i) / n);
  }
  return sum / n;
}

TEST_F(MeshBlitTest, BlitPeriodHasTheSincSpectrum) {
  const size_t period = 99;  // odd and whole
  for (unsigned harmonics : {0u, 10u, 30u}) {
    SCOPED_TRACE(harmonics);
    Blit blit(44100.0f / float(period));
    blit.setHarmonics(harmonics);
    const unsigned m = harmonics ? 2 * harmonics + 1 : unsigned(period);
    EXPECT_EQ(blit.m, m);
    std::vector<float> y(period);
    for (float& v : y) v = blit.tick();
    EXPECT_FLOAT_EQ(y[0], 1.0f);
    EXPECT_NEAR(bin(y, 0).real(), 1.0 / m, 1e-6);
    for (size_t k = 1; k <= period / 2; k++) {
      const double amplitude = 2.0 * std::abs(bin(y, k));
      if (k <= (m - 1) / 2) {
        EXPECT_NEAR(amplitude, 2.0 / m, 1e-5) << k;
      } else {
        EXPECT_LT(20.0 * std::log10(amplitude + 1e-30), -100.0) << k;
      }
    }
  }
}

// Harmonic k's amplitude over whole periods after the transient, for a
// period of p samples.
double harmonic(const std::vector<float>& y, size_t p, size_t k) {
  return 2.0 * std::abs(bin(y, k * y.size() / p));
}

TEST_F(MeshBlitTest, BlitSawHarmonicsFallAsOneOverK) {
  const size_t p = 100;
  BlitSaw saw(441.0f);
  for (int i = 0; i < 20000; i++) saw.tick();
  std::vector<float> y(p * 20);
  for (float& v : y) v = saw.tick();
  for (size_t k = 1; k <= 12; k++) {
    // The unipolar train has harmonics 2 / P; the leaky integrator
    // 1 / (1 - 0.995 z^-1) shapes them.
    const double w = 2.0 * kPi * double(k) / double(p);
    const double expected = (2.0 / double(p)) / std::abs(1.0 - 0.995 * std::polar(1.0, -w));
    EXPECT_NEAR(harmonic(y, p, k), expected, expected * 0.01) << k;
    // Which is close to the ideal sawtooth's 1 / (pi k).
    EXPECT_NEAR(harmonic(y, p, k) * kPi * double(k), 1.0, 0.15) << k;
  }
}

TEST_F(MeshBlitTest, BlitSquareHasOddHarmonicsOverK) {
  const size_t p = 100;  // the full period; half of it is BlitSquare's P
  BlitSquare square(441.0f);
  EXPECT_EQ(square.m, 50u);
  for (int i = 0; i < 30000; i++) square.tick();
  std::vector<float> y(p * 20);
  for (float& v : y) v = square.tick();
  double odd = 0.0;
  for (size_t k = 1; k <= 12; k++) {
    const double measured = harmonic(y, p, k);
    if (k % 2 == 1) {
      // The bipolar train's odd harmonics, 2 / P, through the integrator and
      // the DC blocker together: 1 / (1 - 0.999 z^-1).
      const double w = 2.0 * kPi * double(k) / double(p);
      const double expected = (2.0 / 50.0) / std::abs(1.0 - 0.999 * std::polar(1.0, -w));
      EXPECT_NEAR(measured, expected, expected * 0.01) << k;
      odd = std::max(odd, measured);
    } else {
      EXPECT_LT(measured, 1e-3 * odd + 1e-6) << k;
    }
  }
}

TEST_F(MeshBlitTest, OrderRuleAndFirstSamples) {
  Blit blit;  // 220 Hz: P = 200.45, M = 2 * 100 + 1
  EXPECT_EQ(blit.m, 201u);
  blit.setHarmonics(5);
  EXPECT_EQ(blit.m, 11u);
  blit.setHarmonics(0);
  EXPECT_EQ(blit.m, 201u);
  blit.setFrequency(30000.0f);  // above Nyquist: M = 1
  EXPECT_EQ(blit.m, 1u);
  BlitSaw saw;
  EXPECT_FLOAT_EQ(saw.tick(), saw.a - saw.c2);
  saw.setHarmonics(3);
  EXPECT_FLOAT_EQ(saw.state, -0.5f * 7.0f / saw.p);
  const float state = saw.state;
  saw.setFrequency(300.0f);
  EXPECT_EQ(saw.state, state);
  BlitSquare square;
  EXPECT_FLOAT_EQ(square.tick(), square.a);
  square.setFrequency(12000.0f);  // above a quarter of the rate
  EXPECT_EQ(square.m, 0u);
  EXPECT_EQ(square.a, 0.0f);
  // setPhase(0.5): pi / 2 for each (a quarter of the square's cycle).
  blit.setPhase(0.5f);
  EXPECT_FLOAT_EQ(blit.phase, float(kPi / 2));
  square.setPhase(0.5f);
  EXPECT_FLOAT_EQ(square.phase, float(kPi / 2));
}

TEST_F(MeshBlitTest, HostileFrequenciesPhasesAndHarmonics) {
  const float hostile[] = {-1e30f, -1.0f, 0.0f, 0.5f, 1.0f, 2.0f, 1e30f, kNaN, kInf, -kInf};
  const unsigned counts[] = {0u, 1u, 2u, 1000000u, 2147483648u, 4294967295u};
  LogCapture log;
  Blit blit;
  BlitSaw saw;
  BlitSquare square;
  BLT* all[] = {&blit, &saw, &square};
  for (BLT* o : all) {
    for (float v : hostile) {
      o->setFrequency(v);
      for (int i = 0; i < 300; i++) ASSERT_TRUE(std::isfinite(o->tick())) << v;
      o->setPhase(v);
      for (int i = 0; i < 300; i++) ASSERT_TRUE(std::isfinite(o->tick())) << v;
    }
    for (unsigned n : counts) {
      o->setHarmonics(n);
      for (int i = 0; i < 300; i++) ASSERT_TRUE(std::isfinite(o->tick())) << n;
    }
  }
  // Phases stay in the cycle.
  EXPECT_GE(blit.phase, 0.0f);
  EXPECT_LT(blit.phase, float(kPi));
  EXPECT_GE(square.phase, 0.0f);
  EXPECT_LT(square.phase, float(2 * kPi));
  // A tiny frequency: the period is capped, the order stays defined.
  blit.setHarmonics(0);
  blit.setFrequency(1e-30f);
  EXPECT_FLOAT_EQ(blit.p, float(BLT::kMaxPeriod));
  EXPECT_EQ(blit.m, 2u * unsigned(BLT::kMaxPeriod / 2) + 1u);
  // A phase of 1e30 is reduced, not subtracted once a sample.
  blit.setFrequency(220.0f);
  blit.setPhase(1e30f);
  EXPECT_LT(blit.phase, float(kPi));
  // Each oscillator reports a bad frequency and a bad phase once.
  const std::string printed = log.text();
  EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 6) << printed;
  EXPECT_NE(printed.find("[chip](via SYN): Blit: setFrequency(-1e+30) is not a positive "
                         "finite number!"),
            std::string::npos)
      << printed;
  // After all that, a normal note: 441 Hz, period 100.
  for (BLT* o : all) {
    o->setHarmonics(0);
    o->setFrequency(441.0f);
    o->setPhase(0.0f);
  }
  std::vector<float> y(100);
  for (int i = 0; i < 40000; i++) saw.tick();
  for (float& v : y) v = saw.tick();
  EXPECT_NEAR(harmonic(y, 100, 1) * kPi, 1.0, 0.1);
}

}  // namespace
