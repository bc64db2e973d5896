// The xform module: frame-based transforms as unit analysers (FFT and IFFT,
// DCT and IDCT, Flip and pilF) and the Windowing class of window makers.
//
// Design. Each analyser is a plain class derived from Frame_Obj, declared
// to the language by one row of the binding frame (chip/vm/ugen_frame.h),
// with a tick and a tock. The split is that of every analyser: the tick
// only records a sample (FFT, DCT, Flip: into a ring of the W most recent
// samples) or plays one out (IFFT, IDCT, pilF: from an overlap-add ring),
// which is cheap; the transform runs in the tock, when a script upchips the
// analyser, at the hop the script chooses by advancing time. The classes
// take and fill arrays (the upstream blob's values, their own blob's
// arrays), so they build and test without a machine; the rows only fetch
// the blobs.
//
// Sizes. M is the transform size, W the window length (M without a
// window). FFT and IFFT round sizes up to a power of two (1 gives 0: an
// empty transform that analyses nothing, ticks 0 and tocks empty results);
// the other four take the size as given. Every class holds W <= M: a
// window longer than M, or an empty one, is refused with a message and the
// old window kept; a size that leaves M below W drops the window with a
// message. Sizes are capped: FFT, IFFT, Flip and pilF at XFORM_MAX_SIZE
// samples, DCT and IDCT (which hold an M x M matrix) at XFORM_MAX_DCT_SIZE.
// A size() below 1 or above the cap prints the class's
// "InvalidTransformSizeException" line, answers 0 and ends the calling
// shred; the synthesisers, which grow to fit what reaches them from
// upstream or through transform(), print a message and skip the frame when
// that would pass the cap. A failed allocation leaves M = 0 and no buffers:
// tocks then print the class's "failure due to NULL buffer" line and give
// empty results.
//
// Null arrays: window(null) removes the window; the copying members
// (spectrum, samples, output) log and do nothing; transform(null) prints
// the class's NullPointerException line and ends the calling shred.
//
// Windowing: static functions that return ONE shared float[] (made at the
// module's registration, never freed), resized and overwritten by every
// call: a script that keeps two windows copies the first. A size below 1
// stores nothing and answers null; a size above XFORM_MAX_SIZE, or memory
// running out, prints an OutOfMemoryException line, ends the calling shred
// and answers null.
//
// Threads: registration on the thread that starts the engine; everything
// else on the machine's thread.
#ifndef CHIP_LIB_UANA_XFORM_H
#define CHIP_LIB_UANA_XFORM_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "chip/util/chip_def.h"
#include "chip/util/util_buffers.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/frame_object.h"

// The largest transform sizes.
enum : int32_t { XFORM_MAX_SIZE = 1 << 20, XFORM_MAX_DCT_SIZE = 4096 };

// Offsets of the hidden members (FRAME_NO_OFFSET until registered).
extern t_CPWORD FFT_offset_data;
extern t_CPWORD IFFT_offset_data;
extern t_CPWORD Flip_offset_data;
extern t_CPWORD UnFlip_offset_data;
extern t_CPWORD DCT_offset_data;
extern t_CPWORD IDCT_offset_data;

// The module's query function: FFT, IFFT, Windowing, Flip, pilF, DCT, IDCT.
t_CPBOOL xform_query(Chip_DL_Query* QUERY);

// ---------------------------------------------------------------------------
// Buffers of the analysis classes come from here, so that tests can make
// them fail: after `count` more allocations every allocation fails (-1, the
// default: none fails). Also used by the extract module.
void xform_fail_allocations_after(long count);
// Counts one allocation: false when it is to fail.
bool xform_allocation_allowed();
// A block of n zeroed values, or null.
template <typename T>
std::unique_ptr<T[]> xform_alloc(size_t n) {
  if (!xform_allocation_allowed()) return nullptr;
  return std::unique_ptr<T[]>(new (std::nothrow) T[n]());
}

// ---------------------------------------------------------------------------
// The frame shared by the six transforms: size, window, and the rules
// above. Messages name the class by `name` ("FFT", "UnFlip" ...).
class Xform_Object : public Frame_Obj {
 public:
  // size(n): n rounded (FFT, IFFT) or as given; M afterwards. n below 1 or
  // above the cap: the invalid-size line and a Frame_Error that ends the
  // calling shred (nothing changes).
  int32_t setSize(t_CPINT n);
  int32_t size() const { return m_size; }
  int32_t windowSize() const { return m_window_size; }
  bool hasWindow() const { return m_window != nullptr; }
  // window(win): null removes the window; an empty window or one longer
  // than M is refused (message; the old one stays).
  void setWindow(Chip_Array8* win);

 protected:
  Xform_Object(const char* name, int32_t max_size, bool pow2, bool logs_resize);

  // Makes the class's buffers for size m > 0 (zeroed); false after the
  // class's failure message, with nothing held.
  virtual bool allocate(int32_t m) = 0;
  virtual void release() = 0;
  // M or W changed: the ring takes its capacity (W for analysers, M for
  // synthesisers).
  virtual void fitRing() = 0;

  // To size m (0 <= m <= the cap, already rounded): false when the
  // allocation failed (M = 0).
  bool resize(int32_t m);
  // Grows to hold `need` values from upstream (rounded as size() rounds):
  // true when M is enough afterwards; past the cap, a message and false
  // (the frame is skipped).
  bool growTo(long need);
  // frame[0 .. W-1] times the window (when one is set), zeros from W to M.
  void shape(float* frame) const;
  // The tocks' line for a transform without buffers after a failed
  // allocation (nothing for a deliberately empty transform).
  void reportMissingBuffers() const;
  // The NullPointerException line and a Frame_Error that ends the calling
  // shred.
  [[noreturn]] void nullArgument() const;

  const char* m_name;
  int32_t m_max;
  bool m_pow2;
  bool m_logs_resize;
  int32_t m_size = 0;         // M
  std::unique_ptr<float[]> m_window;
  int32_t m_window_size = 0;  // W
  bool m_failed = false;      // the last resize could not allocate
};

// The analysers' side: a ring of the W most recent input samples.
class Xform_Analyser : public Xform_Object {
 public:
  // Records the sample; outputs 0.
  SAMPLE tick(SAMPLE in);

 protected:
  using Xform_Object::Xform_Object;
  void fitRing() override;
  // The frame from the ring, oldest first, shaped.
  void frameFromRing(float* frame);
  // The frame from an array (cut at M), shaped.
  void frameFromArray(float* frame, Chip_Array8& from) const;

  AccumBuffer m_accum;
};

// The synthesisers' side: an overlap-add ring of capacity M.
class Xform_Synth : public Xform_Object {
 public:
  // The next output sample (its slot is cleared).
  SAMPLE tick();

 protected:
  using Xform_Object::Xform_Object;
  void fitRing() override;
  // Adds frame[0 .. M-1] into the ring from its read position.
  void overlapAdd(const float* frame);

  DeccumBuffer m_deccum;
};

// ---------------------------------------------------------------------------
// FFT: M = 512 at first. The spectrum has M/2 bins, bin k (1 <= k < M/2)
// being (1/M) sum x[n] e^(+2 pi i k n / M); bin 0 packs the DC value (re)
// and the Nyquist value (im).
class FFT_Object : public Xform_Analyser {
 public:
  FFT_Object();
  // Analyses the ring: cvals = the M/2 bins, fvals = their magnitudes.
  void tock(Chip_Array16& cvals, Chip_Array8& fvals);
  // Analyses the array (not the ring); the blob is not touched.
  void transform(Chip_Array8* from);
  // Copies the last spectrum (M/2 bins) into buffer.
  void spectrum(Chip_Array16* buffer) const;

 private:
  bool allocate(int32_t m) override;
  void release() override;
  void analyse();

  std::unique_ptr<float[]> m_buffer;
  std::unique_ptr<t_CPCOMPLEX[]> m_spectrum;
};

// IFFT: M = 512 at first; grows to twice the bins it receives.
class IFFT_Object : public Xform_Synth {
 public:
  IFFT_Object();
  // One frame from the upstream bins (none: a silent frame, nothing added);
  // fvals = the frame.
  void tock(Chip_Array16* upstream, Chip_Array8& fvals);
  void transform(Chip_Array16* from);
  void samples(Chip_Array8* buffer) const;

 private:
  bool allocate(int32_t m) override;
  void release() override;
  void loadBins(Chip_Array16& bins);
  void synthesise();

  std::unique_ptr<float[]> m_buffer;
  std::unique_ptr<float[]> m_inverse;
};

// Flip: the recent input as a frame of samples (M = 512 at first).
class Flip_Object : public Xform_Analyser {
 public:
  Flip_Object();
  void tock(Chip_Array8& fvals);
  void transform(Chip_Array8* from);
  void output(Chip_Array8* buffer) const;

 private:
  bool allocate(int32_t m) override;
  void release() override;

  std::unique_ptr<float[]> m_buffer;
};

// pilF (UnFlip): frames from upstream played out by overlap-add; grows to
// the length of what it receives.
class UnFlip_Object : public Xform_Synth {
 public:
  UnFlip_Object();
  void tock(Chip_Array8* upstream, Chip_Array8& fvals);
  void transform(Chip_Array8* from);
  void output(Chip_Array8* buffer) const;

 private:
  bool allocate(int32_t m) override;
  void release() override;
  void load(Chip_Array8& from);
  void synthesise();

  std::unique_ptr<float[]> m_buffer;
};

// An M x M matrix of floats as M row pointers into one block.
struct Xform_Matrix {
  bool allocate(int32_t m);
  void release();
  std::unique_ptr<float*[]> rows;
  std::unique_ptr<float[]> cells;
};

// DCT: M unnormalised DCT-II coefficients of the recent input.
class DCT_Object : public Xform_Analyser {
 public:
  DCT_Object();
  void tock(Chip_Array8& fvals);
  // Analyses the array like the ring (the blob is not touched).
  void transform(Chip_Array8* from);
  void spectrum(Chip_Array8* buffer) const;

 private:
  bool allocate(int32_t m) override;
  void release() override;
  void analyse();

  std::unique_ptr<float[]> m_buffer;
  std::unique_ptr<float[]> m_spectrum;
  Xform_Matrix m_matrix;
};

// IDCT: frames from coefficients (the inverse of DCT, 2/N scale) played
// out by overlap-add; grows to the number of coefficients it receives.
class IDCT_Object : public Xform_Synth {
 public:
  IDCT_Object();
  void tock(Chip_Array8* upstream, Chip_Array8& fvals);
  void transform(Chip_Array8* from);
  void samples(Chip_Array8* buffer) const;

 private:
  bool allocate(int32_t m) override;
  void release() override;
  void load(Chip_Array8& from);
  void synthesise();

  std::unique_ptr<float[]> m_buffer;
  std::unique_ptr<float[]> m_inverse;
  Xform_Matrix m_matrix;
};

// ---------------------------------------------------------------------------
// Windowing

enum Window_Kind {
  WINDOW_RECTANGLE,
  WINDOW_TRIANGLE,
  WINDOW_HANN,
  WINDOW_HAMMING,
  WINDOW_BLACKMAN_HARRIS
};

// The shared result array (made on first use, one reference never given
// back).
Chip_Array8* windowing_array();
// The window of `size` values in the shared array, or null when nothing
// was stored: size below 1 (logged); above XFORM_MAX_SIZE or out of memory
// (the OutOfMemoryException line, and *halt set: the caller ends its
// shred).
Chip_Array8* windowing_make(Window_Kind kind, t_CPINT size, bool* halt);
// Floats in the scratch buffer (it only grows).
size_t windowing_scratch_size();

#endif
