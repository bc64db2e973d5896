// The toolkit classes on their own (no engine): the error path, the
// abstract instrument, the one control-change rule of every instrument,
// Envelope and ADSR against their closed forms, the noise sources'
// statistics and hold, and the reed, jet and bow tables against their
// formulas; hostile parameters never leave an envelope stuck at NaN.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "chip/syn/syn.h"
#include "chip/syn/syn_banded.h"
#include "chip/syn/syn_envelope.h"
#include "chip/syn/syn_fm.h"
#include "chip/syn/syn_mesh.h"
#include "chip/syn/syn_modal.h"
#include "chip/syn/syn_moog.h"
#include "chip/syn/syn_noise.h"
#include "chip/syn/syn_shakers.h"
#include "chip/syn/syn_strings.h"
#include "chip/syn/syn_tables.h"
#include "chip/syn/syn_voicform.h"
#include "chip/syn/syn_winds.h"
#include "log_capture.h"

namespace {

const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kHostile[] = {-1e30f, -1.0f, 0.0f, 0.5f, 1.0f, 2.0f, 1e30f, kNaN, kInf, -kInf};

// Keeps the toolkit's global rate as the test found it.
class SynToolkitTest : public ::testing::Test {
 protected:
  void SetUp() override { saved = Syn::srate; }
  void TearDown() override { Syn::srate = saved; }
  float saved = 0.0f;
};

// ---------------------------------------------------------------------------
// Base

TEST_F(SynToolkitTest, HandleErrorPrintsAndThrowsByKind) {
  const struct {
    SynError::TYPE type;
    size_t lines;
    bool throws;
  } cases[] = {{SynError::WARNING, 1, false},
               {SynError::DEBUG_WARNING, 0, false},
               {SynError::FUNCTION_ARGUMENT, 1, true},
               {SynError::FILE_NOT_FOUND, 1, true},
               {SynError::FILE_UNKNOWN_FORMAT, 1, true},
               {SynError::FILE_ERROR, 1, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    bool thrown = false;
    auto lines = printed_lines([&] {
      try {
        Syn::handleError(SYN_PREFIX "bad thing", c.type);
      } catch (const SynError& e) {
        thrown = true;
        EXPECT_EQ(e.getType(), c.type);
        EXPECT_STREQ(e.getMessage(), SYN_PREFIX "bad thing");
        EXPECT_TRUE(e.wasReported());
      }
    });
    EXPECT_EQ(thrown, c.throws);
    ASSERT_EQ(lines.size(), c.lines);
    if (c.lines) {
      EXPECT_EQ(lines[0], "[chip](via SYN): bad thing");
    }
  }
}

TEST_F(SynToolkitTest, ErrorMessagesAreCutTo255Characters) {
  const std::string longer(400, 'x');
  SynError e(longer.c_str(), SynError::FILE_ERROR);
  EXPECT_EQ(std::string(e.getMessage()), std::string(255, 'x'));
  EXPECT_FALSE(e.wasReported());
}

class Drone : public Instrmnt {
 public:
  void noteOn(float, float) override {}
  float tick() override { return ++count; }
  using Instrmnt::tick;
  float count = 0.0f;
};

TEST_F(SynToolkitTest, InstrumentBaseVectorTickAndMissingFrequency) {
  Drone d;
  float v[3] = {-7.0f, -7.0f, -7.0f};
  d.tick(v, 0);
  EXPECT_EQ(v[0], -7.0f);
  EXPECT_EQ(d.count, 0.0f);
  d.tick(v, 3);
  EXPECT_EQ(v[0], 1.0f);
  EXPECT_EQ(v[2], 3.0f);

  d.m_frequency = 330.0;
  auto lines = printed_lines([&] { d.setFrequency(440.0f); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "[chip](via SYN): Instrmnt: virtual setFrequency function call!");
  EXPECT_EQ(d.m_frequency, 330.0);
}

TEST_F(SynToolkitTest, SynOnceSpeaksOnceUntilReset) {
  SynOnce once;
  auto lines = printed_lines([&] {
    for (int i = 0; i < 100; i++) once.warn(SYN_PREFIX "bad parameter %d", 7);
    once.reset();
    once.warn(SYN_PREFIX "again");
  });
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "[chip](via SYN): bad parameter 7");
  EXPECT_EQ(lines[1], "[chip](via SYN): again");
}

// ---------------------------------------------------------------------------
// Control changes: one rule for every instrument. A value on the 0..128
// scale is normalised to value / 128; a negative value (or -inf) prints
// "<who>: Control value less than zero!" and acts as 0, a value above 128
// (or +inf) prints "<who>: Control value greater than 128.0!" and acts as
// 128, and a NaN prints "<who>: Control value is not a number!" and
// changes nothing. A table over every instrument that has control changes,
// each read back through a control that keeps its 0..1 value.

struct Instrument_Row {
  const char* name;
  const char* who;  // the name its control messages carry
  int number;       // a control whose 0..1 value the instrument keeps
  std::function<Instrmnt*()> make;
  // That value as kept, on the 0..1 scale.
  std::function<double(Instrmnt&)> read;
  // The control adds its value to what is kept instead of replacing it.
  bool adds = false;
};

template <typename T>
std::function<double(Instrmnt&)> field(std::function<double(T&)> get) {
  return [get](Instrmnt& i) { return get(static_cast<T&>(i)); };
}

const std::vector<Instrument_Row>& instruments() {
  const auto fm_depth = field<FM>([](FM& i) { return double(i.modDepth); });
  static const std::vector<Instrument_Row> rows = {
      {"BandedWG", "BandedWG", 2, [] { return new BandedWG; },
       field<BandedWG>([](BandedWG& i) { return i.storedBowPressure; })},
      {"BlowBotl", "BlowBotl", 4, [] { return new BlowBotl; },
       field<BlowBotl>([](BlowBotl& i) { return i.storedNoiseGain; })},
      {"BlowHole", "BlowHole", 2, [] { return new BlowHole(20.0f); },
       field<BlowHole>([](BlowHole& i) { return i.storedReed; })},
      {"Bowed", "Bowed", 2, [] { return new Bowed(40.0f); },
       field<Bowed>([](Bowed& i) { return i.storedBowPressure; })},
      {"Brass", "Brass", 2, [] { return new Brass(20.0f); },
       field<Brass>([](Brass& i) { return i.storedLip; })},
      {"Clarinet", "Clarinet", 2, [] { return new Clarinet(30.0f); },
       field<Clarinet>([](Clarinet& i) { return i.storedReed; })},
      {"Flute", "Flute", 4, [] { return new Flute(40.0f); },
       field<Flute>([](Flute& i) { return i.storedNoiseGain; })},
      {"Mandolin", "Mandolin", 4, [] { return new Mandolin(20.0f); },
       field<Mandolin>([](Mandolin& i) { return double(i.pluckPosition); })},
      {"ModalBar", "ModalBar", 11, [] { return new ModalBar; },
       field<ModalBar>([](ModalBar& i) { return i.storedVibratoGain; })},
      {"Moog", "Moog", 128, [] { return new Moog; },
       field<Moog>([](Moog& i) { return i.storedVolume; })},
      {"Saxofony", "Saxofony", 2, [] { return new Saxofony(20.0f); },
       field<Saxofony>([](Saxofony& i) { return i.storedReed; })},
      // Energy 2 adds norm x 200 to the shaking energy.
      {"Shakers", "Shakers", 2, [] { return new Shakers; },
       field<Shakers>([](Shakers& i) { return double(i.excitation) / 200.0; }), true},
      {"StifKarp", "StifKarp", 4, [] { return new StifKarp(20.0f); },
       field<StifKarp>([](StifKarp& i) { return double(i.pickupPosition); })},
      {"VoicForm", "VoicForm", 128, [] { return new VoicForm; },
       field<VoicForm>([](VoicForm& i) { return double(i.voiced.envelope.target); })},
      // The FM voices share FM's control change and its messages, except
      // FMVoices, which has its own.
      {"FM", "FM", 1, [] { return new BareFM; }, fm_depth},
      {"BeeThree", "FM", 1, [] { return new BeeThree; }, fm_depth},
      {"FMVoices", "FMVoices", 1, [] { return new FMVoices; }, fm_depth},
      {"HevyMetl", "FM", 1, [] { return new HevyMetl; }, fm_depth},
      {"PercFlut", "FM", 1, [] { return new PercFlut; }, fm_depth},
      {"Rhodey", "FM", 1, [] { return new Rhodey; }, fm_depth},
      {"TubeBell", "FM", 1, [] { return new TubeBell; }, fm_depth},
      {"Wurley", "FM", 1, [] { return new Wurley; }, fm_depth},
      // Decay 0.9 + 0.1 x norm.
      {"Mesh2D", "Mesh2D", 11, [] { return new Mesh2D(2, 2); },
       field<Mesh2D>([](Mesh2D& i) { return (double(i.filterY[0].gain) - 0.9) / 0.1; })},
  };
  return rows;
}

struct Value_Case {
  float value;
  const char* message;  // after "<who>: "; nullptr for none
  double norm;          // the value kept; negative: the one held before
};

const Value_Case kValues[] = {
    {64.0f, nullptr, 0.5},
    {0.0f, nullptr, 0.0},
    {128.0f, nullptr, 1.0},
    {-5.0f, "Control value less than zero!", 0.0},
    {-kInf, "Control value less than zero!", 0.0},
    {200.0f, "Control value greater than 128.0!", 1.0},
    {kInf, "Control value greater than 128.0!", 1.0},
    {kNaN, "Control value is not a number!", -1.0},
};

TEST_F(SynToolkitTest, EveryInstrumentsControlChangeFollowsOneRule) {
  Syn::srate = 44100.0f;
  for (const Instrument_Row& row : instruments()) {
    for (const Value_Case& c : kValues) {
      SCOPED_TRACE(::testing::Message() << row.name << " " << c.value);
      std::unique_ptr<Instrmnt> instrument;
      // Every value meets the instrument holding a quarter of the range.
      printed_lines([&] {
        instrument.reset(row.make());
        instrument->controlChange(row.number, 32.0f);
      });
      const double before = row.read(*instrument);
      ASSERT_NEAR(before, 0.25, 1e-6);
      const std::vector<std::string> lines =
          printed_lines([&] { instrument->controlChange(row.number, c.value); });
      std::vector<std::string> expected;
      if (c.message) {
        expected.push_back(std::string("[chip](via SYN): ") + row.who + ": " + c.message);
      }
      EXPECT_EQ(lines, expected);
      const double kept = c.norm < 0.0 ? before : (row.adds ? before : 0.0) + c.norm;
      EXPECT_NEAR(row.read(*instrument), kept, 1e-6);
    }
  }
}

// ---------------------------------------------------------------------------
// Envelope

// Ticks until the envelope is idle (at most limit); their count.
template <typename E>
long ticks_until(E& e, int idle_state, long limit) {
  long n = 0;
  while (e.getState() != idle_state && n < limit) {
    e.tick();
    n++;
  }
  return n;
}

TEST_F(SynToolkitTest, EnvelopeRampTakesItsTimeAtItsRate) {
  const struct {
    float srate, time, from, to;
  } cases[] = {{44100.0f, 0.5f, 0.0f, 1.0f},
               {16000.0f, 0.01f, 1.0f, 0.0f},
               {22050.0f, 0.1f, -0.5f, 2.0f},
               {44100.0f, 0.001f, 0.3f, 0.2f}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.time);
    Syn::srate = c.srate;
    Envelope e;
    e.setValue(c.from);
    e.setTime(c.time);
    e.setTarget(c.to);
    const double samples = double(c.time) * c.srate;
    const double step = std::fabs(double(c.to) - c.from) / samples;
    EXPECT_NEAR(e.rate, step, step * 1e-5);
    EXPECT_EQ(e.getState(), 1);
    // Linear on the way.
    for (int k = 1; k <= 3; k++) {
      e.tick();
      EXPECT_NEAR(e.value, c.from + (c.to > c.from ? 1 : -1) * k * step, 1e-5);
    }
    const long n = 3 + ticks_until(e, 0, 10 * long(samples) + 10);
    // Single-precision steps: each sum is off by at most half an ulp of the
    // largest value, which over the ramp bounds the drift in steps.
    const double largest = std::max(std::fabs(c.from), std::fabs(c.to));
    const double drift = samples * largest * std::ldexp(1.0, -24) / step;
    EXPECT_NEAR(double(n), samples, 1.0 + drift);
    EXPECT_EQ(e.value, c.to);
  }
}

TEST_F(SynToolkitTest, EnvelopeKeysAndCorrections) {
  Syn::srate = 44100.0f;
  Envelope e;
  EXPECT_NEAR(e.rampTime, 1.0 / (0.001 * 44100.0), 1e-6);
  e.keyOff();  // already at 0: stays idle, the step is recomputed to 0
  EXPECT_EQ(e.getState(), 0);
  EXPECT_EQ(e.rate, 0.0f);

  auto lines = printed_lines([&] {
    e.setTime(-0.5f);
    e.setRate(-0.01f);
  });
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "[chip](via Envelope): negative times not allowed ... correcting!");
  EXPECT_EQ(lines[1], "[chip](via Envelope): negative rates not allowed ... correcting!");
  EXPECT_EQ(e.rate, 0.01f);

  // A time of 0: the next ramp is a jump.
  e.setTime(0.0f);
  e.keyOn();
  EXPECT_EQ(e.tick(), 1.0f);
  EXPECT_EQ(e.getState(), 0);
}

// ---------------------------------------------------------------------------
// ADSR

// The stage lengths in samples that the closed forms give: attack 1/rate
// with rate 1/(a srate); decay (1 - s)/rate with rate (1 - s)/(d srate);
// release s/rate with rate s/(r srate). A stage of n (not whole) samples
// ends on tick ceil(n) (within float rounding: either neighbour).
TEST_F(SynToolkitTest, AdsrStateTimelineFollowsTheClosedForm) {
  const struct {
    float srate, a, d, s, r;
  } cases[] = {{44100.0f, 0.01f, 0.02f, 0.5f, 0.1f},
               {16000.0f, 0.005f, 0.01f, 0.25f, 0.02f},
               {22050.0f, 0.002f, 0.004f, 0.8f, 0.001f}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.a);
    Syn::srate = c.srate;
    ADSR e;
    e.setAllTimes(c.a, c.d, c.s, c.r);
    e.keyOn();
    const double attack = double(c.a) * c.srate;
    const double decay = double(c.d) * c.srate;
    const double release = double(c.r) * c.srate;

    long n = ticks_until(e, ADSR::DECAY, 1000000);
    EXPECT_NEAR(double(n), std::ceil(attack), 1.0);
    EXPECT_EQ(e.value, 1.0f);
    n = ticks_until(e, ADSR::SUSTAIN, 1000000);
    EXPECT_NEAR(double(n), std::ceil(decay), 1.0);
    EXPECT_EQ(e.value, c.s);
    for (int i = 0; i < 50; i++) EXPECT_EQ(e.tick(), c.s);
    e.keyOff();
    EXPECT_EQ(e.getState(), ADSR::RELEASE);
    n = ticks_until(e, ADSR::DONE, 1000000);
    EXPECT_NEAR(double(n), std::ceil(release), 1.0);
    EXPECT_EQ(e.value, 0.0f);
  }
}

TEST_F(SynToolkitTest, AdsrWithoutDecaySustainsInTheSampleThatPeaks) {
  Syn::srate = 44100.0f;
  ADSR e;
  e.setAllTimes(0.01f, 0.0f, 0.7f, 0.1f);
  e.keyOn();
  const long n = ticks_until(e, ADSR::SUSTAIN, 10000);
  EXPECT_NEAR(double(n), 441.0, 1.0);
  EXPECT_EQ(e.value, 0.7f);

  // A fresh ADSR settles at 0.5 after two samples.
  ADSR fresh;
  EXPECT_EQ(fresh.tick(), 0.0f);
  EXPECT_EQ(fresh.getState(), ADSR::DECAY);
  EXPECT_EQ(fresh.tick(), 0.5f);
  EXPECT_EQ(fresh.getState(), ADSR::SUSTAIN);
}

TEST_F(SynToolkitTest, AdsrReleaseSetAsATimeEndsInThatTimeFromAnyLevel) {
  Syn::srate = 44100.0f;
  const float levels[] = {0.35f, 1.0f, 0.01f, 2.0f};
  const float times[] = {0.1f, 0.005f};
  for (float level : levels) {
    for (float t : times) {
      SCOPED_TRACE(level);
      ADSR e;
      e.setReleaseTime(t);
      e.setValue(level);
      e.keyOff();
      EXPECT_NEAR(e.rate, level / (t * 44100.0), 1e-6 * level);
      const long n = ticks_until(e, ADSR::DONE, 1000000);
      EXPECT_NEAR(double(n), std::ceil(double(t) * 44100.0), 1.0);
    }
  }
  // Also mid-attack.
  ADSR e;
  e.setAttackTime(0.01f);
  e.setReleaseTime(0.02f);
  e.keyOn();
  for (int i = 0; i < 100; i++) e.tick();
  e.keyOff();
  EXPECT_NEAR(double(ticks_until(e, ADSR::DONE, 100000)), 882.0, 1.0);
}

// A release time of 0 at a sustain level of 0 used to give a step of 0/0
// and a value stuck at NaN; it is now the shortest release.
TEST_F(SynToolkitTest, AdsrZeroReleaseAtZeroSustainEndsAtOnce) {
  Syn::srate = 44100.0f;
  ADSR e;
  e.setAllTimes(0.001f, 0.001f, 0.0f, 0.0f);
  EXPECT_FALSE(std::isnan(e.releaseRate));
  e.keyOn();
  for (int i = 0; i < 200; i++) e.tick();
  EXPECT_EQ(e.getState(), ADSR::SUSTAIN);
  e.setValue(0.6f);  // also from a level above 0
  e.setSustainLevel(0.0f);
  e.keyOff();
  EXPECT_EQ(e.tick(), 0.0f);
  EXPECT_EQ(e.getState(), ADSR::DONE);
}

TEST_F(SynToolkitTest, AdsrCorrectionsAndRatesSetAsRates) {
  Syn::srate = 44100.0f;
  ADSR e;
  std::vector<std::string> lines = printed_lines([&] { e.setSustainLevel(-0.2f); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "[chip](via ADSR): sustain level out of range ... correcting!");
  EXPECT_EQ(e.sustainLevel, 0.0f);
  e.setSustainLevel(1.5f);
  EXPECT_EQ(e.sustainLevel, 1.5f);

  lines = printed_lines([&] {
    e.setAttackTime(-0.1f);
    e.setDecayTime(-0.1f);
    e.setReleaseRate(-0.5f);
  });
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "[chip](via ADSR): negative rates not allowed ... correcting!");
  EXPECT_EQ(lines[1], "[chip](via ADSR): negative times not allowed ... correcting!");
  EXPECT_EQ(lines[2], "[chip](via ADSR): negative rates not allowed ... correcting!");
  EXPECT_NEAR(e.attackRate, 1.0 / 4410.0, 1e-9);
  EXPECT_EQ(e.decayTime, -0.1f);  // kept as given
  EXPECT_EQ(e.releaseRate, 0.5f);

  e.setDecayRate(0.01f);
  EXPECT_EQ(e.decayTime, -1.0f);
  e.setSustainLevel(0.3f);
  EXPECT_EQ(e.decayRate, 0.01f);
}

// A whole note on e: no NaN comes out, and a sane value afterwards is obeyed.
template <typename E>
void drive_note(E& e) {
  e.keyOn();
  for (int i = 0; i < 300; i++) ASSERT_FALSE(std::isnan(e.tick()));
  e.keyOff();
  for (int i = 0; i < 300; i++) ASSERT_FALSE(std::isnan(e.tick()));
  e.setValue(0.25f);
  EXPECT_EQ(e.tick(), 0.25f);
}

// Every setter fed every hostile value, then driven through a note.
TEST_F(SynToolkitTest, HostileParametersNeverLeaveEnvelopesAtNaN) {
  Syn::srate = 44100.0f;
  typedef void (*EnvelopePoke)(Envelope&, float);
  const EnvelopePoke envelope_pokes[] = {
      [](Envelope& e, float v) { e.setTarget(v); },
      [](Envelope& e, float v) { e.setValue(v); },
      [](Envelope& e, float v) { e.setTime(v); },
      [](Envelope& e, float v) { e.setRate(v); },
  };
  typedef void (*AdsrPoke)(ADSR&, float);
  const AdsrPoke adsr_pokes[] = {
      [](ADSR& e, float v) { e.setTime(v); },
      [](ADSR& e, float v) { e.setRate(v); },
      [](ADSR& e, float v) { e.setTarget(v); },
      [](ADSR& e, float v) { e.setValue(v); },
      [](ADSR& e, float v) { e.setSustainLevel(v); },
      [](ADSR& e, float v) { e.setAttackRate(v); },
      [](ADSR& e, float v) { e.setDecayRate(v); },
      [](ADSR& e, float v) { e.setReleaseRate(v); },
      [](ADSR& e, float v) { e.setAttackTime(v); },
      [](ADSR& e, float v) { e.setDecayTime(v); },
      [](ADSR& e, float v) { e.setReleaseTime(v); },
      [](ADSR& e, float v) { e.setAllTimes(v, v, v, v); },
  };
  printed_lines([&] {
    for (float v : kHostile) {
      for (size_t p = 0; p < sizeof envelope_pokes / sizeof envelope_pokes[0]; p++) {
        SCOPED_TRACE(testing::Message() << "Envelope setter " << p << " value " << v);
        Envelope e;
        envelope_pokes[p](e, v);
        drive_note(e);
      }
      for (size_t p = 0; p < sizeof adsr_pokes / sizeof adsr_pokes[0]; p++) {
        SCOPED_TRACE(testing::Message() << "ADSR setter " << p << " value " << v);
        ADSR e;
        adsr_pokes[p](e, v);
        drive_note(e);
      }
    }
  });
}

// ---------------------------------------------------------------------------
// Noise

TEST_F(SynToolkitTest, NoiseFollowsItsFormulaAndIsUniform) {
  Noise noise;
  std::srand(1234);
  std::vector<float> expected;
  for (int i = 0; i < 16; i++) {
    expected.push_back(static_cast<float>(2.0 * std::rand() / 2147483648.0) - 1.0f);
  }
  std::srand(1234);
  for (float x : expected) EXPECT_EQ(noise.tick(), x);
  EXPECT_EQ(noise.lastOutput, expected.back());

  // Uniform on [-1, 1): mean 0, variance 1/3 (within five standard errors).
  const int n = 40000;
  double sum = 0.0, sum2 = 0.0;
  float lo = 1.0f, hi = -1.0f;
  for (int i = 0; i < n; i++) {
    const float x = noise.tick();
    sum += x;
    sum2 += double(x) * x;
    lo = std::min(lo, x);
    hi = std::max(hi, x);
  }
  const double mean = sum / n;
  const double var = sum2 / n - mean * mean;
  EXPECT_NEAR(mean, 0.0, 5.0 * std::sqrt(1.0 / 3.0 / n));
  EXPECT_NEAR(var, 1.0 / 3.0, 5.0 * std::sqrt(4.0 / 45.0 / n));
  EXPECT_GE(lo, -1.0f);
  EXPECT_LT(hi, 1.0f);
  EXPECT_LT(lo, -0.99f);
  EXPECT_GT(hi, 0.99f);
}

TEST_F(SynToolkitTest, SubNoiseHoldsEachValue) {
  const int holds[] = {1, 3, 16};
  for (int hold : holds) {
    SCOPED_TRACE(hold);
    SubNoise noise(hold);
    std::vector<float> out;
    for (int i = 0; i < 4 * hold; i++) out.push_back(noise.tick());
    for (int i = 0; i < 4 * hold; i++) EXPECT_EQ(out[i], out[(i / hold) * hold]);
    // Consecutive blocks differ (a repeat has odds of about 2^-31).
    for (int b = 1; b < 4; b++) EXPECT_NE(out[b * hold], out[(b - 1) * hold]);
  }
  SubNoise noise;  // 16
  const float first = noise.tick();
  for (int i = 0; i < 5; i++) EXPECT_EQ(noise.tick(), first);
  noise.setRate(3);  // below the count: the next tick draws
  EXPECT_NE(noise.tick(), first);
  noise.setRate(0);
  noise.setRate(-3);
  EXPECT_EQ(noise.holdLength, 3);
}

// ---------------------------------------------------------------------------
// Tables

float clip(double y) { return static_cast<float>(std::min(1.0, std::max(-1.0, y))); }

TEST_F(SynToolkitTest, ReedTableIsAClippedLine) {
  ReedTabl reed;
  reed.setOffset(0.7f);
  reed.setSlope(-0.3f);
  const struct {
    float x, y;
  } points[] = {{0.0f, 0.7f}, {-1.0f, 1.0f}, {6.0f, -1.0f}, {1.0f, 0.4f}};
  for (const auto& p : points) EXPECT_FLOAT_EQ(reed.tick(p.x), p.y);
  const float params[][2] = {{0.7f, -0.3f}, {0.2f, 0.5f}, {-0.1f, 2.0f}};
  for (const auto& q : params) {
    reed.setOffset(q[0]);
    reed.setSlope(q[1]);
    for (double x = -3.0; x <= 3.0; x += 0.125) {
      const float y = reed.tick(static_cast<float>(x));
      EXPECT_NEAR(y, clip(q[0] + q[1] * x), 1e-6) << x;
      EXPECT_EQ(reed.lastOutput, y);
    }
  }
}

TEST_F(SynToolkitTest, JetTableIsAClippedCubic) {
  JetTabl jet;
  const struct {
    float x, y;
  } points[] = {{0.0f, 0.0f},    {1.0f, 0.0f}, {-1.0f, 0.0f},
                {0.5f, -0.375f}, {2.0f, 1.0f}, {-2.0f, -1.0f}};
  for (const auto& p : points) EXPECT_FLOAT_EQ(jet.tick(p.x), p.y);
  for (double x = -2.0; x <= 2.0; x += 0.0625) {
    const float y = jet.tick(static_cast<float>(x));
    EXPECT_NEAR(y, clip(x * x * x - x), 1e-6) << x;
    EXPECT_EQ(jet.lastOutput, y);
  }
}

TEST_F(SynToolkitTest, BowTableIsACappedInverseFourthPower) {
  BowTabl bow;
  bow.setOffset(0.0f);
  bow.setSlope(3.0f);
  EXPECT_EQ(bow.tick(0.0f), 1.0f);
  EXPECT_NEAR(bow.tick(1.0f), 1.0 / std::pow(3.75, 4.0), 1e-7);
  const float params[][2] = {{0.0f, 3.0f}, {0.1f, 5.0f}, {-0.2f, 1.0f}};
  for (const auto& q : params) {
    bow.setOffset(q[0]);
    bow.setSlope(q[1]);
    for (double x = -2.0; x <= 2.0; x += 0.0625) {
      const float y = bow.tick(static_cast<float>(x));
      const double b = std::fabs((x + q[0]) * q[1]) + 0.75;
      EXPECT_NEAR(y, std::min(1.0, 1.0 / (b * b * b * b)), 1e-6) << x;
      EXPECT_GT(y, 0.0f);
      EXPECT_EQ(bow.lastOutput, y);
    }
  }
  EXPECT_GT(bow.tick(1e6f), 0.0f);
}

// Hostile inputs and parameters: the tables stay inside their ranges (a NaN
// input gives NaN: they are memoryless), the noise keeps its range and its
// hold length stays at least 1.
TEST_F(SynToolkitTest, HostileValuesKeepTablesAndNoiseInRange) {
  for (float p : kHostile) {
    for (float x : kHostile) {
      SCOPED_TRACE(testing::Message() << "parameter " << p << " input " << x);
      ReedTabl reed;
      reed.setOffset(p);
      reed.setSlope(p);
      BowTabl bow;
      bow.setOffset(p);
      bow.setSlope(p);
      JetTabl jet;
      const float ys[] = {reed.tick(x), bow.tick(x), jet.tick(x)};
      const bool nan_in = std::isnan(x) || std::isnan(p);
      for (int k = 0; k < 3; k++) {
        if (std::isnan(ys[k])) {
          // Only from a NaN, or from infinities meeting (inf - inf, 0 x inf).
          EXPECT_TRUE(nan_in || std::isinf(x) || std::isinf(p)) << k;
        } else {
          EXPECT_GE(ys[k], k == 1 ? 0.0f : -1.0f) << k;
          EXPECT_LE(ys[k], 1.0f) << k;
        }
      }
    }
  }
  const int lengths[] = {-2147483647 - 1, -1, 0, 1, 2, 2147483647};
  for (int length : lengths) {
    SCOPED_TRACE(length);
    SubNoise noise(5);
    noise.setRate(length);
    EXPECT_EQ(noise.holdLength, length > 0 ? length : 5);
    for (int i = 0; i < 20; i++) {
      const float y = noise.tick();
      EXPECT_GE(y, -1.0f);
      EXPECT_LT(y, 1.0f);
    }
  }
  // At the largest hold length the count ends there instead of overflowing.
  SubNoise forever(2147483647);
  forever.counter = 2147483647;
  forever.tick();
  EXPECT_EQ(forever.counter, 1);
}

}  // namespace
