// The waveguide strings and the banded waveguide on their own: the pitch
// each loop must give (the sample rate over the loop's delay, worked out
// from the line lengths and the loop filters' coefficients), decay times,
// StifKarp's stretched partials, BandedWG's mode peaks and mode counts, and
// tables of hostile settings after which the output stays finite and a
// normal note sounds at its pitch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "chip/syn/syn.h"
#include "chip/syn/syn_banded.h"
#include "chip/syn/syn_strings.h"
#include "log_capture.h"
#include "spectrum_support.h"

namespace {

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

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();
const double kPi = 3.141592653589793;

class StringsTest : public ::testing::Test {
 protected:
  void SetUp() override { saved = Syn::srate; }
  void TearDown() override { Syn::srate = saved; }
  float saved = 44100.0f;
};

template <typename T>
std::vector<float> play(T& instrument, size_t n) {
  std::vector<float> out(n);
  for (float& y : out) y = instrument.tick();
  return out;
}

bool all_finite(const std::vector<float>& x) {
  for (float v : x) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Loop phases (radians, continuous in w from 0), from the components'
// coefficients.

// A DelayA at delay d with allpass coefficient c: a whole-sample part and
// the allpass (c + z^-1) / (1 + c z^-1), whose delay at DC completes d.
double delay_a_phase(const DelayA& line, double w) {
  const double c = line.coeff;
  const double dcDelay = (1.0 - c) / (1.0 + c);
  const double whole = double(line.getDelay()) - dcDelay;
  const double allpass = -w + 2.0 * std::arg(1.0 + c * std::polar(1.0, w));
  return -w * whole + allpass;
}

// A DelayL at delay d: floor(d) samples and the interpolation (1 - f) + f z^-1.
double delay_l_phase(const DelayL& line, double w) {
  const double d = line.getDelay();
  const double whole = std::floor(d), f = d - whole;
  return -w * whole + std::arg((1.0 - f) + f * std::polar(1.0, -w));
}

// b0 + b1 z^-1.
double one_zero_phase(const OneZero& filter, double w) {
  return std::arg(double(filter.b[0]) + double(filter.b[1]) * std::polar(1.0, -w));
}

// b0 / (1 + a1 z^-1).
double one_pole_phase(const OnePole& filter, double w) {
  return -std::arg(1.0 + double(filter.a[1]) * std::polar(1.0, -w));
}

// A second-order allpass (a2 + a1 z^-1 + z^-2) / (1 + a1 z^-1 + a2 z^-2):
// -2w - 2 arg D(e^jw), D factored into its two pole terms.
double allpass2_phase(const BiQuad& filter, double w) {
  EXPECT_FLOAT_EQ(filter.b[0], filter.a[2]);
  EXPECT_FLOAT_EQ(filter.b[1], filter.a[1]);
  EXPECT_FLOAT_EQ(filter.b[2], 1.0f);
  const double a1 = filter.a[1], a2 = filter.a[2];
  const std::complex<double> root =
      (-a1 + std::sqrt(std::complex<double>(a1 * a1 - 4.0 * a2))) / 2.0;
  const std::complex<double> root2 = a2 / root;
  const std::complex<double> z1 = std::polar(1.0, -w);
  return -2.0 * w - 2.0 * (std::arg(1.0 - root * z1) + std::arg(1.0 - root2 * z1));
}

// The frequency (Hz) where -phase(w) reaches 2 pi k, by bisection between
// 0 and pi (the loops' phases fall steadily).
double loop_frequency(const std::function<double(double)>& phase, int k) {
  double low = 1e-9, high = kPi;
  for (int i = 0; i < 100; i++) {
    const double mid = 0.5 * (low + high);
    if (-phase(mid) < 2.0 * kPi * k) {
      low = mid;
    } else {
      high = mid;
    }
  }
  return 0.5 * (low + high) * Syn::srate / (2.0 * kPi);
}

double cents(double f, double reference) { return 1200.0 * std::log2(f / reference); }

std::function<double(double)> stifkarp_loop(const StifKarp& s) {
  return [&s](double w) {
    double phase = -w + delay_a_phase(s.delayLine, w) + one_zero_phase(s.filter, w);
    for (const BiQuad& b : s.biquad) phase += allpass2_phase(b, w);
    return phase;
  };
}

// One of Mandolin's two loops.
std::function<double(double)> mandolin_loop(const Mandolin& m, int which) {
  return [&m, which](double w) {
    const DelayA& line = which == 0 ? m.delayLine : m.delayLine2;
    const OneZero& filter = which == 0 ? m.filter : m.filter2;
    return -w + delay_a_phase(line, w) + one_zero_phase(filter, w);
  };
}

std::function<double(double)> sitar_loop(const Sitar& s) {
  return [&s](double w) {
    return -w + delay_a_phase(s.delayLine, w) + one_zero_phase(s.loopFilter, w);
  };
}

// Neck and bridge lines, each read a sample later, and the string filter.
std::function<double(double)> bowed_loop(const Bowed& b) {
  return [&b](double w) {
    return -2.0 * w + delay_l_phase(b.neckDelay, w) + delay_l_phase(b.bridgeDelay, w) +
           one_pole_phase(b.stringFilter, w);
  };
}

// ---------------------------------------------------------------------------
// Pitch

struct PitchCase {
  float srate;
  float note;
};

const PitchCase kPitchCases[] = {
    {16000.0f, 110.0f}, {16000.0f, 220.0f}, {16000.0f, 440.0f},
    {44100.0f, 110.0f}, {44100.0f, 220.0f}, {44100.0f, 440.0f},
};

// Measures the fundamental of y near `expected` and checks it within 1 %;
// prints the error against the note in cents.
void expect_pitch(const char* name, const PitchCase& c, const std::vector<float>& y,
                  double expected) {
  const double measured = spectrum::fundamental(y, expected, c.srate);
  std::printf("%-9s %6.0f Hz at %5.0f Hz: loop %8.3f Hz, measured %8.3f Hz, %+6.1f cents "
              "against the note\n",
              name, double(c.note), double(c.srate), expected, measured,
              cents(measured, c.note));
  EXPECT_NEAR(measured, expected, expected * 0.01) << name << " " << c.note << " Hz at "
                                                   << c.srate;
}

TEST_F(StringsTest, StifKarpPlaysTheLoopPitch) {
  for (const PitchCase& c : kPitchCases) {
    Syn::srate = c.srate;
    StifKarp s(20.0f);
    s.noteOn(c.note, 0.8f);
    // The line: one period less half a sample (the averaging filter's).
    EXPECT_NEAR(s.delayLine.getDelay(), c.srate / c.note - 0.5, 1e-3);
    play(s, 2000);
    const double expected = loop_frequency(stifkarp_loop(s), 1);
    expect_pitch("StifKarp", c, play(s, 8192), expected);
  }
}

TEST_F(StringsTest, MandolinPlaysBetweenItsTwoLoopPitches) {
  for (const PitchCase& c : kPitchCases) {
    Syn::srate = c.srate;
    Mandolin m(20.0f);
    m.noteOn(c.note, 0.8f);
    const double period = double(c.srate) / c.note;
    EXPECT_NEAR(m.delayLine.getDelay(), period / 0.995 - 0.5, 1e-3);
    EXPECT_NEAR(m.delayLine2.getDelay(), period * 0.995 - 0.5, 1e-3);
    play(m, 2000);  // past the body wave
    const double f1 = loop_frequency(mandolin_loop(m, 0), 1);
    const double f2 = loop_frequency(mandolin_loop(m, 1), 1);
    EXPECT_LT(f1, f2);  // detuning 0.995: the first loop is the longer
    expect_pitch("Mandolin", c, play(m, 8192), 0.5 * (f1 + f2));
  }
}

TEST_F(StringsTest, SitarGlidesToTheLoopPitch) {
  for (const PitchCase& c : kPitchCases) {
    Syn::srate = c.srate;
    Sitar s(20.0f);
    s.noteOn(c.note, 1.0f);
    EXPECT_NEAR(s.targetDelay, c.srate / c.note, 1e-3);
    EXPECT_NEAR(s.delay, s.targetDelay, 0.05 * s.targetDelay);  // a random start within 5 %
    play(s, size_t(c.srate * 0.4));  // the glide covers 5 % in about 4900 samples
    // The glide stops within 0.001 of the target, or hunts around it in
    // steps of 0.001 %.
    EXPECT_NEAR(s.delay, s.targetDelay, 0.001 + 2e-5 * s.targetDelay);
    const double expected = loop_frequency(sitar_loop(s), 1);
    expect_pitch("Sitar", c, play(s, 8192), expected);
  }
}

TEST_F(StringsTest, BowedPlaysTheLoopPitch) {
  for (const PitchCase& c : kPitchCases) {
    Syn::srate = c.srate;
    Bowed b(40.0f);
    b.noteOn(c.note, 0.8f);
    // Four samples less than a period, split at the bow 12.7 % : 87.3 %.
    const double base = double(c.srate) / c.note - 4.0;
    EXPECT_NEAR(b.bridgeDelay.getDelay(), base * 0.127236, 1e-3);
    EXPECT_NEAR(b.neckDelay.getDelay(), base * (1.0 - 0.127236), 1e-3);
    play(b, size_t(c.srate * 0.3));
    const double expected = loop_frequency(bowed_loop(b), 1);
    const std::vector<float> y = play(b, 8192);
    double peak = 0.0;
    for (float v : y) peak = std::max(peak, double(std::fabs(v)));
    EXPECT_GT(peak, 1e-3) << "the bow keeps the string sounding";
    expect_pitch("Bowed", c, y, expected);
  }
}

TEST_F(StringsTest, BelowTheLowestFrequencyTheLinesHoldTheirLengthQuietly) {
  Syn::srate = 44100.0f;
  const int length = syn_string_length(20.0f);  // 2206
  LogCapture log;
  StifKarp s(20.0f);
  s.setFrequency(5.0f);
  EXPECT_FLOAT_EQ(s.delayLine.getDelay(), float(length));
  Mandolin m(20.0f);
  m.noteOn(1e-30f, 1.0f);
  EXPECT_FLOAT_EQ(m.delayLine.getDelay(), float(length));
  EXPECT_FLOAT_EQ(m.delayLine2.getDelay(), float(length));
  EXPECT_EQ(m.dampTime, length);
  Sitar t(20.0f);
  t.noteOn(5.0f, 1.0f);
  EXPECT_FLOAT_EQ(t.targetDelay, float(length));
  Bowed b(40.0f);
  b.noteOn(10.0f, 1.0f);
  EXPECT_LE(b.neckDelay.getDelay(), b.neckDelay.getMaximumDelay());
  EXPECT_LE(b.bridgeDelay.getDelay(), b.bridgeDelay.getMaximumDelay());
  for (int i = 0; i < 20000; i++) {
    s.tick();
    m.tick();
    t.tick();
    b.tick();
  }
  // Sitar's glide ends on the line instead of growing for ever.
  EXPECT_LE(t.delay, float(length));
  EXPECT_EQ(log.text().find("too big"), std::string::npos) << log.text();
}

// ---------------------------------------------------------------------------
// Decay

// The decay per period of the f0 component between two windows, as a T60
// in seconds.
double measured_t60(const std::vector<float>& y, size_t from, size_t to, double f0,
                    double srate) {
  const size_t n = 4096;
  const std::vector<float> a(y.begin() + from, y.begin() + from + n);
  const std::vector<float> b(y.begin() + to, y.begin() + to + n);
  const double ratio = spectrum::dtft_magnitude(b, f0, srate) /
                       spectrum::dtft_magnitude(a, f0, srate);
  const double seconds = double(to - from) / srate;
  return -3.0 * seconds / std::log10(ratio);
}

double expected_t60(double gain, double f0, double srate) {
  const double perPeriod = gain * std::cos(kPi * f0 / srate);
  return -3.0 / std::log10(perPeriod) / f0;
}

TEST_F(StringsTest, StifKarpAndMandolinDecayByTheirLoopGain) {
  Syn::srate = 44100.0f;
  const float srate = Syn::srate;
  for (float base : {0.995f, 0.97f}) {
    SCOPED_TRACE(base);
    StifKarp s(20.0f);
    s.setBaseLoopGain(base);
    s.noteOn(220.0f, 1.0f);
    const double f0 = loop_frequency(stifkarp_loop(s), 1);
    const std::vector<float> y = play(s, 50000);
    const double t60 = expected_t60(s.loopGain, f0, srate);
    EXPECT_NEAR(measured_t60(y, 4000, 40000, f0, srate), t60, t60 * 0.05);

    Mandolin m(20.0f);
    m.setDetune(1.0f);  // one pitch: no beating between the loops
    m.setBaseLoopGain(base);
    m.noteOn(220.0f, 1.0f);
    const double g0 = loop_frequency(mandolin_loop(m, 0), 1);
    const std::vector<float> z = play(m, 50000);
    const double m60 = expected_t60(m.loopGain, g0, srate);
    EXPECT_NEAR(measured_t60(z, 4000, 40000, g0, srate), m60, m60 * 0.05);
  }
  // noteOff lowers the loop gain: the string dies much sooner.
  StifKarp s(20.0f);
  s.noteOn(220.0f, 1.0f);
  const double f0 = loop_frequency(stifkarp_loop(s), 1);
  play(s, 2000);
  s.noteOff(0.1f);
  EXPECT_FLOAT_EQ(s.loopGain, 0.45f);
  const std::vector<float> y = play(s, 20000);
  EXPECT_LT(expected_t60(0.45, f0, srate), 0.05);
  const double before = spectrum::dtft_magnitude(std::vector<float>(y.begin(), y.begin() + 4096),
                                                 f0, srate);
  const double after = spectrum::dtft_magnitude(
      std::vector<float>(y.begin() + 8000, y.begin() + 12096), f0, srate);
  EXPECT_LT(after, 1e-2 * before);
}

// ---------------------------------------------------------------------------
// StifKarp's stretched partials

TEST_F(StringsTest, StifKarpPartialsSitWhereTheLoopPhaseReachesWholeTurns) {
  Syn::srate = 44100.0f;
  for (float stretch : {0.9f, 1.0f}) {
    SCOPED_TRACE(stretch);
    StifKarp s(20.0f);
    s.setStretch(stretch);
    s.setPickupPosition(0.05f);  // keeps the low partials out of the comb's notches
    s.noteOn(220.0f, 1.0f);
    play(s, 1000);
    const size_t n = 16384;
    const std::vector<double> power = spectrum::averaged_power(play(s, 4 * n), n);
    for (int k = 1; k <= 8; k++) {
      const double expected = loop_frequency(stifkarp_loop(s), k);
      const double measured =
          spectrum::peak_in_band(power, n, 44100.0, expected * 0.99, expected * 1.01);
      EXPECT_NEAR(measured, expected, expected * 0.002) << "partial " << k;
    }
    // The stiffness filters' delay grows towards their resonances above the
    // fundamental, so the upper partials leave the harmonic series.
    if (stretch < 1.0f) {
      const double f1 = loop_frequency(stifkarp_loop(s), 1);
      EXPECT_GT(std::fabs(loop_frequency(stifkarp_loop(s), 8) / (8.0 * f1) - 1.0), 0.01);
    }
  }
}

// ---------------------------------------------------------------------------
// BandedWG

// The mode ratios of the four presets.
const std::vector<double> kRatios[4] = {
    {1.0, 2.756, 5.404, 8.933},
    {1.0, 4.0198393, 10.718498, 18.069706},
    {1.0, 2.32, 4.25, 6.63, 9.38},
    {0.99610835, 1.0038917, 2.979178, 2.9932976, 5.704452, 5.704452, 8.9982004, 9.0154972,
     12.83303, 12.807382, 17.280823, 21.976027},
};

TEST_F(StringsTest, BandedWGRingsAtThePresetRatios) {
  Syn::srate = 44100.0f;
  const float f = 220.0f;
  for (int preset = 0; preset < 4; preset++) {
    SCOPED_TRACE(preset);
    BandedWG b;
    b.setPreset(preset);
    b.noteOn(f, 1.0f);
    const std::vector<float> y = play(b, 65536);
    const std::vector<double>& ratios = kRatios[preset];
    ASSERT_EQ(b.nModes, int(ratios.size()));
    const size_t n = 32768;
    const std::vector<double> power = spectrum::averaged_power(y, n);
    for (int i = 0; i < b.nModes; i++) {
      const double target = double(f) * ratios[size_t(i)];
      const double measured =
          spectrum::peak_in_band(power, n, 44100.0, target * 0.98, target * 1.02);
      EXPECT_NEAR(measured, target, target * 0.01) << "mode " << i;
    }
  }
}

TEST_F(StringsTest, BandedWGModeCountsFollowTheFrequency) {
  Syn::srate = 16000.0f;
  BandedWG b;
  b.setFrequency(1568.0f);
  EXPECT_EQ(b.nModes, 2);  // the third ratio gives a loop of 1 sample
  b.setPreset(1);
  EXPECT_EQ(b.nModes, 1);  // the second gives 2, not above 2
  b.setFrequency(220.0f);
  EXPECT_EQ(b.nModes, 4) << "a lower note gets its modes back";
  b.setFrequency(5000.0f);  // capped at 1568
  EXPECT_FLOAT_EQ(float(b.m_frequency), 1568.0f);
  EXPECT_EQ(b.nModes, 1);

  // No mode at all: bowing and striking stay silent.
  Syn::srate = 4000.0f;
  BandedWG none;
  none.setFrequency(1568.0f);
  EXPECT_EQ(none.nModes, 0);
  none.controlChange(2, 64.0f);  // bow mode
  none.noteOn(1568.0f, 1.0f);
  none.pluck(1.0f);
  for (float y : play(none, 200)) EXPECT_EQ(y, 0.0f);
}

TEST_F(StringsTest, BandedWGBowsAndTracksVelocity) {
  Syn::srate = 44100.0f;
  BandedWG b;
  b.setPreset(2);
  b.controlChange(2, 100.0f);
  EXPECT_FALSE(b.doPluck);
  b.noteOn(440.0f, 1.0f);
  std::vector<float> y = play(b, 20000);
  EXPECT_TRUE(all_finite(y));
  double peak = 0.0;
  for (size_t i = 10000; i < y.size(); i++) peak = std::max(peak, double(std::fabs(y[i])));
  EXPECT_GT(peak, 1e-4);
  // Velocity tracking: control 4 moves the bow, the envelope is ignored.
  b.controlChange(4, 128.0f);
  EXPECT_TRUE(b.trackVelocity);
  EXPECT_FLOAT_EQ(b.bowTarget, 0.005f);
  y = play(b, 2000);
  EXPECT_TRUE(all_finite(y));
  // Control 16 and setFrequency after control 1.
  b.controlChange(1, 0.0f);
  EXPECT_FLOAT_EQ(b.gains[0], b.basegains[0] * 0.9f);
  b.setFrequency(330.0f);
  EXPECT_FLOAT_EQ(b.gains[0], b.basegains[0]);
  b.controlChange(16, 3.0f);
  EXPECT_EQ(b.presetModes, 12);
}

// ---------------------------------------------------------------------------
// Hostile settings

const float kHostile[] = {-1e30f, -1.0f, 0.0f, 0.5f, 1.0f, 2.0f, 1e30f, kNaN, kInf, -kInf};

// One setter of an instrument, a value that puts it back, and whether the
// restored instrument is plucked (rings from a note) or sustained.
template <typename T>
struct Knob {
  const char* name;
  std::function<void(T&, float)> set;
  float normal;
};

// For each knob: every hostile value (the output stays finite after each);
// then the knob's normal value and a note at 220 Hz, whose pitch must match
// a fresh instrument's within 1 %.
template <typename T>
void run_hostile(const std::function<std::unique_ptr<T>()>& make,
                 const std::vector<Knob<T>>& knobs, const std::function<void(T&)>& note,
                 size_t settle = 4000) {
  Syn::srate = 44100.0f;
  // Noise seeds the shared generator from the clock when it is made: seed it
  // again so every run plucks with the same excitation (a stiff string's
  // pitch, read from 8192 samples, moves by about 1 % with the excitation).
  const unsigned seed = 1;
  std::unique_ptr<T> fresh = make();
  std::srand(seed);
  note(*fresh);
  play(*fresh, 4000);
  const double reference = spectrum::fundamental(play(*fresh, 8192), 220.0, 44100.0);
  for (const Knob<T>& knob : knobs) {
    SCOPED_TRACE(knob.name);
    LogCapture log;
    std::unique_ptr<T> instrument = make();
    std::srand(seed);
    note(*instrument);
    for (float v : kHostile) {
      knob.set(*instrument, v);
      const std::vector<float> y = play(*instrument, 300);
      ASSERT_TRUE(all_finite(y)) << "after " << v;
    }
    knob.set(*instrument, knob.normal);
    play(*instrument, settle);
    note(*instrument);
    play(*instrument, 4000);
    const std::vector<float> y = play(*instrument, 8192);
    ASSERT_TRUE(all_finite(y));
    EXPECT_NEAR(spectrum::fundamental(y, 220.0, 44100.0), reference, reference * 0.01);
    // No storm: a handful of lines per knob, not one per sample.
    const std::string printed = log.text();
    EXPECT_LT(std::count(printed.begin(), printed.end(), '\n'), 60) << printed;
  }
}

template <typename T>
Knob<T> control(int number, float normal) {
  static std::string names[200];
  names[number] = "controlChange " + std::to_string(number);
  return {names[number].c_str(), [number](T& t, float v) { t.controlChange(number, v); },
          normal};
}

template <typename T>
Knob<T> control128(int number, float normal) {
  // The same control, the hostile value scaled as the language scales it.
  static std::string names[200];
  names[number] = "controlChange x128 " + std::to_string(number);
  return {names[number].c_str(),
          [number](T& t, float v) { t.controlChange(number, syn_float(double(v) * 128.0)); },
          normal};
}

TEST_F(StringsTest, StifKarpSurvivesHostileSettings) {
  using K = Knob<StifKarp>;
  run_hostile<StifKarp>(
      [] { return std::make_unique<StifKarp>(20.0f); },
      {K{"setFrequency", [](StifKarp& s, float v) { s.setFrequency(v); }, 220.0f},
       K{"setStretch", [](StifKarp& s, float v) { s.setStretch(v); }, 0.9999f},
       K{"setPickupPosition", [](StifKarp& s, float v) { s.setPickupPosition(v); }, 0.4f},
       K{"setBaseLoopGain", [](StifKarp& s, float v) { s.setBaseLoopGain(v); }, 0.995f},
       K{"pluck", [](StifKarp& s, float v) { s.pluck(v); }, 0.5f},
       K{"noteOff", [](StifKarp& s, float v) { s.noteOff(v); }, 0.0f},
       K{"noteOn", [](StifKarp& s, float v) { s.noteOn(v, 0.8f); }, 220.0f},
       K{"noteOn amplitude", [](StifKarp& s, float v) { s.noteOn(220.0f, v); }, 0.8f},
       control<StifKarp>(1, 0.0f), control<StifKarp>(4, 51.2f), control<StifKarp>(11, 64.0f),
       control128<StifKarp>(1, 0.0f), control<StifKarp>(7, 0.0f)},
      [](StifKarp& s) { s.noteOn(220.0f, 0.8f); },
      // The stiffness filters, which nothing clears, ring with radius
      // 0.9999 (a time constant of 10^4 samples): what a hostile setting
      // left in them takes this long to die.
      200000);
}

TEST_F(StringsTest, MandolinSurvivesHostileSettings) {
  using K = Knob<Mandolin>;
  run_hostile<Mandolin>(
      [] { return std::make_unique<Mandolin>(20.0f); },
      {K{"setFrequency", [](Mandolin& m, float v) { m.setFrequency(v); }, 220.0f},
       K{"setDetune", [](Mandolin& m, float v) { m.setDetune(v); }, 0.995f},
       K{"setPluckPosition", [](Mandolin& m, float v) { m.setPluckPosition(v); }, 0.4f},
       K{"setBaseLoopGain", [](Mandolin& m, float v) { m.setBaseLoopGain(v); }, 0.995f},
       K{"setBodySize", [](Mandolin& m, float v) { m.setBodySize(v); }, 1.0f},
       K{"pluck", [](Mandolin& m, float v) { m.pluck(v); }, 0.5f},
       K{"noteOff", [](Mandolin& m, float v) { m.noteOff(v); }, 0.0f},
       K{"noteOn", [](Mandolin& m, float v) { m.noteOn(v, 0.8f); }, 220.0f},
       K{"noteOn amplitude", [](Mandolin& m, float v) { m.noteOn(220.0f, v); }, 0.8f},
       control<Mandolin>(1, 6.4f), control<Mandolin>(2, 64.0f), control<Mandolin>(4, 51.2f),
       control<Mandolin>(11, 128.0f), control<Mandolin>(128, 0.0f),
       control128<Mandolin>(128, 0.0f), control<Mandolin>(3, 0.0f)},
      [](Mandolin& m) {
        m.setBaseLoopGain(0.995f);
        m.noteOn(220.0f, 0.8f);
      });
}

TEST_F(StringsTest, SitarSurvivesHostileSettings) {
  using K = Knob<Sitar>;
  run_hostile<Sitar>(
      [] { return std::make_unique<Sitar>(20.0f); },
      {K{"setFrequency", [](Sitar& s, float v) { s.setFrequency(v); }, 220.0f},
       K{"noteOn", [](Sitar& s, float v) { s.noteOn(v, 1.0f); }, 220.0f},
       K{"noteOn amplitude", [](Sitar& s, float v) { s.noteOn(220.0f, v); }, 1.0f},
       K{"noteOff", [](Sitar& s, float v) { s.noteOff(v); }, 0.001f},
       K{"pluck", [](Sitar& s, float v) { s.pluck(v); }, 0.0f}},
      [](Sitar& s) {
        s.noteOn(220.0f, 1.0f);
        play(s, 6000);  // the glide
      });
}

TEST_F(StringsTest, BowedSurvivesHostileSettings) {
  using K = Knob<Bowed>;
  run_hostile<Bowed>(
      [] { return std::make_unique<Bowed>(40.0f); },
      {K{"setFrequency", [](Bowed& b, float v) { b.setFrequency(v); }, 220.0f},
       K{"noteOn", [](Bowed& b, float v) { b.noteOn(v, 0.8f); }, 220.0f},
       K{"noteOn amplitude", [](Bowed& b, float v) { b.noteOn(220.0f, v); }, 0.8f},
       K{"noteOff", [](Bowed& b, float v) { b.noteOff(v); }, 0.0f},
       K{"startBowing", [](Bowed& b, float v) { b.startBowing(v, 0.001f); }, 0.8f},
       K{"startBowing rate", [](Bowed& b, float v) { b.startBowing(0.8f, v); }, 0.001f},
       K{"stopBowing", [](Bowed& b, float v) { b.stopBowing(v); }, 0.001f},
       K{"setVibratoFrequency", [](Bowed& b, float v) { b.setVibratoFrequency(v); }, 6.0f},
       control<Bowed>(1, 0.0f), control<Bowed>(2, 64.0f), control<Bowed>(4, 64.0f),
       control<Bowed>(11, 64.0f), control<Bowed>(128, 128.0f), control128<Bowed>(2, 64.0f),
       control<Bowed>(3, 0.0f)},
      [](Bowed& b) { b.noteOn(220.0f, 0.8f); });
}

TEST_F(StringsTest, BandedWGSurvivesHostileSettings) {
  using K = Knob<BandedWG>;
  run_hostile<BandedWG>(
      [] { return std::make_unique<BandedWG>(); },
      {K{"setFrequency", [](BandedWG& b, float v) { b.setFrequency(v); }, 220.0f},
       K{"noteOn", [](BandedWG& b, float v) { b.noteOn(v, 1.0f); }, 220.0f},
       K{"noteOn amplitude", [](BandedWG& b, float v) { b.noteOn(220.0f, v); }, 1.0f},
       K{"noteOff", [](BandedWG& b, float v) { b.noteOff(v); }, 0.0f},
       K{"pluck", [](BandedWG& b, float v) { b.pluck(v); }, 0.0f},
       K{"startBowing", [](BandedWG& b, float v) { b.startBowing(v); }, 0.0f},
       K{"stopBowing", [](BandedWG& b, float v) { b.stopBowing(v); }, 1.0f},
       K{"bow mode", [](BandedWG& b, float v) {
           b.controlChange(2, 64.0f);
           b.noteOn(220.0f, v);
           b.controlChange(4, v);
           b.controlChange(11, v);
         }, 0.0f},
       control<BandedWG>(1, 128.0f), control<BandedWG>(2, 0.0f), control<BandedWG>(4, 0.0f),
       control<BandedWG>(8, 0.0f), control<BandedWG>(11, 0.0f), control<BandedWG>(16, 0.0f),
       control<BandedWG>(64, 0.0f), control<BandedWG>(65, 0.0f), control<BandedWG>(128, 0.0f),
       control128<BandedWG>(16, 0.0f), control<BandedWG>(3, 0.0f)},
      [](BandedWG& b) {
        b.controlChange(2, 0.0f);
        b.controlChange(65, 0.0f);
        b.controlChange(16, 0.0f);
        b.controlChange(1, 128.0f);
        b.noteOn(220.0f, 1.0f);
      });
}

// ---------------------------------------------------------------------------
// Obvious faults mended

TEST_F(StringsTest, NaNArgumentsChangeNothingAndWarnOnce) {
  Syn::srate = 44100.0f;
  LogCapture log;
  StifKarp s(20.0f);
  s.setFrequency(330.0f);
  s.setFrequency(kNaN);
  s.setStretch(kNaN);
  s.setPickupPosition(kNaN);
  s.controlChange(1, kNaN);
  EXPECT_DOUBLE_EQ(s.m_frequency, 330.0);
  EXPECT_FLOAT_EQ(s.stretching, 0.9999f);
  EXPECT_FLOAT_EQ(s.pickupPosition, 0.4f);
  // The setters share one message per object; the control change reports
  // its NaN by the toolkit's one control rule.
  EXPECT_EQ(log.text(),
            "[chip](via SYN): StifKarp: setFrequency argument is not a number, ignored!\n"
            "[chip](via SYN): StifKarp: Control value is not a number!\n");
}

TEST_F(StringsTest, PluckTwoNoteOffKeepsTheLoopStable) {
  Syn::srate = 44100.0f;
  LogCapture log;
  Mandolin m(20.0f);
  m.noteOn(220.0f, 1.0f);
  m.noteOff(-3.0f);  // (1 - a) / 2 = 2: capped
  EXPECT_FLOAT_EQ(m.loopGain, 0.99999f);
  m.noteOff(5.0f);
  EXPECT_FLOAT_EQ(m.loopGain, -0.99999f);
  m.noteOff(-3.0f);
  double peak = 0.0;
  for (float y : play(m, 100000)) peak = std::max(peak, double(std::fabs(y)));
  EXPECT_LT(peak, 10.0);
  // A loop gain of exactly 1.0 stays 1.0 at setFrequency.
  m.setBaseLoopGain(0.0f);
  m.baseLoopGain = 1.0f - 220.0f * 0.000005f;
  m.setFrequency(220.0f);
  EXPECT_LE(m.loopGain, 1.0f);
  EXPECT_GT(m.loopGain, 0.99999f);
}

TEST_F(StringsTest, MandolinControlTable) {
  Syn::srate = 44100.0f;
  LogCapture log;
  Mandolin m(20.0f);
  m.controlChange(128, 128.0f);
  EXPECT_EQ(m.bodySlot, 11);
  m.controlChange(128, 1e30f);
  EXPECT_EQ(m.bodySlot, 11);
  m.controlChange(2, 64.0f);
  EXPECT_FLOAT_EQ(m.bodyWave->rate, 1.0f);
  m.controlChange(1, 64.0f);
  EXPECT_FLOAT_EQ(m.detuning, 0.95f);
  m.controlChange(4, 32.0f);
  EXPECT_FLOAT_EQ(m.pluckPosition, 0.25f);
  m.controlChange(11, 0.0f);
  EXPECT_FLOAT_EQ(m.baseLoopGain, 0.97f);
  EXPECT_EQ(log.text(), "[chip](via SYN): Mandolin: Control value greater than 128.0!\n");
  // Silent until plucked.
  Mandolin quiet(20.0f);
  for (float y : play(quiet, 500)) EXPECT_EQ(y, 0.0f);
}

TEST_F(StringsTest, SitarAndStifKarpEdges) {
  Syn::srate = 44100.0f;
  LogCapture log;
  Sitar s(20.0f);
  EXPECT_FLOAT_EQ(s.amGain, 0.0f);
  s.noteOff(0.5f);
  EXPECT_FLOAT_EQ(s.loopGain, 0.5f);
  s.noteOff(1.5f);
  EXPECT_FLOAT_EQ(s.loopGain, 0.0f);
  StifKarp k(20.0f);
  k.pluck(2.0f);
  EXPECT_FLOAT_EQ(k.pluckAmplitude, 2.0f);
  k.setStretch(1.0f);
  EXPECT_FLOAT_EQ(k.biquad[0].a[2], 0.9999f * 0.9999f);
  k.setFrequency(1e30f);  // loop gain >= 1 becomes 0.99999
  EXPECT_FLOAT_EQ(k.loopGain, 0.99999f);
  EXPECT_EQ(log.text(),
            "[chip](via SYN): Plucked: noteOff amplitude greater than 1.0!\n"
            "[chip](via SYN): StifKarp: pluck amplitude greater than 1.0!\n"
            "[chip](via SYN): DelayA: setDelay(0.3) less than 0.5 not possible!\n");
}

TEST_F(StringsTest, BowedControlTable) {
  Syn::srate = 44100.0f;
  LogCapture log;
  Bowed b(40.0f);
  const float base = b.baseDelay;
  b.controlChange(4, 64.0f);
  EXPECT_FLOAT_EQ(b.betaRatio, 0.127236f);
  EXPECT_FLOAT_EQ(b.bridgeDelay.getDelay(), base * 0.127236f);
  EXPECT_FLOAT_EQ(b.neckDelay.getDelay(), base * (1.0f - 0.127236f));
  b.controlChange(2, 0.0f);
  EXPECT_FLOAT_EQ(b.bowTable.slope, 5.0f);
  b.controlChange(2, 128.0f);
  EXPECT_FLOAT_EQ(b.bowTable.slope, 1.0f);
  b.controlChange(11, 64.0f);
  EXPECT_FLOAT_EQ(b.vibrato.frequency, 6.0f);
  EXPECT_DOUBLE_EQ(b.storedVibratoFreq, 0.5);
  b.noteOn(220.0f, 1.0f);
  EXPECT_FLOAT_EQ(b.maxVelocity, 0.23f);
  play(b, 1000);
  EXPECT_FLOAT_EQ(b.neckDelay.getDelay(), b.baseDelay * (1.0f - b.betaRatio));
  b.noteOff(2.0f);
  EXPECT_EQ(log.text(), "[chip](via Envelope): negative rates not allowed ... correcting!\n");
}

}  // namespace
