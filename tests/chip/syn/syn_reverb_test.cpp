// The toolkit reverberators JCRev, NRev and KestRev, ticked directly: the
// decay time measured from the impulse response, delay lengths against the
// sample rate, the dry path and the mix, clear(), and hostile parameters.
#include "chip/syn/syn_reverb.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "log_capture.h"

namespace {

enum class Kind { JC, N, Kest };
const Kind kKinds[] = {Kind::JC, Kind::N, Kind::Kest};

const char* kind_name(Kind kind) {
  switch (kind) {
    case Kind::JC:
      return "JCRev";
    case Kind::N:
      return "NRev";
    case Kind::Kest:
      return "KestRev";
  }
  return "?";
}

std::unique_ptr<Reverb> make(Kind kind, float t60) {
  switch (kind) {
    case Kind::JC:
      return std::make_unique<JCRev>(t60);
    case Kind::N:
      return std::make_unique<NRev>(t60);
    case Kind::Kest:
      return std::make_unique<KestRev>(t60);
  }
  return nullptr;
}

// The comb feedback gains of a reverberator, whatever its class.
std::vector<float> comb_gains(Kind kind, Reverb& r) {
  std::vector<float> gains;
  switch (kind) {
    case Kind::JC:
      for (int i = 0; i < 4; ++i) gains.push_back(static_cast<JCRev&>(r).combCoefficientAt(i));
      break;
    case Kind::N:
      for (int i = 0; i < 6; ++i) gains.push_back(static_cast<NRev&>(r).combCoefficientAt(i));
      break;
    case Kind::Kest:
      for (int i = 0; i < 2; ++i) gains.push_back(static_cast<KestRev&>(r).combCoefficientAt(i));
      break;
  }
  return gains;
}

// Line lengths in the order combs, allpasses, outputs (JCRev) or allpasses
// then combs (KestRev, the order of its table).
std::vector<long> lengths(Kind kind, Reverb& r) {
  std::vector<long> out;
  switch (kind) {
    case Kind::JC: {
      auto& jc = static_cast<JCRev&>(r);
      for (int i = 0; i < 4; ++i) out.push_back(jc.combLength(i));
      for (int i = 0; i < 3; ++i) out.push_back(jc.allpassLength(i));
      out.push_back(jc.outLength(0));
      out.push_back(jc.outLength(1));
      break;
    }
    case Kind::N: {
      auto& n = static_cast<NRev&>(r);
      for (int i = 0; i < 6; ++i) out.push_back(n.combLength(i));
      for (int i = 0; i < 8; ++i) out.push_back(n.allpassLength(i));
      break;
    }
    case Kind::Kest: {
      auto& k = static_cast<KestRev&>(r);
      out.push_back(k.allpassLength(0));
      out.push_back(k.allpassLength(1));
      out.push_back(k.combLength(0));
      out.push_back(k.combLength(1));
      break;
    }
  }
  return out;
}

// The published base tables (without NRev's unused fifteenth entry) and
// their reference rates.
const std::vector<long> kJCBase = {1777, 1847, 1993, 2137, 389, 127, 43, 211, 179};
const std::vector<long> kNBase = {1433, 1601, 1867, 2053, 2251, 2399, 347,
                                  113,  37,   59,   53,   43,   37,   29};
const std::vector<long> kKestBase = {353, 1097, 1777, 2137};

const std::vector<long>& base_table(Kind kind) {
  return kind == Kind::JC ? kJCBase : kind == Kind::N ? kNBase : kKestBase;
}
double reference_rate(Kind kind) { return kind == Kind::N ? 25641.0 : 44100.0; }

// Plain primality by trial division over every candidate divisor.
bool is_prime(long n) {
  if (n < 2) return false;
  for (long d = 2; d * d <= n; ++d) {
    if (n % d == 0) return false;
  }
  return true;
}

// What a line of base length `base` must become at `rate`: the smallest odd
// prime at or above floor(rate / reference * base); a product below 2 gives
// the one-sample line.
long expected_length(long base, double rate, double reference) {
  long d = static_cast<long>(std::floor(rate / reference * static_cast<double>(base)));
  if (d <= 1) return 1;  // 1 counts as prime, and 0 becomes 1
  if (d % 2 == 0) ++d;
  while (!is_prime(d)) d += 2;
  return d;
}

// Kept by the flush: 1e-15 < |v| < 1e15.
float flushed(float v) {
  float a = std::fabs(v);
  return (a > 1e-15f && a < 1e15f) ? v : 0.0f;
}

// Decay time of an impulse response by Schroeder's backward integration:
// the energy remaining after each sample, in dB below the total, fitted by
// a straight line between -5 and -35 dB; T60 is where the line reaches -60.
double schroeder_t60(const std::vector<float>& ir, double rate) {
  std::vector<double> remaining(ir.size() + 1, 0.0);
  for (size_t i = ir.size(); i-- > 0;) {
    remaining[i] = remaining[i + 1] + static_cast<double>(ir[i]) * ir[i];
  }
  double sx = 0, sy = 0, sxx = 0, sxy = 0, m = 0;
  for (size_t i = 0; i < ir.size(); ++i) {
    double db = 10.0 * std::log10(remaining[i] / remaining[0]);
    if (db > -5.0 || db < -35.0) continue;
    double t = static_cast<double>(i) / rate;
    sx += t;
    sy += db;
    sxx += t * t;
    sxy += t * db;
    m += 1;
  }
  if (m < 2) return 0.0;
  double slope = (m * sxy - sx * sy) / (m * sxx - sx * sx);
  return -60.0 / slope;
}

class SynReverbTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_rate_ = Syn::srate; }
  void TearDown() override { Syn::srate = saved_rate_; }

 private:
  float saved_rate_ = 44100.0f;
};

// ---------------------------------------------------------------------------
// Decay time.

TEST_F(SynReverbTest, WetImpulseResponseDecaysBySixtyDecibelsInT60) {
  struct Case {
    float rate;
    float t60;
  };
  const Case cases[] = {{16000.0f, 1.0f}, {16000.0f, 1.5f}, {44100.0f, 1.0f}, {44100.0f, 1.5f}};
  for (const Case& c : cases) {
    Syn::srate = c.rate;
    for (Kind kind : kKinds) {
      std::unique_ptr<Reverb> r = make(kind, c.t60);
      r->setEffectMix(1.0f);
      // Twice the decay time: 120 dB of comb decay, so the integration's
      // missing tail does not bend the fitted range.
      std::vector<float> ir(static_cast<size_t>(2.0f * c.t60 * c.rate));
      for (size_t i = 0; i < ir.size(); ++i) ir[i] = r->tick(i == 0 ? 1.0f : 0.0f);
      double measured = schroeder_t60(ir, c.rate);
      EXPECT_NEAR(measured, c.t60, 0.1 * c.t60)
          << kind_name(kind) << " at " << c.rate << " Hz, T60 " << c.t60;
    }
  }
}

// ---------------------------------------------------------------------------
// Delay lengths.

TEST_F(SynReverbTest, DelayLengthsAreTheWorkedPrimesAtSixteenAndFortyFourKilohertz) {
  struct Case {
    Kind kind;
    float rate;
    std::vector<long> lengths;
  };
  const Case cases[] = {
      {Kind::JC, 16000.0f, {647, 673, 727, 787, 149, 47, 17, 79, 67}},
      {Kind::N, 16000.0f, {907, 1009, 1171, 1283, 1409, 1499, 223, 71, 23, 37, 37, 29, 23, 19}},
      {Kind::Kest, 16000.0f, {131, 401, 647, 787}},
      {Kind::JC, 44100.0f, kJCBase},
      {Kind::N, 44100.0f, {2467, 2753, 3217, 3533, 3877, 4127, 599, 197, 67, 101, 97, 73, 67, 53}},
      {Kind::Kest, 44100.0f, kKestBase},
      // At its own reference rate NRev recomputes every entry and keeps it.
      {Kind::N, 25641.0f, kNBase},
  };
  for (const Case& c : cases) {
    Syn::srate = c.rate;
    std::unique_ptr<Reverb> r = make(c.kind, 4.0f);
    EXPECT_EQ(lengths(c.kind, *r), c.lengths) << kind_name(c.kind) << " at " << c.rate;
  }
}

TEST_F(SynReverbTest, DelayLengthsScaleWithTheRateToTheNextOddPrime) {
  const float rates[] = {8000.0f, 22050.0f, 32000.0f, 48000.0f, 96000.0f, 1.0f};
  for (float rate : rates) {
    Syn::srate = rate;
    for (Kind kind : kKinds) {
      std::unique_ptr<Reverb> r;
      // Every line is built within its limits: no line complains.
      EXPECT_EQ(printed_lines([&] { r = make(kind, 4.0f); }), std::vector<std::string>{})
          << kind_name(kind) << " at " << rate;
      std::vector<long> got = lengths(kind, *r);
      const std::vector<long>& base = base_table(kind);
      ASSERT_EQ(got.size(), base.size());
      for (size_t i = 0; i < base.size(); ++i) {
        long want = expected_length(base[i], rate, reference_rate(kind));
        EXPECT_EQ(got[i], want) << kind_name(kind) << " at " << rate << " line " << i;
        EXPECT_TRUE(got[i] == 1 || is_prime(got[i])) << got[i];
      }
      // Even one-sample lines carry sound without faults.
      for (int i = 0; i < 100; ++i) EXPECT_TRUE(std::isfinite(r->tick(i == 0 ? 1.0f : 0.0f)));
    }
  }
}

TEST_F(SynReverbTest, AnUnusableSampleRateCountsAsFortyFourKilohertz) {
  const float rates[] = {0.0f, -16000.0f, std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity()};
  for (float rate : rates) {
    Syn::srate = rate;
    for (Kind kind : kKinds) {
      std::unique_ptr<Reverb> r = make(kind, 1.0f);
      std::vector<long> want;
      for (long base : base_table(kind))
        want.push_back(expected_length(base, 44100.0, reference_rate(kind)));
      EXPECT_EQ(lengths(kind, *r), want) << kind_name(kind) << " at " << rate;
      for (float g : comb_gains(kind, *r)) {
        EXPECT_GT(g, 0.0f);
        EXPECT_LT(g, 1.0f);
      }
    }
  }
}

TEST_F(SynReverbTest, AbsurdRatesKeepLinesWithinTheLongestDelayAndGainsBelowOne) {
  // Checked on the rules themselves: building lines this long would take
  // hundreds of megabytes.
  const double scalers[] = {1e4, 1e30, std::numeric_limits<double>::infinity()};
  for (double scaler : scalers) {
    long d = Reverb::scaledLength(2137, scaler);
    EXPECT_LE(d, Delay::kMaxDelay) << scaler;
    EXPECT_GE(d, Reverb::kMaxLength) << scaler;
    EXPECT_TRUE(is_prime(d)) << d;
  }
  const float rates[] = {1e7f, 1e30f, 3e38f};
  for (float rate : rates) {
    float g = Reverb::combCoefficient(Reverb::kMaxLength, Reverb::kMaxT60, rate);
    EXPECT_GE(g, 0.0f) << rate;
    EXPECT_LT(g, 1.0f) << rate;
  }
}

// ---------------------------------------------------------------------------
// Mix and the dry path.

TEST_F(SynReverbTest, ConstructionMixesAreTheClassDefaults) {
  Syn::srate = 16000.0f;
  EXPECT_EQ(make(Kind::JC, 4.0f)->getEffectMix(), 0.3f);
  EXPECT_EQ(make(Kind::N, 4.0f)->getEffectMix(), 0.3f);
  EXPECT_EQ(make(Kind::Kest, 4.0f)->getEffectMix(), 0.5f);
}

TEST_F(SynReverbTest, MixZeroPassesTheFlushedInputExactlyOnBothChannels) {
  Syn::srate = 16000.0f;
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
  // Values the flush removes (NaN and infinity too), on the dry path as well,
  // among ordinary ones.
  const float specials[] = {1e-16f,
                            -3e-16f,
                            2e15f,
                            -2e15f,
                            0.25f,
                            1e-15f,
                            1e15f,
                            3.0f,
                            std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity()};
  for (Kind kind : kKinds) {
    std::unique_ptr<Reverb> r = make(kind, 4.0f);
    // A filled reverberator first, so the wet paths are far from silent.
    for (int i = 0; i < 3000; ++i) r->tick(noise(rng));
    EXPECT_EQ(r->setEffectMix(0.0f), 0.0f);
    for (int i = 0; i < 2000; ++i) {
      float x = (i % 50 < 8) ? specials[i % 50] : noise(rng);
      float y = r->tick(x);
      ASSERT_EQ(y, flushed(x)) << kind_name(kind) << " sample " << i << " input " << x;
      ASSERT_EQ(r->lastOutLeft(), flushed(x));
      ASSERT_EQ(r->lastOutRight(), flushed(x));
    }
    // NaN and infinity never reached the lines: the tail stays finite.
    r->setEffectMix(1.0f);
    for (int i = 0; i < 4000; ++i) ASSERT_TRUE(std::isfinite(r->tick(0.0f))) << kind_name(kind);
  }
}

TEST_F(SynReverbTest, MixScalesWetAndDryLinearly) {
  Syn::srate = 16000.0f;
  // y(m) = (1 - m) x + m w, where w is the output at mix 1; outside 0..1 too.
  const float mixes[] = {0.3f, 0.75f, 2.0f, -0.5f};
  for (Kind kind : kKinds) {
    for (float m : mixes) {
      std::unique_ptr<Reverb> wet = make(kind, 1.0f);
      std::unique_ptr<Reverb> mixed = make(kind, 1.0f);
      wet->setEffectMix(1.0f);
      EXPECT_EQ(mixed->setEffectMix(m), m);
      EXPECT_EQ(mixed->getEffectMix(), m);
      std::mt19937 rng(11);
      std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
      double worst = 0.0;
      for (int i = 0; i < 6000; ++i) {
        float x = i < 800 ? noise(rng) : 0.0f;
        double w = wet->tick(x);
        double y = mixed->tick(x);
        double want = (1.0 - m) * x + m * w;
        worst = std::max(worst, std::fabs(y - want));
      }
      EXPECT_LT(worst, 1e-5) << kind_name(kind) << " mix " << m;
    }
  }
}

// ---------------------------------------------------------------------------
// clear() and block ticks.

TEST_F(SynReverbTest, ClearSilencesTheTailAndKeepsCoefficientsAndMix) {
  Syn::srate = 16000.0f;
  for (Kind kind : kKinds) {
    std::unique_ptr<Reverb> used = make(kind, 2.0f);
    std::unique_ptr<Reverb> fresh = make(kind, 2.0f);
    used->setEffectMix(0.8f);
    fresh->setEffectMix(0.8f);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    for (int i = 0; i < 4000; ++i) used->tick(noise(rng));
    used->clear();
    EXPECT_EQ(used->lastOutLeft(), 0.0f);
    EXPECT_EQ(used->lastOutRight(), 0.0f);
    EXPECT_EQ(used->getEffectMix(), 0.8f);
    // Silence in, silence out at once (the longest line is far shorter).
    for (int i = 0; i < 3000; ++i) ASSERT_EQ(used->tick(0.0f), 0.0f) << kind_name(kind) << i;
    // And from there it answers exactly like a new one.
    for (int i = 0; i < 3000; ++i) {
      float x = i == 0 ? 1.0f : 0.0f;
      ASSERT_EQ(used->tick(x), fresh->tick(x)) << kind_name(kind) << " sample " << i;
    }
  }
}

TEST_F(SynReverbTest, BlockTickEqualsSampleTicksAndAnEmptyBlockIsUntouched) {
  Syn::srate = 16000.0f;
  for (Kind kind : kKinds) {
    std::unique_ptr<Reverb> a = make(kind, 1.0f);
    std::unique_ptr<Reverb> b = make(kind, 1.0f);
    std::vector<float> block(1200);
    for (size_t i = 0; i < block.size(); ++i) block[i] = std::sin(0.05f * static_cast<float>(i));
    std::vector<float> want(block.size());
    for (size_t i = 0; i < block.size(); ++i) want[i] = b->tick(block[i]);
    EXPECT_EQ(a->tick(block.data(), static_cast<unsigned>(block.size())), block.data());
    EXPECT_EQ(block, want) << kind_name(kind);
    float one = 42.0f;
    a->tick(&one, 0);
    EXPECT_EQ(one, 42.0f);
  }
}

// ---------------------------------------------------------------------------
// Hostile parameters.

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// Feeds a short noise burst and then silence; every output must be finite
// and modest. Returns the largest magnitude of the last `tail` samples.
float burst_then_silence(Reverb& r, int burst, int silence, int tail, const std::string& what) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
  float tail_peak = 0.0f;
  for (int i = 0; i < burst + silence; ++i) {
    float y = r.tick(i < burst ? noise(rng) : 0.0f);
    EXPECT_TRUE(std::isfinite(y)) << what << " sample " << i;
    if (!std::isfinite(y)) return kInf;
    EXPECT_LT(std::fabs(y), 1e3f) << what << " sample " << i;
    if (i >= burst + silence - tail) tail_peak = std::max(tail_peak, std::fabs(y));
  }
  return tail_peak;
}

TEST_F(SynReverbTest, HostileDecayTimesAreCorrectedAndNeverBlowUp) {
  Syn::srate = 16000.0f;
  struct Case {
    float t60;
    float used;  // the decay time the combs are built with
  };
  const Case cases[] = {
      {-1e30f, 0.0f},
      {-1.0f, 0.0f},
      {0.0f, 0.0f},
      {0.5f, 0.5f},
      {1.0f, 1.0f},
      {2.0f, 2.0f},
      {1e30f, Reverb::kMaxT60},
      {kNaN, 0.0f},
      {kInf, Reverb::kMaxT60},
      {-kInf, 0.0f},
  };
  for (const Case& c : cases) {
    for (Kind kind : kKinds) {
      std::string what = std::string(kind_name(kind)) + " T60 " + std::to_string(c.t60);
      std::unique_ptr<Reverb> r = make(kind, c.t60);
      EXPECT_EQ(r->getT60(), c.used) << what;
      for (float g : comb_gains(kind, *r)) {
        EXPECT_GE(g, 0.0f) << what;
        EXPECT_LT(g, 1.0f) << what;  // every tail dies out
        if (c.used == 0.0f) {
          EXPECT_EQ(g, 0.0f) << what;
        }
      }
      r->setEffectMix(1.0f);
      float tail = burst_then_silence(*r, 1600, 16000, 1600, what);
      // Without comb feedback only the allpasses ring, and they are quiet
      // within the second.
      if (c.used == 0.0f) {
        EXPECT_LT(tail, 1e-3f) << what;
      }
      // A long decay keeps ringing.
      if (c.used >= 1.0f) {
        EXPECT_GT(tail, 1e-3f) << what;
      }
    }
  }
}

TEST_F(SynReverbTest, HostileMixesAreStoredFiniteAndKeepTheOutputFinite) {
  Syn::srate = 16000.0f;
  struct Case {
    double mix;
    float stored;
    const char* complaint;  // the message after "<class>: ", or null
  };
  const char* kRange = "setEffectMix parameter is out of range!";
  const char* kNotNumber = "setEffectMix parameter is not a number!";
  const Case cases[] = {
      {-1e30f, -Reverb::kMaxMix, kRange},
      {-1.0f, -1.0f, nullptr},
      {0.0f, 0.0f, nullptr},
      {0.5f, 0.5f, nullptr},
      {1.0f, 1.0f, nullptr},
      {2.0f, 2.0f, nullptr},
      {1e30f, Reverb::kMaxMix, kRange},
      {kNaN, 0.0f, kNotNumber},
      {kInf, Reverb::kMaxMix, kRange},
      {1e300, Reverb::kMaxMix, kRange},  // beyond single precision
      {-kInf, -Reverb::kMaxMix, kRange},
  };
  for (const Case& c : cases) {
    for (Kind kind : kKinds) {
      std::string what = std::string(kind_name(kind)) + " mix " + std::to_string(c.mix);
      std::unique_ptr<Reverb> r = make(kind, 4.0f);
      float stored = -99.0f;
      std::vector<std::string> printed = printed_lines([&] { stored = r->setEffectMix(c.mix); });
      EXPECT_EQ(stored, c.stored) << what;
      EXPECT_EQ(r->getEffectMix(), c.stored) << what;
      std::vector<std::string> complaints;
      if (c.complaint) {
        complaints.push_back(std::string("[chip](via SYN): ") + kind_name(kind) + ": " +
                             c.complaint);
      }
      EXPECT_EQ(printed, complaints) << what;
      // Unit-sized input: at most kMaxMix times a wet signal of a few units.
      std::mt19937 rng(9);
      std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
      for (int i = 0; i < 4000; ++i) {
        float y = r->tick(i < 400 ? noise(rng) : 0.0f);
        ASSERT_TRUE(std::isfinite(y)) << what << " sample " << i;
      }
    }
  }
}

}  // namespace
