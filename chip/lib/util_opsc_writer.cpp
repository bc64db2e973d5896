// Open Sound Control: the packet writer and the sending end.
#include "chip/lib/util_opsc_writer.h"

#include <cerrno>
#include <cstring>

#include "chip/lib/util_opsc_wire.h"
#include "chip/util/chip_errmsg.h"

using namespace osc_wire;

const char* OSC_errorMessage = "";

namespace {

int fail(const char* message, int code) {
  OSC_errorMessage = message;
  return code;
}

// Writes a size word: the bytes written after it.
void close_size_field(OSCbuf* buf, char* field) {
  put_word(field, static_cast<t_CPUINT>(buf->write_pos - (field + 4)));
}

// The type-tag check: the next tag must be `expected` ('\0' for "the
// message is over"). A match of the end marks the message complete, so the
// cursor never moves past the tag string.
int check_type(OSCbuf* buf, char expected, char adding) {
  if (buf->types_complete) {
    if (expected == '\0') return OSC_OK;
    return fail("According to the type tag I didn't expect any more arguments.", OSC_ERR_TYPE);
  }
  if (!buf->type_cursor) return OSC_OK;
  char next = *buf->type_cursor;
  if (next != expected) {
    if (expected == '\0') {
      return fail("According to the type tag I expected more arguments.", OSC_ERR_TYPE);
    }
    if (next == '\0') {
      return fail("According to the type tag I didn't expect any more arguments.", OSC_ERR_TYPE);
    }
    EM_printf("* Expected %c, string now %s\n", adding, buf->type_cursor);
    return fail("According to the type tag I expected an argument of a different type.",
                OSC_ERR_TYPE);
  }
  if (next == '\0') {
    buf->types_complete = 1;
    buf->type_cursor = nullptr;
  } else {
    buf->type_cursor++;
  }
  return OSC_OK;
}

// Type check without moving anything: the error the check would give.
int peek_type(const OSCbuf* buf, char expected, char adding) {
  OSCbuf copy = *buf;
  return check_type(&copy, expected, adding);
}

}  // namespace

OSCTimeTag OSCTT_Immediately() { return OSCTimeTag{0, 1}; }

void OSC_initBuffer(OSCbuf* buf, int size, char* storage) {
  buf->buffer = storage;
  buf->size = size;
  OSC_resetBuffer(buf);
}

void OSC_resetBuffer(OSCbuf* buf) {
  buf->write_pos = buf->buffer;
  buf->packet_state = 0;
  buf->message_size_field = nullptr;
  for (char*& field : buf->bundle_size_fields) field = nullptr;
  buf->bundle_depth = 0;
  buf->type_cursor = nullptr;
  buf->types_complete = 0;
  buf->awaiting_first_untyped_arg = 0;
}

int OSC_freeSpace(const OSCbuf* buf) {
  return buf->size - static_cast<int>(buf->write_pos - buf->buffer);
}

int OSC_packetSize(const OSCbuf* buf) { return static_cast<int>(buf->write_pos - buf->buffer); }

int OSC_openBundle(OSCbuf* buf, OSCTimeTag tt) {
  if (buf->packet_state == 1)
    return fail("Can't open a bundle in a one-message packet", OSC_ERR_BUNDLE_IN_MSG);
  if (buf->packet_state == 4)
    return fail("This packet is finished; can't open a new bundle", OSC_ERR_DONE_BUNDLE);
  if (buf->bundle_depth + 1 >= OSC_MAX_BUNDLE_NESTING) {
    return fail("Bundles nested too deeply; change MAX_BUNDLE_NESTING in OpenSoundControl.h",
                OSC_ERR_NESTING);
  }
  int rc = check_type(buf, '\0', '\0');
  if (rc) return rc;
  bool outermost = buf->packet_state == 0;
  int need = outermost ? 16 : 20;
  if (OSC_freeSpace(buf) < need) return fail("buffer overflow", OSC_ERR_OVERFLOW);
  if (buf->packet_state == 3) close_size_field(buf, buf->message_size_field);
  if (!outermost) {
    put_word(buf->write_pos, 0xAAAAAAAA);
    buf->bundle_size_fields[buf->bundle_depth + 1] = buf->write_pos;
    buf->write_pos += 4;
  }
  std::memcpy(buf->write_pos, "#bundle\0", 8);
  put_word(buf->write_pos + 8, tt.seconds);
  put_word(buf->write_pos + 12, tt.fraction);
  buf->write_pos += 16;
  buf->bundle_depth++;
  buf->packet_state = 2;
  buf->type_cursor = nullptr;
  buf->types_complete = 0;
  buf->awaiting_first_untyped_arg = 0;
  return OSC_OK;
}

int OSC_closeBundle(OSCbuf* buf) {
  if (buf->bundle_depth == 0)
    return fail("Can't close bundle; no bundle is open!", OSC_ERR_NO_BUNDLE);
  int rc = check_type(buf, '\0', '\0');
  if (rc) return rc;
  if (buf->packet_state == 3) close_size_field(buf, buf->message_size_field);
  if (buf->bundle_depth == 1) {
    buf->packet_state = 4;
  } else {
    close_size_field(buf, buf->bundle_size_fields[buf->bundle_depth]);
    buf->packet_state = 2;
  }
  buf->bundle_depth--;
  buf->type_cursor = nullptr;
  buf->types_complete = 0;
  buf->awaiting_first_untyped_arg = 0;
  return OSC_OK;
}

namespace {

// The checks of an address write that needs `extra` more bytes after it
// (a tag string): OSC_OK when everything fits.
int check_address(OSCbuf* buf, const char* name, size_t extra) {
  if (!name) return fail("Can't write a null address", OSC_ERR_BAD_TEXT);
  if (buf->packet_state == 1) {
    return fail("This packet is not a bundle, so you can't write another address",
                OSC_ERR_NOT_BUNDLE);
  }
  if (buf->packet_state == 4) {
    return fail("This packet is finished; can't write another address", OSC_ERR_DONE_ADDRESS);
  }
  int rc = peek_type(buf, '\0', '\0');
  if (rc) return rc;
  size_t need = padded(std::strlen(name)) + extra;
  if (buf->packet_state == 2 || buf->packet_state == 3) need += 4;
  if (need > static_cast<size_t>(OSC_freeSpace(buf)))
    return fail("buffer overflow", OSC_ERR_OVERFLOW);
  return OSC_OK;
}

void write_padded(OSCbuf* buf, const char* text) {
  size_t len = std::strlen(text);
  size_t n = padded(len);
  std::memcpy(buf->write_pos, text, len);
  std::memset(buf->write_pos + len, 0, n - len);
  buf->write_pos += n;
}

void write_address(OSCbuf* buf, const char* name) {
  check_type(buf, '\0', '\0');
  if (buf->packet_state == 2 || buf->packet_state == 3) {
    if (buf->packet_state == 3) close_size_field(buf, buf->message_size_field);
    put_word(buf->write_pos, 0xBBBBBBBB);
    buf->message_size_field = buf->write_pos;
    buf->write_pos += 4;
    buf->packet_state = 3;
  } else {
    buf->packet_state = 1;
  }
  write_padded(buf, name);
  buf->type_cursor = nullptr;
  buf->types_complete = 0;
  buf->awaiting_first_untyped_arg = 1;
}

}  // namespace

int OSC_writeAddress(OSCbuf* buf, const char* name) {
  int rc = check_address(buf, name, 0);
  if (rc) return rc;
  write_address(buf, name);
  return OSC_OK;
}

int OSC_writeAddressAndTypes(OSCbuf* buf, const char* name, const char* types) {
  if (!types) return fail("Can't write a null type-tag string", OSC_ERR_BAD_TEXT);
  // Room for both before either is written.
  int rc = check_address(buf, name, padded(std::strlen(types)));
  if (rc) return rc;
  write_address(buf, name);
  char* tags = buf->write_pos;
  write_padded(buf, types);
  buf->type_cursor = tags[0] == ',' ? tags + 1 : tags;
  buf->awaiting_first_untyped_arg = 0;
  return OSC_OK;
}

namespace {

int write_word_arg(OSCbuf* buf, char tag, t_CPUINT bits) {
  if (OSC_freeSpace(buf) < 4) return fail("buffer overflow", OSC_ERR_OVERFLOW);
  int rc = check_type(buf, tag, tag);
  if (rc) return rc;
  put_word(buf->write_pos, bits);
  buf->write_pos += 4;
  buf->awaiting_first_untyped_arg = 0;
  return OSC_OK;
}

}  // namespace

int OSC_writeIntArg(OSCbuf* buf, int32_t arg) {
  return write_word_arg(buf, 'i', static_cast<t_CPUINT>(arg));
}

int OSC_writeFloatArg(OSCbuf* buf, float arg) {
  t_CPUINT bits;
  std::memcpy(&bits, &arg, 4);
  return write_word_arg(buf, 'f', bits);
}

int OSC_writeStringArg(OSCbuf* buf, const char* arg) {
  if (!arg) return fail("Can't write a null string", OSC_ERR_BAD_TEXT);
  // Checked on a copy first: a refused write moves nothing.
  int rc = peek_type(buf, 's', 's');
  if (rc) return rc;
  if (padded(std::strlen(arg)) > static_cast<size_t>(OSC_freeSpace(buf))) {
    return fail("buffer overflow", OSC_ERR_OVERFLOW);
  }
  check_type(buf, 's', 's');
  write_padded(buf, arg);
  buf->awaiting_first_untyped_arg = 0;
  return OSC_OK;
}

// ---------------------------------------------------------------------------
// UDP_Transmitter

UDP_Transmitter::UDP_Transmitter() : m_socket(cp_udp_create()), m_destination(), m_status(4) {
  m_destination.sin_family = AF_INET;
  // Sends happen on the machine's thread: they must never wait.
  if (m_socket && cp_nonblocking(m_socket)) m_status = 3;
}

UDP_Transmitter::~UDP_Transmitter() { cp_close(m_socket); }

t_CPBOOL UDP_Transmitter::set_host(const char* host, int port) {
  if (port < 0 || port > 65535) {
    EM_printf("[chip](via OSC): UDP_Transmitter: port %d outside 0..65535\n", port);
    return FALSE;
  }
  struct in_addr address;
  if (!cp_resolve_ipv4(host, &address)) {
    EM_printf("[chip](via OSC): UDP_Transmitter: unknown host: %s\n", host ? host : "(null)");
    m_status = 4;
    return FALSE;
  }
  m_destination.sin_family = AF_INET;
  m_destination.sin_port = htons(static_cast<uint16_t>(port));
  m_destination.sin_addr = address;
  m_status = m_socket ? 3 : 4;
  return m_status == 3;
}

int UDP_Transmitter::send(const char* buffer, int length) {
  if (!ready()) {
    EM_log(CP_LOG_SYSTEM, "(via OSC): send -> socket not bound!");
    return -1;
  }
  int sent = cp_sendto(m_socket, buffer, length, reinterpret_cast<struct sockaddr*>(&m_destination),
                       sizeof m_destination);
  if (sent < 0) EM_log(CP_LOG_INFO, "(via OSC): send failed: %s", std::strerror(errno));
  return sent;
}

// ---------------------------------------------------------------------------
// OSC_Transmitter

OSC_Transmitter::OSC_Transmitter() : m_udp(new UDP_Transmitter), m_hold(false), m_sent(nullptr) {
  std::memset(m_packet, 0, sizeof m_packet);
  OSC_initBuffer(&m_state, OSC_BUFFER_SIZE, m_packet);
}

OSC_Transmitter::~OSC_Transmitter() { delete m_udp; }

t_CPBOOL OSC_Transmitter::setHost(const char* host, int port) {
  return m_udp->set_host(host, port);
}

t_CPBOOL OSC_Transmitter::startMessage(const char* address, const char* types) {
  if (!address || !types) {
    EM_printf("[chip](via OSC): cannot start a message with a null address or type list\n");
    return FALSE;
  }
  std::string tags = ",";
  for (const char* t = types; *t; t++) {
    if (*t != ',' && *t != ' ') tags += *t;
  }
  // Address, terminator, the tags and theirs in a 512-byte working buffer.
  size_t chars = std::strlen(address) + tags.size() - 1;
  if (chars > OSC_MAX_SPEC) {
    EM_printf(
        "[chip](via OSC): message address and type tags too long (%zu characters, at most %d)\n",
        chars, OSC_MAX_SPEC);
    return FALSE;
  }
  t_CPBOOL ok = OSC_writeAddressAndTypes(&m_state, address, tags.c_str()) == OSC_OK;
  tryMessage();
  return ok;
}

t_CPBOOL OSC_Transmitter::startMessage(const char* spec) {
  if (!spec) {
    EM_printf("[chip](via OSC): cannot start a message with a null spec\n");
    return FALSE;
  }
  size_t split = std::strcspn(spec, ", ");
  std::string address(spec, split);
  const char* tags = spec[split] ? spec + split + 1 : "";
  return startMessage(address.c_str(), tags);
}

void OSC_Transmitter::addInt(int32_t value) {
  int rc = OSC_writeIntArg(&m_state, value);
  if (rc) EM_printf("[chip](via OSC): error writing packet: %d %s\n", rc, OSC_errorMessage);
  tryMessage();
}

void OSC_Transmitter::addFloat(float value) {
  int rc = OSC_writeFloatArg(&m_state, value);
  if (rc) EM_printf("[chip](via OSC): error writing packet: %d %s\n", rc, OSC_errorMessage);
  tryMessage();
}

void OSC_Transmitter::addString(const char* value) {
  int rc = OSC_writeStringArg(&m_state, value);
  if (rc) EM_printf("[chip](via OSC): error writing packet: %d %s\n", rc, OSC_errorMessage);
  tryMessage();
}

void OSC_Transmitter::openBundle(OSCTimeTag tt) { OSC_openBundle(&m_state, tt); }

void OSC_Transmitter::closeBundle() {
  OSC_closeBundle(&m_state);
  tryMessage();
}

void OSC_Transmitter::tryMessage() {
  if (m_hold) return;
  if (m_state.type_cursor) {
    if (*m_state.type_cursor != '\0') {
      OSC_errorMessage = "According to the type tag I expected more arguments.";
      return;
    }
    // Every tag written: the message is complete.
    m_state.type_cursor = nullptr;
    m_state.types_complete = 1;
  }
  if (m_state.packet_state == 1 || m_state.packet_state == 4) send_and_reset();
}

void OSC_Transmitter::kickMessage() {
  if (m_state.packet_state != 1 && m_state.packet_state != 4) {
    EM_printf("[chip](via OSC): error -> sending incomplete packet!\n");
  }
  send_and_reset();
}

void OSC_Transmitter::send_and_reset() {
  int size = OSC_packetSize(&m_state);
  if (m_sent) m_sent->emplace_back(m_packet, static_cast<size_t>(size));
  m_udp->send(m_packet, size);
  OSC_resetBuffer(&m_state);
}
