// The xform module: FFT, IFFT, Flip, pilF, DCT, IDCT and Windowing.
#include "chip/lib/uana_xform.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "chip/lib/util_xforms.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/util/util_math.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"
#include "chip/vm/ugen_frame.h"

t_CPWORD FFT_offset_data = FRAME_NO_OFFSET;
t_CPWORD IFFT_offset_data = FRAME_NO_OFFSET;
t_CPWORD Flip_offset_data = FRAME_NO_OFFSET;
t_CPWORD UnFlip_offset_data = FRAME_NO_OFFSET;
t_CPWORD DCT_offset_data = FRAME_NO_OFFSET;
t_CPWORD IDCT_offset_data = FRAME_NO_OFFSET;

namespace {

long g_allocations_left = -1;

// A Frame_Error whose message was printed already and which ends the
// calling shred.
[[noreturn]] void halt_member(const char* text) {
  Frame_Error error(text);
  error.markReported();
  error.haltShred();
  throw error;
}

// The array's values as floats into out[0 .. n-1] (n within its size).
void copy_in(float* out, Chip_Array8& from, size_t n) {
  for (size_t i = 0; i < n; i++) out[i] = static_cast<float>(from.m_vector[i]);
}

// out takes the n floats as doubles.
void copy_out(Chip_Array8& out, const float* values, size_t n) {
  if (static_cast<size_t>(out.size()) != n) out.set_size(static_cast<t_CPWORD>(n));
  for (size_t i = 0; i < n; i++) out.m_vector[i] = values[i];
}

}  // namespace

void xform_fail_allocations_after(long count) { g_allocations_left = count < 0 ? -1 : count; }

bool xform_allocation_allowed() {
  if (g_allocations_left < 0) return true;
  if (g_allocations_left == 0) return false;
  g_allocations_left--;
  return true;
}

// ---------------------------------------------------------------------------
// Xform_Object

Xform_Object::Xform_Object(const char* name, int32_t max_size, bool pow2, bool logs_resize)
    : m_name(name), m_max(max_size), m_pow2(pow2), m_logs_resize(logs_resize) {}

int32_t Xform_Object::setSize(t_CPINT n) {
  if (n < 1 || n > m_max) {
    EM_printf("[chip](%s): InvalidTransformSizeException (%d)\n", m_name, n);
    halt_member("invalid transform size");
  }
  int32_t m = n;
  if (m_pow2) m = static_cast<int32_t>(ensurepow2(n));  // 1 gives 0
  resize(m);
  return m_size;
}

bool Xform_Object::resize(int32_t m) {
  if (m_logs_resize) EM_log(CP_LOG_FINE, "%s resize %d -> %d", m_name, m_size, m);
  release();
  m_size = 0;
  m_failed = false;
  if (m > 0) {
    if (allocate(m)) {
      m_size = m;
    } else {
      m_failed = true;
    }
  }
  if (!m_window) {
    m_window_size = m_size;
  } else if (m_window_size > m_size) {
    EM_printf("[chip](%s): window of %d samples dropped: longer than the transform size %d\n",
              m_name, m_window_size, m_size);
    m_window.reset();
    m_window_size = m_size;
  }
  fitRing();
  return !m_failed;
}

bool Xform_Object::growTo(long need) {
  if (need <= m_size) return true;
  long target = m_pow2 ? ensurepow2(need) : need;
  if (need > m_max || target > m_max || target < need) {
    EM_printf("[chip](%s): %ld values need a transform larger than %d; frame skipped\n", m_name,
              need, m_max);
    return false;
  }
  resize(static_cast<int32_t>(target));
  return true;
}

void Xform_Object::setWindow(Chip_Array8* win) {
  if (!win) {
    m_window.reset();
    m_window_size = m_size;
    fitRing();
    return;
  }
  const t_CPWORD n = win->size();
  if (n == 0) {
    EM_printf("[chip](%s): empty window refused; the window stays as it was\n", m_name);
    return;
  }
  if (n > m_size) {
    EM_printf(
        "[chip](%s): window of %ld samples refused: longer than the transform size %d; the "
        "window stays as it was\n",
        m_name, static_cast<long>(n), m_size);
    return;
  }
  std::unique_ptr<float[]> copy = xform_alloc<float>(static_cast<size_t>(n));
  if (!copy) {
    EM_printf("[chip]: %s failed to allocate %ldxSAMPLE window...\n", m_name,
              static_cast<long>(m_size));
    m_window.reset();
    m_window_size = m_size;
  } else {
    copy_in(copy.get(), *win, static_cast<size_t>(n));
    m_window = std::move(copy);
    m_window_size = static_cast<int32_t>(n);
  }
  fitRing();
}

void Xform_Object::shape(float* frame) const {
  if (m_window) apply_window(frame, m_window.get(), static_cast<unsigned long>(m_window_size));
  std::fill(frame + m_window_size, frame + m_size, 0.0f);
}

void Xform_Object::reportMissingBuffers() const {
  if (m_failed) EM_printf("[chip]: %s failure due to NULL buffer...\n", m_name);
}

void Xform_Object::nullArgument() const {
  EM_printf("[chip](%s): NullPointerException (argument is NULL)\n", m_name);
  halt_member("null argument");
}

// ---------------------------------------------------------------------------
// Xform_Analyser, Xform_Synth

SAMPLE Xform_Analyser::tick(SAMPLE in) {
  m_accum.put(in);
  return 0.0f;
}

void Xform_Analyser::fitRing() { m_accum.resize(static_cast<unsigned long>(m_window_size)); }

void Xform_Analyser::frameFromRing(float* frame) {
  m_accum.get(frame, static_cast<unsigned long>(m_window_size));
  shape(frame);
}

void Xform_Analyser::frameFromArray(float* frame, Chip_Array8& from) const {
  const size_t n = std::min<size_t>(static_cast<size_t>(from.size()), m_size);
  copy_in(frame, from, n);
  std::fill(frame + n, frame + m_size, 0.0f);
  shape(frame);
}

SAMPLE Xform_Synth::tick() {
  SAMPLE out = 0.0f;
  m_deccum.get(&out);
  return out;
}

void Xform_Synth::fitRing() { m_deccum.resize(static_cast<unsigned long>(m_size)); }

void Xform_Synth::overlapAdd(const float* frame) {
  m_deccum.put(frame, static_cast<unsigned long>(m_size));
}

// ---------------------------------------------------------------------------
// FFT

FFT_Object::FFT_Object() : Xform_Analyser("FFT", XFORM_MAX_SIZE, true, true) { resize(512); }

bool FFT_Object::allocate(int32_t m) {
  m_buffer = xform_alloc<float>(static_cast<size_t>(m));
  m_spectrum = xform_alloc<t_CPCOMPLEX>(static_cast<size_t>(m / 2));
  if (m_buffer && m_spectrum) return true;
  EM_printf("[chip]: FFT failed to allocate %ld, %ld buffers...\n", static_cast<long>(m),
            static_cast<long>(m / 2));
  release();
  return false;
}

void FFT_Object::release() {
  m_buffer.reset();
  m_spectrum.reset();
}

void FFT_Object::analyse() {
  rfft(m_buffer.get(), m_size / 2, 1);
  for (int32_t k = 0; k < m_size / 2; k++) {
    m_spectrum[k] = t_CPCOMPLEX{m_buffer[2 * k], m_buffer[2 * k + 1]};
  }
}

void FFT_Object::tock(Chip_Array16& cvals, Chip_Array8& fvals) {
  if (m_size == 0) {
    reportMissingBuffers();
  } else {
    frameFromRing(m_buffer.get());
    analyse();
  }
  const t_CPWORD bins = m_size / 2;
  if (cvals.size() != bins) cvals.set_size(bins);
  if (fvals.size() != bins) fvals.set_size(bins);
  for (t_CPWORD k = 0; k < bins; k++) {
    const t_CPCOMPLEX& c = m_spectrum[k];
    cvals.m_vector[k] = c;
    fvals.m_vector[k] = std::sqrt(c.re * c.re + c.im * c.im);
  }
}

void FFT_Object::transform(Chip_Array8* from) {
  if (!from) nullArgument();
  if (m_size == 0) return;
  frameFromArray(m_buffer.get(), *from);
  analyse();
}

void FFT_Object::spectrum(Chip_Array16* buffer) const {
  if (!buffer) {
    EM_log(CP_LOG_WARNING, "(via FFT): null array passed to spectrum(...)");
    return;
  }
  const t_CPWORD bins = m_size / 2;
  buffer->set_size(bins);
  for (t_CPWORD k = 0; k < bins; k++) buffer->m_vector[k] = m_spectrum[k];
}

// ---------------------------------------------------------------------------
// IFFT

IFFT_Object::IFFT_Object() : Xform_Synth("IFFT", XFORM_MAX_SIZE, true, true) { resize(512); }

bool IFFT_Object::allocate(int32_t m) {
  m_buffer = xform_alloc<float>(static_cast<size_t>(m));
  m_inverse = xform_alloc<float>(static_cast<size_t>(m));
  if (m_buffer && m_inverse) return true;
  EM_printf("[chip]: IFFT failed to allocate %ld, %ld buffers...\n", static_cast<long>(m / 2),
            static_cast<long>(m));
  release();
  return false;
}

void IFFT_Object::release() {
  m_buffer.reset();
  m_inverse.reset();
}

void IFFT_Object::loadBins(Chip_Array16& bins) {
  if (m_size == 0) return;
  const size_t half = static_cast<size_t>(m_size / 2);
  const size_t n = std::min<size_t>(static_cast<size_t>(bins.size()), half);
  for (size_t k = 0; k < n; k++) {
    m_buffer[2 * k] = static_cast<float>(bins.m_vector[k].re);
    m_buffer[2 * k + 1] = static_cast<float>(bins.m_vector[k].im);
  }
  std::fill(m_buffer.get() + 2 * n, m_buffer.get() + m_size, 0.0f);
}

void IFFT_Object::synthesise() {
  if (m_size == 0) {
    reportMissingBuffers();
    return;
  }
  rfft(m_buffer.get(), m_size / 2, 0);
  std::copy(m_buffer.get(), m_buffer.get() + m_size, m_inverse.get());
  shape(m_inverse.get());
  overlapAdd(m_inverse.get());
}

void IFFT_Object::tock(Chip_Array16* upstream, Chip_Array8& fvals) {
  if (!upstream) {
    if (m_size) {
      std::fill(m_buffer.get(), m_buffer.get() + m_size, 0.0f);
      std::fill(m_inverse.get(), m_inverse.get() + m_size, 0.0f);
    }
  } else {
    if (!growTo(2 * static_cast<long>(upstream->size()))) return;
    loadBins(*upstream);
    synthesise();
  }
  copy_out(fvals, m_inverse.get(), static_cast<size_t>(m_size));
}

void IFFT_Object::transform(Chip_Array16* from) {
  if (!from) nullArgument();
  if (!growTo(2 * static_cast<long>(from->size()))) return;
  loadBins(*from);
  synthesise();
}

void IFFT_Object::samples(Chip_Array8* buffer) const {
  if (!buffer) {
    EM_log(CP_LOG_WARNING, "(via IFFT): null array passed to samples(...)");
    return;
  }
  copy_out(*buffer, m_inverse.get(), static_cast<size_t>(m_size));
}

// ---------------------------------------------------------------------------
// Flip

Flip_Object::Flip_Object() : Xform_Analyser("Flip", XFORM_MAX_SIZE, false, true) { resize(512); }

bool Flip_Object::allocate(int32_t m) {
  m_buffer = xform_alloc<float>(static_cast<size_t>(m));
  if (m_buffer) return true;
  EM_printf("[chip]: Flip failed to allocate %ld buffer...\n", static_cast<long>(m));
  return false;
}

void Flip_Object::release() { m_buffer.reset(); }

void Flip_Object::tock(Chip_Array8& fvals) {
  if (m_size == 0) {
    reportMissingBuffers();
  } else {
    frameFromRing(m_buffer.get());
  }
  copy_out(fvals, m_buffer.get(), static_cast<size_t>(m_size));
}

void Flip_Object::transform(Chip_Array8* from) {
  if (!from) nullArgument();
  if (m_size) frameFromArray(m_buffer.get(), *from);
}

void Flip_Object::output(Chip_Array8* buffer) const {
  if (!buffer) {
    EM_log(CP_LOG_WARNING, "(via Flip): null array passed to output(...)");
    return;
  }
  copy_out(*buffer, m_buffer.get(), static_cast<size_t>(m_size));
}

// ---------------------------------------------------------------------------
// pilF (UnFlip)

UnFlip_Object::UnFlip_Object() : Xform_Synth("UnFlip", XFORM_MAX_SIZE, false, true) {
  resize(512);
}

bool UnFlip_Object::allocate(int32_t m) {
  m_buffer = xform_alloc<float>(static_cast<size_t>(m));
  if (m_buffer) return true;
  EM_printf("[chip]: UnFlip failed to allocate %ld buffer...\n", static_cast<long>(m));
  return false;
}

void UnFlip_Object::release() { m_buffer.reset(); }

void UnFlip_Object::load(Chip_Array8& from) {
  const size_t n = std::min<size_t>(static_cast<size_t>(from.size()), m_size);
  copy_in(m_buffer.get(), from, n);
  std::fill(m_buffer.get() + n, m_buffer.get() + m_size, 0.0f);
}

void UnFlip_Object::synthesise() {
  if (m_size == 0) {
    reportMissingBuffers();
    return;
  }
  shape(m_buffer.get());
  overlapAdd(m_buffer.get());
}

void UnFlip_Object::tock(Chip_Array8* upstream, Chip_Array8& fvals) {
  if (!upstream) {
    std::fill(m_buffer.get(), m_buffer.get() + m_size, 0.0f);
  } else {
    if (!growTo(static_cast<long>(upstream->size()))) return;
    load(*upstream);
    synthesise();
  }
  copy_out(fvals, m_buffer.get(), static_cast<size_t>(m_size));
}

void UnFlip_Object::transform(Chip_Array8* from) {
  if (!from) nullArgument();
  if (!growTo(static_cast<long>(from->size()))) return;
  load(*from);
  synthesise();
}

void UnFlip_Object::output(Chip_Array8* buffer) const {
  if (!buffer) {
    EM_log(CP_LOG_WARNING, "(via UnFlip): null array passed to output(...)");
    return;
  }
  copy_out(*buffer, m_buffer.get(), static_cast<size_t>(m_size));
}

// ---------------------------------------------------------------------------
// DCT, IDCT

bool Xform_Matrix::allocate(int32_t m) {
  const size_t n = static_cast<size_t>(m);
  rows = xform_alloc<float*>(n);
  cells = xform_alloc<float>(n * n);
  if (!rows || !cells) {
    release();
    return false;
  }
  for (size_t i = 0; i < n; i++) rows[i] = cells.get() + i * n;
  return true;
}

void Xform_Matrix::release() {
  rows.reset();
  cells.reset();
}

DCT_Object::DCT_Object() : Xform_Analyser("DCT", XFORM_MAX_DCT_SIZE, false, false) {
  resize(512);
}

bool DCT_Object::allocate(int32_t m) {
  m_buffer = xform_alloc<float>(static_cast<size_t>(m));
  m_spectrum = xform_alloc<float>(static_cast<size_t>(m));
  if (m_buffer && m_spectrum && m_matrix.allocate(m)) {
    the_dct_matrix(m_matrix.rows.get(), static_cast<unsigned long>(m));
    return true;
  }
  EM_printf("[chip]: DCT failed to allocate %ld, %ld buffers...\n", static_cast<long>(m),
            static_cast<long>(m / 2));
  release();
  return false;
}

void DCT_Object::release() {
  m_buffer.reset();
  m_spectrum.reset();
  m_matrix.release();
}

void DCT_Object::analyse() {
  the_dct_now(m_buffer.get(), m_matrix.rows.get(), static_cast<unsigned long>(m_size),
              m_spectrum.get(), static_cast<unsigned long>(m_size));
}

void DCT_Object::tock(Chip_Array8& fvals) {
  if (m_size == 0) {
    reportMissingBuffers();
  } else {
    frameFromRing(m_buffer.get());
    analyse();
  }
  copy_out(fvals, m_spectrum.get(), static_cast<size_t>(m_size));
}

void DCT_Object::transform(Chip_Array8* from) {
  if (!from) nullArgument();
  if (m_size == 0) return;
  frameFromArray(m_buffer.get(), *from);
  analyse();
}

void DCT_Object::spectrum(Chip_Array8* buffer) const {
  if (!buffer) {
    EM_log(CP_LOG_WARNING, "(via DCT): null array passed to spectrum(...)");
    return;
  }
  copy_out(*buffer, m_spectrum.get(), static_cast<size_t>(m_size));
}

IDCT_Object::IDCT_Object() : Xform_Synth("IDCT", XFORM_MAX_DCT_SIZE, false, false) {
  resize(512);
}

bool IDCT_Object::allocate(int32_t m) {
  m_buffer = xform_alloc<float>(static_cast<size_t>(m));
  m_inverse = xform_alloc<float>(static_cast<size_t>(m));
  if (m_buffer && m_inverse && m_matrix.allocate(m)) {
    the_inverse_dct_matrix(m_matrix.rows.get(), static_cast<unsigned long>(m));
    return true;
  }
  const long n = m;
  EM_printf("[chip]: IDCT failed to allocate %ld, %ld, %ldx%ld buffers...\n", n, n, n, n);
  release();
  return false;
}

void IDCT_Object::release() {
  m_buffer.reset();
  m_inverse.reset();
  m_matrix.release();
}

void IDCT_Object::load(Chip_Array8& from) {
  const size_t n = std::min<size_t>(static_cast<size_t>(from.size()), m_size);
  copy_in(m_buffer.get(), from, n);
  std::fill(m_buffer.get() + n, m_buffer.get() + m_size, 0.0f);
}

void IDCT_Object::synthesise() {
  if (m_size == 0) {
    reportMissingBuffers();
    return;
  }
  the_inverse_dct_now(m_buffer.get(), m_matrix.rows.get(), static_cast<unsigned long>(m_size),
                      m_inverse.get(), static_cast<unsigned long>(m_size));
  shape(m_inverse.get());
  overlapAdd(m_inverse.get());
}

void IDCT_Object::tock(Chip_Array8* upstream, Chip_Array8& fvals) {
  if (!upstream) {
    std::fill(m_buffer.get(), m_buffer.get() + m_size, 0.0f);
    std::fill(m_inverse.get(), m_inverse.get() + m_size, 0.0f);
  } else {
    if (!growTo(static_cast<long>(upstream->size()))) return;
    load(*upstream);
    synthesise();
  }
  copy_out(fvals, m_inverse.get(), static_cast<size_t>(m_size));
}

void IDCT_Object::transform(Chip_Array8* from) {
  if (!from) nullArgument();
  if (!growTo(static_cast<long>(from->size()))) return;
  load(*from);
  synthesise();
}

void IDCT_Object::samples(Chip_Array8* buffer) const {
  if (!buffer) {
    EM_log(CP_LOG_WARNING, "(via IDCT): null array passed to samples(...)");
    return;
  }
  copy_out(*buffer, m_inverse.get(), static_cast<size_t>(m_size));
}

// ---------------------------------------------------------------------------
// Windowing

namespace {

struct Windowing_State {
  Chip_Array8* array = nullptr;
  std::unique_ptr<float[]> scratch;
  size_t scratch_size = 0;
};

Windowing_State& windowing_state() {
  static Windowing_State state;
  if (!state.array) {
    state.array = new Chip_Array8(8);
    state.array->add_ref();  // never given back: the array lives as long as the process
    state.scratch = xform_alloc<float>(16384);
    state.scratch_size = state.scratch ? 16384 : 0;
  }
  return state;
}

// The scratch buffer holds at least n floats; false when it could not grow
// (the old one stays, and so does its recorded size).
bool grow_scratch(Windowing_State& state, size_t n) {
  if (n <= state.scratch_size) return true;
  std::unique_ptr<float[]> fresh = xform_alloc<float>(n);
  if (!fresh) return false;
  state.scratch = std::move(fresh);
  state.scratch_size = n;
  return true;
}

// The shared array holds n values; false when it cannot.
bool fit_array(Chip_Array8* array, size_t n) {
  if (static_cast<size_t>(array->size()) == n) return true;
  if (static_cast<size_t>(array->capacity()) < n && !xform_allocation_allowed()) return false;
  try {
    array->set_size(static_cast<t_CPWORD>(n));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace

Chip_Array8* windowing_array() { return windowing_state().array; }

size_t windowing_scratch_size() { return windowing_state().scratch_size; }

Chip_Array8* windowing_make(Window_Kind kind, t_CPINT size, bool* halt) {
  if (halt) *halt = false;
  if (size < 1) {
    EM_log(CP_LOG_WARNING, "(via Windowing): negative window size...");
    return nullptr;
  }
  Windowing_State& state = windowing_state();
  const size_t n = static_cast<size_t>(size);
  const bool scratch = kind != WINDOW_RECTANGLE;
  // The scratch buffer first: when it cannot grow, the array stays as it was.
  if (size > XFORM_MAX_SIZE || (scratch && !grow_scratch(state, n)) ||
      !fit_array(state.array, n)) {
    EM_printf("[chip](Windowing): OutOfMemoryException (allocating FLOAT[%d])\n", size);
    if (halt) *halt = true;
    return nullptr;
  }
  std::vector<double>& out = state.array->m_vector;
  if (!scratch) {
    std::fill(out.begin(), out.end(), 1.0);
    return state.array;
  }
  float* w = state.scratch.get();
  switch (kind) {
    case WINDOW_TRIANGLE:
      bartlett(w, n);
      break;
    case WINDOW_HANN:
      hanning(w, n);
      break;
    case WINDOW_HAMMING:
      hamming(w, n);
      break;
    default:
      blackman(w, n);
      break;
  }
  std::copy(w, w + n, out.begin());
  return state.array;
}

// ---------------------------------------------------------------------------
// Registration

namespace {

Chip_Array8* array8(Chip_Object* obj) { return static_cast<Chip_Array8*>(obj); }
Chip_Array16* array16(Chip_Object* obj) { return static_cast<Chip_Array16*>(obj); }

// The first upstream analyser's blob, or null.
Chip_UAnaBlobProxy* upstream_blob(Chip_UAna* uana) {
  return uana->numIncomingUAnae() ? uana->getIncomingBlob(0) : nullptr;
}

template <Window_Kind K>
void windowing_fn(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  const t_CPINT size = GET_NEXT_INT(ARGS);
  bool halt = false;
  RETURN->v_object = windowing_make(K, size, &halt);
  if (halt && SHRED) {
    SHRED->is_running = FALSE;
    SHRED->is_done = TRUE;
  }
}

// The members every transform shares.
void window_member(Frame_Slot& s, void* args, Chip_DL_Return* ret) {
  Chip_Object* win = GET_NEXT_OBJECT(args);
  s.as<Xform_Object>().setWindow(array8(win));
  ret->v_object = win;
}
double set_size(Frame_Slot& s, double n) {
  return s.as<Xform_Object>().setSize(static_cast<t_CPINT>(n));
}
double get_size(Frame_Slot& s) { return s.as<Xform_Object>().size(); }
double get_window_size(Frame_Slot& s) { return s.as<Xform_Object>().windowSize(); }

#define XFORM_COMMON_MEMBERS                                                \
  frame_method("window", "float[]", window_member, {"float[]", "win"}),    \
      frame_prop("windowSize", "int", nullptr, get_window_size),            \
      frame_prop("size", "int", set_size, get_size)

const Frame_Member kFFTMembers[] = {
    frame_method("transform", "void",
                 [](Frame_Slot& s, void* a, Chip_DL_Return*) {
                   s.as<FFT_Object>().transform(array8(GET_NEXT_OBJECT(a)));
                 },
                 {"float[]", "from"}),
    XFORM_COMMON_MEMBERS,
    frame_method("spectrum", "void",
                 [](Frame_Slot& s, void* a, Chip_DL_Return*) {
                   s.as<FFT_Object>().spectrum(array16(GET_NEXT_OBJECT(a)));
                 },
                 {"complex[]", "buffer"}),
};

const Frame_Member kIFFTMembers[] = {
    frame_method("transform", "void",
                 [](Frame_Slot& s, void* a, Chip_DL_Return*) {
                   s.as<IFFT_Object>().transform(array16(GET_NEXT_OBJECT(a)));
                 },
                 {"complex[]", "from"}),
    XFORM_COMMON_MEMBERS,
    frame_method("samples", "void",
                 [](Frame_Slot& s, void* a, Chip_DL_Return*) {
                   s.as<IFFT_Object>().samples(array8(GET_NEXT_OBJECT(a)));
                 },
                 {"float[]", "buffer"}),
};

const Frame_Member kFlipMembers[] = {
    frame_method("transform", "void",
                 [](Frame_Slot& s, void* a, Chip_DL_Return*) {
                   s.as<Flip_Object>().transform(array8(GET_NEXT_OBJECT(a)));
                 },
                 {"float[]", "from"}),
    XFORM_COMMON_MEMBERS,
    frame_method("output", "void",
                 [](Frame_Slot& s, void* a, Chip_DL_Return*) {
                   s.as<Flip_Object>().output(array8(GET_NEXT_OBJECT(a)));
                 },
                 {"float[]", "buffer"}),
};

const Frame_Member kUnFlipMembers[] = {
    frame_method("transform", "void",
                 [](Frame_Slot& s, void* a, Chip_DL_Return*) {
                   s.as<UnFlip_Object>().transform(array8(GET_NEXT_OBJECT(a)));
                 },
                 {"float[]", "from"}),
    XFORM_COMMON_MEMBERS,
    frame_method("output", "void",
                 [](Frame_Slot& s, void* a, Chip_DL_Return*) {
                   s.as<UnFlip_Object>().output(array8(GET_NEXT_OBJECT(a)));
                 },
                 {"float[]", "buffer"}),
};

const Frame_Member kDCTMembers[] = {
    frame_method("transform", "void",
                 [](Frame_Slot& s, void* a, Chip_DL_Return*) {
                   s.as<DCT_Object>().transform(array8(GET_NEXT_OBJECT(a)));
                 },
                 {"float[]", "from"}),
    XFORM_COMMON_MEMBERS,
    frame_method("spectrum", "void",
                 [](Frame_Slot& s, void* a, Chip_DL_Return*) {
                   s.as<DCT_Object>().spectrum(array8(GET_NEXT_OBJECT(a)));
                 },
                 {"float[]", "buffer"}),
};

const Frame_Member kIDCTMembers[] = {
    frame_method("transform", "void",
                 [](Frame_Slot& s, void* a, Chip_DL_Return*) {
                   s.as<IDCT_Object>().transform(array8(GET_NEXT_OBJECT(a)));
                 },
                 {"float[]", "from"}),
    XFORM_COMMON_MEMBERS,
    frame_method("samples", "void",
                 [](Frame_Slot& s, void* a, Chip_DL_Return*) {
                   s.as<IDCT_Object>().samples(array8(GET_NEXT_OBJECT(a)));
                 },
                 {"float[]", "buffer"}),
};

#undef XFORM_COMMON_MEMBERS

// Analysers record, synthesisers play out.
SAMPLE analyser_tick(Frame_Slot& s, SAMPLE in) { return s.as<Xform_Analyser>().tick(in); }
SAMPLE synth_tick(Frame_Slot& s, SAMPLE) { return s.as<Xform_Synth>().tick(); }

const Frame_Class_Desc kFFT = {
    .name = "FFT",
    .parent = "UAna",
    .data_member = "@FFT_data",
    .offset = &FFT_offset_data,
    .make = [](Chip_Object*) -> Frame_Obj* { return new FFT_Object; },
    .tick = analyser_tick,
    .pmsg = frame_pmsg_true,
    FRAME_MEMBER_FIELDS(kFFTMembers),
    .tock = [](Frame_Slot& s, Chip_UAna*, Chip_UAnaBlobProxy* blob) {
      s.as<FFT_Object>().tock(blob->cvals(), blob->fvals());
    }};

const Frame_Class_Desc kIFFT = {
    .name = "IFFT",
    .parent = "UAna",
    .data_member = "@IFFT_data",
    .offset = &IFFT_offset_data,
    .make = [](Chip_Object*) -> Frame_Obj* { return new IFFT_Object; },
    .tick = synth_tick,
    .pmsg = frame_pmsg_true,
    FRAME_MEMBER_FIELDS(kIFFTMembers),
    .tock = [](Frame_Slot& s, Chip_UAna* uana, Chip_UAnaBlobProxy* blob) {
      Chip_UAnaBlobProxy* up = upstream_blob(uana);
      s.as<IFFT_Object>().tock(up ? &up->cvals() : nullptr, blob->fvals());
    }};

const Frame_Class_Desc kFlip = {
    .name = "Flip",
    .parent = "UAna",
    .data_member = "@Flip_data",
    .offset = &Flip_offset_data,
    .make = [](Chip_Object*) -> Frame_Obj* { return new Flip_Object; },
    .tick = analyser_tick,
    .pmsg = frame_pmsg_true,
    FRAME_MEMBER_FIELDS(kFlipMembers),
    .tock = [](Frame_Slot& s, Chip_UAna*, Chip_UAnaBlobProxy* blob) {
      s.as<Flip_Object>().tock(blob->fvals());
    }};

const Frame_Class_Desc kUnFlip = {
    .name = "pilF",
    .parent = "UAna",
    .data_member = "@UnFlip_data",
    .offset = &UnFlip_offset_data,
    .make = [](Chip_Object*) -> Frame_Obj* { return new UnFlip_Object; },
    .tick = synth_tick,
    .pmsg = frame_pmsg_true,
    FRAME_MEMBER_FIELDS(kUnFlipMembers),
    .tock = [](Frame_Slot& s, Chip_UAna* uana, Chip_UAnaBlobProxy* blob) {
      Chip_UAnaBlobProxy* up = upstream_blob(uana);
      s.as<UnFlip_Object>().tock(up ? &up->fvals() : nullptr, blob->fvals());
    }};

const Frame_Class_Desc kDCT = {
    .name = "DCT",
    .parent = "UAna",
    .data_member = "@DCT_data",
    .offset = &DCT_offset_data,
    .make = [](Chip_Object*) -> Frame_Obj* { return new DCT_Object; },
    .tick = analyser_tick,
    .pmsg = frame_pmsg_true,
    FRAME_MEMBER_FIELDS(kDCTMembers),
    .tock = [](Frame_Slot& s, Chip_UAna*, Chip_UAnaBlobProxy* blob) {
      s.as<DCT_Object>().tock(blob->fvals());
    }};

const Frame_Class_Desc kIDCT = {
    .name = "IDCT",
    .parent = "UAna",
    .data_member = "@IDCT_data",
    .offset = &IDCT_offset_data,
    .make = [](Chip_Object*) -> Frame_Obj* { return new IDCT_Object; },
    .tick = synth_tick,
    .pmsg = frame_pmsg_true,
    FRAME_MEMBER_FIELDS(kIDCTMembers),
    .tock = [](Frame_Slot& s, Chip_UAna* uana, Chip_UAnaBlobProxy* blob) {
      Chip_UAnaBlobProxy* up = upstream_blob(uana);
      s.as<IDCT_Object>().tock(up ? &up->fvals() : nullptr, blob->fvals());
    }};

// Windowing, through the query record's class operations.
void register_windowing(Chip_DL_Query* QUERY) {
  QUERY->begin_class(QUERY, "Windowing", "Object");
  const struct {
    const char* name;
    f_sfun fn;
  } functions[] = {{"rectangle", windowing_fn<WINDOW_RECTANGLE>},
                   {"triangle", windowing_fn<WINDOW_TRIANGLE>},
                   {"hann", windowing_fn<WINDOW_HANN>},
                   {"hamming", windowing_fn<WINDOW_HAMMING>},
                   {"blackmanHarris", windowing_fn<WINDOW_BLACKMAN_HARRIS>}};
  for (const auto& f : functions) {
    QUERY->add_sfun(QUERY, f.fn, "float[]", f.name);
    QUERY->add_arg(QUERY, "int", "size");
  }
  QUERY->end_class(QUERY);
  // The shared result array, an array object of this engine's type system
  // (made again for every type environment: the array outlives them).
  initialize_object(windowing_array(), &t_array);
}

}  // namespace

t_CPBOOL xform_query(Chip_DL_Query* QUERY) {
  Chip_Env* env = Chip_Env::instance();
  if (!frame_import_class(env, &kFFT)) return FALSE;
  if (!frame_import_class(env, &kIFFT)) return FALSE;
  register_windowing(QUERY);
  const Frame_Class_Desc* rest[] = {&kFlip, &kUnFlip, &kDCT, &kIDCT};
  for (const Frame_Class_Desc* desc : rest) {
    if (!frame_import_class(env, desc)) return FALSE;
  }
  return TRUE;
}
