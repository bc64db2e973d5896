// Open Sound Control 1.0 over UDP: the packet writer, the port listeners,
// the datagram decoder, address spaces with their message queues, and
// address-pattern matching.
//
// Writing. OSC_Transmitter builds a packet (a message, or a bundle of
// size-prefixed messages and nested bundles) in a fixed 2048-byte buffer
// through the OSC_* buffer functions, and sends it as one datagram as soon
// as it is complete, unless sending is held. Every buffer function checks
// the room it needs, and the type tags, before it writes anything: a
// refused write leaves the packet as it was and names the reason in
// OSC_errorMessage. A typed message whose every tag has been written is
// complete: a further argument is refused, and no check ever reads past its
// tag string. Sends never block the machine's thread: the socket is
// non-blocking, and a destination given as a dotted quad needs no lookup.
//
// Receiving. UDP_Port_Manager keeps one UDP_Port_Listener per port; each
// listener owns its bound socket and a thread that waits (poll) on the
// socket and a wake-up pipe, and hands every datagram to each subscriber of
// its port. Empty datagrams and transient receive errors are ignored, so
// no remote host can silence a port. Destroying a listener wakes its
// thread, which finishes the datagram it is on, and joins it; the driver's
// detach (opsc_detach) does that for every listener still open. A port
// whose bind fails is reported and keeps no listener.
//
// Decoding. osc_decode checks a datagram completely before anything is
// delivered, in 64-bit arithmetic: a bundle of at least 16 bytes beginning
// "#bundle", element sizes that are positive multiples of 4 inside their
// bundle, address and type strings that end inside their message, and
// arguments (strings and blobs included) inside it. A datagram with any
// fault is dropped whole. A message without type tags matches no space.
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
// Patterns. PatternMatch compiles the pattern ('?', '*', '[set]', '[!set]',
// ranges a-z, '{alt,alt}', '\' escapes) and matches iteratively: stars keep
// a record of the positions from which the rest of the pattern already
// failed, so no state is explored twice, and a step budget bounds any
// pattern a remote host can send.
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

#include <netinet/in.h>

#include <atomic>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "chip/lib/util_network.h"
#include "chip/util/chip_def.h"

class Chip_Event;

// ---------------------------------------------------------------------------
// Writer

enum {
  OSC_BUFFER_SIZE = 2048,
  OSC_MAX_BUNDLE_NESTING = 32,  // bundles open at once: at most 31
  OSC_MAX_SPEC = 509            // address and tags of startMessage, together
};

// Results of the buffer functions.
enum {
  OSC_OK = 0,
  OSC_ERR_OVERFLOW = 1,       // "buffer overflow"
  OSC_ERR_NESTING = 2,        // bundles nested too deeply
  OSC_ERR_BUNDLE_IN_MSG = 3,  // bundle in a one-message packet
  OSC_ERR_DONE_BUNDLE = 4,    // packet finished (bundle)
  OSC_ERR_NO_BUNDLE = 5,      // closing with no bundle open
  OSC_ERR_BAD_TEXT = 6,       // a null string or address
  OSC_ERR_NOT_BUNDLE = 7,     // second address in a one-message packet
  OSC_ERR_DONE_ADDRESS = 8,   // packet finished (address)
  OSC_ERR_TYPE = 9            // type-tag mismatch
};

// The reason of the last writer failure (machine thread).
extern const char* OSC_errorMessage;

struct OSCTimeTag {
  t_CPUINT seconds;
  t_CPUINT fraction;
};
// (0, 1): "immediately".
OSCTimeTag OSCTT_Immediately();

struct OSCbuf_struct {
  char* buffer;              // start of the packet storage
  int size;                  // its size
  char* write_pos;           // next byte to write
  int packet_state;          // 0 empty, 1 message, 2 in a bundle, 3 message in a bundle, 4 done
  char* message_size_field;  // size word of the message being written in a bundle
  char* bundle_size_fields[OSC_MAX_BUNDLE_NESTING];  // of nested bundles, by depth
  int bundle_depth;                                  // bundles open
  char* type_cursor;   // next expected tag in the packet's tag string; null: none
  int types_complete;  // the message's every tag has been written
  int awaiting_first_untyped_arg;
};
typedef OSCbuf_struct OSCbuf;

// Empty packet over storage of size bytes.
void OSC_initBuffer(OSCbuf* buf, int size, char* storage);
void OSC_resetBuffer(OSCbuf* buf);
int OSC_freeSpace(const OSCbuf* buf);
int OSC_packetSize(const OSCbuf* buf);
// A message or a closed outermost bundle, nothing more expected.
bool OSC_isPacketReady(const OSCbuf* buf);

int OSC_openBundle(OSCbuf* buf, OSCTimeTag tt);
int OSC_closeBundle(OSCbuf* buf);
int OSC_writeAddress(OSCbuf* buf, const char* name);
// types begins with ','.
int OSC_writeAddressAndTypes(OSCbuf* buf, const char* name, const char* types);
int OSC_writeIntArg(OSCbuf* buf, int32_t arg);
int OSC_writeFloatArg(OSCbuf* buf, float arg);
int OSC_writeStringArg(OSCbuf* buf, const char* arg);

// The sending end: a non-blocking UDP socket and a destination.
class UDP_Transmitter {
 public:
  UDP_Transmitter();
  virtual ~UDP_Transmitter();
  UDP_Transmitter(const UDP_Transmitter&) = delete;
  UDP_Transmitter& operator=(const UDP_Transmitter&) = delete;

  // Destination host (dotted quad, or a name looked up) and port; FALSE
  // with a message for a null or unknown host or a port outside 0..65535.
  t_CPBOOL set_host(const char* host, int port);
  // One datagram to the destination; the send's result (-1 on failure).
  int send(const char* buffer, int length);
  bool ready() const { return m_status == 3; }

 private:
  ck_socket m_socket;
  struct sockaddr_in m_destination;
  int m_status;  // 3 ready, 4 not ready
};

class OSC_Transmitter {
 public:
  OSC_Transmitter();
  virtual ~OSC_Transmitter();
  OSC_Transmitter(const OSC_Transmitter&) = delete;
  OSC_Transmitter& operator=(const OSC_Transmitter&) = delete;

  t_CPBOOL setHost(const char* host, int port);
  // Address and tags (',' and ' ' in types are ignored). FALSE (with a
  // message) for a null text or more than OSC_MAX_SPEC characters, or when
  // the packet refuses the address.
  t_CPBOOL startMessage(const char* address, const char* types);
  // "address,tags" or "address tags" in one text.
  t_CPBOOL startMessage(const char* spec);
  void addInt(int32_t value);
  void addFloat(float value);
  void addString(const char* value);
  void openBundle(OSCTimeTag tt);
  void closeBundle();
  void holdMessage(bool hold) { m_hold = hold; }
  // Sends the packet when it is complete and not held.
  void tryMessage();
  // Sends whatever the buffer holds and empties it.
  void kickMessage();

  const OSCbuf& state() const { return m_state; }
  // The datagrams sent so far (tests: the transmitter can record them).
  void record_sent(std::vector<std::string>* sink) { m_sent = sink; }

 private:
  void send_and_reset();

  char m_packet[OSC_BUFFER_SIZE];
  OSCbuf m_state;
  UDP_Transmitter* m_udp;
  bool m_hold;
  std::vector<std::string>* m_sent;
};

// ---------------------------------------------------------------------------
// Patterns

// Cost limit of one match; beyond it the match fails.
enum { OSC_PATTERN_STEP_BUDGET = 1 << 20 };

class OSC_Pattern {
 public:
  // FALSE, with "[chip](via OSC): ..." printed, for a malformed pattern
  // (an unterminated '[' or '{', a spurious ']' or '}').
  bool compile(const char* pattern);
  // Whether the compiled pattern matches all of test (len bytes).
  bool match(const char* test, size_t len) const;
  // Steps the last match took, and whether it ran out of budget.
  size_t steps() const { return m_steps; }
  bool exhausted() const { return m_exhausted; }

 private:
  enum Kind : uint8_t { LIT, ANY, STAR, SET, ALT, FAIL };
  struct Token {
    Kind kind;
    unsigned char c;  // LIT
    int index;        // SET: into m_sets; ALT: into m_alts
    int next_star;    // STAR: token index of the next star, -1 when none
    long fixed_len;   // STAR: characters the tokens up to the next star take, -1 if they vary
    long min_len;     // STAR: the fewest characters they take
  };
  std::vector<Token> m_tokens;
  std::vector<std::bitset<256>> m_sets;
  std::vector<std::vector<std::string>> m_alts;
  mutable size_t m_steps = 0;
  mutable bool m_exhausted = false;
};

// Whether pattern matches test (both zero-terminated; null counts as "").
bool PatternMatch(const char* pattern, const char* test);

// ---------------------------------------------------------------------------
// Decoding

// One message of a datagram (pointers into it).
struct OSC_Message {
  const char* address;  // zero-terminated inside the message
  const char* types;    // the tags after ',' (zero-terminated), or null: untyped
  const char* data;     // first argument
  size_t data_len;      // bytes from data to the end of the message
};

// Splits a datagram into its messages (in order, bundles walked to any
// depth up to 64). FALSE, with out left empty, when anything in it is
// malformed.
bool osc_decode(const char* datagram, size_t len, std::vector<OSC_Message>* out);

// ---------------------------------------------------------------------------
// Ports

class UDP_Subscriber {
 public:
  virtual ~UDP_Subscriber();
  // The subscribed port, -1 when none.
  virtual int port() const = 0;
  virtual void set_port(int port) = 0;
  // One datagram (listener thread).
  virtual void onReceive(const char* buffer, int len) = 0;
  // FALSE when subscribed already or the port cannot be bound.
  virtual bool subscribe(int port);
  // FALSE when not subscribed.
  virtual bool unsubscribe();
};

class UDP_Port_Listener {
 public:
  explicit UDP_Port_Listener(int port);
  // Stops the thread (waking it) and joins it, then closes the socket.
  ~UDP_Port_Listener();
  UDP_Port_Listener(const UDP_Port_Listener&) = delete;
  UDP_Port_Listener& operator=(const UDP_Port_Listener&) = delete;

  // Binds the port and starts the thread; FALSE (logged) when the bind
  // fails.
  bool init();
  bool add(UDP_Subscriber* subscriber);
  bool drop(UDP_Subscriber* subscriber);
  size_t count();
  // Drops every subscriber (their ports become -1).
  void drop_all();
  // Receives and delivers one datagram; the bytes received (0 for an empty
  // datagram or a transient error, -1 for a fatal error).
  int recv_mesg();

 private:
  void run();

  int m_port;
  ck_socket m_socket;
  std::thread m_thread;
  std::mutex m_mutex;  // the subscriber list; held while they decode
  std::vector<UDP_Subscriber*> m_subscribers;
  std::atomic<bool> m_stop;
  int m_wake[2];
  std::vector<char> m_buffer;
};

class UDP_Port_Manager {
 public:
  static UDP_Port_Manager* instance();

  bool subscribe(UDP_Subscriber* subscriber, int port);
  bool unsubscribe(UDP_Subscriber* subscriber);
  // Stops and joins every listener; their subscribers are left unsubscribed.
  void detach_all();
  // Whether a listener is open on port (tests).
  bool has_listener(int port);

 private:
  std::mutex m_mutex;  // the map
  std::map<int, std::unique_ptr<UDP_Port_Listener>> m_listeners;
};

// Joins every Open Sound Control listener (the driver's detach).
void opsc_detach();

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
