// The xxx module: its registration, the noises, impulse, step, rectifiers,
// the moving-head delay and the dynamics processor.
#include "chip/lib/ugen_xxx.h"

#include "chip/lib/ugen_lisa.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <new>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/ugen_frame.h"
#include "chip/vm/ugen_multi.h"

// The noises scale rand() by its range, 2^31 - 1 (as on every platform the
// instrument runs on).
static_assert(RAND_MAX == 2147483647, "rand() is expected to span 31 bits");

// The module's sampling rate, copied from the registration.
static t_CPUINT g_srate = 0;

t_CPWORD cnoise_offset_data = FRAME_NO_OFFSET;
t_CPWORD impulse_offset_data = FRAME_NO_OFFSET;
t_CPWORD step_offset_data = FRAME_NO_OFFSET;
t_CPWORD delayp_offset_data = FRAME_NO_OFFSET;
t_CPWORD dyno_offset_data = FRAME_NO_OFFSET;

namespace {

const double kRandRange = 2147483647.0;

}  // namespace

// ---------------------------------------------------------------------------
// Noise

SAMPLE white_noise_sample() {
  const float r = static_cast<float>(std::rand());
  return static_cast<SAMPLE>(2.0 * r / kRandRange - 1.0);
}

// ---------------------------------------------------------------------------
// CNoise

CNoise_Obj::CNoise_Obj() { select(CNOISE_PINK); }

bool CNoise_Obj::setMode(const std::string& name) {
  static const char* const kModes[] = {"white", "pink", "brown", "fbm", "flip", "xor"};
  for (int32_t which = 0; which < static_cast<int32_t>(std::size(kModes)); which++) {
    if (name == kModes[which]) {
      select(which);
      return true;
    }
  }
  return false;
}

void CNoise_Obj::select(int32_t which) {
  mode = which;
  bias = -1.0;
  scale = which == CNOISE_PINK ? 2.0 / ((depth + 1) * kRandRange) : 2.0 / kRandRange;
}

void CNoise_Obj::setFprob(double p) {
  const double threshold = p * kRandRange;
  // Cut to the int range before the conversion (NaN counts as 0).
  if (std::isnan(threshold)) {
    fprob = 0;
  } else {
    fprob = static_cast<int32_t>(std::clamp(threshold, -2147483648.0, kRandRange));
  }
}

// Pink noise by rows renewed at octave-spaced rates: row k is renewed
// whenever k is the lowest set bit of the counter, i.e. every 2^(k+1)
// samples; the sum of the rows plus a fresh white value falls off at about
// 3 dB per octave.
SAMPLE CNoise_Obj::pink() {
  if (!dice) {
    const int32_t rows = std::max<int32_t>(depth, 1);
    dice.reset(new (std::nothrow) int32_t[rows]);
    if (!dice) return 0.0f;
    sum = 0;
    for (int32_t k = 0; k < rows; k++) {
      dice[k] = std::rand();
      if (k < depth) sum += dice[k];
    }
    // The rows and the white value are all non-negative: from here the
    // output lies in [0, 2] until "pink" is selected again.
    bias = 0.0;
    scale = 2.0 / ((depth + 1) * kRandRange);
  }
  // A counter of 0 (after it wraps) has no set bit: no row is renewed.
  if (depth > 0 && counter != 0) {
    const int k = std::countr_zero(counter);
    if (k < depth) {
      const int32_t fresh = std::rand();
      sum += static_cast<int64_t>(fresh) - dice[k];
      dice[k] = fresh;
    }
  }
  const double value = bias + scale * (static_cast<double>(std::rand()) + static_cast<double>(sum));
  counter = rand_counter ? static_cast<uint32_t>(std::rand()) : counter + 1;
  return static_cast<SAMPLE>(value);
}

SAMPLE CNoise_Obj::tick() {
  // Bits of the flip and xor words that exist (at most 32).
  const int32_t word_bits = std::clamp<int32_t>(fbits, 0, 32);
  switch (mode) {
    case CNOISE_WHITE:
      return white_noise_sample();
    case CNOISE_PINK:
      return pink();
    case CNOISE_FLIP: {
      // One bit, drawn uniformly from the fbits of the word, toggles; an
      // index beyond the word toggles nothing.
      const double draw = fbits * static_cast<double>(std::rand()) * (1.0 / 2147483648.0);
      if (draw >= 0.0 && draw < 32.0) {
        const int b = static_cast<int>(draw);
        if (b < word_bits) bits ^= 1u << b;
      }
      return static_cast<SAMPLE>(bias + bits * scale);
    }
    case CNOISE_XOR: {
      // Each bit toggles with probability (fprob + 1) / 2^31.
      uint32_t word = 0;
      for (int32_t i = 0; i < word_bits; i++) {
        if (fprob >= std::rand()) word |= 1u << i;
      }
      bits ^= word;
      return static_cast<SAMPLE>(bias + bits * scale);
    }
    default:  // brown and fbm have no generator behind them
      return 0.0f;
  }
}

// ---------------------------------------------------------------------------
// DelayP
//
// The line is a ring read at `position` (then cleared) and written ahead of
// it at position + delay. Each tick the write head moves from the previous
// write point g to the new one w; the input segment from (g, last input) to
// (w, input) is sampled at every integer position the head passes, so a
// constant delay writes exactly one sample per tick (an exact shift for an
// integer delay, linear interpolation for a fractional one), a growing delay
// stretches the signal and a shrinking one compresses it. Writes are
// accumulated, and attenuated as the head speeds up; a head jumping more
// than 25 samples in one tick writes nothing.
//
// A delay change counts the line's own ticks: a change set between samples
// reaches its target on the window-th tick after it. Counting ticks rather
// than reading the machine's clock keeps the glide exact when the graph is
// computed in blocks (whose frames share one time stamp); a line out of the
// graph holds its glide until it is pulled again.

namespace {

// i modulo size, in [0, size) also for negative i.
inline int64_t ring_index(int64_t i, int32_t size) {
  int64_t k = i % size;
  return k < 0 ? k + size : k;
}

// A line of n zeroed samples, or null (logged) when it cannot be had.
SAMPLE* new_line(int32_t n) {
  SAMPLE* line = new (std::nothrow) SAMPLE[static_cast<size_t>(n)]();
  if (!line) EM_log(CP_LOG_SEVERE, "DelayP: cannot allocate %d samples...", n);
  return line;
}

}  // namespace

DelayP_Obj::DelayP_Obj(t_CPUINT srate)
    : size(static_cast<int32_t>(
          std::clamp<int64_t>(2 * static_cast<int64_t>(srate), 1, DELAYP_MAX_SIZE))) {
  buffer.reset(new_line(size));
}

double DelayP_Obj::setDelay(double delay) {
  const double before = last_delay;
  // A NaN delay means nothing; a negative one is no delay.
  if (std::isnan(delay)) return before;
  if (delay < 0.0) delay = 0.0;
  if (delay == target) return before;
  if (delay > size) {
    EM_printf("[chip](via delayp): delay time %f over max!  set max first!\n", delay);
    return before;
  }
  start = last_delay;
  target = delay;
  remaining = window;
  return before;
}

double DelayP_Obj::setWindow(double w) {
  // Only a finite duration of 0 or more (an infinite window would freeze
  // the glide at a NaN delay).
  if (std::isfinite(w) && w >= 0.0) window = w;
  return window;
}

double DelayP_Obj::setMax(double max) {
  // Lengths of more than one sample, up to the longest line; NaN is none.
  if (max > 1.0) {
    max = std::min(max, static_cast<double>(DELAYP_MAX_SIZE));
    const int32_t length = static_cast<int32_t>(
        std::min<int64_t>(static_cast<int64_t>(max + 0.5), DELAYP_MAX_SIZE));
    if (static_cast<int32_t>(max) != size || !buffer) {
      if (SAMPLE* line = new_line(length)) {
        buffer.reset(line);
        size = length;
        position = 0.0;
      }
    }
  }
  return size;
}

SAMPLE DelayP_Obj::tick(SAMPLE in) {
  if (!buffer) return 0.0f;

  // A change glides linearly from start to target over the window: the
  // tick that brings the count of samples left to 0 applies the target.
  remaining = std::max(remaining - 1.0, 0.0);
  if (remaining <= 0.0 || window == 0.0) {
    current = target;
  } else {
    current = target - remaining / window * (target - start);
  }

  const double g = position - 1.0 + last_delay;
  const double w = position + current;
  const double h = w - g;
  const double speed = std::fabs(h);
  // Also false for a NaN head, so the loop below is bounded by 26 steps.
  if (speed - 1.0 < 24.0) {
    const double m = speed > 1.0 ? std::exp(-0.69 * (speed - 1.0)) : 1.0;
    const double x0 = last_input;
    const double dx = static_cast<double>(in) - x0;
    const int64_t first = static_cast<int64_t>(std::floor(std::min(g, w))) + 1;
    const int64_t last = static_cast<int64_t>(std::floor(std::max(g, w)));
    for (int64_t i = first; i <= last; i++) {
      buffer[ring_index(i, size)] +=
          static_cast<SAMPLE>(m * (x0 + dx * (static_cast<double>(i) - g) / h));
    }
  }
  last_delay = current;
  last_input = in;

  const int64_t read = ring_index(static_cast<int64_t>(position), size);
  const SAMPLE out = buffer[read];
  buffer[read] = 0.0f;
  position = static_cast<double>(ring_index(read + 1, size));
  return out;
}

// ---------------------------------------------------------------------------
// Dyno
//
// The detector follows the input's magnitude (or the side input): it rises
// by the attack coefficient times the excess and falls by the release
// coefficient, env += at x max(a - env, 0) - rt x env. The gain is
// (env / thresh)^(slope - 1), with slopeAbove above the threshold and
// slopeBelow at or below it: a slope under 1 compresses (1 / ratio), over 1
// expands, and a huge slope gates.

double dyno_coefficient(double t) {
  if (!(t > 0.0)) return 1.0;
  return -std::expm1(-2.2 / t);
}

double dyno_time(double c) {
  if (!(c > 0.0)) return HUGE_VAL;
  return -2.2 / std::log1p(-c);
}

namespace {

struct Dyno_Preset {
  double slopeAbove, slopeBelow, thresh, attack_ms, release_ms;
  int32_t externalSideInput;
};

const Dyno_Preset kLimit = {0.1, 1.0, 0.5, 5.0, 300.0, 0};
const Dyno_Preset kCompress = {0.5, 1.0, 0.5, 5.0, 500.0, 0};
const Dyno_Preset kGate = {1.0, 100000000.0, 0.1, 11.0, 100.0, 0};
const Dyno_Preset kExpand = {2.0, 1.0, 0.5, 20.0, 400.0, 0};
const Dyno_Preset kDuck = {0.5, 1.0, 0.1, 10.0, 1000.0, 1};

void apply(Dyno_Obj& d, const Dyno_Preset& p) {
  d.slopeAbove = p.slopeAbove;
  d.slopeBelow = p.slopeBelow;
  d.thresh = p.thresh;
  d.at = dyno_coefficient(Dyno_Obj::ms * p.attack_ms);
  d.rt = dyno_coefficient(Dyno_Obj::ms * p.release_ms);
  d.externalSideInput = p.externalSideInput;
}

}  // namespace

void Dyno_Obj::limit() { apply(*this, kLimit); }
void Dyno_Obj::compress() { apply(*this, kCompress); }
void Dyno_Obj::gate() { apply(*this, kGate); }
void Dyno_Obj::expand() { apply(*this, kExpand); }
void Dyno_Obj::duck() { apply(*this, kDuck); }

SAMPLE Dyno_Obj::tick(SAMPLE in) {
  const double x = in;
  double a;
  if (externalSideInput) {
    a = sideInput;
  } else {
    a = std::fabs(x);
    sideInput = a;
  }
  double env = std::max(a - envelope, 0.0) * at + envelope * (1.0 - rt);
  // Flushed: no denormals in the recursion, and a NaN or runaway value from
  // hostile parameters does not stick once they are sane again.
  const double mag = std::fabs(env);
  if (!(mag > 1e-15 && mag < 1e15)) env = 0.0;
  envelope = env;

  const double slope = thresh < env ? slopeAbove : slopeBelow;
  return slope == 1.0 ? in : static_cast<SAMPLE>(x * std::pow(env / thresh, slope - 1.0));
}

// ---------------------------------------------------------------------------
// The language classes: one row of the binding frame each.

namespace {

// Old lower-case class names of the module, old to new.
const struct {
  const char* former;
  const char* latter;
} kDeprecated[] = {{"dac", "DAC"},           {"adc", "ADC"},           {"pan2", "Pan2"},
                   {"mix2", "Mix2"},         {"gain", "Gain"},         {"noise", "Noise"},
                   {"cnoise", "CNoise"},     {"impulse", "Impulse"},   {"step", "Step"},
                   {"halfrect", "HalfRect"}, {"fullrect", "FullRect"}, {"zerox", "ZeroX"},
                   {"delayp", "DelayP"},     {"sndbuf", "SndBuf"}};

// CNoise: `string mode(string)` (null or an unknown name changes nothing)
// and `float fprob(float)`; neither writes a result.
const Frame_Member kCNoiseMembers[] = {
    frame_method(
        "mode", "string",
        [](Frame_Slot& s, void* args, Chip_DL_Return*) {
          if (Chip_String* text = GET_NEXT_STRING(args)) s.as<CNoise_Obj>().setMode(text->str);
        },
        {"string", "mode"}),
    frame_method(
        "fprob", "float",
        [](Frame_Slot& s, void* args, Chip_DL_Return*) {
          s.as<CNoise_Obj>().setFprob(GET_NEXT_FLOAT(args));
        },
        {"float", "fprob"}),
};

const Frame_Member kImpulseMembers[] = {
    frame_prop(
        "next", "float",
        [](Frame_Slot& s, double v) { return double(s.as<Impulse_Obj>().setNext(v)); },
        [](Frame_Slot& s) { return double(s.as<Impulse_Obj>().next); }),
};

const Frame_Member kStepMembers[] = {
    frame_prop(
        "next", "float",
        [](Frame_Slot& s, double v) { return double(s.as<Step_Obj>().setNext(v)); },
        [](Frame_Slot& s) { return double(s.as<Step_Obj>().value); }),
};

DelayP_Obj& line(Frame_Slot& s) { return s.as<DelayP_Obj>(); }

const Frame_Member kDelayPMembers[] = {
    frame_prop(
        "delay", "dur", [](Frame_Slot& s, double v) { return line(s).setDelay(v); },
        [](Frame_Slot& s) { return line(s).delay(); }),
    frame_prop(
        "window", "dur", [](Frame_Slot& s, double v) { return line(s).setWindow(v); },
        [](Frame_Slot& s) { return line(s).window; }),
    frame_prop(
        "max", "dur", [](Frame_Slot& s, double v) { return line(s).setMax(v); },
        [](Frame_Slot& s) { return line(s).maxDelay(); }),
};

Dyno_Obj& dyno(Frame_Slot& s) { return s.as<Dyno_Obj>(); }

// A property stored as it comes.
template <typename T, T Dyno_Obj::*field>
double dyno_store(Frame_Slot& s, double v) {
  return dyno(s).*field = static_cast<T>(v);
}
template <typename T, T Dyno_Obj::*field>
double dyno_load(Frame_Slot& s) {
  return dyno(s).*field;
}
template <double Dyno_Obj::*field>
constexpr Frame_Member dyno_float(const char* name) {
  return frame_prop(name, "float", dyno_store<double, field>, dyno_load<double, field>);
}

// A preset method.
template <void (Dyno_Obj::*preset)()>
void dyno_preset(Frame_Slot& s, void*, Chip_DL_Return*) {
  (dyno(s).*preset)();
}

const Frame_Member kDynoMembers[] = {
    frame_method("limit", "void", dyno_preset<&Dyno_Obj::limit>),
    frame_method("compress", "void", dyno_preset<&Dyno_Obj::compress>),
    frame_method("gate", "void", dyno_preset<&Dyno_Obj::gate>),
    frame_method("expand", "void", dyno_preset<&Dyno_Obj::expand>),
    frame_method("duck", "void", dyno_preset<&Dyno_Obj::duck>),
    dyno_float<&Dyno_Obj::thresh>("thresh"),
    dyno_float<&Dyno_Obj::slopeBelow>("slopeBelow"),
    dyno_float<&Dyno_Obj::slopeAbove>("slopeAbove"),
    dyno_float<&Dyno_Obj::sideInput>("sideInput"),
    frame_prop("externalSideInput", "int", dyno_store<int32_t, &Dyno_Obj::externalSideInput>,
               dyno_load<int32_t, &Dyno_Obj::externalSideInput>),
    frame_prop(
        "ratio", "float", [](Frame_Slot& s, double v) { return dyno(s).setRatio(v); },
        [](Frame_Slot& s) { return dyno(s).ratio(); }),
    frame_prop(
        "attackTime", "dur", [](Frame_Slot& s, double v) { return dyno(s).setAttackTime(v); },
        [](Frame_Slot& s) { return dyno(s).attackTime(); }),
    frame_prop(
        "releaseTime", "dur", [](Frame_Slot& s, double v) { return dyno(s).setReleaseTime(v); },
        [](Frame_Slot& s) { return dyno(s).releaseTime(); }),
};

// The ticks of the module's own classes.
SAMPLE tick_noise(Frame_Slot&, SAMPLE) { return white_noise_sample(); }
SAMPLE tick_cnoise(Frame_Slot& s, SAMPLE) { return s.as<CNoise_Obj>().tick(); }
SAMPLE tick_impulse(Frame_Slot& s, SAMPLE) { return s.as<Impulse_Obj>().tick(); }
SAMPLE tick_step(Frame_Slot& s, SAMPLE) { return s.as<Step_Obj>().tick(); }
SAMPLE tick_half_rect(Frame_Slot&, SAMPLE in) { return half_rect(in); }
SAMPLE tick_full_rect(Frame_Slot&, SAMPLE in) { return full_rect(in); }
SAMPLE tick_delayp(Frame_Slot& s, SAMPLE in) { return line(s).tick(in); }
SAMPLE tick_dyno(Frame_Slot& s, SAMPLE in) { return dyno(s).tick(in); }

// The module's own classes, each one in and one out, in registration order.
const Frame_Class_Desc kXxxClasses[] = {
    // The noises draw from rand(), which every such generator shares.
    frame_draws_random({.name = "Noise", .parent = "UGen", .tick = tick_noise,
                        .tick_block = frame_block_of<tick_noise>}),
    frame_draws_random({.name = "CNoise", .parent = "UGen", .data_member = "@cnoise_data",
                        .offset = &cnoise_offset_data,
                        .make = [](Chip_Object*) -> Frame_Obj* { return new CNoise_Obj; },
                        .tick = tick_cnoise, FRAME_MEMBER_FIELDS(kCNoiseMembers),
                        .tick_block = frame_block_of<tick_cnoise>}),
    {.name = "Impulse", .parent = "UGen", .data_member = "@impulse_data",
     .offset = &impulse_offset_data,
     .make = [](Chip_Object*) -> Frame_Obj* { return new Impulse_Obj; }, .tick = tick_impulse,
     FRAME_MEMBER_FIELDS(kImpulseMembers), .tick_block = frame_block_of<tick_impulse>},
    {.name = "Step", .parent = "UGen", .data_member = "@step_data", .offset = &step_offset_data,
     .make = [](Chip_Object*) -> Frame_Obj* { return new Step_Obj; }, .tick = tick_step,
     FRAME_MEMBER_FIELDS(kStepMembers), .tick_block = frame_block_of<tick_step>},
    {.name = "HalfRect", .parent = "UGen", .tick = tick_half_rect,
     .tick_block = frame_block_of<tick_half_rect>},
    {.name = "FullRect", .parent = "UGen", .tick = tick_full_rect,
     .tick_block = frame_block_of<tick_full_rect>},
    {.name = "DelayP", .parent = "UGen", .data_member = "@delayp_data",
     .offset = &delayp_offset_data,
     .make = [](Chip_Object*) -> Frame_Obj* { return new DelayP_Obj(g_srate); },
     .tick = tick_delayp, .pmsg = frame_pmsg_true, FRAME_MEMBER_FIELDS(kDelayPMembers),
     .tick_block = frame_block_of<tick_delayp>},
    {.name = "Dyno", .parent = "UGen", .data_member = "@dyno_data", .offset = &dyno_offset_data,
     .make = [](Chip_Object*) -> Frame_Obj* { return new Dyno_Obj; }, .tick = tick_dyno,
     FRAME_MEMBER_FIELDS(kDynoMembers), .tick_block = frame_block_of<tick_dyno>},
};

}  // namespace

t_CPBOOL xxx_query(Chip_DL_Query* QUERY) {
  g_srate = static_cast<t_CPUINT>(QUERY->srate);
  Chip_Env* env = Chip_Env::instance();
  CHIP_CHECK(env != NULL);

  for (const auto& pair : kDeprecated)
    type_engine_register_deprecate(env, pair.former, pair.latter);

  if (!multi_import_classes(env)) return FALSE;
  if (!frame_import_classes(env, kXxxClasses, std::size(kXxxClasses))) return FALSE;

  return lisa_query(QUERY);
}

void xxx_forget_types() {
  multi_forget_types();
  cnoise_offset_data = impulse_offset_data = step_offset_data = FRAME_NO_OFFSET;
  delayp_offset_data = dyno_offset_data = FRAME_NO_OFFSET;
  LiSaMulti_offset_data = FRAME_NO_OFFSET;
}
