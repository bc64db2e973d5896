#include "chip/util/util_buffers.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "chip/util/chip_errmsg.h"

namespace {

// num x width bytes from malloc, or NULL when either is 0, the product does
// not fit in a size_t, or the allocator refuses.
unsigned char* alloc_items(unsigned long num, unsigned long width) {
  if (num == 0 || width == 0 || num > SIZE_MAX / width) return NULL;
  return static_cast<unsigned char*>(std::malloc(static_cast<size_t>(num) * width));
}

// Zero-filled array of num samples, or NULL when the size does not fit in a
// size_t or the allocator refuses. Checked here so that an absurd size is a
// plain failure rather than an overflow inside the allocator.
float* alloc_samples(unsigned long num) {
  if (num > SIZE_MAX / sizeof(float)) return NULL;
  return static_cast<float*>(std::calloc(num, sizeof(float)));
}

// Copies a ring of max samples into out starting at slot start: at most num
// samples in two block copies, the part of out beyond the ring zeroed.
void ring_copy(const float* data, unsigned long max, unsigned long start, float* out,
               unsigned long num) {
  if (num == 0) return;
  unsigned long first = 0;
  unsigned long second = 0;
  if (data && max) {
    first = max - start;
    if (first > num) first = num;
    second = num - first;
    if (second > start) second = start;
    std::memcpy(out, data + start, first * sizeof(float));
    std::memcpy(out + first, data, second * sizeof(float));
  }
  unsigned long done = first + second;
  if (num > done) std::memset(out + done, 0, (num - done) * sizeof(float));
}

// The shared resize of AccumBuffer and DeccumBuffer: the ring's contents,
// read from slot offset on, move to a new array of num samples, and the
// offset returns to 0. name is the class named in the failure message.
unsigned long resize_ring(float*& data, unsigned long& max, unsigned long& offset,
                          unsigned long num, c_constr name) {
  if (num == max) return num;
  float* fresh = NULL;
  if (num) {
    fresh = alloc_samples(num);
    if (!fresh) {
      EM_log(CP_LOG_WARNING, "%s:resize(%ld) failed to allocated...", name,
             static_cast<long>(num));
      std::free(data);
      data = NULL;
      max = 0;
      offset = 0;
      return FALSE;
    }
    ring_copy(data, max, offset, fresh, num);
  }
  std::free(data);
  data = fresh;
  max = num;
  offset = 0;
  return TRUE;
}

}  // namespace

// ---------------------------------------------------------------------------
// CBufferSimple

CBufferSimple::CBufferSimple()
    : m_data(NULL), m_data_width(0), m_read_offset(0), m_write_offset(0), m_max_elem(0) {}

CBufferSimple::~CBufferSimple() { clear(); }

void CBufferSimple::clear() {
  std::free(m_data);
  m_data = NULL;
  m_data_width = 0;
  m_read_offset.store(0);
  m_write_offset.store(0);
  m_max_elem = 0;
}

t_CPBOOL CBufferSimple::initialize(unsigned long num_elem, unsigned long width) {
  clear();

  m_data = alloc_items(num_elem, width);
  if (!m_data) return FALSE;
  m_data_width = width;
  m_max_elem = num_elem;
  return TRUE;
}

void CBufferSimple::put(const void* data, unsigned long num_elem) {
  if (!m_data) return;
  const unsigned char* src = static_cast<const unsigned char*>(data);
  // Only this thread writes the write offset, so a relaxed load is enough.
  unsigned long w = m_write_offset.load(std::memory_order_relaxed);
  for (unsigned long i = 0; i < num_elem; i++) {
    std::memcpy(m_data + w * m_data_width, src + i * m_data_width, m_data_width);
    if (++w >= m_max_elem) w = 0;
    // Publish the slot only after its bytes are in place.
    m_write_offset.store(w, std::memory_order_release);
  }
}

unsigned long CBufferSimple::get(void* data, unsigned long num_elem) {
  unsigned long r = m_read_offset.load(std::memory_order_relaxed);
  unsigned long w = m_write_offset.load(std::memory_order_acquire);
  if (r == w) return 0;

  unsigned char* dst = static_cast<unsigned char*>(data);
  for (unsigned long i = 0; i < num_elem; i++) {
    std::memcpy(dst + i * m_data_width, m_data + r * m_data_width, m_data_width);
    if (++r >= m_max_elem) r = 0;
    if (r == w) {
      // Caught up with what was seen on entry: look again for items the
      // writer has added since.
      w = m_write_offset.load(std::memory_order_acquire);
      if (r == w) break;
    }
  }
  m_read_offset.store(r, std::memory_order_release);
  return 1;
}

// ---------------------------------------------------------------------------
// CBufferAdvance

CBufferAdvance::CBufferAdvance()
    : m_data(NULL), m_data_width(0), m_write_offset(0), m_max_elem(0) {}

CBufferAdvance::~CBufferAdvance() {
  std::free(m_data);
  m_data = NULL;
}

t_CPBOOL CBufferAdvance::initialize(unsigned long num_elem, unsigned long width) {
  m_mutex.acquire();
  std::free(m_data);
  m_data = alloc_items(num_elem, width);
  m_data_width = m_data ? width : 0;
  m_max_elem = m_data ? num_elem : 0;
  m_write_offset = 0;
  // Old positions would point into the freed storage (or past the new one);
  // the new ring is empty, so every active reader is simply caught up.
  for (ReadOffset& reader : m_read_offsets) {
    if (reader.read_offset >= 0) reader.read_offset = 0;
  }
  t_CPBOOL ok = m_data ? TRUE : FALSE;
  m_mutex.release();
  return ok;
}

unsigned long CBufferAdvance::join(Chip_Event* event) {
  m_mutex.acquire();
  ReadOffset reader(static_cast<long>(m_write_offset), event);
  unsigned long index;
  if (!m_free.empty()) {
    index = m_free.front();
    m_free.pop();
    m_read_offsets[index] = reader;
  } else {
    index = m_read_offsets.size();
    m_read_offsets.push_back(reader);
  }
  m_mutex.release();
  return index;
}

void CBufferAdvance::resign(unsigned long index) {
  m_mutex.acquire();
  if (index < m_read_offsets.size() && m_read_offsets[index].read_offset >= 0) {
    m_read_offsets[index] = ReadOffset(-1, NULL);
    m_free.push(index);
  }
  m_mutex.release();
}

void CBufferAdvance::put(const void* data, unsigned long num_elem) {
  m_mutex.acquire();
  if (m_data) {
    const unsigned char* src = static_cast<const unsigned char*>(data);
    for (unsigned long i = 0; i < num_elem; i++) {
      std::memcpy(m_data + m_write_offset * m_data_width, src + i * m_data_width,
                  m_data_width);
      if (++m_write_offset >= m_max_elem) m_write_offset = 0;
    }
    // Readers that joined with an event are not signalled here yet: waking
    // them belongs to the event class, which hooks in at this point.
  }
  m_mutex.release();
}

unsigned long CBufferAdvance::get(void* data, unsigned long num_elem, unsigned long index) {
  m_mutex.acquire();
  if (index >= m_read_offsets.size() || m_read_offsets[index].read_offset < 0) {
    m_mutex.release();
    return 0;
  }
  unsigned char* dst = static_cast<unsigned char*>(data);
  unsigned long r = static_cast<unsigned long>(m_read_offsets[index].read_offset);
  unsigned long count = 0;
  while (count < num_elem && r != m_write_offset) {
    std::memcpy(dst + count * m_data_width, m_data + r * m_data_width, m_data_width);
    if (++r >= m_max_elem) r = 0;
    count++;
  }
  m_read_offsets[index].read_offset = static_cast<long>(r);
  m_mutex.release();
  return count;
}

t_CPBOOL CBufferAdvance::empty(unsigned long index) {
  // Under the mutex: join may grow the reader table at the same time.
  m_mutex.acquire();
  t_CPBOOL result = index >= m_read_offsets.size() ||
                            m_read_offsets[index].read_offset < 0 ||
                            static_cast<unsigned long>(m_read_offsets[index].read_offset) ==
                                m_write_offset
                        ? TRUE
                        : FALSE;
  m_mutex.release();
  return result;
}

// ---------------------------------------------------------------------------
// AccumBuffer

AccumBuffer::AccumBuffer() : m_data(NULL), m_write_offset(0), m_max_elem(0) {}

AccumBuffer::~AccumBuffer() { std::free(m_data); }

unsigned long AccumBuffer::resize(unsigned long num_elem) {
  return resize_ring(m_data, m_max_elem, m_write_offset, num_elem, "AccumBuffer");
}

void AccumBuffer::put(float sample) {
  if (!m_data) return;
  m_data[m_write_offset] = sample;
  if (++m_write_offset >= m_max_elem) m_write_offset = 0;
}

void AccumBuffer::get(float* buffer, unsigned long num_elem) {
  ring_copy(m_data, m_max_elem, m_write_offset, buffer, num_elem);
}

// ---------------------------------------------------------------------------
// DeccumBuffer

DeccumBuffer::DeccumBuffer() : m_data(NULL), m_read_offset(0), m_max_elem(0) {}

DeccumBuffer::~DeccumBuffer() { std::free(m_data); }

unsigned long DeccumBuffer::resize(unsigned long num_elem) {
  return resize_ring(m_data, m_max_elem, m_read_offset, num_elem, "DeccumBuffer");
}

void DeccumBuffer::put(const float* frame, unsigned long num_elem) {
  unsigned long n = num_elem;
  if (n > m_max_elem) {
    EM_log(CP_LOG_WARNING, "(IFFT): discarding data during OLA synthesis...");
    n = m_max_elem;
  }
  unsigned long slot = m_read_offset;
  for (unsigned long i = 0; i < n; i++) {
    m_data[slot] += frame[i];
    if (++slot >= m_max_elem) slot = 0;
  }
}

void DeccumBuffer::get(float* out) {
  if (!m_data) {
    *out = 0.0f;
    return;
  }
  *out = m_data[m_read_offset];
  m_data[m_read_offset] = 0.0f;
  if (++m_read_offset >= m_max_elem) m_read_offset = 0;
}

void DeccumBuffer::get(float* buffer, unsigned long num_elem) {
  ring_copy(m_data, m_max_elem, m_read_offset, buffer, num_elem);
}
