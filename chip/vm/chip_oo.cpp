// Reference-counted object model: counting, locking, freeing; arrays,
// strings and events.
#include "chip/vm/chip_oo.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <typeinfo>

#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/chip_vm.h"

void chip_internal_error(c_constr file, int line, c_constr condition) {
  // Everything printed before the fault is still in the log's queue: it is
  // written out first, so that the lines leading up to the fault are not
  // lost. A fault met while flushing (or on a second thread meanwhile) skips
  // the flush. The message itself goes straight to standard error.
  static std::atomic<bool> reported{false};
  if (!reported.exchange(true)) EM_flush();
  std::fprintf(stderr, "[chip]: internal error: %s:%d: assertion '%s' failed\n", file, line,
               condition);
  std::abort();
}

t_CPUWORD Chip_VM_Object::our_locks_in_effect = TRUE;
Chip_VM_Alloc* Chip_VM_Alloc::our_instance = nullptr;

namespace {

// The class name of an object for the allocation log lines.
c_constr class_name(const Chip_VM_Object* obj) { return mini_type(typeid(*obj).name()); }

}  // namespace

// ---------------------------------------------------------------------------
// Chip_VM_Object

Chip_VM_Object::Chip_VM_Object() { init_ref(); }

Chip_VM_Object::~Chip_VM_Object() = default;

void Chip_VM_Object::init_ref() {
  m_ref_count = 0;
  m_locked = FALSE;
  registry = nullptr;
}

void Chip_VM_Object::add_ref() {
  m_ref_count++;
  if (m_ref_count == 1) {
    Chip_VM_Alloc::instance();
    // The name is worked out only when the line will print.
    if (g_loglevel >= CP_LOG_ALL) {
      EM_log(CP_LOG_ALL, "adding '%s' (0x%lx)...", class_name(this),
             static_cast<unsigned long>(reinterpret_cast<t_CPUWORD>(this)));
    }
  }
}

void Chip_VM_Object::release() {
  CHIP_CHECK(m_ref_count > 0);
  m_ref_count--;
  if (m_ref_count > 0) return;
  if (our_locks_in_effect && m_locked) {
    EM_error2(0, "internal error: releasing locked VM object!");
    std::fprintf(stderr, "%s\n", g_lasterror);
    CHIP_CHECK(!(our_locks_in_effect && m_locked));
  }
  // A record of a compilation context is freed by its context.
  if (registry) return;
  Chip_VM_Alloc::instance()->free_object(this);
}

void Chip_VM_Object::lock() { m_locked = TRUE; }

void Chip_VM_Object::lock_all() {
  EM_log(CP_LOG_SYSTEM, "locking down special objects...");
  our_locks_in_effect = TRUE;
}

void Chip_VM_Object::unlock_all() {
  EM_log(CP_LOG_SYSTEM, "unprotecting special objects...");
  our_locks_in_effect = FALSE;
}

// ---------------------------------------------------------------------------
// Chip_VM_Alloc

Chip_VM_Alloc* Chip_VM_Alloc::instance() {
  if (!our_instance) {
    // Process-wide, never freed.
    static Chip_VM_Alloc the_alloc;
    our_instance = &the_alloc;
    CHIP_CHECK(our_instance != NULL);
  }
  return our_instance;
}

namespace {

// The objects let go of while an object is being freed on this thread,
// oldest first, linked through m_next_free; freeing is under way while
// t_freeing is set.
thread_local bool t_freeing = false;
thread_local Chip_VM_Object* t_queue_head = nullptr;
thread_local Chip_VM_Object* t_queue_tail = nullptr;

// Runs the destructors of one object whose count reached 0.
void destroy(Chip_VM_Object* obj) {
  if (Chip_Object* object = obj->as_object()) {
    // The destructors may take and drop references to the object (an event
    // leaving a queue, say): a count of 1 while they run keeps such a pair
    // from freeing it a second time.
    object->m_ref_count = 1;
    chip_run_native_dtors(object);
    object->m_ref_count = 0;
  }
  delete obj;
}

}  // namespace

void Chip_VM_Alloc::free_object(Chip_VM_Object* obj) {
  CHIP_CHECK(obj && obj->m_ref_count == 0);
  if (g_loglevel >= CP_LOG_FINEST) {
    EM_log(CP_LOG_FINEST, "freeing '%s' (0x%lx)...", class_name(obj),
           static_cast<unsigned long>(reinterpret_cast<t_CPUWORD>(obj)));
  }
  if (t_freeing) {
    // Freed by the outermost free_object, once the destructors running now
    // have returned.
    obj->m_next_free = nullptr;
    if (t_queue_tail) {
      t_queue_tail->m_next_free = obj;
    } else {
      t_queue_head = obj;
    }
    t_queue_tail = obj;
    return;
  }
  t_freeing = true;
  destroy(obj);
  while (t_queue_head) {
    Chip_VM_Object* next = t_queue_head;
    t_queue_head = next->m_next_free;
    if (!t_queue_head) t_queue_tail = nullptr;
    destroy(next);
  }
  t_freeing = false;
}

void chip_run_native_dtors(Chip_Object* obj) {
  CHIP_CHECK(obj != NULL);
  if (!obj->type_ref || !obj->type_ref->info) return;
  for (Chip_Type* t = obj->type_ref; t; t = t->parent) {
    Chip_VM_Code* code = t->info ? t->info->dtor : nullptr;
    if (!code || !code->native_func) continue;
    if (code->native_func_type != Chip_VM_Code::NATIVE_DTOR) continue;
    // A class sharing a destructor with a more derived one (a copy of a
    // type, say) does not run it again.
    bool ran = false;
    for (Chip_Type* d = obj->type_ref; d != t; d = d->parent) {
      if (d->info && d->info->dtor && d->info->dtor->native_func == code->native_func) {
        ran = true;
        break;
      }
    }
    if (ran) continue;
    chip_dl_call_dtor(reinterpret_cast<f_dtor>(code->native_func), obj, nullptr);
  }
}

// ---------------------------------------------------------------------------
// Chip_Object

Chip_Object::Chip_Object()
    : vtable(nullptr), owns_vtable(TRUE), type_ref(nullptr), size(0), data(nullptr) {
  Chip_VM_Alloc::instance();
  if (g_loglevel >= CP_LOG_ALL) {
    EM_log(CP_LOG_ALL, "adding '%s' (0x%lx)...", "Chip_Object",
           static_cast<unsigned long>(reinterpret_cast<t_CPUWORD>(this)));
  }
}

void chip_release_slot(void* addr) {
  Chip_VM_Object* object = nullptr;
  std::memcpy(&object, addr, sizeof object);
  if (!object) return;
  std::memset(addr, 0, sizeof object);
  object->release();
}

Chip_Object::~Chip_Object() {
  // The object members of its script classes let go of their objects.
  for (Chip_Type* t = type_ref; t && data; t = t->parent) {
    if (!t->info) continue;
    for (unsigned long offset : t->info->obj_members) {
      if (offset + sizeof(t_CPWORD) <= size) chip_release_slot(data + offset);
    }
  }
  // The table is the class's, unless one was given to this object alone.
  if (owns_vtable) delete vtable;
  vtable = nullptr;
  // The type's keeper goes last: the type and its class may go with it.
  Chip_VM_Object* keeper = nullptr;
  if (type_ref) {
    keeper = type_ref->keeper;
    type_ref->release();
    type_ref = nullptr;
  }
  if (data) {
    if (data != inline_data) std::free(data);
    data = nullptr;
    size = 0;
  }
  if (keeper) keeper->release();
}

// ---------------------------------------------------------------------------
// Arrays

t_CPWORD chip_array_kind(Chip_Type* elem_type) {
  CHIP_CHECK(elem_type != NULL);
  // Every object type (arrays included) is a word: a reference.
  if (isobj(elem_type)) return CHIP_ARRAY_KIND_WORD;
  if (isa(elem_type, &t_complex) || isa(elem_type, &t_polar)) return CHIP_ARRAY_KIND_COMPLEX;
  if (isa(elem_type, &t_float) || isa(elem_type, &t_time) || isa(elem_type, &t_dur)) {
    return CHIP_ARRAY_KIND_FLOAT;
  }
  return CHIP_ARRAY_KIND_WORD;
}

Chip_Array::~Chip_Array() = default;

namespace {

// Whether index i addresses an element of a vector of the given size.
inline bool in_range(t_CPWORD i, size_t size) {
  return i >= 0 && static_cast<size_t>(i) < size;
}

}  // namespace

// ---------------------------------------------------------------------------
// Chip_ArrayOf

template <typename T>
Chip_ArrayOf<T>::Chip_ArrayOf(t_CPWORD capacity) {
  CHIP_CHECK(capacity >= 0);
  // No hooks run here (nor in the destructor): a subclass is not yet (or no
  // longer) there to answer them.
  m_vector.resize(static_cast<size_t>(capacity), T{});
}

template <typename T>
Chip_ArrayOf<T>::~Chip_ArrayOf() = default;

template <typename T>
T* Chip_ArrayOf<T>::addr(t_CPWORD i) {
  return in_range(i, m_vector.size()) ? &m_vector[static_cast<size_t>(i)] : nullptr;
}

template <typename T>
T* Chip_ArrayOf<T>::addr(const std::string& key) {
  // operator[] inserts a value-initialised (zero) entry for a missing key.
  return &m_map[key];
}

template <typename T>
t_CPINT Chip_ArrayOf<T>::get(t_CPWORD i, T* val) {
  T* slot = addr(i);
  if (!slot) return 0;
  *val = *slot;
  return 1;
}

template <typename T>
t_CPINT Chip_ArrayOf<T>::get(const std::string& key, T* val) {
  auto found = m_map.find(key);
  *val = found == m_map.end() ? T{} : found->second;
  return 1;
}

template <typename T>
t_CPINT Chip_ArrayOf<T>::set(t_CPWORD i, T val) {
  T* slot = addr(i);
  if (!slot) return 0;
  hold(val);
  T old = *slot;
  *slot = val;
  let_go(old);
  return 1;
}

template <typename T>
t_CPINT Chip_ArrayOf<T>::push_back(T val) {
  m_vector.push_back(val);
  return 1;
}

template <typename T>
t_CPINT Chip_ArrayOf<T>::pop_back() {
  if (m_vector.empty()) return 0;
  T last = m_vector.back();
  m_vector.pop_back();
  let_go(last);
  return 1;
}

template <typename T>
void Chip_ArrayOf<T>::zero(t_CPUWORD start, t_CPUWORD end) {
  CHIP_CHECK(start <= m_vector.size() && end <= m_vector.size());
  for (t_CPUWORD i = start; i < end; i++) {
    T old = m_vector[i];
    m_vector[i] = T{};
    let_go(old);
  }
}

template <typename T>
t_CPWORD Chip_ArrayOf<T>::size() {
  return static_cast<t_CPWORD>(m_vector.size());
}

template <typename T>
t_CPWORD Chip_ArrayOf<T>::capacity() {
  return static_cast<t_CPWORD>(m_vector.capacity());
}

template <typename T>
t_CPWORD Chip_ArrayOf<T>::set_size(t_CPWORD new_size) {
  CHIP_CHECK(new_size >= 0);
  size_t old_size = m_vector.size();
  // Dropped elements are let go of first; new ones are zero.
  if (static_cast<size_t>(new_size) < old_size) zero(static_cast<t_CPUWORD>(new_size), old_size);
  m_vector.resize(static_cast<size_t>(new_size), T{});
  return new_size;
}

template <typename T>
t_CPWORD Chip_ArrayOf<T>::set_capacity(t_CPWORD new_capacity) {
  CHIP_CHECK(new_capacity >= 0);
  set_size(new_capacity);
  return capacity();
}

template <typename T>
t_CPWORD Chip_ArrayOf<T>::find(const std::string& key) {
  return m_map.count(key) ? 1 : 0;
}

template <typename T>
t_CPWORD Chip_ArrayOf<T>::erase(const std::string& key) {
  auto found = m_map.find(key);
  if (found == m_map.end()) return 0;
  T old = found->second;
  m_map.erase(found);
  let_go(old);
  return 1;
}

template <typename T>
void Chip_ArrayOf<T>::clear() {
  zero(0, m_vector.size());
}

template struct Chip_ArrayOf<t_CPUWORD>;
template struct Chip_ArrayOf<t_CPFLOAT>;
template struct Chip_ArrayOf<t_CPCOMPLEX>;

// ---------------------------------------------------------------------------
// Chip_Array4

Chip_Array4::Chip_Array4(t_CPBOOL is_obj, t_CPWORD capacity)
    : Chip_ArrayOf<t_CPUWORD>(capacity), m_is_obj(is_obj ? TRUE : FALSE) {}

Chip_Array4::~Chip_Array4() {
  if (!m_is_obj) return;
  // The elements are the array's references; take the containers apart
  // first, so an element's destructor never finds a half-released array.
  std::vector<t_CPUWORD> elements;
  elements.swap(m_vector);
  std::map<std::string, t_CPUWORD> entries;
  entries.swap(m_map);
  for (t_CPUWORD word : elements) let_go(word);
  for (auto& entry : entries) let_go(entry.second);
}

t_CPWORD Chip_Array4::data_type_size() { return CHIP_ARRAY_KIND_WORD; }

void Chip_Array4::hold(t_CPUWORD word) {
  if (m_is_obj && word) reinterpret_cast<Chip_VM_Object*>(word)->add_ref();
}

void Chip_Array4::let_go(t_CPUWORD word) {
  if (m_is_obj && word) reinterpret_cast<Chip_VM_Object*>(word)->release();
}

// ---------------------------------------------------------------------------
// Chip_Array8, Chip_Array16

Chip_Array8::Chip_Array8(t_CPWORD capacity) : Chip_ArrayOf<t_CPFLOAT>(capacity) {}

Chip_Array8::~Chip_Array8() = default;

t_CPWORD Chip_Array8::data_type_size() { return CHIP_ARRAY_KIND_FLOAT; }

Chip_Array16::Chip_Array16(t_CPWORD capacity) : Chip_ArrayOf<t_CPCOMPLEX>(capacity) {}

Chip_Array16::~Chip_Array16() = default;

t_CPWORD Chip_Array16::data_type_size() { return CHIP_ARRAY_KIND_COMPLEX; }

// ---------------------------------------------------------------------------
// Chip_String

Chip_String::Chip_String(const std::string& s) : str(s) {}

Chip_String::~Chip_String() = default;

// ---------------------------------------------------------------------------
// Chip_Event

// No Event class registered yet: every event lets its shreds wait.
t_CPWORD Chip_Event::our_can_wait = -1;

Chip_Event::Chip_Event() : m_queued(0), m_pinned(FALSE) {}

Chip_Event::~Chip_Event() = default;

namespace {

// Pushes a time on a shred's register stack: the value of the shred's
// pending chip expression.
void push_time(Chip_VM_Shred* shred, t_CPTIME value) {
  std::memcpy(shred->reg->sp, &value, sizeof value);
  shred->reg->sp += sizeof value;
}

}  // namespace

t_CPBOOL Chip_Event::can_wait(Chip_VM_Shred* shred) {
  // Before the Event class is registered (or for an object without a table)
  // there is no can_wait() to ask: the shred waits.
  if (our_can_wait < 0 || !vtable) return TRUE;
  if (static_cast<size_t>(our_can_wait) >= vtable->funcs.size()) return TRUE;
  Chip_Func* func = vtable->funcs[static_cast<size_t>(our_can_wait)];
  if (!func || !func->code || !func->code->native_func) return TRUE;
  f_mfun native = reinterpret_cast<f_mfun>(func->code->native_func);
  Chip_DL_Return result;
  result.v_int = 0;
  native(this, nullptr, &result, shred);
  return result.v_int != 0;
}

void Chip_Event::wait(Chip_VM_Shred* shred, Chip_VM* vm) {
  EM_log(CP_LOG_FINE, "shred '%d' wait on event '%x'...", shred->id,
         static_cast<unsigned>(reinterpret_cast<t_CPUWORD>(this)));
  CHIP_CHECK(shred->vm_ref == vm);

  if (!can_wait(shred)) {
    // The chip completes at once, with the shred's now as its value.
    push_time(shred, shred->now);
    return;
  }

  CHIP_CHECK(shred->event == NULL);
  // Both entries may need memory: the blocked map's first, taken back when
  // the queue's cannot be made, so that a shred running out of memory here
  // is left waiting in neither.
  Chip_VM_Shreduler* shreduler = vm->shreduler();
  shreduler->add_blocked(shred);
  m_queue_lock.acquire();
  try {
    m_queue.push_back(shred);
  } catch (...) {
    m_queue_lock.release();
    shreduler->remove_blocked(shred);
    throw;
  }
  m_queue_lock.release();
  shred->is_running = FALSE;
  shred->event = this;
  // The waiter's reference: the event outlives every shred waiting on it.
  add_ref();
}

void Chip_Event::signal() {
  m_queue_lock.acquire();
  if (m_queue.empty()) {
    m_queue_lock.release();
    return;
  }
  Chip_VM_Shred* shred = m_queue.front();
  m_queue.pop_front();
  m_queue_lock.release();

  Chip_VM_Shreduler* shreduler = shred->vm_ref->shreduler();
  // Cleared first: remove_blocked would otherwise look for the shred in
  // this event's queue again.
  shred->event = nullptr;
  shreduler->remove_blocked(shred);
  shreduler->shredule(shred);
  push_time(shred, shreduler->now);
  // May free the event: nothing touches it afterwards.
  release_waiter_ref();
}

void Chip_Event::broadcast() {
  if (num_waiting() == 0) return;
  // The waiters' references (so the count is at least 1 here) may be the
  // last ones: hold one of our own until the loop is done.
  add_ref();
  for (;;) {
    m_queue_lock.acquire();
    bool empty = m_queue.empty();
    m_queue_lock.release();
    if (empty) break;
    signal();
  }
  release();
}

t_CPBOOL Chip_Event::remove(Chip_VM_Shred* shred) {
  // In place, keeping the others' order: nothing to allocate (a shred
  // leaves its event when it is freed, memory short or not).
  m_queue_lock.acquire();
  auto kept_end = std::remove(m_queue.begin(), m_queue.end(), shred);
  size_t dropped = static_cast<size_t>(m_queue.end() - kept_end);
  m_queue.erase(kept_end, m_queue.end());
  m_queue_lock.release();
  if (!dropped) return FALSE;
  shred->event = nullptr;
  // One reference per entry (a shred waits at most once, but every entry
  // dropped is one reference taken); the last release may free the event.
  while (dropped-- > 0) release_waiter_ref();
  return TRUE;
}

void Chip_Event::queue_broadcast() {
  m_queue_lock.acquire();
  if (m_queue.empty()) {
    // Nobody waits: the broadcast is lost, now and later.
    m_queue_lock.release();
    return;
  }
  if (m_queued > 0) {
    // One is pending already: its delivery wakes every shred waiting then,
    // so a flood of requests takes one slot of the machine's queue, never
    // more (the queue has no full state and would be lapped).
    m_queue_lock.release();
    return;
  }
  // Read under the lock: the machine takes a shred off the queue (under the
  // lock) before it can free it.
  Chip_VM* vm = m_queue.front()->vm_ref;
  m_queued++;
  m_queue_lock.release();
  vm->queue_event(this, 1);
}

void Chip_Event::deliver_queued_broadcast() {
  m_queue_lock.acquire();
  CHIP_CHECK(m_queued > 0);
  m_queued--;
  bool last = m_queued == 0;
  m_queue_lock.release();
  broadcast();
  if (last && m_pinned) {
    m_pinned = FALSE;
    // May free the event.
    release();
  }
}

size_t Chip_Event::num_waiting() {
  m_queue_lock.acquire();
  size_t count = m_queue.size();
  m_queue_lock.release();
  return count;
}

void Chip_Event::release_waiter_ref() {
  m_queue_lock.acquire();
  bool keep = m_queued > 0 && !m_pinned;
  m_queue_lock.release();
  if (keep) {
    // A broadcast is queued for this event: its pointer sits in the
    // machine's queue, so the event stays until the delivery.
    m_pinned = TRUE;
    return;
  }
  release();
}
