// Device input: message records, opened devices, per-script readers, the
// manager with its driver table and polling thread, and this platform's
// drivers.
//
// A device driver is a row of operations for one device type (HidDriver);
// the manager keeps the table (default_drivers) and, per device type, a
// list of opened physical devices indexed by device number (the_matrix). A
// physical device (PhyHidDevIn) is opened once and stays open for the life
// of the process; its messages go into a ring buffer with one reader per
// script object (HidIn) that opened it, and each reader's owner event is
// signalled when messages arrive.
//
// On this platform every driver is a stub: nothing can be opened except
// tilt sensor 0, which delivers nothing; no driver posts a message. A
// platform with real drivers fills the table and nothing else changes.
//
// The polling thread calls Hid_init once, then Hid_poll until it is told to
// stop, pausing HID_POLL_INTERVAL_MS between polls (the stub poll returns at
// once, so without the pause the thread would spin a core). The pause waits
// on a condition, so HidInManager::cleanup stops the thread at once.
//
// Threads: HidIn, PhyHidDevIn and HidInManager::open run on the machine's
// thread; the polling thread only calls Hid_init and Hid_poll. Message
// buffers carry their own mutex. Logs go through EM_log at level 4, except
// "initializing HID..." and "HID thread exiting..." at level 5.
#ifndef CHIP_HIDIO_H
#define CHIP_HIDIO_H

#include <atomic>
#include <string>
#include <vector>

#include "chip/util/chip_def.h"
#include "chip/util/util_buffers.h"
#include "chip/util/util_thread.h"
#include "chip/vm/chip_oo.h"

// Device types.
enum {
  CP_HID_DEV_NONE = 0,
  CP_HID_DEV_JOYSTICK = 1,
  CP_HID_DEV_MOUSE = 2,
  CP_HID_DEV_KEYBOARD = 3,
  CP_HID_DEV_WIIREMOTE = 4,
  CP_HID_DEV_TILTSENSOR = 5,
  CP_HID_DEV_TABLET = 6,
  CP_HID_DEV_COUNT = 7
};

// Message types (there is no type 10).
enum {
  CP_HID_JOYSTICK_AXIS = 0,
  CP_HID_BUTTON_DOWN = 1,
  CP_HID_BUTTON_UP = 2,
  CP_HID_JOYSTICK_HAT = 3,
  CP_HID_JOYSTICK_BALL = 4,
  CP_HID_MOUSE_MOTION = 5,
  CP_HID_MOUSE_WHEEL = 6,
  CP_HID_DEVICE_CONNECTED = 7,
  CP_HID_DEVICE_DISCONNECTED = 8,
  CP_HID_ACCELEROMETER = 9,
  CP_HID_LED = 11,
  CP_HID_FORCE_FEEDBACK = 12
};

// Slots of each device type's list after initialisation.
enum { HID_MATRIX_SLOTS = 1024 };
// Records of a device's message buffer.
enum { HID_BUFFER_RECORDS = 8192 };
// Pause of the polling thread between two polls.
enum { HID_POLL_INTERVAL_MS = 10 };

// One device message: 64 bytes of plain data.
struct HidMsg {
  t_CPINT device_type;
  t_CPINT device_num;
  t_CPINT type;   // message type
  t_CPINT which;  // element (axis, button, hat, key) number
  t_CPINT idata[4];
  t_CPFLOAT fdata[4];

  HidMsg() { clear(); }
  // Every field to zero.
  void clear();
};
static_assert(sizeof(HidMsg) == 64, "a device message is 64 bytes");

// The operations of one device type; any may be absent (null).
struct HidDriver {
  void (*init)();
  void (*quit)();
  int (*count)();
  int (*count_elements)(int device, int element_type);
  int (*open)(int device);   // 0 on success
  int (*close)(int device);  // 0 on success
  int (*send)(int device, const HidMsg* msg);
  int (*read)(int device, int element_type, int element_num, HidMsg* out);
  const char* (*name)(int device);  // null: no name
  const char* driver_name;          // the type's display name
};

// ---------------------------------------------------------------------------
// One opened physical device, shared by every reader that opened it.
class PhyHidDevIn {
 public:
  // Closed: no buffer, type CP_HID_DEV_NONE, number 0.
  PhyHidDevIn();
  // Closes the device first when it is open.
  ~PhyHidDevIn();
  PhyHidDevIn(const PhyHidDevIn&) = delete;
  PhyHidDevIn& operator=(const PhyHidDevIn&) = delete;

  // Opens device number device_num of the type through its driver and
  // makes the message buffer. FALSE (logged) when already open, for an
  // invalid type, a driver without open, a refused number or no buffer.
  t_CPBOOL open(long device_type, unsigned long device_num);
  // Drops the buffer and closes the device through its driver.
  t_CPBOOL close();
  // The driver's name for the device, the type's display name when the
  // driver has no name operation, " " when closed or nameless.
  std::string name();

  CBufferAdvance* cbuf;  // owned; null while closed
  long device_type;
  unsigned long device_num;
};

// ---------------------------------------------------------------------------
// One script's reader of a device. The owner (the script's Hid object, an
// event) is signalled when the device posts messages.
class HidIn : public Chip_Event {
 public:
  HidIn();
  // Not valid any more; gives its reader slot back, so the owner is never
  // signalled again.
  ~HidIn() override;

  // Opens device_num of device_type through the manager (closing this
  // reader's previous device first); the result is also the good flag.
  t_CPBOOL open(long device_type, long device_num);
  // Current state of element `which` of message type `type` into msg,
  // through the driver's read: TRUE on success (logged failures).
  t_CPBOOL read(long type, long which, HidMsg* msg);
  // msg through the driver's send: TRUE on success (logged failures).
  t_CPBOOL send(const HidMsg* msg);
  // At most one queued message into msg: the number taken (0 or 1); 0 when
  // not open.
  unsigned long recv(HidMsg* msg);
  // Nothing queued for this reader (TRUE when not open).
  t_CPBOOL empty();
  // The device's name; " " when not open.
  std::string name();

  PhyHidDevIn* phin;          // not owned (the manager's)
  CBufferAdvance* cbuf;       // the device's buffer
  unsigned long m_buffer_in;  // this reader's index in it
  t_CPBOOL m_valid;
  long m_num;                  // device number
  Chip_Event* SELF;            // the owner object
  t_CPBOOL m_suppress_output;  // set by the script class (printerr)
};

// ---------------------------------------------------------------------------
// The manager: static state only.
class HidInManager {
 public:
  // Once per process (until cleanup): drivers, lists, driver init, thread.
  static void init();
  // Builds default_drivers for this platform.
  static void init_default_drivers();
  // Opens device_num of device_type for hin: shares an already opened
  // device or opens a new one; gives hin a reader of its buffer, signalling
  // hin's owner. FALSE (reported) when the type is invalid or the device
  // cannot be opened.
  static t_CPBOOL open(HidIn* hin, long device_type, long device_num);
  // Stops and joins the polling thread, closes and deletes every opened
  // device and forgets the initialisation (readers still holding a device
  // must be gone). For shutdown and tests; a later open starts afresh.
  static void cleanup();

  // The polling thread.
  static void* cb_hid_input(void* arg);
  // Starts the polling thread if none runs.
  static void start_thread();
  // Polls made since the thread started.
  static unsigned long poll_count();
  // Blocks until at least `count` polls were made, or timeout_ms passed
  // (FALSE then). Any thread but the polling one.
  static t_CPBOOL wait_for_polls(unsigned long count, unsigned long timeout_ms);

  static std::vector<std::vector<PhyHidDevIn*>> the_matrix;
  static t_CPBOOL has_init;
  static XThread* the_thread;
  static std::atomic<t_CPBOOL> thread_going;
  static HidDriver default_drivers[CP_HID_DEV_COUNT];
};

// ---------------------------------------------------------------------------
// Platform driver entry points (stubs on this platform).
void Hid_init();
void Hid_poll();

void Joystick_init();
void Joystick_quit();
int Joystick_count();
int Joystick_count_elements(int js, int type);
int Joystick_open(int js);
int Joystick_close(int js);
const char* Joystick_name(int js);

void Mouse_init();
void Mouse_quit();
int Mouse_count();
int Mouse_count_elements(int m, int type);
int Mouse_open(int m);
int Mouse_close(int m);
const char* Mouse_name(int m);
int Mouse_start_cursor_track();
int Mouse_stop_cursor_track();

void Keyboard_init();
void Keyboard_quit();
int Keyboard_count();
int Keyboard_count_elements(int kb, int type);
int Keyboard_open(int kb);
int Keyboard_close(int kb);
int Keyboard_send(int kb, const HidMsg* msg);
const char* Keyboard_name(int kb);

void WiiRemote_init();
void WiiRemote_quit();
int WiiRemote_count();
int WiiRemote_open(int wr);
int WiiRemote_close(int wr);
int WiiRemote_send(int wr, const HidMsg* msg);
const char* WiiRemote_name(int wr);

void TiltSensor_init();
void TiltSensor_quit();
int TiltSensor_count();
int TiltSensor_open(int ts);
int TiltSensor_close(int ts);
int TiltSensor_read(int ts, int type, int num, HidMsg* msg);
const char* TiltSensor_name(int ts);
// Poll interval in microseconds; -1: not supported here.
int TiltSensor_setPollRate(long usec);
int TiltSensor_getPollRate();

#endif
