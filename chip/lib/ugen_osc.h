// The osc module: phase-accumulating oscillators and wave-table generators.
//
// Oscillators. Every oscillator keeps one Osc_Data record: a phase in cycles
// (in [0, 1]), an increment `num` in cycles per sample (freq / srate reduced
// into [0, 1)), the frequency, a width and a sync mode. A tick turns the
// phase into one sample and then advances it by num:
//     Osc, Phasor   p               (a ramp 0..1)
//     SinOsc        sin(2 pi p)
//     TriOsc        a triangle whose rising part takes `width` of the cycle,
//                   starting at 0 rising for width 0.5 (SawOsc: width 0 or 1)
//     PulseOsc      +1 while p < width, -1 after (SqrOsc: width 0.5)
// With something connected to its input an oscillator uses the input by its
// sync mode: 0 as the frequency in Hz, 1 as the phase (no advance that
// sample), 2 as frequency modulation added to `freq` for that sample.
//
// Every reduction is a floor (x - floor(x)), never a loop, so no value can
// make a tick spin. A non-finite frequency counts as 0 Hz and a non-finite
// phase as 0, so a NaN or an infinity set from a script or arriving at the
// input holds the oscillator for as long as it lasts and never poisons it:
// the next finite value carries on from there. Negative frequencies run the
// phase backwards for every class (the increment is reduced modulo 1 like
// the phasor's), and a phase input outside [0, 1] is reduced into it.
//
// Wave tables. The GenX classes fill a 4096-point table from a list of
// coefficients (`coefs`) and read it by linear interpolation: as a unit
// generator with the input as position in [0, 1) (typically from a Phasor),
// or through `lookup`. Gen5 exponential segments, Gen7 line segments, Gen9
// arbitrary partials, Gen10 harmonics, Gen17 Chebyshev polynomials (these
// five normalised to a peak of 1), CurveTable curved segments and WarpTable
// a warping curve. Segment positions are clamped to the table and segments
// of no positive length only move the current value; entries that come out
// non-finite become 0, and a table that is all 0 stays so rather than being
// divided by 0.
//
// osc_query copies the query's sample rate (read by each object when it is
// made), registers the old lower-case names, Osc, Phasor, SinOsc, TriOsc,
// SawOsc, PulseOsc and SqrOsc, and ends with genX_query for the tables.
//
// Threads: registration on the thread that starts the engine; everything
// else on the machine's thread.
#ifndef CHIP_UGEN_OSC_H
#define CHIP_UGEN_OSC_H

#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"

// Byte offsets of the hidden state members "@osc_data" and "@GenX_data"; -1
// until registered.
extern t_CPWORD osc_offset_data;
extern t_CPWORD genX_offset_data;

// The state of one oscillator.
struct Osc_Data {
  t_CPFLOAT num;    // increment per sample, in cycles, in [0, 1)
  t_CPFLOAT freq;   // Hz (finite)
  t_CPINT sync;     // input use: 0 frequency, 1 phase, 2 modulation
  t_CPUINT srate;   // the module's rate when the object was made
  t_CPFLOAT width;  // duty cycle / rising share, in [0, 1]
  t_CPFLOAT phase;  // cycles, in [0, 1]
};

// Points in a wave table, and coefficients kept or read per call.
constexpr int GENX_TABLE_SIZE = 4096;
constexpr int GENX_MAX_COEFFS = 100;

// The state of one wave table.
struct GenX_Data {
  t_CPFLOAT table[GENX_TABLE_SIZE];
  t_CPUINT srate;
  t_CPFLOAT coeffs[GENX_MAX_COEFFS];  // Gen10's harmonic amplitudes
};

// The module's query: the oscillators, then genX_query's result. FALSE (the
// import interface printed why) when a class cannot be registered.
t_CPBOOL osc_query(Chip_DL_Query* QUERY);
// The wave-table classes (called by osc_query).
t_CPBOOL genX_query(Chip_DL_Query* QUERY);
// Clears the offsets (for an environment that is shut down).
void osc_forget_types();

// ---------------------------------------------------------------------------
// Oscillators.

void osc_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
void osc_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED);
unsigned long osc_pmsg(Chip_Object* SELF, const char* msg, void* ARGS, Chip_VM_Shred* SHRED);
void sawosc_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
void sqrosc_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);

unsigned long osc_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED);
unsigned long sinosc_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED);
unsigned long triosc_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED);
unsigned long pulseosc_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED);

// `float freq(float hz)` (also `sfreq`): returns the stored frequency.
void osc_ctrl_freq(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void osc_cget_freq(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// `dur period(dur value)`: frequency srate / value (0 for a period of 0);
// returns value.
void osc_ctrl_period(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// `dur period()`: srate / freq in samples, 0 at 0 Hz.
void osc_cget_period(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// `float phase(float p)`: p reduced into [0, 1); returns it.
void osc_ctrl_phase(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void osc_cget_phase(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// `int sync(int mode)`: 0, 1 or 2 (anything else stores 0); leaving a sync
// mode for 0 advances the phase once. Returns the stored mode.
void osc_ctrl_sync(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void osc_cget_sync(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// `float width(float w)`: w clamped to [0, 1] (NaN keeps the width).
void osc_ctrl_width(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void osc_cget_width(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// SawOsc's `width(w)`: 0 (falling) below 0.5, else 1 (rising).
void sawosc_ctrl_width(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                       Chip_VM_Shred* SHRED);
// SqrOsc's `width()`: puts the width back to 0.5 and returns it.
void sqrosc_ctrl_width(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                       Chip_VM_Shred* SHRED);

// ---------------------------------------------------------------------------
// Wave tables.

void genX_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
void genX_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED);
unsigned long genX_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED);
unsigned long genX_pmsg(Chip_Object* SELF, const char* msg, void* ARGS, Chip_VM_Shred* SHRED);
// `float lookup(float which)`: the table at |which| x 4095, interpolated.
void genX_lookup(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// `float[] coefs(float v[])`: builds the table from v; returns v.
void genX_coeffs(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void gen5_coeffs(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void gen7_coeffs(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void gen9_coeffs(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void gen10_coeffs(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void gen17_coeffs(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void curve_coeffs(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void warp_coeffs(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

#endif
