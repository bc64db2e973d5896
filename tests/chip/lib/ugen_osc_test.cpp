// The osc module: oscillators and wave tables, compiled from programs and
// run on a machine, measured against waveforms, zero-crossing counts and
// spectra computed here from first principles; hostile parameters and
// inputs; the wave-table builders against their closed forms; the members
// by their language names; Oscillator and Wave_Table on their own.
#include "chip/lib/ugen_osc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <complex>
#include <cstring>
#include <functional>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "chip/types/chip_type.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"
#include "chip/vm/ugen_frame.h"
#include "emit_test_support.h"
#include "module_test_support.h"

namespace {

const double kPi = std::numbers::pi;
const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
// Values every setter and list position is fed.
const double kHostile[] = {-1e30, -1.0, 0.0, 0.5, 1.0, 2.0, 1e30, kNaN, kInf, -kInf};

double frac(double x) { return x - std::floor(x); }

// Ideal waveforms of phase p in [0, 1), as the classes document them.
double sine(double p) { return std::sin(2.0 * kPi * p); }
double triangle(double p) { return 4.0 * std::fabs(frac(p - 0.25) - 0.5) - 1.0; }
double rising_saw(double p) { return 2.0 * frac(p + 0.25) - 1.0; }
double square(double p) { return p < 0.5 ? 1.0 : -1.0; }

// An oscillator class, its ideal shape and the phases where that shape
// jumps (samples this close to a jump are not compared: the machine's
// accumulated phase may sit on either side).
struct Wave {
  const char* cls;
  std::function<double(double)> shape;
  std::vector<double> jumps;
  double low, high;  // output range
};

const Wave kWaves[] = {
    {"SinOsc", sine, {}, -1.0, 1.0},
    {"TriOsc", triangle, {}, -1.0, 1.0},
    {"SawOsc", rising_saw, {0.75}, -1.0, 1.0},
    {"PulseOsc", square, {0.0, 0.5}, -1.0, 1.0},
    {"SqrOsc", square, {0.0, 0.5}, -1.0, 1.0},
    {"Phasor", [](double p) { return p; }, {0.0}, 0.0, 1.0},
};

bool near_jump(const Wave& w, double p) {
  for (double j : w.jumps) {
    if (std::fabs(p - j) < 1e-9 || std::fabs(p - j - 1.0) < 1e-9) return true;
  }
  return false;
}

// Sign changes of x around its mean.
int zero_crossings(const std::vector<double>& x) {
  double mean = 0.0;
  for (double v : x) mean += v;
  mean /= static_cast<double>(x.size());
  int count = 0;
  for (size_t n = 1; n < x.size(); n++) {
    if ((x[n] - mean >= 0.0) != (x[n - 1] - mean >= 0.0)) count++;
  }
  return count;
}

// |DFT| of x (mean removed) at frequency f, sampled at rate.
double dft_magnitude(const std::vector<double>& x, double f, double rate) {
  double mean = 0.0;
  for (double v : x) mean += v;
  mean /= static_cast<double>(x.size());
  // e^(-i 2 pi f n / rate) by repeated rotation.
  const std::complex<double> step = std::polar(1.0, -2.0 * kPi * f / rate);
  std::complex<double> turn = 1.0, sum = 0.0;
  for (double v : x) {
    sum += (v - mean) * turn;
    turn *= step;
  }
  return std::abs(sum);
}

// The loudest frequency between lo and hi, in steps of one DFT bin.
double spectral_peak(const std::vector<double>& x, double lo, double hi, double rate) {
  const double bin = rate / static_cast<double>(x.size());
  double best = lo, best_mag = -1.0;
  for (double f = lo; f <= hi; f += bin) {
    const double mag = dft_magnitude(x, f, rate);
    if (mag > best_mag) {
      best_mag = mag;
      best = f;
    }
  }
  return best;
}

// ---------------------------------------------------------------------------

class OscTest : public EmitProgramTest {
 protected:
  OscTest() : EmitProgramTest("osc_test.chip") {}

  void SetUp() override {
    EmitProgramTest::SetUp();
    ASSERT_TRUE(load_test_module(env, osc_query, rate));
  }

  void TearDown() override {
    for (Chip_Object* obj : held) {
      static_cast<Chip_UGen*>(obj)->disconnect(TRUE);
      obj->release();
    }
    held.clear();
    EmitProgramTest::TearDown();
    osc_forget_types();
  }

  // Compiles source and sporks it on a fresh machine (one machine runs at a
  // time: the one before is shut down).
  void start(const std::string& source) {
    if (vm) {
      vm->shutdown();
      Chip_VM_Object::lock_all();
    }
    vm = make_vm();
    Lines errors;
    Chip_VM_Code* code = compile(source, &errors);
    ASSERT_NE(code, nullptr) << source << "\n" << (errors.empty() ? "" : errors[0]);
    vm->spork(code, nullptr);
  }

  // The node linked last into blackhole.
  Chip_UGen* probe() {
    Chip_UGen* hole = vm->blackhole();
    return hole->num_src > 0 ? hole->src_list[hole->num_src - 1] : nullptr;
  }

  // The next n samples of the probe.
  std::vector<double> play(int n) {
    std::vector<double> out;
    for (int i = 0; i < n; i++) {
      vm->run(1);
      Chip_UGen* node = probe();
      EXPECT_NE(node, nullptr);
      if (!node) break;
      out.push_back(node->last);
    }
    return out;
  }

  // Starts source and plays n samples.
  std::vector<double> render(const std::string& source, int n) {
    start(source);
    return play(n);
  }

  // A constructed object of the named class, held until TearDown.
  Chip_UGen* make(const char* name) {
    return static_cast<Chip_UGen*>(make_native(env, name, held));
  }

  // A float member of self by its language name: the setter, the getter.
  static double set(Chip_Object* self, const char* name, double value) {
    return set_member(self, name, value).v_float;
  }
  static double get(Chip_Object* self, const char* name) { return get_member(self, name).v_float; }

  // `sync(mode)`.
  static t_CPINT set_sync(Chip_Object* self, t_CPINT mode) {
    return static_cast<t_CPINT>(set_member(self, "sync", mode).v_int);
  }

  // `coefs(values)` as a script calls it (self's class decides which);
  // true when it returned its argument.
  static bool coefs(Chip_Object* self, const std::vector<double>& values) {
    auto* array = new Chip_Array8(0);
    array->add_ref();
    for (double v : values) array->push_back(v);
    Chip_Object* arg = array;
    const bool same = call_member(self, "coefs", &arg, 1).v_object == array;
    array->release();
    return same;
  }

  // The object's native wave table.
  static Wave_Table* table_of(Chip_Object* self) {
    return static_cast<Wave_Table*>(frame_object(self, genX_offset_data));
  }

  static double lookup(Chip_Object* self, double which) {
    return call_member(self, "lookup", &which, 1).v_float;
  }

  // One sample of self's tick, as the machine asks for it.
  static unsigned long tick(Chip_Object* self, SAMPLE in, SAMPLE* out) {
    return self->type_ref->ugen_info->tick(self, in, out, nullptr);
  }

  t_CPUINT rate = 16000;
  std::vector<Chip_Object*> held;
};

// Tests at more than one sampling rate.
class OscRateTest : public OscTest, public ::testing::WithParamInterface<t_CPUINT> {
 protected:
  void SetUp() override {
    rate = GetParam();
    OscTest::SetUp();
  }
};

TEST_F(OscTest, RegistersTheClassesTheirTicksAndTheOldNames) {
  // Classes of one tick group share one tick (the phase ramp, the sine, the
  // triangle, the pulse, the table); different groups tick differently.
  // Oscillators share one "print" message, the tables another.
  enum { RAMP, SINE, TRIANGLE, PULSE, TABLE, GROUPS };
  const struct {
    const char* name;
    const char* parent;
    int group;
  } cases[] = {{"Osc", "UGen", RAMP},          {"Phasor", "Osc", RAMP},
               {"SinOsc", "Osc", SINE},        {"TriOsc", "Osc", TRIANGLE},
               {"SawOsc", "TriOsc", TRIANGLE}, {"PulseOsc", "Osc", PULSE},
               {"SqrOsc", "PulseOsc", PULSE},  {"GenX", "UGen", TABLE},
               {"Gen5", "GenX", TABLE},        {"Gen7", "GenX", TABLE},
               {"Gen9", "GenX", TABLE},        {"Gen10", "GenX", TABLE},
               {"Gen17", "GenX", TABLE},       {"CurveTable", "GenX", TABLE},
               {"WarpTable", "GenX", TABLE}};
  f_tick ticks[GROUPS] = {};
  f_pmsg pmsgs[2] = {};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Chip_Type* type = find_type(env, c.name);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->parent->name, c.parent);
    ASSERT_NE(type->ugen_info, nullptr);
    ASSERT_NE(type->ugen_info->tick, nullptr);
    if (!ticks[c.group]) ticks[c.group] = type->ugen_info->tick;
    EXPECT_EQ(type->ugen_info->tick, ticks[c.group]);
    f_pmsg& pmsg = pmsgs[c.group == TABLE ? 1 : 0];
    ASSERT_NE(type->ugen_info->pmsg, nullptr);
    if (!pmsg) pmsg = type->ugen_info->pmsg;
    EXPECT_EQ(type->ugen_info->pmsg, pmsg);
  }
  for (int a = 0; a < GROUPS; a++) {
    for (int b = a + 1; b < GROUPS; b++) EXPECT_NE(ticks[a], ticks[b]) << a << " " << b;
  }
  EXPECT_NE(pmsgs[0], pmsgs[1]);
  const char* const renamed[][2] = {{"osc", "Osc"},       {"phasor", "Phasor"},
                                    {"sinosc", "SinOsc"}, {"triosc", "TriOsc"},
                                    {"sawosc", "SawOsc"}, {"pulseosc", "PulseOsc"},
                                    {"sqrosc", "SqrOsc"}};
  for (const auto& pair : renamed) {
    std::string to;
    EXPECT_TRUE(type_engine_get_deprecate(env, pair[0], to)) << pair[0];
    EXPECT_EQ(to, pair[1]);
  }
  // Each object's record is freed with it (the sanitiser build checks).
  Chip_UGen* saw = make("SawOsc");
  EXPECT_EQ(get(saw, "width"), 1.0);
  EXPECT_EQ(get(saw, "freq"), 220.0);
}

// The members each class answers to, with their argument and return types,
// the hidden members, and the aliases: sfreq sets freq; SqrOsc's width()
// puts 0.5 back while its width(w) is PulseOsc's.
TEST_F(OscTest, MembersAnswerByTheirLanguageNames) {
  for (const char* cls : {"Osc", "GenX"}) {
    Chip_Type* type = find_type(env, cls);
    ASSERT_NE(type, nullptr);
    const std::string hidden = std::string(cls) == "Osc" ? "@osc_data" : "@GenX_data";
    EXPECT_NE(type->info->lookup_value(hidden, 0), nullptr) << hidden;
  }
  EXPECT_NE(osc_offset_data, FRAME_NO_OFFSET);
  EXPECT_NE(genX_offset_data, FRAME_NO_OFFSET);

  Chip_UGen* s = make("SinOsc");
  EXPECT_EQ(set(s, "sfreq", 330.0), 330.0);
  EXPECT_EQ(get(s, "freq"), 330.0);
  EXPECT_EQ(set(s, "period", 160.0), 160.0);  // a dur in samples
  EXPECT_EQ(get(s, "freq"), rate / 160.0);
  EXPECT_EQ(get(s, "period"), 160.0);
  EXPECT_EQ(set_sync(s, 2), 2);
  EXPECT_EQ(get_member(s, "sync").v_int, 2);

  Chip_UGen* q = make("SqrOsc");
  EXPECT_EQ(set(q, "width", 0.3), 0.3);
  EXPECT_EQ(get(q, "width"), 0.5);
  Chip_UGen* p = make("PulseOsc");
  EXPECT_EQ(set(p, "width", 0.3), 0.3);
  EXPECT_EQ(get(p, "width"), 0.3);
  Chip_UGen* w = make("SawOsc");
  EXPECT_EQ(set(w, "width", 0.3), 0.0);
  EXPECT_EQ(get(w, "width"), 0.0);

  // The members' declared types, as scripts see them.
  // The declared form of member/args in cls's own class, or null.
  auto own = [&](const char* cls, const char* member, size_t args) -> Chip_Func* {
    Chip_Type* type = find_type(env, cls);
    if (!type) return nullptr;
    Chip_Func* found = nullptr;
    for (Chip_Func* f = type->info->lookup_func(member, 0); f; f = f->next) {
      size_t n = 0;
      for (a_Arg_List a = f->def->arg_list; a; a = a->next) n++;
      if (n == args) found = f;
    }
    return found;
  };
  // Forms a class does not declare itself: sfreq only sets, SawOsc reads
  // TriOsc's width, SqrOsc sets PulseOsc's.
  EXPECT_EQ(own("Osc", "sfreq", 0), nullptr);
  EXPECT_EQ(own("SawOsc", "width", 0), nullptr);
  EXPECT_EQ(own("SqrOsc", "width", 1), nullptr);

  const struct {
    const char* cls;
    const char* member;
    size_t args;
    const char* ret;
    const char* arg;  // the argument's type, or null
  } signatures[] = {
      {"Osc", "freq", 1, "float", "float"},      {"Osc", "freq", 0, "float", nullptr},
      {"Osc", "period", 1, "dur", "dur"},        {"Osc", "period", 0, "dur", nullptr},
      {"Osc", "sfreq", 1, "float", "float"},     {"Osc", "phase", 1, "float", "float"},
      {"Osc", "phase", 0, "float", nullptr},     {"Osc", "sync", 1, "int", "int"},
      {"Osc", "sync", 0, "int", nullptr},        {"TriOsc", "width", 1, "float", "float"},
      {"TriOsc", "width", 0, "float", nullptr},  {"SawOsc", "width", 1, "float", "float"},
      {"PulseOsc", "width", 1, "float", "float"}, {"PulseOsc", "width", 0, "float", nullptr},
      {"SqrOsc", "width", 0, "float", nullptr},  {"GenX", "lookup", 1, "float", "float"},
      {"GenX", "coefs", 1, "float[]", "float[]"}, {"Gen5", "coefs", 1, "float[]", "float[]"},
      {"Gen7", "coefs", 1, "float[]", "float[]"}, {"Gen9", "coefs", 1, "float[]", "float[]"},
      {"Gen10", "coefs", 1, "float[]", "float[]"}, {"Gen17", "coefs", 1, "float[]", "float[]"},
      {"CurveTable", "coefs", 1, "float[]", "float[]"},
      {"WarpTable", "coefs", 1, "float[]", "float[]"},
  };
  for (const auto& sig : signatures) {
    SCOPED_TRACE(std::string(sig.cls) + "." + sig.member + "/" + std::to_string(sig.args));
    Chip_Func* found = own(sig.cls, sig.member, sig.args);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->def->ret_type->display_name(), sig.ret);
    if (sig.arg) {
      EXPECT_EQ(found->def->arg_list->type->display_name(), sig.arg);
    }
  }
}

// "print": an oscillator shows its frequency (as SinOsc, for every class);
// a table accepts it silently; other messages are refused.
TEST_F(OscTest, PrintMessages) {
  Chip_UGen* t = make("TriOsc");
  set(t, "freq", 123.5);
  f_pmsg osc_pmsg = t->type_ref->ugen_info->pmsg;
  unsigned long accepted = 0;
  Lines lines = printed_lines([&] { accepted = osc_pmsg(t, "print", nullptr, nullptr); });
  EXPECT_EQ(accepted, 1u);
  EXPECT_EQ(lines, Lines{"SinOsc: (freq=123.500000)"});
  lines = printed_lines([&] { accepted = osc_pmsg(t, "other", nullptr, nullptr); });
  EXPECT_EQ(accepted, 0u);
  EXPECT_TRUE(lines.empty());

  Chip_UGen* g = make("Gen7");
  f_pmsg table_pmsg = g->type_ref->ugen_info->pmsg;
  lines = printed_lines([&] { accepted = table_pmsg(g, "print", nullptr, nullptr); });
  EXPECT_EQ(accepted, 1u);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(table_pmsg(g, "other", nullptr, nullptr), 0u);
  EXPECT_EQ(table_pmsg(g, nullptr, nullptr, nullptr), 0u);
}

// Every waveform at every rate: the samples against the ideal shape, the
// number of zero crossings against 2 f T, and the loudest DFT bin at f.
TEST_P(OscRateTest, WaveformsHaveTheirShapeAndFrequency) {
  const double sr = static_cast<double>(rate);
  const int n = static_cast<int>(rate / 8);  // an eighth of a second
  for (const Wave& wave : kWaves) {
    for (double f : {440.0, 1250.0}) {
      SCOPED_TRACE(std::string(wave.cls) + " at " + std::to_string(f) + " Hz, rate " +
                   std::to_string(rate));
      std::vector<double> out = render(std::string(wave.cls) + " s => blackhole; " +
                                           std::to_string(f) + " => s.freq;\n"
                                           "1000000::samp => now;",
                                       n);
      ASSERT_EQ(out.size(), static_cast<size_t>(n));
      int compared = 0;
      for (int i = 0; i < n; i++) {
        const double p = frac(i * f / sr);
        if (near_jump(wave, p)) continue;
        compared++;
        ASSERT_NEAR(out[i], wave.shape(p), 1e-5) << "sample " << i;
      }
      EXPECT_GT(compared, n * 9 / 10);
      EXPECT_NEAR(zero_crossings(out), 2.0 * f * n / sr, 2.0);
      EXPECT_NEAR(spectral_peak(out, 0.5 * f, 1.5 * f, sr), f, sr / n);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, OscRateTest, ::testing::Values(16000u, 44100u));

TEST_F(OscTest, PhaseStaysContinuousAcrossAFrequencyChange) {
  const double sr = rate;
  std::vector<double> out = render(
      "SinOsc s => blackhole; 440 => s.freq; 100::samp => now;\n"
      "880 => s.freq; 1000000::samp => now;",
      400);
  ASSERT_EQ(out.size(), 400u);
  const double at_change = 100 * 440.0 / sr;
  for (int i = 0; i < 400; i++) {
    const double p = i < 100 ? i * 440.0 / sr : at_change + (i - 100) * 880.0 / sr;
    ASSERT_NEAR(out[i], sine(frac(p)), 1e-5) << i;
  }
  // No step larger than the steepest slope of the faster sine allows.
  for (int i = 1; i < 400; i++) {
    EXPECT_LE(std::fabs(out[i] - out[i - 1]), 2.0 * kPi * 880.0 / sr * 1.001) << i;
  }
}

// A negative frequency runs every waveform backwards, its phase kept within
// one cycle.
TEST_F(OscTest, NegativeFrequenciesRunBackwards) {
  const double sr = rate;
  for (const Wave& wave : kWaves) {
    SCOPED_TRACE(wave.cls);
    std::vector<double> out =
        render(std::string(wave.cls) + " s => blackhole; -440 => s.freq; 1000000::samp => now;",
               800);
    for (int i = 0; i < 800; i++) {
      const double p = frac(-i * 440.0 / sr);
      if (near_jump(wave, p)) continue;
      ASSERT_NEAR(out[i], wave.shape(p), 1e-5) << i;
    }
    const double phase = get(probe(), "phase");
    EXPECT_TRUE(phase >= 0.0 && phase <= 1.0) << phase;
  }
}

TEST_F(OscTest, PulseWidthSetsTheDutyCycle) {
  // 100 Hz at 16 kHz: ten periods of 160 samples.
  for (double width : {0.0, 0.1, 0.25, 0.5, 0.8, 1.0}) {
    for (const char* cls : {"PulseOsc", "SqrOsc"}) {
      SCOPED_TRACE(std::string(cls) + " " + std::to_string(width));
      std::vector<double> out = render(std::string(cls) + " s => blackhole; 100 => s.freq; " +
                                           std::to_string(width) +
                                           " => s.width; 1000000::samp => now;",
                                       1600);
      int high = 0;
      for (double v : out) {
        ASSERT_TRUE(v == 1.0 || v == -1.0) << v;
        if (v > 0) high++;
      }
      EXPECT_NEAR(high, width * 1600, 10.0);
    }
  }
}

// Input sources: `one` is a SinOsc held at phase 0.25 (a constant 1.0)
// scaled by a Gain.
const char* kConstant = "SinOsc one => Gain g; 0 => one.freq; 0.25 => one.phase; ";

TEST_F(OscTest, SyncZeroTakesTheFrequencyFromTheInput) {
  const double sr = rate;
  std::vector<double> out = render(std::string(kConstant) +
                                       "700 => g.gain; g => SinOsc s => blackhole; 0 => s.sync;"
                                       "1000000::samp => now;",
                                   4000);
  for (int i = 0; i < 4000; i += 7) ASSERT_NEAR(out[i], sine(frac(i * 700.0 / sr)), 1e-5) << i;
  EXPECT_EQ(get(probe(), "freq"), 700.0);
}

TEST_F(OscTest, SyncOneTakesThePhaseFromTheInputWithoutAdvancing) {
  const double sr = rate;
  // A SinOsc at 5 kHz following a 300 Hz Phasor's phase sounds at 300 Hz.
  std::vector<double> out = render(
      "Phasor p => SinOsc s => blackhole; 300 => p.freq; 5000 => s.freq; 1 => s.sync;"
      "1000000::samp => now;",
      2000);
  for (int i = 0; i < 2000; i++) ASSERT_NEAR(out[i], sine(frac(i * 300.0 / sr)), 1e-5) << i;

  // A Phasor fed 2.5 holds phase 0.5; back in sync 0 it steps once.
  std::vector<double> held = render(std::string(kConstant) +
                                        "2.5 => g.gain; g => Phasor q => blackhole; 1 => q.sync;"
                                        "1000000::samp => now;",
                                    10);
  for (double v : held) EXPECT_EQ(v, 0.5);
  Chip_UGen* q = probe();
  EXPECT_EQ(set_sync(q, 0), 0);
  EXPECT_DOUBLE_EQ(get(q, "phase"), 0.5 + 220.0 / sr);
}

TEST_F(OscTest, SyncTwoModulatesTheFrequency) {
  const double sr = rate;
  std::vector<double> out = render(
      "SinOsc m => Gain depth => SinOsc c => blackhole; 5 => m.freq; 200 => depth.gain;"
      "1000 => c.freq; 2 => c.sync; 1000000::samp => now;",
      3000);
  // The carrier's phase integrates 1000 Hz plus the modulator, sample by
  // sample (the modulator reaches the carrier as a float).
  double phase = 0.0;
  for (int i = 0; i < 3000; i++) {
    ASSERT_NEAR(out[i], sine(phase), 2e-4) << i;
    const float mod = static_cast<float>(sine(frac(i * 5.0 / sr)));
    phase = frac(phase + (1000.0 + static_cast<double>(mod * 200.0f)) / sr);
  }
  EXPECT_EQ(get(probe(), "freq"), 1000.0);
}

// Every setter of every oscillator fed hostile values: no hang, no NaN, the
// output within its range; then ordinary values bring the sound back.
TEST_F(OscTest, HostileSettersNeverHangOrPoisonTheOscillator) {
  struct Setter {
    const char* name;
    bool width_only;
  };
  // Each class's own setter of the name (SawOsc's width is its own).
  const Setter setters[] = {{"freq", false}, {"period", false}, {"phase", false}, {"width", true}};
  for (const Wave& wave : kWaves) {
    const std::string cls = wave.cls;
    const bool has_width = cls != "SinOsc" && cls != "Phasor";
    start(cls + " s => blackhole; 1000000::samp => now;");
    play(1);
    Chip_UGen* s = probe();
    for (const Setter& setter : setters) {
      if (setter.width_only && !has_width) continue;
      for (double value : kHostile) {
        SCOPED_TRACE(cls + "." + setter.name + "(" + std::to_string(value) + ")");
        const double stored = set(s, setter.name, value);
        if (std::string(setter.name) != "period") {
          EXPECT_TRUE(std::isfinite(stored)) << stored;
        }
        for (double v : play(4)) {
          ASSERT_TRUE(std::isfinite(v));
          ASSERT_GE(v, wave.low);
          ASSERT_LE(v, wave.high);
        }
        EXPECT_TRUE(std::isfinite(get(s, "phase")));
        EXPECT_TRUE(std::isfinite(get(s, "freq")));
        // Ordinary values again: a moving, finite signal.
        set(s, "freq", 440.0);
        if (has_width) set(s, "width", 0.5);
        std::vector<double> after = play(40);
        const auto [lo, hi] = std::minmax_element(after.begin(), after.end());
        EXPECT_TRUE(std::isfinite(*lo) && std::isfinite(*hi));
        EXPECT_GT(*hi - *lo, 0.5);
      }
    }
    for (t_CPINT mode : {t_CPINT{INT_MIN}, t_CPINT{-1}, t_CPINT{3}, t_CPINT{INT_MAX}}) {
      EXPECT_EQ(set_sync(s, mode), 0) << mode;
    }
  }
}

// Hostile values arriving at the input in each sync mode.
TEST_F(OscTest, HostileInputsNeverPoisonTheOscillator) {
  for (const Wave& wave : kWaves) {
    for (int mode = 0; mode <= 2; mode++) {
      start(std::string(kConstant) + "g => " + wave.cls + " s => blackhole; " +
            std::to_string(mode) + " => s.sync; 1000000::samp => now;");
      play(1);
      Chip_UGen* s = probe();
      Chip_UGen* gain = s->src_list[0];
      for (double value : kHostile) {
        SCOPED_TRACE(std::string(wave.cls) + " sync " + std::to_string(mode) + " input " +
                     std::to_string(value));
        gain->gain = static_cast<SAMPLE>(value);
        for (double v : play(4)) {
          ASSERT_TRUE(std::isfinite(v));
          ASSERT_GE(v, wave.low);
          ASSERT_LE(v, wave.high);
        }
        // An ordinary input again.
        gain->gain = mode == 1 ? 0.3f : 300.0f;
        std::vector<double> after = play(60);
        if (mode == 1) {
          EXPECT_NEAR(after.back(), wave.shape(0.3f), 1e-6);
        } else {
          const auto [lo, hi] = std::minmax_element(after.begin(), after.end());
          EXPECT_GT(*hi - *lo, 0.5);
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Oscillator on its own, without a machine.

TEST(OscillatorTest, SettersStoreAfterTheirClampAndSetTheIncrement) {
  Oscillator o(16000);
  EXPECT_EQ(o.srate(), 16000u);
  EXPECT_EQ(o.freq(), 220.0);
  EXPECT_EQ(o.increment(), 220.0 / 16000);
  EXPECT_EQ(o.phase(), 0.0);
  EXPECT_EQ(o.sync(), 0);
  EXPECT_EQ(o.width(), 0.5);
  EXPECT_EQ(Oscillator(16000, 1.0).width(), 1.0);
  EXPECT_EQ(Oscillator(0).increment(), 0.0);  // no rate, no motion

  // setFreq: what it stores, and the increment in [0, 1) that follows.
  const struct {
    double hz, stored, increment;
  } freqs[] = {{440.0, 440.0, 440.0 / 16000},  {-160.0, -160.0, 0.99},
               {16000.0, 16000.0, 0.0},        {24000.0, 24000.0, 0.5},
               {1e30, 1e30, 0.0},              {kNaN, 0.0, 0.0},
               {kInf, 0.0, 0.0},               {-kInf, 0.0, 0.0}};
  for (const auto& f : freqs) {
    SCOPED_TRACE(f.hz);
    EXPECT_EQ(o.setFreq(f.hz), f.stored);
    EXPECT_EQ(o.freq(), f.stored);
    EXPECT_NEAR(o.increment(), f.increment, 1e-15);
  }

  // setPeriod answers its argument; the frequency is srate / samples.
  const struct {
    double samples, freq;
  } periods[] = {{160.0, 100.0}, {-32.0, -500.0}, {0.0, 0.0}, {kNaN, 0.0}, {kInf, 0.0}};
  for (const auto& p : periods) {
    SCOPED_TRACE(p.samples);
    const double answered = o.setPeriod(p.samples);
    EXPECT_TRUE(answered == p.samples || (std::isnan(answered) && std::isnan(p.samples)));
    EXPECT_EQ(o.freq(), p.freq);
    EXPECT_EQ(o.period(), p.freq == 0.0 ? 0.0 : 16000 / p.freq);
  }

  const struct {
    double in, phase;
  } phases[] = {{0.3, 0.3}, {1.25, 0.25}, {1.0, 0.0}, {-0.25, 0.75}, {-1e-20, 0.0},
                {1e30, 0.0}, {kNaN, 0.0}, {kInf, 0.0}};
  for (const auto& p : phases) {
    EXPECT_EQ(o.setPhase(p.in), p.phase) << p.in;
    EXPECT_EQ(o.phase(), p.phase) << p.in;
  }

  // Widths: clamped, NaN keeps; SawOsc's only 0 or 1; SqrOsc's reset.
  const struct {
    double in, width, saw;
  } widths[] = {{0.3, 0.3, 0.0}, {1.5, 1.0, 1.0}, {-2.0, 0.0, 0.0}, {0.5, 0.5, 1.0},
                {kNaN, 0.5, 1.0}, {kInf, 1.0, 1.0}, {-kInf, 0.0, 0.0}};
  for (const auto& w : widths) {
    SCOPED_TRACE(w.in);
    o.setWidth(0.5);
    EXPECT_EQ(o.setWidth(w.in), w.width);
    EXPECT_EQ(o.width(), w.width);
    EXPECT_EQ(o.setSawWidth(w.in), w.saw);
    EXPECT_EQ(o.resetWidth(), 0.5);
    EXPECT_EQ(o.width(), 0.5);
  }

  // Sync modes: out of range stores 0; leaving a mode for 0 steps once.
  o.setFreq(1600.0);
  o.setPhase(0.5);
  EXPECT_EQ(o.setSync(0), 0);
  EXPECT_EQ(o.phase(), 0.5);  // already 0: no step
  for (t_CPINT mode : {3, -1, INT_MIN, INT_MAX}) EXPECT_EQ(o.setSync(mode), 0) << mode;
  EXPECT_EQ(o.setSync(1), 1);
  EXPECT_EQ(o.setSync(2), 2);
  EXPECT_EQ(o.phase(), 0.5);
  EXPECT_EQ(o.setSync(0), 0);
  EXPECT_DOUBLE_EQ(o.phase(), 0.6);
}

TEST(OscillatorTest, TicksShapeThePhaseAndUseTheInputBySyncMode) {
  // Unconnected: the input is ignored; the sample comes before the step.
  Oscillator ramp(16000);
  ramp.setFreq(4000.0);  // a quarter cycle a sample
  // The phase lies in [0, 1]: it reaches 1 before it wraps.
  for (double want : {0.0, 0.25, 0.5, 0.75, 1.0, 0.25}) {
    EXPECT_FLOAT_EQ(ramp.tickPhasor(123.0f, false), want);
  }
  EXPECT_EQ(ramp.freq(), 4000.0);

  // Sync 0: the input is the frequency (non-finite: 0 Hz).
  Oscillator sine(16000);
  EXPECT_FLOAT_EQ(sine.tickSine(4000.0f, true), 0.0f);
  EXPECT_EQ(sine.freq(), 4000.0);
  EXPECT_FLOAT_EQ(sine.tickSine(4000.0f, true), 1.0f);
  // NaN: 0 Hz, held at phase 0.5 from now on.
  EXPECT_NEAR(sine.tickSine(static_cast<SAMPLE>(kNaN), true), 0.0, 1e-6);
  EXPECT_EQ(sine.freq(), 0.0);
  EXPECT_EQ(sine.phase(), 0.5);

  // Sync 1: the input is the phase, reduced into [0, 1]; no step.
  Oscillator tri(16000);
  tri.setSync(1);
  const struct {
    SAMPLE in;
    double phase, triangle;
  } held[] = {{0.0f, 0.0, 0.0}, {0.25f, 0.25, 1.0}, {0.75f, 0.75, -1.0}, {1.0f, 1.0, 0.0},
              {2.5f, 0.5, 0.0}, {-0.25f, 0.75, -1.0}};
  for (const auto& h : held) {
    SCOPED_TRACE(h.in);
    EXPECT_NEAR(tri.tickTriangle(h.in, true), h.triangle, 1e-6);
    EXPECT_EQ(tri.phase(), h.phase);
  }
  EXPECT_EQ(tri.tickTriangle(std::numeric_limits<SAMPLE>::infinity(), true), 0.0f);
  EXPECT_EQ(tri.phase(), 0.0);

  // Sync 2: the input is added to freq for the step only.
  Oscillator pulse(16000);
  pulse.setFreq(1000.0);
  pulse.setWidth(0.3);
  pulse.setSync(2);
  EXPECT_EQ(pulse.tickPulse(3000.0f, true), 1.0f);  // phase 0
  EXPECT_DOUBLE_EQ(pulse.phase(), 0.25);
  EXPECT_EQ(pulse.freq(), 1000.0);
  EXPECT_EQ(pulse.tickPulse(-1000.0f, true), 1.0f);  // phase 0.25, no motion
  EXPECT_DOUBLE_EQ(pulse.phase(), 0.25);
  EXPECT_EQ(pulse.tickPulse(static_cast<SAMPLE>(kNaN), true), 1.0f);  // NaN adds nothing: 1000 Hz
  EXPECT_EQ(pulse.tickPulse(0.0f, true), -1.0f);  // phase 0.3125
}

// A block of each waveform is what as many ticks give, bit for bit, free
// running and in each sync mode, in place or not, and leaves the same
// phase behind.
TEST(OscillatorTest, BlockTicksMatchTicksBitForBit) {
  typedef SAMPLE (Oscillator::*Tick)(SAMPLE, bool);
  typedef void (Oscillator::*Block)(const SAMPLE*, SAMPLE*, unsigned long, bool);
  const struct {
    const char* name;
    Tick tick;
    Block block;
  } shapes[] = {{"phasor", &Oscillator::tickPhasor, &Oscillator::tickPhasor},
                {"sine", &Oscillator::tickSine, &Oscillator::tickSine},
                {"triangle", &Oscillator::tickTriangle, &Oscillator::tickTriangle},
                {"pulse", &Oscillator::tickPulse, &Oscillator::tickPulse}};
  const unsigned long frames = 37;
  std::vector<SAMPLE> input(frames);
  for (unsigned long j = 0; j < frames; j++) input[j] = 300.0f * std::sin(0.3f * j) - 0.2f;
  for (const auto& shape : shapes) {
    for (int sync : {-1, 0, 1, 2}) {  // -1: nothing connected
      for (bool in_place : {false, true}) {
        SCOPED_TRACE(std::string(shape.name) + " sync " + std::to_string(sync) +
                     (in_place ? " in place" : ""));
        Oscillator one(44100), block(44100);
        for (Oscillator* o : {&one, &block}) {
          o->setFreq(1234.5);
          o->setWidth(0.3);
          o->setPhase(0.9);
          if (sync >= 0) o->setSync(sync);
        }
        std::vector<SAMPLE> want(frames);
        for (unsigned long j = 0; j < frames; j++) {
          want[j] = (one.*shape.tick)(input[j], sync >= 0);
        }
        std::vector<SAMPLE> got = input;
        std::vector<SAMPLE> out(frames);
        SAMPLE* dest = in_place ? got.data() : out.data();
        (block.*shape.block)(got.data(), dest, frames, sync >= 0);
        for (unsigned long j = 0; j < frames; j++) {
          EXPECT_EQ(std::memcmp(&dest[j], &want[j], sizeof(SAMPLE)), 0) << "frame " << j;
        }
        EXPECT_EQ(block.phase(), one.phase());
        EXPECT_EQ(block.freq(), one.freq());
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Wave tables.

// Wave_Table on its own: a ramp read by lookup (over 4095 points, |which|)
// and by tick (over 4096 points, the first point when unconnected).
TEST(WaveTableTest, ReadsByLookupAndTick) {
  Wave_Table w;
  for (double v : w.table) ASSERT_EQ(v, 0.0);
  w.gen7({0.0, 1.0, 1.0});
  for (int j = 0; j < GENX_TABLE_SIZE; j += 7) ASSERT_NEAR(w.table[j], j / 4095.0, 1e-12) << j;
  const struct {
    double which, want;
  } lookups[] = {{0.0, 0.0}, {1.0, 1.0}, {0.5, 0.5}, {-0.5, 0.5}, {0.25, 0.25},
                 {kNaN, 0.0}, {kInf, 0.0}, {2.0, 4094.0 / 4095.0}};
  for (const auto& l : lookups) EXPECT_NEAR(w.lookup(l.which), l.want, 1e-6) << l.which;
  EXPECT_NEAR(w.tick(0.5f, true), 2048.0 / 4095.0, 1e-6);
  EXPECT_NEAR(w.tick(0.25f, true), 1024.0 / 4095.0, 1e-6);
  EXPECT_EQ(w.tick(0.5f, false), 0.0f);
  EXPECT_EQ(w.tick(1.0f, true), 0.0f);  // position 4096 wraps to the first point
  // Between the last point and the first: interpolated across the wrap.
  EXPECT_NEAR(w.tick(4095.5f / 4096.0f, true), 0.5, 1e-3);
}


TEST_F(OscTest, Gen10PlaysItsHarmonicsThroughAPhasor) {
  const double sr = rate;
  std::vector<double> out = render(
      "Phasor p => Gen10 g => blackhole; 440 => p.freq; g.coefs([1.0]);"
      "1000000::samp => now;",
      4000);
  double peak = 0.0;
  for (int i = 0; i < 4000; i++) {
    ASSERT_NEAR(out[i], sine(frac(i * 440.0 / sr)), 1e-4) << i;
    peak = std::max(peak, std::fabs(out[i]));
  }
  EXPECT_NEAR(peak, 1.0, 1e-3);
  EXPECT_NEAR(spectral_peak(out, 220.0, 660.0, sr), 440.0, sr / 4000);
}

// Tables built from a program, read back through lookup at their points.
TEST_F(OscTest, HarmonicAndChebyshevTablesMatchTheirSums) {
  struct Case {
    const char* cls;
    std::vector<double> c;
    std::function<double(int, const std::vector<double>&)> raw;  // before normalising
  };
  // Gen10: a sine per harmonic h with a whole number of points per period.
  auto harmonics = [](int j, const std::vector<double>& c) {
    double sum = 0.0;
    for (size_t k = 0; k < c.size(); k++) {
      const int period = 4096 / static_cast<int>(k + 1);
      sum += c[k] * std::sin(2.0 * kPi * j / period);
    }
    return sum;
  };
  // Gen17: the Chebyshev polynomial T_k(x) = cos(k acos x) on [-1, 1].
  auto chebyshev = [](int j, const std::vector<double>& c) {
    const double x = std::clamp(j / 2047.5 - 1.0, -1.0, 1.0);
    double sum = 0.0;
    for (size_t k = 0; k < c.size(); k++) sum += c[k] * std::cos((k + 1.0) * std::acos(x));
    return sum;
  };
  const Case cases[] = {
      {"Gen10", {1.0}, harmonics},
      {"Gen10", {1.0, 0.5, 0.25}, harmonics},
      {"Gen10", {0.0, 0.0, 1.0, 0.0, -0.3}, harmonics},
      {"Gen17", {1.0}, chebyshev},
      {"Gen17", {0.0, 1.0}, chebyshev},
      {"Gen17", {0.0, 0.0, 1.0}, chebyshev},
      {"Gen17", {0.5, 0.0, 0.3, 0.0, 0.0, 0.2}, chebyshev},
  };
  for (const Case& c : cases) {
    std::string list;
    for (double v : c.c) list += (list.empty() ? "" : ", ") + std::to_string(v);
    SCOPED_TRACE(std::string(c.cls) + " [" + list + "]");
    start(std::string(c.cls) + " t => blackhole; t.coefs([" + list +
          "]); 1000000::samp => now;");
    play(1);
    Chip_UGen* t = probe();
    double peak = 0.0;
    for (int j = 0; j < 4096; j++) peak = std::max(peak, std::fabs(c.raw(j, c.c)));
    for (int j = 0; j < 4096; j += 5) {
      ASSERT_NEAR(table_of(t)->table[j], c.raw(j, c.c) / peak, 1e-9) << j;
      ASSERT_NEAR(lookup(t, j / 4095.0), c.raw(j, c.c) / peak, 1e-5) << j;
    }
  }
}

// Gen10 adds to its table and keeps its amplitudes; Gen9 adds partials
// given as ratio, amplitude, phase, so the same call twice keeps the shape.
TEST_F(OscTest, AdditiveTablesAccumulate) {
  // Gen9: the triplet counted from the end (2, 0.5, 90); the leading 7 and
  // 9 complete none and are ignored. Normalised, a cosine of ratio 2.
  auto partial = [](int j) { return std::sin(2.0 * kPi * (2.0 * j / 4096 + 0.25)); };
  Chip_UGen* gen9 = make("Gen9");
  ASSERT_TRUE(coefs(gen9, {7.0, 9.0, 2.0, 0.5, 90.0}));
  for (int j = 0; j < 4096; j += 3) ASSERT_NEAR(table_of(gen9)->table[j], partial(j), 1e-12) << j;
  // The same partial again doubles it before normalising: the same shape.
  ASSERT_TRUE(coefs(gen9, {2.0, 1.0, 90.0}));
  for (int j = 0; j < 4096; j += 3) ASSERT_NEAR(table_of(gen9)->table[j], partial(j), 1e-12) << j;

  // Gen10 [1, 0.5] then [0.25]: the second call adds harmonic 1 at 0.25 and
  // the kept harmonic 2 at 0.5 to the first normalised table.
  Chip_UGen* gen10 = make("Gen10");
  ASSERT_TRUE(coefs(gen10, {1.0, 0.5}));
  ASSERT_TRUE(coefs(gen10, {0.25}));
  auto normalised = [](std::vector<double> v) {
    double peak = 0.0;
    for (double x : v) peak = std::max(peak, std::fabs(x));
    for (double& x : v) x /= peak;
    return v;
  };
  std::vector<double> first(4096), second(4096);
  for (int j = 0; j < 4096; j++) {
    first[j] = std::sin(2.0 * kPi * j / 4096) + 0.5 * std::sin(2.0 * kPi * j / 2048);
  }
  first = normalised(first);
  for (int j = 0; j < 4096; j++) {
    second[j] = first[j] + 0.25 * std::sin(2.0 * kPi * j / 4096) +
                0.5 * std::sin(2.0 * kPi * j / 2048);
  }
  second = normalised(second);
  for (int j = 0; j < 4096; j += 3) ASSERT_NEAR(table_of(gen10)->table[j], second[j], 1e-12) << j;
}

// Segment tables against their closed forms, hostile lengths included:
// lengths of no positive size only move the value, positions beyond the
// table are never written, and the slope follows the true length.
TEST_F(OscTest, SegmentTablesFollowTheirClosedForms) {
  struct Case {
    const char* cls;
    std::vector<double> c;
    std::function<double(int)> expected;  // after normalising
  };
  const Case cases[] = {
      {"Gen7", {0, 0.5, 1, 0.5, 0},
       [](int j) { return j < 2048 ? j / 2048.0 : 1.0 - (j - 2048) / 2048.0; }},
      {"Gen7", {0, -0.5, 1, 0.5, 0},
       [](int j) { return j < 2048 ? 1.0 - j / 2048.0 : 0.0; }},
      {"Gen7", {0, 2, 1}, [](int j) { return j / 4095.0; }},
      {"Gen7", {0, 1e30, 1}, [](int j) { return j / 4095.0; }},
      {"Gen7", {0, 0.25, 1, -1e30, 0, 1e30, 0},
       [](int j) { return j < 1024 ? j / 1023.0 : 0.0; }},
      {"Gen5", {1, 1, 0.001}, [](int j) { return std::pow(0.001, j / 4096.0); }},
      {"Gen5", {1, -1, 0.5, 1, 0.001},
       [](int j) { return std::pow(0.002, j / 4096.0); }},
      {"Gen5", {1, 3, 0.001}, [](int j) { return std::pow(0.001, j / 12288.0); }},
      {"Gen5", {1, 1e30, 0.5}, [](int) { return 1.0; }},
      {"CurveTable", {0, 0, 0, 1, 1}, [](int j) { return j / 4095.0; }},
      {"CurveTable", {0, 0, 3, 2, 1},
       [](int j) { return (1.0 - std::exp(3.0 * j / 4095.0)) / (1.0 - std::exp(3.0)); }},
      {"CurveTable", {0, 1, -4, 5, 0},
       [](int j) { return 1.0 - (1.0 - std::exp(-4.0 * j / 4095.0)) / (1.0 - std::exp(-4.0)); }},
      {"WarpTable", {1, 1}, [](int j) { return j / 4095.0; }},
      {"WarpTable", {4, 1}, [](int j) { return (std::pow(4.0, j / 4095.0) - 1) / 3; }},
      {"WarpTable", {1, 2},
       [](int j) {
         const double x = j / 4095.0;
         return x >= 0.5 ? (std::sqrt(2 * x - 1) + 1) / 2 : (1 - std::sqrt(1 - 2 * x)) / 2;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.cls) + " case " + std::to_string(&c - cases));
    Chip_UGen* t = make(c.cls);
    ASSERT_TRUE(coefs(t, c.c));
    for (int j = 0; j < 4096; j++) ASSERT_NEAR(table_of(t)->table[j], c.expected(j), 1e-9) << j;
    // lookup interpolates between the points at |which| x 4095.
    for (double which : {0.0, 0.1, 0.25, 0.5, 0.7777, 1.0, -0.3}) {
      const double p = std::fabs(which) * 4095.0;
      const int i = static_cast<int>(p);
      const double f = p - i;
      const double want = (1.0 - f) * c.expected(i) + f * c.expected(std::min(i + 1, 4095));
      EXPECT_NEAR(lookup(t, which), want, 1e-6) << which;
    }
  }
}

TEST_F(OscTest, InvalidListsReportAndLeaveTheTable) {
  const struct {
    const char* cls;
    std::vector<double> c;
    const char* message;
  } cases[] = {
      {"CurveTable", {1, 0, 0, 2, 1}, "first time must be zero."},
      {"CurveTable", {0, 0, 0, 0, 1}, "last time must be above zero and finite."},
      {"CurveTable", {0, 0, 0, kInf, 1}, "last time must be above zero and finite."},
      {"CurveTable", {0, 0, 0, 2, 1, 0, 1, 1}, "times must be in ascending order."},
      {"CurveTable", {0, 0, 0, kNaN, 1}, "times must be in ascending order."},
      {"CurveTable", {0, 0, 1, 1}, "usage:"},
      {"WarpTable", {1, 1, 1}, "expects array of exactly 2 elements."},
      {"GenX", {1}, ".coeffs called on abstract base class!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.cls) + " " + c.message);
    Chip_UGen* t = make(c.cls);
    // A table that is not all 0 first (GenX has no builder of its own).
    if (std::string(c.cls) != "GenX") table_of(t)->warp({3, 1});
    std::vector<double> before(table_of(t)->table, table_of(t)->table + 4096);
    bool returned = false;
    Lines lines = printed_lines([&] { returned = coefs(t, c.c); });
    EXPECT_TRUE(returned);
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    EXPECT_NE(all.find(c.message), std::string::npos) << all;
    for (int j = 0; j < 4096; j++) ASSERT_EQ(table_of(t)->table[j], before[j]) << j;
  }
  // More than 255 segments.
  Chip_UGen* curve = make("CurveTable");
  std::vector<double> many;
  for (int k = 0; k < 256; k++) many.insert(many.end(), {double(k), 0.0, 0.0});
  many.insert(many.end(), {256.0, 1.0});
  Lines lines = printed_lines([&] { coefs(curve, many); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("too many arguments."), std::string::npos);
}

// Every table class fed hostile values at every position of an ordinary
// list, hostile read positions and inputs: finite tables and samples.
TEST_F(OscTest, HostileTablesStayFinite) {
  const struct {
    const char* cls;
    std::vector<double> c;
  } cases[] = {
      {"Gen5", {1, 0.5, 0.1, 0.5, 1}},
      {"Gen7", {0, 0.5, 1, 0.5, 0}},
      {"Gen9", {1, 1, 0, 3, 0.5, 90}},
      {"Gen10", {1, 0.5, 0.3}},
      {"Gen17", {1, 0.5, 0.2}},
      {"CurveTable", {0, 0, 1, 0.5, 1, -2, 1, 0}},
      {"WarpTable", {2, 0.5}},
  };
  Chip_UGen* source = make("Phasor");
  // The messages of the refused lists are collected once, not checked.
  printed_lines([&] {
  for (const auto& c : cases) {
    Chip_UGen* t = make(c.cls);
    ASSERT_TRUE(t->add(source, 0));
    for (size_t k = 0; k < c.c.size(); k++) {
      for (double value : kHostile) {
        SCOPED_TRACE(std::string(c.cls) + " position " + std::to_string(k) + " = " +
                     std::to_string(value));
        std::vector<double> list = c.c;
        list[k] = value;
        coefs(t, list);
        for (double v : table_of(t)->table) ASSERT_TRUE(std::isfinite(v));
        for (double which : kHostile) ASSERT_TRUE(std::isfinite(lookup(t, which)));
        for (double in : kHostile) {
          SAMPLE out = 0.0f;
          EXPECT_EQ(tick(t, static_cast<SAMPLE>(in), &out), 1u);
          ASSERT_TRUE(std::isfinite(out)) << in;
        }
      }
    }
    // An ordinary list afterwards gives an ordinary table (a peak of 1 for
    // the normalised ones).
    coefs(t, c.c);
    double peak = 0.0;
    for (double v : table_of(t)->table) peak = std::max(peak, std::fabs(v));
    EXPECT_NEAR(peak, 1.0, 1e-9) << c.cls;
  }
  });
}

}  // namespace
