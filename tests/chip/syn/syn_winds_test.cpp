// The wind instruments on their own: the pitch each plays against the one
// its loop delay gives (line lengths plus the loop filters' phase delays,
// from their coefficients), notes below the lowest frequency, the control
// tables on the signal parameters, and tables of hostile settings after
// which the output stays finite and a normal note plays at pitch again.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "chip/syn/syn.h"
#include "chip/syn/syn_control.h"
#include "chip/syn/syn_winds.h"
#include "log_capture.h"
#include "spectrum_support.h"
#include "wind_loop_support.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();
const float kHostile[] = {-1e30f, -1.0f, 0.0f, 0.5f, 1.0f, 2.0f, 1e30f, 3e38f, kNaN, kInf, -kInf};

class WindsTest : public ::testing::Test {
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

float peak(const std::vector<float>& x) {
  float p = 0.0f;
  for (float y : x) p = std::fmax(p, std::fabs(y));
  return p;
}

double cents(double f, double reference) { return 1200.0 * std::log2(f / reference); }

// ---------------------------------------------------------------------------
// The loops. Each gives the pitch its waveguide resonates at, from the
// instrument's lines and filters as they stand.

using windloop::phase_delay;
using windloop::resonance;

// Bore, one sample from lastOut to the loop filter, the filter; inverted.
double clarinet_pitch(Clarinet& c, double guess) {
  return resonance(
      [&](double w) { return phase_delay(c.delayLine, w) + 1.0 + phase_delay(c.filter, w); }, 1.0,
      guess, Syn::srate);
}

// The sounding path runs through both lines (each read a sample late) and
// the filter, twice inverted: a whole turn.
double saxofony_pitch(Saxofony& s, double guess) {
  return resonance(
      [&](double w) {
        return phase_delay(s.delays[0], w) + 1.0 + phase_delay(s.filter, w) +
               phase_delay(s.delays[1], w) + 1.0;
      },
      2.0, guess, Syn::srate);
}

// The three lines (each read a sample late) and the filter; inverted.
double blowhole_pitch(BlowHole& b, double guess) {
  return resonance(
      [&](double w) {
        double d = phase_delay(b.filter, w) + 3.0;
        for (const DelayL& line : b.delays) d += phase_delay(line, w);
        return d;
      },
      1.0, guess, Syn::srate);
}

// The wave back from the open end (bore, read a sample late, lowpass with
// its inverting gain, DC blocker) returns to the bore by two paths: the end
// reflection, and the jet (its reflection, its line, and the jet table's
// slope 3 b^2 - 1 at the sustained breath b). The strongest resonance of
// the two near the note; the jet overblows the bore to it.
double flute_pitch(Flute& f, double guess) {
  const double b = double(f.breath.maxPressure) * double(f.breath.envelope.sustainLevel);
  const double slope = 3.0 * b * b - 1.0;
  return windloop::strongest_resonance(
      [&](double w) {
        const auto back = std::polar(1.0, -w * (phase_delay(f.boreDelay, w) + 1.0)) *
                          windloop::response(f.filter, w) * windloop::response(f.dcBlock, w);
        const auto jet = std::polar(1.0, -w * phase_delay(f.jetDelay, w));
        return back * (double(f.endReflection) - slope * double(f.jetReflection) * jet);
      },
      guess, Syn::srate);
}

// The angle of a two-pole filter's poles, in Hz.
double pole_frequency(const FilterSyn& f) {
  const double r = std::sqrt(double(f.a[2]));
  return std::acos(-double(f.a[1]) / (2.0 * r)) * Syn::srate / (2.0 * M_PI);
}

// The resonator's pole angle.
double blowbotl_pitch(BlowBotl& b, double) { return pole_frequency(b.resonator); }

// Tube and DC blocker, not inverted; the lips pick the second mode.
double brass_pitch(Brass& b, double guess) {
  return resonance(
      [&](double w) {
        return phase_delay(b.delayLine, w) + 1.0 + phase_delay(b.dcBlock, w);
      },
      4.0, guess, Syn::srate);
}

// Plays a quarter second, measures the next by autocorrelation and checks
// it against the loop's pitch; prints the error against the note in cents.
template <typename T>
void expect_pitch(const char* name, T& in, double note, double (*loop)(T&, double),
                  double tolerance = 0.02) {
  const size_t quarter = size_t(Syn::srate / 4.0f);
  play(in, quarter);
  const std::vector<float> x = play(in, quarter);
  ASSERT_GT(peak(x), 0.005f) << name << " is silent at " << note << " Hz";
  const double measured = spectrum::fundamental(x, note, Syn::srate);
  const double expected = loop(in, note);
  std::printf("%-9s %6.0f Hz  note %7.2f  loop %8.3f  measured %8.3f (%+.2f %%)  %+6.1f cents\n",
              name, Syn::srate, note, expected, measured, 100.0 * (measured / expected - 1.0),
              cents(measured, note));
  EXPECT_NEAR(measured, expected, expected * tolerance) << name << " at " << note;
}

const float kRates[] = {16000.0f, 44100.0f};
const float kNotes[] = {110.0f, 123.47f, 155.56f, 220.0f, 311.13f, 440.0f};

TEST_F(WindsTest, ReedWindsPlayTheirLoopsPitch) {
  for (float rate : kRates) {
    Syn::srate = rate;
    for (float note : kNotes) {
      SCOPED_TRACE(::testing::Message() << rate << " Hz, note " << note);
      Clarinet c(30.0f);
      c.controlChange(4, 0.0f);  // no breath noise: the same result every run
      c.noteOn(note, 0.8f);
      expect_pitch("Clarinet", c, note, clarinet_pitch);

      Saxofony s(20.0f);
      s.controlChange(4, 0.0f);
      s.noteOn(note, 0.8f);
      expect_pitch("Saxofony", s, note, saxofony_pitch);

      BlowHole b(20.0f);
      b.controlChange(4, 0.0f);
      b.setTonehole(0.0f);  // the full bore sounds with the hole closed
      b.noteOn(note, 0.8f);
      expect_pitch("BlowHole", b, note, blowhole_pitch);
    }
  }
}

TEST_F(WindsTest, JetWindsPlayTheirLoopsPitch) {
  for (float rate : kRates) {
    Syn::srate = rate;
    for (float note : kNotes) {
      SCOPED_TRACE(::testing::Message() << rate << " Hz, note " << note);
      BlowBotl b;
      b.controlChange(4, 0.0f);
      b.noteOn(note, 0.8f);
      expect_pitch("BlowBotl", b, note, blowbotl_pitch);

      // A Flute made for 40 Hz holds a bore of half its line: its lowest
      // note is about 120 Hz.
      if (note < 120.0f) continue;
      // At 44.1 kHz the DC blocker's phase lead at the lowest notes moves
      // the linear loop's resonance further than the jet lets the note go.
      Flute f(40.0f);
      f.controlChange(4, 0.0f);
      f.noteOn(note, 0.8f);
      expect_pitch("Flute", f, note, flute_pitch, rate > 20000.0f && note < 200.0f ? 0.04 : 0.02);
    }
  }
}

// The lips buzz a little above their own resonance: with it at the note
// (lip 0.5) the tube sounds a few per cent sharp of its mode; a player
// slackens them (lip 56/128, the resonance 0.84 of the note) and the tube's
// mode sounds. The lip filter's gain at DC grows as the note falls against
// the rate, so only a gentle breath keeps the lips from staying open: the
// breath that speaks is found per note.
TEST_F(WindsTest, BrassPlaysTheTubesSecondMode) {
  struct Case {
    float rate, note, breath;
  };
  const Case cases[] = {{16000.0f, 110.0f, 0.07f}, {16000.0f, 220.0f, 0.2f},
                        {16000.0f, 440.0f, 0.8f},  {44100.0f, 440.0f, 0.1f},
                        {44100.0f, 440.0f, 0.2f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.rate << " Hz, note " << c.note);
    Syn::srate = c.rate;
    Brass b(20.0f);
    b.setFrequency(c.note);
    b.controlChange(2, 56.0f);
    EXPECT_FLOAT_EQ(b.storedLip, 56.0 / 128.0);
    b.startBlowing(c.breath, 0.005f);
    expect_pitch("Brass", b, c.note, brass_pitch);
  }
  // With the lips tuned to the note it still speaks, sharp of the tube.
  Syn::srate = 16000.0f;
  Brass b(20.0f);
  b.noteOn(220.0f, 0.8f);
  expect_pitch("Brass", b, 220.0, brass_pitch, 0.06);
}

// Below the lowest frequency the lines hold their whole length, and asking
// again and again prints nothing more.
TEST_F(WindsTest, BelowTheLowestFrequencyTheLinesHoldTheirLength) {
  Syn::srate = 44100.0f;
  const float lows[] = {5.0f, 1e-3f, 1e-30f, 1e-45f};
  Clarinet c(30.0f);
  Saxofony s(20.0f);
  BlowHole h(20.0f);
  Flute f(40.0f);
  Brass b(20.0f);
  std::vector<std::string> lines = printed_lines([&] {
    for (int repeat = 0; repeat < 100; repeat++) {
      for (float low : lows) {
        c.setFrequency(low);
        s.setFrequency(low);
        h.setFrequency(low);
        f.setFrequency(low);
        b.setFrequency(low);
        b.tick();
      }
    }
  });
  EXPECT_EQ(c.delayLine.getDelay(), float(c.length));
  EXPECT_EQ(c.length, 1471);
  EXPECT_EQ(s.delays[0].getDelay() + s.delays[1].getDelay(), float(s.length));
  EXPECT_EQ(h.delays[1].getDelay(), float(h.length));
  EXPECT_EQ(f.boreDelay.getDelay(), float(f.length));
  EXPECT_EQ(f.length, 1103 / 2);
  EXPECT_EQ(b.delayLine.getDelay(), float(b.length));
  // Only the brass tube, asked for more than its line, says so (once).
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("DelayA: setDelay("), std::string::npos);
  EXPECT_NE(lines[0].find(") too big!"), std::string::npos);
  for (float y : play(b, 1000)) ASSERT_TRUE(std::isfinite(y));
}

// ---------------------------------------------------------------------------
// Construction and controls.

TEST_F(WindsTest, ConstructionFollowsTheRate) {
  Syn::srate = 44100.0f;
  Clarinet c(30.0f);
  EXPECT_FLOAT_EQ(c.delayLine.getDelay(), 44100.0f / 220.0f * 0.5f - 1.5f);
  EXPECT_EQ(c.m_frequency, 220.0);
  Saxofony s(20.0f);
  EXPECT_EQ(s.length, 2206);
  EXPECT_FLOAT_EQ(s.delays[0].getDelay(), 0.8f * 1103.0f);
  EXPECT_FLOAT_EQ(s.delays[1].getDelay(), 0.2f * 1103.0f);
  BlowHole h(20.0f);
  EXPECT_FLOAT_EQ(h.delays[0].getDelay(), 10.0f);
  EXPECT_FLOAT_EQ(h.delays[2].getDelay(), 8.0f);
  EXPECT_FLOAT_EQ(h.delays[1].getDelay(), 44100.0f / 220.0f * 0.5f - 3.5f - 18.0f);
  const double k = 0.0084 * 44100.0;
  EXPECT_FLOAT_EQ(h.thCoeff, float((k - 347.23) / (k + 347.23)));
  EXPECT_FLOAT_EQ(h.tonehole.b[0], h.thCoeff);
  EXPECT_FLOAT_EQ(h.tonehole.a[1], -h.thCoeff);
  EXPECT_EQ(h.vent.getGain(), 0.0f);
  Flute f(40.0f);
  EXPECT_FLOAT_EQ(f.boreDelay.getDelay(), 100.0f);
  EXPECT_FLOAT_EQ(f.jetDelay.getDelay(), 49.0f);
  EXPECT_FLOAT_EQ(f.filter.a[1], -0.65f);
  EXPECT_FLOAT_EQ(f.filter.b[0], 0.35f);
  EXPECT_EQ(f.filter.getGain(), -1.0f);
  BlowBotl bb;
  EXPECT_EQ(bb.m_frequency, 500.0);
  EXPECT_NEAR(blowbotl_pitch(bb, 0.0), 500.0, 0.01);
  Brass b(20.0f);
  EXPECT_FLOAT_EQ(b.delayLine.getDelay(), 44100.0f / 220.0f * 2.0f + 3.0f);
  EXPECT_EQ(b.storedSlide, 2206.0);
  EXPECT_EQ(b.lipTarget, 220.0f);
  EXPECT_FLOAT_EQ(b.lipFilter.a[2], 0.99400896f);
}

TEST_F(WindsTest, FrequencyCorrectionsAndStoredFrequency) {
  Syn::srate = 44100.0f;
  Clarinet c(30.0f);
  std::vector<std::string> lines = printed_lines([&] { c.setFrequency(0.0f); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "[chip](via SYN): Clarinet: setFrequency parameter is less than or equal to zero!");
  EXPECT_EQ(c.m_frequency, 220.0);
  c.setFrequency(1e9f);  // the delay would be below 0
  EXPECT_FLOAT_EQ(c.delayLine.getDelay(), 0.3f);
  // Flute keeps its argument, and tunes the bore to 2/3 of 220 Hz.
  Flute f(40.0f);
  lines = printed_lines([&] { f.setFrequency(-1.0f); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(f.m_frequency, -1.0);
  EXPECT_FLOAT_EQ(f.lastFrequency, float(220.0 * 0.66666));
  f.setFrequency(440.0f);
  EXPECT_FLOAT_EQ(f.lastFrequency, float(440.0 * 0.66666));
  const float d = 44100.0f / f.lastFrequency - 2.0f;
  EXPECT_FLOAT_EQ(f.boreDelay.getDelay(), d);
  EXPECT_FLOAT_EQ(f.jetDelay.getDelay(), d * 0.32f);
  // Brass's lip: at or below 0, 220 Hz with its own message.
  Brass b(20.0f);
  lines = printed_lines([&] { b.setLip(-5.0f); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "[chip](via SYN): Brass: setLip parameter is less than or equal to zero!");
}

TEST_F(WindsTest, ControlTablesSetTheSignalParameters) {
  Syn::srate = 44100.0f;
  Clarinet c(30.0f);
  c.controlChange(2, 64.0f);
  EXPECT_FLOAT_EQ(c.reedTable.slope, -0.31f);
  EXPECT_EQ(c.storedReed, 0.5);
  c.controlChange(1, 128.0f);
  EXPECT_FLOAT_EQ(c.breath.vibratoGain, 0.5f);
  c.controlChange(4, 32.0f);
  EXPECT_FLOAT_EQ(c.breath.noiseGain, 0.1f);
  c.controlChange(11, 64.0f);
  EXPECT_FLOAT_EQ(c.breath.vibrato.frequency, 6.0f);
  EXPECT_EQ(c.storedVibratoFreq, 6.0);
  c.controlChange(128, 32.0f);
  EXPECT_EQ(c.breath.envelope.value, 0.25f);
  std::vector<std::string> lines = printed_lines([&] {
    c.controlChange(2, 200.0f);
    c.controlChange(2, -3.0f);
    c.controlChange(7, 10.0f);
  });
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "[chip](via SYN): Clarinet: Control value greater than 128.0!");
  EXPECT_EQ(lines[1], "[chip](via SYN): Clarinet: Control value less than zero!");
  EXPECT_EQ(lines[2], "[chip](via SYN): Clarinet: Undefined Control Number (7)!!");
  EXPECT_FLOAT_EQ(c.reedTable.slope, -0.44f);

  Saxofony s(20.0f);
  s.setFrequency(220.0f);
  s.controlChange(2, 64.0f);
  EXPECT_FLOAT_EQ(s.reedTable.slope, 0.3f);
  s.controlChange(26, 128.0f);
  EXPECT_FLOAT_EQ(s.reedTable.offset, 1.0f);
  s.controlChange(29, 32.0f);
  EXPECT_FLOAT_EQ(s.breath.vibrato.frequency, 3.0f);
  const float total = s.delays[0].getDelay() + s.delays[1].getDelay();
  s.controlChange(11, 64.0f);
  EXPECT_EQ(s.position, 0.5f);
  EXPECT_FLOAT_EQ(s.delays[1].getDelay(), 0.5f * total);
  s.setBlowPosition(1.5f);
  EXPECT_EQ(s.position, 1.0f);
  EXPECT_FLOAT_EQ(s.delays[0].getDelay(), 0.0f);
  // The same position again (compared before the clamp) leaves the lines.
  s.delays[0].setDelay(3.0f);
  s.delays[1].setDelay(7.0f);
  s.setBlowPosition(1.0f);
  EXPECT_EQ(s.delays[0].getDelay(), 3.0f);
  EXPECT_EQ(s.delays[1].getDelay(), 7.0f);
  s.setBlowPosition(1.5f);  // differs before the clamp: the total is divided again
  EXPECT_EQ(s.delays[0].getDelay(), 0.0f);
  EXPECT_EQ(s.delays[1].getDelay(), 10.0f);

  BlowHole h(20.0f);
  h.controlChange(1, 64.0f);
  EXPECT_FLOAT_EQ(h.vent.getGain(), 0.5f * h.rhGain);
  EXPECT_EQ(h.storedVent, 0.5);
  h.controlChange(11, 0.0f);
  EXPECT_FLOAT_EQ(h.tonehole.b[0], 0.9995f);
  EXPECT_FLOAT_EQ(h.tonehole.a[1], -0.9995f);
  EXPECT_EQ(h.tonehole.b[1], -1.0f);
  h.controlChange(11, 64.0f);
  EXPECT_FLOAT_EQ(h.tonehole.b[0], float(0.9995 + 0.5 * (double(h.thCoeff) - 0.9995)));
  h.setVent(2.0f);
  EXPECT_FLOAT_EQ(h.vent.getGain(), h.rhGain);

  Flute f(40.0f);
  f.controlChange(2, 0.0f);
  EXPECT_FLOAT_EQ(f.jetRatio, 0.08f);
  EXPECT_FLOAT_EQ(f.storedJetDelay, 0.08f);
  f.controlChange(2, 128.0f);
  EXPECT_FLOAT_EQ(f.jetRatio, 0.56f);
  f.controlChange(128, 64.0f);
  EXPECT_EQ(f.storedPressure, 0.5);

  BlowBotl bb;
  bb.controlChange(4, 128.0f);
  EXPECT_EQ(bb.noiseGain, 30.0f);
  lines = printed_lines([&] { bb.controlChange(2, 5.0f); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "[chip](via SYN): BlowBotl: Undefined Control Number (2)!!");

  Brass b(20.0f);
  b.controlChange(2, 64.0f);  // 4^0: the lips at the note
  EXPECT_NEAR(pole_frequency(b.lipFilter), 220.0, 0.05);
  b.controlChange(2, 0.0f);  // two octaves lower
  EXPECT_NEAR(pole_frequency(b.lipFilter), 55.0, 0.05);
  b.controlChange(2, 128.0f);  // two octaves higher
  EXPECT_NEAR(pole_frequency(b.lipFilter), 880.0, 0.05);
  EXPECT_EQ(b.lipTarget, 220.0f);
  b.controlChange(4, 0.0f);
  EXPECT_FLOAT_EQ(b.delayLine.getDelay(), 0.5f * b.slideTarget);
  b.controlChange(4, 128.0f);
  EXPECT_FLOAT_EQ(b.delayLine.getDelay(), 1.5f * b.slideTarget);
}

TEST_F(WindsTest, NotesStartAndStopTheBreath) {
  Syn::srate = 44100.0f;
  // The breath envelope's rate setter derives a ramp time from the distance
  // left, which is 0 at rest (the order rate, then target, matters): from
  // rest the breath reaches its target on the next sample.
  Clarinet c(30.0f);
  c.noteOn(440.0f, 1.0f);
  EXPECT_FLOAT_EQ(c.outputGain, 1.001f);
  EXPECT_FLOAT_EQ(c.breath.envelope.target, 0.85f);
  c.tick();
  EXPECT_FLOAT_EQ(c.breath.envelope.value, 0.85f);
  c.startBlowing(0.45f, 0.001f);
  c.tick();
  EXPECT_FLOAT_EQ(c.breath.envelope.value, 0.45f);
  c.noteOff(0.5f);
  EXPECT_EQ(c.breath.envelope.target, 0.0f);
  c.tick();
  EXPECT_EQ(c.breath.envelope.value, 0.0f);
  Flute f(40.0f);
  f.noteOn(440.0f, 0.0f);
  EXPECT_FLOAT_EQ(f.breath.maxPressure, 1.375f);
  EXPECT_FLOAT_EQ(f.outputGain, 0.001f);
  Brass b(20.0f);
  b.noteOn(220.0f, 0.5f);
  EXPECT_EQ(b.breath.maxPressure, 0.5f);
  EXPECT_FLOAT_EQ(b.breath.envelope.attackRate, 0.0005f);
  b.noteOff(1.0f);
  EXPECT_FLOAT_EQ(b.breath.envelope.releaseRate, 0.005f);
  EXPECT_EQ(b.breath.envelope.state, ADSR::RELEASE);
  // The note ends: the breath falls to 0 and the waveguide rings out.
  c.noteOn(440.0f, 1.0f);
  EXPECT_GT(peak(play(c, 4410)), 0.1f);
  c.noteOff(1.0f);
  play(c, 44100);
  EXPECT_LT(peak(play(c, 4410)), 1e-3f);
}

// ---------------------------------------------------------------------------
// Hostile settings. Every setter an instrument's language class reaches,
// and every control, is given each hostile value: the output stays finite,
// then the member is set back to a normal value, the breath let go, and a
// normal note plays at the loop's pitch. A NaN changes nothing at all (the
// instrument plays on exactly as a twin that never saw it) and prints one
// line.

template <typename T>
struct Member {
  const char* name;
  std::function<void(T&, float)> set;
  float normal;  // a value to set back afterwards
};

template <typename T>
std::vector<Member<T>> common_members(std::vector<int> controls) {
  std::vector<Member<T>> m = {
      {"setFrequency", [](T& in, float v) { in.setFrequency(v); }, 220.0f},
      {"noteOn frequency", [](T& in, float v) { in.noteOn(v, 0.8f); }, 220.0f},
      {"noteOn amplitude", [](T& in, float v) { in.noteOn(220.0f, v); }, 0.8f},
      {"noteOff", [](T& in, float v) { in.noteOff(v); }, 0.5f},
      {"startBlowing", [](T& in, float v) { in.startBlowing(v, 0.005f); }, 0.8f},
      {"startBlowing rate", [](T& in, float v) { in.startBlowing(0.8f, v); }, 0.005f},
      {"stopBlowing", [](T& in, float v) { in.stopBlowing(v); }, 0.01f},
  };
  for (int number : controls) {
    m.push_back({"controlChange",
                 [number](T& in, float v) { in.controlChange(number, v * 128.0f); }, 0.5f});
  }
  return m;
}

template <typename T>
struct Kind {
  const char* name;
  std::function<T*()> make;
  std::vector<Member<T>> members;
  std::function<void(T&)> normalNote;
  double (*pitch)(T&, double);
};

// The breath noise off: the same samples every run.
template <typename T>
void quiet(T& in) {
  in.controlChange(4, 0.0f);
}

template <typename T>
void hostile_table(const Kind<T>& kind) {
  Syn::srate = 16000.0f;
  for (size_t i = 0; i < kind.members.size(); i++) {
    const Member<T>& member = kind.members[i];
    for (float v : kHostile) {
      SCOPED_TRACE(::testing::Message() << kind.name << " member " << i << " (" << member.name
                                        << ") = " << v);
      std::unique_ptr<T> in(kind.make());
      printed_lines([&] {
        in->noteOn(220.0f, 0.8f);
        member.set(*in, v);
        for (float y : play(*in, 512)) ASSERT_TRUE(std::isfinite(y));
        member.set(*in, member.normal);
        quiet(*in);
        kind.normalNote(*in);
      });
      play(*in, 1600);
      const std::vector<float> x = play(*in, 2400);
      ASSERT_GT(peak(x), 0.005f);
      const double expected = kind.pitch(*in, 220.0);
      EXPECT_NEAR(spectrum::fundamental(x, expected, 16000.0), expected, expected * 0.02);
    }
  }
}

template <typename T>
void nan_table(const Kind<T>& kind) {
  Syn::srate = 16000.0f;
  for (size_t i = 0; i < kind.members.size(); i++) {
    const Member<T>& member = kind.members[i];
    SCOPED_TRACE(::testing::Message() << kind.name << " member " << i << " (" << member.name
                                      << ")");
    std::unique_ptr<T> in(kind.make()), twin(kind.make());
    for (T* t : {in.get(), twin.get()}) {
      t->controlChange(4, 0.0f);
      t->noteOn(220.0f, 0.8f);
      play(*t, 256);
    }
    std::vector<std::string> lines = printed_lines([&] { member.set(*in, kNaN); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(std::string(kind.name) + ": "), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(" is not a number!"), std::string::npos) << lines[0];
    // A note still does with its other argument what it does; setting the
    // same frequency again on the twin moves its lines' read points by a
    // rounding, hence the tolerance there.
    const std::string name = member.name;
    if (name == "noteOn frequency") twin->noteOn(220.0f, 0.8f);
    if (name == "noteOn amplitude") twin->setFrequency(220.0f);
    EXPECT_EQ(in->m_frequency, twin->m_frequency);
    const std::vector<float> a = play(*in, 1000), b = play(*twin, 1000);
    if (name == "noteOn frequency" || name == "noteOn amplitude") {
      for (size_t k = 0; k < a.size(); k++) ASSERT_NEAR(a[k], b[k], 1e-3f) << k;
    } else {
      ASSERT_EQ(a, b);
    }
  }
}

Kind<Clarinet> clarinet_kind() {
  auto members = common_members<Clarinet>({1, 2, 4, 11, 128, 7});
  return {"Clarinet", [] { return new Clarinet(30.0f); }, members,
          [](Clarinet& c) {
            c.controlChange(128, 0.0f);  // the breath let go at once
            c.noteOn(220.0f, 0.8f);
          },
          clarinet_pitch};
}

Kind<Saxofony> saxofony_kind() {
  auto members = common_members<Saxofony>({1, 2, 4, 11, 26, 29, 128, 3});
  members.push_back({"setBlowPosition", [](Saxofony& s, float v) { s.setBlowPosition(v); },
                     0.2f});
  return {"Saxofony",
          [] {
            Saxofony* s = new Saxofony(20.0f);
            s->setFrequency(220.0f);
            return s;
          },
          members,
          [](Saxofony& s) {
            s.controlChange(128, 0.0f);
            s.noteOn(220.0f, 0.8f);
          },
          saxofony_pitch};
}

Kind<BlowHole> blowhole_kind() {
  auto members = common_members<BlowHole>({1, 2, 4, 11, 128, 26});
  members.push_back({"setVent", [](BlowHole& b, float v) { b.setVent(v); }, 0.0f});
  members.push_back({"setTonehole", [](BlowHole& b, float v) { b.setTonehole(v); }, 0.0f});
  return {"BlowHole", [] { return new BlowHole(20.0f); }, members,
          [](BlowHole& b) {
            b.setTonehole(0.0f);
            b.setVent(0.0f);
            b.controlChange(128, 0.0f);
            b.noteOn(220.0f, 0.8f);
          },
          blowhole_pitch};
}

Kind<Flute> flute_kind() {
  auto members = common_members<Flute>({1, 2, 4, 11, 128, 26});
  members.push_back({"setJetDelay", [](Flute& f, float v) { f.setJetDelay(v); }, 0.32f});
  members.push_back(
      {"setJetReflection", [](Flute& f, float v) { f.setJetReflection(v); }, 0.5f});
  members.push_back(
      {"setEndReflection", [](Flute& f, float v) { f.setEndReflection(v); }, 0.5f});
  return {"Flute", [] { return new Flute(40.0f); }, members,
          [](Flute& f) {
            f.clear();
            f.breath.envelope.setValue(0.0f);  // the breath at rest, as made
            f.breath.envelope.setSustainLevel(0.8f);
            f.noteOn(220.0f, 0.8f);
          },
          flute_pitch};
}

Kind<BlowBotl> blowbotl_kind() {
  auto members = common_members<BlowBotl>({1, 4, 11, 128, 2});
  return {"BlowBotl", [] { return new BlowBotl; }, members,
          [](BlowBotl& b) {
            b.breath.envelope.setValue(0.0f);
            b.breath.envelope.setSustainLevel(0.8f);
            b.noteOn(220.0f, 0.8f);
          },
          blowbotl_pitch};
}

Kind<Brass> brass_kind() {
  auto members = common_members<Brass>({1, 2, 4, 11, 128, 26});
  members.push_back({"setLip", [](Brass& b, float v) { b.setLip(v); }, 220.0f});
  return {"Brass", [] { return new Brass(20.0f); }, members,
          [](Brass& b) {
            b.clear();
            b.breath.envelope.setValue(0.0f);
            b.breath.envelope.setSustainLevel(1.0f);
            b.setFrequency(220.0f);
            b.controlChange(2, 56.0f);
            b.startBlowing(0.2f, 0.005f);
          },
          brass_pitch};
}

TEST_F(WindsTest, HostileSettingsOfTheReedWinds) {
  hostile_table(clarinet_kind());
  hostile_table(saxofony_kind());
  hostile_table(blowhole_kind());
}

TEST_F(WindsTest, HostileSettingsOfTheJetAndLipWinds) {
  hostile_table(flute_kind());
  hostile_table(blowbotl_kind());
  hostile_table(brass_kind());
}

TEST_F(WindsTest, ANaNSettingChangesNothingAndSaysSoOnce) {
  nan_table(clarinet_kind());
  nan_table(saxofony_kind());
  nan_table(blowhole_kind());
  nan_table(flute_kind());
  nan_table(blowbotl_kind());
  nan_table(brass_kind());
}

}  // namespace
