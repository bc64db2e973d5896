// The audio facade: settings, callback buffers and the two sides.
#include "chip/digiio_device.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "chip/chip_errmsg.h"
#include "chip/chip_vm.h"
#include "vxu/vxall.h"

// ---------------------------------------------------------------------------
// Digitalio state

t_CPBOOL Digitalio::m_block = TRUE;
std::atomic<t_CPBOOL> Digitalio::m_end{FALSE};
t_CPUINT Digitalio::m_adc_n = 0;
t_CPUINT Digitalio::m_dac_n = 0;
t_CPBOOL Digitalio::m_go = FALSE;
t_CPBOOL Digitalio::m_use_cb = TRUE;
std::atomic<t_CPBOOL> Digitalio::m_in_ready{FALSE};
std::atomic<t_CPBOOL> Digitalio::m_out_ready{FALSE};
float* Digitalio::m_extern_out = nullptr;
float* Digitalio::m_extern_in = nullptr;
float** Digitalio::m_read_ptr = nullptr;
float** Digitalio::m_write_ptr = nullptr;
float* Digitalio::m_buffer_in = nullptr;
float* Digitalio::m_buffer_out = nullptr;
t_CPUINT Digitalio::m_needed_out = 0;
t_CPUINT Digitalio::m_available_in = 0;
t_CPUINT Digitalio::m_num_buffers = 8;
t_CPUINT Digitalio::m_buffer_size = 256;
t_CPUINT Digitalio::m_bps = 16;
t_CPUINT Digitalio::m_sampling_rate = 44100;
t_CPUINT Digitalio::m_num_channels_in = 2;
t_CPUINT Digitalio::m_num_channels_out = 2;
t_CPUINT Digitalio::m_tick_count = 0;
t_CPINT Digitalio::m_start = 0;
t_CPBOOL Digitalio::m_init = FALSE;

namespace {

// Polling step of the blocking-mode hand-over.
const useconds_t kHandOverStepUs = 250;
// Steps that capture waits for input at most (5 ms).
const int kCaptureSteps = 20;

void free_callback_buffers() {
  delete[] Digitalio::m_buffer_in;
  delete[] Digitalio::m_buffer_out;
  Digitalio::m_buffer_in = nullptr;
  Digitalio::m_buffer_out = nullptr;
}

// The audio layer always runs two channels.
t_CPBOOL audio_layer_init(t_CPUINT srate, t_CPUINT buffer_size) {
  return VXALL::init((double)srate, buffer_size, 2) ? TRUE : FALSE;
}

// The audio layer's callback type counts frames in unsigned long.
void audio_layer_cb(float* buffer, unsigned long frames, void* data) {
  vxall_cb(buffer, (t_CPUINT)frames, data);
}

// Non-zero when running.
t_CPINT audio_layer_start() { return VXALL::start(audio_layer_cb, g_vm) ? 1 : 0; }

void audio_layer_stop() { VXALL::stop(); }

}  // namespace

t_CPBOOL Digitalio::initialize(t_CPUINT num_dac_channels, t_CPUINT num_adc_channels,
                               t_CPUINT sampling_rate, t_CPUINT bps, t_CPUINT buffer_size,
                               t_CPUINT num_buffers, t_CPBOOL block, Chip_VM* /*vm*/,
                               t_CPBOOL rt_audio, void* /*callback*/, void* /*data*/) {
  if (m_init) return FALSE;

  m_num_channels_out = num_dac_channels;
  m_num_channels_in = num_adc_channels;
  m_buffer_size = buffer_size;
  m_sampling_rate = sampling_rate;
  m_bps = bps;
  m_num_buffers = num_buffers;
  m_available_in = 0;
  m_start = 0;
  m_tick_count = 0;
  m_go = FALSE;
  m_end = FALSE;
  m_block = rt_audio ? block : FALSE;

  // With audio off the machine keeps fake time: the audio layer is not
  // touched at all.
  if (rt_audio && !audio_layer_init(sampling_rate, buffer_size)) {
    EM_error2(0, "(chip)error: unable to initialize VXALL...");
    m_init = FALSE;
    return FALSE;
  }

  if (m_use_cb) {
    t_CPUINT n = std::max(m_num_channels_in, m_num_channels_out);
    EM_log(CP_LOG_SEVERE, "allocating buffers for %d x %d samples...", (int)m_buffer_size, (int)n);
    // A buffer always holds at least one frame of one channel, so that the
    // sides never write through a null pointer.
    size_t count = std::max<size_t>(1, (size_t)m_buffer_size * n);
    free_callback_buffers();
    m_buffer_in = new float[count]();
    m_buffer_out = new float[count]();
    m_read_ptr = nullptr;
    m_write_ptr = nullptr;
  }

  m_init = TRUE;
  m_in_ready = FALSE;
  m_out_ready = FALSE;
  return TRUE;
}

void Digitalio::shutdown() {
  if (!m_init) return;
  if (m_start) audio_layer_stop();
  m_init = FALSE;
  m_start = 0;
  // The callback no longer runs: its buffers go now (the sides keep no
  // pointer into them once reset by the next initialize).
  free_callback_buffers();
  m_read_ptr = nullptr;
  m_write_ptr = nullptr;
  // TODO(audio layer): stop and delete the watchdog thread.
}

void Digitalio::probe() {}

void Digitalio::cb2(float* buffer, t_CPUINT frames, void* user_data) {
  Chip_VM* vm = static_cast<Chip_VM*>(user_data);
  size_t len = (size_t)frames * m_num_channels_out;

  // The first call of a real-time run applies the engine's priority to the
  // audio thread and outputs silence.
  if (!m_go && Chip_VM::our_priority != CHIP_VM_NO_PRIORITY) {
    Chip_VM::set_priority(Chip_VM::our_priority, nullptr);
    std::memset(buffer, 0, len * sizeof(float));
    m_go = TRUE;
    // TODO(audio layer): record the audio thread and start the watchdog.
    return;
  }

  if (m_num_channels_in) {
    std::memcpy(m_buffer_in, buffer, len * sizeof(float));
    if (m_extern_in) std::memcpy(m_extern_in, buffer, len * sizeof(float));
    m_available_in = frames;
  }
  m_needed_out = frames;

  vm->run((t_CPWORD)frames);

  if (m_end) {
    std::memset(buffer, 0, len * sizeof(float));
  } else {
    std::memcpy(buffer, m_buffer_out, len * sizeof(float));
  }
  if (m_extern_out) std::memcpy(m_extern_out, buffer, len * sizeof(float));
}

void vxall_cb(float* buffer, t_CPUINT frames, void* data) { Digitalio::cb2(buffer, frames, data); }

// ---------------------------------------------------------------------------
// Sides

float TickIn::tick() {
  float s = 0.0f;
  return tick_in(&s) ? s : 0.0f;
}

DigitalOut::DigitalOut() : m_cursor(nullptr), m_end(nullptr) {}

DigitalOut::~DigitalOut() {
  if (Digitalio::m_write_ptr == &m_cursor) Digitalio::m_write_ptr = nullptr;
}

t_CPBOOL DigitalOut::initialize() {
  if (!Digitalio::m_use_cb) return FALSE;
  m_cursor = Digitalio::m_buffer_out;
  m_end = m_cursor ? m_cursor + (size_t)Digitalio::m_buffer_size * Digitalio::m_num_channels_out
                   : nullptr;
  Digitalio::m_write_ptr = &m_cursor;
  return TRUE;
}

t_CPBOOL DigitalOut::start() {
  if (Digitalio::m_start) return TRUE;
  Digitalio::m_start = audio_layer_start();
  return Digitalio::m_start != 0;
}

t_CPBOOL DigitalOut::cleanup() { return TRUE; }

void DigitalOut::prepare() {
  if (m_cursor < m_end) return;
  if (Digitalio::m_block) {
    Digitalio::m_out_ready = TRUE;
    while (Digitalio::m_out_ready) usleep(kHandOverStepUs);
  }
  m_cursor = Digitalio::m_buffer_out;
  m_end = m_cursor + (size_t)Digitalio::m_needed_out * Digitalio::m_num_channels_out;
}

t_CPBOOL DigitalOut::tick_out(float s) {
  prepare();
  *m_cursor++ = s;
  return TRUE;
}

t_CPBOOL DigitalOut::tick_out(float l, float r) {
  prepare();
  *m_cursor++ = l;
  *m_cursor++ = r;
  return TRUE;
}

t_CPBOOL DigitalOut::tick_out(const float* samples, t_CPUINT n) {
  if (!n) n = Digitalio::m_num_channels_out;
  if (!n) return TRUE;
  prepare();
  std::memcpy(m_cursor, samples, n * sizeof(float));
  m_cursor += n;
  return TRUE;
}

DigitalIn::DigitalIn() : m_buffer(nullptr), m_cursor(nullptr), m_end(nullptr) {}

DigitalIn::~DigitalIn() {
  if (Digitalio::m_read_ptr == &m_cursor) Digitalio::m_read_ptr = nullptr;
  delete[] m_buffer;
}

t_CPBOOL DigitalIn::initialize() {
  if (!Digitalio::m_use_cb) return FALSE;
  delete[] m_buffer;
  size_t count = std::max<size_t>(1, (size_t)Digitalio::m_buffer_size * Digitalio::m_num_channels_in);
  m_buffer = new float[count]();
  m_end = m_buffer + (size_t)Digitalio::m_buffer_size * Digitalio::m_num_channels_in;
  m_cursor = m_end;
  Digitalio::m_read_ptr = &m_cursor;
  return TRUE;
}

t_CPBOOL DigitalIn::start() {
  if (Digitalio::m_start) return TRUE;
  Digitalio::m_start = audio_layer_start();
  return Digitalio::m_start != 0;
}

t_CPBOOL DigitalIn::cleanup() { return TRUE; }

t_CPBOOL DigitalIn::capture() {
  if (Digitalio::m_block && !Digitalio::m_in_ready) {
    for (int i = 0; i < kCaptureSteps && !Digitalio::m_in_ready; i++) usleep(kHandOverStepUs);
  }
  size_t count = (size_t)Digitalio::m_available_in * Digitalio::m_num_channels_in;
  size_t room = (size_t)Digitalio::m_buffer_size * Digitalio::m_num_channels_in;
  // A callback never delivers more than a buffer; the copy stays inside ours.
  count = std::min(count, room);
  if (count && Digitalio::m_buffer_in) std::memcpy(m_buffer, Digitalio::m_buffer_in, count * sizeof(float));
  Digitalio::m_in_ready = FALSE;
  m_cursor = m_buffer;
  m_end = m_buffer + count;
  return TRUE;
}

t_CPBOOL DigitalIn::tick_in(float* s) {
  if (m_cursor >= m_end) capture();
  *s = m_cursor < m_end ? *m_cursor++ : 0.0f;
  return TRUE;
}

t_CPBOOL DigitalIn::tick_in(float* l, float* r) {
  if (m_cursor >= m_end) capture();
  *l = m_cursor < m_end ? *m_cursor++ : 0.0f;
  *r = m_cursor < m_end ? *m_cursor++ : 0.0f;
  return TRUE;
}

t_CPBOOL DigitalIn::tick_in(float* samples, t_CPUINT n) {
  if (!n) n = Digitalio::m_num_channels_in;
  if (m_cursor >= m_end) capture();
  for (t_CPUINT i = 0; i < n; i++) samples[i] = m_cursor < m_end ? *m_cursor++ : 0.0f;
  return TRUE;
}

// ---------------------------------------------------------------------------
// BBQ

BBQ::BBQ() : m_out(new DigitalOut), m_in(new DigitalIn) {}

BBQ::~BBQ() {
  delete m_out;
  delete m_in;
}

void BBQ::set_srate(t_CPUINT srate) { Digitalio::m_sampling_rate = srate; }
void BBQ::set_bufsize(t_CPUINT bufsize) { Digitalio::m_buffer_size = bufsize; }
void BBQ::set_numbufs(t_CPUINT numbufs) { Digitalio::m_num_buffers = numbufs; }

void BBQ::set_inouts(t_CPUINT adc, t_CPUINT dac) {
  Digitalio::m_adc_n = adc;
  Digitalio::m_dac_n = dac;
}

void BBQ::set_chans(t_CPUINT ins, t_CPUINT outs) {
  Digitalio::m_num_channels_in = ins;
  Digitalio::m_num_channels_out = outs;
}

t_CPBOOL BBQ::initialize(t_CPUINT num_dac_channels, t_CPUINT num_adc_channels, t_CPUINT srate,
                         t_CPUINT bps, t_CPUINT buffer_size, t_CPUINT num_buffers, t_CPUINT dac,
                         t_CPUINT adc, t_CPBOOL block, Chip_VM* vm, t_CPBOOL rt_audio,
                         void* callback, void* data) {
  set_inouts(adc, dac);
  set_chans(num_adc_channels, num_dac_channels);
  return Digitalio::initialize(num_dac_channels, num_adc_channels, srate, bps, buffer_size,
                               num_buffers, block, vm, rt_audio, callback, data);
}

void BBQ::shutdown() { Digitalio::shutdown(); }
