// The extract module: spectral features, correlation and zero crossings as
// unit analysers (FeatureCollector, Centroid, Flux, RMS, RollOff, AutoCorr,
// XCorr, ZeroX), each also offering its formula as a static `compute`.
//
// Design. As in the xform module (chip/lib/uana_xform.h), every class is one
// row of the binding frame over plain code that takes and fills arrays, so
// the formulas test without a machine. A feature reads the float values of
// the first analyser connected upstream with `=^` (typically an FFT's
// magnitudes) in its tock and stores one value in its own blob (0.0 with no
// upstream analyser); FeatureCollector concatenates the values of all its
// upstream analysers, in connection order. None of them is an audio
// processor (their ticks output 0) except ZeroX, whose tick marks sign
// changes of its input.
//
// Empty and null inputs: the features of an empty array are 0.0 (no bins:
// nothing to measure), as with no upstream; the static functions give 0.0
// for null arrays. RollOff fractions are clamped to [0, 1], NaN giving the
// default 0.85, in `percent` and `compute` alike.
//
// Correlation. For a (na values) and b (nb values) the result has
// L = na + nb - 1 values, the lags -(nb - 1) .. na - 1 in ascending order:
//   y[j] = sum over n of a[n + j - (nb - 1)] b[n],
// so an autocorrelation is symmetric with lag 0 in the middle (index na - 1).
// With normalize on, every value is divided by 1e-6 + sum a^2 + sum b^2 (the
// inputs' energies), so a normalised autocorrelation has 1/2 at lag 0. It
// is computed with real FFTs over zero-padded work buffers of a power of two
// at least 1024 and at least L, which grow and never shrink. An empty input
// gives an empty result without a transform; so does L above
// XFORM_MAX_SIZE (with a message) or a failed buffer allocation. The static
// `compute` functions share one work object (and its normalize setting) and
// answer their output array; a null output array gives null, a null input
// an empty output.
//
// Threads: registration on the thread that starts the engine; everything
// else on the machine's thread.
#ifndef CHIP_LIB_UANA_EXTRACT_H
#define CHIP_LIB_UANA_EXTRACT_H

#include <cstdint>
#include <memory>
#include <vector>

#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/frame_object.h"

// Offsets of the hidden members (FRAME_NO_OFFSET until registered).
extern t_CPWORD Flux_offset_data;
extern t_CPWORD RollOff_offset_data;
extern t_CPWORD AutoCorr_offset_data;
extern t_CPWORD XCorr_offset_data;
extern t_CPWORD ZeroX_offset_data;

// The module's query function.
t_CPBOOL extract_query(Chip_DL_Query* QUERY);

// ---------------------------------------------------------------------------
// Features of one array (null: 0.0).

// sum i X[i] / sum X[i], as a fraction of N (N / 2 when the sum is 0).
double centroid_of(Chip_Array8* x);
// sqrt(sum X[i]^2 / N).
double rms_of(Chip_Array8* x);
// The fraction of the N values below which `percent` of their sum lies.
double rolloff_of(Chip_Array8* x, double percent);
// percent clamped to [0, 1]; NaN gives 0.85.
double rolloff_percent(double percent);
// The Euclidean distance of lhs and rhs (equal sizes, else 0.0 after an
// error report); diff, when given, receives a copy of lhs.
double flux_of(Chip_Array8* lhs, Chip_Array8* rhs, Chip_Array8* diff);
// Sign changes between neighbours (zero counts as positive) plus 0.5.
double zero_crossings_of(Chip_Array8* x);
// out = the arrays' values one after the other.
void collect_features(const std::vector<Chip_Array8*>& in, Chip_Array8& out);

// ---------------------------------------------------------------------------
// Analysers with state.

class RollOff_Object : public Frame_Obj {
 public:
  double setPercent(double p) { return m_percent = rolloff_percent(p); }
  double percent() const { return m_percent; }

 private:
  double m_percent = 0.85;
};

// Flux of successive frames: the distance between the normalised spectrum
// and the one before it. The first frame after construction, reset() or a
// change of size gives 0.0.
class Flux_Object : public Frame_Obj {
 public:
  Flux_Object();
  // One frame (null: no upstream, 0.0 and nothing changes).
  double tock(Chip_Array8* x);
  void reset() { m_initialized = false; }

 private:
  Chip_Array8 m_prev;
  Chip_Array8 m_norm;
  bool m_initialized = false;
};

// The work object of AutoCorr and XCorr.
class Corr_Object : public Frame_Obj {
 public:
  explicit Corr_Object(const char* name);
  int32_t setNormalize(t_CPINT flag) { return m_normalize = flag ? 1 : 0; }
  int32_t normalize() const { return m_normalize; }
  // out = the correlation of a and b (see above); a, b and out may be the
  // same array. False when out was left empty for a failure.
  bool correlate(Chip_Array8& a, Chip_Array8& b, Chip_Array8& out);
  // Floats in each work buffer.
  int32_t capacity() const { return m_capacity; }

 private:
  bool reserve(int32_t p);

  const char* m_name;
  int32_t m_normalize = 0;
  int32_t m_capacity = 0;
  std::unique_ptr<float[]> m_f;
  std::unique_ptr<float[]> m_g;
  std::unique_ptr<float[]> m_y;
};

// The work object of the static compute functions (made on first use).
Corr_Object& corr_static();

class ZeroX_Object : public Frame_Obj {
 public:
  // +1 where the input turns from negative to non-negative, -1 the other
  // way, else 0.
  SAMPLE tick(SAMPLE in);

 private:
  SAMPLE m_prev = 0.0f;
};

#endif
