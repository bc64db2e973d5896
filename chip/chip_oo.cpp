// Reference-counted object model: counting, locking, freeing.
#include "chip/chip_oo.h"

#include <cstdio>
#include <cstdlib>
#include <typeinfo>

#include "chip/chip_errmsg.h"
#include "chip/chip_type.h"

void chip_internal_error(c_constr file, int line, c_constr condition) {
  // The process stops at once: the message goes straight to standard error,
  // where it cannot be lost in the log's queue.
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

void Chip_VM_Alloc::free_object(Chip_VM_Object* obj) {
  CHIP_CHECK(obj && obj->m_ref_count == 0);
  if (g_loglevel >= CP_LOG_FINEST) {
    EM_log(CP_LOG_FINEST, "freeing '%s' (0x%lx)...", class_name(obj),
           static_cast<unsigned long>(reinterpret_cast<t_CPUWORD>(obj)));
  }
  delete obj;
}

// ---------------------------------------------------------------------------
// Chip_Object

Chip_Object::Chip_Object() : vtable(nullptr), type_ref(nullptr), size(0), data(nullptr) {
  Chip_VM_Alloc::instance();
  if (g_loglevel >= CP_LOG_ALL) {
    EM_log(CP_LOG_ALL, "adding '%s' (0x%lx)...", "Chip_Object",
           static_cast<unsigned long>(reinterpret_cast<t_CPUWORD>(this)));
  }
}

Chip_Object::~Chip_Object() {
  // The functions belong to the class; only the table is the object's.
  delete vtable;
  vtable = nullptr;
  if (type_ref) {
    type_ref->release();
    type_ref = nullptr;
  }
  if (data) {
    std::free(data);
    data = nullptr;
    size = 0;
  }
}
