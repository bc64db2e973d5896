// The filter module: registration, the measured response of every filter
// against its transfer function, BiQuad's poles and zeros, Teabox's frames,
// hostile parameters, the plain classes on their own, and the classes used
// from compiled programs. Objects made as a program makes them are driven
// through the tick their class registered and their members by language
// name, as a script reaches them.
//
// Gains are measured by driving a sine through a filter's tick until the
// transient has died and projecting the output onto the sine's frequency;
// the expected gains come from closed forms of each design evaluated here.
#include "chip/lib/ugen_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/digiio_device.h"
#include "chip/vm/ugen_frame.h"
#include "emit_test_support.h"
#include "log_capture.h"
#include "module_test_support.h"
#include "type_check_support.h"
#include "xxx_module_support.h"

namespace {

typedef std::complex<double> cplx;
const double kPi = 3.141592653589793;
const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Calls the float member `name` as a script would: a setter with one
// argument, `set` with two, a getter with none.
double call(Chip_Object* obj, const char* name, std::vector<double> args = {}) {
  return call_member(obj, name, args.empty() ? nullptr : args.data(), args.size()).v_float;
}

// Calls the int member `name` with one argument word.
t_CPWORD call_int(Chip_Object* obj, const char* name, t_CPWORD arg) {
  return call_member(obj, name, &arg, 1).v_int;
}

// One sample through the tick the object's class registered.
SAMPLE tick(Chip_Object* obj, SAMPLE in) {
  SAMPLE out = 0.0f;
  obj->type_ref->ugen_info->tick(obj, in, &out, nullptr);
  return out;
}

// The native object an object's hidden member holds, as class T (null, with
// a test failure, when it holds none or another class).
template <typename T>
T* native(Chip_Object* obj, t_CPWORD offset) {
  T* found = dynamic_cast<T*>(frame_object(obj, offset));
  EXPECT_NE(found, nullptr);
  return found;
}

Filter_Resonant* resonant_of(Chip_Object* obj) {
  return native<Filter_Resonant>(obj, FilterBasic_offset_data);
}

// The resonant classes with the kind of their objects.
struct Resonant {
  const char* name;
  Filter_Resonant::Kind kind;
};
const Resonant kResonant[] = {{"BPF", Filter_Resonant::BPF},
                              {"BRF", Filter_Resonant::BRF},
                              {"LPF", Filter_Resonant::LPF},
                              {"HPF", Filter_Resonant::HPF},
                              {"ResonZ", Filter_Resonant::RESONZ}};

// A deterministic test signal in [-1, 1]: noise with a DC and a Nyquist
// part, the inputs that reach the band edges.
float probe(int n) {
  static uint32_t state = 1;
  if (n == 0) state = 1;
  state = state * 1664525u + 1013904223u;
  const double noise = static_cast<double>(state >> 8) / 8388608.0 - 1.0;
  return static_cast<float>(0.4 * noise + 0.3 + 0.3 * ((n & 1) ? -1.0 : 1.0));
}

// |H| of ResonZ at f: its two-pole, zeros-at-+-1 form with
// R = 1 - pf/(2Q), gain (1 - R^2)/2, pole angle t with
// cos t = 2R cos(pf) / (1 + R^2).
double resonz_gain(double fs, double f0, double q, double f) {
  const double pf = 2.0 * kPi * f0 / fs;
  const double R = 1.0 - 0.5 * pf / q;
  const double t = std::acos(2.0 * R * std::cos(pf) / (1.0 + R * R));
  const cplx z = std::polar(1.0, 2.0 * kPi * f / fs);
  const cplx pole = std::polar(R, t);
  return (1.0 - R * R) * 0.5 * std::abs((z - 1.0) * (z + 1.0)) /
         std::abs((z - pole) * (z - std::conj(pole)));
}

class FilterModuleTest : public TypeCheckTest, public ::testing::WithParamInterface<t_CPUINT> {
 protected:
  void SetUp() override {
    TypeCheckTest::SetUp();
    srate = GetParam();
    ASSERT_TRUE(load_xxx_module(env, srate));
    ASSERT_TRUE(load_test_module(env, filter_query, srate));
  }

  void TearDown() override {
    for (Chip_Object* obj : objects) obj->release();
    objects.clear();
    xxx_forget_types();
    TypeCheckTest::TearDown();
  }

  Chip_Object* make(const char* name) { return make_native(env, name, objects); }

  // Steady-state gain of tick at frequency f (0: DC, srate/2: Nyquist):
  // a unit sine runs for `settle` samples, then the output is projected on
  // the sine over whole periods.
  double gain(Chip_Object* obj, double f, int settle = 6000) {
    const double w = 2.0 * kPi * f / srate;
    int n = 0;
    for (; n < settle; n++) tick(obj, static_cast<SAMPLE>(std::cos(w * n)));
    // About 40 periods, at least 2000 samples.
    int len = 2000;
    if (f > 0.0 && f < 0.5 * srate) {
      const double period = srate / f;
      len = static_cast<int>(std::lround(std::ceil(2000.0 / period) * period));
    }
    ToneProjection tone(w);
    for (int k = 0; k < len; k++, n++) {
      tone.add(static_cast<double>(tick(obj, static_cast<SAMPLE>(std::cos(w * n)))), n);
    }
    return tone.amplitude((f == 0.0 || f == 0.5 * srate) ? 1.0 : 2.0);
  }

  t_CPUINT srate = 0;
  std::vector<Chip_Object*> objects;
};

INSTANTIATE_TEST_SUITE_P(Rates, FilterModuleTest, ::testing::Values(16000u, 44100u));

TEST_P(FilterModuleTest, RegistersTheClassesAndTheOldNames) {
  const struct {
    const char* name;
    const char* parent;
  } classes[] = {{"FilterBasic", "UGen"},   {"BPF", "FilterBasic"}, {"BRF", "FilterBasic"},
                 {"LPF", "FilterBasic"},    {"HPF", "FilterBasic"}, {"ResonZ", "FilterBasic"},
                 {"BiQuad", "UGen"},        {"Teabox", "FilterBasic"}};
  for (const auto& c : classes) {
    SCOPED_TRACE(c.name);
    Chip_Type* type = find_type(env, c.name);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->parent->name, c.parent);
    ASSERT_NE(type->ugen_info, nullptr);
    EXPECT_EQ(type->ugen_info->num_ins, 1u);
    EXPECT_EQ(type->ugen_info->num_outs, 1u);
  }
  // Every class ticks its own object: a subclass's tick replaces the base's.
  const f_tick base_tick = find_type(env, "FilterBasic")->ugen_info->tick;
  EXPECT_NE(base_tick, nullptr);
  for (const char* name : {"BPF", "BRF", "LPF", "HPF", "ResonZ", "Teabox"}) {
    EXPECT_NE(find_type(env, name)->ugen_info->tick, base_tick) << name;
  }
  // ... and holds the object of its own class (the resonant ones of its kind).
  EXPECT_NE(native<Filter_Basic>(make("FilterBasic"), FilterBasic_offset_data), nullptr);
  for (const Resonant& r : kResonant) {
    Filter_Resonant* f = resonant_of(make(r.name));
    ASSERT_NE(f, nullptr) << r.name;
    EXPECT_EQ(f->kind(), r.kind) << r.name;
  }
  EXPECT_NE(native<Filter_BiQuad>(make("BiQuad"), biquad_offset_data), nullptr);
  EXPECT_NE(native<Filter_Teabox>(make("Teabox"), FilterBasic_offset_data), nullptr);
  // The subclasses share the base's state member; BiQuad has its own.
  EXPECT_EQ(static_cast<unsigned long>(FilterBasic_offset_data) + CHIP_WORD_SIZE,
            find_type(env, "LPF")->obj_size);
  EXPECT_EQ(find_type(env, "Teabox")->obj_size, find_type(env, "FilterBasic")->obj_size);
  EXPECT_NE(biquad_offset_data, FRAME_NO_OFFSET);

  const char* const renamed[][2] = {{"filter", "Filter"},   {"biquad", "BiQuad"},
                                    {"onepole", "OnePole"}, {"onezero", "OneZero"},
                                    {"twopole", "TwoPole"}, {"twozero", "TwoZero"},
                                    {"delay", "Delay"},     {"delayl", "DelayL"},
                                    {"delaya", "DelayA"}};
  for (const auto& pair : renamed) {
    std::string to;
    EXPECT_TRUE(type_engine_get_deprecate(env, pair[0], to)) << pair[0];
    EXPECT_EQ(to, pair[1]);
  }
}

TEST_P(FilterModuleTest, NewFiltersStartAsDescribed) {
  // BPF, BRF, LPF, HPF: silent until a frequency is set.
  for (const char* name : {"BPF", "BRF", "LPF", "HPF"}) {
    SCOPED_TRACE(name);
    Chip_Object* f = make(name);
    for (int n = 0; n < 8; n++) EXPECT_EQ(tick(f, 0.5f), 0.0f);
    EXPECT_EQ(call(f, "freq"), 0.0);
  }
  EXPECT_EQ(call(make("LPF"), "Q"), 1.0);
  EXPECT_EQ(call(make("BPF"), "Q"), 0.0);
  // ResonZ: tuned to 220 Hz with Q 1.
  Chip_Object* z = make("ResonZ");
  EXPECT_EQ(call(z, "freq"), 220.0);
  EXPECT_EQ(call(z, "Q"), 1.0);
  for (double f : {110.0, 220.0, 440.0})
    EXPECT_NEAR(gain(z, f, 2000), resonz_gain(srate, 220.0, 1.0, f), 0.005) << f;
  // BiQuad passes its input unchanged.
  Chip_Object* b = make("BiQuad");
  for (float x : {0.25f, -1.0f, 0.5f}) EXPECT_EQ(tick(b, x), x);
  // FilterBasic complains on every sample and outputs silence.
  Chip_Object* base = make("FilterBasic");
  SAMPLE out = 1.0f;
  std::vector<std::string> lines = printed_lines([&] {
    out = tick(base, 1.0f);
    out += tick(base, 0.5f);
  });
  ASSERT_EQ(lines.size(), 2u);
  for (const std::string& line : lines) {
    EXPECT_NE(line.find("FilterBasic.tick() --> FitlerBasic is virtual!"), std::string::npos);
  }
  EXPECT_EQ(out, 0.0f);
  // Its members do nothing and answer 0, on its own objects and on a
  // Teabox, which inherits them.
  for (Chip_Object* obj : {base, make("Teabox")}) {
    SCOPED_TRACE(obj->type_ref->name);
    EXPECT_EQ(call(obj, "freq", {300.0}), 0.0);
    EXPECT_EQ(call(obj, "Q", {2.0}), 0.0);
    EXPECT_EQ(call(obj, "set", {300.0, 2.0}), 0.0);
    EXPECT_EQ(call(obj, "freq"), 0.0);
    EXPECT_EQ(call(obj, "Q"), 0.0);
  }
}

// Gains measured through each filter against closed forms of its design:
//   BPF:    |H|^2 = s^2 / (s^2 + C^2 (cos w - cos w0)^2), s = sin w,
//           C = 1 / tan(pi f0 / (Q fs)) (unit gain at f0, zero at DC and
//           Nyquist);
//   BRF:    |H|^2 = C'^2 (cos w - cos w0)^2 / (s^2 + C'^2 (cos w - cos w0)^2)
//           with C' = 1 / tan(pi f0 / (Q fs)) (zero at f0, unit at the ends);
//   LPF:    unit gain at DC, nothing at Nyquist; HPF the other way round;
//   ResonZ: unit gain at f0, nothing at DC and Nyquist.
TEST_P(FilterModuleTest, MeasuredGainsFollowTheTransferFunctions) {
  const double fs = srate;
  auto bandpass = [&](double f0, double q, double f) {
    const double C = 1.0 / std::tan(kPi * f0 / (q * fs));
    const double w = 2.0 * kPi * f / fs, w0 = 2.0 * kPi * f0 / fs;
    const double s = std::sin(w), c = C * (std::cos(w) - std::cos(w0));
    return std::sqrt(s * s / (s * s + c * c));
  };
  auto notch = [&](double f0, double q, double f) {
    const double C = 1.0 / std::tan(kPi * f0 / (q * fs));
    const double w = 2.0 * kPi * f / fs, w0 = 2.0 * kPi * f0 / fs;
    const double s = std::sin(w), c = C * (std::cos(w) - std::cos(w0));
    return std::sqrt(c * c / (s * s + c * c));
  };
  const double nyq = fs / 2;
  const struct {
    const char* name;
    double f0, q, f;
    int which;  // 0: bandpass form, 1: notch form, 2: the constant below,
                // 3: resonz_gain
    double expected;
  } cases[] = {
      {"BPF", 1000, 2, 1000, 0, 0},     {"BPF", 1000, 2, 700, 0, 0},
      {"BPF", 1000, 2, 1500, 0, 0},     {"BPF", 3000, 10, 3000, 0, 0},
      {"BPF", 3000, 10, 2850, 0, 0},    {"BPF", 500, 0.7, 2000, 0, 0},
      {"BRF", 1000, 2, 1000, 1, 0},     {"BRF", 1000, 2, 800, 1, 0},
      {"BRF", 1000, 2, 3000, 1, 0},     {"BRF", 2000, 1, 0, 2, 1.0},
      {"BRF", 2000, 1, nyq, 2, 1.0},    {"LPF", 1000, 1, 0, 2, 1.0},
      {"LPF", 1000, 1, nyq, 2, 0.0},    {"LPF", 2500, 4, 0, 2, 1.0},
      {"HPF", 1000, 1, 0, 2, 0.0},      {"HPF", 1000, 1, nyq, 2, 1.0},
      {"HPF", 300, 8, nyq, 2, 1.0},     {"ResonZ", 1000, 5, 1000, 3, 0},
      {"ResonZ", 1000, 5, 700, 3, 0},   {"ResonZ", 2200, 20, 2200, 3, 0},
      {"ResonZ", 2200, 50, 2200, 2, 1.0}, {"ResonZ", 1000, 5, 0, 2, 0.0},
      {"ResonZ", 1000, 5, nyq, 2, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << " f0=" << c.f0 << " Q=" << c.q << " at " << c.f);
    Chip_Object* obj = make(c.name);
    call(obj, "set", {c.f0, c.q});
    const double expected = c.which == 0   ? bandpass(c.f0, c.q, c.f)
                            : c.which == 1 ? notch(c.f0, c.q, c.f)
                            : c.which == 3 ? resonz_gain(fs, c.f0, c.q, c.f)
                                           : c.expected;
    EXPECT_NEAR(gain(obj, c.f), expected, 0.01);
  }
}

// LPF and HPF resonate: |H| at a frequency inside the band from the
// coefficients' rational function, evaluated on the unit circle, computed
// from the design's tangent form here.
TEST_P(FilterModuleTest, ResonantLowAndHighPassFollowTheirRationalFunction) {
  const double fs = srate;
  for (const char* name : {"LPF", "HPF"}) {
    for (double f0 : {500.0, 2000.0}) {
      for (double q : {0.7, 4.0}) {
        for (double f : {0.5 * f0, f0, 1.5 * f0}) {
          SCOPED_TRACE(testing::Message() << name << " " << f0 << " " << q << " at " << f);
          const bool low = std::string(name) == "LPF";
          const double pf = 2.0 * kPi * f0 / fs;
          const double D = std::tan(pf / q * 0.5);
          const double C = (1.0 - D) / (1.0 + D);
          const double B = (1.0 + C) * std::cos(pf);
          const cplx z1 = std::polar(1.0, -2.0 * kPi * f / fs);  // z^-1
          const cplx zeros = low ? (1.0 + z1) * (1.0 + z1) : (1.0 - z1) * (1.0 - z1);
          const double a0 = (1.0 + C + (low ? -B : B)) * 0.25;
          const double expected = std::abs(a0 * zeros / (1.0 - B * z1 + C * z1 * z1));
          Chip_Object* obj = make(name);
          // freq then Q gives what set gives.
          call(obj, "freq", {f0});
          EXPECT_EQ(call(obj, "Q", {q}), q);
          Chip_Object* other = make(name);
          call(other, "set", {f0, q});
          const Filter_Resonant* a = resonant_of(obj);
          const Filter_Resonant* b = resonant_of(other);
          ASSERT_TRUE(a && b);
          EXPECT_EQ(a->a0(), b->a0());
          EXPECT_EQ(a->b1(), b->b1());
          EXPECT_EQ(a->b2(), b->b2());
          EXPECT_NEAR(gain(obj, f), expected, 0.01 * std::max(1.0, expected));
        }
      }
    }
  }
}

// BiQuad: coefficients from pole and zero frequency and radius put the
// roots where asked, and the measured gain is the product of distances to
// the zeros over the product of distances to the poles.
TEST_P(FilterModuleTest, BiQuadPlacesPolesAndZeros) {
  const double fs = srate;
  const struct {
    double pfreq, prad, zfreq, zrad;
  } cases[] = {{1000, 0.9, 3000, 0.5}, {440, 0.99, 0, 1.0}, {2500, 0.7, 5000, 0.95}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.pfreq << "/" << c.prad << " " << c.zfreq << "/" << c.zrad);
    Chip_Object* b = make("BiQuad");
    EXPECT_EQ(call(b, "pfreq", {c.pfreq}), c.pfreq);
    EXPECT_EQ(call(b, "prad", {c.prad}), c.prad);
    EXPECT_EQ(call(b, "zfreq", {c.zfreq}), c.zfreq);
    EXPECT_EQ(call(b, "zrad", {c.zrad}), c.zrad);
    const cplx pole = std::polar(c.prad, 2.0 * kPi * c.pfreq / fs);
    const cplx zero = std::polar(c.zrad, 2.0 * kPi * c.zfreq / fs);
    // z^2 + a1 z + a2 vanishes at the pole, z^2 + b1 z + b2 at the zero.
    const double a1 = call(b, "a1"), a2 = call(b, "a2");
    const double b1 = call(b, "b1"), b2 = call(b, "b2");
    EXPECT_NEAR(std::abs(pole * pole + a1 * pole + a2), 0.0, 1e-12);
    EXPECT_NEAR(std::abs(zero * zero + b1 * zero + b2), 0.0, 1e-12);
    EXPECT_EQ(call(b, "b0"), 1.0);
    for (double f : {0.0, 300.0, c.pfreq, 0.3 * fs}) {
      const cplx z = std::polar(1.0, 2.0 * kPi * f / fs);
      const double expected = std::abs((z - zero) * (z - std::conj(zero))) /
                              std::abs((z - pole) * (z - std::conj(pole)));
      EXPECT_NEAR(gain(b, f, 3000), expected, 0.01 * std::max(1.0, expected)) << f;
    }
  }

  // norm: zeros at DC and Nyquist with b0 = (1 - prad^2) / 2, replacing the
  // zeros set before; zfreq afterwards replaces b1 and b2 again.
  Chip_Object* b = make("BiQuad");
  call(b, "zfreq", {1000.0});
  call(b, "zrad", {0.5});
  call(b, "prad", {0.8});
  EXPECT_EQ(call_int(b, "norm", 1), 1);
  EXPECT_DOUBLE_EQ(call(b, "b0"), 0.5 - 0.5 * 0.64);
  EXPECT_EQ(call(b, "b1"), -1.0);
  EXPECT_DOUBLE_EQ(call(b, "b2"), -(0.5 - 0.5 * 0.64));
  call(b, "zfreq", {fs / 4});
  EXPECT_NEAR(call(b, "b1"), 0.0, 1e-12);
  EXPECT_DOUBLE_EQ(call(b, "b2"), 0.25);

  // eqzs, pregain and the direct coefficients.
  Chip_Object* e = make("BiQuad");
  EXPECT_EQ(call_int(e, "eqzs", 0), 0);
  EXPECT_EQ(call(e, "b2"), 0.0);
  EXPECT_EQ(call_int(e, "eqzs", 7), 7);
  EXPECT_EQ(call(e, "b0"), 1.0);
  EXPECT_EQ(call(e, "b1"), 0.0);
  EXPECT_EQ(call(e, "b2"), -1.0);
  EXPECT_EQ(call(e, "a0", {0.5}), 0.5);
  EXPECT_EQ(call(e, "pregain"), 0.5);
  EXPECT_EQ(call(e, "pregain", {2.0}), 2.0);
  EXPECT_EQ(call(e, "a0"), 2.0);
  // y[n] = 2 (x[n] - x[n-2]) - 0.5 y[n-1] for an impulse: 2, -1, -1.5, 0.75.
  call(e, "a1", {0.5});
  const float expected[] = {2.0f, -1.0f, -1.5f, 0.75f};
  for (int n = 0; n < 4; n++) EXPECT_FLOAT_EQ(tick(e, n == 0 ? 1.0f : 0.0f), expected[n]) << n;
}

// The first samples of BPF's impulse response from its recursion: the
// output is a0 (y0[n] - y0[n-2]) with y0 = 1, b1, b1^2 + b2, ... (the other
// classes' first samples are checked by tests/chip/filter scripts).
TEST_P(FilterModuleTest, ImpulseResponsesStartAsTheRecursionsSay) {
  const double fs = srate;
  const double f0 = fs / 4, q = 2.0;  // cos(pf) = 0: b1 = 0
  // BPF at fs/4, Q 2: pbw = (pi/2) / 4 = pi/8, C = 1/tan(pi/8),
  // a0 = 1/(1+C), b2 = (1-C) a0.
  const double C = 1.0 / std::tan(kPi / 8.0);
  const double a0 = 1.0 / (1.0 + C), b2 = (1.0 - C) * a0;
  // y0 = 1, 0, b2, 0, b2^2; out = a0 (y0[n] - y0[n-2]).
  const double bpf[] = {a0, 0.0, a0 * (b2 - 1.0), 0.0, a0 * (b2 * b2 - b2)};
  Chip_Object* f = make("BPF");
  call(f, "set", {f0, q});
  for (int n = 0; n < 5; n++) EXPECT_NEAR(tick(f, n == 0 ? 1.0f : 0.0f), bpf[n], 1e-6) << n;
}

// Teabox: frames of a marker and up to ten samples.
TEST_P(FilterModuleTest, TeaboxReadsFrames) {
  Chip_Object* t = make("Teabox");
  auto feed = [&](float x) {
    const SAMPLE out = tick(t, x);
    if (!std::isnan(x)) {
      EXPECT_EQ(out, x);  // a tap: the input goes on
    }
  };
  auto analog = [&](t_CPWORD which) { return call_member(t, "analog", &which, 1).v_float; };
  auto digital = [&](t_CPWORD which) { return call_member(t, "digital", &which, 1).v_float; };
  const double eight_tenths = 8.0 * static_cast<double>(0.1f);
  feed(-1.0f);
  for (int n = 0; n < 8; n++) feed(0.1f * static_cast<float>(n + 1));
  feed(0.1f);  // the ninth sample of the frame: analog[7]
  const Filter_Teabox* d = native<Filter_Teabox>(t, FilterBasic_offset_data);
  ASSERT_NE(d, nullptr);
  EXPECT_DOUBLE_EQ(d->lead(), 8.0 * static_cast<double>(0.1f));
  for (int c = 0; c < 7; c++) {
    EXPECT_DOUBLE_EQ(analog(c), 8.0 * static_cast<double>(0.1f * (c + 2)));
  }
  EXPECT_DOUBLE_EQ(analog(7), eight_tenths);
  EXPECT_EQ(analog(9), analog(7));
  EXPECT_EQ(analog(-3), analog(0));
  // The tenth sample is the digital word: 0.25 gives bits 8 x 0.25 x 4096.
  feed(0.25f);
  EXPECT_EQ(d->bits(), 8192);
  EXPECT_EQ(digital(13), 1.0);
  EXPECT_EQ(digital(3), 0.0);
  // The eleventh restarts the count unstored; the next one is the lead.
  feed(0.5f);
  EXPECT_EQ(d->counter(), 0);
  feed(0.125f);
  EXPECT_DOUBLE_EQ(d->lead(), 1.0);
  // A negative marker after a negative sample becomes the word: -0.5 is
  // n = -16384, the 16-bit pattern 0xC000.
  feed(-0.5f);
  feed(-1.0f);
  EXPECT_EQ(d->bits(), 0xC000);
  EXPECT_EQ(digital(15), 1.0);
  EXPECT_EQ(digital(14), 1.0);
  EXPECT_EQ(digital(13), 0.0);
  EXPECT_EQ(digital(99), digital(15));
  EXPECT_EQ(digital(-4), digital(0));
  // Hostile samples never break the word (the conversions to an integer
  // stay defined: the sanitizer build checks them).
  for (float x : {-1e30f, 1e30f, -INFINITY, INFINITY, NAN, -3e9f}) feed(x);
  EXPECT_GE(d->bits(), 0);
}

// The flush keeps a history value only inside (1e-15, 1e15).
TEST_P(FilterModuleTest, FlushKeepsOnlyTheUsefulRange) {
  const struct {
    double v, kept;
  } cases[] = {{1e-16, 0.0},   {1e16, 0.0},   {static_cast<double>(1e-15f), 0.0},
               {2e-15, 2e-15}, {-0.5, -0.5},  {-1e14, -1e14},
               {kNaN, 0.0},    {-kInf, 0.0},  {static_cast<double>(1e15f), 0.0}};
  for (const auto& c : cases) EXPECT_EQ(filter_flush(c.v), c.kept) << c.v;
}

// Clamps: what each setter stores for a hostile value.
TEST_P(FilterModuleTest, SettersClampAsDocumented) {
  const double nyq = srate / 2.0;
  Chip_Object* lpf = make("LPF");
  const struct {
    double in, freq;
  } freqs[] = {{-1e30, 0.0}, {-1, 0.0}, {0.5, 0.5}, {1e30, nyq}, {kInf, nyq}, {-kInf, 0.0}};
  for (const auto& c : freqs) EXPECT_EQ(call(lpf, "freq", {c.in}), c.freq) << c.in;
  EXPECT_EQ(call(lpf, "freq", {1234.0}), 1234.0);
  EXPECT_EQ(call(lpf, "freq", {kNaN}), 1234.0);  // NaN ignored
  const struct {
    double in, lh, other;  // stored by LPF/HPF, by BPF/BRF/ResonZ
  } qs[] = {{5000, 1000, 5000},        {0, FILTER_MIN_Q, FILTER_MIN_Q},
            {-1, FILTER_MIN_Q, FILTER_MIN_Q}, {kInf, 1000, FILTER_MAX_Q},
            {1e-9, FILTER_MIN_Q, FILTER_MIN_Q}, {2, 2, 2}};
  Chip_Object* bpf = make("BPF");
  for (const auto& c : qs) {
    EXPECT_DOUBLE_EQ(call(lpf, "Q", {c.in}), c.lh) << c.in;
    EXPECT_DOUBLE_EQ(call(lpf, "Q"), c.lh) << c.in;
    EXPECT_DOUBLE_EQ(call(bpf, "Q", {c.in}), c.other) << c.in;
  }
  EXPECT_EQ(call(bpf, "Q", {kNaN}), 2.0);

  Chip_Object* b = make("BiQuad");
  EXPECT_EQ(call(b, "prad", {2.0}), FILTER_MAX_POLE_RADIUS);
  EXPECT_EQ(call(b, "prad", {-kInf}), -FILTER_MAX_POLE_RADIUS);
  EXPECT_EQ(call(b, "zrad", {1e30}), FILTER_MAX_ZERO_RADIUS);
  EXPECT_EQ(call(b, "pfreq", {1e30}), nyq);
  EXPECT_EQ(call(b, "zfreq", {-5.0}), 0.0);
  EXPECT_EQ(call(b, "b1", {-kInf}), -FILTER_MAX_COEFFICIENT);
  EXPECT_EQ(call(b, "b1", {kNaN}), -FILTER_MAX_COEFFICIENT);
  EXPECT_TRUE(std::isfinite(call(b, "a1")));
  EXPECT_TRUE(std::isfinite(call(b, "b2")));
}

// A new BPF or BRF has Q 0: setting only its frequency used to give
// non-finite coefficients and NaN on every sample. Q <= 0 now acts as the
// smallest Q: a very wide band that passes (BPF) or barely notches (BRF).
TEST_P(FilterModuleTest, FrequencyWithoutQGivesAFiniteWideFilter) {
  for (const char* name : {"BPF", "BRF"}) {
    SCOPED_TRACE(name);
    Chip_Object* f = make(name);
    call(f, "freq", {1000.0});
    EXPECT_EQ(call(f, "Q"), FILTER_MIN_Q);
    for (int n = 0; n < 200; n++) ASSERT_TRUE(std::isfinite(tick(f, probe(n)))) << n;
    EXPECT_NEAR(gain(f, 1000.0, 2000), std::string(name) == "BPF" ? 1.0 : 0.0, 0.01);
  }
}

// Every setter of every class, fed hostile values on top of a working
// filter: the output stays finite and bounded, and a sane setting brings
// back the sane response.
TEST_P(FilterModuleTest, HostileParametersNeverPoisonTheOutput) {
  const double hostile[] = {-1e30, -1, 0, 0.5, 1, 2, 1e30, kNaN, kInf, -kInf};
  auto run_bounded = [&](Chip_Object* obj, double bound) {
    double peak = 0.0;
    for (int n = 0; n < 1000; n++) {
      const SAMPLE out = tick(obj, probe(n));
      if (!std::isfinite(out)) return kInf;
      peak = std::max(peak, std::fabs(static_cast<double>(out)));
    }
    EXPECT_LT(peak, bound);
    return peak;
  };

  for (const Resonant& r : kResonant) {
    for (const char* setter : {"freq", "Q"}) {
      for (double v : hostile) {
        SCOPED_TRACE(testing::Message() << r.name << "." << setter << " " << v);
        Chip_Object* f = make(r.name);
        call(f, "set", {1000.0, 2.0});
        call(f, setter, {v});
        EXPECT_LT(run_bounded(f, 1e4), kInf);
        call(f, "set", {1000.0, 2.0});
        gain(f, 1000.0, 3000);  // settles
        Chip_Object* fresh = make(r.name);
        call(fresh, "set", {1000.0, 2.0});
        EXPECT_NEAR(gain(f, 1500.0), gain(fresh, 1500.0), 1e-3);
      }
    }
    for (double fv : hostile) {
      for (double qv : hostile) {
        SCOPED_TRACE(testing::Message() << r.name << " set(" << fv << ", " << qv << ")");
        Chip_Object* f = make(r.name);
        call(f, "set", {fv, qv});
        EXPECT_LT(run_bounded(f, 1e4), kInf);
      }
    }
  }

  for (const char* setter : {"pfreq", "prad", "zfreq", "zrad", "pregain", "a0", "a1", "a2", "b0",
                             "b1", "b2"}) {
    for (double v : hostile) {
      SCOPED_TRACE(testing::Message() << "BiQuad." << setter << " " << v);
      Chip_Object* b = make("BiQuad");
      call(b, "pfreq", {1000.0});
      call(b, "prad", {0.9});
      call(b, setter, {v});
      // Direct coefficients may make any filter, stable or not: only
      // finiteness is promised there.
      EXPECT_LT(run_bounded(b, 1e30), kInf);
      // Back to a sane filter: the response of a fresh one, once the
      // history has drained.
      call(b, "a0", {1.0});
      call(b, "b0", {1.0});
      call(b, "zrad", {0.0});
      call(b, "zfreq", {0.0});
      call(b, "pfreq", {1000.0});
      call(b, "prad", {0.9});
      Chip_Object* fresh = make("BiQuad");
      call(fresh, "pfreq", {1000.0});
      call(fresh, "prad", {0.9});
      EXPECT_NEAR(gain(b, 1500.0, 1000), gain(fresh, 1500.0, 1000), 1e-3);
    }
  }
  for (t_CPWORD v : {t_CPWORD{-1}, t_CPWORD{0}, t_CPWORD{1}, t_CPWORD{1} << 40}) {
    Chip_Object* b = make("BiQuad");
    call(b, "prad", {0.95});
    call_int(b, "norm", v);
    call_int(b, "eqzs", v);
    EXPECT_LT(run_bounded(b, 1e4), kInf) << v;
  }
}

// A history pushed to the flush bound (by an unstable moment, or a huge
// input) restarts from silence: dropping only the newest value would let a
// resonant filter keep kicking itself back over the bound.
TEST_P(FilterModuleTest, RunawayHistoryRestartsFromSilence) {
  const double states[][2] = {{9.9e14, 0.0}, {9.9e14, -9.9e14}, {-5e14, 9.9e14}, {1e15, 1e15}};
  for (const Resonant& r : kResonant) {
    for (const auto& st : states) {
      SCOPED_TRACE(testing::Message() << r.name << " " << st[0] << " " << st[1]);
      Chip_Object* f = make(r.name);
      call(f, "set", {1000.0, 4.0});
      Filter_Resonant* d = resonant_of(f);
      ASSERT_NE(d, nullptr);
      d->setHistory(st[0], st[1]);
      SAMPLE out = 0.0f;
      for (int n = 0; n < 3000; n++) out = tick(f, 0.0f);
      EXPECT_LT(std::fabs(out), 1e-6);
    }
  }
  const double biquad_states[][2] = {{9.9e14, 0.0}, {9.9e14, -9.9e14}};
  for (const auto& st : biquad_states) {
    Chip_Object* b = make("BiQuad");
    call(b, "pfreq", {1000.0});
    call(b, "prad", {0.9});
    Filter_BiQuad* d = native<Filter_BiQuad>(b, biquad_offset_data);
    ASSERT_NE(d, nullptr);
    d->setHistory(st[0], st[1]);
    SAMPLE out = 0.0f;
    for (int n = 0; n < 3000; n++) out = tick(b, 0.0f);
    EXPECT_LT(std::fabs(out), 1e-6) << st[0] << " " << st[1];
  }
}

// A sweep over frequency and Q: every resonant filter stays finite and
// bounded for a bounded input, with its poles inside the unit circle.
TEST_P(FilterModuleTest, NoFrequencyOrQMakesAnUnstableFilter) {
  const double nyq = srate / 2.0;
  const double freqs[] = {0, 1e-3, 0.5, 5, 50, 1000, nyq * 0.9, nyq - 1, nyq};
  const double qs[] = {1e-6, 0.01, 0.3, 0.7, 1, 10, 300, 1e5};
  for (const Resonant& r : kResonant) {
    for (double f : freqs) {
      for (double q : qs) {
        SCOPED_TRACE(testing::Message() << r.name << " " << f << " " << q);
        Chip_Object* obj = make(r.name);
        call(obj, "set", {f, q});
        double peak = 0.0;
        for (int n = 0; n < 4000; n++) {
          peak = std::max(peak, std::fabs(static_cast<double>(tick(obj, probe(n)))));
        }
        EXPECT_LT(peak, 5000.0);  // LPF/HPF peak at most about Q = 1000
        // The poles lie strictly inside the unit circle (the stability
        // triangle of z^2 - b1 z - b2; BRF's recursion has the signs
        // flipped).
        const Filter_Resonant* d = resonant_of(obj);
        ASSERT_NE(d, nullptr);
        const double sign = r.kind == Filter_Resonant::BRF ? -1.0 : 1.0;
        const double b1 = sign * d->b1(), b2 = sign * d->b2();
        EXPECT_LT(std::fabs(b2), 1.0);
        EXPECT_LT(std::fabs(b1), 1.0 - b2);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// The plain classes, without a machine.

// Starting states, and init restarting a filter that has run.
TEST(FilterClassTest, ResonantFiltersStartAsDescribed) {
  const struct {
    Filter_Resonant::Kind kind;
    double freq, q;
    bool silent;  // zero coefficients until a parameter is set
  } cases[] = {{Filter_Resonant::BPF, 0.0, 0.0, true},
               {Filter_Resonant::BRF, 0.0, 0.0, true},
               {Filter_Resonant::LPF, 0.0, 1.0, true},
               {Filter_Resonant::HPF, 0.0, 1.0, true},
               {Filter_Resonant::RESONZ, 220.0, 1.0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    Filter_Resonant f(c.kind);
    f.init(16000);
    f.set(1000.0, 3.0);
    for (int n = 0; n < 10; n++) f.tick(n == 0 ? 1.0f : 0.0f);
    ASSERT_NE(f.y1(), 0.0);
    f.init(16000);  // a restart: parameters, coefficients and history anew
    EXPECT_EQ(f.kind(), c.kind);
    EXPECT_EQ(f.freq(), c.freq);
    EXPECT_EQ(f.Q(), c.q);
    EXPECT_EQ(f.y1(), 0.0);
    EXPECT_EQ(f.y2(), 0.0);
    EXPECT_EQ(f.a0() == 0.0 && f.b1() == 0.0 && f.b2() == 0.0, c.silent);
    // The rate bounds the frequency (a rate of 0 is the default 44100).
    EXPECT_EQ(f.setFreq(1e9), 8000.0);
    f.init(0);
    EXPECT_EQ(f.setFreq(1e9), 22050.0);
    // NaN keeps the old values; set recomputes like the two setters.
    f.set(kNaN, 2.0);
    EXPECT_EQ(f.freq(), 22050.0);
    EXPECT_EQ(f.Q(), 2.0);
    EXPECT_EQ(f.setQ(kNaN), 2.0);
    Filter_Resonant g(c.kind);
    g.init(0);
    g.setFreq(22050.0);
    g.setQ(2.0);
    EXPECT_EQ(f.a0(), g.a0());
    EXPECT_EQ(f.b1(), g.b1());
    EXPECT_EQ(f.b2(), g.b2());
  }
}

// The first samples of each kind's impulse response at a quarter of the
// rate, where cos(pf) = 0 (the impulse_response script's cases):
//   LPF, HPF (Q 1): a0 = 1/4, b1 = b2 = 0: 1/4, +-1/2, 1/4, 0;
//   BPF, BRF (Q 1): C = 1, a0 = 1/2: 1/2 (x[n] -+ x[n-2]);
//   ResonZ (Q pi/2): R = 1/2, a0 = 3/8, b2 = -1/4: 3/8 (y0[n] - y0[n-2])
//   with y0 = 1, 0, -1/4, 0.
TEST(FilterClassTest, ImpulseResponsesAtAQuarterOfTheRate) {
  const struct {
    Filter_Resonant::Kind kind;
    double q;
    double out[4];
  } cases[] = {{Filter_Resonant::LPF, 1.0, {0.25, 0.5, 0.25, 0.0}},
               {Filter_Resonant::HPF, 1.0, {0.25, -0.5, 0.25, 0.0}},
               {Filter_Resonant::BPF, 1.0, {0.5, 0.0, -0.5, 0.0}},
               {Filter_Resonant::BRF, 1.0, {0.5, 0.0, 0.5, 0.0}},
               {Filter_Resonant::RESONZ, kPi / 2.0, {0.375, 0.0, -0.46875, 0.0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    Filter_Resonant f(c.kind);
    f.init(32000);
    f.set(8000.0, c.q);
    for (int n = 0; n < 4; n++) EXPECT_NEAR(f.tick(n == 0 ? 1.0f : 0.0f), c.out[n], 1e-6) << n;
  }
}

TEST(FilterClassTest, BiQuadSettersComputeTheCoefficients) {
  Filter_BiQuad b;
  b.init(40000);
  for (float x : {0.25f, -1.0f}) EXPECT_EQ(b.tick(x), x);
  // A pole pair at 10 kHz (a quarter of the rate), radius 0.5: z^2 + 0.25.
  EXPECT_EQ(b.setPoleFreq(10000.0), 10000.0);
  EXPECT_EQ(b.setPoleRadius(0.5), 0.5);
  EXPECT_NEAR(b.coefficient(Filter_BiQuad::A1), 0.0, 1e-15);
  EXPECT_EQ(b.coefficient(Filter_BiQuad::A2), 0.25);
  // Zeros at DC (radius 1): z^2 - 2z + 1.
  EXPECT_EQ(b.setZeroFreq(0.0), 0.0);
  EXPECT_EQ(b.setZeroRadius(1.0), 1.0);
  EXPECT_EQ(b.coefficient(Filter_BiQuad::B1), -2.0);
  EXPECT_EQ(b.coefficient(Filter_BiQuad::B2), 1.0);
  // norm replaces them: b0 = (1 - 0.25) / 2, b1 = -1, b2 = -b0; later pole
  // settings keep it up to date.
  EXPECT_EQ(b.setNorm(3), 3);
  EXPECT_EQ(b.coefficient(Filter_BiQuad::B0), 0.375);
  EXPECT_EQ(b.coefficient(Filter_BiQuad::B1), -1.0);
  EXPECT_EQ(b.coefficient(Filter_BiQuad::B2), -0.375);
  b.setPoleRadius(0.0);
  EXPECT_EQ(b.coefficient(Filter_BiQuad::B0), 0.5);
  EXPECT_EQ(b.setNorm(0), 0);
  EXPECT_EQ(b.setEqualGainZeros(0), 0);
  EXPECT_EQ(b.coefficient(Filter_BiQuad::B2), -0.5);
  EXPECT_EQ(b.setEqualGainZeros(-2), -2);
  EXPECT_EQ(b.coefficient(Filter_BiQuad::B0), 1.0);
  EXPECT_EQ(b.coefficient(Filter_BiQuad::B2), -1.0);
  // Each direct coefficient is its own (clamped, NaN kept).
  const Filter_BiQuad::Coefficient all[] = {Filter_BiQuad::A0, Filter_BiQuad::A1,
                                            Filter_BiQuad::A2, Filter_BiQuad::B0,
                                            Filter_BiQuad::B1, Filter_BiQuad::B2};
  for (int i = 0; i < 6; i++) EXPECT_EQ(b.setCoefficient(all[i], 0.125 * (i + 1)), 0.125 * (i + 1));
  for (int i = 0; i < 6; i++) {
    EXPECT_EQ(b.coefficient(all[i]), 0.125 * (i + 1)) << i;
    EXPECT_EQ(b.setCoefficient(all[i], kNaN), 0.125 * (i + 1)) << i;
    EXPECT_EQ(b.setCoefficient(all[i], -kInf), -FILTER_MAX_COEFFICIENT) << i;
  }
  // init restores the pass-through filter and clears the history.
  b.setHistory(0.5, 0.25);
  b.init(40000);
  EXPECT_EQ(b.output1(), 0.0);
  EXPECT_EQ(b.output2(), 0.0);
  EXPECT_EQ(b.poleRadius(), 0.0);
  EXPECT_EQ(b.norm(), 0);
  EXPECT_EQ(b.tick(0.5f), 0.5f);
  EXPECT_EQ(b.tick(0.0f), 0.0f);
}

TEST(FilterClassTest, TeaboxAndTheAbstractBase) {
  Filter_Teabox t;
  // A marker, the lead, eight channels, the word (0.5: 8 x 0.5 x 4096).
  const float frame[] = {-1.0f, 0.125f, 0.0f, 0.25f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.5f, 0.5f};
  for (float x : frame) EXPECT_EQ(t.tick(x), x);
  EXPECT_EQ(t.lead(), 1.0);
  EXPECT_EQ(t.analog(1), 2.0);
  EXPECT_EQ(t.analog(7), 4.0);
  EXPECT_EQ(t.bits(), 16384);
  EXPECT_EQ(t.digital(14), 1.0);
  EXPECT_EQ(t.digital(13), 0.0);
  EXPECT_EQ(t.counter(), 10);

  Filter_Basic base;
  SAMPLE out = 1.0f;
  std::vector<std::string> lines = printed_lines([&] { out = base.tick(); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "FilterBasic.tick() --> FitlerBasic is virtual!");
  EXPECT_EQ(out, 0.0f);
}

// ---------------------------------------------------------------------------
// From compiled programs.

class FilterProgramTest : public EmitProgramTest {
 protected:
  FilterProgramTest() : EmitProgramTest("filter.chip") {}

  void SetUp() override {
    EmitProgramTest::SetUp();
    ASSERT_TRUE(load_test_module(env, filter_query, vmtest::SRATE));
  }
};

TEST_F(FilterProgramTest, ScriptsSetAndReadTheParameters) {
  Lines out = run(
      "LPF l; <<< l.freq(1000.0), l.Q(5000.0), l.Q() >>>;\n"
      "BPF b; b.set(440.0, 0.0); <<< b.freq(), b.Q() >>>;\n"
      "HPF h; <<< h.freq(99999.0) >>>;\n"
      "BiQuad q; <<< q.prad(0.5), q.norm(1), q.b0(), q.b1() >>>;\n"
      "q.pregain(0.25); <<< q.a0(), q.eqzs(1), q.b2() >>>;\n"
      "Teabox t; <<< t.analog(3), t.digital(20) >>>;\n"
      "biquad old; <<< old.b0() >>>;\n"
      "null @=> l; null @=> b; null @=> h; null @=> q; null @=> t; null @=> old;\n");
  const Lines expected = {
      "1000.000000 1000.000000 1000.000000 ",
      "440.000000 0.001000 ",
      "8000.000000 :(float)",
      "0.500000 1 0.375000 -1.000000 ",
      "0.250000 1 -1.000000 ",
      "0.000000 0.000000 ",
      "1.000000 :(float)",
  };
  // Compile-time lines (the deprecation note) come first.
  ASSERT_GE(out.size(), expected.size());
  EXPECT_EQ(Lines(out.end() - expected.size(), out.end()), expected);
}

// The abstract base in the graph: a line on every sample it is pulled,
// silence out, members that answer 0 (on a Teabox too, which inherits
// them).
TEST_F(FilterProgramTest, TheAbstractBaseComplainsAndStaysSilent) {
  Lines out = run(
      "Impulse i => FilterBasic f => blackhole; Teabox t;\n"
      "i.next(1.0); 3::samp => now;\n"
      "<<< f.last(), f.freq(2.0), f.Q(), t.Q(3.0), t.freq() >>>;\n"
      "null @=> i; null @=> f; null @=> t;\n");
  const std::string complaint = "FilterBasic.tick() --> FitlerBasic is virtual!";
  const Lines expected = {complaint, complaint, complaint,
                          "0.000000 0.000000 0.000000 0.000000 0.000000 "};
  EXPECT_EQ(out, expected);
}

TEST_F(FilterProgramTest, UnknownOldNameAndWrongArgumentsAreRejected) {
  Lines errors;
  EXPECT_EQ(compile("filter f;", &errors), nullptr);
  EXPECT_EQ(compile("LPF l; l.set(1.0);", &errors), nullptr);
  EXPECT_EQ(compile("Teabox t; t.analog();", &errors), nullptr);
  EXPECT_NE(compile("BiQuad b => LPF l => ResonZ z => BRF r => blackhole;", &errors), nullptr);
}

// adc => LPF => dac on a machine playing its own audio callback: a sine on
// the left input comes out scaled by the filter's gain, both above and
// below the cutoff.
TEST_F(FilterProgramTest, AudioFlowsThroughAFilterInTheGraph) {
  const t_CPUINT frames = 64;
  Chip_VM* machine = make_rt_vm(frames);
  ASSERT_NE(machine, nullptr);
  vm = machine;

  Chip_VM_Code* code = compile(
      "adc.left => HPF f => dac.left; f.set(2000.0, 1.0);\n"
      "while (true) 1::second => now;\n");
  ASSERT_NE(code, nullptr);
  machine->spork(code, nullptr);

  const double fs = vmtest::SRATE;
  // HPF at 2 kHz, Q 1: unit gain at Nyquist (closed form) and, at the
  // measured frequencies, the rational function of its design.
  const double pf = 2.0 * kPi * 2000.0 / fs;
  const double D = std::tan(pf * 0.5), C = (1.0 - D) / (1.0 + D), B = (1.0 + C) * std::cos(pf);
  for (double f : {250.0, 6000.0}) {
    SCOPED_TRACE(f);
    const cplx z1 = std::polar(1.0, -2.0 * kPi * f / fs);
    const double expected =
        std::abs((1.0 + C + B) * 0.25 * (1.0 - z1) * (1.0 - z1) / (1.0 - B * z1 + C * z1 * z1));
    const double w = 2.0 * kPi * f / fs;
    ToneProjection tone(w);
    for (int block = 0; block < 100; block++) {
      std::vector<float> buffer(frames * 2);
      const int base = block * static_cast<int>(frames);
      for (t_CPUINT i = 0; i < frames; i++) {
        buffer[2 * i] = static_cast<float>(std::sin(w * (base + static_cast<int>(i))));
        buffer[2 * i + 1] = 0.0f;
      }
      Digitalio::cb2(buffer.data(), frames, machine);
      if (block < 40) continue;  // transient, and the script's start
      for (t_CPUINT i = 0; i < frames; i++) {
        // The output lags the input by one buffer at most: project on the
        // input phase of the same frame.
        tone.add(static_cast<double>(buffer[2 * i]), base + static_cast<int>(i));
      }
    }
    EXPECT_NEAR(tone.amplitude(), expected, 0.02);
  }
}

}  // namespace
