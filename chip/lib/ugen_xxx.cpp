// The xxx module: multichannel unit generators, gain and pan, noises,
// impulse, step, rectifiers, the moving-head delay and the dynamics
// processor.
#include "chip/lib/ugen_xxx.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <new>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_ugen.h"
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

// Old lower-case class names of the module, old to new.
const struct {
  const char* former;
  const char* latter;
} kDeprecated[] = {{"dac", "DAC"},           {"adc", "ADC"},           {"pan2", "Pan2"},
                   {"mix2", "Mix2"},         {"gain", "Gain"},         {"noise", "Noise"},
                   {"cnoise", "CNoise"},     {"impulse", "Impulse"},   {"step", "Step"},
                   {"halfrect", "HalfRect"}, {"fullrect", "FullRect"}, {"zerox", "ZeroX"},
                   {"delayp", "DelayP"},     {"sndbuf", "SndBuf"}};

// A stateless one-in, one-out class with its own tick; FALSE when it cannot
// be made.
t_CPBOOL import_plain(Chip_Env* env, const char* name, f_tick tick) {
  if (!type_engine_import_ugen_begin(env, name, "UGen", env->global(), nullptr, nullptr, tick,
                                     nullptr, CHIP_IMPORT_KEEP, CHIP_IMPORT_KEEP)) {
    return FALSE;
  }
  return type_engine_import_class_end(env);
}

}  // namespace

t_CPBOOL xxx_query(Chip_DL_Query* QUERY) {
  g_srate = static_cast<t_CPUINT>(QUERY->srate);
  Chip_Env* env = Chip_Env::instance();
  CHIP_CHECK(env != NULL);

  for (const auto& pair : kDeprecated)
    type_engine_register_deprecate(env, pair.former, pair.latter);

  if (!multi_import_classes(env)) return FALSE;

  // The small generators, each one in and one out.
  if (!import_plain(env, "Noise", noise_tick)) return FALSE;

  if (!type_engine_import_ugen_begin(env, "CNoise", "UGen", env->global(), cnoise_ctor,
                                     cnoise_dtor, cnoise_tick, nullptr, CHIP_IMPORT_KEEP,
                                     CHIP_IMPORT_KEEP)) {
    return FALSE;
  }
  cnoise_offset_data = frame_import_state(env, "@cnoise_data");
  if (cnoise_offset_data == FRAME_NO_OFFSET ||
      !frame_import_mfun(env, "string", "mode", cnoise_ctrl_mode, {{"string", "mode"}}) ||
      !frame_import_mfun(env, "float", "fprob", cnoise_ctrl_fprob, {{"float", "fprob"}})) {
    return frame_fail(env);
  }
  if (!type_engine_import_class_end(env)) return FALSE;

  if (!type_engine_import_ugen_begin(env, "Impulse", "UGen", env->global(), impulse_ctor,
                                     impulse_dtor, impulse_tick, nullptr, CHIP_IMPORT_KEEP,
                                     CHIP_IMPORT_KEEP)) {
    return FALSE;
  }
  impulse_offset_data = frame_import_state(env, "@impulse_data");
  if (impulse_offset_data == FRAME_NO_OFFSET ||
      !frame_import_mfun(env, "float", "next", impulse_ctrl_next, {{"float", "next"}}) ||
      !frame_import_mfun(env, "float", "next", impulse_cget_next)) {
    return frame_fail(env);
  }
  if (!type_engine_import_class_end(env)) return FALSE;

  if (!type_engine_import_ugen_begin(env, "Step", "UGen", env->global(), step_ctor, step_dtor,
                                     step_tick, nullptr, CHIP_IMPORT_KEEP, CHIP_IMPORT_KEEP)) {
    return FALSE;
  }
  step_offset_data = frame_import_state(env, "@step_data");
  if (step_offset_data == FRAME_NO_OFFSET ||
      !frame_import_mfun(env, "float", "next", step_ctrl_next, {{"float", "next"}}) ||
      !frame_import_mfun(env, "float", "next", step_cget_next)) {
    return frame_fail(env);
  }
  if (!type_engine_import_class_end(env)) return FALSE;

  if (!import_plain(env, "HalfRect", halfrect_tick)) return FALSE;
  if (!import_plain(env, "FullRect", fullrect_tick)) return FALSE;

  if (!type_engine_import_ugen_begin(env, "DelayP", "UGen", env->global(), delayp_ctor,
                                     delayp_dtor, delayp_tick, delayp_pmsg, CHIP_IMPORT_KEEP,
                                     CHIP_IMPORT_KEEP)) {
    return FALSE;
  }
  delayp_offset_data = frame_import_state(env, "@delayp_data");
  if (delayp_offset_data == FRAME_NO_OFFSET ||
      !frame_import_mfun(env, "dur", "delay", delayp_ctrl_delay, {{"dur", "delay"}}) ||
      !frame_import_mfun(env, "dur", "delay", delayp_cget_delay) ||
      !frame_import_mfun(env, "dur", "window", delayp_ctrl_window, {{"dur", "window"}}) ||
      !frame_import_mfun(env, "dur", "window", delayp_cget_window) ||
      !frame_import_mfun(env, "dur", "max", delayp_ctrl_max, {{"dur", "max"}}) ||
      !frame_import_mfun(env, "dur", "max", delayp_cget_max)) {
    return frame_fail(env);
  }
  if (!type_engine_import_class_end(env)) return FALSE;

  if (!type_engine_import_ugen_begin(env, "Dyno", "UGen", env->global(), dyno_ctor, dyno_dtor,
                                     dyno_tick, nullptr, CHIP_IMPORT_KEEP, CHIP_IMPORT_KEEP)) {
    return FALSE;
  }
  dyno_offset_data = frame_import_state(env, "@dyno_data");
  if (dyno_offset_data == FRAME_NO_OFFSET ||
      !frame_import_mfun(env, "void", "limit", dyno_ctrl_limit) ||
      !frame_import_mfun(env, "void", "compress", dyno_ctrl_compress) ||
      !frame_import_mfun(env, "void", "gate", dyno_ctrl_gate) ||
      !frame_import_mfun(env, "void", "expand", dyno_ctrl_expand) ||
      !frame_import_mfun(env, "void", "duck", dyno_ctrl_duck) ||
      !frame_import_mfun(env, "float", "thresh", dyno_ctrl_thresh, {{"float", "thresh"}}) ||
      !frame_import_mfun(env, "float", "thresh", dyno_cget_thresh) ||
      !frame_import_mfun(env, "float", "slopeBelow", dyno_ctrl_slopeBelow,
                         {{"float", "slopeBelow"}}) ||
      !frame_import_mfun(env, "float", "slopeBelow", dyno_cget_slopeBelow) ||
      !frame_import_mfun(env, "float", "slopeAbove", dyno_ctrl_slopeAbove,
                         {{"float", "slopeAbove"}}) ||
      !frame_import_mfun(env, "float", "slopeAbove", dyno_cget_slopeAbove) ||
      !frame_import_mfun(env, "float", "sideInput", dyno_ctrl_sideInput,
                         {{"float", "sideInput"}}) ||
      !frame_import_mfun(env, "float", "sideInput", dyno_cget_sideInput) ||
      !frame_import_mfun(env, "int", "externalSideInput", dyno_ctrl_externalSideInput,
                         {{"int", "externalSideInput"}}) ||
      !frame_import_mfun(env, "int", "externalSideInput", dyno_cget_externalSideInput) ||
      !frame_import_mfun(env, "float", "ratio", dyno_ctrl_ratio, {{"float", "ratio"}}) ||
      !frame_import_mfun(env, "float", "ratio", dyno_cget_ratio) ||
      !frame_import_mfun(env, "dur", "attackTime", dyno_ctrl_attackTime, {{"dur", "aTime"}}) ||
      !frame_import_mfun(env, "dur", "attackTime", dyno_cget_attackTime) ||
      !frame_import_mfun(env, "dur", "releaseTime", dyno_ctrl_releaseTime,
                         {{"dur", "rTime"}}) ||
      !frame_import_mfun(env, "dur", "releaseTime", dyno_cget_releaseTime)) {
    return frame_fail(env);
  }
  if (!type_engine_import_class_end(env)) return FALSE;

  // TODO(looping sampler): `return lisa_query(QUERY);` once LiSa exists.
  return TRUE;
}

void xxx_forget_types() {
  multi_forget_types();
  cnoise_offset_data = impulse_offset_data = step_offset_data = FRAME_NO_OFFSET;
  delayp_offset_data = dyno_offset_data = FRAME_NO_OFFSET;
}

// ---------------------------------------------------------------------------
// Noise

namespace {

const double kRandRange = 2147483647.0;

// One uniform sample in [-1, 1].
inline SAMPLE white_sample() {
  const float r = static_cast<float>(std::rand());
  return static_cast<SAMPLE>(2.0 * r / kRandRange - 1.0);
}

}  // namespace

unsigned long noise_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED) {
  (void)SELF;
  (void)in;
  (void)SHRED;
  *out = white_sample();
  return 1;
}

// ---------------------------------------------------------------------------
// CNoise

namespace {

// Selects a mode: every mode scales rand()'s range onto [-1, 1]; pink sums
// depth + 1 values, so its scale shrinks accordingly.
void cnoise_select(CNoise_Data* d, int32_t mode) {
  d->mode = mode;
  d->bias = -1.0;
  d->scale = mode == CNOISE_PINK ? 2.0 / ((d->depth + 1) * kRandRange) : 2.0 / kRandRange;
}

// Pink noise by rows renewed at octave-spaced rates: row k is renewed
// whenever k is the lowest set bit of the counter, i.e. every 2^(k+1)
// samples; the sum of the rows plus a fresh white value falls off at about
// 3 dB per octave.
SAMPLE cnoise_pink(CNoise_Data* d) {
  if (!d->dice) {
    const int32_t rows = std::max<int32_t>(d->depth, 1);
    d->dice = new (std::nothrow) int32_t[rows];
    if (!d->dice) return 0.0f;
    d->sum = 0;
    for (int32_t k = 0; k < rows; k++) {
      d->dice[k] = std::rand();
      if (k < d->depth) d->sum += d->dice[k];
    }
    // The rows and the white value are all non-negative: from here the
    // output lies in [0, 2] until "pink" is selected again.
    d->bias = 0.0;
    d->scale = 2.0 / ((d->depth + 1) * kRandRange);
  }
  // A counter of 0 (after it wraps) has no set bit: no row is renewed.
  if (d->depth > 0 && d->counter != 0) {
    const int k = std::countr_zero(d->counter);
    if (k < d->depth) {
      const int32_t fresh = std::rand();
      d->sum += static_cast<int64_t>(fresh) - d->dice[k];
      d->dice[k] = fresh;
    }
  }
  const double value =
      d->bias + d->scale * (static_cast<double>(std::rand()) + static_cast<double>(d->sum));
  d->counter = d->rand_counter ? static_cast<uint32_t>(std::rand()) : d->counter + 1;
  return static_cast<SAMPLE>(value);
}

// Bits of the flip and xor words that exist (at most 32).
inline int32_t word_bits(const CNoise_Data* d) { return std::clamp<int32_t>(d->fbits, 0, 32); }

}  // namespace

void cnoise_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  CNoise_Data* d = new CNoise_Data;
  cnoise_select(d, CNOISE_PINK);
  frame_set_state(SELF, cnoise_offset_data, d);
}

void cnoise_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  CNoise_Data* d = frame_take_state<CNoise_Data>(SELF, cnoise_offset_data);
  if (!d) return;
  delete[] d->dice;
  delete d;
}

unsigned long cnoise_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED) {
  (void)in;
  (void)SHRED;
  CNoise_Data* d = frame_state<CNoise_Data>(SELF, cnoise_offset_data);
  if (!d) return 0;
  switch (d->mode) {
    case CNOISE_WHITE:
      *out = white_sample();
      break;
    case CNOISE_PINK:
      *out = cnoise_pink(d);
      break;
    case CNOISE_FLIP: {
      // One bit, drawn uniformly from the fbits of the word, toggles; an
      // index beyond the word toggles nothing.
      const double draw = d->fbits * static_cast<double>(std::rand()) * (1.0 / 2147483648.0);
      if (draw >= 0.0 && draw < 32.0) {
        const int b = static_cast<int>(draw);
        if (b < word_bits(d)) d->bits ^= 1u << b;
      }
      *out = static_cast<SAMPLE>(d->bias + d->bits * d->scale);
      break;
    }
    case CNOISE_XOR: {
      // Each bit toggles with probability (fprob + 1) / 2^31.
      uint32_t word = 0;
      for (int32_t i = 0; i < word_bits(d); i++) {
        if (d->fprob >= std::rand()) word |= 1u << i;
      }
      d->bits ^= word;
      *out = static_cast<SAMPLE>(d->bias + d->bits * d->scale);
      break;
    }
    default:  // brown and fbm have no generator behind them
      *out = 0.0f;
      break;
  }
  return 1;
}

void cnoise_ctrl_mode(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)RETURN;
  (void)SHRED;
  CNoise_Data* d = frame_state<CNoise_Data>(SELF, cnoise_offset_data);
  void* cursor = ARGS;
  Chip_String* text = GET_NEXT_STRING(cursor);
  if (!d || !text) return;
  static const char* const kModes[] = {"white", "pink", "brown", "fbm", "flip", "xor"};
  for (int32_t mode = 0; mode < static_cast<int32_t>(sizeof kModes / sizeof kModes[0]); mode++) {
    if (text->str == kModes[mode]) {
      cnoise_select(d, mode);
      return;
    }
  }
}

void cnoise_ctrl_fprob(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                       Chip_VM_Shred* SHRED) {
  (void)RETURN;
  (void)SHRED;
  CNoise_Data* d = frame_state<CNoise_Data>(SELF, cnoise_offset_data);
  void* cursor = ARGS;
  const double threshold = GET_NEXT_FLOAT(cursor) * kRandRange;
  if (!d) return;
  // Cut to the int range before the conversion (NaN counts as 0).
  if (std::isnan(threshold)) {
    d->fprob = 0;
  } else {
    d->fprob = static_cast<int32_t>(std::clamp(threshold, -2147483648.0, kRandRange));
  }
}

// ---------------------------------------------------------------------------
// Impulse and Step

void impulse_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  frame_set_state(SELF, impulse_offset_data, new Impulse_Data);
}

void impulse_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  delete frame_take_state<Impulse_Data>(SELF, impulse_offset_data);
}

unsigned long impulse_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED) {
  (void)in;
  (void)SHRED;
  Impulse_Data* d = frame_state<Impulse_Data>(SELF, impulse_offset_data);
  if (!d) return 0;
  *out = d->pending ? d->next : 0.0f;
  d->pending = 0;
  return 1;
}

void impulse_ctrl_next(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                       Chip_VM_Shred* SHRED) {
  (void)SHRED;
  Impulse_Data* d = frame_state<Impulse_Data>(SELF, impulse_offset_data);
  void* cursor = ARGS;
  const SAMPLE next = static_cast<SAMPLE>(GET_NEXT_FLOAT(cursor));
  if (d) {
    d->next = next;
    d->pending = 1;
  }
  RETURN->v_float = next;
}

void impulse_cget_next(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                       Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  Impulse_Data* d = frame_state<Impulse_Data>(SELF, impulse_offset_data);
  RETURN->v_float = d ? d->next : 0.0;
}

void step_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  frame_set_state(SELF, step_offset_data, new Step_Data);
}

void step_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  delete frame_take_state<Step_Data>(SELF, step_offset_data);
}

unsigned long step_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED) {
  (void)in;
  (void)SHRED;
  Step_Data* d = frame_state<Step_Data>(SELF, step_offset_data);
  if (!d) return 0;
  *out = d->value;
  return 1;
}

void step_ctrl_next(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  Step_Data* d = frame_state<Step_Data>(SELF, step_offset_data);
  void* cursor = ARGS;
  const SAMPLE value = static_cast<SAMPLE>(GET_NEXT_FLOAT(cursor));
  if (d) d->value = value;
  RETURN->v_float = value;
}

void step_cget_next(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  Step_Data* d = frame_state<Step_Data>(SELF, step_offset_data);
  RETURN->v_float = d ? d->value : 0.0;
}

// ---------------------------------------------------------------------------
// HalfRect and FullRect

unsigned long halfrect_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED) {
  (void)SELF;
  (void)SHRED;
  *out = in > 0.0f ? in : 0.0f;
  return 1;
}

unsigned long fullrect_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED) {
  (void)SELF;
  (void)SHRED;
  *out = std::fabs(in);
  return 1;
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

// A line of n zeroed samples, or null when it cannot be had.
SAMPLE* new_line(int32_t n) { return new (std::nothrow) SAMPLE[static_cast<size_t>(n)](); }

}  // namespace

void delayp_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  DelayP_Data* d = new DelayP_Data;
  // Two seconds, and never an empty ring.
  d->size = static_cast<int32_t>(
      std::clamp<int64_t>(2 * static_cast<int64_t>(g_srate), 1, DELAYP_MAX_SIZE));
  d->buffer = new_line(d->size);
  if (!d->buffer) EM_log(CP_LOG_SEVERE, "DelayP: cannot allocate %d samples...", d->size);
  frame_set_state(SELF, delayp_offset_data, d);
}

void delayp_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  DelayP_Data* d = frame_take_state<DelayP_Data>(SELF, delayp_offset_data);
  if (!d) return;
  delete[] d->buffer;
  delete d;
}

unsigned long delayp_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  DelayP_Data* d = frame_state<DelayP_Data>(SELF, delayp_offset_data);
  if (!d || !d->buffer) return 0;

  // A change glides linearly from start to target over the window: the
  // tick that brings the count of samples left to 0 applies the target.
  d->remaining = std::max(d->remaining - 1.0, 0.0);
  if (d->remaining <= 0.0 || d->window == 0.0) {
    d->current = d->target;
  } else {
    d->current = d->target - d->remaining / d->window * (d->target - d->start);
  }

  const double g = d->position - 1.0 + d->last_delay;
  const double w = d->position + d->current;
  const double h = w - g;
  const double speed = std::fabs(h);
  // Also false for a NaN head, so the loop below is bounded by 26 steps.
  if (speed - 1.0 < 24.0) {
    const double m = speed > 1.0 ? std::exp(-0.69 * (speed - 1.0)) : 1.0;
    const double x0 = d->last_input;
    const double dx = static_cast<double>(in) - x0;
    const int64_t first = static_cast<int64_t>(std::floor(std::min(g, w))) + 1;
    const int64_t last = static_cast<int64_t>(std::floor(std::max(g, w)));
    for (int64_t i = first; i <= last; i++) {
      d->buffer[ring_index(i, d->size)] +=
          static_cast<SAMPLE>(m * (x0 + dx * (static_cast<double>(i) - g) / h));
    }
  }
  d->last_delay = d->current;
  d->last_input = in;

  const int64_t read = ring_index(static_cast<int64_t>(d->position), d->size);
  *out = d->buffer[read];
  d->buffer[read] = 0.0f;
  d->position = static_cast<double>(ring_index(read + 1, d->size));
  return 1;
}

unsigned long delayp_pmsg(Chip_Object* SELF, const char* MSG, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)SELF;
  (void)MSG;
  (void)ARGS;
  (void)SHRED;
  return 1;
}

void delayp_ctrl_delay(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                       Chip_VM_Shred* SHRED) {
  (void)SHRED;
  DelayP_Data* d = frame_state<DelayP_Data>(SELF, delayp_offset_data);
  void* cursor = ARGS;
  double delay = GET_NEXT_DUR(cursor);
  if (!d) return;
  RETURN->v_dur = d->last_delay;
  // A NaN delay means nothing; a negative one is no delay.
  if (std::isnan(delay)) return;
  if (delay < 0.0) delay = 0.0;
  if (delay == d->target) return;
  if (delay > d->size) {
    EM_printf("[chip](via delayp): delay time %f over max!  set max first!\n", delay);
    return;
  }
  d->start = d->last_delay;
  d->target = delay;
  d->remaining = d->window;
}

void delayp_cget_delay(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                       Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  DelayP_Data* d = frame_state<DelayP_Data>(SELF, delayp_offset_data);
  RETURN->v_dur = d ? d->last_delay : 0.0;
}

void delayp_ctrl_window(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                        Chip_VM_Shred* SHRED) {
  (void)SHRED;
  DelayP_Data* d = frame_state<DelayP_Data>(SELF, delayp_offset_data);
  void* cursor = ARGS;
  const double window = GET_NEXT_DUR(cursor);
  if (!d) return;
  // Only a finite duration of 0 or more (an infinite window would freeze
  // the glide at a NaN delay).
  if (std::isfinite(window) && window >= 0.0) d->window = window;
  RETURN->v_dur = d->window;
}

void delayp_cget_window(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                        Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  DelayP_Data* d = frame_state<DelayP_Data>(SELF, delayp_offset_data);
  RETURN->v_dur = d ? d->window : 0.0;
}

void delayp_ctrl_max(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  DelayP_Data* d = frame_state<DelayP_Data>(SELF, delayp_offset_data);
  void* cursor = ARGS;
  double max = GET_NEXT_DUR(cursor);
  if (!d) return;
  // Lengths of more than one sample, up to the longest line; NaN is none.
  if (max > 1.0) {
    max = std::min(max, static_cast<double>(DELAYP_MAX_SIZE));
    const int32_t size = static_cast<int32_t>(
        std::min<int64_t>(static_cast<int64_t>(max + 0.5), DELAYP_MAX_SIZE));
    if (static_cast<int32_t>(max) != d->size || !d->buffer) {
      if (SAMPLE* line = new_line(size)) {
        delete[] d->buffer;
        d->buffer = line;
        d->size = size;
        d->position = 0.0;
      } else {
        EM_log(CP_LOG_SEVERE, "DelayP: cannot allocate %d samples...", size);
      }
    }
  }
  RETURN->v_dur = d->size;
}

void delayp_cget_max(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  DelayP_Data* d = frame_state<DelayP_Data>(SELF, delayp_offset_data);
  RETURN->v_dur = d ? d->size : 0.0;
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

const double Dyno_Data::ms = 44100.0 / 1000.0;

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

void dyno_apply(Dyno_Data* d, const Dyno_Preset& p) {
  d->slopeAbove = p.slopeAbove;
  d->slopeBelow = p.slopeBelow;
  d->thresh = p.thresh;
  d->at = dyno_coefficient(Dyno_Data::ms * p.attack_ms);
  d->rt = dyno_coefficient(Dyno_Data::ms * p.release_ms);
  d->externalSideInput = p.externalSideInput;
}

Dyno_Data* dyno(Chip_Object* self) { return frame_state<Dyno_Data>(self, dyno_offset_data); }

// A preset member: applies p to self's record.
template <const Dyno_Preset& p>
void dyno_preset(Chip_Object* self) {
  if (Dyno_Data* d = dyno(self)) dyno_apply(d, p);
}

// A float property: the setter stores and returns its argument.
void dyno_set(double Dyno_Data::*field, Chip_Object* self, void* args, Chip_DL_Return* ret) {
  void* cursor = args;
  const double value = GET_NEXT_FLOAT(cursor);
  if (Dyno_Data* d = dyno(self)) d->*field = value;
  ret->v_float = value;
}

void dyno_get(double Dyno_Data::*field, Chip_Object* self, Chip_DL_Return* ret) {
  Dyno_Data* d = dyno(self);
  ret->v_float = d ? d->*field : 0.0;
}

}  // namespace

void dyno_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  Dyno_Data* d = new Dyno_Data;
  dyno_apply(d, kLimit);
  frame_set_state(SELF, dyno_offset_data, d);
}

void dyno_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  delete frame_take_state<Dyno_Data>(SELF, dyno_offset_data);
}

unsigned long dyno_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  Dyno_Data* d = dyno(SELF);
  if (!d) return 0;
  const double x = in;
  double a;
  if (d->externalSideInput) {
    a = d->sideInput;
  } else {
    a = std::fabs(x);
    d->sideInput = a;
  }
  double env = std::max(a - d->envelope, 0.0) * d->at + d->envelope * (1.0 - d->rt);
  // Flushed: no denormals in the recursion, and a NaN or runaway value from
  // hostile parameters does not stick once they are sane again.
  const double mag = std::fabs(env);
  if (!(mag > 1e-15 && mag < 1e15)) env = 0.0;
  d->envelope = env;

  const double slope = d->thresh < env ? d->slopeAbove : d->slopeBelow;
  *out = slope == 1.0 ? in : static_cast<SAMPLE>(x * std::pow(env / d->thresh, slope - 1.0));
  return 1;
}

void dyno_ctrl_limit(Chip_Object* SELF, void*, Chip_DL_Return*, Chip_VM_Shred*) {
  dyno_preset<kLimit>(SELF);
}
void dyno_ctrl_compress(Chip_Object* SELF, void*, Chip_DL_Return*, Chip_VM_Shred*) {
  dyno_preset<kCompress>(SELF);
}
void dyno_ctrl_gate(Chip_Object* SELF, void*, Chip_DL_Return*, Chip_VM_Shred*) {
  dyno_preset<kGate>(SELF);
}
void dyno_ctrl_expand(Chip_Object* SELF, void*, Chip_DL_Return*, Chip_VM_Shred*) {
  dyno_preset<kExpand>(SELF);
}
void dyno_ctrl_duck(Chip_Object* SELF, void*, Chip_DL_Return*, Chip_VM_Shred*) {
  dyno_preset<kDuck>(SELF);
}

void dyno_ctrl_thresh(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  dyno_set(&Dyno_Data::thresh, SELF, ARGS, RETURN);
}
void dyno_cget_thresh(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  dyno_get(&Dyno_Data::thresh, SELF, RETURN);
}
void dyno_ctrl_slopeBelow(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  dyno_set(&Dyno_Data::slopeBelow, SELF, ARGS, RETURN);
}
void dyno_cget_slopeBelow(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  dyno_get(&Dyno_Data::slopeBelow, SELF, RETURN);
}
void dyno_ctrl_slopeAbove(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  dyno_set(&Dyno_Data::slopeAbove, SELF, ARGS, RETURN);
}
void dyno_cget_slopeAbove(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  dyno_get(&Dyno_Data::slopeAbove, SELF, RETURN);
}
void dyno_ctrl_sideInput(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  dyno_set(&Dyno_Data::sideInput, SELF, ARGS, RETURN);
}
void dyno_cget_sideInput(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  dyno_get(&Dyno_Data::sideInput, SELF, RETURN);
}

void dyno_ctrl_externalSideInput(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                                 Chip_VM_Shred*) {
  void* cursor = ARGS;
  const t_CPINT value = GET_NEXT_INT(cursor);
  if (Dyno_Data* d = dyno(SELF)) d->externalSideInput = value;
  RETURN->v_int = value;
}

void dyno_cget_externalSideInput(Chip_Object* SELF, void*, Chip_DL_Return* RETURN,
                                 Chip_VM_Shred*) {
  Dyno_Data* d = dyno(SELF);
  RETURN->v_int = d ? d->externalSideInput : 0;
}

void dyno_ctrl_ratio(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  void* cursor = ARGS;
  const double ratio = GET_NEXT_FLOAT(cursor);
  Dyno_Data* d = dyno(SELF);
  if (!d) return;
  d->slopeBelow = 1.0;
  d->slopeAbove = 1.0 / ratio;
  RETURN->v_float = 1.0 / d->slopeAbove;
}

void dyno_cget_ratio(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Dyno_Data* d = dyno(SELF);
  RETURN->v_float = d ? d->slopeBelow / d->slopeAbove : 0.0;
}

void dyno_ctrl_attackTime(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  void* cursor = ARGS;
  const double t = GET_NEXT_DUR(cursor);
  Dyno_Data* d = dyno(SELF);
  if (!d) return;
  d->at = dyno_coefficient(t);
  RETURN->v_dur = dyno_time(d->at);
}

void dyno_cget_attackTime(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Dyno_Data* d = dyno(SELF);
  RETURN->v_dur = d ? dyno_time(d->at) : 0.0;
}

void dyno_ctrl_releaseTime(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                           Chip_VM_Shred*) {
  void* cursor = ARGS;
  const double t = GET_NEXT_DUR(cursor);
  Dyno_Data* d = dyno(SELF);
  if (!d) return;
  d->rt = dyno_coefficient(t);
  RETURN->v_dur = dyno_time(d->rt);
}

void dyno_cget_releaseTime(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Dyno_Data* d = dyno(SELF);
  RETURN->v_dur = d ? dyno_time(d->rt) : 0.0;
}
