#include "chip/vm/chip_instr_pool.h"

#include <atomic>
#include <new>
#include <thread>

// Under AddressSanitizer every instruction is a heap block of its own, so
// that a use of a deleted one is caught (ThreadSanitizer keeps the lists: it
// checks their lock).
#if defined(__SANITIZE_ADDRESS__)
#define CHIP_INSTR_POOL_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CHIP_INSTR_POOL_HEAP 1
#endif
#endif

#ifdef CHIP_INSTR_POOL_HEAP

void* chip_instr_alloc(size_t size) { return ::operator new(size); }

void chip_instr_free(void* block, size_t size) {
  (void)size;  // clang offers sized deallocation only when asked for it
  ::operator delete(block);
}

#else

namespace {

constexpr size_t granule = 16;
constexpr size_t largest = 256;
constexpr size_t classes = largest / granule;
constexpr size_t chunk_size = 16 * 1024;

struct Free_Block {
  Free_Block* next;
};

struct Pool {
  std::atomic<bool> busy{false};
  Free_Block* lists[classes] = {};
};

Pool pool;

class Pool_Lock {
 public:
  Pool_Lock() {
    while (pool.busy.exchange(true, std::memory_order_acquire)) std::this_thread::yield();
  }
  ~Pool_Lock() { pool.busy.store(false, std::memory_order_release); }
  Pool_Lock(const Pool_Lock&) = delete;
  Pool_Lock& operator=(const Pool_Lock&) = delete;
};

// Cuts a new chunk into blocks of class c and puts them on its list. The
// chunks stay for the life of the process: their blocks circulate.
void refill(size_t c) {
  const size_t block = (c + 1) * granule;
  char* chunk = static_cast<char*>(::operator new(chunk_size));
  Free_Block* head = pool.lists[c];
  for (size_t at = chunk_size - chunk_size % block; at >= block; at -= block) {
    Free_Block* b = reinterpret_cast<Free_Block*>(chunk + at - block);
    b->next = head;
    head = b;
  }
  pool.lists[c] = head;
}

}  // namespace

void* chip_instr_alloc(size_t size) {
  if (size == 0) size = 1;
  if (size > largest) return ::operator new(size);
  const size_t c = (size - 1) / granule;
  Pool_Lock lock;
  if (!pool.lists[c]) refill(c);
  Free_Block* b = pool.lists[c];
  pool.lists[c] = b->next;
  return b;
}

void chip_instr_free(void* block, size_t size) {
  if (!block) return;
  if (size == 0) size = 1;
  if (size > largest) {
    ::operator delete(block, size);
    return;
  }
  const size_t c = (size - 1) / granule;
  Free_Block* b = static_cast<Free_Block*>(block);
  Pool_Lock lock;
  b->next = pool.lists[c];
  pool.lists[c] = b;
}

#endif
