#include "vxu/vxign.h"

#include <cstring>
#include <mutex>

#include "vxu/VXLog.h"

const std::string VXIGN_IPHONE_GENERATION_KEY = "iPhone: g";
const std::string VXIGN_GENERATION_KEY = "G";
const std::string VXIGN_CHIP_READY_KEY = "iPhone: chip ready";
const std::string VXIGN_VIBRATE_KEY = "iPhone: vibrate";
const std::string VXIGN_SWITCH_TO_SPEAKER_KEY = "iPhone: switch to speaker";
const std::string VXIGN_SWITCH_TO_RECEIVER_KEY = "iPhone: to receiver and mic";
const std::string VXIGN_MIC_POWER_KEY = "iPhone: Mic power";

namespace {

// Logs a broken queue contract by its condition.
void broken_contract(const char* condition) { VX_logf("VXign_Queue: %s\n", condition); }

}  // namespace

// ---------------------------------------------------------------------------
// VXign_Queue

VXign_Queue::VXign_Queue(size_t record_width, size_t capacity)
    : m_record_width(record_width), m_waiting(record_width, 0), m_current(record_width, 0) {
  m_buffer.initialize(capacity, record_width);
}

VXign_Queue::~VXign_Queue() = default;

bool VXign_Queue::declare_member(const std::string& name, uint32_t type, size_t offset) {
  if (type != kVXIgnTypeFloat && type != kVXIgnTypeInt) return false;
  if (offset + 4 > m_record_width || offset + 4 < offset) return false;
  if (m_named_data_desc.count(name)) return false;
  VXIgn_Member_Data data{type, offset};
  m_named_data_desc.emplace(name, data);
  m_indexed_data_desc.push_back(data);
  return true;
}

void VXign_Queue::push(const void* record) { m_buffer.put(record, 1); }

bool VXign_Queue::has_more() {
  // The ring can only be looked into by taking from it: a record taken here
  // waits for next().
  if (!m_has_waiting && m_record_width > 0) m_has_waiting = m_buffer.get(m_waiting.data(), 1) != 0;
  return m_has_waiting;
}

void VXign_Queue::next() {
  if (!has_more()) return;
  m_current.swap(m_waiting);
  m_has_waiting = false;
}

double VXign_Queue::float_of(const VXIgn_Member_Data& memberData) const {
  if (memberData.type != kVXIgnTypeFloat) {
    broken_contract("memberData.type == kVXIgnTypeFloat");
    return 0.0;
  }
  float value;
  std::memcpy(&value, m_current.data() + memberData.offset, sizeof value);
  return value;
}

double VXign_Queue::get_float_by_name(const std::string& name) const {
  auto it = m_named_data_desc.find(name);
  return it == m_named_data_desc.end() ? 0.0 : float_of(it->second);
}

double VXign_Queue::get_float_by_param_index(long paramIndex) const {
  if (paramIndex < 0 || static_cast<size_t>(paramIndex) >= m_indexed_data_desc.size()) {
    broken_contract("paramIndex < m_indexed_data_desc.size()");
    return 0.0;
  }
  return float_of(m_indexed_data_desc[static_cast<size_t>(paramIndex)]);
}

int32_t VXign_Queue::get_int(const std::string& name) const {
  auto it = m_named_data_desc.find(name);
  if (it == m_named_data_desc.end()) return 0;
  if (it->second.type != kVXIgnTypeInt) {
    broken_contract("memberData.type == kVXIgnTypeInt");
    return 0;
  }
  int32_t value;
  std::memcpy(&value, m_current.data() + it->second.offset, sizeof value);
  return value;
}

// ---------------------------------------------------------------------------
// Vexel_Integration

Vexel_Integration& Vexel_Integration::instance() {
  static Vexel_Integration store;
  return store;
}

Vexel_Integration::Vexel_Integration() = default;
Vexel_Integration::~Vexel_Integration() = default;

double Vexel_Integration::get_float(const std::string& key) const {
  std::shared_lock<std::shared_mutex> lock(m_lock);
  auto it = m_floats.find(key);
  return it == m_floats.end() ? 0.0 : it->second;
}

int32_t Vexel_Integration::get_int(const std::string& key) const {
  std::shared_lock<std::shared_mutex> lock(m_lock);
  auto it = m_ints.find(key);
  return it == m_ints.end() ? 0 : it->second;
}

bool Vexel_Integration::has_float(const std::string& key) const {
  std::shared_lock<std::shared_mutex> lock(m_lock);
  return m_floats.count(key) != 0;
}

bool Vexel_Integration::has_int(const std::string& key) const {
  std::shared_lock<std::shared_mutex> lock(m_lock);
  return m_ints.count(key) != 0;
}

void Vexel_Integration::clear_values() {
  std::unique_lock<std::shared_mutex> lock(m_lock);
  m_floats.clear();
  m_ints.clear();
}

bool Vexel_Integration::callback_for(const std::map<std::string, VXIgn_Callback>& table,
                                     const std::string& key, VXIgn_Callback* out) const {
  auto it = table.find(key);
  if (it == table.end() || !it->second.func) return false;
  *out = it->second;
  return true;
}

void Vexel_Integration::set_float(const std::string& key, double value) {
  VXIgn_Callback cb{};
  bool notify;
  {
    std::unique_lock<std::shared_mutex> lock(m_lock);
    m_floats[key] = value;
    notify = callback_for(m_set_callbacks, key, &cb);
  }
  if (notify) cb.func(cb.userData, key.c_str());
}

void Vexel_Integration::set_int(const std::string& key, int32_t value) {
  VXIgn_Callback cb{};
  bool notify;
  {
    std::unique_lock<std::shared_mutex> lock(m_lock);
    m_ints[key] = value;
    notify = callback_for(m_set_callbacks, key, &cb);
  }
  if (notify) cb.func(cb.userData, key.c_str());
}

void Vexel_Integration::register_key_callback(const std::string& key, VXIgn_Callback cb) {
  std::unique_lock<std::shared_mutex> lock(m_lock);
  m_key_callbacks[key] = cb;
}

void Vexel_Integration::register_set_callback(const std::string& key, VXIgn_Callback cb) {
  std::unique_lock<std::shared_mutex> lock(m_lock);
  m_set_callbacks[key] = cb;
}

void Vexel_Integration::call_external(const std::string& key) {
  VXIgn_Callback cb{};
  bool found;
  {
    std::shared_lock<std::shared_mutex> lock(m_lock);
    found = callback_for(m_key_callbacks, key, &cb);
  }
  if (found) cb.func(cb.userData, key.c_str());
}

VXign_Queue* Vexel_Integration::lookup_queue(const std::string& name) {
  {
    std::shared_lock<std::shared_mutex> lock(m_lock);
    auto it = m_queues.find(name);
    if (it != m_queues.end()) return it->second;
  }
  std::unique_lock<std::shared_mutex> lock(m_lock);
  return m_queues[name];  // another thread may have added it meanwhile
}

void Vexel_Integration::set_queue(const std::string& name, VXign_Queue* queue) {
  std::unique_lock<std::shared_mutex> lock(m_lock);
  m_queues[name] = queue;
}

bool Vexel_Integration::has_queue_entry(const std::string& name) const {
  std::shared_lock<std::shared_mutex> lock(m_lock);
  return m_queues.count(name) != 0;
}

void Vexel_Integration::add_extra_function(ExtraFunction fn) {
  std::unique_lock<std::shared_mutex> lock(m_lock);
  m_extra_functions.push_back(fn);
}

bool Vexel_Integration::vxign_register_extra_functions(Chip_Env* env) {
  if (vxign_query_called.exchange(true)) {
    VX_logf("%s\n", "vxign.vxign_query_called == false");
    return false;
  }
  std::vector<ExtraFunction> functions;
  {
    std::shared_lock<std::shared_mutex> lock(m_lock);
    functions = m_extra_functions;
  }
  for (ExtraFunction fn : functions) {
    if (!fn(env)) return false;
  }
  return true;
}
