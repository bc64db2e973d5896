// Open Sound Control: writer, listeners, decoder, address spaces, patterns.
#include "chip/lib/util_opsc.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_vm.h"

const char* OSC_errorMessage = "";

namespace {

// Bytes a string of len characters takes with its terminator, padded to 4.
size_t padded(size_t len) { return (len + 4) & ~static_cast<size_t>(3); }

void put_word(char* at, t_CPUINT value) {
  t_CPUINT big = htonl(value);
  std::memcpy(at, &big, 4);
}

t_CPUINT get_word(const char* at) {
  t_CPUINT big;
  std::memcpy(&big, at, 4);
  return ntohl(big);
}

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

bool OSC_isPacketReady(const OSCbuf* buf) {
  if (buf->packet_state != 1 && buf->packet_state != 4) return false;
  return !buf->type_cursor || *buf->type_cursor == '\0';
}

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

// ---------------------------------------------------------------------------
// Patterns

bool OSC_Pattern::compile(const char* pattern) {
  m_tokens.clear();
  m_sets.clear();
  m_alts.clear();
  if (!pattern) pattern = "";
  const char* p = pattern;
  while (*p) {
    Token token{LIT, 0, -1, -1, -1, 0};
    switch (*p) {
      case '?':
        token.kind = ANY;
        p++;
        break;
      case '*':
        token.kind = STAR;
        while (*p == '*') p++;
        break;
      case '\\':
        if (p[1]) {
          token.c = static_cast<unsigned char>(p[1]);
          p += 2;
        } else {
          // A trailing backslash escapes nothing: it never matches.
          token.kind = FAIL;
          p++;
        }
        break;
      case '[': {
        const char* start = p + 1;
        bool negate = *start == '!';
        if (negate) start++;
        const char* end = std::strchr(start, ']');
        if (!end) {
          EM_printf("[chip](via OSC): unterminated [ in pattern \".../%s/...\"\n", p);
          return false;
        }
        std::bitset<256> set;
        for (const char* c = start; c < end;) {
          if (c + 2 < end && c[1] == '-') {
            for (int v = static_cast<unsigned char>(c[0]); v <= static_cast<unsigned char>(c[2]);
                 v++) {
              set.set(static_cast<size_t>(v));
            }
            c += 3;
          } else {
            set.set(static_cast<unsigned char>(*c));
            c++;
          }
        }
        if (negate) set.flip();
        token.kind = SET;
        token.index = static_cast<int>(m_sets.size());
        m_sets.push_back(set);
        p = end + 1;
        break;
      }
      case '{': {
        const char* end = std::strchr(p + 1, '}');
        if (!end) {
          EM_printf("[chip](via OSC): unterminated { in pattern \".../%s/...\"\n", p);
          return false;
        }
        std::vector<std::string> alts;
        const char* from = p + 1;
        for (const char* c = from;; c++) {
          if (c == end || *c == ',') {
            alts.emplace_back(from, static_cast<size_t>(c - from));
            from = c + 1;
            if (c == end) break;
          }
        }
        token.kind = ALT;
        token.index = static_cast<int>(m_alts.size());
        m_alts.push_back(std::move(alts));
        p = end + 1;
        break;
      }
      case ']':
      case '}':
        EM_printf("[chip](via OSC): spurious %c in pattern \".../%s/...\"\n", *p, p);
        return false;
      default:
        token.c = static_cast<unsigned char>(*p);
        p++;
        break;
    }
    m_tokens.push_back(token);
  }
  // For each star: the next star and the length of what lies between.
  int next = -1;
  long fixed = 0;
  long least = 0;
  for (size_t i = m_tokens.size(); i-- > 0;) {
    Token& token = m_tokens[i];
    if (token.kind == STAR) {
      token.next_star = next;
      token.fixed_len = fixed;
      token.min_len = least;
      next = static_cast<int>(i);
      fixed = 0;
      least = 0;
    } else if (token.kind == ALT) {
      fixed = -1;
      size_t shortest = SIZE_MAX;
      for (const std::string& alt : m_alts[static_cast<size_t>(token.index)]) {
        shortest = std::min(shortest, alt.size());
      }
      least += static_cast<long>(shortest);
    } else {
      if (fixed >= 0) fixed++;
      least++;
    }
  }
  return true;
}

bool OSC_Pattern::match(const char* test, size_t len) const {
  struct Choice {
    size_t token;
    size_t start;  // STAR: the position it was reached at; ALT: its position
    size_t cur;    // STAR: the position the rest is being tried from
    long alt;      // ALT: the alternative being tried
  };
  const size_t ntok = m_tokens.size();
  const size_t n = len;
  // For a star: the least position from which the rest of the pattern is
  // known to fail (from any later position it fails too: the star could
  // have absorbed the difference).
  std::vector<size_t> fail_from(ntok, SIZE_MAX);
  std::vector<Choice> stack;
  size_t ti = 0;
  size_t pos = 0;
  m_steps = 0;
  m_exhausted = false;

  for (;;) {
    bool backtrack = false;
    if (++m_steps > OSC_PATTERN_STEP_BUDGET) {
      m_exhausted = true;
      return false;
    }
    if (ti == ntok) {
      if (pos == n) return true;
      backtrack = true;
    } else {
      const Token& t = m_tokens[ti];
      switch (t.kind) {
        case LIT:
          if (pos < n && static_cast<unsigned char>(test[pos]) == t.c) {
            ti++;
            pos++;
          } else {
            backtrack = true;
          }
          break;
        case ANY:
          if (pos < n) {
            ti++;
            pos++;
          } else {
            backtrack = true;
          }
          break;
        case SET:
          if (pos < n &&
              m_sets[static_cast<size_t>(t.index)][static_cast<unsigned char>(test[pos])]) {
            ti++;
            pos++;
          } else {
            backtrack = true;
          }
          break;
        case FAIL:
          backtrack = true;
          break;
        case STAR: {
          if (ti + 1 == ntok) return true;
          if (pos >= fail_from[ti]) {
            backtrack = true;
            break;
          }
          // Whatever lies before the next star takes at least min_len
          // characters: arriving there at or after a failed position fails.
          if (t.next_star >= 0 &&
              pos + static_cast<size_t>(t.min_len) >= fail_from[static_cast<size_t>(t.next_star)]) {
            fail_from[ti] = pos;
            backtrack = true;
            break;
          }
          if (t.next_star < 0 && t.fixed_len >= 0) {
            // The last star before a fixed tail: the tail can only start
            // where it ends the test.
            size_t tail = static_cast<size_t>(t.fixed_len);
            if (tail > n || n - tail < pos) {
              fail_from[ti] = pos;
              backtrack = true;
              break;
            }
            stack.push_back(Choice{ti, pos, n, 0});
            ti++;
            pos = n - tail;
            break;
          }
          stack.push_back(Choice{ti, pos, pos, 0});
          ti++;
          break;
        }
        case ALT:
          stack.push_back(Choice{ti, pos, pos, -1});
          backtrack = true;
          break;
      }
    }
    if (!backtrack) continue;

    // Resume the most recent choice that has an untried option.
    bool resumed = false;
    while (!stack.empty() && !resumed) {
      if (++m_steps > OSC_PATTERN_STEP_BUDGET) {
        m_exhausted = true;
        return false;
      }
      Choice& c = stack.back();
      const Token& t = m_tokens[c.token];
      if (t.kind == STAR) {
        size_t next = c.cur + 1;
        bool done = next > n || n - std::min(n, next) < static_cast<size_t>(t.min_len);
        if (!done && t.next_star >= 0 &&
            next + static_cast<size_t>(t.min_len) >= fail_from[static_cast<size_t>(t.next_star)]) {
          done = true;
        }
        if (!done && c.token + 1 < ntok && m_tokens[c.token + 1].kind == LIT) {
          // The rest begins with a literal: only its occurrences can start it.
          const void* found =
              next < n ? std::memchr(test + next, m_tokens[c.token + 1].c, n - next) : nullptr;
          if (found) {
            next = static_cast<size_t>(static_cast<const char*>(found) - test);
          } else {
            done = true;
          }
        }
        if (done) {
          fail_from[c.token] = std::min(fail_from[c.token], c.start);
          stack.pop_back();
          continue;
        }
        c.cur = next;
        ti = c.token + 1;
        pos = next;
        resumed = true;
      } else {
        const std::vector<std::string>& alts = m_alts[static_cast<size_t>(t.index)];
        for (size_t a = static_cast<size_t>(c.alt + 1); a < alts.size(); a++) {
          const std::string& alt = alts[a];
          if (alt.size() <= n - c.start &&
              std::memcmp(test + c.start, alt.data(), alt.size()) == 0) {
            c.alt = static_cast<long>(a);
            ti = c.token + 1;
            pos = c.start + alt.size();
            resumed = true;
            break;
          }
        }
        if (!resumed) stack.pop_back();
      }
    }
    if (!resumed) return false;
  }
}

bool PatternMatch(const char* pattern, const char* test) {
  OSC_Pattern compiled;
  if (!compiled.compile(pattern)) return false;
  if (!test) test = "";
  return compiled.match(test, std::strlen(test));
}

// ---------------------------------------------------------------------------
// Decoding

namespace {

const size_t kMaxBundleDepth = 64;

// The length of a zero-terminated string that starts at `at` and must end
// before `end`; -1 when no zero lies inside.
long string_in(const char* at, const char* end) {
  if (at >= end) return -1;
  const void* zero = std::memchr(at, 0, static_cast<size_t>(end - at));
  return zero ? static_cast<const char*>(zero) - at : -1;
}

bool decode_message(const char* msg, size_t size, std::vector<OSC_Message>* out) {
  const char* end = msg + size;
  long address_len = string_in(msg, end);
  if (address_len < 0) return false;
  OSC_Message m{msg, nullptr, nullptr, 0};
  uint64_t at = padded(static_cast<size_t>(address_len));
  if (at > size) return false;
  if (at < size && msg[at] == ',') {
    long types_len = string_in(msg + at, end);
    if (types_len < 0) return false;
    m.types = msg + at + 1;
    uint64_t data = at + padded(static_cast<size_t>(types_len));
    if (data > size) return false;
    // Every argument must lie inside the message.
    uint64_t cursor = data;
    for (const char* tag = m.types; *tag; tag++) {
      switch (*tag) {
        case 'i':
        case 'f':
          if (cursor + 4 > size) return false;
          cursor += 4;
          break;
        case 's': {
          long len = string_in(msg + cursor, end);
          if (len < 0) return false;
          cursor += padded(static_cast<size_t>(len));
          if (cursor > size) return false;
          break;
        }
        case 'b': {
          if (cursor + 4 > size) return false;
          int32_t blob = static_cast<int32_t>(get_word(msg + cursor));
          if (blob < 0) return false;
          uint64_t bytes = (static_cast<uint64_t>(blob) + 3) & ~static_cast<uint64_t>(3);
          if (cursor + 4 + bytes > size) return false;
          cursor += 4 + bytes;
          break;
        }
        default:
          break;
      }
    }
    m.data = msg + data;
    m.data_len = size - data;
  } else {
    m.data = msg + at;
    m.data_len = size - at;
  }
  out->push_back(m);
  return true;
}

bool decode_bundle(const char* bundle, size_t size, size_t depth, std::vector<OSC_Message>* out) {
  if (depth > kMaxBundleDepth) return false;
  if (size < 16 || std::memcmp(bundle, "#bundle\0", 8) != 0) return false;
  uint64_t at = 16;
  while (at < size) {
    if (at + 4 > size) return false;
    int32_t element = static_cast<int32_t>(get_word(bundle + at));
    if (element <= 0 || element % 4 != 0) return false;
    at += 4;
    if (at + static_cast<uint64_t>(element) > size) return false;
    const char* start = bundle + at;
    bool ok = start[0] == '#' ? decode_bundle(start, static_cast<size_t>(element), depth + 1, out)
                              : decode_message(start, static_cast<size_t>(element), out);
    if (!ok) return false;
    at += static_cast<uint64_t>(element);
  }
  return true;
}

}  // namespace

bool osc_decode(const char* datagram, size_t len, std::vector<OSC_Message>* out) {
  out->clear();
  if (!datagram || len == 0) return false;
  bool ok = datagram[0] == '#' ? decode_bundle(datagram, len, 1, out)
                               : decode_message(datagram, len, out);
  if (!ok) out->clear();
  return ok;
}

// ---------------------------------------------------------------------------
// Ports

UDP_Subscriber::~UDP_Subscriber() = default;

bool UDP_Subscriber::subscribe(int port) {
  if (this->port() >= 0) return false;
  if (UDP_Port_Manager::instance()->subscribe(this, port)) return true;
  set_port(-1);
  return false;
}

bool UDP_Subscriber::unsubscribe() {
  if (port() < 0) return false;
  return UDP_Port_Manager::instance()->unsubscribe(this);
}

UDP_Port_Listener::UDP_Port_Listener(int port)
    : m_port(port), m_socket(nullptr), m_stop(false), m_wake{-1, -1}, m_buffer(8192) {}

UDP_Port_Listener::~UDP_Port_Listener() {
  m_stop.store(true);
  if (m_wake[1] >= 0) {
    char byte = 'q';
    ssize_t n = write(m_wake[1], &byte, 1);
    (void)n;
  }
  if (m_thread.joinable()) m_thread.join();
  if (m_wake[0] >= 0) close(m_wake[0]);
  if (m_wake[1] >= 0) close(m_wake[1]);
  cp_close(m_socket);
}

bool UDP_Port_Listener::init() {
  m_socket = cp_udp_create();
  if (!m_socket || !cp_bind(m_socket, m_port, nullptr)) {
    EM_log(CP_LOG_SYSTEM, "(via OSC): cannot bind to port %d!", m_port);
    return false;
  }
  if (pipe2(m_wake, O_CLOEXEC) != 0) {
    m_wake[0] = m_wake[1] = -1;
    EM_log(CP_LOG_SYSTEM, "(via OSC): cannot start the listener on port %d!", m_port);
    return false;
  }
  m_thread = std::thread([this] { run(); });
  return true;
}

bool UDP_Port_Listener::add(UDP_Subscriber* subscriber) {
  std::lock_guard<std::mutex> guard(m_mutex);
  if (std::find(m_subscribers.begin(), m_subscribers.end(), subscriber) != m_subscribers.end()) {
    EM_log(CP_LOG_INFO, "UDP_Port_Listener::add - error subscriber already exists");
    return false;
  }
  EM_log(CP_LOG_INFO, "UDP_Port_Listener: adding subscriber");
  m_subscribers.push_back(subscriber);
  subscriber->set_port(m_port);
  return true;
}

bool UDP_Port_Listener::drop(UDP_Subscriber* subscriber) {
  std::lock_guard<std::mutex> guard(m_mutex);
  auto at = std::find(m_subscribers.begin(), m_subscribers.end(), subscriber);
  if (at == m_subscribers.end()) return false;
  EM_log(CP_LOG_INFO, "UDP_Port_Listener: dropping subscriber");
  m_subscribers.erase(at);
  subscriber->set_port(-1);
  return true;
}

size_t UDP_Port_Listener::count() {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_subscribers.size();
}

void UDP_Port_Listener::drop_all() {
  std::lock_guard<std::mutex> guard(m_mutex);
  for (UDP_Subscriber* subscriber : m_subscribers) subscriber->set_port(-1);
  m_subscribers.clear();
}

int UDP_Port_Listener::recv_mesg() {
  struct sockaddr_in from;
  int from_len = sizeof from;
  int n = cp_recvfrom(m_socket, m_buffer.data(), static_cast<int>(m_buffer.size()),
                      reinterpret_cast<struct sockaddr*>(&from), &from_len);
  if (n < 0) {
    // Errors a remote host can cause (an ICMP report of an earlier send,
    // no memory for a moment) pass; a broken socket ends the listener.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNREFUSED || errno == ENOMEM ||
        errno == ENOBUFS || errno == EINTR) {
      return 0;
    }
    EM_log(CP_LOG_SYSTEM, "(via OSC): receive on port %d failed: %s", m_port, std::strerror(errno));
    return -1;
  }
  // An empty datagram carries nothing.
  if (n == 0) return 0;
  std::lock_guard<std::mutex> guard(m_mutex);
  for (UDP_Subscriber* subscriber : m_subscribers) subscriber->onReceive(m_buffer.data(), n);
  return n;
}

void UDP_Port_Listener::run() {
  if (Chip_VM::our_priority != CHIP_VM_NO_PRIORITY) {
    Chip_VM::set_priority(Chip_VM::our_priority, nullptr);
  }
  EM_log(CP_LOG_INFO, "UDP_Port_Listener:: starting receive loop\n");
  struct pollfd fds[2];
  fds[0].fd = m_socket->descriptor;
  fds[0].events = POLLIN;
  fds[1].fd = m_wake[0];
  fds[1].events = POLLIN;
  while (!m_stop.load()) {
    fds[0].revents = fds[1].revents = 0;
    int rc = poll(fds, 2, -1);
    if (rc < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents || m_stop.load()) break;
    if (fds[0].revents & (POLLIN | POLLERR)) {
      if (recv_mesg() < 0) break;
    } else if (fds[0].revents & POLLNVAL) {
      break;
    }
  }
  EM_log(CP_LOG_INFO, "UDP_Port_Listener:: receive loop terminated\n");
}

UDP_Port_Manager* UDP_Port_Manager::instance() {
  // Never destroyed: listeners still open at exit are joined by the
  // driver's detach, and a static destructor must not join threads.
  static UDP_Port_Manager* manager = new UDP_Port_Manager;
  return manager;
}

bool UDP_Port_Manager::subscribe(UDP_Subscriber* subscriber, int port) {
  if (port < 0 || port > 65535) {
    EM_log(CP_LOG_SYSTEM, "(via OSC): port %d outside 0..65535", port);
    return false;
  }
  std::lock_guard<std::mutex> guard(m_mutex);
  auto at = m_listeners.find(port);
  if (at == m_listeners.end()) {
    EM_log(CP_LOG_INFO, "PortManager:  starting Listener on %d", port);
    auto listener = std::make_unique<UDP_Port_Listener>(port);
    if (!listener->init()) return false;
    at = m_listeners.emplace(port, std::move(listener)).first;
  }
  return at->second->add(subscriber);
}

bool UDP_Port_Manager::unsubscribe(UDP_Subscriber* subscriber) {
  int port = subscriber->port();
  if (port < 0) {
    EM_log(CP_LOG_INFO, "error, subscriber's port < 0, return false");
    return false;
  }
  std::unique_ptr<UDP_Port_Listener> closing;
  bool dropped;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    auto at = m_listeners.find(port);
    if (at == m_listeners.end()) {
      EM_log(CP_LOG_INFO, "error, cannot unsubscribe: port %d not in use", port);
      return false;
    }
    dropped = at->second->drop(subscriber);
    if (at->second->count() == 0) {
      EM_log(CP_LOG_INFO, "PortManager: Listener on port %d is empty - removing", port);
      closing = std::move(at->second);
      m_listeners.erase(at);
    }
  }
  // Joined outside the map's lock.
  closing.reset();
  return dropped;
}

void UDP_Port_Manager::detach_all() {
  std::map<int, std::unique_ptr<UDP_Port_Listener>> closing;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    closing.swap(m_listeners);
  }
  for (auto& entry : closing) entry.second->drop_all();
  closing.clear();
}

bool UDP_Port_Manager::has_listener(int port) {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_listeners.count(port) != 0;
}

void opsc_detach() { UDP_Port_Manager::instance()->detach_all(); }

// ---------------------------------------------------------------------------
// Address spaces

namespace {

const char* const kKindNames[] = {
    "untyped", "no arguments", "integer", "float", "string", "blob", "ERROR: num types exceeded"};

const char* kind_name(int kind) { return kKindNames[kind >= 0 && kind < 6 ? kind : 6]; }

}  // namespace

OSC_Address_Space::OSC_Address_Space()
    : m_receiver(nullptr),
      m_no_types(false),
      m_type_count(0),
      m_capacity(kInitialCapacity),
      m_read_index(0),
      m_write_index(1),
      m_owned(0),
      m_dropping(false),
      m_current_valid(false),
      m_read_position(0),
      m_event(nullptr) {
  setSpec("/undefined/default,i");
}

OSC_Address_Space::OSC_Address_Space(const char* spec) : OSC_Address_Space() { setSpec(spec); }

OSC_Address_Space::OSC_Address_Space(const char* address, const char* types) : OSC_Address_Space() {
  setSpec(address, types);
}

OSC_Address_Space::~OSC_Address_Space() {
  if (m_receiver) m_receiver->remove_address(this);
}

bool OSC_Address_Space::setSpec(const char* address, const char* types) {
  if (!address || !types) return false;
  std::string spec = std::string(address) + "," + types;
  return setSpec(spec.c_str());
}

bool OSC_Address_Space::setSpec(const char* spec) {
  if (!spec) return false;
  // The address-and-tags field holds 511 characters.
  std::string text(spec, strnlen(spec, 511));
  std::string normal;
  bool separated = false;
  for (char c : text) {
    if (c == ' ' || c == ',') {
      if (!separated) {
        normal += ',';
        separated = true;
      } else if (c == ' ') {
        EM_log(CP_LOG_INFO, "OSC-Address-Space: spaces in OSC type tag string! ignoring");
      }
    } else {
      normal += c;
    }
  }
  if (!separated) {
    // Cut to leave room for the separator.
    if (normal.size() >= 511) normal.resize(510);
    normal += ',';
  }
  // The receiver's matching reads the address and tags; the listener fills
  // the ring: both wait while the address and tags change.
  OSC_Receiver* receiver = m_receiver;
  std::unique_lock<std::mutex> receiver_lock;
  if (receiver) receiver_lock = std::unique_lock<std::mutex>(receiver->m_lock);
  std::lock_guard<std::mutex> guard(m_queue_lock);
  m_spec = normal;
  parseSpec();
  return true;
}

void OSC_Address_Space::parseSpec() {
  size_t comma = m_spec.rfind(',');
  m_address = m_spec.substr(0, comma);
  m_types = m_spec.substr(comma + 1);
  m_no_types = m_types.empty();
  int count = std::max<int>(1, static_cast<int>(m_types.size()));
  if (count != m_type_count || m_queue.empty()) {
    m_type_count = count;
    m_queue.assign(static_cast<size_t>(m_capacity) * static_cast<size_t>(count), OSC_Value());
    m_current.assign(static_cast<size_t>(count), OSC_Value());
  } else {
    for (OSC_Value& v : m_queue) v = OSC_Value();
  }
  m_read_index = 0;
  m_write_index = 1;
  m_owned = 0;
  m_dropping = false;
  m_current_valid = false;
  m_read_position = 0;
}

bool OSC_Address_Space::accepts(const OSC_Pattern& pattern, const OSC_Message& msg) const {
  if (!msg.types) return false;
  if (std::strcmp(msg.types, m_types.c_str()) != 0) return false;
  if (m_address == msg.address) return true;
  return pattern.match(m_address.data(), m_address.size());
}

void OSC_Address_Space::resize_queue(int capacity) {
  if (m_capacity >= capacity) return;
  EM_log(CP_LOG_INFO, "OSC_Address (%s) -- buffer full ( r:%d , w:%d, of %d(x%d) ), resizing...",
         m_address.c_str(), m_read_index, m_write_index, m_capacity, m_type_count);
  const size_t width = static_cast<size_t>(m_type_count);
  std::vector<OSC_Value> grown(static_cast<size_t>(capacity) * width);
  // The unread messages move to slots 1.. in order; slot 0 is "last read".
  int count = 0;
  for (int slot = (m_read_index + 1) % m_capacity; slot != m_write_index;
       slot = (slot + 1) % m_capacity) {
    count++;
    for (size_t k = 0; k < width; k++) {
      grown[static_cast<size_t>(count) * width + k] =
          std::move(m_queue[static_cast<size_t>(slot) * width + k]);
    }
  }
  m_queue.swap(grown);
  m_capacity = capacity;
  m_read_index = 0;
  m_write_index = count + 1;
}

void OSC_Address_Space::drop_oldest() {
  int slot = (m_read_index + 1) % m_capacity;
  if (slot == m_write_index) return;
  const size_t width = static_cast<size_t>(m_type_count);
  for (size_t k = 0; k < width; k++) {
    OSC_Value& v = m_queue[static_cast<size_t>(slot) * width + k];
    m_owned -= v.bytes.size();
    v = OSC_Value();
  }
  m_read_index = slot;
}

void OSC_Address_Space::queue_mesg(const OSC_Message& msg) {
  // The values first, outside the lock.
  std::vector<OSC_Value> values(static_cast<size_t>(m_type_count));
  size_t bytes = 0;
  if (m_no_types) {
    values[0].kind = OSC_Value::NONE;
  } else {
    const char* data = msg.data;
    size_t k = 0;
    for (const char* tag = msg.types; *tag && k < values.size(); tag++, k++) {
      OSC_Value& v = values[k];
      switch (*tag) {
        case 'i':
          v.kind = OSC_Value::INT;
          v.i = static_cast<int32_t>(get_word(data));
          data += 4;
          break;
        case 'f': {
          v.kind = OSC_Value::FLOAT;
          t_CPUINT bits = get_word(data);
          std::memcpy(&v.f, &bits, 4);
          data += 4;
          break;
        }
        case 's': {
          v.kind = OSC_Value::STRING;
          v.bytes.assign(data);
          data += padded(v.bytes.size());
          break;
        }
        case 'b': {
          v.kind = OSC_Value::BLOB;
          size_t size = get_word(data);
          v.bytes.assign(data + 4, size);
          data += 4 + ((size + 3) & ~static_cast<size_t>(3));
          break;
        }
        default:
          break;
      }
      bytes += v.bytes.size();
    }
  }

  std::lock_guard<std::mutex> guard(m_queue_lock);
  EM_log(CP_LOG_FINE, "OSC address(%s): read: %d write: %d size: %d", m_address.c_str(),
         m_read_index, m_write_index, m_capacity);
  bool dropped = false;
  // Owned bytes are capped: the oldest messages give way.
  while (m_owned + bytes > kMaxOwnedBytes && (m_read_index + 1) % m_capacity != m_write_index) {
    drop_oldest();
    dropped = true;
  }
  if ((m_write_index + 1) % m_capacity == m_read_index) {
    if (m_capacity < kMaxCapacity) {
      resize_queue(m_capacity * 2);
    } else {
      drop_oldest();
      dropped = true;
    }
  }
  if (dropped && !m_dropping) {
    m_dropping = true;
    EM_log(CP_LOG_INFO,
           "OSC_Address_Space(%s): message queue reached max size %d (%zu bytes)..."
           "(dropping oldest messages)",
           m_address.c_str(), m_capacity, m_owned + bytes);
  }
  const size_t width = static_cast<size_t>(m_type_count);
  for (size_t k = 0; k < width; k++) {
    m_queue[static_cast<size_t>(m_write_index) * width + k] = std::move(values[k]);
  }
  m_owned += bytes;
  m_write_index = (m_write_index + 1) % m_capacity;
}

void OSC_Address_Space::notify() {
  if (m_event) m_event->queue_broadcast();
}

bool OSC_Address_Space::has_mesg() {
  std::lock_guard<std::mutex> guard(m_queue_lock);
  return (m_read_index + 1) % m_capacity != m_write_index;
}

bool OSC_Address_Space::next_mesg() {
  std::lock_guard<std::mutex> guard(m_queue_lock);
  int slot = (m_read_index + 1) % m_capacity;
  if (slot == m_write_index) return false;
  const size_t width = static_cast<size_t>(m_type_count);
  for (size_t k = 0; k < width; k++) {
    OSC_Value& v = m_queue[static_cast<size_t>(slot) * width + k];
    m_owned -= v.bytes.size();
    // The taken values belong to the reader alone from here.
    m_current[k] = std::move(v);
    v = OSC_Value();
  }
  m_read_index = slot;
  if ((m_read_index + 1) % m_capacity == m_write_index) m_dropping = false;
  m_current_valid = true;
  m_read_position = 0;
  return true;
}

bool OSC_Address_Space::check_read(int kind, const char* request) {
  if (!m_current_valid) {
    EM_log(CP_LOG_SEVERE, "OscEvent: getVal(): nextMsg() must be called before reading data...");
    return false;
  }
  if (m_read_position < 0 || m_read_position >= m_type_count) {
    EM_log(CP_LOG_SEVERE, "OscEvent: read position %d outside message ...", m_read_position);
    return false;
  }
  int have = m_current[static_cast<size_t>(m_read_position)].kind;
  if (have != kind) {
    EM_log(CP_LOG_SEVERE, "OscEvent: error -> message type %s != request type %s", kind_name(have),
           request);
    return false;
  }
  return true;
}

t_CPINT OSC_Address_Space::next_int() {
  if (!check_read(OSC_Value::INT, "integer")) return 0;
  return m_current[static_cast<size_t>(m_read_position++)].i;
}

float OSC_Address_Space::next_float() {
  if (!check_read(OSC_Value::FLOAT, "float")) return 0.0f;
  return m_current[static_cast<size_t>(m_read_position++)].f;
}

bool OSC_Address_Space::next_string(std::string* text) {
  if (!check_read(OSC_Value::STRING, "string")) return false;
  *text = m_current[static_cast<size_t>(m_read_position++)].bytes;
  return true;
}

int OSC_Address_Space::capacity() {
  std::lock_guard<std::mutex> guard(m_queue_lock);
  return m_capacity;
}

int OSC_Address_Space::unread() {
  std::lock_guard<std::mutex> guard(m_queue_lock);
  return (m_write_index - m_read_index - 1 + m_capacity) % m_capacity;
}

// ---------------------------------------------------------------------------
// OSC_Receiver

OSC_Receiver::OSC_Receiver() : m_subscribed_port(-1), m_listen_port(-1) {}

OSC_Receiver::~OSC_Receiver() {
  // After this no listener thread is inside onReceive.
  stopListening();
  std::lock_guard<std::mutex> guard(m_lock);
  for (OSC_Address_Space* space : m_spaces) space->m_receiver = nullptr;
  m_spaces.clear();
}

bool OSC_Receiver::bind_to_port(int port) {
  if (port < 0 || port > 65535) return false;
  m_listen_port = port;
  return true;
}

bool OSC_Receiver::listen() {
  if (port() >= 0) unsubscribe();
  if (m_listen_port < 0) return false;
  return subscribe(m_listen_port);
}

bool OSC_Receiver::listen(int port) {
  if (!bind_to_port(port)) return false;
  return listen();
}

void OSC_Receiver::stopListening() {
  if (port() >= 0) unsubscribe();
}

void OSC_Receiver::onReceive(const char* buffer, int len) {
  if (len <= 0) return;
  std::vector<OSC_Message> messages;
  if (!osc_decode(buffer, static_cast<size_t>(len), &messages)) {
    EM_log(CP_LOG_FINE, "(via OSC): dropped a malformed datagram of %d bytes", len);
    return;
  }
  OSC_Pattern pattern;
  std::lock_guard<std::mutex> guard(m_lock);
  for (const OSC_Message& msg : messages) {
    if (!msg.types) continue;
    if (!pattern.compile(msg.address)) continue;
    for (OSC_Address_Space* space : m_spaces) {
      if (!space->accepts(pattern, msg)) continue;
      space->queue_mesg(msg);
      space->notify();
    }
  }
}

void OSC_Receiver::add_address(OSC_Address_Space* space) {
  if (!space) return;
  OSC_Receiver* previous = space->m_receiver;
  if (previous == this) return;
  if (previous) previous->remove_address(space);
  std::lock_guard<std::mutex> guard(m_lock);
  m_spaces.push_back(space);
  space->m_receiver = this;
}

void OSC_Receiver::remove_address(OSC_Address_Space* space) {
  if (!space) return;
  std::lock_guard<std::mutex> guard(m_lock);
  m_spaces.erase(std::remove(m_spaces.begin(), m_spaces.end(), space), m_spaces.end());
  if (space->m_receiver == this) space->m_receiver = nullptr;
}

OSC_Address_Space* OSC_Receiver::new_event(const char* spec) {
  OSC_Address_Space* space = new OSC_Address_Space;
  space->setSpec(spec);
  add_address(space);
  return space;
}

OSC_Address_Space* OSC_Receiver::new_event(const char* address, const char* types) {
  OSC_Address_Space* space = new OSC_Address_Space;
  space->setSpec(address, types);
  add_address(space);
  return space;
}

size_t OSC_Receiver::space_count() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_spaces.size();
}
