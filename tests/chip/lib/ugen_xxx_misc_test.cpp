// The xxx module's small generators: Noise, CNoise, Impulse, Step, HalfRect,
// FullRect, DelayP and Dyno. Most cases run a program on a machine and read
// the two dac channels sample by sample; the expected values come from
// closed forms (moments of a uniform variable, the detector's step response,
// the gain law), from the other channel (a delay is a shift of its input) or
// from a periodogram computed here. Hostile parameters are fed straight to
// the members, called by their language names on objects built by hand; the
// plain classes behind the members are also checked on their own, without a
// machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "chip/lib/ugen_xxx.h"
#include "chip/types/chip_type.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/ugen_frame.h"
#include "emit_test_support.h"
#include "log_capture.h"
#include "module_test_support.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
// Every setter is fed these.
const double kHostile[] = {-1e30, -1.0, 0.0, 0.5, 1.0, 2.0, 1e30, kNaN, kInf, -kInf};

// ---------------------------------------------------------------------------
// Oracles.

double mean(const std::vector<float>& x) {
  double sum = 0.0;
  for (float v : x) sum += v;
  return sum / static_cast<double>(x.size());
}

double variance(const std::vector<float>& x) {
  const double m = mean(x);
  double sum = 0.0;
  for (float v : x) sum += (v - m) * (v - m);
  return sum / static_cast<double>(x.size());
}

// Correlation of neighbouring samples.
double lag1_correlation(const std::vector<float>& x) {
  const double m = mean(x);
  double num = 0.0;
  for (size_t i = 1; i < x.size(); i++) num += (x[i] - m) * (x[i - 1] - m);
  return num / (static_cast<double>(x.size() - 1) * variance(x));
}

// In-place radix-2 FFT (size a power of two).
void fft(std::vector<std::complex<double>>& a) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; i++) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const std::complex<double> step =
        std::polar(1.0, -2.0 * std::numbers::pi / static_cast<double>(len));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w(1.0, 0.0);
      for (size_t k = 0; k < len / 2; k++) {
        const std::complex<double> u = a[i + k];
        const std::complex<double> v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        w *= step;
      }
    }
  }
}

// Power per bin averaged over Hann-windowed segments of `seg` samples, each
// with its own mean removed (Welch's estimate, up to a constant factor).
std::vector<double> welch(const std::vector<float>& x, size_t seg) {
  std::vector<double> power(seg / 2, 0.0);
  size_t count = 0;
  for (size_t start = 0; start + seg <= x.size(); start += seg, count++) {
    double m = 0.0;
    for (size_t i = 0; i < seg; i++) m += x[start + i];
    m /= static_cast<double>(seg);
    std::vector<std::complex<double>> a(seg);
    for (size_t i = 0; i < seg; i++) {
      const double hann =
          0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / seg);
      a[i] = (x[start + i] - m) * hann;
    }
    fft(a);
    for (size_t k = 0; k < seg / 2; k++) power[k] += std::norm(a[k]);
  }
  for (double& p : power) p /= static_cast<double>(count);
  return power;
}

// Detector of a dynamics processor fed a constant magnitude a from rest:
// env[k] = env[k-1] + at (a - env[k-1]) - rt env[k-1] while it rises, so
// env[k] = E (1 - (1 - at - rt)^k) with E = a at / (at + rt).
double step_envelope(double a, double at, double rt, int k) {
  const double settled = a * at / (at + rt);
  return settled * (1.0 - std::pow(1.0 - at - rt, k));
}

// A detector coefficient for a time of `ms` milliseconds at 44.1 samples
// per millisecond.
double coefficient_ms(double ms) { return 1.0 - std::exp(-2.2 / (44.1 * ms)); }

// ---------------------------------------------------------------------------

class XxxMiscTest : public EmitProgramTest {
 protected:
  XxxMiscTest() : EmitProgramTest("misc.chip") {}

  void SetUp() override {
    EmitProgramTest::SetUp();
    std::srand(20261210);
  }

  void TearDown() override {
    for (Chip_Object* obj : objects) obj->release();
    objects.clear();
    EmitProgramTest::TearDown();
  }

  struct Render {
    std::vector<float> left, right;
    Lines printed;
  };

  // Runs source for `frames` samples; the dac's two channels, one value per
  // sample from the first sample computed after the program started. The
  // program's shred is removed afterwards.
  Render render(const std::string& source, size_t frames) {
    Render r;
    if (!vm) vm = make_vm();
    Lines errors;
    Chip_VM_Code* program = compile(source, &errors);
    EXPECT_NE(program, nullptr) << source << "\n" << (errors.empty() ? "" : errors[0]);
    if (!program) return r;
    Chip_UGen* dac = vm->dac();
    r.printed = printed_lines([&] {
      vm->spork(program, nullptr);
      for (size_t i = 0; i < frames; i++) {
        vm->run(1);
        r.left.push_back(dac->multi_chan[0]->last);
        r.right.push_back(dac->multi_chan[1]->last);
      }
    });
    // The program's generators leave the graph with its shred (the machine
    // deletes the message).
    Chip_Msg* remove_all = new Chip_Msg;
    remove_all->kind = Chip_Msg::MSG_REMOVEALL;
    vm->process_msg(remove_all);
    return r;
  }

  // A constructed native object of the named class, held until TearDown.
  Chip_UGen* make(const char* name) {
    return static_cast<Chip_UGen*>(make_native(env, name, objects));
  }

  // The member `name` of self as a script calls it: a float or dur setter
  // (the result as a double), an int setter, a getter, a method without
  // arguments and a string method.
  static double set(Chip_Object* self, const char* name, double value) {
    return set_member(self, name, value).v_float;
  }
  static t_CPWORD set_int(Chip_Object* self, const char* name, t_CPINT value) {
    return set_member(self, name, value).v_int;
  }
  static Chip_DL_Return get(Chip_Object* self, const char* name) { return get_member(self, name); }
  static void call(Chip_Object* self, const char* name) { call_member(self, name); }
  static void set_string(Chip_Object* self, const char* name, Chip_String* value) {
    t_CPWORD word = reinterpret_cast<t_CPWORD>(value);
    call_member(self, name, &word, 1);
  }
  static SAMPLE tick(Chip_UGen* node, SAMPLE in) {
    SAMPLE out = -12345.0f;
    EXPECT_EQ(node->tick(node, in, &out, nullptr), 1u);
    return out;
  }

  void mode(Chip_UGen* cnoise, const char* text) {
    Chip_String s(text);
    set_string(cnoise, "mode", &s);
  }

  // The native object of a language object built by make; null, with a test
  // failure, when it holds none.
  template <typename T>
  static T* native(Chip_Object* obj, t_CPWORD offset) {
    Frame_Obj* o = frame_object(obj, offset);
    EXPECT_NE(o, nullptr);
    return static_cast<T*>(o);
  }

  std::vector<Chip_Object*> objects;
};

TEST_F(XxxMiscTest, RegistersTheGeneratorsAsMonoClassesWithHiddenState) {
  const struct {
    const char* name;
    const char* state;  // hidden member, or null
    t_CPWORD* offset;
  } cases[] = {{"Noise", nullptr, nullptr},
               {"CNoise", "@cnoise_data", &cnoise_offset_data},
               {"Impulse", "@impulse_data", &impulse_offset_data},
               {"Step", "@step_data", &step_offset_data},
               {"HalfRect", nullptr, nullptr},
               {"FullRect", nullptr, nullptr},
               {"DelayP", "@delayp_data", &delayp_offset_data},
               {"Dyno", "@dyno_data", &dyno_offset_data}};
  // Each class ticks by a function of its own, in the order registered.
  std::vector<f_tick> ticks;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Chip_Type* type = env->global()->lookup_type(std::string(c.name), 0);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->parent->name, "UGen");
    ASSERT_NE(type->ugen_info, nullptr);
    ASSERT_NE(type->ugen_info->tick, nullptr);
    EXPECT_NE(type->ugen_info->tick, type->parent->ugen_info->tick);
    EXPECT_EQ(std::count(ticks.begin(), ticks.end(), type->ugen_info->tick), 0);
    ticks.push_back(type->ugen_info->tick);
    EXPECT_EQ(type->ugen_info->num_ins, 1u);
    EXPECT_EQ(type->ugen_info->num_outs, 1u);
    if (c.state) {
      Chip_Value* member = type_engine_find_value(type, std::string(c.state));
      ASSERT_NE(member, nullptr);
      EXPECT_EQ(static_cast<t_CPWORD>(member->offset), *c.offset);
      // The member holds the class's native object from construction on.
      EXPECT_NE(frame_object(make(c.name), *c.offset), nullptr);
    }
  }
  // Only DelayP answers parameter messages (all of them).
  Chip_UGen* delay = make("DelayP");
  ASSERT_NE(delay->pmsg, nullptr);
  EXPECT_EQ(delay->pmsg(delay, "anything", nullptr, nullptr), 1u);
  EXPECT_EQ(make("Dyno")->pmsg, nullptr);

  // Member overloads from the language side; the string and dur forms.
  const struct {
    const char* source;
    bool ok;
  } programs[] = {
      {"CNoise c; c.mode(\"xor\"); c.fprob(0.5);", true},
      {"Impulse i; i.next(0.5) => float a; i.next() => float b;", true},
      {"Step s; s.next(0.5) => float a; s.next() => float b;", true},
      {"DelayP d; d.delay(1::ms) => dur a; d.window() => dur b; d.max(2::second) => dur c;", true},
      {"Dyno y; y.limit(); y.compress(); y.gate(); y.expand(); y.duck();\n"
       "y.ratio(4.0) => float r; y.attackTime(5::ms) => dur a; y.releaseTime() => dur b;\n"
       "y.externalSideInput(1) => int e; y.sideInput() => float s; y.thresh(0.2) => float t;\n"
       "y.slopeAbove() => float u; y.slopeBelow(1.0) => float v;",
       true},
      {"delayp d; noise n; cnoise c; impulse i; step s; halfrect h; fullrect f;", true},
      {"CNoise c; c.mode(1);", false},
      {"DelayP d; d.delay(1.0);", false},
      {"Dyno y; y.limit(1.0);", false},
  };
  for (const auto& p : programs) {
    SCOPED_TRACE(p.source);
    EXPECT_EQ(compile(p.source) != nullptr, p.ok);
  }
}

TEST_F(XxxMiscTest, WhiteNoiseIsUniformAndUncorrelated) {
  // Noise, and CNoise's "white" mode: mean 0, variance 1/3, no correlation
  // between neighbours, never outside [-1, 1].
  const char* sources[] = {"Noise n => dac.left; 1::hour => now;",
                           "CNoise n => dac.left; n.mode(\"white\"); 1::hour => now;"};
  for (const char* source : sources) {
    SCOPED_TRACE(source);
    std::vector<float> x = render(source, 16000).left;
    ASSERT_EQ(x.size(), 16000u);
    // Tolerances are 4 to 5 standard errors of the estimates.
    EXPECT_NEAR(mean(x), 0.0, 0.02);
    EXPECT_NEAR(variance(x), 1.0 / 3.0, 0.012);
    EXPECT_NEAR(lag1_correlation(x), 0.0, 0.04);
    EXPECT_LE(*std::max_element(x.begin(), x.end()), 1.0f);
    EXPECT_GE(*std::min_element(x.begin(), x.end()), -1.0f);
  }
}

TEST_F(XxxMiscTest, PinkNoiseFallsTenDecibelsPerDecade) {
  // A new CNoise is pink; its first sample builds the rows and moves the
  // output to [0, 2].
  std::vector<float> x = render("CNoise c => dac.left; 1::hour => now;", 16384).left;
  ASSERT_EQ(x.size(), 16384u);
  EXPECT_GE(*std::min_element(x.begin(), x.end()), 0.0f);
  EXPECT_LE(*std::max_element(x.begin(), x.end()), 2.0f);
  EXPECT_GT(mean(x), 0.5);

  // Band powers per octave from 16 Hz to 4 kHz (at 16 kHz, bins of 3.9 Hz),
  // and the least-squares slope of their levels against log frequency.
  const size_t seg = 4096;
  const double bin_hz = static_cast<double>(vmtest::SRATE) / static_cast<double>(seg);
  std::vector<double> power = welch(x, seg);
  std::vector<double> lf, level;
  for (double lo = 15.625; lo < 4000.0; lo *= 2.0) {
    double sum = 0.0;
    int bins = 0;
    for (size_t k = static_cast<size_t>(lo / bin_hz); k < static_cast<size_t>(2 * lo / bin_hz);
         k++, bins++) {
      sum += power[k];
    }
    lf.push_back(std::log10(lo * std::sqrt(2.0)));
    level.push_back(10.0 * std::log10(sum / bins));
  }
  double mf = 0.0, ml = 0.0;
  for (size_t i = 0; i < lf.size(); i++) {
    mf += lf[i] / lf.size();
    ml += level[i] / lf.size();
  }
  double num = 0.0, den = 0.0;
  for (size_t i = 0; i < lf.size(); i++) {
    num += (lf[i] - mf) * (level[i] - ml);
    den += (lf[i] - mf) * (lf[i] - mf);
  }
  EXPECT_NEAR(num / den, -10.0, 2.0);


  // White noise, measured the same way, is flat: the slope tells them apart.
  std::vector<double> flat = welch(render("Noise n => dac.left; 1::hour => now;", 16384).left, seg);
  const double low = flat[8] + flat[9] + flat[10], high = flat[800] + flat[801] + flat[802];
  EXPECT_NEAR(10.0 * std::log10(low / high), 0.0, 4.0);
}

TEST_F(XxxMiscTest, PinkRowsSumInSixtyFourBitsAndTheCounterWraps) {
  Chip_UGen* c = make("CNoise");
  CNoise_Obj* d = native<CNoise_Obj>(c, cnoise_offset_data);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->mode, CNOISE_PINK);
  EXPECT_EQ(d->bias, -1.0);
  EXPECT_EQ(d->dice, nullptr);
  tick(c, 0.0f);
  ASSERT_NE(d->dice, nullptr);
  EXPECT_EQ(d->bias, 0.0);
  EXPECT_DOUBLE_EQ(d->scale, 2.0 / (25.0 * 2147483647.0));

  // All 24 rows at the top of rand()'s range: their sum needs more than 32
  // bits, and the output stays at its top, 2 x 24 / 25 and above.
  int64_t total = 0;
  for (int k = 0; k < d->depth; k++) total += (d->dice[k] = 2147483647);
  d->sum = total;
  d->counter = 1u << 30;  // lowest set bit beyond the rows: none renewed
  const SAMPLE top = tick(c, 0.0f);
  EXPECT_GE(top, 2.0f * 24.0f / 25.0f - 1e-6f);
  EXPECT_LE(top, 2.0f);

  // The counter wraps from 2^32 - 1 to 0; at 0 no row is renewed, then the
  // count goes on from 1 (which renews row 0).
  d->counter = 0xFFFFFFFFu;
  tick(c, 0.0f);  // renews row 0
  EXPECT_EQ(d->counter, 0u);
  std::vector<int32_t> rows(d->dice.get(), d->dice.get() + d->depth);
  tick(c, 0.0f);
  EXPECT_EQ(d->counter, 1u);
  EXPECT_EQ(std::vector<int32_t>(d->dice.get(), d->dice.get() + d->depth), rows);
  int64_t sum = 0;
  for (int32_t row : rows) sum += row;
  EXPECT_EQ(d->sum, sum);

  // Selecting "pink" again puts the bias back at -1: output in [-1, 1].
  mode(c, "pink");
  for (int i = 0; i < 200; i++) {
    const SAMPLE v = tick(c, 0.0f);
    ASSERT_GE(v, -1.0f);
    ASSERT_LE(v, 1.0f);
  }
}

TEST_F(XxxMiscTest, CNoiseBitModesToggleTheirWord) {
  Chip_UGen* c = make("CNoise");
  CNoise_Obj* d = native<CNoise_Obj>(c, cnoise_offset_data);
  ASSERT_NE(d, nullptr);
  const double scale = 2.0 / 2147483647.0;

  // flip: exactly one of the 31 bits changes per sample; the output is the
  // word mapped onto [-1, 1].
  mode(c, "flip");
  EXPECT_EQ(d->mode, CNOISE_FLIP);
  uint32_t before = d->bits;
  for (int i = 0; i < 500; i++) {
    const SAMPLE v = tick(c, 0.0f);
    ASSERT_EQ(std::popcount(d->bits ^ before), 1) << i;
    ASSERT_LT(d->bits, 1u << 31);
    ASSERT_EQ(v, static_cast<SAMPLE>(-1.0 + d->bits * scale));
    before = d->bits;
  }

  // xor: each bit changes with probability fprob, so a sample changes 31 p
  // bits on average.
  mode(c, "xor");
  const struct {
    double p;
    double mean_changes, tolerance;
  } probs[] = {{1.0, 31.0, 0.0}, {0.25, 31 * 0.25, 0.25}, {1.0 / 32.0, 31.0 / 32.0, 0.1},
               {0.0, 0.0, 0.01}};
  for (const auto& p : probs) {
    SCOPED_TRACE(p.p);
    set(c, "fprob", p.p);
    double changes = 0.0;
    for (int i = 0; i < 4000; i++) {
      before = d->bits;
      const SAMPLE v = tick(c, 0.0f);
      ASSERT_GE(v, -1.0f);
      ASSERT_LE(v, 1.0f);
      changes += std::popcount(d->bits ^ before);
    }
    EXPECT_NEAR(changes / 4000.0, p.mean_changes, p.tolerance);
  }

  // The bit word is the mode's own: pink rows do not leak into it.
  const uint32_t kept = d->bits;
  mode(c, "pink");
  for (int i = 0; i < 100; i++) tick(c, 0.0f);
  mode(c, "xor");
  set(c, "fprob", 1.0);
  EXPECT_EQ(tick(c, 0.0f), static_cast<SAMPLE>(-1.0 + (kept ^ 0x7FFFFFFFu) * scale));
  EXPECT_EQ(tick(c, 0.0f), static_cast<SAMPLE>(-1.0 + kept * scale));

  // brown and fbm are silent; an unknown name changes nothing.
  for (const char* silent : {"brown", "fbm"}) {
    mode(c, silent);
    for (int i = 0; i < 10; i++) EXPECT_EQ(tick(c, 0.7f), 0.0f) << silent;
  }
  mode(c, "flip");
  for (const char* unknown : {"Pink", "", "white ", "noise"}) {
    mode(c, unknown);
    EXPECT_EQ(d->mode, CNOISE_FLIP) << unknown;
  }
  set_string(c, "mode", nullptr);
  EXPECT_EQ(d->mode, CNOISE_FLIP);
}

TEST_F(XxxMiscTest, ImpulseAndStepOutputExactly) {
  const struct {
    const char* source;
    std::vector<float> left, right;
  } cases[] = {
      // Impulse: one sample of next per setting, zeros between.
      {"Impulse i => dac.left; 0.5 => i.next; 3::samp => now;\n"
       "i.next(2.0); 2::samp => now; -0.125 => i.next; i.next(0.75); 1::hour => now;",
       {0.5f, 0, 0, 2.0f, 0, 0.75f, 0, 0},
       {0, 0, 0, 0, 0, 0, 0, 0}},
      // Step: 1.0 from construction with nothing connected; each next holds.
      {"Step s => dac.right; 2::samp => now; -0.25 => s.next; 3::samp => now;\n"
       "s.next(0.0); 1::samp => now; 0.125 => s.next; 1::hour => now;",
       {0, 0, 0, 0, 0, 0, 0},
       {1.0f, 1.0f, -0.25f, -0.25f, -0.25f, 0.0f, 0.125f}},
      // Both through a Gain: scaled by it.
      {"Impulse i => Gain g => dac.left; Step s => g; 0.5 => g.gain; 0.25 => s.next;\n"
       "i.next(1.0); 1::hour => now;",
       {0.625f, 0.125f, 0.125f},
       {0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    Render r = render(c.source, c.left.size());
    EXPECT_EQ(r.left, c.left);
    EXPECT_EQ(r.right, c.right);
  }

  // The setters return what they stored (as a 32-bit float); the getters
  // read it back.
  Chip_UGen* imp = make("Impulse");
  Chip_UGen* step = make("Step");
  EXPECT_EQ(get(imp, "next").v_float, 1.0);
  EXPECT_EQ(get(step, "next").v_float, 1.0);
  EXPECT_EQ(tick(imp, 0.3f), 0.0f);  // nothing pending yet
  EXPECT_EQ(set(imp, "next", 0.1), static_cast<double>(0.1f));
  EXPECT_EQ(set(step, "next", 0.1), static_cast<double>(0.1f));
  EXPECT_EQ(get(imp, "next").v_float, static_cast<double>(0.1f));
  EXPECT_EQ(get(step, "next").v_float, static_cast<double>(0.1f));
}

TEST_F(XxxMiscTest, RectifiersMatchMaxAndAbs) {
  // Noise into a rectifier on the left, the same noise on the right.
  const struct {
    const char* name;
    float (*oracle)(float);
  } cases[] = {{"HalfRect", [](float x) { return std::max(x, 0.0f); }},
               {"FullRect", [](float x) { return std::fabs(x); }}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Render r = render(std::string("Noise n => ") + c.name + " r => dac.left; n => dac.right;\n" +
                          "1::hour => now;",
                      2000);
    ASSERT_EQ(r.left.size(), 2000u);
    for (size_t i = 0; i < r.left.size(); i++) ASSERT_EQ(r.left[i], c.oracle(r.right[i])) << i;
  }

  // Chosen values, NaN and infinities straight into the ticks.
  Chip_UGen* half = make("HalfRect");
  Chip_UGen* full = make("FullRect");
  const float values[] = {-0.3f, 0.3f, 0.0f, -0.0f, -1e30f, 1e30f, 1e-20f, -1e-20f};
  for (float v : values) {
    EXPECT_EQ(tick(half, v), v > 0.0f ? v : 0.0f) << v;
    EXPECT_EQ(tick(full, v), std::fabs(v)) << v;
  }
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(tick(half, inf), inf);
  EXPECT_EQ(tick(half, -inf), 0.0f);
  EXPECT_EQ(tick(half, std::nanf("")), 0.0f);
  EXPECT_EQ(tick(full, -inf), inf);
  EXPECT_TRUE(std::isnan(tick(full, std::nanf(""))));
}

// ---------------------------------------------------------------------------
// DelayP

TEST_F(XxxMiscTest, DelayPShiftsByItsDelay) {
  // The line is set up (and its delay in force) before noise reaches it, so
  // its output is exactly the input moved by the delay: whole delays shift,
  // half-sample delays average neighbours.
  const struct {
    const char* delay;
    double whole;
    double frac;
  } cases[] = {{"0::samp", 0, 0},   {"1::samp", 1, 0},     {"7::samp", 7, 0},
               {"100::samp", 100, 0}, {"1000::samp", 1000, 0}, {"2.5::samp", 2, 0.5},
               {"(-5)::samp", 0, 0}};  // no negative delay: none
  for (const auto& c : cases) {
    SCOPED_TRACE(c.delay);
    std::string source = std::string("DelayP d => dac.left; d.window(0::samp);\n") +
                         "d.delay(10::samp); 1::samp => now; d.delay(" + c.delay + ");\n" +
                         "30::samp => now; Noise n => d; n => dac.right; 1::hour => now;";
    Render r = render(source, 1600);
    ASSERT_EQ(r.left.size(), 1600u);
    const size_t start = 31;  // first sample with noise
    const size_t d = static_cast<size_t>(c.whole);
    for (size_t t = start; t < start + d && t < r.left.size(); t++) ASSERT_EQ(r.left[t], 0.0f) << t;
    for (size_t t = start + d + 1; t < r.left.size(); t++) {
      const float now_in = r.right[t - d];
      const float before = r.right[t - d - 1];
      if (c.frac == 0.0) {
        ASSERT_FLOAT_EQ(r.left[t], now_in) << t;
      } else {
        ASSERT_NEAR(r.left[t], (1.0 - c.frac) * now_in + c.frac * before, 1e-6) << t;
      }
    }
  }
}

TEST_F(XxxMiscTest, DelayPGlidesToANewDelayOverItsWindow) {
  // Delay 0 to 100 over a window of 1000 samples, set at time 0; impulses
  // along the way come out around their send time plus the delay of the
  // linear glide at that time, and after it exactly 100 samples late.
  Render r = render(
      "Impulse i => DelayP d => dac.left; i => dac.right;\n"
      "d.window(1000::samp); d.delay(100::samp);\n"
      "250::samp => now; 1.0 => i.next; 250::samp => now; 1.0 => i.next;\n"
      "250::samp => now; 1.0 => i.next; 450::samp => now; 1.0 => i.next;\n"
      "1::hour => now;",
      1400);
  ASSERT_EQ(r.left.size(), 1400u);
  const struct {
    size_t sent;
    double lag;
  } pulses[] = {{250, 25.0}, {500, 50.0}, {750, 75.0}, {1200, 100.0}};
  for (const auto& p : pulses) {
    SCOPED_TRACE(p.sent);
    EXPECT_EQ(r.right[p.sent], 1.0f);
    // Centre of the output pulse within 40 samples of the expected arrival.
    double mass = 0.0, moment = 0.0;
    const size_t centre = p.sent + static_cast<size_t>(p.lag);
    for (size_t t = centre - 40; t <= centre + 40; t++) {
      mass += r.left[t];
      moment += r.left[t] * static_cast<double>(t);
    }
    ASSERT_GT(mass, 0.5);
    EXPECT_NEAR(moment / mass - static_cast<double>(p.sent), p.lag, 0.5);
  }
  // After the glide the line is a plain shift: the pulse is intact.
  EXPECT_EQ(r.left[1300], 1.0f);
  EXPECT_EQ(r.left[1299], 0.0f);
  EXPECT_EQ(r.left[1301], 0.0f);

  // Over a window of 4410 samples, 0 to 441 takes exactly 4410 ticks, in
  // steps of 0.1; the setter answers the delay in force.
  Chip_UGen* d = make("DelayP");
  EXPECT_EQ(set(d, "window", 4410.0), 4410.0);
  tick(d, 0.0f);
  EXPECT_EQ(set(d, "delay", 441.0), 0.0);
  for (int k = 1; k <= 4410; k++) {
    tick(d, 0.0f);
    ASSERT_NEAR(get(d, "delay").v_dur, 0.1 * k, 1e-9) << k;
  }
  EXPECT_EQ(get(d, "delay").v_dur, 441.0);
  // The same delay again changes nothing; a new one starts from where the
  // line is.
  EXPECT_EQ(set(d, "delay", 441.0), 441.0);
  tick(d, 0.0f);
  EXPECT_EQ(get(d, "delay").v_dur, 441.0);
  set(d, "delay", 0.0);
  tick(d, 0.0f);
  EXPECT_NEAR(get(d, "delay").v_dur, 440.9, 1e-9);
}

TEST_F(XxxMiscTest, DelayPGlidesInBlocksOfFrames) {
  // With block processing every frame of a block carries one time stamp;
  // the line counts its own ticks, so it glides and shifts as it does
  // sample by sample. Blocks of 64, shreds waking on block boundaries.
  vm = make_vm(TRUE, 64);
  Chip_VM_Code* program = compile(
      "Impulse i => DelayP d => dac.left; i => dac.right;\n"
      "d.window(640::samp); d.delay(64::samp);\n"
      "320::samp => now; 1.0 => i.next; 704::samp => now; 1.0 => i.next;\n"
      "1::hour => now;");
  ASSERT_NE(program, nullptr);
  vm->spork(program, nullptr);
  std::vector<float> left, right;
  for (int block = 0; block < 20; block++) {
    vm->run(64);
    ASSERT_GE(vm->dac()->multi_chan[0]->size_v, 64u);
    for (int j = 0; j < 64; j++) {
      left.push_back(vm->dac()->multi_chan[0]->current_v[j]);
      right.push_back(vm->dac()->multi_chan[1]->current_v[j]);
    }
  }
  std::vector<size_t> sent;
  for (size_t t = 0; t < right.size(); t++) {
    if (right[t] == 1.0f) sent.push_back(t);
  }
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1] - sent[0], 1024u - 320u);
  // Sent at 320 and out at the tick after, halfway through the glide: the
  // delay is then 32.1 (a pulse centred 32.1 + 0.05 late, the head moving
  // at 1.1 samples per tick); after the glide, exactly 64.
  double mass = 0.0, moment = 0.0;
  for (size_t t = sent[0] + 16; t < sent[0] + 48; t++) {
    mass += left[t];
    moment += left[t] * static_cast<double>(t - sent[0]);
  }
  ASSERT_GT(mass, 0.5);
  EXPECT_NEAR(moment / mass, 32.1, 0.5);
  EXPECT_EQ(left[sent[1] + 64], 1.0f);
  EXPECT_EQ(left[sent[1] + 63], 0.0f);
  EXPECT_EQ(left[sent[1] + 65], 0.0f);
}

TEST_F(XxxMiscTest, DelayPLimitsItsDelayToItsMax) {
  // Two seconds at the module's 16 kHz; a longer delay is refused until max
  // is raised; a max of one sample or less is ignored.
  Render r = render(
      "DelayP d => dac.left;\n"
      "<<< d.max(), d.window() >>>;\n"
      "d.delay(48000::samp) => dur a;\n"
      "<<< a, d.delay() >>>;\n"
      "d.max(64000::samp) => dur m;\n"
      "<<< m >>>;\n"
      "d.delay(48000::samp);\n"
      "<<< d.delay(), d.max((-1)::samp), d.max(0.5::samp) >>>;\n"
      "1::hour => now;",
      1);
  const Lines expected = {
      "32000.000000 1.000000 ",
      "[chip](via delayp): delay time 48000.000000 over max!  set max first!",
      "0.000000 0.000000 ",
      "64000.000000 :(dur)",
      "0.000000 64000.000000 64000.000000 "};
  EXPECT_EQ(r.printed, expected);

  // Raising max clears the line; a length of 1.2 gives a one-sample ring
  // that still passes its input through at delay 0.
  Chip_UGen* d = make("DelayP");
  DelayP_Obj* data = native<DelayP_Obj>(d, delayp_offset_data);
  ASSERT_NE(data, nullptr);
  for (int i = 0; i < 10; i++) tick(d, 1.0f);
  EXPECT_EQ(set(d, "max", 1.2), 1.0);
  EXPECT_EQ(data->size, 1);
  for (float v : {0.25f, -0.5f, 0.75f}) EXPECT_EQ(tick(d, v), v);
  // A max beyond the longest line is cut to it.
  EXPECT_EQ(set(d, "max", 1e30), static_cast<double>(DELAYP_MAX_SIZE));
}

// ---------------------------------------------------------------------------
// Dyno

TEST_F(XxxMiscTest, DynoFollowsItsGainLawFromRest) {
  // A constant input x (from a Step) through a Dyno from rest: the detector
  // rises as the closed form above, and the gain is (env / thresh)^(slope -
  // 1) with the slope above or below the threshold.
  struct Law {
    double above, below, thresh, attack_ms, release_ms;
  };
  const Law limit = {0.1, 1.0, 0.5, 5, 300}, compress = {0.5, 1.0, 0.5, 5, 500},
            ratio4 = {0.25, 1.0, 0.5, 5, 500}, gate = {1.0, 1e8, 0.1, 11, 100},
            expand = {2.0, 1.0, 0.5, 20, 400}, duck = {0.5, 1.0, 0.1, 10, 1000};
  const struct {
    const char* setup;
    Law law;
    double x;
    double side;  // detector input when listening to the side input, else < 0
  } cases[] = {
      {"", limit, 0.8, -1},
      {"y.limit();", limit, -0.8, -1},
      {"y.compress();", compress, 0.8, -1},
      {"y.compress(); y.ratio(4.0);", ratio4, 0.8, -1},
      {"y.gate();", gate, 0.05, -1},
      {"y.gate();", gate, 0.5, -1},
      {"y.expand();", expand, 0.8, -1},
      {"y.expand();", expand, 0.3, -1},
      {"y.duck(); y.sideInput(0.5);", duck, 0.8, 0.5},
      {"y.duck(); y.sideInput(0.0);", duck, 0.8, 0.0},
      {"y.attackTime(50::samp); y.releaseTime(2000::samp); y.thresh(0.2); y.slopeAbove(0.5);",
       {0.5, 1.0, 0.2, 50 / 44.1, 2000 / 44.1}, 0.6, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.setup) + " x=" + std::to_string(c.x));
    char source[512];
    std::snprintf(source, sizeof source, "Step s => Dyno y => dac.left; s.next(%g); %s\n%s",
                  c.x, c.setup, "1::hour => now;");
    Render r = render(source, 4000);
    ASSERT_EQ(r.left.size(), 4000u);
    const double at = coefficient_ms(c.law.attack_ms), rt = coefficient_ms(c.law.release_ms);
    const double a = c.side >= 0 ? c.side : std::fabs(c.x);
    for (int j : {0, 10, 400, 1000, 3999}) {
      const double env = step_envelope(a, at, rt, j + 1);
      const double slope = c.law.thresh < env ? c.law.above : c.law.below;
      const double expected = c.x * (slope == 1.0 ? 1.0 : std::pow(env / c.law.thresh, slope - 1));
      EXPECT_NEAR(r.left[j], expected, 1e-5 * std::fabs(c.x) + 1e-30) << "sample " << j;
    }
  }
}

TEST_F(XxxMiscTest, DynoMembersStoreAndReport) {
  Chip_UGen* y = make("Dyno");
  // The preset times in samples at 44.1 per millisecond, at an engine rate
  // of 16 kHz.
  EXPECT_NEAR(get(y, "attackTime").v_dur, 5 * 44.1, 1e-9);
  EXPECT_NEAR(get(y, "releaseTime").v_dur, 300 * 44.1, 1e-6);
  EXPECT_EQ(get(y, "thresh").v_float, 0.5);
  EXPECT_EQ(get(y, "slopeAbove").v_float, 0.1);

  EXPECT_DOUBLE_EQ(set(y, "ratio", 4.0), 4.0);
  EXPECT_EQ(get(y, "slopeAbove").v_float, 0.25);
  EXPECT_EQ(get(y, "slopeBelow").v_float, 1.0);
  EXPECT_DOUBLE_EQ(get(y, "ratio").v_float, 4.0);

  EXPECT_NEAR(set(y, "attackTime", 100.0), 100.0, 1e-9);
  EXPECT_NEAR(set(y, "releaseTime", 1e30), 1e30, 1e16);  // no precision lost
  EXPECT_EQ(set(y, "attackTime", 0.0), 0.0);              // instantaneous
  EXPECT_EQ(set(y, "sideInput", 0.3), 0.3);
  EXPECT_EQ(get(y, "sideInput").v_float, 0.3);
  EXPECT_EQ(set_int(y, "externalSideInput", 7), 7);
  EXPECT_EQ(get(y, "externalSideInput").v_int, 7);
  call(y, "duck");
  EXPECT_EQ(get(y, "externalSideInput").v_int, 1);
  EXPECT_NEAR(get(y, "releaseTime").v_dur, 1000 * 44.1, 1e-6);

  // The gate silences a signal whose detector stays under its threshold.
  call(y, "gate");
  for (int i = 0; i < 1000; i++) ASSERT_EQ(tick(y, i % 2 ? 0.09f : -0.09f), 0.0f) << i;
}

TEST_F(XxxMiscTest, DynoRecoversFromANonFiniteDetector) {
  // A NaN side input poisons the detector for a sample; once the preset
  // listens to the input again, the detector starts from rest and follows
  // the closed form exactly.
  Chip_UGen* y = make("Dyno");
  set_int(y, "externalSideInput", 1);
  set(y, "sideInput", kNaN);
  tick(y, 0.8f);
  set(y, "sideInput", 1e300);
  tick(y, 0.8f);
  call(y, "limit");
  const double at = coefficient_ms(5), rt = coefficient_ms(300);
  for (int k = 1; k <= 2000; k++) {
    const SAMPLE out = tick(y, 0.8f);
    const double env = step_envelope(0.8, at, rt, k);
    const double expected = env > 0.5 ? 0.8 * std::pow(env / 0.5, 0.1 - 1.0) : 0.8;
    ASSERT_NEAR(out, expected, 1e-5) << k;
  }
}

// ---------------------------------------------------------------------------
// Hostile parameters: every setter of every class gets every value of
// kHostile on a fresh object, which then ticks; afterwards sane settings
// must bring back sane output.

TEST_F(XxxMiscTest, HostileParametersNeverBreakATick) {
  const SAMPLE inputs[] = {0.5f, -0.25f, 1.0f, 0.0f};
  auto run = [&](Chip_UGen* node) {
    for (int i = 0; i < 64; i++) tick(node, inputs[i % 4]);
  };

  for (double v : kHostile) {
    SCOPED_TRACE(v);
    for (const char* name : {"Impulse", "Step"}) {
      Chip_UGen* node = make(name);
      set(node, "next", v);
      run(node);
      set(node, "next", 0.5);
      EXPECT_EQ(tick(node, 0.0f), 0.5f);
    }

    Chip_UGen* noise = make("CNoise");
    CNoise_Obj* nd = native<CNoise_Obj>(noise, cnoise_offset_data);
    ASSERT_NE(nd, nullptr);
    mode(noise, "xor");
    set(noise, "fprob", v);
    const uint32_t before = nd->bits;
    tick(noise, 0.0f);
    // Beyond 1 every bit toggles; below 0 and NaN, (practically) none.
    if (v >= 1.0) {
      EXPECT_EQ(std::popcount(nd->bits ^ before), 31);
    } else if (v < 0.0 || std::isnan(v)) {
      EXPECT_EQ(nd->bits, before);
    }
    run(noise);
    for (int i = 0; i < 64; i++) ASSERT_LE(std::fabs(tick(noise, 0.0f)), 1.0f);

    // DelayP: each member, then a short line with a plain delay of 3.
    for (const char* member : {"delay", "window", "max"}) {
      Chip_UGen* d = make("DelayP");
      set(d, "delay", 7.0);
      run(d);
      const double returned = set(d, member, v);
      EXPECT_FALSE(std::isnan(returned));
      run(d);
      DelayP_Obj* data = native<DelayP_Obj>(d, delayp_offset_data);
      ASSERT_NE(data, nullptr);
      EXPECT_GE(data->size, 1);
      EXPECT_LE(data->size, DELAYP_MAX_SIZE);
      EXPECT_TRUE(std::isfinite(data->window) && data->window >= 0.0);
      EXPECT_TRUE(data->target >= 0.0 && std::isfinite(data->target));
      set(d, "window", 0.0);
      set(d, "max", 100.0);
      set(d, "max", 64.0);
      set(d, "delay", 3.0);
      std::vector<float> in, out;
      for (int i = 0; i < 200; i++) {
        in.push_back(static_cast<float>((i * 37) % 101) / 101.0f - 0.5f);
        out.push_back(tick(d, in.back()));
      }
      for (int t = 30; t < 200; t++) ASSERT_EQ(out[t], in[t - 3]) << t;
    }

    // Dyno: each property, then the limiter: output finite, never above
    // the input, never of the other sign.
    for (const char* setter : {"thresh", "slopeBelow", "slopeAbove", "sideInput", "ratio",
                               "attackTime", "releaseTime"}) {
      Chip_UGen* y = make("Dyno");
      set(y, setter, v);
      run(y);
      call(y, "limit");
      for (int i = 0; i < 200; i++) {
        const SAMPLE out = tick(y, 0.8f);
        ASSERT_TRUE(out > 0.0f && out <= 0.8f) << i << " " << out;
      }
    }
  }

  // The int and string members.
  for (t_CPINT v : {std::numeric_limits<t_CPINT>::min(), -1, 0, 1, 2,
                    std::numeric_limits<t_CPINT>::max()}) {
    Chip_UGen* y = make("Dyno");
    set(y, "sideInput", 0.5);
    EXPECT_EQ(set_int(y, "externalSideInput", v), v);
    run(y);
  }
  Chip_UGen* noise = make("CNoise");
  for (const char* text : {"", "flip", "\xff\xfe", "pink", "xor", "brown", "white"}) {
    mode(noise, text);
    run(noise);
  }
}

// ---------------------------------------------------------------------------
// The plain classes behind the members, without a machine.

TEST(XxxPlainClassTest, CNoiseSelectsModesByNameAndCutsFprob) {
  CNoise_Obj c;
  EXPECT_EQ(c.mode, CNOISE_PINK);
  EXPECT_EQ(c.bias, -1.0);
  EXPECT_DOUBLE_EQ(c.scale, 2.0 / ((c.depth + 1) * 2147483647.0));
  EXPECT_EQ(c.dice, nullptr);

  const struct {
    const char* name;
    int mode;
  } names[] = {{"white", CNOISE_WHITE}, {"pink", CNOISE_PINK}, {"brown", CNOISE_BROWN},
               {"fbm", CNOISE_FBM},     {"flip", CNOISE_FLIP}, {"xor", CNOISE_XOR}};
  for (const auto& n : names) {
    SCOPED_TRACE(n.name);
    c.bias = 0.0;
    EXPECT_TRUE(c.setMode(n.name));
    EXPECT_EQ(c.mode, n.mode);
    EXPECT_EQ(c.bias, -1.0);
    const double range = n.mode == CNOISE_PINK ? (c.depth + 1) * 2147483647.0 : 2147483647.0;
    EXPECT_DOUBLE_EQ(c.scale, 2.0 / range);
  }
  for (const char* unknown : {"XOR", "", "pink ", "noise"}) {
    EXPECT_FALSE(c.setMode(unknown)) << unknown;
    EXPECT_EQ(c.mode, CNOISE_XOR) << unknown;
  }

  // p x (2^31 - 1), cut to the int range; NaN is 0.
  const int32_t kMin = std::numeric_limits<int32_t>::min();
  const int32_t kMax = std::numeric_limits<int32_t>::max();
  const struct {
    double p;
    int32_t fprob;
  } probs[] = {{0.5, static_cast<int32_t>(0.5 * kMax)},
               {1.0 / 32.0, static_cast<int32_t>(kMax / 32.0)},
               {-0.25, static_cast<int32_t>(-0.25 * kMax)},
               {1.0, kMax}, {2.0, kMax}, {kInf, kMax}, {-2.0, kMin}, {-kInf, kMin}, {kNaN, 0}};
  for (const auto& p : probs) {
    c.setFprob(p.p);
    EXPECT_EQ(c.fprob, p.fprob) << p.p;
  }
}

TEST(XxxPlainClassTest, ImpulseFiresOnceAndStepHolds) {
  Impulse_Obj impulse;
  EXPECT_EQ(impulse.tick(), 0.0f);  // nothing pending yet
  EXPECT_EQ(impulse.setNext(0.1), 0.1f);
  EXPECT_EQ(impulse.tick(), 0.1f);
  EXPECT_EQ(impulse.tick(), 0.0f);
  EXPECT_EQ(impulse.next, 0.1f);  // kept for the getter

  Step_Obj step;
  EXPECT_EQ(step.tick(), 1.0f);
  EXPECT_EQ(step.setNext(-0.25), -0.25f);
  for (int i = 0; i < 3; i++) EXPECT_EQ(step.tick(), -0.25f);
}

TEST(XxxPlainClassTest, DelayPObjectSizesItsLineAndRefusesLongDelays) {
  // Two seconds of the rate, never an empty ring.
  EXPECT_EQ(DelayP_Obj(16000).size, 32000);
  EXPECT_EQ(DelayP_Obj(0).size, 1);

  DelayP_Obj line(4);
  ASSERT_EQ(line.size, 8);
  EXPECT_EQ(line.setWindow(0.0), 0.0);
  EXPECT_EQ(line.setWindow(-1.0), 0.0);  // refused: the window stays
  EXPECT_EQ(line.setDelay(3.0), 0.0);    // answers the delay in force
  std::vector<float> in, out;
  for (int i = 0; i < 40; i++) {
    in.push_back(static_cast<float>((i * 13) % 17) / 17.0f - 0.5f);
    out.push_back(line.tick(in.back()));
  }
  EXPECT_EQ(line.delay(), 3.0);
  for (int t = 10; t < 40; t++) ASSERT_EQ(out[t], in[t - 3]) << t;

  // A delay beyond the line is refused with a message; the glide goes on
  // toward the delay set before.
  double answered = -1.0;
  const std::vector<std::string> printed = printed_lines([&] { answered = line.setDelay(9.0); });
  EXPECT_EQ(answered, 3.0);
  ASSERT_EQ(printed.size(), 1u);
  EXPECT_EQ(printed[0], "[chip](via delayp): delay time 9.000000 over max!  set max first!");
  EXPECT_EQ(line.target, 3.0);

  // A new length clears the line and restarts it at position 0.
  EXPECT_EQ(line.setMax(16.0), 16.0);
  EXPECT_EQ(line.position, 0.0);
  for (int i = 0; i < 16; i++) EXPECT_EQ(line.buffer[i], 0.0f) << i;
  EXPECT_EQ(line.setMax(0.9), 16.0);  // a sample or less: nothing
}

TEST(XxxPlainClassTest, DynoPresetsSetTheirLawAndTimes) {
  // The preset times count 44.1 samples per millisecond.
  const struct {
    void (Dyno_Obj::*preset)();
    double slopeAbove, slopeBelow, thresh, attack_ms, release_ms;
    int32_t external;
  } presets[] = {{&Dyno_Obj::limit, 0.1, 1.0, 0.5, 5, 300, 0},
                 {&Dyno_Obj::compress, 0.5, 1.0, 0.5, 5, 500, 0},
                 {&Dyno_Obj::gate, 1.0, 1e8, 0.1, 11, 100, 0},
                 {&Dyno_Obj::expand, 2.0, 1.0, 0.5, 20, 400, 0},
                 {&Dyno_Obj::duck, 0.5, 1.0, 0.1, 10, 1000, 1}};
  Dyno_Obj y;  // the limiter from the start
  EXPECT_EQ(y.slopeAbove, 0.1);
  EXPECT_NEAR(y.attackTime(), 5 * 44.1, 1e-9);
  for (const auto& p : presets) {
    SCOPED_TRACE(p.attack_ms);
    y.slopeAbove = y.slopeBelow = y.thresh = -3.0;
    y.externalSideInput = 5;
    (y.*p.preset)();
    EXPECT_EQ(y.slopeAbove, p.slopeAbove);
    EXPECT_EQ(y.slopeBelow, p.slopeBelow);
    EXPECT_EQ(y.thresh, p.thresh);
    EXPECT_EQ(y.externalSideInput, p.external);
    // (the oracle's 1 - exp loses a few digits of a small coefficient)
    EXPECT_NEAR(y.at, coefficient_ms(p.attack_ms), 1e-12 * y.at);
    EXPECT_NEAR(y.rt, coefficient_ms(p.release_ms), 1e-12 * y.rt);
    EXPECT_NEAR(y.attackTime(), p.attack_ms * 44.1, 1e-9 * p.attack_ms);
    EXPECT_NEAR(y.releaseTime(), p.release_ms * 44.1, 1e-9 * p.release_ms);
  }

  // Times and coefficients are each other's inverse; no time, or a NaN
  // one, is instantaneous.
  for (double t : {1.0, 100.0, 1e6}) EXPECT_NEAR(dyno_time(dyno_coefficient(t)), t, 1e-9 * t);
  for (double t : {0.0, -1.0, kNaN}) EXPECT_EQ(dyno_coefficient(t), 1.0) << t;
  EXPECT_EQ(dyno_time(1.0), 0.0);
  EXPECT_EQ(dyno_time(0.0), kInf);
  EXPECT_EQ(y.setRatio(4.0), 4.0);
  EXPECT_EQ(y.slopeAbove, 0.25);
  EXPECT_EQ(y.slopeBelow, 1.0);

  // Below the threshold a slope of 1 passes the input untouched.
  Dyno_Obj limiter;
  for (int i = 0; i < 100; i++) ASSERT_EQ(limiter.tick(i % 2 ? 0.3f : -0.3f), i % 2 ? 0.3f : -0.3f);
}

}  // namespace
