// The osc module: phase-accumulating oscillators and wave-table generators.
#include "chip/lib/ugen_osc.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/ugen_frame.h"

// The module's sampling rate, copied from the registration.
static t_CPUINT g_srate = 0;

t_CPWORD osc_offset_data = FRAME_NO_OFFSET;
t_CPWORD genX_offset_data = FRAME_NO_OFFSET;

namespace {

const double kTwoPi = 2.0 * std::numbers::pi;

// Old lower-case class names of the oscillators, old to new.
const struct {
  const char* former;
  const char* latter;
} kDeprecated[] = {{"osc", "Osc"},           {"phasor", "Phasor"},     {"sinosc", "SinOsc"},
                   {"triosc", "TriOsc"},     {"sawosc", "SawOsc"},     {"pulseosc", "PulseOsc"},
                   {"sqrosc", "SqrOsc"}};

// ---------------------------------------------------------------------------
// Oscillator arithmetic.

Osc_Data* osc_of(Chip_Object* self) {
  Osc_Data* d = frame_state<Osc_Data>(self, osc_offset_data);
  CHIP_CHECK(d != NULL);
  return d;
}

// x reduced into [0, 1) by its floor; 0 for a non-finite x. (For huge x the
// result is 0: a double that large has no fractional part.)
double wrap_unit(double x) {
  if (!std::isfinite(x)) return 0.0;
  if (x >= 1.0 || x < 0.0) {
    x -= std::floor(x);
    if (x >= 1.0) x = 0.0;  // a tiny negative x rounds up to 1.0
  }
  return x;
}

// A frequency as stored: a non-finite one counts as 0 Hz.
double finite_freq(double hz) { return std::isfinite(hz) ? hz : 0.0; }

// The increment of hz at the oscillator's rate, in [0, 1) (negative
// frequencies run backwards: -0.01 becomes 0.99).
double increment(const Osc_Data* d, double hz) {
  if (d->srate == 0) return 0.0;
  return wrap_unit(hz / static_cast<double>(d->srate));
}

// Applies the input by the sync mode, when something is connected; true
// when the phase is to advance after this sample.
bool osc_input(Chip_Object* self, Osc_Data* d, double x) {
  if (frame_ugen(self)->num_src == 0) return true;
  switch (d->sync) {
    case 0:  // frequency from the input
      d->freq = finite_freq(x);
      d->num = increment(d, d->freq);
      return true;
    case 1:  // phase from the input: a phase within [0, 1] is kept as is
      d->phase = (x >= 0.0 && x <= 1.0) ? x : wrap_unit(x);
      return false;
    case 2:  // frequency modulation around freq
      d->num = increment(d, d->freq + finite_freq(x));
      return true;
    default:
      return true;
  }
}

// One step of the phase: phase in [0, 1], num in [0, 1), so one
// subtraction brings the sum back.
void osc_advance(Osc_Data* d) {
  d->phase += d->num;
  if (d->phase > 1.0) d->phase -= 1.0;
}

// The triangle of rising share `width`, for phase p (see the header).
double triangle(double p, double width) {
  double q = p + 0.25;
  if (q > 1.0) q -= 1.0;
  if (q < width) return width == 0.0 ? 1.0 : 2.0 * q / width - 1.0;
  if (width == 1.0) return 0.0;
  return 1.0 - 2.0 * (q - width) / (1.0 - width);
}

// The common tick: input, one sample of `shape` from the phase, advance.
template <typename Shape>
unsigned long osc_run(Chip_Object* self, SAMPLE in, SAMPLE* out, Shape shape) {
  Osc_Data* d = osc_of(self);
  const bool advance = osc_input(self, d, static_cast<double>(in));
  *out = static_cast<SAMPLE>(shape(d));
  if (advance) osc_advance(d);
  return 1;
}

t_CPFLOAT arg_float(void* args) {
  void* cursor = args;
  return GET_NEXT_FLOAT(cursor);
}

// ---------------------------------------------------------------------------
// Wave-table arithmetic.

GenX_Data* genX_of(Chip_Object* self) {
  GenX_Data* d = frame_state<GenX_Data>(self, genX_offset_data);
  CHIP_CHECK(d != NULL);
  return d;
}

// The table at position p (in points), linearly interpolated between the
// point below and the next one, both modulo the table size.
double table_read(const GenX_Data* d, double p) {
  if (!std::isfinite(p)) p = 0.0;
  p = std::fmod(std::fabs(p), static_cast<double>(GENX_TABLE_SIZE));
  const int i = static_cast<int>(p);
  const double f = p - i;
  const int below = i % GENX_TABLE_SIZE;
  const int above = (i + 1) % GENX_TABLE_SIZE;
  return f * d->table[above] + (1.0 - f) * d->table[below];
}

// The first `limit` values of the coefficient array (none for a null
// array).
std::vector<double> coefficients(Chip_Object* array, size_t limit) {
  std::vector<double> c;
  auto* values = static_cast<Chip_Array8*>(array);
  if (!values) return c;
  const size_t n = std::min(static_cast<size_t>(values->size()), limit);
  c.resize(n);
  for (size_t k = 0; k < n; k++) values->get(static_cast<t_CPWORD>(k), &c[k]);
  return c;
}

// Non-finite entries become 0 (an overflowing partial or a hostile value
// must not leave NaN in a table that is read forever).
void settle(GenX_Data* d) {
  for (double& v : d->table) {
    if (!std::isfinite(v)) v = 0.0;
  }
}

// Divides the table by its largest magnitude; a table of zeros stays so.
void normalise(GenX_Data* d) {
  settle(d);
  double peak = 0.0;
  for (double v : d->table) peak = std::max(peak, std::fabs(v));
  if (peak == 0.0) return;
  for (double& v : d->table) v /= peak;
}

// The coefficient array from a coefs call, which the call also returns.
Chip_Object* coefs_arg(void* args, Chip_DL_Return* ret) {
  void* cursor = args;
  Chip_Object* array = GET_NEXT_OBJECT(cursor);
  ret->v_object = array;
  return array;
}

// Lists are cut to 99 values (CurveTable has its own limit).
const size_t kMaxListed = 99;
// Largest number of CurveTable segments (a third of its list, rounded down).
const size_t kMaxCurveSegments = 255;

// The end of a segment that starts at point `start` and lasts `length` of
// the table, as a whole position (may lie beyond the table).
double segment_end(double start, double length) {
  return std::floor(start + length * GENX_TABLE_SIZE);
}

}  // namespace

// ---------------------------------------------------------------------------
// Registration.

t_CPBOOL osc_query(Chip_DL_Query* QUERY) {
  g_srate = static_cast<t_CPUINT>(QUERY->srate);
  Chip_Env* env = Chip_Env::instance();
  CHIP_CHECK(env != NULL);

  for (const auto& pair : kDeprecated)
    type_engine_register_deprecate(env, pair.former, pair.latter);

  // Osc: the state, the common members, the phase ramp.
  if (!type_engine_import_ugen_begin(env, "Osc", "UGen", env->global(), osc_ctor, osc_dtor,
                                     osc_tick, osc_pmsg)) {
    return FALSE;
  }
  t_CPWORD offset = frame_import_state(env, "@osc_data");
  if (offset == FRAME_NO_OFFSET) return frame_fail(env);
  osc_offset_data = offset;
  if (!frame_import_mfun(env, "float", "freq", osc_ctrl_freq, {{"float", "hz"}}) ||
      !frame_import_mfun(env, "float", "freq", osc_cget_freq) ||
      !frame_import_mfun(env, "dur", "period", osc_ctrl_period, {{"dur", "value"}}) ||
      !frame_import_mfun(env, "dur", "period", osc_cget_period) ||
      !frame_import_mfun(env, "float", "sfreq", osc_ctrl_freq, {{"float", "hz"}}) ||
      !frame_import_mfun(env, "float", "phase", osc_ctrl_phase, {{"float", "phase"}}) ||
      !frame_import_mfun(env, "float", "phase", osc_cget_phase) ||
      !frame_import_mfun(env, "int", "sync", osc_ctrl_sync, {{"int", "type"}}) ||
      !frame_import_mfun(env, "int", "sync", osc_cget_sync)) {
    return frame_fail(env);
  }
  if (!type_engine_import_class_end(env)) return FALSE;

  // The subclasses differ by tick, constructor and width members.
  struct Kind {
    const char* name;
    const char* parent;
    f_ctor ctor;
    f_tick tick;
    f_mfun width_set;  // null: none of its own
    f_mfun width_get;
  };
  const Kind kinds[] = {
      {"Phasor", "Osc", nullptr, osc_tick, nullptr, nullptr},
      {"SinOsc", "Osc", nullptr, sinosc_tick, nullptr, nullptr},
      {"TriOsc", "Osc", nullptr, triosc_tick, osc_ctrl_width, osc_cget_width},
      {"SawOsc", "TriOsc", sawosc_ctor, nullptr, sawosc_ctrl_width, nullptr},
      {"PulseOsc", "Osc", nullptr, pulseosc_tick, osc_ctrl_width, osc_cget_width},
      {"SqrOsc", "PulseOsc", sqrosc_ctor, nullptr, nullptr, sqrosc_ctrl_width},
  };
  for (const Kind& kind : kinds) {
    if (!type_engine_import_ugen_begin(env, kind.name, kind.parent, env->global(), kind.ctor,
                                       nullptr, kind.tick, nullptr)) {
      return FALSE;
    }
    if (kind.width_set &&
        !frame_import_mfun(env, "float", "width", kind.width_set, {{"float", "width"}})) {
      return frame_fail(env);
    }
    if (kind.width_get && !frame_import_mfun(env, "float", "width", kind.width_get)) {
      return frame_fail(env);
    }
    if (!type_engine_import_class_end(env)) return FALSE;
  }

  return genX_query(QUERY);
}

t_CPBOOL genX_query(Chip_DL_Query* QUERY) {
  (void)QUERY;
  Chip_Env* env = Chip_Env::instance();
  CHIP_CHECK(env != NULL);

  if (!type_engine_import_ugen_begin(env, "GenX", "UGen", env->global(), genX_ctor, genX_dtor,
                                     genX_tick, genX_pmsg)) {
    return FALSE;
  }
  t_CPWORD offset = frame_import_state(env, "@GenX_data");
  if (offset == FRAME_NO_OFFSET) return frame_fail(env);
  genX_offset_data = offset;
  if (!frame_import_mfun(env, "float", "lookup", genX_lookup, {{"float", "which"}}) ||
      !frame_import_mfun(env, "float[]", "coefs", genX_coeffs, {{"float", "v[]"}})) {
    return frame_fail(env);
  }
  if (!type_engine_import_class_end(env)) return FALSE;

  const struct {
    const char* name;
    f_mfun coefs;
  } tables[] = {{"Gen5", gen5_coeffs},   {"Gen7", gen7_coeffs},         {"Gen9", gen9_coeffs},
                {"Gen10", gen10_coeffs}, {"Gen17", gen17_coeffs},       {"CurveTable", curve_coeffs},
                {"WarpTable", warp_coeffs}};
  for (const auto& table : tables) {
    if (!type_engine_import_ugen_begin(env, table.name, "GenX", env->global(), nullptr, nullptr,
                                       genX_tick, nullptr)) {
      return FALSE;
    }
    if (!frame_import_mfun(env, "float[]", "coefs", table.coefs, {{"float", "v[]"}})) {
      return frame_fail(env);
    }
    if (!type_engine_import_class_end(env)) return FALSE;
  }
  return TRUE;
}

void osc_forget_types() { osc_offset_data = genX_offset_data = FRAME_NO_OFFSET; }

// ---------------------------------------------------------------------------
// Oscillators.

void osc_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  auto* d = new Osc_Data;
  d->freq = 220.0;
  d->sync = 0;
  d->srate = g_srate;
  d->width = 0.5;
  d->phase = 0.0;
  d->num = increment(d, d->freq);
  frame_set_state(SELF, osc_offset_data, d);
}

void osc_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  delete frame_take_state<Osc_Data>(SELF, osc_offset_data);
}

unsigned long osc_pmsg(Chip_Object* SELF, const char* msg, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  if (!msg || std::strcmp(msg, "print") != 0) return 0;
  EM_printf("SinOsc: (freq=%f)", osc_of(SELF)->freq);
  return 1;
}

void sawosc_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  osc_of(SELF)->width = 1.0;
}

void sqrosc_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  osc_of(SELF)->width = 0.5;
}

unsigned long osc_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  return osc_run(SELF, in, out, [](const Osc_Data* d) { return d->phase; });
}

unsigned long sinosc_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  return osc_run(SELF, in, out, [](const Osc_Data* d) { return std::sin(kTwoPi * d->phase); });
}

unsigned long triosc_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  return osc_run(SELF, in, out, [](const Osc_Data* d) { return triangle(d->phase, d->width); });
}

unsigned long pulseosc_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  return osc_run(SELF, in, out,
                 [](const Osc_Data* d) { return d->phase < d->width ? 1.0 : -1.0; });
}

void osc_ctrl_freq(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  Osc_Data* d = osc_of(SELF);
  d->freq = finite_freq(arg_float(ARGS));
  d->num = increment(d, d->freq);
  RETURN->v_float = d->freq;
}

void osc_cget_freq(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  RETURN->v_float = osc_of(SELF)->freq;
}

void osc_ctrl_period(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                     Chip_VM_Shred* SHRED) {
  (void)SHRED;
  Osc_Data* d = osc_of(SELF);
  const t_CPDUR value = arg_float(ARGS);
  d->freq = value == 0.0 ? 0.0 : finite_freq(static_cast<double>(d->srate) / value);
  d->num = increment(d, d->freq);
  RETURN->v_dur = value;
}

void osc_cget_period(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                     Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  const Osc_Data* d = osc_of(SELF);
  RETURN->v_dur = d->freq == 0.0 ? 0.0 : static_cast<double>(d->srate) / d->freq;
}

void osc_ctrl_phase(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  Osc_Data* d = osc_of(SELF);
  d->phase = wrap_unit(arg_float(ARGS));
  RETURN->v_float = d->phase;
}

void osc_cget_phase(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  RETURN->v_float = osc_of(SELF)->phase;
}

void osc_ctrl_sync(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  Osc_Data* d = osc_of(SELF);
  void* cursor = ARGS;
  t_CPINT mode = GET_NEXT_INT(cursor);
  if (mode < 0 || mode > 2) mode = 0;
  // Back to free running: the step skipped while the input held the phase.
  if (mode == 0 && d->sync != 0) osc_advance(d);
  d->sync = mode;
  RETURN->v_int = mode;
}

void osc_cget_sync(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  RETURN->v_int = osc_of(SELF)->sync;
}

void osc_ctrl_width(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  Osc_Data* d = osc_of(SELF);
  const t_CPFLOAT w = arg_float(ARGS);
  if (w >= 1.0) {
    d->width = 1.0;
  } else if (w <= 0.0) {
    d->width = 0.0;
  } else if (w == w) {  // NaN keeps the width
    d->width = w;
  }
  RETURN->v_float = d->width;
}

void osc_cget_width(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  RETURN->v_float = osc_of(SELF)->width;
}

void sawosc_ctrl_width(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                       Chip_VM_Shred* SHRED) {
  (void)SHRED;
  Osc_Data* d = osc_of(SELF);
  d->width = arg_float(ARGS) < 0.5 ? 0.0 : 1.0;
  RETURN->v_float = d->width;
}

void sqrosc_ctrl_width(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                       Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  Osc_Data* d = osc_of(SELF);
  d->width = 0.5;
  RETURN->v_float = d->width;
}

// ---------------------------------------------------------------------------
// Wave tables.

void genX_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  auto* d = new GenX_Data();
  d->srate = g_srate;
  frame_set_state(SELF, genX_offset_data, d);
}

void genX_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  delete frame_take_state<GenX_Data>(SELF, genX_offset_data);
}

unsigned long genX_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  const GenX_Data* d = genX_of(SELF);
  // Without an input the table's first point.
  const double p = frame_ugen(SELF)->num_src > 0 ? static_cast<double>(in) * GENX_TABLE_SIZE : 0.0;
  *out = static_cast<SAMPLE>(table_read(d, p));
  return 1;
}

unsigned long genX_pmsg(Chip_Object* SELF, const char* msg, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)SELF;
  (void)ARGS;
  (void)SHRED;
  return msg && std::strcmp(msg, "print") == 0 ? 1 : 0;
}

void genX_lookup(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  const GenX_Data* d = genX_of(SELF);
  // Over 4095 points: lookup(1) reads the last point.
  const double p = arg_float(ARGS) * (GENX_TABLE_SIZE - 1);
  RETURN->v_float = static_cast<SAMPLE>(table_read(d, p));
}

void genX_coeffs(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SELF;
  (void)SHRED;
  coefs_arg(ARGS, RETURN);
  EM_printf("[chip](via GenX): .coeffs called on abstract base class!\n");
}

// Exponential segments: value0, length1, value1, length2, value2, ...
void gen5_coeffs(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  GenX_Data* d = genX_of(SELF);
  const std::vector<double> c = coefficients(coefs_arg(ARGS, RETURN), kMaxListed);
  const size_t n = c.size();
  // An exponential never reaches 0: values at or below it (and NaN) become
  // a millionth.
  auto value = [&](size_t k) {
    const double v = k < n ? c[k] : 0.0;
    return v > 0.0 ? v : 0.000001;
  };
  double start = 0.0;  // whole position of the segment's first point
  double e = value(0);
  for (size_t k = 1; k < n; k += 2) {
    const double length = c[k];
    const double g = value(k + 1);
    // A segment of no positive length only moves the value (a jump).
    if (start >= GENX_TABLE_SIZE) break;
    const int first = static_cast<int>(start);
    d->table[first] = e;
    if (!(length > 0.0)) {
      e = g;
      continue;
    }
    const double h = length * GENX_TABLE_SIZE;
    const double end = std::min(segment_end(start, length), double(GENX_TABLE_SIZE));
    const double ratio = std::pow(g / e, 1.0 / h);
    for (int j = first + 1; j < static_cast<int>(end); j++) d->table[j] = ratio * d->table[j - 1];
    start = std::max(end, start);
    e = g;
  }
  normalise(d);
}

// Line segments: value0, length1, value1, length2, value2, ...
void gen7_coeffs(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  GenX_Data* d = genX_of(SELF);
  const std::vector<double> c = coefficients(coefs_arg(ARGS, RETURN), kMaxListed);
  const size_t n = c.size();
  auto at = [&](size_t k) { return k < n ? c[k] : 0.0; };
  double start = 0.0;
  double e = at(0);
  // The first segment always runs (missing numbers count as 0).
  for (size_t k = 1; k == 1 || k < n; k += 2) {
    const double length = at(k);
    const double g = at(k + 1);
    if (!(length > 0.0) || start >= GENX_TABLE_SIZE) {
      e = g;
      continue;
    }
    // The slope follows the true end even when it lies past the table.
    const double end = segment_end(start, length);
    const double span = end - start;
    const int last = static_cast<int>(std::min(end, double(GENX_TABLE_SIZE)));
    for (int j = static_cast<int>(start); j < last; j++) {
      d->table[j] = e + (g - e) * (j - start) / span;
    }
    start = std::min(std::max(end, start), double(GENX_TABLE_SIZE));
    e = g;
  }
  normalise(d);
}

// Partials: ratio, amplitude, phase in degrees, repeated; added to the
// table, last triplet first.
void gen9_coeffs(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  GenX_Data* d = genX_of(SELF);
  const std::vector<double> c = coefficients(coefs_arg(ARGS, RETURN), kMaxListed);
  for (size_t k = c.size(); k >= 3; k -= 3) {
    const double ratio = c[k - 3];
    const double amp = c[k - 2];
    const double phase = c[k - 1] / 360.0;
    if (amp == 0.0) continue;
    for (int j = 0; j < GENX_TABLE_SIZE; j++) {
      d->table[j] += amp * std::sin(kTwoPi * (j * ratio / GENX_TABLE_SIZE + phase));
    }
  }
  normalise(d);
}

// Harmonics: amplitude of harmonic 1, 2, 3, ...; kept between calls (a
// shorter list leaves the higher ones as they were) and added to the table.
void gen10_coeffs(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  GenX_Data* d = genX_of(SELF);
  const std::vector<double> c = coefficients(coefs_arg(ARGS, RETURN), kMaxListed);
  for (size_t k = 0; k < c.size(); k++) d->coeffs[k] = std::isfinite(c[k]) ? c[k] : 0.0;
  for (int h = GENX_MAX_COEFFS; h >= 1; h--) {
    const double amp = d->coeffs[h - 1];
    if (amp == 0.0) continue;
    // A whole number of points per period (1365 for the third harmonic).
    const int period = GENX_TABLE_SIZE / h;
    for (int j = 0; j < GENX_TABLE_SIZE; j++) {
      d->table[j] += amp * std::sin(kTwoPi * j / period);
    }
  }
  normalise(d);
}

// Chebyshev polynomials: weight of T1, T2, T3, ... over x in [-1, 1].
void gen17_coeffs(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  GenX_Data* d = genX_of(SELF);
  const std::vector<double> c = coefficients(coefs_arg(ARGS, RETURN), kMaxListed);
  for (int j = 0; j < GENX_TABLE_SIZE; j++) {
    const double x = j / 2047.5 - 1.0;
    double below = 1.0;  // T(m - 1)
    double t = x;        // T(m), from m = 1
    double sum = 0.0;
    for (double weight : c) {
      sum += weight * t;
      const double next = 2.0 * x * t - below;
      below = t;
      t = next;
    }
    d->table[j] = sum;
  }
  normalise(d);
}

// Curved segments: time1, value1, curvature1, ..., timeN, valueN; times from
// 0 upwards, scaled so that the last falls on the last point.
void curve_coeffs(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  GenX_Data* d = genX_of(SELF);
  std::vector<double> c = coefficients(coefs_arg(ARGS, RETURN), SIZE_MAX);
  const size_t n = c.size();
  if (n <= 4 || n % 3 != 2) {
    EM_printf(
        "[chip](via CurveTable): usage: \n size, time1, value1, curvature1, [ timeN-1, "
        "valueN-1, curvatureN-1, ] timeN, valueN)\n");
    return;
  }
  if (n / 3 > kMaxCurveSegments) {
    EM_printf("[chip](via CurveTable): too many arguments.\n");
    return;
  }
  if (c[0] != 0.0) {
    EM_printf("[chip](via CurveTable): first time must be zero.\n");
    return;
  }
  for (size_t k = 3; k < n; k += 3) {
    if (!(c[k] >= c[k - 3])) {  // NaN is out of order too
      EM_printf("[chip](via CurveTable): times must be in ascending order.\n");
      return;
    }
  }
  // The scale below needs a span: all times at 0 would make every index NaN.
  const double last = c[n - 2];
  if (!(last > 0.0) || !std::isfinite(last)) {
    EM_printf("[chip](via CurveTable): last time must be above zero and finite.\n");
    return;
  }
  const double scale = (GENX_TABLE_SIZE - 1) / last;
  for (size_t k = 0; k < n; k += 3) c[k] *= scale;

  for (size_t i = 0; i + 2 < n; i += 3) {
    const double u = c[i + 1];
    const double a = c[i + 2];
    const double v = c[i + 4];
    const int s = std::clamp(static_cast<int>(std::floor(c[i] + 0.5)), 0, GENX_TABLE_SIZE - 1);
    const int e = std::clamp(static_cast<int>(std::floor(c[i + 3] + 0.5)), s, GENX_TABLE_SIZE - 1);
    const int len = e - s;
    if (len < 1) {
      d->table[s] = u;
      continue;
    }
    for (int k = 0; k <= len; k++) {
      const double t = static_cast<double>(k) / len;
      // (1 - exp(a t)) / (1 - exp(a)), arranged so that large curvatures
      // neither overflow nor cancel.
      double shape;
      if (a == 0.0) {
        shape = t;
      } else if (a > 0.0) {
        shape = std::exp(a * (t - 1.0)) * std::expm1(-a * t) / std::expm1(-a);
      } else {
        shape = std::expm1(a * t) / std::expm1(a);
      }
      d->table[s + k] = u + (v - u) * shape;
    }
  }
  settle(d);
}

// A warping curve over [0, 1]: asymmetric warp k1, then symmetric warp k2.
void warp_coeffs(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  GenX_Data* d = genX_of(SELF);
  const std::vector<double> c = coefficients(coefs_arg(ARGS, RETURN), kMaxListed);
  if (c.size() != 2) {
    EM_printf("[chip](via WarpTable): expects array of exactly 2 elements.\n");
    return;
  }
  const double k1 = c[0];
  const double k2 = c[1];
  for (int j = 0; j < GENX_TABLE_SIZE; j++) {
    const double x = static_cast<double>(j) / (GENX_TABLE_SIZE - 1);
    double v = k1 == 1.0 ? x : (std::pow(k1, x) - 1.0) / (k1 - 1.0);
    if (k2 != 1.0) {
      if (v >= 0.5) {
        v = (std::pow(2.0 * v - 1.0, 1.0 / k2) + 1.0) * 0.5;
      } else {
        v = (1.0 - std::pow(1.0 - 2.0 * v, 1.0 / k2)) * 0.5;
      }
    }
    d->table[j] = v;
  }
  settle(d);
}
