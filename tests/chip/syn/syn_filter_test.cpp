// The toolkit filters ticked directly: impulse responses against closed
// forms evaluated here in double precision, gains measured with a DFT,
// allpass energy, coefficient normalisation and its errors, the flush of
// tiny history values, and hostile parameters (unstable radii, huge and
// non-finite values) that must never let inf or NaN out nor leave a filter
// stuck once its parameters are sane again.
#include "chip/syn/syn_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

namespace {

const double kPi = 3.141592653589793;
const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

// The filter's response to a unit impulse, n samples.
std::vector<float> impulse_response(FilterSyn& f, int n) {
  std::vector<float> out;
  for (int i = 0; i < n; i++) out.push_back(f.tick(i == 0 ? 1.0f : 0.0f));
  return out;
}

// Magnitude of the steady-state gain at frequency hz (a whole number): a
// sine is run through the filter and the output's DFT at hz, over a whole
// number of periods, is divided by the input's.
double gain_at(FilterSyn& f, double hz, int settle = 4000) {
  const long rate = std::lround(Syn::srate);
  const long period = rate / std::gcd(rate, std::lround(hz));
  const long measure = period * ((8000 + period - 1) / period);
  const double w = 2.0 * kPi * hz / Syn::srate;
  std::complex<double> in_acc, out_acc;
  for (int n = 0; n < settle + measure; n++) {
    const double x = std::sin(w * n);
    const double y = f.tick(static_cast<float>(x));
    if (n < settle) continue;
    const std::complex<double> e = std::polar(1.0, -w * n);
    in_acc += x * e;
    out_acc += y * e;
  }
  return std::abs(out_acc) / std::abs(in_acc);
}

TEST(SynFilterTest, DefaultsAreTheDocumentedFilters) {
  // OnePole: pole 0.9, gain 0.1 (unity at DC); OneZero: two-sample mean;
  // the rest pass their input unchanged.
  OnePole one_pole;
  std::vector<float> h = impulse_response(one_pole, 5);
  for (int n = 0; n < 5; n++) EXPECT_NEAR(h[n], 0.1 * std::pow(0.9, n), 1e-6) << n;
  OneZero one_zero;
  h = impulse_response(one_zero, 3);
  EXPECT_FLOAT_EQ(h[0], 0.5f);
  EXPECT_FLOAT_EQ(h[1], 0.5f);
  EXPECT_FLOAT_EQ(h[2], 0.0f);

  std::vector<std::unique_ptr<FilterSyn>> identities;
  identities.emplace_back(new FilterSyn);
  identities.emplace_back(new PoleZero);
  identities.emplace_back(new TwoPole);
  identities.emplace_back(new TwoZero);
  identities.emplace_back(new BiQuad);
  const float xs[] = {0.25f, -1.5f, 3.0f, 0.0f, 7.0f};
  for (auto& f : identities) {
    for (float x : xs) EXPECT_EQ(f->tick(x), x);
  }
}

TEST(SynFilterTest, OnePoleImpulseResponseIsGeometric) {
  // setPole(p): b0 = 1 - |p|, h[n] = b0 * p^n.
  const float poles[] = {0.9f, -0.5f, 0.3f, 0.99f, 0.0f};
  for (float p : poles) {
    OnePole f;
    f.setPole(p);
    std::vector<float> h = impulse_response(f, 60);
    const double b0 = 1.0 - std::fabs(double(p));
    for (int n = 0; n < 60; n++) {
      EXPECT_NEAR(h[n], b0 * std::pow(double(p), n), 1e-6) << "pole " << p << " n " << n;
    }
  }
}

TEST(SynFilterTest, TwoPoleImpulseResponseIsDampedSine) {
  // Poles r e^{+-iw}: h[n] = b0 r^n sin((n+1) w) / sin w.
  struct Case {
    float hz, radius, b0;
  } cases[] = {{1000.0f, 0.9f, 1.0f}, {3000.0f, 0.99f, 0.5f}, {200.0f, 0.5f, 2.0f},
               {8000.0f, 0.95f, 1.0f}};
  for (const Case& c : cases) {
    TwoPole f;
    f.setB0(c.b0);
    f.setResonance(c.hz, c.radius, false);
    EXPECT_EQ(f.b[0], c.b0) << "without normalize b0 stays";
    std::vector<float> h = impulse_response(f, 200);
    const double w = 2.0 * kPi * c.hz / Syn::srate;
    for (int n = 0; n < 200; n++) {
      const double expect = c.b0 * std::pow(double(c.radius), n) * std::sin((n + 1) * w) / std::sin(w);
      EXPECT_NEAR(h[n], expect, 2e-4 * c.b0 / std::sin(w)) << c.hz << " Hz n " << n;
    }
  }
}

TEST(SynFilterTest, NormalizedResonanceHasUnityGainAtItsFrequency) {
  const float cases[][2] = {{500.0f, 0.9f}, {2000.0f, 0.99f}, {6000.0f, 0.8f}};
  for (const auto& c : cases) {
    TwoPole f;
    f.setResonance(c[0], c[1], true);
    EXPECT_NEAR(gain_at(f, c[0]), 1.0, 1e-3) << c[0] << " Hz r " << c[1];
  }
}

TEST(SynFilterTest, ZerosGiveTheirTaps) {
  // OneZero::setZero(z): taps b0 = 1 / (1 + |z|), b1 = -z b0.
  const float zeros[] = {1.0f, -1.0f, 0.5f, -0.25f, 0.0f};
  for (float z : zeros) {
    OneZero f;
    f.setZero(z);
    std::vector<float> h = impulse_response(f, 4);
    const double b0 = 1.0 / (1.0 + std::fabs(double(z)));
    EXPECT_NEAR(h[0], b0, 1e-7) << z;
    EXPECT_NEAR(h[1], -z * b0, 1e-7) << z;
    EXPECT_EQ(h[2], 0.0f);
    EXPECT_EQ(h[3], 0.0f);
  }
  // TwoZero::setNotch(f, r): taps [1, -2r cos w, r^2] / (1 + 2r|cos w| + r^2);
  // with r = 1 a sine at f is cancelled.
  const float notches[][2] = {{1000.0f, 0.9f}, {15000.0f, 0.5f}, {3000.0f, 1.0f}};
  for (const auto& c : notches) {
    TwoZero f;
    f.setNotch(c[0], c[1]);
    std::vector<float> h = impulse_response(f, 4);
    const double cw = -2.0 * c[1] * std::cos(2.0 * kPi * c[0] / Syn::srate);
    const double r2 = double(c[1]) * c[1];
    const double norm = 1.0 / (1.0 + std::fabs(cw) + r2);
    EXPECT_NEAR(h[0], norm, 1e-6) << c[0];
    EXPECT_NEAR(h[1], cw * norm, 1e-6) << c[0];
    EXPECT_NEAR(h[2], r2 * norm, 1e-6) << c[0];
    EXPECT_EQ(h[3], 0.0f);
    if (c[1] == 1.0f) {
      TwoZero g;
      g.setNotch(c[0], c[1]);
      EXPECT_LT(gain_at(g, c[0]), 1e-4);
    }
  }
}

TEST(SynFilterTest, AllpassKeepsEnergyAndHasItsClosedForm) {
  // (c + z^-1) / (1 + c z^-1): h[0] = c, h[n] = (1 - c^2) (-c)^(n-1); the
  // energy sum h^2 is 1.
  const float cs[] = {0.5f, -0.7f, 0.9f, 0.0f};
  for (float c : cs) {
    PoleZero f;
    f.setAllpass(c);
    std::vector<float> h = impulse_response(f, 2000);
    EXPECT_NEAR(h[0], c, 1e-7);
    double energy = 0.0;
    for (int n = 0; n < 2000; n++) {
      if (n > 0 && n < 40) {
        EXPECT_NEAR(h[n], (1.0 - double(c) * c) * std::pow(-double(c), n - 1), 1e-6) << c << " " << n;
      }
      energy += double(h[n]) * h[n];
    }
    EXPECT_NEAR(energy, 1.0, 1e-4) << c;
  }
}

TEST(SynFilterTest, BlockZeroRemovesDc) {
  PoleZero f;
  f.setBlockZero(0.99f);
  EXPECT_EQ(f.b[0], 1.0f);
  EXPECT_EQ(f.b[1], -1.0f);
  EXPECT_EQ(f.a[1], -0.99f);
  float y = 0.0f;
  for (int n = 0; n < 5000; n++) y = f.tick(1.0f);
  EXPECT_LT(std::fabs(y), 1e-6);
}

TEST(SynFilterTest, GeneralFilterFollowsItsDifferenceEquation) {
  // a[0] = 2 halves every coefficient; the response is compared with the
  // difference equation run here in double precision.
  const float b[] = {2.0f, 1.0f, 0.5f};
  const float a[] = {2.0f, -1.0f, 0.4f, 0.2f};
  FilterSyn f;
  f.setCoefficients(3, b, 4, a);
  EXPECT_EQ(f.a[0], 1.0f);
  EXPECT_EQ(f.a[1], -0.5f);
  EXPECT_EQ(f.b[2], 0.25f);
  const double bd[] = {1.0, 0.5, 0.25}, ad[] = {1.0, -0.5, 0.2, 0.1};
  std::vector<double> x(100), y(100);
  for (int n = 0; n < 100; n++) x[n] = std::sin(0.37 * n) + (n == 0 ? 1.0 : 0.0);
  for (int n = 0; n < 100; n++) {
    double acc = 0.0;
    for (int i = 0; i < 3; i++) acc += n >= i ? bd[i] * x[n - i] : 0.0;
    for (int k = 1; k < 4; k++) acc -= n >= k ? ad[k] * y[n - k] : 0.0;
    y[n] = acc;
    EXPECT_NEAR(f.tick(static_cast<float>(x[n])), y[n], 1e-5) << n;
  }
  // Same counts keep the history; new counts zero it.
  const float b2[] = {1.0f, 0.0f, 0.0f};
  const float a2[] = {1.0f, 0.0f, 0.0f, 0.0f};
  f.setCoefficients(3, b2, 4, a2);
  EXPECT_NE(f.inputs[1], 0.0f);
  const float b3[] = {1.0f};
  f.setCoefficients(1, b3, 2, a2);
  EXPECT_EQ(f.outputs[1], 0.0f);
  // The block tick is the single tick n times.
  FilterSyn g, h;
  g.setCoefficients(3, b, 4, a);
  h.setCoefficients(3, b, 4, a);
  float block[16];
  for (int i = 0; i < 16; i++) block[i] = static_cast<float>(std::cos(i * 0.5));
  g.tick(block, 16);
  for (int i = 0; i < 16; i++) EXPECT_EQ(block[i], h.tick(static_cast<float>(std::cos(i * 0.5))));
}

TEST(SynFilterTest, BadCoefficientCountsAndZeroLeadingCoefficientThrow) {
  FilterSyn f;
  const float one[] = {1.0f};
  const float zero[] = {0.0f};
  struct Case {
    int nb, na;
    const float* a;
    std::string message;
  } cases[] = {{0, 1, one, "[chip](via Filter): nb (0) and na (1) must be >= 1!"},
               {1, -2, one, "[chip](via Filter): nb (1) and na (-2) must be >= 1!"},
               {1, 1, zero, "[chip](via Filter): a[0] coefficient cannot == 0!"}};
  for (const Case& c : cases) {
    try {
      f.setCoefficients(c.nb, one, c.na, c.a);
      ADD_FAILURE() << "no error for " << c.message;
    } catch (const SynError& e) {
      EXPECT_EQ(e.getType(), SynError::FUNCTION_ARGUMENT);
      EXPECT_EQ(std::string(e.getMessage()), c.message);
    }
  }
  EXPECT_EQ(f.tick(0.5f), 0.5f);  // unchanged by the failed calls
}

// Each recursive filter with a pole at 1 (so a stored value would persist):
// a tiny output is returned but the history keeps 0.
TEST(SynFilterTest, TinyHistoryValuesFlushToZero) {
  std::vector<std::pair<std::string, std::unique_ptr<FilterSyn>>> filters;
  auto one_pole = std::make_unique<OnePole>();
  one_pole->setB0(1.0f);
  one_pole->setA1(-1.0f);
  filters.emplace_back("OnePole", std::move(one_pole));
  auto pole_zero = std::make_unique<PoleZero>();
  pole_zero->setA1(-1.0f);
  filters.emplace_back("PoleZero", std::move(pole_zero));
  auto two_pole = std::make_unique<TwoPole>();
  two_pole->setA1(-1.0f);
  filters.emplace_back("TwoPole", std::move(two_pole));
  auto biquad = std::make_unique<BiQuad>();
  biquad->setA1(-1.0f);
  filters.emplace_back("BiQuad", std::move(biquad));
  auto general = std::make_unique<FilterSyn>();
  const float b[] = {1.0f}, a[] = {1.0f, -1.0f};
  general->setCoefficients(1, b, 2, a);
  filters.emplace_back("FilterSyn", std::move(general));

  const float tiny[] = {1e-20f, -1e-16f, 1e-40f /* denormal */};
  for (auto& [name, f] : filters) {
    for (float t : tiny) {
      f->clear();
      EXPECT_EQ(f->tick(t), t) << name;
      EXPECT_EQ(f->lastOut(), t) << name;
      EXPECT_EQ(f->tick(0.0f), 0.0f) << name << " kept " << t;
    }
    // A normal value is kept: the pole at 1 holds it.
    f->clear();
    f->tick(1e-3f);
    EXPECT_EQ(f->tick(0.0f), 1e-3f) << name;
  }
}

// A recursive filter built by one of its parameter setters.
struct Unstable {
  const char* name;
  std::function<FilterSyn*(float)> make;
};

const Unstable kUnstable[] = {
    {"TwoPole resonance",
     [](float r) {
       auto* f = new TwoPole;
       f->setResonance(1000.0f, r, false);
       return f;
     }},
    {"TwoPole normalized",
     [](float r) {
       auto* f = new TwoPole;
       f->setResonance(1000.0f, r, true);
       return f;
     }},
    {"BiQuad resonance",
     [](float r) {
       auto* f = new BiQuad;
       f->setResonance(300.0f, r, true);
       return f;
     }},
    {"OnePole pole",
     [](float r) {
       auto* f = new OnePole;
       f->setPole(r);
       return f;
     }},
    {"OnePole negative pole",
     [](float r) {
       auto* f = new OnePole;
       f->setPole(-r);
       return f;
     }},
    {"PoleZero blockZero",
     [](float r) {
       auto* f = new PoleZero;
       f->setBlockZero(r);
       return f;
     }},
    {"PoleZero allpass",
     [](float r) {
       auto* f = new PoleZero;
       f->setAllpass(r);
       return f;
     }},
    {"FilterSyn", [](float r) {
       auto* f = new FilterSyn;
       const float b[] = {1.0f}, a[] = {1.0f, -2.0f * r, r * r};
       f->setCoefficients(1, b, 3, a);
       return f;
     }},
};

TEST(SynFilterTest, UnstableOrNonFiniteParametersNeverLetInfOrNanOut) {
  const float radii[] = {1.0f, 1.0001f, 1.5f, 2.0f, 1e10f, 1e30f, 3e38f, kInf, kNaN, -1e30f};
  for (const Unstable& u : kUnstable) {
    for (float r : radii) {
      std::unique_ptr<FilterSyn> f(u.make(r));
      for (int n = 0; n < 20000; n++) {
        const float x = n == 0 ? 1.0f : (n % 97 == 0 ? -0.5f : 0.001f);
        const float y = f->tick(x);
        ASSERT_TRUE(std::isfinite(y)) << u.name << " r " << r << " n " << n;
      }
    }
  }
}

TEST(SynFilterTest, NonFiniteInputOrCoefficientDoesNotStick) {
  // After a NaN or inf went in (or a NaN coefficient was set and then put
  // right), the filter gives its normal response again.
  for (float bad : {kNaN, kInf, -kInf}) {
    TwoPole f;
    f.setResonance(1000.0f, 0.9f, false);
    EXPECT_TRUE(std::isfinite(f.tick(bad)));
    for (int n = 0; n < 3; n++) EXPECT_TRUE(std::isfinite(f.tick(0.0f)));
    TwoPole fresh;
    fresh.setResonance(1000.0f, 0.9f, false);
    std::vector<float> want = impulse_response(fresh, 20);
    std::vector<float> got = impulse_response(f, 20);
    for (int n = 0; n < 20; n++) EXPECT_NEAR(got[n], want[n], 1e-6) << bad << " " << n;

    OnePole g;
    g.setPole(bad);
    for (int n = 0; n < 10; n++) EXPECT_TRUE(std::isfinite(g.tick(1.0f)));
    g.setPole(0.5f);
    g.tick(0.0f);  // the history is clean
    std::vector<float> h = impulse_response(g, 10);
    for (int n = 0; n < 10; n++) EXPECT_NEAR(h[n], 0.5 * std::pow(0.5, n), 1e-7) << bad;
  }
}

// Every derived setter of every filter with the hostile values: no inf or
// NaN comes out, whatever the filter is fed.
TEST(SynFilterTest, HostileParameterTable) {
  const float values[] = {-1e30f, -1.0f, 0.0f, 0.5f, 1.0f, 2.0f, 1e30f, kNaN, kInf};
  typedef std::function<FilterSyn*(float)> Make;
  const std::pair<const char*, Make> setters[] = {
      {"OnePole.setPole", [](float v) { auto* f = new OnePole; f->setPole(v); return f; }},
      {"OnePole.setA1", [](float v) { auto* f = new OnePole; f->setA1(v); return f; }},
      {"OneZero.setZero", [](float v) { auto* f = new OneZero; f->setZero(v); return f; }},
      {"OneZero.setB1", [](float v) { auto* f = new OneZero; f->setB1(v); return f; }},
      {"PoleZero.setA1", [](float v) { auto* f = new PoleZero; f->setA1(v); return f; }},
      {"TwoPole.freq", [](float v) { auto* f = new TwoPole; f->setResonance(v, 0.9f, true); return f; }},
      {"TwoPole.radius", [](float v) { auto* f = new TwoPole; f->setResonance(440.0f, v, true); return f; }},
      {"TwoPole.setA2", [](float v) { auto* f = new TwoPole; f->setA2(v); return f; }},
      {"TwoZero.freq", [](float v) { auto* f = new TwoZero; f->setNotch(v, 0.9f); return f; }},
      {"TwoZero.radius", [](float v) { auto* f = new TwoZero; f->setNotch(440.0f, v); return f; }},
      {"TwoZero.setB0", [](float v) { auto* f = new TwoZero; f->setB0(v); return f; }},
      {"BiQuad.setA2", [](float v) { auto* f = new BiQuad; f->setA2(v); return f; }},
      {"FormSwep.setTargets", [](float v) {
         auto* f = new FormSwep;
         f->setStates(1000.0f, 0.9f, 1.0f);
         f->setSweepRate(v);
         f->setTargets(v, v, v);
         return f;
       }},
  };
  for (const auto& [name, make] : setters) {
    for (float v : values) {
      std::unique_ptr<FilterSyn> f(make(v));
      for (int n = 0; n < 2000; n++) {
        const float y = f->tick(n % 50 == 0 ? 1.0f : 0.0f);
        ASSERT_TRUE(std::isfinite(y)) << name << "(" << v << ") n " << n;
      }
      float block[8] = {1e30f, -1e30f, kNaN, kInf, 1.0f, 0.0f, 0.0f, 0.0f};
      f->tick(block, 8);
      for (float y : block) EXPECT_TRUE(std::isfinite(y)) << name << "(" << v << ") block";
    }
  }
}

TEST(SynFilterTest, FormSwepGlidesToItsTargetsInOneOverRateTicks) {
  FormSwep f;
  f.setStates(1000.0f, 0.9f, 0.5f);
  EXPECT_FALSE(f.dirty);
  EXPECT_EQ(f.gain, 0.5f);
  f.setTargets(2000.0f, 0.5f, 1.0f);
  for (int n = 0; n < 500; n++) f.tick(0.0f);
  EXPECT_TRUE(f.dirty);
  EXPECT_LT(f.sweepState, 1.0f);
  // Just before the end the values lie between start and target.
  EXPECT_GT(f.frequency, 1000.0f);
  EXPECT_LT(f.frequency, 2000.0f);
  f.tick(0.0f);
  EXPECT_FALSE(f.dirty);
  EXPECT_EQ(f.frequency, 2000.0f);
  EXPECT_EQ(f.radius, 0.5f);
  EXPECT_EQ(f.gain, 1.0f);
  EXPECT_NEAR(f.a[2], 0.25f, 1e-7);
  EXPECT_NEAR(f.a[1], -std::cos(2.0 * kPi * 2000.0 / Syn::srate), 1e-6);
  EXPECT_NEAR(f.b[0], 0.5 - 0.5 * 0.25, 1e-7);
  EXPECT_EQ(f.b[2], -f.b[0]);

  const float rates[][2] = {{2.0f, 1.0f}, {-1.0f, 0.0f}, {0.25f, 0.25f}};
  for (const auto& r : rates) {
    f.setSweepRate(r[0]);
    EXPECT_EQ(f.sweepRate, r[1]) << r[0];
  }
}

}  // namespace
