// The toolkit module: its registration frame (classes, parents, sample
// rate), the guard that keeps toolkit errors out of the machine, and the
// language classes Envelope, ADSR, SubNoise and JetTabl run from programs
// and measured against their closed forms.
#include "chip/syn/ugen_syn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "chip/syn/syn.h"
#include "chip/types/chip_type.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"
#include "emit_test_support.h"
#include "syn_program_support.h"

namespace {

// ---------------------------------------------------------------------------
// A class of the test's own whose toolkit object raises the toolkit's error
// on demand: from its constructor, a setter (through handleError, which
// prints), a method (thrown bare, unprinted) and its tick.

bool g_fail_make = false;
t_CPWORD Faulty_offset_data = FRAME_NO_OFFSET;

class Faulty : public Syn {
 public:
  Faulty() {
    if (g_fail_make)
      Syn::handleError(SYN_PREFIX "Faulty: cannot be made!", SynError::FUNCTION_ARGUMENT);
  }
  float tick(float in) {
    if (broken) Syn::handleError(SYN_PREFIX "Faulty: broken tick!", SynError::FUNCTION_ARGUMENT);
    return in + 0.5f;
  }
  bool broken = false;
  double level = 0.0;
};

const Frame_Member kFaultyMembers[] = {
    frame_prop(
        "level", "float",
        [](Frame_Slot& s, double v) {
          if (v < 0.0)
            Syn::handleError(SYN_PREFIX "Faulty: negative level!", SynError::FUNCTION_ARGUMENT);
          return s.as<Faulty>().level = v;
        },
        [](Frame_Slot& s) { return s.as<Faulty>().level; }),
    frame_method("bare", "int",
               [](Frame_Slot&, void*, Chip_DL_Return* ret) {
                 ret->v_int = 7;
                 throw SynError("Faulty: bare error", SynError::FILE_ERROR);
               }),
    frame_prop(
        "broken", "int",
        [](Frame_Slot& s, double v) {
          s.as<Faulty>().broken = v != 0.0;
          return v;
        },
        nullptr),
};

const Frame_Class_Desc kFaulty = {"Faulty",
                                "UGen",
                                "@Faulty_data",
                                &Faulty_offset_data,
                                [](Chip_Object*) -> Frame_Obj* { return new Faulty; },
                                [](Frame_Slot& s, SAMPLE in) { return s.as<Faulty>().tick(in); },
                                frame_pmsg_true,
                                FRAME_MEMBERS(kFaultyMembers)};

// Two instruments of the test's own under SynInstrument (its member and
// tick, no members of their own): one with a pitch that plays its note's
// amplitude times the last control value, one without a pitch.
class Hum : public Instrmnt {
 public:
  void noteOn(float frequency, float amplitude) override {
    setFrequency(frequency);
    level = amplitude;
  }
  void noteOff(float amplitude) override { level -= amplitude; }
  void setFrequency(float frequency) override { m_frequency = frequency; }
  float tick() override { return level * control; }
  using Instrmnt::tick;
  void controlChange(int number, float value) override { control = float(number) + value; }
  float level = 0.0f, control = 1.0f;
};

class Thud : public Instrmnt {
 public:
  void noteOn(float, float) override {}
  float tick() override { return 0.125f; }
  using Instrmnt::tick;
};

const Frame_Class_Desc kInstruments[] = {
    {"Hum", "SynInstrument", nullptr, &Instrmnt_offset_data,
     [](Chip_Object*) -> Frame_Obj* { return new Hum; }, nullptr, nullptr, nullptr, 0},
    {"Thud", "SynInstrument", nullptr, &Instrmnt_offset_data,
     [](Chip_Object*) -> Frame_Obj* {
       Thud* t = new Thud;
       t->m_frequency = 220.0;
       return t;
     },
     nullptr, nullptr, nullptr, 0},
};

class SynModuleTest : public SynProgramTest {
 protected:
  SynModuleTest() : SynProgramTest("syn_test.chip") {}

  // The toolkit module, then the test's own classes.
  void SetUp() override {
    g_fail_make = false;
    SynProgramTest::SetUp();
    ASSERT_TRUE(frame_import_class(env, &kFaulty));
    for (const Frame_Class_Desc& d : kInstruments) ASSERT_TRUE(frame_import_class(env, &d));
    env->global()->commit();
  }

  void TearDown() override {
    SynProgramTest::TearDown();
    g_fail_make = false;
  }

  Chip_Type* type(const char* name) { return env->global()->lookup_type(std::string(name), 0); }

  // Compiles source, sporks it on the test's machine, and collects n
  // samples of each node linked into blackhole, in the order linked (and
  // what was printed meanwhile).
  std::vector<std::vector<double>> render_all(const std::string& source, int n,
                                              Lines* printed = nullptr) {
    vm = make_vm();
    Lines errors;
    Chip_VM_Code* code = compile(source, &errors);
    EXPECT_NE(code, nullptr) << source << "\n" << (errors.empty() ? "" : errors[0]);
    std::vector<std::vector<double>> out;
    if (!code) return out;
    Lines lines = printed_lines([&] {
      vm->spork(code, nullptr);
      for (int i = 0; i < n; i++) {
        vm->run(1);
        Chip_UGen* hole = vm->blackhole();
        out.resize(hole->num_src);
        for (size_t k = 0; k < hole->num_src; k++) out[k].push_back(hole->src_list[k]->last);
      }
    });
    if (printed) *printed = lines;
    return out;
  }

  // The same for a program with one node linked into blackhole.
  std::vector<double> render(const std::string& source, int n, Lines* printed = nullptr) {
    std::vector<std::vector<double>> all = render_all(source, n, printed);
    EXPECT_EQ(all.size(), 1u);
    return all.empty() ? std::vector<double>() : all[0];
  }
};

TEST_F(SynModuleTest, RegistersItsClassesUnderTheirParents) {
  const struct {
    const char* name;
    const char* parent;
  } cases[] = {{"SynInstrument", "UGen"},
               {"Envelope", "UGen"},
               {"ADSR", "Envelope"},
               {"SubNoise", "UGen"},
               {"JetTabl", "UGen"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Chip_Type* t = type(c.name);
    ASSERT_NE(t, nullptr);
    ASSERT_NE(t->parent, nullptr);
    EXPECT_EQ(t->parent->name, c.parent);
  }
  EXPECT_NE(Envelope_offset_data, FRAME_NO_OFFSET);
  EXPECT_NE(Instrmnt_offset_data, FRAME_NO_OFFSET);

  size_t count = 0;
  const char* const* names = syn_class_names(&count);
  ASSERT_EQ(count, 52u);
  EXPECT_STREQ(names[0], "SynInstrument");
  EXPECT_STREQ(names[29], "ADSR");
  EXPECT_STREQ(names[51], "Mesh2D");
  // Each listed class's row carries its name, and each class is registered
  // under a parent registered before it.
  const char* const listed[] = {
#define SYN_LISTED_NAME(name) #name,
      SYN_CLASSES(SYN_LISTED_NAME)
#undef SYN_LISTED_NAME
  };
  ASSERT_EQ(sizeof listed / sizeof listed[0], count);
  std::vector<std::string> before = {"UGen"};
  for (size_t i = 0; i < count; i++) {
    SCOPED_TRACE(listed[i]);
    EXPECT_STREQ(names[i], listed[i]);
    Chip_Type* t = type(names[i]);
    ASSERT_NE(t, nullptr);
    ASSERT_NE(t->parent, nullptr);
    EXPECT_NE(std::find(before.begin(), before.end(), t->parent->name), before.end());
    before.push_back(names[i]);
  }
}

TEST_F(SynModuleTest, TakesTheHostRateUnlessItIsZero) {
  Chip_DL_Query query;
  query.srate = 0;
  Syn::srate = 12345.0f;
  // A second registration in the same environment fails at the first class
  // (already there), after the rate was taken.
  syn_query(&query);
  EXPECT_EQ(Syn::srate, 12345.0f);
  query.srate = 22050;
  syn_query(&query);
  EXPECT_EQ(Syn::srate, 22050.0f);
  EXPECT_EQ(little_endian, 1);
}

// Step => ADSR: the output is the envelope itself, piecewise linear with
// stage lengths given in samples (one chain per case, in one program).
TEST_F(SynModuleTest, AdsrOnAStepFollowsTheClosedForm) {
  const struct {
    int a, d, r;
    double s;
    bool as_set;
  } cases[] = {{8, 4, 16, 0.5, false}, {5, 10, 20, 0.25, true}, {1, 0, 4, 0.75, true}};
  const int hold = 6;
  std::string source = "Step s; 1.0 => s.next;\n";
  int total = 0;
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
    const auto& c = cases[i];
    char text[512];
    if (c.as_set) {
      std::snprintf(text, sizeof text,
                    "s => ADSR e%zu => blackhole; e%zu.set(%d::samp, %d::samp, %g, %d::samp);\n", i,
                    i, c.a, c.d, c.s, c.r);
    } else {
      std::snprintf(text, sizeof text,
                    "s => ADSR e%zu => blackhole; %d::samp => e%zu.attackTime; "
                    "%g => e%zu.sustainLevel; %d::samp => e%zu.decayTime; "
                    "%d::samp => e%zu.releaseTime;\n",
                    i, c.a, i, c.s, i, c.d, i, c.r, i);
    }
    source += text;
    std::snprintf(text, sizeof text, "spork ~ note(e%zu, %d);\n", i, c.a + c.d + hold);
    source += text;
    total = std::max(total, c.a + c.d + hold + c.r + 4);
  }
  source = "fun void note(ADSR e, int held) { e.keyOn(); held::samp => now; e.keyOff(); }\n" +
           source + "1::second => now;\n";
  std::vector<std::vector<double>> out = render_all(source, total);
  ASSERT_EQ(out.size(), sizeof cases / sizeof cases[0]);
  for (size_t i = 0; i < out.size(); i++) {
    const auto& c = cases[i];
    SCOPED_TRACE(i);
    ASSERT_EQ(out[i].size(), size_t(total));
    for (int n = 0; n < c.a + c.d + hold + c.r + 4; n++) {
      const int k = n + 1;  // samples ticked
      double want;
      if (k == c.a && c.d == 0) {
        want = c.s;  // no decay: sustains in the sample that peaks
      } else if (k <= c.a) {
        want = double(k) / c.a;
      } else if (k <= c.a + c.d) {
        want = 1.0 - (1.0 - c.s) * (k - c.a) / c.d;
      } else if (k <= c.a + c.d + hold) {
        want = c.s;
      } else {
        const int j = k - (c.a + c.d + hold);
        want = std::max(0.0, c.s - c.s * j / c.r);
      }
      EXPECT_NEAR(out[i][n], want, 1e-5) << "sample " << n;
    }
  }
}

TEST_F(SynModuleTest, EnvelopeAndAdsrMembersFromAProgram) {
  Lines printed = run(
      "Envelope e; ADSR a;\n"
      "<<< e.keyOn(0), e.keyOff(0), e.keyOn(), e.keyOff(5) >>>;\n"
      "<<< e.time(-0.5), e.time(), e.duration() / samp >>>;\n"
      "<<< e.duration(8::samp) / samp, e.time() * 16000.0 >>>;\n"
      "<<< e.rate(0.25), e.duration() / samp >>>;\n"
      "<<< e.value(0.5), e.target(), e.target(1.5) >>>;\n"
      "<<< a.state(), a.attackTime(1600::samp) / samp, (a.attackTime() / samp + 0.5) $ int >>>;\n"
      "<<< a.attackRate() * 1600.0, a.sustainLevel(0.25), a.decayRate(0.01) >>>;\n"
      "<<< a.releaseTime(320::samp) / samp, a.releaseRate() * 320.0 / 0.25 >>>;\n"
      "a.keyOn(); <<< a.state() >>>; a.keyOff(); <<< a.state() >>>;\n");
  Lines want = {"0 0 1 1 ",
                "[chip](via Envelope): negative times not allowed ... correcting!",
                floats({0.5, 0.5, 8000.0}),
                floats({8.0, 8.0}),
                floats({0.25, 0.0}),
                floats({0.5, 0.5, 1.5}),
                "0 " + floats({1600.0}) + "1600 ",
                floats({1.0, 0.25, double(0.01f)}),
                floats({320.0, 1.0}),
                "0 :(int)",
                "3 :(int)"};
  EXPECT_EQ(printed, want);
}

// The release with a time of 0 at a sustain level of 0 ends at once (it
// used to be a step of 0/0 and a NaN output for good).
TEST_F(SynModuleTest, ZeroReleaseAtZeroSustainIsSilenceNotNaN) {
  Lines printed;
  std::vector<double> out = render(
      "Step s => ADSR e => blackhole; 1.0 => s.next;\n"
      "e.set(2::samp, 2::samp, 0.0, 0::samp); e.keyOn(); 8::samp => now;\n"
      "0.75 => e.value; e.keyOff(); 1::samp => now;\n"
      "<<< e.value(), e.state() >>>; 1::second => now;\n",
      16, &printed);
  ASSERT_EQ(out.size(), 16u);
  const double want[] = {0.5, 1.0, 0.5, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  for (size_t n = 0; n < sizeof want / sizeof want[0]; n++) EXPECT_NEAR(out[n], want[n], 1e-6);
  Lines lines = {floats({0.0}) + "4 "};
  EXPECT_EQ(printed, lines);
}

// Every setter of Envelope and ADSR fed each hostile value from a program:
// the machine goes on and the output never turns NaN.
TEST_F(SynModuleTest, HostileSettingsFromAProgramLeaveNoNaN) {
  const char* setters[] = {"target",     "time",      "rate",         "value",
                           "attackRate", "decayRate", "sustainLevel", "releaseRate"};
  const char* dur_setters[] = {"duration", "attackTime", "decayTime", "releaseTime"};
  const char* values[] = {"(-big)", "-1.0", "0.0", "0.5", "1.0", "2.0", "big", "nan", "inf"};
  std::string body =
      "fun void check(ADSR e) { if (e.value() != e.value()) <<< \"NaN\" >>>; }\n"
      "Step s => ADSR e => blackhole; 1.0 => s.next;\n"
      "1000000.0 => float m; m * m * m * m * m => float big;\n"
      "big * big * big * big * big * big * big * big * big * big * big => float inf;\n"
      "inf - inf => float nan;\n";
  for (const char* v : values) {
    for (const char* m : setters) {
      body += std::string(v) + " => e." + m +
              "; e.keyOn(); 3::samp => now; e.keyOff(); "
              "3::samp => now; check(e); 0.0 => e.value;\n";
    }
    for (const char* m : dur_setters) {
      body += "(" + std::string(v) + ")::samp => e." + m +
              "; e.keyOn(); 3::samp => now; "
              "e.keyOff(); 3::samp => now; check(e); 0.0 => e.value;\n";
    }
  }
  body += "0.5 => e.value; <<< \"done\" >>>; 1::second => now;\n";
  const int per_value = 12 * 6;
  Lines printed;
  std::vector<double> out = render(body, 9 * per_value + 4, &printed);
  ASSERT_EQ(out.size(), size_t(9 * per_value + 4));
  for (double x : out) ASSERT_FALSE(std::isnan(x));
  EXPECT_NEAR(out.back(), 0.5, 1e-9);
  // Corrections only, then the end: never "NaN".
  ASSERT_FALSE(printed.empty());
  EXPECT_EQ(printed.back(), "\"done\" : (string)");
  for (const std::string& line : printed) EXPECT_EQ(line.find("NaN"), std::string::npos);
}

TEST_F(SynModuleTest, SubNoiseHoldsForItsRate) {
  Lines printed;
  std::vector<double> out = render(
      "SubNoise n => blackhole;\n"
      "<<< n.rate(), n.rate(4), n.rate(0), n.rate(-3), n.rate() >>>; 1::second => now;\n",
      16, &printed);
  ASSERT_EQ(printed.size(), 1u);
  EXPECT_EQ(printed[0], "16 4 4 4 4 ");
  ASSERT_EQ(out.size(), 16u);
  for (int b = 0; b < 4; b++) {
    for (int i = 1; i < 4; i++) EXPECT_EQ(out[4 * b + i], out[4 * b]);
    if (b > 0) {
      EXPECT_NE(out[4 * b], out[4 * (b - 1)]);
    }
    EXPECT_GE(out[4 * b], -1.0);
    EXPECT_LT(out[4 * b], 1.0);
  }
}

TEST_F(SynModuleTest, JetTablAppliesTheClippedCubicToItsInput) {
  const double inputs[] = {0.5, 2.0, -2.0, 0.25, -0.8, 1.0};
  std::string source;
  for (size_t i = 0; i < sizeof inputs / sizeof inputs[0]; i++) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "Step s%zu => JetTabl j%zu => blackhole; %.17f => s%zu.next;\n", i, i, inputs[i],
                  i);
    source += text;
  }
  std::vector<std::vector<double>> out = render_all(source + "1::second => now;\n", 3);
  ASSERT_EQ(out.size(), sizeof inputs / sizeof inputs[0]);
  for (size_t i = 0; i < out.size(); i++) {
    const double x = inputs[i];
    SCOPED_TRACE(x);
    const double want = std::min(1.0, std::max(-1.0, x * x * x - x));
    for (double y : out[i]) EXPECT_NEAR(y, want, 1e-6);
  }
}

// Instruments enter under SynInstrument and share its member, tick and
// members: noteOn plays at the stored frequency, freq answers what the
// instrument stored (unchanged without a pitch), and a bare SynInstrument
// is an empty, silent object.
TEST_F(SynModuleTest, InstrumentsShareSynInstrumentsFrame) {
  Lines printed;
  std::vector<std::vector<double>> out = render_all(
      "Hum h => blackhole; Thud t => blackhole; SynInstrument bare => blackhole;\n"
      "<<< h.freq(440.0), h.freq(), t.freq(330.0), t.freq(), bare.freq(100.0) >>>;\n"
      "h.noteOn(0.5); 2::samp => now; h.controlChange(2, 0.25); 2::samp => now;\n"
      "h.noteOff(0.25); 1::second => now;\n",
      6, &printed);
  Lines want = {"[chip](via SYN): Instrmnt: virtual setFrequency function call!",
                floats({440.0, 440.0, 220.0, 220.0, 0.0})};
  EXPECT_EQ(printed, want);
  ASSERT_EQ(out.size(), 3u);
  const double hum[] = {0.5, 0.5, 0.5 * 2.25, 0.5 * 2.25, 0.25 * 2.25, 0.25 * 2.25};
  for (int n = 0; n < 6; n++) {
    EXPECT_NEAR(out[0][n], hum[n], 1e-6) << n;
    EXPECT_EQ(out[1][n], 0.125) << n;
    EXPECT_EQ(out[2][n], 0.0) << n;
  }
  EXPECT_EQ(type("Hum")->parent->name, "SynInstrument");
}

// ---------------------------------------------------------------------------
// The guard.

TEST_F(SynModuleTest, ToolkitErrorsOfMembersArePrintedOnceAndTheProgramGoesOn) {
  Lines printed =
      run("Faulty f;\n"
          "<<< f.level(0.25) >>>;\n"
          "<<< f.level(-1.0) >>>;\n"
          "<<< f.level() >>>;\n"
          "<<< f.bare() >>>;\n"
          "<<< \"after\" >>>;\n");
  Lines want = {
      "0.250000 :(float)",   "[chip](via SYN): Faulty: negative level!", "0.000000 :(float)",
      "0.250000 :(float)",   "[chip](via SYN): Faulty: bare error",      "0 :(int)",
      "\"after\" : (string)"};
  EXPECT_EQ(printed, want);
}

TEST_F(SynModuleTest, AFailingTickIsSilentAndPrintsOnce) {
  Lines printed;
  std::vector<double> out = render(
      "Step s => Faulty f => blackhole; 0.25 => s.next;\n"
      "4::samp => now; 1 => f.broken; 100::samp => now;\n"
      "0 => f.broken; <<< \"mended\" >>>; 1::second => now;\n",
      110, &printed);
  ASSERT_EQ(out.size(), 110u);
  for (int n = 0; n < 4; n++) EXPECT_EQ(out[n], 0.75);
  for (int n = 4; n < 104; n++) EXPECT_EQ(out[n], 0.0);
  for (int n = 105; n < 110; n++) EXPECT_EQ(out[n], 0.75);
  Lines want = {"[chip](via SYN): Faulty: broken tick!", "\"mended\" : (string)"};
  EXPECT_EQ(printed, want);
}

TEST_F(SynModuleTest, AFailedConstructionLeavesASilentObject) {
  g_fail_make = true;
  Lines printed;
  std::vector<double> out = render(
      "Step s => Faulty f => blackhole; 0.25 => s.next;\n"
      "<<< f.level(0.5), f.level() >>>; 1::second => now;\n",
      8, &printed);
  Lines want = {"[chip](via SYN): Faulty: cannot be made!", floats({0.0, 0.0})};
  EXPECT_EQ(printed, want);
  ASSERT_EQ(out.size(), 8u);
  for (double x : out) EXPECT_EQ(x, 0.0);
}

// A tick without an output location (which the graph never asks for) is
// refused with one message per object, however often it comes.
TEST_F(SynModuleTest, ATickWithoutOutputWarnsOncePerObject) {
  vm = make_vm();
  Chip_Type* t = type("JetTabl");
  ASSERT_NE(t, nullptr);
  ASSERT_NE(t->ugen_info, nullptr);
  f_tick tick = t->ugen_info->tick;
  Chip_Object* obj = instantiate_and_initialize_object(t, nullptr);
  ASSERT_NE(obj, nullptr);
  obj->add_ref();
  Chip_VM_Code* ctor = t->info ? t->info->pre_ctor : nullptr;
  ASSERT_NE(ctor, nullptr);
  reinterpret_cast<f_ctor>(ctor->native_func)(obj, nullptr, nullptr);
  Lines printed = printed_lines([&] {
    for (int i = 0; i < 50; i++) EXPECT_EQ(tick(obj, 0.5f, nullptr, nullptr), 0u);
  });
  Lines want = {"[chip](via SYN): we warned you..."};
  EXPECT_EQ(printed, want);
  SAMPLE y = 9.0f;
  EXPECT_EQ(tick(obj, 0.5f, &y, nullptr), 1u);
  EXPECT_FLOAT_EQ(y, -0.375f);
  obj->release();
}

}  // namespace
