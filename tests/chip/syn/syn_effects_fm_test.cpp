// The toolkit's chorus, pitch shifter, phoneme table and FM voices on their
// own: the chorus's line and sweep, the shifter moving a sine's spectral
// peak, the FM tables and the voices' fixed and scaled operators, control
// messages, and tables of hostile parameters per setter.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <string>
#include <vector>

#include "chip/syn/syn.h"
#include "chip/syn/syn_effects.h"
#include "chip/syn/syn_fm.h"
#include "chip/syn/syn_phonemes.h"
#include "log_capture.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
const double kHostile[] = {kNaN, kInf, -kInf, 1e300, -1e300, 1e30, -1e30, 0.0, -1.0, 0.5, 2.0};

class EffectsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = Syn::srate;
    Syn::srate = 44100.0f;
  }
  void TearDown() override { Syn::srate = saved; }
  float saved = 44100.0f;
};

// ---------------------------------------------------------------------------
// Chorus

TEST_F(EffectsTest, ChorusLineAndSweep) {
  Chorus c(3000.0f);
  EXPECT_EQ(c.delayLine->getMaximumDelay(), 15002);
  EXPECT_EQ(c.delayLine->getDelay(), 3000.0f);
  EXPECT_EQ(c.modulator.frequency, 0.25f);
  EXPECT_EQ(c.modDepth, 0.5f);
  EXPECT_EQ(c.effectMix, 0.5f);
  // A fast sweep shows its span: 0 .. base x depth.
  c.setModFrequency(441.0);
  float low = 1e9f, high = -1e9f;
  for (int i = 0; i < 400; i++) {
    c.tick(0.0f);
    low = std::min(low, c.delayLine->getDelay());
    high = std::max(high, c.delayLine->getDelay());
  }
  EXPECT_NEAR(low, 0.0f, 1.0f);
  EXPECT_NEAR(high, 1500.0f, 1.0f);
  c.setModDepth(0.0);
  for (int i = 0; i < 10; i++) {
    c.tick(0.25f);
    EXPECT_EQ(c.delayLine->getDelay(), 0.0f);
  }
}

TEST_F(EffectsTest, ChorusMixesDryAndWet) {
  Chorus dry(3000.0f), wet(3000.0f);
  printed_lines([&] {
    dry.setEffectMix(0.0);
    wet.setEffectMix(1.0);
  });
  for (int i = 0; i < 2000; i++) {
    const float x = std::sin(0.01f * i);
    EXPECT_EQ(dry.tick(x), x);
    const float y = wet.tick(x);
    EXPECT_EQ(y, wet.delayLine->lastOut());
  }
}

TEST_F(EffectsTest, ChorusSettersTakeHostileValues) {
  for (double v : kHostile) {
    SCOPED_TRACE(v);
    Chorus c(3000.0f);
    const float depth = c.modDepth, base = c.baseLength, mix = c.effectMix;
    printed_lines([&] {
      c.setModDepth(v);
      c.setBaseLength(v);
      c.setModFrequency(v);
      c.setEffectMix(v);
      c.set(v, v);
      c.set(v, 0.5);
    });
    if (!std::isfinite(v)) {
      EXPECT_EQ(c.modDepth, depth);
      EXPECT_EQ(c.baseLength, base);
      EXPECT_EQ(c.modulator.frequency, 0.25f);
    }
    EXPECT_TRUE(c.effectMix >= 0.0f && c.effectMix <= 1.0f);
    if (std::isnan(v)) {
      EXPECT_EQ(c.effectMix, mix);
    }
    ASSERT_TRUE(c.delayLine);
    EXPECT_LE(c.delayLine->getMaximumDelay(), Delay::kMaxDelay);
    printed_lines([&] {
      for (int i = 0; i < 50; i++) ASSERT_TRUE(std::isfinite(c.tick(0.5f)));
    });
  }
  Chorus c(3000.0f);
  EXPECT_EQ(printed_lines([&] { EXPECT_EQ(c.setEffectMix(-0.5), 0.0f); }),
            std::vector<std::string>{"[chip](via SYN): Chorus: setEffectMix parameter is less "
                                     "than zero!"});
  EXPECT_EQ(printed_lines([&] { EXPECT_EQ(c.setEffectMix(1.5), 1.0f); }),
            std::vector<std::string>{"[chip](via SYN): Chorus: setEffectMix parameter is greater "
                                     "than 1.0!"});
}

// ---------------------------------------------------------------------------
// PitShift

TEST_F(EffectsTest, PitShiftStartsAtRateOneAndShiftOneDelays512) {
  PitShift p;
  EXPECT_EQ(p.getShift(), 0.0f);
  EXPECT_EQ(p.rate, 1.0f);
  p.tick(0.0f);
  EXPECT_EQ(p.delays[0], 13.0f);
  EXPECT_EQ(p.setShift(1.0), 1.0f);
  std::vector<float> out;
  for (int n = 0; n < 600; n++) out.push_back(p.tick(n == 0 ? 1.0f : 0.0f));
  EXPECT_EQ(p.delays[0], 512.0f);
  EXPECT_EQ(p.delays[1], 1012.0f);
  EXPECT_FLOAT_EQ(out[0], 0.5f);
  for (int n = 1; n < 600; n++) EXPECT_FLOAT_EQ(out[n], n == 512 ? 0.5f : 0.0f) << n;
}

// The frequency of the largest DFT magnitude (Hann window) of x.
double peak_frequency(const std::vector<float>& x, double rate) {
  const size_t n = x.size();
  double best = 0.0, at = 0.0;
  for (size_t k = 1; k < n / 2; k++) {
    std::complex<double> sum = 0.0;
    for (size_t i = 0; i < n; i++) {
      const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * i / n);
      sum += w * x[i] * std::polar(1.0, -2.0 * M_PI * double(k * i) / n);
    }
    if (std::abs(sum) > best) {
      best = std::abs(sum);
      at = k * rate / n;
    }
  }
  return at;
}

TEST_F(EffectsTest, PitShiftMovesASinesPeakByItsFactor) {
  // 16 periods in the 1000 samples between the read delays' wraps, so a
  // wrap joins the sine without a phase step.
  const double f = 705.6;
  for (double shift : {2.0, 0.5}) {
    PitShift p;
    p.setShift(shift);
    p.setEffectMix(1.0);
    std::vector<float> out;
    for (int i = 0; i < 4410 + 2048; i++) {
      const float y = p.tick(static_cast<float>(std::sin(2.0 * M_PI * f * i / 44100.0)));
      if (i >= 2048) out.push_back(y);
    }
    EXPECT_NEAR(peak_frequency(out, 44100.0), f * shift, 11.0) << shift;
  }
}

TEST_F(EffectsTest, PitShiftTakesHostileShiftsAndMixes) {
  for (double v : kHostile) {
    SCOPED_TRACE(v);
    PitShift p;
    p.setShift(0.75);
    printed_lines([&] {
      p.setShift(v);
      p.setEffectMix(v);
    });
    if (!std::isfinite(v)) {
      EXPECT_EQ(p.getShift(), 0.75f);
    }
    EXPECT_TRUE(p.effectMix >= 0.0f && p.effectMix <= 1.0f);
    for (int i = 0; i < 100; i++) {
      ASSERT_TRUE(std::isfinite(p.tick(0.5f)));
      ASSERT_TRUE(p.delays[0] >= 12.0f && p.delays[0] <= 1012.0f) << p.delays[0];
      ASSERT_TRUE(p.delays[1] >= 12.0f && p.delays[1] <= 1012.0f) << p.delays[1];
    }
  }
  EXPECT_EQ(PitShift::wrapDelay(1012.5), 12.5f);
  EXPECT_EQ(PitShift::wrapDelay(11.0), 1011.0f);
  EXPECT_EQ(PitShift::wrapDelay(1e30), PitShift::wrapDelay(1e30));
}

// ---------------------------------------------------------------------------
// Phonemes

TEST_F(EffectsTest, PhonemeTableAndItsAccessors) {
  EXPECT_STREQ(Phonemes::name(0), "eee");
  EXPECT_STREQ(Phonemes::name(31), "zhh");
  EXPECT_EQ(Phonemes::find("ohh"), 6);
  EXPECT_EQ(Phonemes::find("OHH"), -1);
  EXPECT_EQ(Phonemes::formantFrequency(9, 0), 349.0f);
  EXPECT_EQ(Phonemes::formantRadius(4, 1), 0.97f);
  EXPECT_EQ(Phonemes::formantGain(4, 3), -39.0f);
  EXPECT_EQ(Phonemes::voiceGain(16), 0.0f);
  EXPECT_EQ(Phonemes::noiseGain(16), 0.7f);
  const struct {
    int index, partial;
    std::string message;
  } bad[] = {{32, 0, "formantFrequency index is greater than 31!"},
             {-1, 0, "formantFrequency index is less than zero!"},
             {0, 4, "formantFrequency partial is greater than 3!"},
             {0, -1, "formantFrequency partial is less than zero!"}};
  for (const auto& b : bad) {
    EXPECT_EQ(
        printed_lines([&] { EXPECT_EQ(Phonemes::formantFrequency(b.index, b.partial), 0.0f); }),
        std::vector<std::string>{"[chip](via SYN): Phonemes: " + b.message});
  }
  const std::vector<std::string> five = {
      "[chip](via SYN): Phonemes: formantRadius index is less than zero!",
      "[chip](via SYN): Phonemes: formantGain index is greater than 31!",
      "[chip](via SYN): Phonemes: voiceGain index is less than zero!",
      "[chip](via SYN): Phonemes: noiseGain index is greater than 31!"};
  EXPECT_EQ(printed_lines([] {
              EXPECT_EQ(Phonemes::formantRadius(-5, 0), 0.0f);
              EXPECT_EQ(Phonemes::formantGain(40, 0), 0.0f);
              EXPECT_EQ(Phonemes::voiceGain(-2147483647 - 1), 0.0f);
              EXPECT_EQ(Phonemes::noiseGain(32), 0.0f);
            }),
            five);
}

// ---------------------------------------------------------------------------
// FM

TEST_F(EffectsTest, FmTablesFollowTheirFormulas) {
  Rhodey fm;
  for (int i = 0; i < 100; i++) {
    EXPECT_NEAR(fm.fmGains[i], std::pow(0.933033, 99 - i), 2e-6 * std::pow(0.933033, 99 - i)) << i;
  }
  const struct {
    int index;
    double value;
  } listed[] = {{99, 1.0},      {95, 0.757858}, {94, 0.707107}, {93, 0.659754}, {92, 0.615572},
                {91, 0.574349}, {90, 0.535887}, {85, 0.378929}, {82, 0.307786}, {80, 0.267943},
                {76, 0.203063}, {71, 0.143587}, {68, 0.116629}, {67, 0.108819}};
  for (const auto& l : listed) EXPECT_NEAR(fm.fmGains[l.index], l.value, 1e-6) << l.index;
  const double sustain[] = {1.0,       0.707101,  0.4999918, 0.3535447, 0.2499918, 0.1767695,
                            0.1249939, 0.0883833, 0.0624959, 0.0441909, 0.0312474, 0.0220951,
                            0.0156235, 0.0110474, 0.0078116, 0.0055236};
  for (int j = 0; j < 16; j++) EXPECT_NEAR(fm.fmSusLevels[15 - j], sustain[j], 1e-7) << j;
}

TEST_F(EffectsTest, WurleyKeepsFixedOperatorsAndRhodeyDoubles) {
  Wurley w;
  for (float f : {220.0f, 440.0f, 1000.0f}) {
    w.noteOn(f, 0.8f);
    EXPECT_EQ(w.waves[0]->frequency, f);
    EXPECT_EQ(w.waves[1]->frequency, 4.0f * f);
    EXPECT_EQ(w.waves[2]->frequency, -510.0f);
    EXPECT_EQ(w.waves[3]->frequency, -510.0f);
    EXPECT_FLOAT_EQ(w.gains[2], 0.8f * w.fmGains[82]);
  }
  Rhodey r;
  r.noteOn(330.0f, 1.0f);
  EXPECT_EQ(r.m_frequency, 330.0);
  EXPECT_EQ(r.waves[0]->frequency, 660.0f);
  EXPECT_EQ(r.waves[1]->frequency, 330.0f);
  EXPECT_EQ(r.waves[3]->frequency, 15.0f * 660.0f);
}

TEST_F(EffectsTest, EveryVoiceSoundsAfterANote) {
  std::vector<std::unique_ptr<FM>> voices;
  voices.push_back(std::make_unique<BeeThree>());
  voices.push_back(std::make_unique<FMVoices>());
  voices.push_back(std::make_unique<HevyMetl>());
  voices.push_back(std::make_unique<PercFlut>());
  voices.push_back(std::make_unique<Rhodey>());
  voices.push_back(std::make_unique<TubeBell>());
  voices.push_back(std::make_unique<Wurley>());
  for (auto& v : voices) {
    v->noteOn(330.0f, 0.9f);
    double energy = 0.0;
    for (int i = 0; i < 4410; i++) {
      const float y = v->tick();
      ASSERT_TRUE(std::isfinite(y));
      energy += y * y;
    }
    EXPECT_GT(energy, 1.0);
  }
}

TEST_F(EffectsTest, FmControlsAndTheirMessages) {
  Rhodey fm;
  const struct {
    int number;
    double value;
    std::vector<std::string> lines;
  } cases[] = {
      {2, 64, {}},
      {2, 200, {"[chip](via SYN): FM: Control value greater than 128.0!"}},
      {4, -3, {"[chip](via SYN): FM: Control value less than zero!"}},
      {7, 10, {"[chip](via SYN): FM: Undefined Control Number (7)!!"}},
      {2, kNaN, {"[chip](via SYN): FM: Control value is not a number!"}},
  };
  const float control1[] = {1.0f, 2.0f, 2.0f, 2.0f, 2.0f};
  for (size_t i = 0; i < 5; i++) {
    EXPECT_EQ(printed_lines([&] { fm.controlChange(cases[i].number, float(cases[i].value)); }),
              cases[i].lines);
    EXPECT_EQ(fm.control1, control1[i]) << i;
  }
  EXPECT_EQ(fm.control2, 0.0f);
  fm.controlChange(11, 64);
  EXPECT_EQ(fm.vibrato.frequency, 6.0f);
  fm.controlChange(128, 32);
  EXPECT_EQ(fm.adsr[1]->target, 0.25f);
  EXPECT_EQ(fm.adsr[3]->target, 0.25f);
  EXPECT_EQ(printed_lines([&] { fm.setRatio(4, 2.0f); }),
            std::vector<std::string>{"[chip](via SYN): FM: setRatio waveIndex parameter is greater "
                                     "than the number of operators!"});
  EXPECT_EQ(printed_lines([&] { fm.setRatio(-1, 2.0f); }),
            std::vector<std::string>{"[chip](via SYN): FM: setRatio waveIndex parameter is less "
                                     "than zero!"});
  Wurley w;
  w.controlChange(3, 2.0f);
  const float decays[] = {3.0f, 3.0f, 0.5f, 0.3f};
  for (int k = 0; k < 4; k++) EXPECT_FLOAT_EQ(w.adsr[k]->decayTime, decays[k]) << k;
  auto lines = printed_lines([] {
    try {
      struct Operators : FM {
        explicit Operators(int n) : FM(n) {}
        void noteOn(float, float) override {}
        float tick() override { return 0.0f; }
      };
      Operators bad(0);
    } catch (const SynError& e) {
      EXPECT_EQ(e.getType(), SynError::FUNCTION_ARGUMENT);
    }
  });
  EXPECT_EQ(lines, std::vector<std::string>{"[chip](via FM): Invalid number of operators (0) "
                                            "argument to constructor!"});
}

TEST_F(EffectsTest, FmVoicesVowelsAndFrequencies) {
  FMVoices v;
  EXPECT_EQ(v.m_frequency, 110.0);
  // Vowel 40 (control 4 at 40): row 8 at factor 1.0... as norm 40/128.
  v.controlChange(4, 40.0f);
  EXPECT_EQ(v.currentVowel, 40);
  EXPECT_EQ(v.ratios[0], float(int(1.0f * Phonemes::formantFrequency(8, 0) / 110.0f + 0.5f)));
  auto lines = printed_lines([&] { v.controlChange(4, 128.0f); });
  EXPECT_EQ(lines, std::vector<std::string>(
                       3, "[chip](via SYN): Phonemes: formantFrequency index is greater than 31!"));
  for (int k = 0; k < 3; k++) EXPECT_EQ(v.waves[k]->frequency, 0.0f);
  v.controlChange(4, 40.0f);
  EXPECT_EQ(printed_lines([&] { v.setFrequency(0.0f); }),
            std::vector<std::string>{"[chip](via SYN): FMVoices: setFrequency parameter is less "
                                     "than or equal to zero!"});
  EXPECT_EQ(v.m_frequency, 220.0);
  EXPECT_EQ(printed_lines([&] { v.controlChange(2, float(kNaN)); }),
            std::vector<std::string>{"[chip](via SYN): FMVoices: Control value is not a number!"});
  v.controlChange(2, 128.0f);
  EXPECT_EQ(v.gains[3], v.fmGains[99]);
  v.controlChange(128, 64.0f);
  EXPECT_FLOAT_EQ(v.tilt[2], 0.125f);
}

TEST_F(EffectsTest, BeeThreeWithoutDepthNeverTicksItsVibrato) {
  BeeThree b;
  b.noteOn(440.0f, 1.0f);
  for (int i = 0; i < 100; i++) b.tick();
  EXPECT_EQ(b.vibrato.getTime(), 0.0);
  b.setModulationDepth(0.5f);
  b.tick();
  EXPECT_GT(b.vibrato.getTime(), 0.0);
}

TEST_F(EffectsTest, BareFmSaysOnceThatItsTickIsVirtual) {
  BareFM fm;
  auto lines = printed_lines([&] {
    for (int i = 0; i < 100; i++) EXPECT_EQ(fm.tick(), 0.0f);
  });
  EXPECT_EQ(lines, std::vector<std::string>{"[chip](via SYN): error : FM tick is virtual!"});
}

// Every setter of every voice fed hostile values: nothing hangs, no NaN
// reaches a table index, and the clamped controls keep the output finite.
TEST_F(EffectsTest, FmSettersTakeHostileValues) {
  for (double v : kHostile) {
    SCOPED_TRACE(v);
    std::vector<std::unique_ptr<FM>> voices;
    voices.push_back(std::make_unique<BeeThree>());
    voices.push_back(std::make_unique<FMVoices>());
    voices.push_back(std::make_unique<HevyMetl>());
    voices.push_back(std::make_unique<PercFlut>());
    voices.push_back(std::make_unique<Rhodey>());
    voices.push_back(std::make_unique<TubeBell>());
    voices.push_back(std::make_unique<Wurley>());
    for (auto& fm : voices) {
      printed_lines([&] {
        fm->noteOn(220.0f, 0.5f);
        for (int number : {1, 2, 3, 4, 11, 128, 7}) fm->controlChange(number, float(v));
        fm->setModulationSpeed(float(v));
        fm->setModulationDepth(std::isfinite(v) ? 0.5f : float(v));
        for (int i = 0; i < 50; i++) ASSERT_TRUE(std::isfinite(fm->tick()));
        fm->setFrequency(float(v));
        fm->noteOn(float(v), 0.5f);
        fm->setControl1(float(v));
        fm->setControl2(float(v));
        for (int i = 0; i < 50; i++) fm->tick();
      });
    }
  }
}

}  // namespace
