// The filter module: the basic second-order filters and the Teabox reader.
#include "chip/lib/ugen_filter.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/ugen_frame.h"

t_CPWORD FilterBasic_offset_data = FRAME_NO_OFFSET;
t_CPWORD biquad_offset_data = FRAME_NO_OFFSET;

// The module's sampling rate and the angle of one hertz per sample, copied
// from the registration.
static t_CPUINT g_srate = 44100;
static double g_radians_per_sample = 6.283185307179586 / 44100.0;

namespace {

const double kPi = 3.141592653589793;
const double kTwoPi = 6.283185307179586;
// The largest tangent argument: just below pi/2, where the poles of BPF,
// BRF, LPF and HPF would reach the unit circle.
const double kMaxTanArg = 0.5 * kPi * (1.0 - 1.0e-6);

// Old lower-case class names, old to new. "filter" names no class.
const struct {
  const char* former;
  const char* latter;
} kDeprecated[] = {{"filter", "Filter"},   {"biquad", "BiQuad"}, {"onepole", "OnePole"},
                   {"onezero", "OneZero"}, {"twopole", "TwoPole"}, {"twozero", "TwoZero"},
                   {"delay", "Delay"},     {"delayl", "DelayL"},   {"delaya", "DelayA"}};

double clamp(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

double nyquist(t_CPUINT srate) { return 0.5 * static_cast<double>(srate); }

// A finite sample for the graph: a result that overflowed the sample type
// (or is NaN) becomes 0.
SAMPLE to_sample(double y) {
  return std::fabs(y) <= static_cast<double>(FLT_MAX) ? static_cast<SAMPLE>(y) : 0.0f;
}

// The argument of a setter, or `current` when the argument is NaN.
double next_value(void* args, double current) {
  void* cursor = args;
  double v = GET_NEXT_FLOAT(cursor);
  return std::isnan(v) ? current : v;
}

// ---------------------------------------------------------------------------
// The resonant family: coefficients and ticks.

enum Kind { kBPF, kBRF, kLPF, kHPF, kResonZ };

FilterBasic_Data* basic(Chip_Object* self) {
  FilterBasic_Data* d = frame_state<FilterBasic_Data>(self, FilterBasic_offset_data);
  CHIP_CHECK(d != NULL);
  return d;
}

// Clamps the stored freq and Q, then computes the coefficients of kind K
// from them.
template <Kind K>
void recompute(FilterBasic_Data* d) {
  d->freq = clamp(d->freq, 0.0, nyquist(g_srate));
  // Centre angle inside (0, pi): at 0 or pi a pole would sit on the unit
  // circle.
  const double pf =
      clamp(d->freq * g_radians_per_sample, FILTER_MIN_ANGLE, kPi - FILTER_MIN_ANGLE);

  if (K == kLPF || K == kHPF) {
    // qres = 1 / Q, at least 0.001 (so Q is at most 1000).
    double q = clamp(d->Q, FILTER_MIN_Q, FILTER_MAX_LH_Q);
    double qres = 1.0 / q;
    if (qres <= 0.001) {
      qres = 0.001;
      d->Q = FILTER_MAX_LH_Q;
    } else {
      d->Q = 1.0 / qres;
    }
    const double D = std::tan(clamp(pf * qres * 0.5, 0.0, kMaxTanArg));
    const double C = (1.0 - D) / (1.0 + D);
    const double B = (1.0 + C) * std::cos(pf);
    d->b1 = B;
    d->b2 = -C;
    d->a0 = (K == kLPF ? 1.0 + C - B : 1.0 + C + B) * 0.25;
    return;
  }

  d->Q = clamp(d->Q, FILTER_MIN_Q, FILTER_MAX_Q);
  if (K == kResonZ) {
    // R = 1 - B/2 kept in [0, 1): a wider band than B = 2 would fold back.
    const double B = clamp(pf / d->Q, 0.0, 2.0);
    const double R = 1.0 - 0.5 * B;
    d->a0 = (1.0 - R * R) * 0.5;
    d->b1 = 2.0 * R * (2.0 * R * std::cos(pf) / (1.0 + R * R));
    d->b2 = -R * R;
    return;
  }

  const double pbw = clamp(0.5 * pf / d->Q, 0.0, kMaxTanArg);
  const double D = 2.0 * std::cos(pf);
  if (K == kBPF) {
    const double C = 1.0 / std::tan(pbw);
    d->a0 = 1.0 / (1.0 + C);
    d->b1 = C * D * d->a0;
    d->b2 = (1.0 - C) * d->a0;
  } else {
    const double C = std::tan(pbw);
    d->a0 = 1.0 / (1.0 + C);
    d->b1 = -D * d->a0;
    d->b2 = (1.0 - C) * d->a0;
  }
}

// A value that the flush would drop for being too large (or not finite).
bool runaway(double v) { return !(std::fabs(v) < static_cast<double>(1e15f)); }

// Shifts y0 into the history, flushed. A runaway y0 clears the whole
// history: zeroing only the newest value leaves the older one, and a stable
// resonant filter can then keep kicking itself back over the bound for
// ever.
void push_history(FilterBasic_Data* d, double y0) {
  if (runaway(y0)) {
    d->y1 = d->y2 = 0.0;
    return;
  }
  d->y2 = filter_flush(d->y1);
  d->y1 = filter_flush(y0);
}

template <Kind K>
unsigned long resonant_tick(Chip_Object* self, SAMPLE in, SAMPLE* out) {
  FilterBasic_Data* d = basic(self);
  const double x = in;
  double y0, y;
  switch (K) {
    case kBPF:
    case kResonZ:
      y0 = x + d->b1 * d->y1 + d->b2 * d->y2;
      y = d->a0 * (y0 - d->y2);
      break;
    case kBRF: {
      const double ay = d->b1 * d->y1;
      y0 = x - ay - d->b2 * d->y2;
      y = d->a0 * (y0 + d->y2) + ay;
      break;
    }
    case kLPF:
      y0 = d->a0 * x + d->b1 * d->y1 + d->b2 * d->y2;
      y = y0 + 2.0 * d->y1 + d->y2;
      break;
    case kHPF:
    default:
      y0 = d->a0 * x + d->b1 * d->y1 + d->b2 * d->y2;
      y = y0 - 2.0 * d->y1 + d->y2;
      break;
  }
  push_history(d, y0);
  *out = to_sample(y);
  return 1;
}

template <Kind K>
void resonant_ctor(Chip_Object* self) {
  auto* d = static_cast<FilterBasic_Data*>(std::calloc(1, sizeof(FilterBasic_Data)));
  CHIP_CHECK(d != NULL);
  if (K == kLPF || K == kHPF) d->Q = 1.0;
  if (K == kResonZ) {
    d->freq = 220.0;
    d->Q = 1.0;
    recompute<K>(d);
  }
  std::free(frame_take_state<FilterBasic_Data>(self, FilterBasic_offset_data));
  frame_set_state(self, FilterBasic_offset_data, d);
}

template <Kind K>
void resonant_ctrl_freq(Chip_Object* self, void* args, Chip_DL_Return* ret) {
  FilterBasic_Data* d = basic(self);
  d->freq = next_value(args, d->freq);
  recompute<K>(d);
  ret->v_float = d->freq;
}

template <Kind K>
void resonant_ctrl_Q(Chip_Object* self, void* args, Chip_DL_Return* ret) {
  FilterBasic_Data* d = basic(self);
  d->Q = next_value(args, d->Q);
  recompute<K>(d);
  ret->v_float = d->Q;
}

template <Kind K>
void resonant_ctrl_set(Chip_Object* self, void* args) {
  FilterBasic_Data* d = basic(self);
  void* cursor = args;
  const double freq = GET_NEXT_FLOAT(cursor);
  const double q = GET_NEXT_FLOAT(cursor);
  if (!std::isnan(freq)) d->freq = freq;
  if (!std::isnan(q)) d->Q = q;
  recompute<K>(d);
}

// Registers the resonant class `name` with its bindings.
t_CPBOOL import_resonant(Chip_Env* env, const char* name, f_ctor ctor, f_tick tick, f_pmsg pmsg,
                         f_mfun ctrl_freq, f_mfun cget_freq, f_mfun ctrl_Q, f_mfun cget_Q,
                         f_mfun ctrl_set) {
  if (!type_engine_import_ugen_begin(env, name, "FilterBasic", env->global(), ctor, nullptr, tick,
                                     pmsg, CHIP_IMPORT_KEEP, CHIP_IMPORT_KEEP)) {
    return FALSE;
  }
  if (!frame_import_mfun(env, "float", "freq", ctrl_freq, {{"float", "val"}}) ||
      !frame_import_mfun(env, "float", "freq", cget_freq) ||
      !frame_import_mfun(env, "float", "Q", ctrl_Q, {{"float", "val"}}) ||
      !frame_import_mfun(env, "float", "Q", cget_Q) ||
      !frame_import_mfun(env, "void", "set", ctrl_set, {{"float", "freq"}, {"float", "Q"}})) {
    return frame_fail(env);
  }
  return type_engine_import_class_end(env);
}

// ---------------------------------------------------------------------------
// BiQuad

BiQuad_Data* biquad(Chip_Object* self) {
  BiQuad_Data* d = frame_state<BiQuad_Data>(self, biquad_offset_data);
  CHIP_CHECK(d != NULL);
  return d;
}

void biquad_pole_update(BiQuad_Data* d) {
  d->a2 = d->prad * d->prad;
  d->a1 = -2.0 * d->prad * std::cos(kTwoPi * d->pfreq / static_cast<double>(d->srate));
  if (d->norm) {
    // Zeros at DC and Nyquist, scaled for unit gain at the resonance.
    d->b0 = 0.5 - 0.5 * d->a2;
    d->b1 = -1.0;
    d->b2 = -d->b0;
  }
}

void biquad_zero_update(BiQuad_Data* d) {
  d->b2 = d->zrad * d->zrad;
  d->b1 = -2.0 * d->zrad * std::cos(kTwoPi * d->zfreq / static_cast<double>(d->srate));
}

double biquad_freq(BiQuad_Data* d, void* args, double current) {
  return clamp(next_value(args, current), 0.0, nyquist(d->srate));
}

double coefficient(void* args, double current) {
  return clamp(next_value(args, current), -FILTER_MAX_COEFFICIENT, FILTER_MAX_COEFFICIENT);
}

// ---------------------------------------------------------------------------
// Teabox

Teabox_Data* teabox(Chip_Object* self) {
  Teabox_Data* d = frame_state<Teabox_Data>(self, FilterBasic_offset_data);
  CHIP_CHECK(d != NULL);
  return d;
}

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
// Registration

t_CPBOOL filter_query(Chip_DL_Query* QUERY) {
  // A query without a rate keeps the engine's default.
  g_srate = QUERY->srate ? static_cast<t_CPUINT>(QUERY->srate) : 44100;
  g_radians_per_sample = kTwoPi / static_cast<double>(g_srate);
  Chip_Env* env = Chip_Env::instance();
  CHIP_CHECK(env != NULL);

  for (const auto& pair : kDeprecated)
    type_engine_register_deprecate(env, pair.former, pair.latter);

  // FilterBasic: the abstract base owning the record.
  if (!type_engine_import_ugen_begin(env, "FilterBasic", "UGen", env->global(), FilterBasic_ctor,
                                     FilterBasic_dtor, FilterBasic_tick, FilterBasic_pmsg,
                                     CHIP_IMPORT_KEEP, CHIP_IMPORT_KEEP)) {
    return FALSE;
  }
  t_CPWORD offset = frame_import_state(env, "@FilterBasic_data");
  if (offset == FRAME_NO_OFFSET) return frame_fail(env);
  FilterBasic_offset_data = offset;
  if (!frame_import_mfun(env, "float", "freq", FilterBasic_ctrl_freq, {{"float", "val"}}) ||
      !frame_import_mfun(env, "float", "freq", FilterBasic_cget_freq) ||
      !frame_import_mfun(env, "float", "Q", FilterBasic_ctrl_Q, {{"float", "val"}}) ||
      !frame_import_mfun(env, "float", "Q", FilterBasic_cget_Q) ||
      !frame_import_mfun(env, "void", "set", FilterBasic_ctrl_set,
                         {{"float", "freq"}, {"float", "Q"}})) {
    return frame_fail(env);
  }
  if (!type_engine_import_class_end(env)) return FALSE;

#define FILTER_IMPORT_RESONANT(Class)                                                   \
  if (!import_resonant(env, #Class, Class##_ctor, Class##_tick, Class##_pmsg,           \
                       Class##_ctrl_freq, Class##_cget_freq, Class##_ctrl_Q,            \
                       Class##_cget_Q, Class##_ctrl_set)) {                             \
    return FALSE;                                                                       \
  }
  FILTER_IMPORT_RESONANT(BPF)
  FILTER_IMPORT_RESONANT(BRF)
  FILTER_IMPORT_RESONANT(LPF)
  FILTER_IMPORT_RESONANT(HPF)
  FILTER_IMPORT_RESONANT(ResonZ)
#undef FILTER_IMPORT_RESONANT

  // BiQuad: its own record.
  if (!type_engine_import_ugen_begin(env, "BiQuad", "UGen", env->global(), BiQuad_ctor,
                                     BiQuad_dtor, BiQuad_tick, nullptr, CHIP_IMPORT_KEEP,
                                     CHIP_IMPORT_KEEP)) {
    return FALSE;
  }
  offset = frame_import_state(env, "@biquad_data");
  if (offset == FRAME_NO_OFFSET) return frame_fail(env);
  biquad_offset_data = offset;
  const struct {
    const char* type;
    const char* name;
    f_mfun ctrl;
    f_mfun cget;
  } properties[] = {
      {"float", "pfreq", BiQuad_ctrl_pfreq, BiQuad_cget_pfreq},
      {"float", "prad", BiQuad_ctrl_prad, BiQuad_cget_prad},
      {"float", "zfreq", BiQuad_ctrl_zfreq, BiQuad_cget_zfreq},
      {"float", "zrad", BiQuad_ctrl_zrad, BiQuad_cget_zrad},
      {"int", "norm", BiQuad_ctrl_norm, BiQuad_cget_norm},
      {"float", "pregain", BiQuad_ctrl_pregain, BiQuad_cget_pregain},
      {"int", "eqzs", BiQuad_ctrl_eqzs, nullptr},
      {"float", "b0", BiQuad_ctrl_b0, BiQuad_cget_b0},
      {"float", "b1", BiQuad_ctrl_b1, BiQuad_cget_b1},
      {"float", "b2", BiQuad_ctrl_b2, BiQuad_cget_b2},
      {"float", "a0", BiQuad_ctrl_a0, BiQuad_cget_a0},
      {"float", "a1", BiQuad_ctrl_a1, BiQuad_cget_a1},
      {"float", "a2", BiQuad_ctrl_a2, BiQuad_cget_a2},
  };
  for (const auto& p : properties) {
    if (!frame_import_mfun(env, p.type, p.name, p.ctrl, {{p.type, "val"}}) ||
        (p.cget && !frame_import_mfun(env, p.type, p.name, p.cget))) {
      return frame_fail(env);
    }
  }
  if (!type_engine_import_class_end(env)) return FALSE;

  // Teabox: keeps its own record in the inherited member.
  if (!type_engine_import_ugen_begin(env, "Teabox", "FilterBasic", env->global(), Teabox_ctor,
                                     nullptr, Teabox_tick, Teabox_pmsg, CHIP_IMPORT_KEEP,
                                     CHIP_IMPORT_KEEP)) {
    return FALSE;
  }
  if (!frame_import_mfun(env, "float", "analog", Teabox_cget_analog, {{"int", "which"}}) ||
      !frame_import_mfun(env, "float", "digital", Teabox_cget_digital, {{"int", "which"}})) {
    return frame_fail(env);
  }
  if (!type_engine_import_class_end(env)) return FALSE;
  return TRUE;
}

// ---------------------------------------------------------------------------
// FilterBasic

void FilterBasic_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  frame_set_state<void>(SELF, FilterBasic_offset_data, nullptr);
}

void FilterBasic_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  // The record of any subclass (resonant or Teabox) was made by calloc.
  std::free(frame_take_state<void>(SELF, FilterBasic_offset_data));
}

unsigned long FilterBasic_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED) {
  (void)SELF;
  (void)in;
  (void)out;
  (void)SHRED;
  EM_printf("FilterBasic.tick() --> FitlerBasic is virtual!\n");
  return 1;
}

unsigned long FilterBasic_pmsg(Chip_Object* SELF, const char* msg, void* ARGS,
                               Chip_VM_Shred* SHRED) {
  (void)SELF;
  (void)msg;
  (void)ARGS;
  (void)SHRED;
  return 0;
}

#define FILTER_BASIC_NOTHING(fn)                                                         \
  void FilterBasic_##fn(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,           \
                        Chip_VM_Shred* SHRED) {                                          \
    (void)SELF;                                                                          \
    (void)ARGS;                                                                          \
    (void)RETURN;                                                                        \
    (void)SHRED;                                                                         \
  }
FILTER_BASIC_NOTHING(ctrl_freq)
FILTER_BASIC_NOTHING(cget_freq)
FILTER_BASIC_NOTHING(ctrl_Q)
FILTER_BASIC_NOTHING(cget_Q)
FILTER_BASIC_NOTHING(ctrl_set)
#undef FILTER_BASIC_NOTHING

// ---------------------------------------------------------------------------
// BPF, BRF, LPF, HPF, ResonZ: named bindings of the templates above.

#define FILTER_DEFINE_RESONANT(Class, K)                                                  \
  void Class##_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED) {                \
    (void)ARGS;                                                                           \
    (void)SHRED;                                                                          \
    resonant_ctor<K>(SELF);                                                               \
  }                                                                                       \
  unsigned long Class##_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out,                   \
                             Chip_VM_Shred* SHRED) {                                      \
    (void)SHRED;                                                                          \
    return resonant_tick<K>(SELF, in, out);                                               \
  }                                                                                       \
  unsigned long Class##_pmsg(Chip_Object* SELF, const char* msg, void* ARGS,              \
                             Chip_VM_Shred* SHRED) {                                      \
    return FilterBasic_pmsg(SELF, msg, ARGS, SHRED);                                      \
  }                                                                                       \
  void Class##_ctrl_freq(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,           \
                         Chip_VM_Shred* SHRED) {                                          \
    (void)SHRED;                                                                          \
    resonant_ctrl_freq<K>(SELF, ARGS, RETURN);                                            \
  }                                                                                       \
  void Class##_cget_freq(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,           \
                         Chip_VM_Shred* SHRED) {                                          \
    (void)ARGS;                                                                           \
    (void)SHRED;                                                                          \
    RETURN->v_float = basic(SELF)->freq;                                                  \
  }                                                                                       \
  void Class##_ctrl_Q(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,              \
                      Chip_VM_Shred* SHRED) {                                             \
    (void)SHRED;                                                                          \
    resonant_ctrl_Q<K>(SELF, ARGS, RETURN);                                               \
  }                                                                                       \
  void Class##_cget_Q(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,              \
                      Chip_VM_Shred* SHRED) {                                             \
    (void)ARGS;                                                                           \
    (void)SHRED;                                                                          \
    RETURN->v_float = basic(SELF)->Q;                                                     \
  }                                                                                       \
  void Class##_ctrl_set(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,            \
                        Chip_VM_Shred* SHRED) {                                           \
    (void)RETURN;                                                                         \
    (void)SHRED;                                                                          \
    resonant_ctrl_set<K>(SELF, ARGS);                                                     \
  }

FILTER_DEFINE_RESONANT(BPF, kBPF)
FILTER_DEFINE_RESONANT(BRF, kBRF)
FILTER_DEFINE_RESONANT(LPF, kLPF)
FILTER_DEFINE_RESONANT(HPF, kHPF)
FILTER_DEFINE_RESONANT(ResonZ, kResonZ)
#undef FILTER_DEFINE_RESONANT

// ---------------------------------------------------------------------------
// BiQuad

void BiQuad_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  auto* d = static_cast<BiQuad_Data*>(std::calloc(1, sizeof(BiQuad_Data)));
  CHIP_CHECK(d != NULL);
  // A new filter passes its input unchanged.
  d->a0 = 1.0;
  d->b0 = 1.0;
  d->srate = g_srate;
  std::free(frame_take_state<BiQuad_Data>(SELF, biquad_offset_data));
  frame_set_state(SELF, biquad_offset_data, d);
}

void BiQuad_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  std::free(frame_take_state<BiQuad_Data>(SELF, biquad_offset_data));
}

unsigned long BiQuad_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  BiQuad_Data* d = biquad(SELF);
  d->input0 = d->a0 * static_cast<double>(in);
  const double y = d->b0 * d->input0 + d->b1 * d->input1 + d->b2 * d->input2 -
                   (d->a1 * d->output1 + d->a2 * d->output2);
  d->input2 = d->input1;
  d->input1 = d->input0;
  d->output0 = y;
  if (runaway(y)) {
    // As for the resonant filters: start again from silence.
    d->input1 = d->input2 = d->output1 = d->output2 = 0.0;
  } else {
    d->output2 = filter_flush(d->output1);
    d->output1 = filter_flush(y);
  }
  *out = to_sample(y);
  return 1;
}

#define FILTER_BIQUAD_GETTER(name, field, ret_field)                                      \
  void BiQuad_cget_##name(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,          \
                          Chip_VM_Shred* SHRED) {                                         \
    (void)ARGS;                                                                           \
    (void)SHRED;                                                                          \
    RETURN->ret_field = biquad(SELF)->field;                                              \
  }
FILTER_BIQUAD_GETTER(pfreq, pfreq, v_float)
FILTER_BIQUAD_GETTER(prad, prad, v_float)
FILTER_BIQUAD_GETTER(zfreq, zfreq, v_float)
FILTER_BIQUAD_GETTER(zrad, zrad, v_float)
FILTER_BIQUAD_GETTER(norm, norm, v_int)
FILTER_BIQUAD_GETTER(pregain, a0, v_float)
FILTER_BIQUAD_GETTER(a0, a0, v_float)
FILTER_BIQUAD_GETTER(a1, a1, v_float)
FILTER_BIQUAD_GETTER(a2, a2, v_float)
FILTER_BIQUAD_GETTER(b0, b0, v_float)
FILTER_BIQUAD_GETTER(b1, b1, v_float)
FILTER_BIQUAD_GETTER(b2, b2, v_float)
#undef FILTER_BIQUAD_GETTER

void BiQuad_ctrl_pfreq(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                       Chip_VM_Shred* SHRED) {
  (void)SHRED;
  BiQuad_Data* d = biquad(SELF);
  d->pfreq = biquad_freq(d, ARGS, d->pfreq);
  biquad_pole_update(d);
  RETURN->v_float = d->pfreq;
}

void BiQuad_ctrl_prad(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                      Chip_VM_Shred* SHRED) {
  (void)SHRED;
  BiQuad_Data* d = biquad(SELF);
  // Poles stay strictly inside the unit circle.
  d->prad = clamp(next_value(ARGS, d->prad), -FILTER_MAX_POLE_RADIUS, FILTER_MAX_POLE_RADIUS);
  biquad_pole_update(d);
  RETURN->v_float = d->prad;
}

void BiQuad_ctrl_zfreq(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                       Chip_VM_Shred* SHRED) {
  (void)SHRED;
  BiQuad_Data* d = biquad(SELF);
  d->zfreq = biquad_freq(d, ARGS, d->zfreq);
  biquad_zero_update(d);
  RETURN->v_float = d->zfreq;
}

void BiQuad_ctrl_zrad(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                      Chip_VM_Shred* SHRED) {
  (void)SHRED;
  BiQuad_Data* d = biquad(SELF);
  d->zrad = clamp(next_value(ARGS, d->zrad), -FILTER_MAX_ZERO_RADIUS, FILTER_MAX_ZERO_RADIUS);
  biquad_zero_update(d);
  RETURN->v_float = d->zrad;
}

void BiQuad_ctrl_norm(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                      Chip_VM_Shred* SHRED) {
  (void)SHRED;
  BiQuad_Data* d = biquad(SELF);
  void* cursor = ARGS;
  d->norm = GET_NEXT_INT(cursor);
  biquad_pole_update(d);
  RETURN->v_int = d->norm;
}

void BiQuad_ctrl_eqzs(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                      Chip_VM_Shred* SHRED) {
  (void)SHRED;
  BiQuad_Data* d = biquad(SELF);
  void* cursor = ARGS;
  const t_CPINT value = GET_NEXT_INT(cursor);
  if (value != 0) {
    // Equal-gain zeros at DC and Nyquist.
    d->b0 = 1.0;
    d->b1 = 0.0;
    d->b2 = -1.0;
  }
  RETURN->v_int = value;
}

#define FILTER_BIQUAD_COEFFICIENT(name, field)                                            \
  void BiQuad_ctrl_##name(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,          \
                          Chip_VM_Shred* SHRED) {                                         \
    (void)SHRED;                                                                          \
    BiQuad_Data* d = biquad(SELF);                                                        \
    d->field = coefficient(ARGS, d->field);                                               \
    RETURN->v_float = d->field;                                                           \
  }
FILTER_BIQUAD_COEFFICIENT(pregain, a0)
FILTER_BIQUAD_COEFFICIENT(a0, a0)
FILTER_BIQUAD_COEFFICIENT(a1, a1)
FILTER_BIQUAD_COEFFICIENT(a2, a2)
FILTER_BIQUAD_COEFFICIENT(b0, b0)
FILTER_BIQUAD_COEFFICIENT(b1, b1)
FILTER_BIQUAD_COEFFICIENT(b2, b2)
#undef FILTER_BIQUAD_COEFFICIENT

// ---------------------------------------------------------------------------
// Teabox

void Teabox_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  auto* d = static_cast<Teabox_Data*>(std::calloc(1, sizeof(Teabox_Data)));
  CHIP_CHECK(d != NULL);
  std::free(frame_take_state<void>(SELF, FilterBasic_offset_data));
  frame_set_state(SELF, FilterBasic_offset_data, d);
}

unsigned long Teabox_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  Teabox_Data* d = teabox(SELF);
  const double x = in;
  if (x < 0.0 || d->counter > 9) {
    // A frame starts (the marker itself goes into no slot), or an overlong
    // frame restarts the count.
    if (d->last < 0.0) d->raw = d->last;
    d->counter = 0;
  } else {
    const t_CPINT c = d->counter;
    if (c == 0) {
      d->lead = 8.0 * x;
    } else if (c <= 8) {
      d->analog[c - 1] = 8.0 * x;
    } else {
      d->raw = 8.0 * x;
    }
    d->counter = c + 1;
  }
  d->last = x;
  if (d->raw < 0.0) {
    // The 16-bit pattern of the negative word.
    const uint32_t n = static_cast<uint32_t>(truncate_int32(d->raw * 32768.0));
    d->bits = static_cast<t_CPINT>((n ^ static_cast<uint32_t>(-32768)) + 32768u);
  } else {
    d->bits = truncate_int32(d->raw * 4096.0);
  }
  *out = in;
  return 1;
}

unsigned long Teabox_pmsg(Chip_Object* SELF, const char* msg, void* ARGS, Chip_VM_Shred* SHRED) {
  return FilterBasic_pmsg(SELF, msg, ARGS, SHRED);
}

void Teabox_cget_analog(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                        Chip_VM_Shred* SHRED) {
  (void)SHRED;
  void* cursor = ARGS;
  const t_CPINT which = clamp_index(GET_NEXT_INT(cursor), 7);
  RETURN->v_float = teabox(SELF)->analog[which];
}

void Teabox_cget_digital(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                         Chip_VM_Shred* SHRED) {
  (void)SHRED;
  void* cursor = ARGS;
  const t_CPINT which = clamp_index(GET_NEXT_INT(cursor), 15);
  const uint32_t bits = static_cast<uint32_t>(teabox(SELF)->bits);
  RETURN->v_float = ((bits >> which) & 1u) ? 1.0 : 0.0;
}
