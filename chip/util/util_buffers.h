// Ring buffers that carry data between threads and between analysis stages.
//
// CBufferSimple moves fixed-width items (in practice pointers) from one
// thread to another without a lock: the machine's message, reply and event
// queues are built on it. It has no full state: a writer that laps the
// reader overwrites unread items, so a queue must be sized for its traffic.
// The two offsets are atomics: the writer publishes its offset with release
// order after copying an item, and the reader loads it with acquire order
// before copying, so an item's bytes are visible before its slot is.
//
// CBufferAdvance is a ring with several independent readers under a mutex,
// fed by the device-input layer. Each reader joins at the current write
// position and sees only what is written after it joined.
//
// AccumBuffer keeps the most recent samples as an analysis window;
// DeccumBuffer accumulates overlapping output frames (overlap-add) and hands
// them out sample by sample. Both are used on the audio thread only.
//
// Storage comes from malloc/free. A buffer without storage (never
// initialised, or after a failed allocation) is safe to use: writes are
// dropped and reads find nothing (or zeros).
#ifndef CHIP_UTIL_BUFFERS_H
#define CHIP_UTIL_BUFFERS_H

#include <atomic>
#include <queue>
#include <vector>

#include "chip/util/chip_def.h"
#include "chip/util/util_thread.h"

class Chip_Event;

// Single-writer, single-reader ring of fixed-width items, without a lock.
class CBufferSimple {
 public:
  CBufferSimple();
  ~CBufferSimple();
  CBufferSimple(const CBufferSimple&) = delete;
  CBufferSimple& operator=(const CBufferSimple&) = delete;

  // Drops any previous storage and allocates num_elem items of width bytes,
  // both offsets at 0. FALSE (and no storage) when the allocation fails or
  // either size is 0. Not to be called while other threads use the ring.
  t_CPBOOL initialize(unsigned long num_elem, unsigned long width);

  // Writer side: copies num_elem items from data into the ring. Never looks
  // at the reader: items that have not been read yet may be overwritten.
  void put(const void* data, unsigned long num_elem);

  // Reader side: 0 when the ring is empty; otherwise copies up to num_elem
  // items into data (fewer if the ring runs dry) and returns 1 (not a count).
  unsigned long get(void* data, unsigned long num_elem);

 protected:
  // Frees the storage and zeroes every field.
  void clear();

  unsigned char* m_data;
  unsigned long m_data_width;
  std::atomic<unsigned long> m_read_offset;
  std::atomic<unsigned long> m_write_offset;
  unsigned long m_max_elem;
};

// Ring of fixed-width items with several independent readers, under a mutex.
class CBufferAdvance {
 public:
  // One reader: its position (negative when the slot is free) and the event
  // to signal when data arrives (may be NULL).
  struct ReadOffset {
    long read_offset;
    Chip_Event* event;
    ReadOffset(long ro, Chip_Event* e = NULL) : read_offset(ro), event(e) {}
  };

  CBufferAdvance();
  ~CBufferAdvance();
  CBufferAdvance(const CBufferAdvance&) = delete;
  CBufferAdvance& operator=(const CBufferAdvance&) = delete;

  // As CBufferSimple::initialize. Readers keep their slots and events; the
  // new storage holds nothing, so every active reader is placed at the
  // write position.
  t_CPBOOL initialize(unsigned long num_elem, unsigned long width);

  // Registers a reader at the current write position and returns its index;
  // a slot given up with resign is reused first.
  unsigned long join(Chip_Event* event = NULL);

  // Gives up a reader's slot; an index past the table or an inactive reader
  // is ignored.
  void resign(unsigned long index);

  // Writer side (device input): copies num_elem items into the ring,
  // overwriting what readers have not read yet.
  void put(const void* data, unsigned long num_elem);

  // Copies up to num_elem items for reader index and returns how many were
  // copied; 0 for an index past the table or an inactive reader.
  unsigned long get(void* data, unsigned long num_elem, unsigned long index);

  // TRUE for an index past the table, an inactive reader, or a reader that
  // has read everything.
  t_CPBOOL empty(unsigned long index);

 protected:
  unsigned char* m_data;
  unsigned long m_data_width;
  std::vector<ReadOffset> m_read_offsets;
  std::queue<unsigned long> m_free;
  unsigned long m_write_offset;
  unsigned long m_max_elem;
  XMutex m_mutex;
};

// The most recent samples, as an analysis window.
class AccumBuffer {
 public:
  AccumBuffer();
  ~AccumBuffer();
  AccumBuffer(const AccumBuffer&) = delete;
  AccumBuffer& operator=(const AccumBuffer&) = delete;

  // The same size returns num_elem at once. Otherwise the contents move,
  // oldest first (cut or zero-padded), to a new array of num_elem samples
  // and the write position returns to 0: TRUE. On allocation failure the
  // old storage is dropped too, the failure is logged: FALSE.
  unsigned long resize(unsigned long num_elem);

  // Stores a sample over the oldest one.
  void put(float sample);

  // Copies the contents oldest first into buffer, at most num_elem samples;
  // the part of buffer past the capacity is set to 0.
  void get(float* buffer, unsigned long num_elem);

 protected:
  float* m_data;
  unsigned long m_write_offset;
  unsigned long m_max_elem;
};

// Overlap-add of output frames, handed out one sample at a time.
class DeccumBuffer {
 public:
  DeccumBuffer();
  ~DeccumBuffer();
  DeccumBuffer(const DeccumBuffer&) = delete;
  DeccumBuffer& operator=(const DeccumBuffer&) = delete;

  // As AccumBuffer::resize; the read position returns to 0.
  unsigned long resize(unsigned long num_elem);

  // Adds frame into the ring from the read position on, at most a capacity's
  // worth; the excess is dropped with a warning. The read position stays.
  void put(const float* frame, unsigned long num_elem);

  // Takes the sample at the read position into *out, clears its slot and
  // moves on. Without storage *out is 0.
  void get(float* out);

  // Copies the contents from the read position on into buffer, at most
  // num_elem samples; the part past the capacity is set to 0. Nothing moves.
  void get(float* buffer, unsigned long num_elem);

 protected:
  float* m_data;
  unsigned long m_read_offset;
  unsigned long m_max_elem;
};

#endif
