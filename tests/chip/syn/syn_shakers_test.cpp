// Shakers on its own, with a seeded rand(): the energy numbers, preset
// selection by note, silence at the energy threshold and after the decay
// time, spectra that peak at the preset's resonances, and hostile controls
// and presets after which the output stays finite and the shaker recovers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "chip/syn/syn.h"
#include "chip/syn/syn_shakers.h"
#include "log_capture.h"
#include "spectrum_support.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

class ShakersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = Syn::srate;
    Syn::srate = 44100.0f;
    std::srand(12345);
  }
  void TearDown() override { Syn::srate = saved; }
  float saved = 44100.0f;
};

TEST_F(ShakersTest, EnergyAndPresetNumbers) {
  Shakers s;
  s.cp_noteOn(1.0f);
  EXPECT_EQ(s.excitation, 200.0f);
  for (int i = 0; i < 12; i++) s.cp_noteOn(1.0f);
  EXPECT_EQ(s.excitation, 2000.0f);

  Shakers t;
  t.noteOn(220.0f, 0.5f);  // note 57 -> 25 -> preset 2
  EXPECT_EQ(t.which, 2);
  EXPECT_EQ(t.activePreset, 2);
  EXPECT_EQ(t.excitation, 100.0f);

  Shakers u;
  EXPECT_EQ(u.setupNum(23), 0);
  EXPECT_EQ(u.setupNum(27), 4);
  EXPECT_EQ(u.activePreset, 0);  // switches at the next noteOn
  u.cp_noteOn(1.0f);
  EXPECT_EQ(u.activePreset, 4);
  EXPECT_EQ(u.setupNum(-5), 0);
  u.setupNum(14);
  EXPECT_EQ(u.resonanceCount, 7);
  for (int p = 15; p <= 19; p++) {
    u.setupNum(p);
    EXPECT_EQ(u.resonanceCount, 6) << p;
  }
}

TEST_F(ShakersTest, SilentAtTheThresholdAndAfterTheDecayTime) {
  Shakers s;  // preset 0: system decay 0.999
  s.excitation = 0.3f;
  for (int i = 0; i < 100; i++) EXPECT_EQ(s.tick(), 0.0f);

  const float decays[] = {0.999f, 0.997f};
  const int presets[] = {0, 1};
  for (int k = 0; k < 2; k++) {
    SCOPED_TRACE(presets[k]);
    Shakers t;
    t.setupNum(presets[k]);
    t.cp_noteOn(1.0f);
    ASSERT_EQ(t.systemDecayFactor, decays[k]);
    const double n = std::log(0.3 / 200.0) / std::log(double(decays[k]));
    const int silent_from = int(std::ceil(n)) + 2;
    bool sounded = false;
    for (int i = 0; i < silent_from + 2000; i++) {
      const float y = t.tick();
      if (i < silent_from - 4) {
        EXPECT_GT(t.excitation, 0.3f);
        sounded = sounded || y != 0.0f;
      }
      if (i >= silent_from) {
        ASSERT_EQ(y, 0.0f) << i;
      }
    }
    EXPECT_TRUE(sounded);
  }
}

TEST_F(ShakersTest, SpectraPeakAtThePresetResonances) {
  struct Case {
    int preset;
    std::vector<double> resonances;
  };
  const Case cases[] = {{13, {2123, 4518, 8856, 10753}},
                        {22, {1046.6, 1174.8, 1397, 1568, 1760, 2093.3, 2350}},
                        {12, {370, 1025, 1424, 2149, 3596}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.preset);
    Shakers s;
    s.setupNum(c.preset);
    std::vector<float> out;
    for (int i = 0; i < 64 * 8192; i++) {
      if (i % 2048 == 0) s.cp_noteOn(1.0f);  // keep shaking
      out.push_back(s.tick());
    }
    const size_t n = 8192;
    const std::vector<double> power = spectrum::averaged_power(out, n);
    for (double f : c.resonances) {
      SCOPED_TRACE(f);
      EXPECT_NEAR(spectrum::peak_in_band(power, n, 44100.0, f * 0.96, f * 1.04), f, f * 0.015);
    }
  }
}

TEST_F(ShakersTest, NoteFrequenciesThatAreNotPositiveSelectNoPreset) {
  const float frequencies[] = {0.0f, -220.0f, kNaN, kInf, -kInf};
  for (float f : frequencies) {
    SCOPED_TRACE(f);
    Shakers s;
    s.setupNum(5);
    s.cp_noteOn(0.0f);
    s.noteOn(f, 1.0f);
    EXPECT_EQ(s.activePreset, 5);
    EXPECT_EQ(s.excitation, 200.0f);
  }
  Shakers s;
  s.noteOn(3e38f, 1.0f);  // a huge note still names a preset
  EXPECT_GE(s.activePreset, 0);
  EXPECT_LT(s.activePreset, 23);
}

TEST_F(ShakersTest, Control1071IsReducedLikeSetupNum) {
  const float values[] = {1e9f, -10.0f, 23.0f, 45.4f, 3e38f, -3e38f};
  for (float v : values) {
    SCOPED_TRACE(v);
    Shakers s;
    printed_lines([&] {
      s.controlChange(1071, v);
      s.controlChange(4, 100.0f);
      s.controlChange(11, 100.0f);
    });
    EXPECT_GE(s.activePreset, 0);
    EXPECT_LT(s.activePreset, 23);
    EXPECT_EQ(s.activePreset, s.which);
    s.cp_noteOn(1.0f);
    for (int i = 0; i < 2000; i++) ASSERT_TRUE(std::isfinite(s.tick()));
  }
  Shakers s;
  s.controlChange(1071, 45.4f);  // 45 mod 23
  EXPECT_EQ(s.activePreset, 22);
}

TEST_F(ShakersTest, DecayControlStaysBelowOne) {
  Shakers s;  // preset 0
  printed_lines([&] { s.controlChange(4, 256.0f); });  // decay(2)
  EXPECT_LT(s.systemDecayFactor, 1.0f);
  s.controlChange(4, 64.0f);  // the preset's default, gains x (64/100 + 0.36)
  EXPECT_FLOAT_EQ(s.systemDecayFactor, 0.999f);
  const float g = std::log(25.0f) * 20.0f / 25.0f;
  EXPECT_FLOAT_EQ(s.gains[0], g * (64.0f / 100.0f + 0.36f));
  printed_lines([&] { s.controlChange(4, 1e6f); });
  EXPECT_LT(s.systemDecayFactor, 1.0f);
  for (int i = 0; i < 10; i++) s.cp_noteOn(1.0f);
  int last_sound = -1;
  for (int i = 0; i < 200000; i++) {
    const float y = s.tick();
    ASSERT_TRUE(std::isfinite(y));
    if (y != 0.0f) last_sound = i;
  }
  EXPECT_GE(last_sound, 0);
  EXPECT_LE(s.excitation, 2000.0f);
}

TEST_F(ShakersTest, HostileObjectsScrapesAndTuning) {
  const float values[] = {-5.0f, -1e6f, 1e6f, 3e38f, -3e38f, kNaN, kInf, 0.0f, 128.0f};
  const int numbers[] = {11, 2, 128, 1, 4};
  const int presets[] = {0, 3, 5, 10, 4, 22};
  for (int p : presets) {
    for (int number : numbers) {
      for (float v : values) {
        SCOPED_TRACE(::testing::Message() << p << " " << number << " " << v);
        Shakers s;
        s.setupNum(p);
        s.cp_noteOn(1.0f);
        printed_lines([&] { s.controlChange(number, v); });
        for (int i = 0; i < 8; i++) EXPECT_TRUE(std::isfinite(s.gains[i]));
        EXPECT_GE(s.scrapeCount, 0);
        for (int i = 0; i < 3000; i++) ASSERT_TRUE(std::isfinite(s.tick()));
        // Recovery: the preset installed afresh sounds again.
        s.noteOff(0.0f);
        s.controlChange(1071, float(p));
        if (p == 3 || p == 10) {  // a ratchet needs a scrape to move
          s.lastScrape = 0;
          printed_lines([&] { s.controlChange(2, 64.0f); });
        }
        double e = 0.0;
        for (int k = 0; k < 20; k++) {
          s.cp_noteOn(1.0f);
          for (int i = 0; i < 1000; i++) {
            const float y = s.tick();
            ASSERT_TRUE(std::isfinite(y));
            e += double(y) * y;
          }
        }
        EXPECT_GT(e, 0.0);
      }
    }
  }
}

TEST_F(ShakersTest, ChimeIndexBelongsToEachInstance) {
  // Two chime shakers sound at once: a collides and picks chimes at
  // random; b never collides (no objects) and keeps ringing the chime it
  // last struck, whatever a picks.
  Shakers a, b;
  a.setupNum(22);
  b.setupNum(22);
  a.cp_noteOn(1.0f);
  b.cp_noteOn(1.0f);
  b.objectCount = 0.0f;
  b.soundLevel = 100.0f;
  b.chime = 3;
  for (int i = 0; i < 20000; i++) {
    a.tick();
    b.tick();
    for (int r = 0; r < 7; r++) {
      if (r == 3) continue;
      ASSERT_EQ(b.outputs[r][0], 0.0f) << i;
    }
  }
  EXPECT_EQ(b.chime, 3);
  EXPECT_NE(b.outputs[3][0], 0.0f);
}

TEST_F(ShakersTest, RatchetStopsAtNoteOff) {
  Shakers s;
  s.setupNum(3);
  s.cp_noteOn(1.0f);
  EXPECT_EQ(s.activePreset, 3);
  EXPECT_GT(s.scrapeCount, 0);
  for (int i = 0; i < 500; i++) s.tick();
  s.noteOff(0.0f);
  EXPECT_EQ(s.scrapeCount, 0);
  for (int i = 0; i < 100; i++) EXPECT_EQ(s.tick(), 0.0f);
}

}  // namespace
