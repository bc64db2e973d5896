// The filter module: the basic second-order filters and the Teabox reader.
//
// FilterBasic is an abstract unit generator that owns one state record per
// object (hidden member "@FilterBasic_data"). Its five resonant subclasses
// share that record and differ only in how `freq` and `Q` become the three
// coefficients a0, b1, b2 and in their output equation:
//   BPF     band-pass with constant skirt gain, zeros at DC and Nyquist;
//   BRF     band-reject (notch);
//   LPF     resonant low-pass, double zero at Nyquist;
//   HPF     resonant high-pass, double zero at DC;
//   ResonZ  two-pole resonator with zeros at +-1 and a peak gain near 1
//           (exactly 1 as the band narrows).
// BiQuad is a direct two-pole two-zero filter (member "@biquad_data")
// whose coefficients a script sets one by one or through the frequency and
// radius of its poles and zeros. Teabox demultiplexes a framed sensor
// stream arriving as audio: a negative sample starts a frame of up to ten
// samples (a lead, eight analog channels and a digital word); it keeps its
// record in the inherited FilterBasic member and passes its input through.
//
// Setters store their value after its clamp and return it as stored;
// getters return the stored value. The clamps keep every filter finite and
// stable whatever a script asks for:
//   - a NaN argument is ignored: the setter keeps and returns the old value;
//   - frequencies are clamped to [0, srate / 2];
//   - Q is clamped to [FILTER_MIN_Q, FILTER_MAX_Q] (LPF and HPF to
//     [FILTER_MIN_Q, 1000]), so a Q of 0 or below, such as the 0 a new BPF
//     or BRF starts with, acts as the smallest Q;
//   - the coefficient formulas see the centre angle inside
//     [FILTER_MIN_ANGLE, pi - FILTER_MIN_ANGLE] and their tangent
//     arguments below pi/2, and ResonZ's pole radius R = 1 - pf/(2Q) no
//     lower than 0, so the poles stay inside the unit circle (at the exact
//     band edges a pole would sit on the circle, and a tangent argument
//     past pi/2 puts the poles outside);
//   - a BiQuad pole radius is clamped to +-FILTER_MAX_POLE_RADIUS, a zero
//     radius to +-FILTER_MAX_ZERO_RADIUS, a coefficient to
//     +-FILTER_MAX_COEFFICIENT.
// Coefficients and histories are doubles: in single precision the poles of
// a low cutoff round onto or past the unit circle. Stored histories are
// flushed (kept only when 1e-15 < |v| < 1e15, else 0); a value at or past
// the upper bound (or not finite) clears the whole history, so the filter
// restarts from silence instead of kicking itself back over the bound; and
// a tick whose result does not fit a sample outputs 0. Nothing non-finite
// survives a sample.
//
// Threads: filter_query runs once on the thread that starts the engine;
// constructors, destructors, ticks and member functions on the machine's
// thread. No locks.
#ifndef CHIP_UGEN_FILTER_H
#define CHIP_UGEN_FILTER_H

#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"

// Parameter limits (see above).
const double FILTER_MIN_Q = 0.001;
const double FILTER_MAX_Q = 1.0e6;
const double FILTER_MAX_LH_Q = 1000.0;  // LPF and HPF
const double FILTER_MIN_ANGLE = 1.0e-6;  // radians per sample
const double FILTER_MAX_POLE_RADIUS = 1.0 - 1.0e-6;
const double FILTER_MAX_ZERO_RADIUS = 1000.0;
const double FILTER_MAX_COEFFICIENT = 1.0e6;

// State of a BPF, BRF, LPF, HPF or ResonZ.
struct FilterBasic_Data {
  double y1, y2;       // recursion history, newest first
  double a0, b1, b2;   // coefficients
  double freq;         // Hz, as stored
  double Q;            // as stored
};

// State of a BiQuad.
struct BiQuad_Data {
  double a0, a1, a2, b0, b1, b2;  // a0 is an input gain ("pregain")
  double input0, input1, input2;  // scaled input, newest first
  double output0, output1, output2;
  double pfreq, zfreq;  // Hz
  double prad, zrad;
  t_CPINT norm;
  t_CPUINT srate;
};

// State of a Teabox (kept in the FilterBasic member).
struct Teabox_Data {
  t_CPINT counter;    // samples since the last frame start
  double analog[8];
  double raw;         // the digital word as received
  double lead;        // the first sample of a frame
  double last;        // the previous input sample
  t_CPINT bits;       // the digital word as an integer
};

// Byte offsets of "@FilterBasic_data" and "@biquad_data"; -1 until
// registered.
extern t_CPWORD FilterBasic_offset_data;
extern t_CPWORD biquad_offset_data;

// The module's query: copies QUERY's sample rate, registers the deprecated
// lower-case names, then FilterBasic, BPF, BRF, LPF, HPF, ResonZ, BiQuad
// and Teabox in the global namespace. TRUE on success; FALSE when a class
// cannot be registered (the import interface printed why).
t_CPBOOL filter_query(Chip_DL_Query* QUERY);

// Stores v only when 1e-15 < |v| < 1e15 (single-precision bounds), else 0.
double filter_flush(double v);

// ---------------------------------------------------------------------------
// Bindings (arguments as declared: `float freq(float val)`, `float Q(float
// val)`, `void set(float freq, float Q)`, getters without arguments).

void FilterBasic_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
void FilterBasic_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED);
unsigned long FilterBasic_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED);
unsigned long FilterBasic_pmsg(Chip_Object* SELF, const char* msg, void* ARGS,
                               Chip_VM_Shred* SHRED);
// FilterBasic's own members do nothing.
void FilterBasic_ctrl_freq(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                           Chip_VM_Shred* SHRED);
void FilterBasic_cget_freq(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                           Chip_VM_Shred* SHRED);
void FilterBasic_ctrl_Q(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                        Chip_VM_Shred* SHRED);
void FilterBasic_cget_Q(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                        Chip_VM_Shred* SHRED);
void FilterBasic_ctrl_set(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                          Chip_VM_Shred* SHRED);

// The members of each resonant subclass.
#define FILTER_DECLARE_RESONANT(Class)                                                       \
  void Class##_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);                      \
  unsigned long Class##_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED); \
  unsigned long Class##_pmsg(Chip_Object* SELF, const char* msg, void* ARGS,                   \
                             Chip_VM_Shred* SHRED);                                            \
  void Class##_ctrl_freq(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,                \
                         Chip_VM_Shred* SHRED);                                                \
  void Class##_cget_freq(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,                \
                         Chip_VM_Shred* SHRED);                                                \
  void Class##_ctrl_Q(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,                   \
                      Chip_VM_Shred* SHRED);                                                   \
  void Class##_cget_Q(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,                   \
                      Chip_VM_Shred* SHRED);                                                   \
  void Class##_ctrl_set(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,                 \
                        Chip_VM_Shred* SHRED);

FILTER_DECLARE_RESONANT(BPF)
FILTER_DECLARE_RESONANT(BRF)
FILTER_DECLARE_RESONANT(LPF)
FILTER_DECLARE_RESONANT(HPF)
FILTER_DECLARE_RESONANT(ResonZ)

#undef FILTER_DECLARE_RESONANT

void BiQuad_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
void BiQuad_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED);
unsigned long BiQuad_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED);
// Float properties: pfreq, prad, zfreq, zrad, pregain (= a0), a0, a1, a2,
// b0, b1, b2; int properties: norm; eqzs is a setter only.
#define FILTER_DECLARE_BIQUAD_PROPERTY(name)                                          \
  void BiQuad_ctrl_##name(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,      \
                          Chip_VM_Shred* SHRED);                                      \
  void BiQuad_cget_##name(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,      \
                          Chip_VM_Shred* SHRED);
FILTER_DECLARE_BIQUAD_PROPERTY(pfreq)
FILTER_DECLARE_BIQUAD_PROPERTY(prad)
FILTER_DECLARE_BIQUAD_PROPERTY(zfreq)
FILTER_DECLARE_BIQUAD_PROPERTY(zrad)
FILTER_DECLARE_BIQUAD_PROPERTY(norm)
FILTER_DECLARE_BIQUAD_PROPERTY(pregain)
FILTER_DECLARE_BIQUAD_PROPERTY(a0)
FILTER_DECLARE_BIQUAD_PROPERTY(a1)
FILTER_DECLARE_BIQUAD_PROPERTY(a2)
FILTER_DECLARE_BIQUAD_PROPERTY(b0)
FILTER_DECLARE_BIQUAD_PROPERTY(b1)
FILTER_DECLARE_BIQUAD_PROPERTY(b2)
#undef FILTER_DECLARE_BIQUAD_PROPERTY
void BiQuad_ctrl_eqzs(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                      Chip_VM_Shred* SHRED);

void Teabox_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
unsigned long Teabox_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED);
unsigned long Teabox_pmsg(Chip_Object* SELF, const char* msg, void* ARGS, Chip_VM_Shred* SHRED);
// `float analog(int which)`: which clamped to 0..7.
void Teabox_cget_analog(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                        Chip_VM_Shred* SHRED);
// `float digital(int which)`: bit which (clamped to 0..15) of the word.
void Teabox_cget_digital(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                         Chip_VM_Shred* SHRED);

#endif
