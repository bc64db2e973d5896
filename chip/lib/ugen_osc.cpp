// The osc module: phase-accumulating oscillators and wave-table generators.
#include "chip/lib/ugen_osc.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <span>

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

// The increment of hz at rate srate, in [0, 1) (negative frequencies run
// backwards: -0.01 becomes 0.99).
double increment_of(double hz, t_CPUINT srate) {
  if (srate == 0) return 0.0;
  return wrap_unit(hz / static_cast<double>(srate));
}

// The triangle of rising share `width`, for phase p (see the header).
double triangle(double p, double width) {
  double q = p + 0.25;
  if (q > 1.0) q -= 1.0;
  if (q < width) return width == 0.0 ? 1.0 : 2.0 * q / width - 1.0;
  if (width == 1.0) return 0.0;
  return 1.0 - 2.0 * (q - width) / (1.0 - width);
}

// Lists are cut to 99 values (CurveTable has its own limit).
const size_t kMaxListed = 99;
// Largest number of CurveTable segments (a third of its list, rounded down).
const size_t kMaxCurveSegments = 255;

// The first values of a list that a builder reads.
std::span<const double> listed(const std::vector<double>& c) {
  return std::span<const double>(c.data(), std::min(c.size(), kMaxListed));
}

// The end of a segment that starts at point `start` and lasts `length` of
// the table, as a whole position (may lie beyond the table).
double segment_end(double start, double length) {
  return std::floor(start + length * GENX_TABLE_SIZE);
}

}  // namespace

// ---------------------------------------------------------------------------
// Oscillator.

Oscillator::Oscillator(t_CPUINT srate, double width) : srate_(srate), width_(width) {
  num_ = increment_of(freq_, srate_);
}

double Oscillator::setFreq(double hz) {
  freq_ = finite_freq(hz);
  num_ = increment_of(freq_, srate_);
  return freq_;
}

double Oscillator::setPeriod(double samples) {
  freq_ = samples == 0.0 ? 0.0 : finite_freq(static_cast<double>(srate_) / samples);
  num_ = increment_of(freq_, srate_);
  return samples;
}

double Oscillator::period() const {
  return freq_ == 0.0 ? 0.0 : static_cast<double>(srate_) / freq_;
}

double Oscillator::setPhase(double p) {
  phase_ = wrap_unit(p);
  return phase_;
}

t_CPINT Oscillator::setSync(t_CPINT mode) {
  if (mode < 0 || mode > 2) mode = 0;
  // Back to free running: the step skipped while the input held the phase.
  if (mode == 0 && sync_ != 0) advance();
  sync_ = mode;
  return sync_;
}

double Oscillator::setWidth(double w) {
  if (w >= 1.0) {
    width_ = 1.0;
  } else if (w <= 0.0) {
    width_ = 0.0;
  } else if (w == w) {  // NaN keeps the width
    width_ = w;
  }
  return width_;
}

double Oscillator::setSawWidth(double w) {
  width_ = w < 0.5 ? 0.0 : 1.0;
  return width_;
}

double Oscillator::resetWidth() {
  width_ = 0.5;
  return width_;
}

bool Oscillator::input(double x, bool connected) {
  if (!connected) return true;
  switch (sync_) {
    case 0:  // frequency from the input
      freq_ = finite_freq(x);
      num_ = increment_of(freq_, srate_);
      return true;
    case 1:  // phase from the input: a phase within [0, 1] is kept as is
      phase_ = (x >= 0.0 && x <= 1.0) ? x : wrap_unit(x);
      return false;
    case 2:  // frequency modulation around freq
      num_ = increment_of(freq_ + finite_freq(x), srate_);
      return true;
    default:
      return true;
  }
}

// One step of the phase: phase in [0, 1], increment in [0, 1), so one
// subtraction brings the sum back.
void Oscillator::advance() {
  phase_ += num_;
  if (phase_ > 1.0) phase_ -= 1.0;
}

template <typename Shape>
SAMPLE Oscillator::run(SAMPLE in, bool connected, Shape shape) {
  const bool step = input(static_cast<double>(in), connected);
  const SAMPLE out = static_cast<SAMPLE>(shape(phase_, width_));
  if (step) advance();
  return out;
}

template <typename Shape>
void Oscillator::runBlock(const SAMPLE* in, SAMPLE* out, unsigned long frames, bool connected,
                          Shape shape) {
  if (connected) {
    for (unsigned long j = 0; j < frames; j++) out[j] = run(in[j], true, shape);
    return;
  }
  // advance() with the phase held locally.
  double phase = phase_;
  const double step = num_;
  const double width = width_;
  for (unsigned long j = 0; j < frames; j++) {
    out[j] = static_cast<SAMPLE>(shape(phase, width));
    phase += step;
    if (phase > 1.0) phase -= 1.0;
  }
  phase_ = phase;
}

namespace {

// The waveforms of a phase and a width (each of its own type, so that
// every tick is compiled with its shape inline).
constexpr auto phasor_shape = [](double p, double) { return p; };
constexpr auto sine_shape = [](double p, double) { return std::sin(kTwoPi * p); };
constexpr auto triangle_shape = [](double p, double width) { return triangle(p, width); };
constexpr auto pulse_shape = [](double p, double width) { return p < width ? 1.0 : -1.0; };

}  // namespace

SAMPLE Oscillator::tickPhasor(SAMPLE in, bool connected) {
  return run(in, connected, phasor_shape);
}

SAMPLE Oscillator::tickSine(SAMPLE in, bool connected) { return run(in, connected, sine_shape); }

SAMPLE Oscillator::tickTriangle(SAMPLE in, bool connected) {
  return run(in, connected, triangle_shape);
}

SAMPLE Oscillator::tickPulse(SAMPLE in, bool connected) { return run(in, connected, pulse_shape); }

void Oscillator::tickPhasor(const SAMPLE* in, SAMPLE* out, unsigned long frames, bool connected) {
  runBlock(in, out, frames, connected, phasor_shape);
}

void Oscillator::tickSine(const SAMPLE* in, SAMPLE* out, unsigned long frames, bool connected) {
  runBlock(in, out, frames, connected, sine_shape);
}

void Oscillator::tickTriangle(const SAMPLE* in, SAMPLE* out, unsigned long frames,
                              bool connected) {
  runBlock(in, out, frames, connected, triangle_shape);
}

void Oscillator::tickPulse(const SAMPLE* in, SAMPLE* out, unsigned long frames, bool connected) {
  runBlock(in, out, frames, connected, pulse_shape);
}

// ---------------------------------------------------------------------------
// Wave_Table.

// Linearly interpolated between the point below and the next one, both
// modulo the table size.
double Wave_Table::read(double p) const {
  if (!std::isfinite(p)) p = 0.0;
  p = std::fmod(std::fabs(p), static_cast<double>(GENX_TABLE_SIZE));
  const int i = static_cast<int>(p);
  const double f = p - i;
  const int below = i % GENX_TABLE_SIZE;
  const int above = (i + 1) % GENX_TABLE_SIZE;
  return f * table[above] + (1.0 - f) * table[below];
}

SAMPLE Wave_Table::lookup(double which) const {
  // Over 4095 points: lookup(1) reads the last point.
  return static_cast<SAMPLE>(read(which * (GENX_TABLE_SIZE - 1)));
}

SAMPLE Wave_Table::tick(SAMPLE in, bool connected) const {
  const double p = connected ? static_cast<double>(in) * GENX_TABLE_SIZE : 0.0;
  return static_cast<SAMPLE>(read(p));
}

// An overflowing partial or a hostile value must not leave NaN in a table
// that is read forever.
void Wave_Table::settle() {
  for (double& v : table) {
    if (!std::isfinite(v)) v = 0.0;
  }
}

void Wave_Table::normalise() {
  settle();
  double peak = 0.0;
  for (double v : table) peak = std::max(peak, std::fabs(v));
  if (peak == 0.0) return;
  for (double& v : table) v /= peak;
}

void Wave_Table::gen5(const std::vector<double>& list) {
  const std::span<const double> c = listed(list);
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
    table[first] = e;
    if (!(length > 0.0)) {
      e = g;
      continue;
    }
    const double h = length * GENX_TABLE_SIZE;
    const double end = std::min(segment_end(start, length), double(GENX_TABLE_SIZE));
    const double ratio = std::pow(g / e, 1.0 / h);
    for (int j = first + 1; j < static_cast<int>(end); j++) table[j] = ratio * table[j - 1];
    start = std::max(end, start);
    e = g;
  }
  normalise();
}

void Wave_Table::gen7(const std::vector<double>& list) {
  const std::span<const double> c = listed(list);
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
      table[j] = e + (g - e) * (j - start) / span;
    }
    start = std::min(std::max(end, start), double(GENX_TABLE_SIZE));
    e = g;
  }
  normalise();
}

void Wave_Table::gen9(const std::vector<double>& list) {
  const std::span<const double> c = listed(list);
  for (size_t k = c.size(); k >= 3; k -= 3) {
    const double ratio = c[k - 3];
    const double amp = c[k - 2];
    const double phase = c[k - 1] / 360.0;
    if (amp == 0.0) continue;
    for (int j = 0; j < GENX_TABLE_SIZE; j++) {
      table[j] += amp * std::sin(kTwoPi * (j * ratio / GENX_TABLE_SIZE + phase));
    }
  }
  normalise();
}

void Wave_Table::gen10(const std::vector<double>& list) {
  const std::span<const double> c = listed(list);
  for (size_t k = 0; k < c.size(); k++) coeffs[k] = std::isfinite(c[k]) ? c[k] : 0.0;
  for (int h = GENX_MAX_COEFFS; h >= 1; h--) {
    const double amp = coeffs[h - 1];
    if (amp == 0.0) continue;
    // A whole number of points per period (1365 for the third harmonic).
    const int period = GENX_TABLE_SIZE / h;
    for (int j = 0; j < GENX_TABLE_SIZE; j++) {
      table[j] += amp * std::sin(kTwoPi * j / period);
    }
  }
  normalise();
}

void Wave_Table::gen17(const std::vector<double>& list) {
  const std::span<const double> c = listed(list);
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
    table[j] = sum;
  }
  normalise();
}

void Wave_Table::curve(const std::vector<double>& list) {
  std::vector<double> c = list;  // the whole list: its times are scaled below
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
      table[s] = u;
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
      table[s + k] = u + (v - u) * shape;
    }
  }
  settle();
}

void Wave_Table::warp(const std::vector<double>& list) {
  const std::span<const double> c = listed(list);
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
    table[j] = v;
  }
  settle();
}

// ---------------------------------------------------------------------------
// The language classes.

namespace {

// Old lower-case class names of the oscillators, old to new.
const struct {
  const char* former;
  const char* latter;
} kDeprecated[] = {{"osc", "Osc"},           {"phasor", "Phasor"},     {"sinosc", "SinOsc"},
                   {"triosc", "TriOsc"},     {"sawosc", "SawOsc"},     {"pulseosc", "PulseOsc"},
                   {"sqrosc", "SqrOsc"}};

Oscillator& osc(Frame_Slot& s) { return s.as<Oscillator>(); }
Wave_Table& wave(Frame_Slot& s) { return s.as<Wave_Table>(); }

// Whether anything feeds the object's input.
bool connected(const Frame_Slot& s) { return s.ugen->num_src > 0; }

double set_freq(Frame_Slot& s, double hz) { return osc(s).setFreq(hz); }
double set_width(Frame_Slot& s, double w) { return osc(s).setWidth(w); }
double get_width(Frame_Slot& s) { return osc(s).width(); }

// "print" shows the frequency (under the name SinOsc, for every class).
unsigned long osc_pmsg(Chip_Object* SELF, const char* msg, void*, Chip_VM_Shred*) {
  if (!msg || std::strcmp(msg, "print") != 0) return 0;
  auto* o = static_cast<Oscillator*>(frame_object(SELF, osc_offset_data));
  EM_printf("SinOsc: (freq=%f)", o ? o->freq() : 0.0);
  return 1;
}

const Frame_Member kOscMembers[] = {
    frame_prop("freq", "float", set_freq, [](Frame_Slot& s) { return osc(s).freq(); }),
    frame_prop(
        "period", "dur", [](Frame_Slot& s, double v) { return osc(s).setPeriod(v); },
        [](Frame_Slot& s) { return osc(s).period(); }),
    frame_prop("sfreq", "float", set_freq, nullptr),
    frame_prop(
        "phase", "float", [](Frame_Slot& s, double v) { return osc(s).setPhase(v); },
        [](Frame_Slot& s) { return osc(s).phase(); }),
    frame_prop(
        "sync", "int",
        [](Frame_Slot& s, double v) {
          return static_cast<double>(osc(s).setSync(static_cast<t_CPINT>(v)));
        },
        [](Frame_Slot& s) { return static_cast<double>(osc(s).sync()); }),
};

// TriOsc's and PulseOsc's width.
const Frame_Member kWidthMembers[] = {
    frame_prop("width", "float", set_width, get_width),
};

const Frame_Member kSawMembers[] = {
    frame_prop(
        "width", "float", [](Frame_Slot& s, double v) { return osc(s).setSawWidth(v); }, nullptr),
};

const Frame_Member kSqrMembers[] = {
    frame_prop("width", "float", nullptr, [](Frame_Slot& s) { return osc(s).resetWidth(); }),
};

// A waveform's tick and block tick for a row.
template <SAMPLE (Oscillator::*Tick)(SAMPLE, bool)>
SAMPLE osc_tick(Frame_Slot& s, SAMPLE in) {
  return (osc(s).*Tick)(in, connected(s));
}

template <void (Oscillator::*Tick)(const SAMPLE*, SAMPLE*, unsigned long, bool)>
void osc_block(Frame_Slot& s, const SAMPLE* in, SAMPLE* out, unsigned long frames) {
  (osc(s).*Tick)(in, out, frames, connected(s));
}

// Every subclass uses Osc's hidden member: Phasor, SawOsc and SqrOsc tick
// as their parents do.
const Frame_Class_Desc kOscClasses[] = {
    {.name = "Osc", .parent = "UGen", .data_member = "@osc_data", .offset = &osc_offset_data,
     .make = [](Chip_Object*) -> Frame_Obj* { return new Oscillator(g_srate); },
     .tick = osc_tick<&Oscillator::tickPhasor>, .pmsg = osc_pmsg,
     FRAME_MEMBER_FIELDS(kOscMembers), .tick_block = osc_block<&Oscillator::tickPhasor>},
    {.name = "Phasor", .parent = "Osc", .offset = &osc_offset_data},
    {.name = "SinOsc", .parent = "Osc", .offset = &osc_offset_data,
     .tick = osc_tick<&Oscillator::tickSine>, .tick_block = osc_block<&Oscillator::tickSine>},
    {.name = "TriOsc", .parent = "Osc", .offset = &osc_offset_data,
     .tick = osc_tick<&Oscillator::tickTriangle>, FRAME_MEMBER_FIELDS(kWidthMembers),
     .tick_block = osc_block<&Oscillator::tickTriangle>},
    // A SawOsc's oscillator replaces the one TriOsc's constructor made.
    {.name = "SawOsc", .parent = "TriOsc", .offset = &osc_offset_data,
     .make = [](Chip_Object*) -> Frame_Obj* { return new Oscillator(g_srate, 1.0); },
     FRAME_MEMBER_FIELDS(kSawMembers)},
    {.name = "PulseOsc", .parent = "Osc", .offset = &osc_offset_data,
     .tick = osc_tick<&Oscillator::tickPulse>, FRAME_MEMBER_FIELDS(kWidthMembers),
     .tick_block = osc_block<&Oscillator::tickPulse>},
    {.name = "SqrOsc", .parent = "PulseOsc", .offset = &osc_offset_data,
     FRAME_MEMBER_FIELDS(kSqrMembers)},
};

// "print" is accepted and shows nothing.
unsigned long genX_pmsg(Chip_Object*, const char* msg, void*, Chip_VM_Shred*) {
  return msg && std::strcmp(msg, "print") == 0 ? 1 : 0;
}

// The coefficient array of a coefs call, which the call also returns, and
// its values (none for a null array).
std::vector<double> coefs_arg(void* args, Chip_DL_Return* ret) {
  Chip_Object* array = GET_NEXT_OBJECT(args);
  ret->v_object = array;
  std::vector<double> c;
  auto* values = static_cast<Chip_Array8*>(array);
  if (!values) return c;
  c.resize(static_cast<size_t>(values->size()));
  for (size_t k = 0; k < c.size(); k++) values->get(static_cast<t_CPWORD>(k), &c[k]);
  return c;
}

typedef void (Wave_Table::*Builder)(const std::vector<double>&);

// A table class's `float[] coefs(float v[])`: builds with its builder.
template <Builder build>
void table_coefs(Frame_Slot& s, void* args, Chip_DL_Return* ret) {
  (wave(s).*build)(coefs_arg(args, ret));
}

template <Builder build>
const Frame_Member kCoefs[1] = {
    frame_method("coefs", "float[]", table_coefs<build>, {"float", "v[]"}),
};

const Frame_Member kGenXMembers[] = {
    frame_method(
        "lookup", "float",
        [](Frame_Slot& s, void* args, Chip_DL_Return* ret) {
          ret->v_float = wave(s).lookup(GET_NEXT_FLOAT(args));
        },
        {"float", "which"}),
    // GenX itself has no builder.
    frame_method(
        "coefs", "float[]",
        [](Frame_Slot&, void* args, Chip_DL_Return* ret) {
          coefs_arg(args, ret);
          EM_printf("[chip](via GenX): .coeffs called on abstract base class!\n");
        },
        {"float", "v[]"}),
};

// The table classes share GenX's hidden member and tick.
SAMPLE table_tick(Frame_Slot& s, SAMPLE in) { return wave(s).tick(in, connected(s)); }

const Frame_Class_Desc kTableClasses[] = {
    {.name = "GenX", .parent = "UGen", .data_member = "@GenX_data", .offset = &genX_offset_data,
     .make = [](Chip_Object*) -> Frame_Obj* { return new Wave_Table; }, .tick = table_tick,
     .pmsg = genX_pmsg, FRAME_MEMBER_FIELDS(kGenXMembers),
     .tick_block = frame_block_of<table_tick>},
    {.name = "Gen5", .parent = "GenX", .offset = &genX_offset_data,
     FRAME_MEMBER_FIELDS(kCoefs<&Wave_Table::gen5>)},
    {.name = "Gen7", .parent = "GenX", .offset = &genX_offset_data,
     FRAME_MEMBER_FIELDS(kCoefs<&Wave_Table::gen7>)},
    {.name = "Gen9", .parent = "GenX", .offset = &genX_offset_data,
     FRAME_MEMBER_FIELDS(kCoefs<&Wave_Table::gen9>)},
    {.name = "Gen10", .parent = "GenX", .offset = &genX_offset_data,
     FRAME_MEMBER_FIELDS(kCoefs<&Wave_Table::gen10>)},
    {.name = "Gen17", .parent = "GenX", .offset = &genX_offset_data,
     FRAME_MEMBER_FIELDS(kCoefs<&Wave_Table::gen17>)},
    {.name = "CurveTable", .parent = "GenX", .offset = &genX_offset_data,
     FRAME_MEMBER_FIELDS(kCoefs<&Wave_Table::curve>)},
    {.name = "WarpTable", .parent = "GenX", .offset = &genX_offset_data,
     FRAME_MEMBER_FIELDS(kCoefs<&Wave_Table::warp>)},
};

}  // namespace

// ---------------------------------------------------------------------------
// Registration.

t_CPBOOL osc_query(Chip_DL_Query* QUERY) {
  g_srate = static_cast<t_CPUINT>(QUERY->srate);
  Chip_Env* env = Chip_Env::instance();
  CHIP_CHECK(env != NULL);

  for (const auto& pair : kDeprecated)
    type_engine_register_deprecate(env, pair.former, pair.latter);
  if (!frame_import_classes(env, kOscClasses, sizeof kOscClasses / sizeof kOscClasses[0])) {
    return FALSE;
  }
  return genX_query(QUERY);
}

t_CPBOOL genX_query(Chip_DL_Query*) {
  Chip_Env* env = Chip_Env::instance();
  CHIP_CHECK(env != NULL);
  return frame_import_classes(env, kTableClasses, sizeof kTableClasses / sizeof kTableClasses[0]);
}

void osc_forget_types() { osc_offset_data = genX_offset_data = FRAME_NO_OFFSET; }
