// The modal bar, the Moog voice and the formant voice on their own: mode
// frequencies and decay times measured in what a strike plays, pitch after
// the glide, formant peaks of the unvoiced source, the phoneme-number
// control, and tables of hostile settings after which the output stays
// finite and the instrument recovers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "chip/syn/syn.h"
#include "chip/syn/syn_modal.h"
#include "chip/syn/syn_moog.h"
#include "chip/syn/syn_phonemes.h"
#include "chip/syn/syn_voicform.h"
#include "log_capture.h"
#include "spectrum_support.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

class ModalVoiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = Syn::srate;
    Syn::srate = 44100.0f;
  }
  void TearDown() override { Syn::srate = saved; }
  float saved = 44100.0f;
};

template <typename T>
std::vector<float> play(T& instrument, size_t n) {
  std::vector<float> out(n);
  for (float& y : out) y = instrument.tick();
  return out;
}

// The energy of one mode filter's output over [from, from + count).
double mode_energy(const std::vector<float>& y, size_t from, size_t count) {
  double e = 0.0;
  for (size_t i = from; i < from + count; i++) e += double(y[i]) * y[i];
  return e;
}

// ---------------------------------------------------------------------------
// ModalBar

TEST_F(ModalVoiceTest, ModalBarPeaksSitAtTheModeFrequencies) {
  ModalBar bar;  // preset 0: ratios 1, 3.99, 10.65 and 2443 Hz absolute
  bar.directGain = 0.0f;
  bar.noteOn(440.0f, 1.0f);
  play(bar, 2048);  // past the strike wave
  const std::vector<float> ring = play(bar, 16384);
  const double expected[4] = {440.0, 440.0 * 3.99, 440.0 * 10.65, 2443.0};
  for (double f : expected) {
    SCOPED_TRACE(f);
    const double peak = spectrum::dtft_peak_near(ring, f, 44100.0);
    EXPECT_NEAR(peak, f, f * 0.002);
  }
  // An absolute mode does not follow the note.
  bar.noteOn(300.0f, 1.0f);
  play(bar, 2048);
  const std::vector<float> lower = play(bar, 16384);
  EXPECT_NEAR(spectrum::dtft_peak_near(lower, 2443.0, 44100.0), 2443.0, 2443.0 * 0.002);
  EXPECT_NEAR(spectrum::dtft_peak_near(lower, 300.0, 44100.0), 300.0, 300.0 * 0.002);
}

TEST_F(ModalVoiceTest, ModalBarModesRingForTheirT60AndShorterWhenDamped) {
  ModalBar bar;
  bar.noteOn(440.0f, 1.0f);
  const size_t n = 12000;
  std::vector<std::vector<float>> modes(4, std::vector<float>(n));
  for (size_t k = 0; k < n; k++) {
    bar.tick();
    for (int i = 0; i < 4; i++) modes[i][k] = bar.filters[i].lastOut();
  }
  for (int i = 0; i < 4; i++) {
    SCOPED_TRACE(i);
    const double expected = 3.0 * std::log(10.0) / -std::log(double(bar.radii[i]));
    const size_t from = 3000, gap = 6000, window = 1000;
    const double ratio = mode_energy(modes[i], from, window) /
                         mode_energy(modes[i], from + gap, window);
    const double per_sample = std::log(ratio) / 2.0 / double(gap);
    EXPECT_NEAR(3.0 * std::log(10.0) / per_sample, expected, expected * 0.05);
  }
  // Damping by 0.99 shortens every mode to the damped radius's T60; the
  // stored radii stay.
  bar.damp(0.99f);
  EXPECT_EQ(bar.radii[0], 0.9996f);
  const size_t m = 1200;
  std::vector<std::vector<float>> damped(4, std::vector<float>(m));
  for (size_t k = 0; k < m; k++) {
    bar.tick();
    for (int i = 0; i < 4; i++) damped[i][k] = bar.filters[i].lastOut();
  }
  for (int i = 0; i < 4; i++) {
    SCOPED_TRACE(i);
    const double r = double(bar.radii[i]) * 0.99;
    const double expected = 3.0 * std::log(10.0) / -std::log(r);
    const double ratio = mode_energy(damped[i], 100, 200) / mode_energy(damped[i], 700, 200);
    const double measured = 3.0 * std::log(10.0) / (std::log(ratio) / 2.0 / 600.0);
    EXPECT_NEAR(measured, expected, expected * 0.05);
    EXPECT_LT(measured, 3.0 * std::log(10.0) / -std::log(double(bar.radii[i])));
  }
}

// A strike at 0.8 stays in a musical range on every preset, low notes to
// high: loud enough to hear, never far past full scale (vibrato and the
// modes' beating included, over two seconds of ringing).
TEST_F(ModalVoiceTest, ModalBarStrikeAtPointEightStaysNearFullScale) {
  const float notes[] = {55.0f, 110.0f, 220.0f, 440.0f, 880.0f, 1760.0f, 3520.0f};
  for (int preset = 0; preset < 9; preset++) {
    double loudest = 0.0;
    for (float f : notes) {
      SCOPED_TRACE(::testing::Message() << "preset " << preset << " at " << f << " Hz");
      ModalBar bar;
      bar.setPreset(preset);
      bar.noteOn(f, 0.8f);
      double peak = 0.0;
      for (float y : play(bar, 88200)) peak = std::max(peak, double(std::fabs(y)));
      EXPECT_LE(peak, 1.0);
      loudest = std::max(loudest, peak);
    }
    EXPECT_GE(loudest, 0.3) << "preset " << preset;
  }
}

// After noteOff the bar falls silent and stays so: the strike wave, held at
// its last sample once read, ends on zero, so nothing keeps feeding the
// direct path or the modes.
TEST_F(ModalVoiceTest, ModalBarFallsSilentAfterNoteOff) {
  for (int preset = 0; preset < 9; preset++) {
    SCOPED_TRACE(preset);
    ModalBar bar;
    bar.setPreset(preset);
    bar.noteOn(440.0f, 0.8f);
    play(bar, 4410);
    bar.noteOff(0.5f);
    const std::vector<float> after = play(bar, 44100);
    size_t loud = 0;  // one past the last sample at or above 1e-6
    for (size_t i = 0; i < after.size(); i++) {
      if (std::fabs(after[i]) >= 1e-6f) loud = i + 1;
    }
    EXPECT_LE(loud, 2000u);
    EXPECT_TRUE(bar.wave->isFinished());
    EXPECT_EQ(bar.wave->lastOut(), 0.0f);
  }
}

TEST_F(ModalVoiceTest, ModalBarHalvesARatioAboveNyquist) {
  ModalBar bar;
  bar.setRatioAndRadius(2, 60.0f, 0.999f);
  EXPECT_EQ(bar.ratios[2], 30.0f);  // 60 x 440 > 22050 >= 30 x 440
  bar.setRatioAndRadius(3, -3000.0f, 0.999f);
  EXPECT_EQ(bar.ratios[3], -3000.0f);  // absolute modes are never halved
}

TEST_F(ModalVoiceTest, ModalBarPresetsAndControls) {
  ModalBar bar;
  printed_lines([&] { bar.setPreset(10); });
  EXPECT_EQ(bar.vibratoGain, 0.2f);  // row 1
  EXPECT_EQ(bar.radii[0], 0.99995f);
  bar.setPreset(-1);  // the non-negative remainder: row 8
  EXPECT_EQ(bar.ratios[1], 1.217f);
  bar.setPreset(-10);  // row 8 again
  EXPECT_EQ(bar.ratios[1], 1.217f);
  bar.setPreset(1000000000);  // 10^9 = 9 x 111111111 + 1: row 1
  EXPECT_EQ(bar.ratios[1], 2.01f);
  bar.controlChange(16, 3.7f);  // row 3
  EXPECT_EQ(bar.ratios[1], 2.777f);
  EXPECT_EQ(bar.radii[3], 0.99f);
  bar.setStickHardness(0.0f);
  EXPECT_FLOAT_EQ(bar.masterGain, 0.1f);
  EXPECT_FLOAT_EQ(bar.wave->rate, 0.25f);
  bar.setStickHardness(1.0f);
  EXPECT_FLOAT_EQ(bar.masterGain, 1.9f);
  EXPECT_FLOAT_EQ(bar.wave->rate, 1.0f);
  const auto lines = printed_lines([&] { bar.strike(1.5f); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "[chip](via SYN): Modal: strike amplitude is greater than 1.0!");
  EXPECT_EQ(bar.strikeFilter.b[0], 1.0f);  // pole 0
}

TEST_F(ModalVoiceTest, ModalBarRefusesNonFiniteRatiosAndFrequencies) {
  ModalBar bar;
  const float ratio = bar.ratios[1];
  const auto lines = printed_lines([&] {
    bar.setRatioAndRadius(1, kInf, 0.999f);
    bar.setRatioAndRadius(1, kNaN, 0.999f);
    bar.setFrequency(kInf);
    bar.setFrequency(kNaN);
  });
  EXPECT_EQ(lines.size(), 4u);
  EXPECT_EQ(bar.ratios[1], ratio);
  EXPECT_EQ(bar.baseFrequency, 440.0f);
  // A huge finite frequency halves a bounded number of times.
  bar.setFrequency(3e38f);
  for (int i = 0; i < 4; i++) EXPECT_TRUE(std::isfinite(bar.ratios[i]));
  bar.setFrequency(440.0f);
}

TEST_F(ModalVoiceTest, ModalBarPoleRadiiStayBelowOne) {
  // Radii at or above 1 (as set, or through damp) never ring up.
  const float radii[] = {1.0f, 1.5f, -2.0f, 1e30f};
  for (float r : radii) {
    SCOPED_TRACE(r);
    ModalBar bar;
    for (int i = 0; i < 4; i++) bar.setRatioAndRadius(i, bar.ratios[i], r);
    EXPECT_EQ(bar.radii[0], r);  // stored as set
    bar.noteOn(440.0f, 1.0f);
    play(bar, 1000);
    const double early = mode_energy(play(bar, 2000), 0, 2000);
    play(bar, 20000);
    const double late = mode_energy(play(bar, 2000), 0, 2000);
    EXPECT_TRUE(std::isfinite(late));
    EXPECT_LE(late, early * 1.01);
  }
  ModalBar bar;
  bar.noteOn(440.0f, 1.0f);
  bar.damp(2.0f);
  play(bar, 1000);
  const double early = mode_energy(play(bar, 2000), 0, 2000);
  play(bar, 20000);
  EXPECT_LE(mode_energy(play(bar, 2000), 0, 2000), early * 1.01);
}

TEST_F(ModalVoiceTest, ModalBarHostileControlsKeepTheOutputFinite) {
  const float values[] = {kNaN, kInf, -kInf, 1e6f, -1e6f, 3e38f, -3e38f, 0.0f, 64.0f};
  const int numbers[] = {1, 2, 4, 7, 11, 16, 128, 99};
  for (int number : numbers) {
    for (float v : values) {
      SCOPED_TRACE(::testing::Message() << number << " " << v);
      ModalBar bar;
      printed_lines([&] {
        bar.controlChange(number, v);
        bar.noteOn(440.0f, 0.8f);
      });
      for (float y : play(bar, 500)) ASSERT_TRUE(std::isfinite(y));
      // Recovery: a sane preset and note sound again.
      bar.setPreset(0);
      bar.noteOn(440.0f, 0.8f);
      double e = 0.0;
      for (float y : play(bar, 500)) e += double(y) * y;
      EXPECT_GT(e, 0.0);
    }
  }
}

// ---------------------------------------------------------------------------
// Moog

TEST_F(ModalVoiceTest, MoogPlaysTheNoteAfterTheSweep) {
  const float notes[] = {110.0f, 220.0f, 440.0f};
  for (float f : notes) {
    SCOPED_TRACE(f);
    Moog moog;
    moog.noteOn(f, 1.0f);
    EXPECT_EQ(moog.attackLevel, 0.5f);
    EXPECT_EQ(moog.loopLevel, 1.0f);
    play(moog, 21000);  // the sweep takes 1 / (0.0001 x 22050 / 44100) samples
    EXPECT_FALSE(moog.filters[0].dirty);
    const std::vector<float> out = play(moog, 8192);
    EXPECT_NEAR(spectrum::fundamental(out, f, 44100.0), f, f * 0.01);
  }
}

TEST_F(ModalVoiceTest, MoogControlsAndTheTripledOutput) {
  Moog moog;
  moog.controlChange(1, 64.0f);
  EXPECT_EQ(moog.modDepth, 0.25f);
  moog.controlChange(4, 128.0f);
  EXPECT_FLOAT_EQ(moog.sweepSpeed, 0.0002f);
  moog.noteOn(440.0f, 1.0f);
  EXPECT_FLOAT_EQ(moog.filters[0].sweepRate, 0.0002f * 22050.0f / 44100.0f);
  EXPECT_FLOAT_EQ(moog.filters[0].radius, 0.9f);
  EXPECT_FLOAT_EQ(moog.filters[0].targetRadius, 0.949f);
  for (int i = 0; i < 100; i++) {
    const float y = moog.tick();
    EXPECT_EQ(y, moog.lastOutput * 3.0f);
  }
  const auto lines = printed_lines([&] { moog.setFrequency(-5.0f); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(moog.baseFrequency, 220.0f);
}

TEST_F(ModalVoiceTest, MoogHostileValuesKeepTheOutputFinite) {
  const float values[] = {kNaN, kInf, -kInf, 1e6f, -1e6f, 3e38f, 0.0f};
  for (float v : values) {
    SCOPED_TRACE(v);
    Moog moog;
    printed_lines([&] {
      for (int number : {1, 2, 4, 11, 128, 5}) moog.controlChange(number, v);
      moog.setModulationDepth(v);
      moog.setModulationSpeed(v);
      moog.noteOn(v, v);
    });
    for (float y : play(moog, 1000)) ASSERT_TRUE(std::isfinite(y));
    printed_lines([&] {
      for (int number : {1, 2, 4, 11, 128}) moog.controlChange(number, 64.0f);
    });
    moog.noteOn(220.0f, 1.0f);
    double e = 0.0;
    for (float y : play(moog, 2000)) e += double(y) * y;
    EXPECT_GT(e, 0.0);
  }
}

// ---------------------------------------------------------------------------
// VoicForm

TEST_F(ModalVoiceTest, VoicFormPlaysTheNoteAfterTheGlide) {
  const float notes[] = {150.0f, 300.0f, 500.0f};
  for (float f : notes) {
    SCOPED_TRACE(f);
    VoicForm voice;
    voice.controlChange(1, 0.0f);  // no vibrato
    voice.setPhoneme("ahh");
    voice.noteOn(f, 1.0f);
    play(voice, 6000);
    const std::vector<float> out = play(voice, 8192);
    EXPECT_NEAR(spectrum::fundamental(out, f, 44100.0), f, f * 0.01);
  }
}

TEST_F(ModalVoiceTest, VoicFormNoiseFollowsTheFormants) {
  // The sum of four resonances moves the peaks of the broad ones (a few
  // per cent for radii near 0.95); the sharp ones stay within 3 %.
  const char* rows[] = {"eee"};
  for (const char* name : rows) {
    SCOPED_TRACE(name);
    VoicForm voice;
    ASSERT_TRUE(voice.setPhoneme(name));
    voice.voiced.setGainTarget(0.0f);
    voice.noiseEnvelope.setTarget(0.01f);
    std::srand(7);
    play(voice, 4000);
    const size_t n = 8192;
    const std::vector<double> power =
        spectrum::smoothed(spectrum::averaged_power(play(voice, n * 128), n), 2);
    const int row = Phonemes::find(name);
    for (int j = 0; j < 4; j++) {
      const double f = Phonemes::formantFrequency(row, j);
      if (Phonemes::formantRadius(row, j) < 0.978f) continue;
      SCOPED_TRACE(f);
      const double peak = spectrum::peak_in_band(power, n, 44100.0, f * 0.94, f * 1.06);
      EXPECT_NEAR(peak, f, f * 0.03);
    }
  }
}

TEST_F(ModalVoiceTest, VoicFormPhonemeNumberControl) {
  struct Case {
    float value;
    int row;        // -1: no row (every formant 0)
    float factor;
  };
  const Case cases[] = {{40.0f, 8, 1.0f}, {128.0f, 0, 1.4f}, {3.0f, 3, 0.9f},
                        {70.0f, 6, 1.1f}, {100.0f, 4, 1.2f}, {130.0f, -1, 0.0f},
                        {-1.0f, -1, 0.0f}, {1e30f, -1, 0.0f},
                        {-1e30f, -1, 0.0f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    VoicForm voice;
    voice.setPhoneme("ohh");
    printed_lines([&] { voice.controlChange(4, c.value); });
    EXPECT_EQ(voice.phonemeIndex, 6);  // not changed by the control
    EXPECT_EQ(voice.phonemeName, "ohh");
    for (int j = 0; j < 4; j++) {
      const FormSwep& f = voice.filters[j];
      if (c.row < 0) {
        EXPECT_EQ(f.targetFrequency, 0.0f);
        EXPECT_EQ(f.targetRadius, 0.0f);
        EXPECT_EQ(f.targetGain, 1.0f);
      } else {
        EXPECT_FLOAT_EQ(f.targetFrequency, c.factor * Phonemes::formantFrequency(c.row, j));
        EXPECT_EQ(f.targetRadius, Phonemes::formantRadius(c.row, j));
      }
    }
    if (c.row < 0) {
      EXPECT_EQ(voice.noiseEnvelope.target, 0.0f);
    }
    for (float y : play(voice, 300)) ASSERT_TRUE(std::isfinite(y));
  }
  // A NaN selects nothing: it is refused and the formants keep their rows.
  VoicForm voice;
  voice.setPhoneme("ohh");
  const auto lines = printed_lines([&] { voice.controlChange(4, kNaN); });
  EXPECT_EQ(lines, std::vector<std::string>{
                       "[chip](via SYN): VoicForm: Control value is not a number!"});
  for (int j = 0; j < 4; j++) {
    EXPECT_EQ(voice.filters[j].targetFrequency, Phonemes::formantFrequency(6, j));
    EXPECT_EQ(voice.filters[j].targetRadius, Phonemes::formantRadius(6, j));
  }
}

TEST_F(ModalVoiceTest, VoicFormPhonemesByName) {
  VoicForm voice;
  EXPECT_EQ(voice.phonemeName, "eee");
  EXPECT_TRUE(voice.setPhoneme("ohh"));
  EXPECT_EQ(voice.phonemeIndex, 6);
  std::vector<std::string> lines;
  lines = printed_lines([&] { EXPECT_FALSE(voice.setPhoneme("xyz")); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "[chip](via SYN): VoicForm: phoneme xyz not found!");
  EXPECT_EQ(voice.phonemeName, "ohh");
  lines = printed_lines([&] { voice.setFrequency(0.0f); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(voice.m_frequency, 220.0);
}

TEST_F(ModalVoiceTest, VoicFormSourcePoleStaysInsideTheUnitCircle) {
  const float amplitudes[] = {-0.2f, -100.0f, 9.9f, 20.0f, 3e38f, -3e38f, kNaN, 1.0f};
  for (float a : amplitudes) {
    SCOPED_TRACE(a);
    VoicForm voice;
    voice.noteOn(220.0f, a);
    EXPECT_LT(std::fabs(voice.poleFilter.a[1]), 1.0f);
    play(voice, 20000);
    for (float y : play(voice, 2000)) ASSERT_TRUE(std::isfinite(y));
  }
}

TEST_F(ModalVoiceTest, ModulateWithoutGainsIsSilentAndSingWaveReadsTheRateEnvelope) {
  SingWave wave("special:impuls20", true);
  wave.modulator.setVibratoGain(0.0f);
  wave.modulator.setRandomGain(0.0f);
  wave.modulator.filter.clear();
  for (int i = 0; i < 100; i++) {
    wave.tick();
    EXPECT_EQ(wave.modulator.lastOutput, 0.0f);
    EXPECT_EQ(wave.wave.rate, wave.rateEnvelope.value);
  }
  Modulate m;
  float buffer[16];
  m.tick(buffer, 16);
  for (float y : buffer) EXPECT_TRUE(std::isfinite(y));
}

}  // namespace
