// The osc module: phase-accumulating oscillators and wave-table generators.
//
// Oscillators. Every oscillator is one Oscillator: a phase in cycles (in
// [0, 1]), an increment in cycles per sample (freq / srate reduced into
// [0, 1)), the frequency, a width and a sync mode. A tick turns the phase
// into one sample and then advances it by the increment:
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
// Wave tables. The GenX classes are one Wave_Table: a 4096-point table
// filled from a list of coefficients (`coefs`) and read by linear
// interpolation: as a unit generator with the input as position in [0, 1)
// (typically from a Phasor), or through `lookup`. Gen5 exponential
// segments, Gen7 line segments, Gen9 arbitrary partials, Gen10 harmonics,
// Gen17 Chebyshev polynomials (these five normalised to a peak of 1),
// CurveTable curved segments and WarpTable a warping curve. Segment
// positions are clamped to the table and segments of no positive length
// only move the current value; entries that come out non-finite become 0,
// and a table that is all 0 stays so rather than being divided by 0.
//
// Binding. Oscillator and Wave_Table are plain classes of the binding frame
// (chip/vm/ugen_frame.h) that build and test without a machine; each
// language class is one row of a class table. Osc makes the Oscillator in
// its hidden member "@osc_data" and declares freq, period, sfreq (a setter
// alias of freq), phase and sync; Phasor, SinOsc, TriOsc and PulseOsc share
// it and differ by tick (TriOsc and PulseOsc add `width`). SawOsc makes its
// own Oscillator of width 1 and replaces the width setter; SqrOsc only adds
// a `width()` that puts 0.5 back. GenX makes the Wave_Table in "@GenX_data"
// and declares lookup and a coefs that refuses to build; each table class
// declares the coefs of its builder. The "print" messages are small native
// functions.
//
// osc_query copies the query's sample rate (read by each oscillator when it
// is made), registers the old lower-case names, Osc, Phasor, SinOsc, TriOsc,
// SawOsc, PulseOsc and SqrOsc, and ends with genX_query for the tables.
//
// Threads: registration on the thread that starts the engine; everything
// else on the machine's thread.
#ifndef CHIP_UGEN_OSC_H
#define CHIP_UGEN_OSC_H

#include <vector>

#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/frame_object.h"

// Byte offsets of the hidden state members "@osc_data" and "@GenX_data"; -1
// until registered.
extern t_CPWORD osc_offset_data;
extern t_CPWORD genX_offset_data;

// The module's query: the oscillators, then genX_query's result. FALSE (the
// import interface printed why) when a class cannot be registered.
t_CPBOOL osc_query(Chip_DL_Query* QUERY);
// The wave-table classes (called by osc_query).
t_CPBOOL genX_query(Chip_DL_Query* QUERY);
// Clears the offsets (for an environment that is shut down).
void osc_forget_types();

// ---------------------------------------------------------------------------
// Oscillators.

class Oscillator : public Frame_Obj {
 public:
  // At sampling rate srate (the increment stays 0 at rate 0): 220 Hz, sync
  // 0, phase 0 and the given width.
  explicit Oscillator(t_CPUINT srate, double width = 0.5);

  // Setters answer what they stored.
  // The frequency in Hz (a non-finite one is 0 Hz) and its increment.
  double setFreq(double hz);
  // The frequency srate / samples (0 Hz for a period of 0); answers samples.
  double setPeriod(double samples);
  // The phase, p reduced into [0, 1) (0 for a non-finite p).
  double setPhase(double p);
  // The sync mode 0, 1 or 2 (anything else stores 0); leaving a sync mode
  // for 0 advances the phase once (the step skipped while the input held it).
  t_CPINT setSync(t_CPINT mode);
  // The width clamped to [0, 1] (NaN keeps the width).
  double setWidth(double w);
  // SawOsc's width: 0 (falling) below 0.5, else 1 (rising; also for NaN).
  double setSawWidth(double w);
  // SqrOsc's width(): puts the width back to 0.5.
  double resetWidth();

  double freq() const { return freq_; }
  // srate / freq in samples, 0 at 0 Hz.
  double period() const;
  double phase() const { return phase_; }
  t_CPINT sync() const { return sync_; }
  double width() const { return width_; }
  // Cycles per sample, in [0, 1).
  double increment() const { return num_; }
  t_CPUINT srate() const { return srate_; }

  // One sample of each waveform from the input; `connected` tells whether
  // anything feeds the input (without, the input is ignored).
  SAMPLE tickPhasor(SAMPLE in, bool connected);
  SAMPLE tickSine(SAMPLE in, bool connected);
  SAMPLE tickTriangle(SAMPLE in, bool connected);
  SAMPLE tickPulse(SAMPLE in, bool connected);
  // The same for a block of frames (in and out may be the same array):
  // each output exactly as the tick would make it.
  void tickPhasor(const SAMPLE* in, SAMPLE* out, unsigned long frames, bool connected);
  void tickSine(const SAMPLE* in, SAMPLE* out, unsigned long frames, bool connected);
  void tickTriangle(const SAMPLE* in, SAMPLE* out, unsigned long frames, bool connected);
  void tickPulse(const SAMPLE* in, SAMPLE* out, unsigned long frames, bool connected);

 private:
  // The input applied by the sync mode; true when the phase is to advance
  // after this sample.
  bool input(double x, bool connected);
  void advance();
  // The common tick: input, one sample of `shape` (of the phase and the
  // width) from the phase, advance.
  template <typename Shape>
  SAMPLE run(SAMPLE in, bool connected, Shape shape);
  // The same over a block; free running, the phase stays in a register.
  template <typename Shape>
  void runBlock(const SAMPLE* in, SAMPLE* out, unsigned long frames, bool connected, Shape shape);

  t_CPFLOAT num_ = 0.0;     // increment per sample, in cycles, in [0, 1)
  t_CPFLOAT freq_ = 220.0;  // Hz (finite)
  t_CPINT sync_ = 0;        // input use: 0 frequency, 1 phase, 2 modulation
  t_CPUINT srate_;          // the module's rate when the object was made
  t_CPFLOAT width_;         // duty cycle / rising share, in [0, 1]
  t_CPFLOAT phase_ = 0.0;   // cycles, in [0, 1]
};

// ---------------------------------------------------------------------------
// Wave tables.

// Points in a wave table, and Gen10's kept harmonic amplitudes.
constexpr int GENX_TABLE_SIZE = 4096;
constexpr int GENX_MAX_COEFFS = 100;

class Wave_Table : public Frame_Obj {
 public:
  // The table at |which| x 4095 (lookup(1) reads the last point),
  // interpolated, as a sample.
  SAMPLE lookup(double which) const;
  // The table at `in` x 4096 when something is connected, else its first
  // point.
  SAMPLE tick(SAMPLE in, bool connected) const;

  // Builders, one per table class, from the list c (cut to 99 values;
  // CurveTable has its own limit). CurveTable and WarpTable print why they
  // refuse a list and then leave the table as it was.
  // Gen5: exponential segments value0, length1, value1, length2, value2...
  void gen5(const std::vector<double>& c);
  // Gen7: line segments value0, length1, value1, length2, value2...
  void gen7(const std::vector<double>& c);
  // Gen9: partials ratio, amplitude, phase in degrees, repeated; added to
  // the table, last triplet first.
  void gen9(const std::vector<double>& c);
  // Gen10: amplitudes of harmonic 1, 2, 3...; kept between calls (a shorter
  // list leaves the higher ones as they were) and added to the table.
  void gen10(const std::vector<double>& c);
  // Gen17: weights of the Chebyshev polynomials T1, T2, T3... over [-1, 1].
  void gen17(const std::vector<double>& c);
  // CurveTable: time1, value1, curvature1, ..., timeN, valueN; times from 0
  // upwards, scaled so that the last falls on the last point.
  void curve(const std::vector<double>& c);
  // WarpTable: asymmetric warp k1, then symmetric warp k2, over [0, 1].
  void warp(const std::vector<double>& c);

  t_CPFLOAT table[GENX_TABLE_SIZE] = {};
  t_CPFLOAT coeffs[GENX_MAX_COEFFS] = {};  // Gen10's harmonic amplitudes

 private:
  // The table at position p (in points), interpolated.
  double read(double p) const;
  // Non-finite entries become 0.
  void settle();
  // Divides by the largest magnitude (after settle); zeros stay so.
  void normalise();
};

#endif
