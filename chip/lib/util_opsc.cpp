// Open Sound Control: address spaces and the receiver that delivers to them.
#include "chip/lib/util_opsc.h"

#include <algorithm>
#include <cstring>

#include "chip/lib/util_opsc_wire.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_oo.h"

using namespace osc_wire;

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
