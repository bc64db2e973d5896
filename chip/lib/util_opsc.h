// Open Sound Control 1.0 over UDP: address spaces with their message queues
// and the receiver that delivers to them, over the packet writer
// (util_opsc_writer.h), the port listeners (util_opsc_listener.h), the
// datagram decoder (util_opsc_decode.h) and address-pattern matching
// (util_opsc_pattern.h), which this header brings in.
//
// Delivery. OSC_Receiver offers each message of a datagram to its address
// spaces: a space takes it when the message's address, read as a pattern,
// matches the space's address and the type tags are the space's. The space
// queues the values (strings and blobs as owned copies) in a ring that
// grows from 512 slots up to 32768; beyond that, or beyond 16 MB of owned
// bytes, the oldest unread message is dropped (logged once per episode of
// dropping). The script's event is then asked to broadcast; the event
// coalesces requests while one is pending, so a flood cannot lap the
// machine's event queue.
//
// Threads and locks. The writer, the receiver's and the spaces' script-side
// operations run on the machine's thread. The listener's thread decodes
// under the listener's mutex (its subscriber list), matches under the
// receiver's lock (its spaces) and queues under the space's queue lock;
// the machine thread takes the same locks in the same order (unsubscribing,
// adding or removing spaces, changing a spec, taking a message). Plain
// std::thread and std::mutex: listeners are joined, never cancelled.
#ifndef CHIP_UTIL_OPSC_H
#define CHIP_UTIL_OPSC_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "chip/lib/util_opsc_decode.h"
#include "chip/lib/util_opsc_listener.h"
#include "chip/lib/util_opsc_pattern.h"
#include "chip/lib/util_opsc_writer.h"
#include "chip/util/chip_def.h"

class Chip_Event;

// ---------------------------------------------------------------------------
// Address spaces

// One received value.
struct OSC_Value {
  enum Kind { UNTYPED = 0, NONE = 1, INT = 2, FLOAT = 3, STRING = 4, BLOB = 5 };
  int kind = UNTYPED;
  int32_t i = 0;
  float f = 0.0f;
  std::string bytes;  // string text or blob bytes (owned)
};

class OSC_Receiver;

class OSC_Address_Space {
 public:
  // Address and tags "/undefined/default,i".
  OSC_Address_Space();
  explicit OSC_Address_Space(const char* spec);
  OSC_Address_Space(const char* address, const char* types);
  // Leaves its receiver first.
  ~OSC_Address_Space();
  OSC_Address_Space(const OSC_Address_Space&) = delete;
  OSC_Address_Space& operator=(const OSC_Address_Space&) = delete;

  // Normalises the address and tags (at most 511 characters: address, ',',
  // tags) and empties the queue. FALSE for a null text (nothing changes).
  bool setSpec(const char* spec);
  bool setSpec(const char* address, const char* types);

  // Whether the message belongs here (listener thread, receiver locked).
  bool accepts(const OSC_Pattern& pattern, const OSC_Message& msg) const;
  // Queues the message's values (listener thread); the message must have
  // passed osc_decode.
  void queue_mesg(const OSC_Message& msg);
  // Asks the script event to broadcast (listener thread).
  void notify();

  // Script side (machine thread).
  bool has_mesg();
  bool next_mesg();
  t_CPINT next_int();
  float next_float();
  // False (and text untouched) on error.
  bool next_string(std::string* text);

  void set_event(Chip_Event* event) { m_event = event; }
  Chip_Event* event() const { return m_event; }
  OSC_Receiver* receiver() const { return m_receiver; }

  const std::string& spec() const { return m_spec; }
  const std::string& address() const { return m_address; }
  const std::string& types() const { return m_types; }
  int capacity();
  int unread();

  static constexpr size_t kMaxOwnedBytes = 16u << 20;
  static constexpr int kInitialCapacity = 512;
  static constexpr int kMaxCapacity = 32768;

 private:
  friend class OSC_Receiver;

  void parseSpec();
  void resize_queue(int capacity);  // queue lock held
  void drop_oldest();               // queue lock held
  bool check_read(int kind, const char* request);

  OSC_Receiver* m_receiver;  // written on the machine thread, under the receiver's lock
  std::mutex m_queue_lock;
  std::string m_spec;
  std::string m_address;
  std::string m_types;
  bool m_no_types;
  int m_type_count;
  std::vector<OSC_Value> m_queue;  // capacity x type_count values
  int m_capacity;
  int m_read_index;   // last slot read; the messages are read+1 .. write-1
  int m_write_index;  // next slot to fill
  size_t m_owned;     // string and blob bytes unread in the ring
  bool m_dropping;    // an episode of dropping has been logged
  std::vector<OSC_Value> m_current;
  bool m_current_valid;
  int m_read_position;
  Chip_Event* m_event;
};

class OSC_Receiver : public UDP_Subscriber {
 public:
  OSC_Receiver();
  // Unsubscribes (no datagram reaches it afterwards) and clears the
  // back-pointers of its spaces.
  ~OSC_Receiver() override;

  int port() const override { return m_subscribed_port.load(); }
  void set_port(int port) override { m_subscribed_port.store(port); }

  // The port listen() uses. FALSE for a port outside 0..65535.
  bool bind_to_port(int port);
  int listen_port() const { return m_listen_port; }
  // Unsubscribes from any previous port, then subscribes.
  bool listen();
  bool listen(int port);
  void stopListening();

  // Decodes the datagram and delivers its messages (listener thread).
  void onReceive(const char* buffer, int len) override;

  // A space belongs to one receiver at a time: adding moves it here.
  void add_address(OSC_Address_Space* space);
  void remove_address(OSC_Address_Space* space);
  // Both forms are for a host that binds addresses through the receiver;
  // the script classes build their address spaces themselves.
  OSC_Address_Space* new_event(const char* spec);
  OSC_Address_Space* new_event(const char* address, const char* types);
  size_t space_count();

 private:
  friend class OSC_Address_Space;

  std::atomic<int> m_subscribed_port;
  int m_listen_port;
  std::mutex m_lock;  // m_spaces
  std::vector<OSC_Address_Space*> m_spaces;
};

#endif
