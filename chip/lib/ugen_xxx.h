// The xxx module: the multichannel classes' registration and the module's
// small self-contained generators.
//
// The multichannel classes (UGen_Multi, UGen_Stereo, DAC, ADC, Pan2, Mix2,
// Gain) live with the machine (chip/vm/ugen_multi.h); xxx_query registers
// them first of its classes.
//
// The other classes are mono (one in, one out), each with a state record in
// a hidden "@..._data" member (chip/vm/ugen_frame.h):
//   Noise     white noise, uniform in [-1, 1], from the C library's rand().
//   CNoise    selectable noises: "white"; "pink" (rows of random values
//             renewed at octave-spaced rates, the Voss-McCartney scheme);
//             "flip" (one random bit of a word toggled per sample); "xor"
//             (each bit toggled with probability `fprob`); "brown" and "fbm"
//             are accepted names that output silence.
//   Impulse   one sample of `next` after each `next(v)`, zeros otherwise.
//   Step      `next` on every sample.
//   HalfRect  max(x, 0);  FullRect  |x|.
//   DelayP    a delay line whose write head moves with the delay: a delay
//             change glides linearly over `window` samples, and the head
//             spreads each input over the positions it passes (softer the
//             faster it moves), so a gliding delay bends pitch smoothly
//             instead of clicking.
//   Dyno      a dynamics processor: a peak detector with attack and release
//             drives a gain law of two slopes around a threshold; presets
//             limit, compress, gate, expand and duck (the last listens to an
//             external side input).
//
// xxx_query registers, through the import interface and the binding frame
// (chip/vm/ugen_frame.h), first the deprecated lower-case names of the
// module, then the multichannel classes, Noise, CNoise, Impulse, Step,
// HalfRect, FullRect, DelayP and Dyno.
//
// Parameters are sanitised where a raw value would hurt: no setter value
// (huge, negative, NaN or infinite) can make a tick loop without end, index
// outside a buffer or leave a record in a state that later sane values do
// not repair.
//
// Threads: registration runs on the thread that starts the engine, before
// any script; constructors, ticks and member functions run on the machine's
// thread.
#ifndef CHIP_UGEN_XXX_H
#define CHIP_UGEN_XXX_H

#include <cstdint>

#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"

// Byte offsets of the hidden state members; -1 until registered.
extern t_CPWORD cnoise_offset_data;
extern t_CPWORD impulse_offset_data;
extern t_CPWORD step_offset_data;
extern t_CPWORD delayp_offset_data;
extern t_CPWORD dyno_offset_data;

// The module's query: copies QUERY's sample rate, registers the classes
// above in the global namespace of the environment (Chip_Env::instance) and
// sets the offsets. TRUE on success; FALSE (the import interface printed
// why) when a class cannot be registered.
//
// TODO(looping sampler): the query ends by returning lisa_query's result
// once LiSa exists.
t_CPBOOL xxx_query(Chip_DL_Query* QUERY);
// Clears the multichannel types and every offset (for an environment that
// is shut down).
void xxx_forget_types();

// ---------------------------------------------------------------------------
// State records.

// CNoise modes.
enum { CNOISE_WHITE = 0, CNOISE_PINK, CNOISE_BROWN, CNOISE_FBM, CNOISE_FLIP, CNOISE_XOR };

struct CNoise_Data {
  // Pink: the sample counter whose lowest set bit picks the row to renew.
  // Unsigned, so it wraps after 2^32 samples; a counter of 0 renews no row.
  uint32_t counter = 1;
  int32_t* dice = nullptr;  // `depth` rows of rand() values, made on the first pink sample
  int32_t depth = 24;
  bool rand_counter = false;  // re-draw the counter from rand() after each pink sample
  int32_t fbits = 31;         // bits of the flip and xor words
  double scale = 2.0 / 2147483647.0;
  double bias = -1.0;
  int64_t sum = 0;    // pink: sum of the rows (up to depth x 2^31, beyond 32 bits)
  uint32_t bits = 0;  // flip and xor: the current bit word
  int32_t fprob = 67108863;  // xor: a bit toggles when rand() <= fprob (1/32)
  int32_t mode = CNOISE_PINK;
};

struct Impulse_Data {
  SAMPLE next = 1.0f;
  int32_t pending = 0;
};

struct Step_Data {
  SAMPLE value = 1.0f;
};

// Longest DelayP line, in samples: `max` beyond it is cut to it.
const int32_t DELAYP_MAX_SIZE = 1 << 24;

struct DelayP_Data {
  SAMPLE* buffer = nullptr;
  int32_t size = 0;          // samples in buffer, at least 1 once constructed
  double position = 0.0;     // read position, in [0, size)
  double current = 0.0;      // delay applied at this tick
  double start = 0.0;        // delay at the start of a change
  double target = 0.0;       // delay being approached
  double remaining = 0.0;    // ticks until the change completes
  double window = 1.0;       // duration of a change, in samples
  SAMPLE last_input = 0.0f;  // input of the previous tick
  double last_delay = 0.0;   // delay of the previous tick
};

struct Dyno_Data {
  // Samples per millisecond of the preset times: the runtime's default rate
  // (44100) over 1000, whatever rate the engine runs at.
  static const double ms;

  double slopeAbove = 0.1;
  double slopeBelow = 1.0;
  double thresh = 0.5;
  double rt = 0.0;  // release coefficient, 1 - exp(-2.2 / release samples)
  double at = 0.0;  // attack coefficient, 1 - exp(-2.2 / attack samples)
  double envelope = 0.0;
  int32_t externalSideInput = 0;
  double sideInput = 0.0;
};

// The coefficient of a detector time of t samples: 1 - exp(-2.2 / t); a time
// of 0, below 0 or NaN is instantaneous (1).
double dyno_coefficient(double t);
// The time (samples) of a coefficient: -2.2 / ln(1 - c); infinite for 0.
double dyno_time(double c);

// ---------------------------------------------------------------------------
// Native functions of the classes (registered under the names in quotes).

// Noise
unsigned long noise_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED);

// CNoise
void cnoise_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
void cnoise_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED);
unsigned long cnoise_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED);
// `string mode(string mode)`: "white", "pink", "brown", "fbm", "flip", "xor";
// any other text (or null) changes nothing. Writes no result.
void cnoise_ctrl_mode(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// `float fprob(float p)`: fprob = p x 2147483647 (cut to the int range, NaN
// 0). Writes no result.
void cnoise_ctrl_fprob(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

// Impulse and Step: `float next(float)`, `float next()`.
void impulse_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
void impulse_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED);
unsigned long impulse_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED);
void impulse_ctrl_next(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void impulse_cget_next(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void step_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
void step_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED);
unsigned long step_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED);
void step_ctrl_next(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void step_cget_next(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

// HalfRect and FullRect
unsigned long halfrect_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED);
unsigned long fullrect_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED);

// DelayP: `dur delay(dur)`, `dur delay()`, `dur window(dur)`, `dur window()`,
// `dur max(dur)`, `dur max()`.
void delayp_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
void delayp_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED);
unsigned long delayp_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED);
unsigned long delayp_pmsg(Chip_Object* SELF, const char* MSG, void* ARGS, Chip_VM_Shred* SHRED);
void delayp_ctrl_delay(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void delayp_cget_delay(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void delayp_ctrl_window(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void delayp_cget_window(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void delayp_ctrl_max(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void delayp_cget_max(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

// Dyno
void dyno_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
void dyno_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED);
unsigned long dyno_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED);
// Presets (`void limit()` ...).
void dyno_ctrl_limit(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void dyno_ctrl_compress(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void dyno_ctrl_gate(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void dyno_ctrl_expand(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void dyno_ctrl_duck(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// Properties: setter (one argument, returns what it set) and getter.
void dyno_ctrl_thresh(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void dyno_cget_thresh(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void dyno_ctrl_slopeBelow(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                          Chip_VM_Shred* SHRED);
void dyno_cget_slopeBelow(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                          Chip_VM_Shred* SHRED);
void dyno_ctrl_slopeAbove(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                          Chip_VM_Shred* SHRED);
void dyno_cget_slopeAbove(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                          Chip_VM_Shred* SHRED);
void dyno_ctrl_sideInput(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                         Chip_VM_Shred* SHRED);
void dyno_cget_sideInput(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                         Chip_VM_Shred* SHRED);
void dyno_ctrl_externalSideInput(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                                 Chip_VM_Shred* SHRED);
void dyno_cget_externalSideInput(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                                 Chip_VM_Shred* SHRED);
void dyno_ctrl_ratio(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void dyno_cget_ratio(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void dyno_ctrl_attackTime(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                          Chip_VM_Shred* SHRED);
void dyno_cget_attackTime(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                          Chip_VM_Shred* SHRED);
void dyno_ctrl_releaseTime(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                           Chip_VM_Shred* SHRED);
void dyno_cget_releaseTime(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                           Chip_VM_Shred* SHRED);

#endif
