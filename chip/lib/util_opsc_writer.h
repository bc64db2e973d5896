// Open Sound Control: the packet writer and the sending end.
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
#ifndef CHIP_UTIL_OPSC_WRITER_H
#define CHIP_UTIL_OPSC_WRITER_H

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

#include "chip/lib/util_network.h"
#include "chip/util/chip_def.h"

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

#endif
