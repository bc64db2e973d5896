// The audio facade: settings, callback buffers and the two sides.
#include "chip/vm/digiio_device.h"

#include <pthread.h>
#include <sched.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "chip/util/chip_errmsg.h"
#include "chip/util/util_thread.h"
#include "chip/vm/chip_vm.h"

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
float** Digitalio::m_read_end = nullptr;
float** Digitalio::m_write_ptr = nullptr;
float** Digitalio::m_write_end = nullptr;
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

std::atomic<t_CPBOOL> g_do_watchdog{FALSE};
double g_watchdog_timeout = 0.5;
t_CPINT g_watchdog_countermeasure_priority = 10;
std::atomic<double> g_watchdog_time{0.0};
std::atomic<t_CPINT> g_watchdog_state{0};

namespace {

// The audio layer's channel count.
const size_t kLayerChannels = 2;

// The audio thread, recorded at the first callback.
pthread_t g_tid_synthesis;
std::atomic<bool> g_tid_synthesis_known{false};
XThread* g_watchdog_thread = nullptr;

// Watchdog check interval.
const useconds_t kWatchdogStepUs = 40000;

double wall_clock() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return tv.tv_sec + tv.tv_usec / 1000000.0;
}

// Round-robin at priority for the audio thread; failures are ignored.
void set_audio_thread_priority(t_CPINT priority) {
  if (!g_tid_synthesis_known || Chip_VM::our_priority == CHIP_VM_NO_PRIORITY) return;
  EM_log(CP_LOG_FINE, "setting thread priority to: %ld...", (long)priority);
  struct sched_param param;
  int policy = 0;
  if (pthread_getschedparam(g_tid_synthesis, &policy, &param) != 0) return;
  param.sched_priority = priority;
  pthread_setschedparam(g_tid_synthesis, SCHED_RR, &param);
}

// n frames of the layer's two channels into the machine's input layout.
void layer_to_machine(const float* in, float* out, size_t n, size_t chans) {
  for (size_t f = 0; f < n; f++) {
    float l = in[f * kLayerChannels];
    float r = in[f * kLayerChannels + 1];
    float* frame = out + f * chans;
    if (chans == 1) {
      frame[0] = 0.5f * (l + r);
      continue;
    }
    frame[0] = l;
    frame[1] = r;
    for (size_t c = 2; c < chans; c++) frame[c] = 0.0f;
  }
}

// n frames of the machine's output layout into the layer's two channels.
void machine_to_layer(const float* in, float* out, size_t n, size_t chans) {
  for (size_t f = 0; f < n; f++) {
    float* frame = out + f * kLayerChannels;
    if (chans == 0) {
      frame[0] = frame[1] = 0.0f;
    } else if (chans == 1) {
      frame[0] = frame[1] = in[f];
    } else {
      frame[0] = in[f * chans];
      frame[1] = in[f * chans + 1];
    }
  }
}

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

// The device the host installed; none means real-time audio cannot start.
Chip_Audio_Device* g_device = nullptr;

// The audio layer always runs two channels.
t_CPBOOL audio_layer_init(t_CPUINT srate, t_CPUINT buffer_size) {
  return g_device && g_device->init((double)srate, buffer_size, 2) ? TRUE : FALSE;
}

// The audio layer's callback type counts frames in unsigned long.
void audio_layer_cb(float* buffer, unsigned long frames, void* data) {
  vxall_cb(buffer, (t_CPUINT)frames, data);
}

// Non-zero when running.
t_CPINT audio_layer_start() { return g_device && g_device->start(audio_layer_cb, g_vm) ? 1 : 0; }

void audio_layer_stop() {
  if (g_device) g_device->stop();
}

}  // namespace

void Digitalio::set_device(Chip_Audio_Device* device) { g_device = device; }

Chip_Audio_Device* Digitalio::device() { return g_device; }

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
    EM_log(CP_LOG_SYSTEM, "(chip)error: unable to initialize VXALL...");
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
    m_read_ptr = m_read_end = nullptr;
    m_write_ptr = m_write_end = nullptr;
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
  m_read_ptr = m_read_end = nullptr;
  m_write_ptr = m_write_end = nullptr;
  watchdog_stop();
}

void Digitalio::probe() {}

void Digitalio::cb2(float* buffer, t_CPUINT frames, void* user_data) {
  Chip_VM* vm = static_cast<Chip_VM*>(user_data);
  const size_t layer_len = (size_t)frames * kLayerChannels;

  // The first call of a real-time run applies the engine's priority to the
  // audio thread, starts the watchdog and outputs silence.
  if (!m_go && Chip_VM::our_priority != CHIP_VM_NO_PRIORITY) {
    g_tid_synthesis = pthread_self();
    g_tid_synthesis_known = true;
    Chip_VM::set_priority(Chip_VM::our_priority, nullptr);
    std::memset(buffer, 0, layer_len * sizeof(float));
    m_go = TRUE;
    if (g_do_watchdog) {
      g_watchdog_time = wall_clock();
      watchdog_start();
    }
    return;
  }

  const size_t chans_in = m_num_channels_in;
  const size_t chans_out = m_num_channels_out;
  // Chunks never exceed the callback buffers (buffer size x channels).
  const t_CPUINT chunk = m_buffer_size ? m_buffer_size : 1;
  if (!m_buffer_in || !m_buffer_out) {
    std::memset(buffer, 0, layer_len * sizeof(float));
    return;
  }

  for (t_CPUINT done = 0; done < frames;) {
    const t_CPUINT n = std::min(frames - done, chunk);
    float* io = buffer + (size_t)done * kLayerChannels;
    const size_t io_len = (size_t)n * kLayerChannels;

    if (chans_in) {
      layer_to_machine(io, m_buffer_in, n, chans_in);
      if (m_extern_in) std::memcpy(m_extern_in + (size_t)done * kLayerChannels, io, io_len * sizeof(float));
      m_available_in = n;
      // The input side refills from this chunk at its next read.
      if (m_read_ptr && m_read_end) *m_read_ptr = *m_read_end;
    }
    m_needed_out = n;
    // The output side writes this chunk from the start of m_buffer_out.
    if (m_write_ptr && m_write_end) {
      *m_write_ptr = m_buffer_out;
      *m_write_end = m_buffer_out + (size_t)n * chans_out;
    }
    if (g_do_watchdog) g_watchdog_time = wall_clock();

    vm->run((t_CPWORD)n);

    if (m_end) {
      std::memset(io, 0, io_len * sizeof(float));
    } else {
      machine_to_layer(m_buffer_out, io, n, chans_out);
    }
    if (m_extern_out) std::memcpy(m_extern_out + (size_t)done * kLayerChannels, io, io_len * sizeof(float));
    done += n;
  }
}

// ---------------------------------------------------------------------------
// Watchdog

void* watch_dog(void*) {
  EM_log(CP_LOG_SEVERE, "starting real-time watch dog processs...");
  EM_pushlog();
  EM_log(CP_LOG_INFO, "watchdog timeout: %f::second", g_watchdog_timeout);
  EM_log(CP_LOG_INFO, "watchdog thread priority: %d", (int)Chip_VM::our_priority);
  EM_log(CP_LOG_INFO, "watchdog countermeasure priority: %d", (int)g_watchdog_countermeasure_priority);
  EM_poplog();
  if (Chip_VM::our_priority != CHIP_VM_NO_PRIORITY) Chip_VM::set_priority(Chip_VM::our_priority, nullptr);

  while (g_do_watchdog) {
    double t = wall_clock();
    if (g_watchdog_state == 0) {
      if (t - g_watchdog_time > g_watchdog_timeout) {
        EM_log(CP_LOG_SEVERE, "real-time watchdog counter-measure activating...");
        set_audio_thread_priority(g_watchdog_countermeasure_priority);
        g_watchdog_state = 1;
      }
    } else if (t - g_watchdog_time < g_watchdog_timeout) {
      EM_log(CP_LOG_SEVERE, "real-time watchdog resting...");
      set_audio_thread_priority(Chip_VM::our_priority);
      g_watchdog_state = 0;
    }
    usleep(kWatchdogStepUs);
  }
  EM_log(CP_LOG_SEVERE, "stopping real-time watch dog process...");
  return nullptr;
}

t_CPBOOL watchdog_start() {
  if (g_watchdog_thread) return TRUE;
  g_watchdog_state = 0;
  g_watchdog_thread = new XThread;
  if (!g_watchdog_thread->start(watch_dog, nullptr)) {
    delete g_watchdog_thread;
    g_watchdog_thread = nullptr;
    return FALSE;
  }
  return TRUE;
}

void watchdog_stop() {
  if (!g_watchdog_thread) return;
  g_do_watchdog = FALSE;
  // Cancels the thread at its sleep and joins it.
  delete g_watchdog_thread;
  g_watchdog_thread = nullptr;
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
  if (Digitalio::m_write_ptr == &m_cursor) Digitalio::m_write_ptr = Digitalio::m_write_end = nullptr;
}

t_CPBOOL DigitalOut::initialize() {
  if (!Digitalio::m_use_cb) return FALSE;
  m_cursor = Digitalio::m_buffer_out;
  m_end = m_cursor ? m_cursor + (size_t)Digitalio::m_buffer_size * Digitalio::m_num_channels_out
                   : nullptr;
  Digitalio::m_write_ptr = &m_cursor;
  Digitalio::m_write_end = &m_end;
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
  if (Digitalio::m_read_ptr == &m_cursor) Digitalio::m_read_ptr = Digitalio::m_read_end = nullptr;
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
  Digitalio::m_read_end = &m_end;
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
