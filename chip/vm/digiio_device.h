// The audio facade between the virtual machine and the application's audio
// layer.
//
// BBQ is what the machine holds: it owns an output side (DigitalOut) and an
// input side (DigitalIn) and forwards its settings to Digitalio, a class of
// static state over the audio layer. Per hardware callback the audio layer
// calls vxall_cb with one interleaved float buffer that holds the microphone
// input on entry and receives the output on return; Digitalio::cb2 copies the
// input into m_buffer_in, runs the machine for that many frames and copies
// m_buffer_out back. While the machine runs, the shreduler reads input frames
// through DigitalIn (which refills itself from m_buffer_in) and writes output
// frames through DigitalOut (into m_buffer_out).
//
// With real-time audio off the machine keeps fake time: the facade only
// stores the settings (sample rate, buffer size and count, channel counts,
// devices), allocates the callback buffers and carries the end flag; the
// shreduler never reads or writes a frame.
//
// With real-time audio on, Digitalio::initialize opens the audio device the
// host installed (Chip_Audio_Device::init), the sides' start() run it with
// vxall_cb (start) and Digitalio::shutdown stops it (stop). The chip program
// and the instrument install the application's audio layer (VXALL); without
// a device real-time audio cannot start. The application's audio layer lives
// for the whole process, so a second real-time initialize in the same
// process fails.
//
// The watchdog (optional, g_do_watchdog): the first callback starts a thread
// that checks every 40 ms when the latest callback began; after a stall of
// more than g_watchdog_timeout seconds it gives the audio thread the low
// priority g_watchdog_countermeasure_priority, and our_priority back when
// callbacks come in time again.
//
// Threads: the setters, initialize and shutdown run on the engine thread;
// cb2, vxall_cb, capture and the tick operations on the audio thread (or the
// machine's thread with audio off). m_end is written by Chip_VM::stop on any
// thread and read by the callback.
#ifndef CHIP_DIGIIO_DEVICE_H
#define CHIP_DIGIIO_DEVICE_H

#include <atomic>

#include "chip/util/chip_def.h"

class Chip_VM;

// Bits per sample handed to the facade.
enum { BBQ_BITS_PER_SAMPLE = 16 };

// ---------------------------------------------------------------------------
// The audio device: what the facade needs of the host's audio layer.
class Chip_Audio_Device {
 public:
  // The device's callback: one interleaved float buffer of frames x
  // channels (input on entry, output on return) and the user data.
  typedef void (*Callback)(float* buffer, unsigned long frames, void* user);

  virtual ~Chip_Audio_Device() = default;
  // Prepares the device for the rate, frames per buffer and channel count;
  // false (having said why) when it cannot.
  virtual bool init(double srate, unsigned long frames, unsigned long channels) = 0;
  // Starts calling cb once per hardware buffer, on one audio thread; false
  // when not initialised, already running or the device does not start.
  virtual bool start(Callback cb, void* user) = 0;
  // Stops the callbacks if they run; nothing otherwise.
  virtual void stop() = 0;
};

// ---------------------------------------------------------------------------
// Output side: writes interleaved frames.
class TickOut {
 public:
  virtual ~TickOut() {}
  virtual t_CPBOOL reset() { return TRUE; }
  virtual t_CPBOOL tick_out(float s) = 0;
  virtual t_CPBOOL tick_out(float l, float r) = 0;
  // n samples; n = 0 means one sample per output channel.
  virtual t_CPBOOL tick_out(const float* samples, t_CPUINT n) = 0;
};

// Input side: reads interleaved frames.
class TickIn {
 public:
  virtual ~TickIn() {}
  virtual t_CPBOOL reset() { return TRUE; }
  virtual t_CPBOOL tick_in(float* s) = 0;
  virtual t_CPBOOL tick_in(float* l, float* r) = 0;
  // n samples; n = 0 means one sample per input channel.
  virtual t_CPBOOL tick_in(float* samples, t_CPUINT n) = 0;
  // One sample (0 when the read fails).
  virtual float tick();
};

// Writes into Digitalio::m_buffer_out.
class DigitalOut : public TickOut {
 public:
  DigitalOut();
  ~DigitalOut() override;

  // Cursor at the start of m_buffer_out, end buffer size x output channels
  // later. Requires callback mode.
  t_CPBOOL initialize();
  // Starts the audio layer once (shared with the input side).
  t_CPBOOL start();
  t_CPBOOL cleanup();

  t_CPBOOL tick_out(float s) override;
  t_CPBOOL tick_out(float l, float r) override;
  t_CPBOOL tick_out(const float* samples, t_CPUINT n) override;

 protected:
  // Before a write that finds the cursor at the end: back to the start of
  // m_buffer_out, with the end m_needed_out frames later.
  void prepare();

  float* m_cursor;
  float* m_end;
};

// Reads from its own buffer, refilled from Digitalio::m_buffer_in.
class DigitalIn : public TickIn {
 public:
  DigitalIn();
  ~DigitalIn() override;  // frees its buffer

  // Allocates buffer size x input channels zeroed floats; nothing read yet
  // (cursor at the end). Requires callback mode.
  t_CPBOOL initialize();
  t_CPBOOL start();
  t_CPBOOL cleanup();
  // Copies the current callback's input into the buffer.
  t_CPBOOL capture();

  t_CPBOOL tick_in(float* s) override;
  t_CPBOOL tick_in(float* l, float* r) override;
  t_CPBOOL tick_in(float* samples, t_CPUINT n) override;

 protected:
  float* m_buffer;
  float* m_cursor;
  float* m_end;
};

// ---------------------------------------------------------------------------
// Static state and operations over the audio layer.
class Digitalio {
 public:
  // Stores the settings and allocates the callback buffers. 0 when already
  // initialised or the audio layer cannot be initialised (logged at the
  // system level, "(chip)error: unable to initialize VXALL...": the machine
  // reports the failure to the user itself).
  static t_CPBOOL initialize(t_CPUINT num_dac_channels, t_CPUINT num_adc_channels,
                             t_CPUINT sampling_rate, t_CPUINT bps, t_CPUINT buffer_size,
                             t_CPUINT num_buffers, t_CPBOOL block, Chip_VM* vm, t_CPBOOL rt_audio,
                             void* callback, void* data);
  // Stops the audio layer if it runs and frees the callback buffers; a later
  // initialize starts afresh.
  static void shutdown();
  // Nothing on this platform.
  static void probe();
  // The host's audio device (not owned; null removes it). Install it before
  // the machine initialises real-time audio.
  static void set_device(Chip_Audio_Device* device);
  static Chip_Audio_Device* device();
  // The per-callback work (audio thread): buffer holds frames x 2
  // interleaved floats, any number of frames.
  static void cb2(float* buffer, t_CPUINT frames, void* user_data);

  static t_CPUINT sampling_rate() { return m_sampling_rate; }
  static t_CPUINT num_channels_out() { return m_num_channels_out; }
  static t_CPUINT num_channels_in() { return m_num_channels_in; }
  static t_CPUINT bps() { return m_bps; }
  static t_CPUINT buffer_size() { return m_buffer_size; }
  static t_CPUINT num_buffers() { return m_num_buffers; }
  static t_CPUINT dac_num() { return m_dac_n; }
  static t_CPUINT adc_num() { return m_adc_n; }
  static t_CPBOOL is_init() { return m_init; }

  static t_CPBOOL m_block;
  static std::atomic<t_CPBOOL> m_end;
  static t_CPUINT m_adc_n;
  static t_CPUINT m_dac_n;
  static t_CPBOOL m_go;
  static t_CPBOOL m_use_cb;
  static std::atomic<t_CPBOOL> m_in_ready;
  static std::atomic<t_CPBOOL> m_out_ready;
  static float* m_extern_out;
  static float* m_extern_in;
  static float** m_read_ptr;   // the input side's cursor
  static float** m_read_end;   // and its end
  static float** m_write_ptr;  // the output side's cursor
  static float** m_write_end;  // and its end
  static float* m_buffer_in;
  static float* m_buffer_out;
  static t_CPUINT m_needed_out;
  static t_CPUINT m_available_in;
  static t_CPUINT m_num_buffers;
  static t_CPUINT m_buffer_size;
  static t_CPUINT m_bps;
  static t_CPUINT m_sampling_rate;
  static t_CPUINT m_num_channels_in;
  static t_CPUINT m_num_channels_out;
  static t_CPUINT m_tick_count;
  static t_CPINT m_start;
  static t_CPBOOL m_init;
};

// ---------------------------------------------------------------------------
// The machine's audio facade.
class BBQ {
 public:
  BBQ();   // creates the two sides
  ~BBQ();  // deletes them

  // Store into Digitalio.
  void set_srate(t_CPUINT srate);
  void set_bufsize(t_CPUINT bufsize);
  void set_numbufs(t_CPUINT numbufs);
  void set_inouts(t_CPUINT adc, t_CPUINT dac);
  void set_chans(t_CPUINT ins, t_CPUINT outs);

  // Stores the devices and channel counts, then Digitalio::initialize.
  t_CPBOOL initialize(t_CPUINT num_dac_channels, t_CPUINT num_adc_channels, t_CPUINT srate,
                      t_CPUINT bps, t_CPUINT buffer_size, t_CPUINT num_buffers, t_CPUINT dac,
                      t_CPUINT adc, t_CPBOOL block, Chip_VM* vm, t_CPBOOL rt_audio,
                      void* callback, void* data);
  void shutdown();

  DigitalOut* digi_out() { return m_out; }
  DigitalIn* digi_in() { return m_in; }

 protected:
  DigitalOut* m_out;
  DigitalIn* m_in;
};

// ---------------------------------------------------------------------------
// The watchdog.

// Whether the first callback starts the watchdog (the driver's "--watchdog").
extern std::atomic<t_CPBOOL> g_do_watchdog;
// Stall time in seconds after which the watchdog acts.
extern double g_watchdog_timeout;
// Priority the watchdog gives a stalled audio thread.
extern t_CPINT g_watchdog_countermeasure_priority;
// Wall-clock seconds of the latest callback (written by the audio thread).
extern std::atomic<double> g_watchdog_time;
// 0 normal, 1 counter-measure active.
extern std::atomic<t_CPINT> g_watchdog_state;

// The watchdog's thread routine (argument unused).
void* watch_dog(void* arg);
// Starts the watchdog thread if none runs (normally the first callback).
t_CPBOOL watchdog_start();
// Clears g_do_watchdog and stops the thread.
void watchdog_stop();

// The function handed to the audio layer (audio thread): Digitalio::cb2 with
// the same arguments; data is the machine.
void vxall_cb(float* buffer, t_CPUINT frames, void* data);

#endif
