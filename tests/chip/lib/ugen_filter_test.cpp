// The filter module: registration, the measured response of every filter
// against its transfer function, BiQuad's poles and zeros, Teabox's frames,
// hostile parameters, and the classes used from compiled programs.
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

// Calls a float setter or getter (no argument: getter).
double call(f_mfun fn, Chip_Object* obj, std::vector<double> args = {}) {
  return call_member(fn, obj, args.empty() ? nullptr : args.data()).v_float;
}

t_CPWORD call_int(f_mfun fn, Chip_Object* obj, t_CPWORD arg) {
  return call_member(fn, obj, &arg).v_int;
}

// The resonant classes with their bindings.
struct Resonant {
  const char* name;
  f_tick tick;
  f_mfun ctrl_freq, cget_freq, ctrl_Q, cget_Q, ctrl_set;
};
#define RESONANT(C) \
  { #C, C##_tick, C##_ctrl_freq, C##_cget_freq, C##_ctrl_Q, C##_cget_Q, C##_ctrl_set }
const Resonant kResonant[] = {RESONANT(BPF), RESONANT(BRF), RESONANT(LPF), RESONANT(HPF),
                              RESONANT(ResonZ)};
#undef RESONANT

const Resonant& resonant(const std::string& name) {
  for (const Resonant& r : kResonant)
    if (name == r.name) return r;
  ADD_FAILURE() << name;
  return kResonant[0];
}

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
  double gain(f_tick tick, Chip_Object* obj, double f, int settle = 6000) {
    const double w = 2.0 * kPi * f / srate;
    SAMPLE out = 0.0f;
    int n = 0;
    for (; n < settle; n++) tick(obj, static_cast<SAMPLE>(std::cos(w * n)), &out, nullptr);
    // About 40 periods, at least 2000 samples.
    int len = 2000;
    if (f > 0.0 && f < 0.5 * srate) {
      const double period = srate / f;
      len = static_cast<int>(std::lround(std::ceil(2000.0 / period) * period));
    }
    ToneProjection tone(w);
    for (int k = 0; k < len; k++, n++) {
      tick(obj, static_cast<SAMPLE>(std::cos(w * n)), &out, nullptr);
      tone.add(static_cast<double>(out), n);
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
  EXPECT_EQ(find_type(env, "LPF")->ugen_info->tick, reinterpret_cast<f_tick>(LPF_tick));
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
    const Resonant& r = resonant(name);
    Chip_Object* f = make(name);
    SAMPLE out = 1.0f;
    for (int n = 0; n < 8; n++) {
      r.tick(f, 0.5f, &out, nullptr);
      EXPECT_EQ(out, 0.0f);
    }
    EXPECT_EQ(call(r.cget_freq, f), 0.0);
  }
  EXPECT_EQ(call(LPF_cget_Q, make("LPF")), 1.0);
  EXPECT_EQ(call(BPF_cget_Q, make("BPF")), 0.0);
  // ResonZ: tuned to 220 Hz with Q 1.
  Chip_Object* z = make("ResonZ");
  EXPECT_EQ(call(ResonZ_cget_freq, z), 220.0);
  EXPECT_EQ(call(ResonZ_cget_Q, z), 1.0);
  for (double f : {110.0, 220.0, 440.0})
    EXPECT_NEAR(gain(ResonZ_tick, z, f, 2000), resonz_gain(srate, 220.0, 1.0, f), 0.005) << f;
  // BiQuad passes its input unchanged.
  Chip_Object* b = make("BiQuad");
  for (float x : {0.25f, -1.0f, 0.5f}) {
    SAMPLE out = 0.0f;
    BiQuad_tick(b, x, &out, nullptr);
    EXPECT_EQ(out, x);
  }
  // FilterBasic complains on every sample and leaves the output alone.
  Chip_Object* base = make("FilterBasic");
  SAMPLE out = 0.75f;
  std::vector<std::string> lines =
      printed_lines([&] { FilterBasic_tick(base, 1.0f, &out, nullptr); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("FilterBasic.tick() --> FitlerBasic is virtual!"), std::string::npos);
  EXPECT_EQ(out, 0.75f);
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
    const Resonant& r = resonant(c.name);
    Chip_Object* obj = make(c.name);
    call(r.ctrl_set, obj, {c.f0, c.q});
    const double expected = c.which == 0   ? bandpass(c.f0, c.q, c.f)
                            : c.which == 1 ? notch(c.f0, c.q, c.f)
                            : c.which == 3 ? resonz_gain(fs, c.f0, c.q, c.f)
                                           : c.expected;
    EXPECT_NEAR(gain(r.tick, obj, c.f), expected, 0.01);
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
          const Resonant& r = resonant(name);
          Chip_Object* obj = make(name);
          // freq then Q gives what set gives.
          call(r.ctrl_freq, obj, {f0});
          EXPECT_EQ(call(r.ctrl_Q, obj, {q}), q);
          Chip_Object* other = make(name);
          call(r.ctrl_set, other, {f0, q});
          const FilterBasic_Data* a = frame_state<FilterBasic_Data>(obj, FilterBasic_offset_data);
          const FilterBasic_Data* b = frame_state<FilterBasic_Data>(other, FilterBasic_offset_data);
          EXPECT_EQ(a->a0, b->a0);
          EXPECT_EQ(a->b1, b->b1);
          EXPECT_EQ(a->b2, b->b2);
          EXPECT_NEAR(gain(r.tick, obj, f), expected, 0.01 * std::max(1.0, expected));
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
    EXPECT_EQ(call(BiQuad_ctrl_pfreq, b, {c.pfreq}), c.pfreq);
    EXPECT_EQ(call(BiQuad_ctrl_prad, b, {c.prad}), c.prad);
    EXPECT_EQ(call(BiQuad_ctrl_zfreq, b, {c.zfreq}), c.zfreq);
    EXPECT_EQ(call(BiQuad_ctrl_zrad, b, {c.zrad}), c.zrad);
    const cplx pole = std::polar(c.prad, 2.0 * kPi * c.pfreq / fs);
    const cplx zero = std::polar(c.zrad, 2.0 * kPi * c.zfreq / fs);
    // z^2 + a1 z + a2 vanishes at the pole, z^2 + b1 z + b2 at the zero.
    const double a1 = call(BiQuad_cget_a1, b), a2 = call(BiQuad_cget_a2, b);
    const double b1 = call(BiQuad_cget_b1, b), b2 = call(BiQuad_cget_b2, b);
    EXPECT_NEAR(std::abs(pole * pole + a1 * pole + a2), 0.0, 1e-12);
    EXPECT_NEAR(std::abs(zero * zero + b1 * zero + b2), 0.0, 1e-12);
    EXPECT_EQ(call(BiQuad_cget_b0, b), 1.0);
    for (double f : {0.0, 300.0, c.pfreq, 0.3 * fs}) {
      const cplx z = std::polar(1.0, 2.0 * kPi * f / fs);
      const double expected = std::abs((z - zero) * (z - std::conj(zero))) /
                              std::abs((z - pole) * (z - std::conj(pole)));
      EXPECT_NEAR(gain(BiQuad_tick, b, f, 3000), expected, 0.01 * std::max(1.0, expected)) << f;
    }
  }

  // norm: zeros at DC and Nyquist with b0 = (1 - prad^2) / 2, replacing the
  // zeros set before; zfreq afterwards replaces b1 and b2 again.
  Chip_Object* b = make("BiQuad");
  call(BiQuad_ctrl_zfreq, b, {1000.0});
  call(BiQuad_ctrl_zrad, b, {0.5});
  call(BiQuad_ctrl_prad, b, {0.8});
  EXPECT_EQ(call_int(BiQuad_ctrl_norm, b, 1), 1);
  EXPECT_DOUBLE_EQ(call(BiQuad_cget_b0, b), 0.5 - 0.5 * 0.64);
  EXPECT_EQ(call(BiQuad_cget_b1, b), -1.0);
  EXPECT_DOUBLE_EQ(call(BiQuad_cget_b2, b), -(0.5 - 0.5 * 0.64));
  call(BiQuad_ctrl_zfreq, b, {fs / 4});
  EXPECT_NEAR(call(BiQuad_cget_b1, b), 0.0, 1e-12);
  EXPECT_DOUBLE_EQ(call(BiQuad_cget_b2, b), 0.25);

  // eqzs, pregain and the direct coefficients.
  Chip_Object* e = make("BiQuad");
  EXPECT_EQ(call_int(BiQuad_ctrl_eqzs, e, 0), 0);
  EXPECT_EQ(call(BiQuad_cget_b2, e), 0.0);
  EXPECT_EQ(call_int(BiQuad_ctrl_eqzs, e, 7), 7);
  EXPECT_EQ(call(BiQuad_cget_b0, e), 1.0);
  EXPECT_EQ(call(BiQuad_cget_b1, e), 0.0);
  EXPECT_EQ(call(BiQuad_cget_b2, e), -1.0);
  EXPECT_EQ(call(BiQuad_ctrl_a0, e, {0.5}), 0.5);
  EXPECT_EQ(call(BiQuad_cget_pregain, e), 0.5);
  EXPECT_EQ(call(BiQuad_ctrl_pregain, e, {2.0}), 2.0);
  EXPECT_EQ(call(BiQuad_cget_a0, e), 2.0);
  // y[n] = 2 (x[n] - x[n-2]) - 0.5 y[n-1] for an impulse: 2, -1, -1.5, 0.75.
  call(BiQuad_ctrl_a1, e, {0.5});
  const float expected[] = {2.0f, -1.0f, -1.5f, 0.75f};
  for (int n = 0; n < 4; n++) {
    SAMPLE out = 0.0f;
    BiQuad_tick(e, n == 0 ? 1.0f : 0.0f, &out, nullptr);
    EXPECT_FLOAT_EQ(out, expected[n]) << n;
  }
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
  call(BPF_ctrl_set, f, {f0, q});
  for (int n = 0; n < 5; n++) {
    SAMPLE out = 0.0f;
    BPF_tick(f, n == 0 ? 1.0f : 0.0f, &out, nullptr);
    EXPECT_NEAR(out, bpf[n], 1e-6) << n;
  }
}

// Teabox: frames of a marker and up to ten samples.
TEST_P(FilterModuleTest, TeaboxReadsFrames) {
  Chip_Object* t = make("Teabox");
  auto feed = [&](float x) {
    SAMPLE out = 0.0f;
    Teabox_tick(t, x, &out, nullptr);
    if (!std::isnan(x)) {
      EXPECT_EQ(out, x);  // a tap: the input goes on
    }
  };
  auto analog = [&](t_CPWORD which) {
    return call_member(Teabox_cget_analog, t, &which).v_float;
  };
  auto digital = [&](t_CPWORD which) {
    return call_member(Teabox_cget_digital, t, &which).v_float;
  };
  const double eight_tenths = 8.0 * static_cast<double>(0.1f);
  feed(-1.0f);
  for (int n = 0; n < 8; n++) feed(0.1f * static_cast<float>(n + 1));
  feed(0.1f);  // the ninth sample of the frame: analog[7]
  Teabox_Data* d = frame_state<Teabox_Data>(t, FilterBasic_offset_data);
  EXPECT_DOUBLE_EQ(d->lead, 8.0 * static_cast<double>(0.1f));
  for (int c = 0; c < 7; c++) EXPECT_DOUBLE_EQ(analog(c), 8.0 * static_cast<double>(0.1f * (c + 2)));
  EXPECT_DOUBLE_EQ(analog(7), eight_tenths);
  EXPECT_EQ(analog(9), analog(7));
  EXPECT_EQ(analog(-3), analog(0));
  // The tenth sample is the digital word: 0.25 gives bits 8 x 0.25 x 4096.
  feed(0.25f);
  EXPECT_EQ(d->bits, 8192);
  EXPECT_EQ(digital(13), 1.0);
  EXPECT_EQ(digital(3), 0.0);
  // The eleventh restarts the count unstored; the next one is the lead.
  feed(0.5f);
  EXPECT_EQ(d->counter, 0);
  feed(0.125f);
  EXPECT_DOUBLE_EQ(d->lead, 1.0);
  // A negative marker after a negative sample becomes the word: -0.5 is
  // n = -16384, the 16-bit pattern 0xC000.
  feed(-0.5f);
  feed(-1.0f);
  EXPECT_EQ(d->bits, 0xC000);
  EXPECT_EQ(digital(15), 1.0);
  EXPECT_EQ(digital(14), 1.0);
  EXPECT_EQ(digital(13), 0.0);
  EXPECT_EQ(digital(99), digital(15));
  EXPECT_EQ(digital(-4), digital(0));
  // Hostile samples never break the word (the conversions to an integer
  // stay defined: the sanitizer build checks them).
  for (float x : {-1e30f, 1e30f, -INFINITY, INFINITY, NAN, -3e9f}) feed(x);
  EXPECT_GE(d->bits, 0);
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
  for (const auto& c : freqs) EXPECT_EQ(call(LPF_ctrl_freq, lpf, {c.in}), c.freq) << c.in;
  EXPECT_EQ(call(LPF_ctrl_freq, lpf, {1234.0}), 1234.0);
  EXPECT_EQ(call(LPF_ctrl_freq, lpf, {kNaN}), 1234.0);  // NaN ignored
  const struct {
    double in, lh, other;  // stored by LPF/HPF, by BPF/BRF/ResonZ
  } qs[] = {{5000, 1000, 5000},        {0, FILTER_MIN_Q, FILTER_MIN_Q},
            {-1, FILTER_MIN_Q, FILTER_MIN_Q}, {kInf, 1000, FILTER_MAX_Q},
            {1e-9, FILTER_MIN_Q, FILTER_MIN_Q}, {2, 2, 2}};
  Chip_Object* bpf = make("BPF");
  for (const auto& c : qs) {
    EXPECT_DOUBLE_EQ(call(LPF_ctrl_Q, lpf, {c.in}), c.lh) << c.in;
    EXPECT_DOUBLE_EQ(call(LPF_cget_Q, lpf), c.lh) << c.in;
    EXPECT_DOUBLE_EQ(call(BPF_ctrl_Q, bpf, {c.in}), c.other) << c.in;
  }
  EXPECT_EQ(call(BPF_ctrl_Q, bpf, {kNaN}), 2.0);

  Chip_Object* b = make("BiQuad");
  EXPECT_EQ(call(BiQuad_ctrl_prad, b, {2.0}), FILTER_MAX_POLE_RADIUS);
  EXPECT_EQ(call(BiQuad_ctrl_prad, b, {-kInf}), -FILTER_MAX_POLE_RADIUS);
  EXPECT_EQ(call(BiQuad_ctrl_zrad, b, {1e30}), FILTER_MAX_ZERO_RADIUS);
  EXPECT_EQ(call(BiQuad_ctrl_pfreq, b, {1e30}), nyq);
  EXPECT_EQ(call(BiQuad_ctrl_zfreq, b, {-5.0}), 0.0);
  EXPECT_EQ(call(BiQuad_ctrl_b1, b, {-kInf}), -FILTER_MAX_COEFFICIENT);
  EXPECT_EQ(call(BiQuad_ctrl_b1, b, {kNaN}), -FILTER_MAX_COEFFICIENT);
  EXPECT_TRUE(std::isfinite(call(BiQuad_cget_a1, b)));
  EXPECT_TRUE(std::isfinite(call(BiQuad_cget_b2, b)));
}

// A new BPF or BRF has Q 0: setting only its frequency used to give
// non-finite coefficients and NaN on every sample. Q <= 0 now acts as the
// smallest Q: a very wide band that passes (BPF) or barely notches (BRF).
TEST_P(FilterModuleTest, FrequencyWithoutQGivesAFiniteWideFilter) {
  for (const char* name : {"BPF", "BRF"}) {
    SCOPED_TRACE(name);
    const Resonant& r = resonant(name);
    Chip_Object* f = make(name);
    call(r.ctrl_freq, f, {1000.0});
    EXPECT_EQ(call(r.cget_Q, f), FILTER_MIN_Q);
    SAMPLE out = 0.0f;
    for (int n = 0; n < 200; n++) {
      r.tick(f, probe(n), &out, nullptr);
      ASSERT_TRUE(std::isfinite(out)) << n;
    }
    EXPECT_NEAR(gain(r.tick, f, 1000.0, 2000), std::string(name) == "BPF" ? 1.0 : 0.0, 0.01);
  }
}

// Every setter of every class, fed hostile values on top of a working
// filter: the output stays finite and bounded, and a sane setting brings
// back the sane response.
TEST_P(FilterModuleTest, HostileParametersNeverPoisonTheOutput) {
  const double hostile[] = {-1e30, -1, 0, 0.5, 1, 2, 1e30, kNaN, kInf, -kInf};
  auto run_bounded = [&](f_tick tick, Chip_Object* obj, double bound) {
    SAMPLE out = 0.0f;
    double peak = 0.0;
    for (int n = 0; n < 1000; n++) {
      tick(obj, probe(n), &out, nullptr);
      if (!std::isfinite(out)) return kInf;
      peak = std::max(peak, std::fabs(static_cast<double>(out)));
    }
    EXPECT_LT(peak, bound);
    return peak;
  };

  for (const Resonant& r : kResonant) {
    for (f_mfun setter : {r.ctrl_freq, r.ctrl_Q}) {
      for (double v : hostile) {
        SCOPED_TRACE(testing::Message() << r.name << " " << v);
        Chip_Object* f = make(r.name);
        call(r.ctrl_set, f, {1000.0, 2.0});
        call(setter, f, {v});
        EXPECT_LT(run_bounded(r.tick, f, 1e4), kInf);
        call(r.ctrl_set, f, {1000.0, 2.0});
        gain(r.tick, f, 1000.0, 3000);  // settles
        Chip_Object* fresh = make(r.name);
        call(r.ctrl_set, fresh, {1000.0, 2.0});
        EXPECT_NEAR(gain(r.tick, f, 1500.0), gain(r.tick, fresh, 1500.0), 1e-3);
      }
    }
    for (double fv : hostile) {
      for (double qv : hostile) {
        SCOPED_TRACE(testing::Message() << r.name << " set(" << fv << ", " << qv << ")");
        Chip_Object* f = make(r.name);
        call(r.ctrl_set, f, {fv, qv});
        EXPECT_LT(run_bounded(r.tick, f, 1e4), kInf);
      }
    }
  }

  const f_mfun biquad_setters[] = {BiQuad_ctrl_pfreq, BiQuad_ctrl_prad, BiQuad_ctrl_zfreq,
                                   BiQuad_ctrl_zrad,  BiQuad_ctrl_pregain, BiQuad_ctrl_a0,
                                   BiQuad_ctrl_a1,    BiQuad_ctrl_a2,   BiQuad_ctrl_b0,
                                   BiQuad_ctrl_b1,    BiQuad_ctrl_b2};
  for (size_t which = 0; which < sizeof biquad_setters / sizeof biquad_setters[0]; which++) {
    const f_mfun setter = biquad_setters[which];
    for (double v : hostile) {
      SCOPED_TRACE(testing::Message() << "BiQuad setter " << which << ": " << v);
      Chip_Object* b = make("BiQuad");
      call(BiQuad_ctrl_pfreq, b, {1000.0});
      call(BiQuad_ctrl_prad, b, {0.9});
      call(setter, b, {v});
      // Direct coefficients may make any filter, stable or not: only
      // finiteness is promised there.
      EXPECT_LT(run_bounded(BiQuad_tick, b, 1e30), kInf);
      // Back to a sane filter: the response of a fresh one, once the
      // history has drained.
      call(BiQuad_ctrl_a0, b, {1.0});
      call(BiQuad_ctrl_b0, b, {1.0});
      call(BiQuad_ctrl_zrad, b, {0.0});
      call(BiQuad_ctrl_zfreq, b, {0.0});
      call(BiQuad_ctrl_pfreq, b, {1000.0});
      call(BiQuad_ctrl_prad, b, {0.9});
      Chip_Object* fresh = make("BiQuad");
      call(BiQuad_ctrl_pfreq, fresh, {1000.0});
      call(BiQuad_ctrl_prad, fresh, {0.9});
      EXPECT_NEAR(gain(BiQuad_tick, b, 1500.0, 1000), gain(BiQuad_tick, fresh, 1500.0, 1000),
                  1e-3);
    }
  }
  for (t_CPWORD v : {t_CPWORD{-1}, t_CPWORD{0}, t_CPWORD{1}, t_CPWORD{1} << 40}) {
    Chip_Object* b = make("BiQuad");
    call(BiQuad_ctrl_prad, b, {0.95});
    call_int(BiQuad_ctrl_norm, b, v);
    call_int(BiQuad_ctrl_eqzs, b, v);
    EXPECT_LT(run_bounded(BiQuad_tick, b, 1e4), kInf) << v;
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
      call(r.ctrl_set, f, {1000.0, 4.0});
      FilterBasic_Data* d = frame_state<FilterBasic_Data>(f, FilterBasic_offset_data);
      d->y1 = st[0];
      d->y2 = st[1];
      SAMPLE out = 0.0f;
      for (int n = 0; n < 3000; n++) r.tick(f, 0.0f, &out, nullptr);
      EXPECT_LT(std::fabs(out), 1e-6);
    }
  }
  const double biquad_states[][2] = {{9.9e14, 0.0}, {9.9e14, -9.9e14}};
  for (const auto& st : biquad_states) {
    Chip_Object* b = make("BiQuad");
    call(BiQuad_ctrl_pfreq, b, {1000.0});
    call(BiQuad_ctrl_prad, b, {0.9});
    BiQuad_Data* d = frame_state<BiQuad_Data>(b, biquad_offset_data);
    d->output1 = st[0];
    d->output2 = st[1];
    SAMPLE out = 0.0f;
    for (int n = 0; n < 3000; n++) BiQuad_tick(b, 0.0f, &out, nullptr);
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
        call(r.ctrl_set, obj, {f, q});
        SAMPLE out = 0.0f;
        double peak = 0.0;
        for (int n = 0; n < 4000; n++) {
          r.tick(obj, probe(n), &out, nullptr);
          peak = std::max(peak, std::fabs(static_cast<double>(out)));
        }
        EXPECT_LT(peak, 5000.0);  // LPF/HPF peak at most about Q = 1000
        // The poles lie strictly inside the unit circle (the stability
        // triangle of z^2 - b1 z - b2; BRF's recursion has the signs
        // flipped).
        const FilterBasic_Data* d = frame_state<FilterBasic_Data>(obj, FilterBasic_offset_data);
        const double sign = std::string(r.name) == "BRF" ? -1.0 : 1.0;
        const double b1 = sign * d->b1, b2 = sign * d->b2;
        EXPECT_LT(std::fabs(b2), 1.0);
        EXPECT_LT(std::fabs(b1), 1.0 - b2);
      }
    }
  }
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
