#include "chip/vm/hidio.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include <pthread.h>

#include "chip/util/chip_errmsg.h"

// ---------------------------------------------------------------------------
// HidMsg

void HidMsg::clear() {
  device_type = 0;
  device_num = 0;
  type = 0;
  which = 0;
  for (t_CPINT& i : idata) i = 0;
  for (t_CPFLOAT& f : fdata) f = 0.0;
}

// ---------------------------------------------------------------------------
// Manager state

std::vector<std::vector<PhyHidDevIn*>> HidInManager::the_matrix;
t_CPBOOL HidInManager::has_init = FALSE;
XThread* HidInManager::the_thread = nullptr;
std::atomic<t_CPBOOL> HidInManager::thread_going{FALSE};
HidDriver HidInManager::default_drivers[CP_HID_DEV_COUNT];

namespace {

// The polling thread's pause and the counters waiters look at. Allocated
// once and never destroyed: a thread still polling at process exit must not
// find them gone.
struct PollState {
  std::mutex mutex;
  std::condition_variable cv;
  unsigned long polls = 0;   // under mutex
  bool thread_ended = true;  // under mutex
};

PollState& poll_state() {
  static PollState* state = new PollState;
  return *state;
}

bool valid_type(long type) { return type >= 1 && type < CP_HID_DEV_COUNT; }

// The display name of a device type ("" for a row without one).
const char* display_name(long type) {
  if (!valid_type(type)) return "";
  const char* name = HidInManager::default_drivers[type].driver_name;
  return name ? name : "";
}

}  // namespace

// ---------------------------------------------------------------------------
// PhyHidDevIn

PhyHidDevIn::PhyHidDevIn() : cbuf(nullptr), device_type(CP_HID_DEV_NONE), device_num(0) {}

PhyHidDevIn::~PhyHidDevIn() {
  if (device_type != CP_HID_DEV_NONE) close();
  delete cbuf;
  cbuf = nullptr;
}

t_CPBOOL PhyHidDevIn::open(long type, unsigned long num) {
  if (device_type != CP_HID_DEV_NONE) {
    EM_log(CP_LOG_WARNING, "PhyHidDevIn: open() failed -> already open!");
    return FALSE;
  }
  if (!valid_type(type)) {
    EM_log(CP_LOG_WARNING, "PhyHidDevIn: open() failed -> invalid device type %d",
           static_cast<int>(type));
    return FALSE;
  }
  const HidDriver& driver = HidInManager::default_drivers[type];
  if (!driver.open) {
    EM_log(CP_LOG_WARNING, "PhyHidDevIn: open() failed -> %s does not support open",
           display_name(type));
    return FALSE;
  }
  if (driver.open(static_cast<int>(num)) != 0) {
    EM_log(CP_LOG_WARNING, "PhyHidDevIn: open() failed -> invalid %s number %d", display_name(type),
           static_cast<int>(num));
    return FALSE;
  }
  cbuf = new CBufferAdvance;
  if (!cbuf->initialize(HID_BUFFER_RECORDS, sizeof(HidMsg))) {
    EM_log(CP_LOG_WARNING, "PhyHidDevIn: open operation failed: cannot initialize buffer");
    delete cbuf;
    cbuf = nullptr;
    if (driver.close) driver.close(static_cast<int>(num));
    return FALSE;
  }
  device_type = type;
  device_num = num;
  return TRUE;
}

t_CPBOOL PhyHidDevIn::close() {
  delete cbuf;
  cbuf = nullptr;
  if (!valid_type(device_type)) {
    EM_log(CP_LOG_WARNING, "PhyHidDevIn: close() failed -> invalid device type %d",
           static_cast<int>(device_type));
    return FALSE;
  }
  const HidDriver& driver = HidInManager::default_drivers[device_type];
  if (!driver.close) {
    EM_log(CP_LOG_WARNING, "PhyHidDevIn: close() failed -> %s does not support close",
           display_name(device_type));
    return FALSE;
  }
  if (driver.close(static_cast<int>(device_num)) != 0) {
    EM_log(CP_LOG_WARNING, "PhyHidDevIn: close() failed -> invalid %s number %d",
           display_name(device_type), static_cast<int>(device_num));
    return FALSE;
  }
  device_num = 0;
  device_type = CP_HID_DEV_NONE;
  return TRUE;
}

std::string PhyHidDevIn::name() {
  if (device_type == CP_HID_DEV_NONE) return " ";
  if (!valid_type(device_type)) {
    EM_log(CP_LOG_WARNING, "PhyHidDevIn: name() failed -> invalid device type %d",
           static_cast<int>(device_type));
    return " ";
  }
  const HidDriver& driver = HidInManager::default_drivers[device_type];
  if (!driver.name) return display_name(device_type);
  const char* name = driver.name(static_cast<int>(device_num));
  if (!name) {
    EM_log(CP_LOG_WARNING, "PhyHidDevIn: name() failed -> invalid %s number %d",
           display_name(device_type), static_cast<int>(device_num));
    return " ";
  }
  return name;
}

// ---------------------------------------------------------------------------
// HidIn

HidIn::HidIn()
    : phin(nullptr),
      cbuf(nullptr),
      m_buffer_in(0),
      m_valid(FALSE),
      m_num(0),
      SELF(nullptr),
      m_suppress_output(FALSE) {}

HidIn::~HidIn() {
  if (m_valid && cbuf) cbuf->resign(m_buffer_in);
  m_valid = FALSE;
  phin = nullptr;
  cbuf = nullptr;
}

t_CPBOOL HidIn::open(long device_type, long device_num) {
  if (m_valid) {
    // The previous device's reader slot goes back: its owner must not be
    // signalled for that device any more.
    if (cbuf) cbuf->resign(m_buffer_in);
    m_valid = FALSE;
    phin = nullptr;
    cbuf = nullptr;
  }
  m_valid = HidInManager::open(this, device_type, device_num);
  return m_valid;
}

t_CPBOOL HidIn::read(long type, long which, HidMsg* msg) {
  if (!m_valid || !phin) return FALSE;
  const HidDriver& driver = HidInManager::default_drivers[phin->device_type];
  if (!driver.read) {
    EM_log(CP_LOG_WARNING, "PhyHidDevIn: read() failed -> %s does not support read",
           display_name(phin->device_type));
    return FALSE;
  }
  if (driver.read(static_cast<int>(phin->device_num), static_cast<int>(type),
                  static_cast<int>(which), msg) != 0) {
    EM_log(CP_LOG_WARNING,
           "PhyHidDevIn: read() failed for %s %i, element type %i, element number %i",
           display_name(phin->device_type), static_cast<int>(phin->device_num),
           static_cast<int>(type), static_cast<int>(which));
    return FALSE;
  }
  return TRUE;
}

t_CPBOOL HidIn::send(const HidMsg* msg) {
  if (!m_valid || !phin) return FALSE;
  const HidDriver& driver = HidInManager::default_drivers[phin->device_type];
  if (!driver.send) {
    EM_log(CP_LOG_WARNING, "PhyHidDevIn: send() failed -> %s does not support send",
           display_name(phin->device_type));
    return FALSE;
  }
  if (driver.send(static_cast<int>(phin->device_num), msg) != 0) {
    EM_log(CP_LOG_WARNING, "PhyHidDevIn: send() failed for %s %i", display_name(phin->device_type),
           static_cast<int>(phin->device_num));
    return FALSE;
  }
  return TRUE;
}

unsigned long HidIn::recv(HidMsg* msg) {
  if (!m_valid || !cbuf) return 0;
  return cbuf->get(msg, 1, m_buffer_in);
}

t_CPBOOL HidIn::empty() {
  if (!m_valid || !cbuf) return TRUE;
  return cbuf->empty(m_buffer_in);
}

std::string HidIn::name() {
  if (!m_valid || !phin) return " ";
  return phin->name();
}

// ---------------------------------------------------------------------------
// HidInManager

void HidInManager::init() {
  if (has_init) return;
  EM_log(CP_LOG_INFO, "initializing HID...");
  EM_pushlog();
  init_default_drivers();
  the_matrix.assign(CP_HID_DEV_COUNT, std::vector<PhyHidDevIn*>(HID_MATRIX_SLOTS, nullptr));
  for (const HidDriver& driver : default_drivers) {
    if (driver.init) driver.init();
  }
  start_thread();
  has_init = TRUE;
  EM_poplog();
}

void HidInManager::init_default_drivers() {
  for (HidDriver& driver : default_drivers) driver = HidDriver();

  HidDriver& js = default_drivers[CP_HID_DEV_JOYSTICK];
  js.init = Joystick_init;
  js.quit = Joystick_quit;
  js.count = Joystick_count;
  js.count_elements = Joystick_count_elements;
  js.open = Joystick_open;
  js.close = Joystick_close;
  js.name = Joystick_name;
  js.driver_name = "joystick";

  HidDriver& mouse = default_drivers[CP_HID_DEV_MOUSE];
  mouse.init = Mouse_init;
  mouse.quit = Mouse_quit;
  mouse.count = Mouse_count;
  mouse.count_elements = Mouse_count_elements;
  mouse.open = Mouse_open;
  mouse.close = Mouse_close;
  mouse.name = Mouse_name;
  mouse.driver_name = "mouse";

  HidDriver& kb = default_drivers[CP_HID_DEV_KEYBOARD];
  kb.init = Keyboard_init;
  kb.quit = Keyboard_quit;
  kb.count = Keyboard_count;
  kb.count_elements = Keyboard_count_elements;
  kb.open = Keyboard_open;
  kb.close = Keyboard_close;
  kb.send = Keyboard_send;
  kb.name = Keyboard_name;
  kb.driver_name = "keyboard";

  HidDriver& wr = default_drivers[CP_HID_DEV_WIIREMOTE];
  wr.init = WiiRemote_init;
  wr.quit = WiiRemote_quit;
  wr.count = WiiRemote_count;
  wr.open = WiiRemote_open;
  wr.close = WiiRemote_close;
  wr.send = WiiRemote_send;
  wr.name = WiiRemote_name;
  wr.driver_name = "wii remote";

  HidDriver& ts = default_drivers[CP_HID_DEV_TILTSENSOR];
  ts.init = TiltSensor_init;
  ts.quit = TiltSensor_quit;
  ts.count = TiltSensor_count;
  ts.open = TiltSensor_open;
  ts.close = TiltSensor_close;
  ts.read = TiltSensor_read;
  ts.name = TiltSensor_name;
  ts.driver_name = "tilt sensor";
}

t_CPBOOL HidInManager::open(HidIn* hin, long device_type, long device_num) {
  if (!has_init) init();
  if (!valid_type(device_type)) {
    EM_log(CP_LOG_WARNING, "HidInManager: open() failed -> invalid type '%d'...",
           static_cast<int>(device_type));
    return FALSE;
  }
  start_thread();

  std::vector<PhyHidDevIn*>& list = the_matrix[device_type];
  PhyHidDevIn* phin = nullptr;
  if (device_num >= 0 && static_cast<size_t>(device_num) < list.size()) phin = list[device_num];
  if (!phin) {
    // A negative number names no slot: refused like a number the driver
    // does not know, without asking the driver.
    phin = new PhyHidDevIn;
    if (device_num < 0 || !phin->open(device_type, static_cast<unsigned long>(device_num))) {
      EM_error2(0, "HidIn: couldn't open %s %d...", display_name(device_type),
                static_cast<int>(device_num));
      delete phin;
      return FALSE;
    }
    const size_t slot = static_cast<size_t>(device_num);
    if (slot >= list.size()) list.resize(std::max(list.size() * 2, slot + 1), nullptr);
    list[slot] = phin;
  }

  hin->phin = phin;
  hin->cbuf = phin->cbuf;
  hin->m_buffer_in = phin->cbuf->join(hin->SELF);
  hin->m_num = device_num;
  return TRUE;
}

void HidInManager::cleanup() {
  PollState& state = poll_state();
  if (the_thread) {
    {
      std::lock_guard<std::mutex> lock(state.mutex);
      thread_going = FALSE;
    }
    state.cv.notify_all();
    {
      std::unique_lock<std::mutex> lock(state.mutex);
      state.cv.wait(lock, [&state] { return state.thread_ended; });
    }
    // The thread has left its loop (and ignores cancellation): the wrapper
    // only joins it.
    delete the_thread;
    the_thread = nullptr;
  }
  for (std::vector<PhyHidDevIn*>& list : the_matrix) {
    for (PhyHidDevIn*& phin : list) {
      delete phin;
      phin = nullptr;
    }
  }
  the_matrix.clear();
  has_init = FALSE;
}

void HidInManager::start_thread() {
  if (the_thread) return;
  PollState& state = poll_state();
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.polls = 0;
    state.thread_ended = false;
    thread_going = TRUE;
  }
  the_thread = new XThread;
  if (!the_thread->start(cb_hid_input, nullptr)) {
    delete the_thread;
    the_thread = nullptr;
    std::lock_guard<std::mutex> lock(state.mutex);
    thread_going = FALSE;
    state.thread_ended = true;
  }
}

void* HidInManager::cb_hid_input(void*) {
  // The thread ends only through thread_going: cancelling it in the middle
  // of a log line or a driver call could leave a lock held.
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
  PollState& state = poll_state();
  Hid_init();
  std::unique_lock<std::mutex> lock(state.mutex);
  while (thread_going) {
    lock.unlock();
    Hid_poll();
    lock.lock();
    state.polls++;
    state.cv.notify_all();
    // The pause between polls; cut short when the thread is told to stop.
    state.cv.wait_for(lock, std::chrono::milliseconds(HID_POLL_INTERVAL_MS),
                      [] { return !thread_going; });
  }
  lock.unlock();
  EM_log(CP_LOG_INFO, "HID thread exiting...");
  lock.lock();
  state.thread_ended = true;
  state.cv.notify_all();
  return nullptr;
}

unsigned long HidInManager::poll_count() {
  PollState& state = poll_state();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.polls;
}

t_CPBOOL HidInManager::wait_for_polls(unsigned long count, unsigned long timeout_ms) {
  PollState& state = poll_state();
  std::unique_lock<std::mutex> lock(state.mutex);
  return state.cv.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&state, count] { return state.polls >= count; })
             ? TRUE
             : FALSE;
}

// ---------------------------------------------------------------------------
// Platform drivers: stubs. Nothing can be opened but tilt sensor 0, which
// reads nothing; nothing posts messages.

void Hid_init() {}
void Hid_poll() {}

void Joystick_init() {}
void Joystick_quit() {}
int Joystick_count() { return 0; }
int Joystick_count_elements(int, int) { return -1; }
int Joystick_open(int) { return -1; }
int Joystick_close(int) { return -1; }
const char* Joystick_name(int) { return nullptr; }

void Mouse_init() {}
void Mouse_quit() {}
int Mouse_count() { return 1; }
int Mouse_count_elements(int, int) { return -1; }
int Mouse_open(int) { return -1; }
int Mouse_close(int) { return -1; }
const char* Mouse_name(int) { return nullptr; }
int Mouse_start_cursor_track() { return -1; }
int Mouse_stop_cursor_track() { return -1; }

void Keyboard_init() {}
void Keyboard_quit() {}
int Keyboard_count() { return 0; }
int Keyboard_count_elements(int, int) { return -1; }
int Keyboard_open(int) { return -1; }
int Keyboard_close(int) { return -1; }
int Keyboard_send(int, const HidMsg*) { return -1; }
const char* Keyboard_name(int) { return nullptr; }

void WiiRemote_init() {}
void WiiRemote_quit() {}
int WiiRemote_count() { return 0; }
int WiiRemote_open(int) { return -1; }
int WiiRemote_close(int) { return -1; }
int WiiRemote_send(int, const HidMsg*) { return -1; }
const char* WiiRemote_name(int) { return nullptr; }

void TiltSensor_init() {}
void TiltSensor_quit() {}
int TiltSensor_count() { return 1; }
int TiltSensor_open(int ts) { return ts == 0 ? 0 : -1; }
int TiltSensor_close(int ts) { return ts == 0 ? 0 : -1; }
int TiltSensor_read(int, int, int, HidMsg*) { return 0; }
const char* TiltSensor_name(int) { return nullptr; }
int TiltSensor_setPollRate(long) { return -1; }
int TiltSensor_getPollRate() { return -1; }
