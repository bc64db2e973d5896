// The filter module: the plain filter classes and their rows in the binding
// frame.
#include "chip/lib/ugen_filter.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/ugen_frame.h"

t_CPWORD FilterBasic_offset_data = FRAME_NO_OFFSET;
t_CPWORD biquad_offset_data = FRAME_NO_OFFSET;

namespace {

// The module's sampling rate, copied from the registration.
t_CPUINT g_srate = 44100;

const double kPi = std::numbers::pi;
const double kTwoPi = 6.283185307179586;
// The largest tangent argument: just below pi/2, where the poles of BPF,
// BRF, LPF and HPF would reach the unit circle.
const double kMaxTanArg = 0.5 * kPi * (1.0 - 1.0e-6);

double clamp(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

// A rate of 0 means the engine's default.
double rate(t_CPUINT srate) { return static_cast<double>(srate ? srate : 44100); }

// v, or current when v is NaN.
double unless_nan(double v, double current) { return std::isnan(v) ? current : v; }

// A finite sample for the graph: a result that overflowed the sample type
// (or is NaN) becomes 0.
SAMPLE to_sample(double y) {
  return std::fabs(y) <= static_cast<double>(FLT_MAX) ? static_cast<SAMPLE>(y) : 0.0f;
}

// A value that the flush would drop for being too large (or not finite).
bool runaway(double v) { return !(std::fabs(v) < static_cast<double>(1e15f)); }

// v truncated toward zero into the 32-bit range (NaN gives 0).
int32_t truncate_int32(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<int32_t>(clamp(std::trunc(v), -2147483648.0, 2147483647.0));
}

t_CPINT clamp_index(t_CPINT which, t_CPINT hi) { return which < 0 ? 0 : (which > hi ? hi : which); }

}  // namespace

double filter_flush(double v) {
  const double a = std::fabs(v);
  return (a > static_cast<double>(1e-15f) && a < static_cast<double>(1e15f)) ? v : 0.0;
}

// ---------------------------------------------------------------------------
// Filter_Basic

SAMPLE Filter_Basic::tick() const {
  EM_printf("FilterBasic.tick() --> FitlerBasic is virtual!\n");
  return 0.0f;
}

// ---------------------------------------------------------------------------
// Filter_Resonant

void Filter_Resonant::init(t_CPUINT srate) {
  srate_ = rate(srate);
  radians_per_sample_ = kTwoPi / srate_;
  y1_ = y2_ = 0.0;
  a0_ = b1_ = b2_ = 0.0;
  freq_ = 0.0;
  Q_ = (kind_ == BPF || kind_ == BRF) ? 0.0 : 1.0;
  if (kind_ == RESONZ) {
    freq_ = 220.0;
    recompute();
  }
}

double Filter_Resonant::setFreq(double hz) {
  freq_ = unless_nan(hz, freq_);
  recompute();
  return freq_;
}

double Filter_Resonant::setQ(double q) {
  Q_ = unless_nan(q, Q_);
  recompute();
  return Q_;
}

void Filter_Resonant::set(double hz, double q) {
  freq_ = unless_nan(hz, freq_);
  Q_ = unless_nan(q, Q_);
  recompute();
}

// Clamps the stored freq and Q, then computes the coefficients of the kind
// from them.
void Filter_Resonant::recompute() {
  freq_ = clamp(freq_, 0.0, 0.5 * srate_);
  // Centre angle inside (0, pi): at 0 or pi a pole would sit on the unit
  // circle.
  const double pf = clamp(freq_ * radians_per_sample_, FILTER_MIN_ANGLE, kPi - FILTER_MIN_ANGLE);

  if (kind_ == LPF || kind_ == HPF) {
    // qres = 1 / Q, at least 0.001 (so Q is at most 1000).
    double q = clamp(Q_, FILTER_MIN_Q, FILTER_MAX_LH_Q);
    double qres = 1.0 / q;
    if (qres <= 0.001) {
      qres = 0.001;
      Q_ = FILTER_MAX_LH_Q;
    } else {
      Q_ = 1.0 / qres;
    }
    const double D = std::tan(clamp(pf * qres * 0.5, 0.0, kMaxTanArg));
    const double C = (1.0 - D) / (1.0 + D);
    const double B = (1.0 + C) * std::cos(pf);
    b1_ = B;
    b2_ = -C;
    a0_ = (kind_ == LPF ? 1.0 + C - B : 1.0 + C + B) * 0.25;
    return;
  }

  Q_ = clamp(Q_, FILTER_MIN_Q, FILTER_MAX_Q);
  if (kind_ == RESONZ) {
    // R = 1 - B/2 kept in [0, 1): a wider band than B = 2 would fold back.
    const double B = clamp(pf / Q_, 0.0, 2.0);
    const double R = 1.0 - 0.5 * B;
    a0_ = (1.0 - R * R) * 0.5;
    b1_ = 2.0 * R * (2.0 * R * std::cos(pf) / (1.0 + R * R));
    b2_ = -R * R;
    return;
  }

  const double pbw = clamp(0.5 * pf / Q_, 0.0, kMaxTanArg);
  const double D = 2.0 * std::cos(pf);
  if (kind_ == BPF) {
    const double C = 1.0 / std::tan(pbw);
    a0_ = 1.0 / (1.0 + C);
    b1_ = C * D * a0_;
    b2_ = (1.0 - C) * a0_;
  } else {
    const double C = std::tan(pbw);
    a0_ = 1.0 / (1.0 + C);
    b1_ = -D * a0_;
    b2_ = (1.0 - C) * a0_;
  }
}

// Shifts y0 into the history, flushed. A runaway y0 clears the whole
// history: zeroing only the newest value leaves the older one, and a stable
// resonant filter can then keep kicking itself back over the bound for
// ever.
void Filter_Resonant::push(double y0) {
  if (runaway(y0)) {
    y1_ = y2_ = 0.0;
    return;
  }
  y2_ = filter_flush(y1_);
  y1_ = filter_flush(y0);
}

SAMPLE Filter_Resonant::tick(SAMPLE in) {
  const double x = in;
  double y0, y;
  switch (kind_) {
    case BPF:
    case RESONZ:
      y0 = x + b1_ * y1_ + b2_ * y2_;
      y = a0_ * (y0 - y2_);
      break;
    case BRF: {
      const double ay = b1_ * y1_;
      y0 = x - ay - b2_ * y2_;
      y = a0_ * (y0 + y2_) + ay;
      break;
    }
    case LPF:
      y0 = a0_ * x + b1_ * y1_ + b2_ * y2_;
      y = y0 + 2.0 * y1_ + y2_;
      break;
    case HPF:
    default:
      y0 = a0_ * x + b1_ * y1_ + b2_ * y2_;
      y = y0 - 2.0 * y1_ + y2_;
      break;
  }
  push(y0);
  return to_sample(y);
}

// ---------------------------------------------------------------------------
// Filter_BiQuad

void Filter_BiQuad::init(t_CPUINT srate) {
  a1_ = a2_ = b1_ = b2_ = 0.0;
  a0_ = b0_ = 1.0;
  input0_ = input1_ = input2_ = 0.0;
  output0_ = output1_ = output2_ = 0.0;
  pfreq_ = zfreq_ = prad_ = zrad_ = 0.0;
  norm_ = 0;
  srate_ = rate(srate);
}

void Filter_BiQuad::poleUpdate() {
  a2_ = prad_ * prad_;
  a1_ = -2.0 * prad_ * std::cos(kTwoPi * pfreq_ / srate_);
  if (norm_) {
    // Zeros at DC and Nyquist, scaled for unit gain at the resonance.
    b0_ = 0.5 - 0.5 * a2_;
    b1_ = -1.0;
    b2_ = -b0_;
  }
}

void Filter_BiQuad::zeroUpdate() {
  b2_ = zrad_ * zrad_;
  b1_ = -2.0 * zrad_ * std::cos(kTwoPi * zfreq_ / srate_);
}

double Filter_BiQuad::setPoleFreq(double hz) {
  pfreq_ = clamp(unless_nan(hz, pfreq_), 0.0, 0.5 * srate_);
  poleUpdate();
  return pfreq_;
}

double Filter_BiQuad::setPoleRadius(double r) {
  // Poles stay strictly inside the unit circle.
  prad_ = clamp(unless_nan(r, prad_), -FILTER_MAX_POLE_RADIUS, FILTER_MAX_POLE_RADIUS);
  poleUpdate();
  return prad_;
}

double Filter_BiQuad::setZeroFreq(double hz) {
  zfreq_ = clamp(unless_nan(hz, zfreq_), 0.0, 0.5 * srate_);
  zeroUpdate();
  return zfreq_;
}

double Filter_BiQuad::setZeroRadius(double r) {
  zrad_ = clamp(unless_nan(r, zrad_), -FILTER_MAX_ZERO_RADIUS, FILTER_MAX_ZERO_RADIUS);
  zeroUpdate();
  return zrad_;
}

t_CPINT Filter_BiQuad::setNorm(t_CPINT norm) {
  norm_ = norm;
  poleUpdate();
  return norm_;
}

t_CPINT Filter_BiQuad::setEqualGainZeros(t_CPINT on) {
  if (on != 0) {
    b0_ = 1.0;
    b1_ = 0.0;
    b2_ = -1.0;
  }
  return on;
}

double Filter_BiQuad::*Filter_BiQuad::field(Coefficient which) {
  static double Filter_BiQuad::*const kFields[] = {
      &Filter_BiQuad::a0_, &Filter_BiQuad::a1_, &Filter_BiQuad::a2_,
      &Filter_BiQuad::b0_, &Filter_BiQuad::b1_, &Filter_BiQuad::b2_};
  return kFields[which];
}

double Filter_BiQuad::setCoefficient(Coefficient which, double v) {
  double& c = this->*field(which);
  c = clamp(unless_nan(v, c), -FILTER_MAX_COEFFICIENT, FILTER_MAX_COEFFICIENT);
  return c;
}

double Filter_BiQuad::coefficient(Coefficient which) const { return this->*field(which); }

SAMPLE Filter_BiQuad::tick(SAMPLE in) {
  input0_ = a0_ * static_cast<double>(in);
  const double y =
      b0_ * input0_ + b1_ * input1_ + b2_ * input2_ - (a1_ * output1_ + a2_ * output2_);
  input2_ = input1_;
  input1_ = input0_;
  output0_ = y;
  if (runaway(y)) {
    // As for the resonant filters: start again from silence.
    input1_ = input2_ = output1_ = output2_ = 0.0;
  } else {
    output2_ = filter_flush(output1_);
    output1_ = filter_flush(y);
  }
  return to_sample(y);
}

// ---------------------------------------------------------------------------
// Filter_Teabox

SAMPLE Filter_Teabox::tick(SAMPLE in) {
  const double x = in;
  if (x < 0.0 || counter_ > 9) {
    // A frame starts (the marker itself goes into no slot), or an overlong
    // frame restarts the count.
    if (last_ < 0.0) raw_ = last_;
    counter_ = 0;
  } else {
    const t_CPINT c = counter_;
    if (c == 0) {
      lead_ = 8.0 * x;
    } else if (c <= 8) {
      analog_[c - 1] = 8.0 * x;
    } else {
      raw_ = 8.0 * x;
    }
    counter_ = c + 1;
  }
  last_ = x;
  if (raw_ < 0.0) {
    // The 16-bit pattern of the negative word.
    const uint32_t n = static_cast<uint32_t>(truncate_int32(raw_ * 32768.0));
    bits_ = static_cast<t_CPINT>((n ^ static_cast<uint32_t>(-32768)) + 32768u);
  } else {
    bits_ = truncate_int32(raw_ * 4096.0);
  }
  return in;
}

double Filter_Teabox::analog(t_CPINT which) const { return analog_[clamp_index(which, 7)]; }

double Filter_Teabox::digital(t_CPINT which) const {
  const uint32_t bits = static_cast<uint32_t>(bits_);
  return ((bits >> clamp_index(which, 15)) & 1u) ? 1.0 : 0.0;
}

// ---------------------------------------------------------------------------
// Rows

namespace {

// Old lower-case class names, old to new. "filter" names no class.
const struct {
  const char* former;
  const char* latter;
} kDeprecated[] = {{"filter", "Filter"},   {"biquad", "BiQuad"}, {"onepole", "OnePole"},
                   {"onezero", "OneZero"}, {"twopole", "TwoPole"}, {"twozero", "TwoZero"},
                   {"delay", "Delay"},     {"delayl", "DelayL"},   {"delaya", "DelayA"}};

// FilterBasic: members that do nothing (the frame answers 0).

double ignore_value(Frame_Slot&, double) { return 0.0; }
double no_value(Frame_Slot&) { return 0.0; }

const Frame_Member kBasicMembers[] = {
    frame_prop("freq", "float", ignore_value, no_value),
    frame_prop("Q", "float", ignore_value, no_value),
    frame_method("set", "void", [](Frame_Slot&, void*, Chip_DL_Return*) {}, {"float", "freq"},
                 {"float", "Q"}),
};

// BPF, BRF, LPF, HPF, ResonZ: one table, the object knows its kind.

Filter_Resonant& resonant(Frame_Slot& s) { return s.as<Filter_Resonant>(); }

const Frame_Member kResonantMembers[] = {
    frame_prop(
        "freq", "float", [](Frame_Slot& s, double v) { return resonant(s).setFreq(v); },
        [](Frame_Slot& s) { return resonant(s).freq(); }),
    frame_prop(
        "Q", "float", [](Frame_Slot& s, double v) { return resonant(s).setQ(v); },
        [](Frame_Slot& s) { return resonant(s).Q(); }),
    frame_method(
        "set", "void",
        [](Frame_Slot& s, void* args, Chip_DL_Return*) {
          const double freq = GET_NEXT_FLOAT(args);
          const double q = GET_NEXT_FLOAT(args);
          resonant(s).set(freq, q);
        },
        {"float", "freq"}, {"float", "Q"}),
};

template <Filter_Resonant::Kind K>
Frame_Obj* make_resonant(Chip_Object*) {
  auto* filter = new Filter_Resonant(K);
  filter->init(g_srate);
  return filter;
}

SAMPLE tick_resonant(Frame_Slot& s, SAMPLE in) { return resonant(s).tick(in); }

// A subclass of FilterBasic keeping its object in the inherited member.
constexpr Frame_Class_Desc resonant_row(const char* name, Frame_Make make) {
  return {.name = name,
          .parent = "FilterBasic",
          .offset = &FilterBasic_offset_data,
          .make = make,
          .tick = tick_resonant,
          FRAME_MEMBER_FIELDS(kResonantMembers),
          .tick_block = frame_block_of<tick_resonant>};
}

// BiQuad

Filter_BiQuad& biquad(Frame_Slot& s) { return s.as<Filter_BiQuad>(); }

template <Filter_BiQuad::Coefficient C>
constexpr Frame_Member coefficient_prop(const char* name) {
  return frame_prop(
      name, "float", [](Frame_Slot& s, double v) { return biquad(s).setCoefficient(C, v); },
      [](Frame_Slot& s) { return biquad(s).coefficient(C); });
}

const Frame_Member kBiQuadMembers[] = {
    frame_prop(
        "pfreq", "float", [](Frame_Slot& s, double v) { return biquad(s).setPoleFreq(v); },
        [](Frame_Slot& s) { return biquad(s).poleFreq(); }),
    frame_prop(
        "prad", "float", [](Frame_Slot& s, double v) { return biquad(s).setPoleRadius(v); },
        [](Frame_Slot& s) { return biquad(s).poleRadius(); }),
    frame_prop(
        "zfreq", "float", [](Frame_Slot& s, double v) { return biquad(s).setZeroFreq(v); },
        [](Frame_Slot& s) { return biquad(s).zeroFreq(); }),
    frame_prop(
        "zrad", "float", [](Frame_Slot& s, double v) { return biquad(s).setZeroRadius(v); },
        [](Frame_Slot& s) { return biquad(s).zeroRadius(); }),
    // An int property's value arrives as a double holding the int.
    frame_prop(
        "norm", "int",
        [](Frame_Slot& s, double v) {
          return static_cast<double>(biquad(s).setNorm(static_cast<t_CPINT>(v)));
        },
        [](Frame_Slot& s) { return static_cast<double>(biquad(s).norm()); }),
    coefficient_prop<Filter_BiQuad::A0>("pregain"),
    frame_prop(
        "eqzs", "int",
        [](Frame_Slot& s, double v) {
          return static_cast<double>(biquad(s).setEqualGainZeros(static_cast<t_CPINT>(v)));
        },
        nullptr),
    coefficient_prop<Filter_BiQuad::B0>("b0"),
    coefficient_prop<Filter_BiQuad::B1>("b1"),
    coefficient_prop<Filter_BiQuad::B2>("b2"),
    coefficient_prop<Filter_BiQuad::A0>("a0"),
    coefficient_prop<Filter_BiQuad::A1>("a1"),
    coefficient_prop<Filter_BiQuad::A2>("a2"),
};

SAMPLE tick_biquad(Frame_Slot& s, SAMPLE in) { return biquad(s).tick(in); }

// Teabox

Filter_Teabox& teabox(Frame_Slot& s) { return s.as<Filter_Teabox>(); }

SAMPLE tick_teabox(Frame_Slot& s, SAMPLE in) { return teabox(s).tick(in); }

const Frame_Member kTeaboxMembers[] = {
    frame_method(
        "analog", "float",
        [](Frame_Slot& s, void* args, Chip_DL_Return* ret) {
          ret->v_float = teabox(s).analog(GET_NEXT_INT(args));
        },
        {"int", "which"}),
    frame_method(
        "digital", "float",
        [](Frame_Slot& s, void* args, Chip_DL_Return* ret) {
          ret->v_float = teabox(s).digital(GET_NEXT_INT(args));
        },
        {"int", "which"}),
};

// In registration order. The subclasses of FilterBasic answer its pmsg
// (every message unknown); BiQuad keeps UGen's.
constexpr Frame_Class_Desc kFilterClasses[] = {
    {.name = "FilterBasic",
     .parent = "UGen",
     .data_member = "@FilterBasic_data",
     .offset = &FilterBasic_offset_data,
     .make = [](Chip_Object*) -> Frame_Obj* { return new Filter_Basic; },
     .tick = [](Frame_Slot& s, SAMPLE) { return s.as<Filter_Basic>().tick(); },
     .pmsg = frame_pmsg_false,
     FRAME_MEMBER_FIELDS(kBasicMembers)},
    resonant_row("BPF", make_resonant<Filter_Resonant::BPF>),
    resonant_row("BRF", make_resonant<Filter_Resonant::BRF>),
    resonant_row("LPF", make_resonant<Filter_Resonant::LPF>),
    resonant_row("HPF", make_resonant<Filter_Resonant::HPF>),
    resonant_row("ResonZ", make_resonant<Filter_Resonant::RESONZ>),
    {.name = "BiQuad",
     .parent = "UGen",
     .data_member = "@biquad_data",
     .offset = &biquad_offset_data,
     .make = [](Chip_Object*) -> Frame_Obj* {
       auto* filter = new Filter_BiQuad;
       filter->init(g_srate);
       return filter;
     },
     .tick = tick_biquad,
     FRAME_MEMBER_FIELDS(kBiQuadMembers),
     .tick_block = frame_block_of<tick_biquad>},
    {.name = "Teabox",
     .parent = "FilterBasic",
     .offset = &FilterBasic_offset_data,
     .make = [](Chip_Object*) -> Frame_Obj* { return new Filter_Teabox; },
     .tick = tick_teabox,
     FRAME_MEMBER_FIELDS(kTeaboxMembers),
     .tick_block = frame_block_of<tick_teabox>},
};

}  // namespace

t_CPBOOL filter_query(Chip_DL_Query* QUERY) {
  // A query without a rate keeps the engine's default.
  g_srate = QUERY->srate ? static_cast<t_CPUINT>(QUERY->srate) : 44100;
  Chip_Env* env = Chip_Env::instance();
  CHIP_CHECK(env != NULL);

  for (const auto& pair : kDeprecated)
    type_engine_register_deprecate(env, pair.former, pair.latter);
  return frame_import_classes(env, kFilterClasses,
                              sizeof kFilterClasses / sizeof kFilterClasses[0]);
}
