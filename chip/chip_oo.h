// Reference-counted object model.
//
// Every object the engine shares between its parts derives from
// Chip_VM_Object: the language's run-time objects (Chip_Object and, later,
// arrays, strings, events, shreds, unit generators) and the compiler's records
// (types, values, functions, namespaces, contexts). An object starts with a
// count of 0; the first holder's add_ref makes it 1 and the release that
// brings it back to 0 hands it to the allocator, which deletes it.
//
// Two exceptions keep shared objects alive:
//   - a locked object (lock()) must never reach 0 while locks are in effect;
//     doing so is an engine fault and stops the process;
//   - an object registered by a compilation context (`registry` set) belongs
//     to that context: reaching 0 does not free it, the context deletes its
//     records itself when it is torn down. The compiler's records point at one
//     another in cycles (a class's namespace holds members of the class's own
//     type), which counting alone could never free, and some pointers between
//     them are not counted at all.
//
// Counts are plain words: objects are referenced on one thread at a time.
//
// Engine faults (impossible states) go through CHIP_CHECK, which names the
// source file and the failed condition and aborts.
#ifndef CHIP_CHIP_OO_H
#define CHIP_CHIP_OO_H

#include <vector>

#include "chip/chip_def.h"

struct Chip_Func;
struct Chip_Type;

// Reports a failed internal-error check ("file:line: condition") through the
// error channel and aborts.
[[noreturn]] void chip_internal_error(c_constr file, int line, c_constr condition);

// Stops the engine when an internal invariant does not hold.
#define CHIP_CHECK(cond) ((cond) ? (void)0 : chip_internal_error(__FILE__, __LINE__, #cond))

// ---------------------------------------------------------------------------
// The counted base of every shared object.
struct Chip_VM_Object {
  Chip_VM_Object();
  virtual ~Chip_VM_Object();

  Chip_VM_Object(const Chip_VM_Object&) = delete;
  Chip_VM_Object& operator=(const Chip_VM_Object&) = delete;

  // Zeroes the count, the lock flag and the registry.
  void init_ref();
  // One more holder; the first one announces the object to the allocator.
  void add_ref();
  // One holder less; at 0 the object is freed (see the design note above).
  void release();
  // Protects the object for the whole run.
  void lock();

  // Switch the protection of locked objects on (VM start) and off (shutdown).
  static void lock_all();
  static void unlock_all();

  t_CPUWORD m_ref_count;
  t_CPUWORD m_locked;
  // The vector of the compilation context that created this object, if any.
  std::vector<Chip_VM_Object*>* registry;

  static t_CPUWORD our_locks_in_effect;
};

// ---------------------------------------------------------------------------
// The allocator: logs new objects and frees those whose count reached 0.
struct Chip_VM_Alloc {
  static Chip_VM_Alloc* instance();
  // Deletes obj, whose count must be 0.
  void free_object(Chip_VM_Object* obj);

 private:
  Chip_VM_Alloc() = default;
  static Chip_VM_Alloc* our_instance;
};

// ---------------------------------------------------------------------------
// The member functions of a class in slot order (a class's obj_v_table, and
// each object's own copy).
struct Chip_VTable {
  std::vector<Chip_Func*> funcs;
};

// Every value a script can hold a reference to.
struct Chip_Object : Chip_VM_Object {
  Chip_Object();
  ~Chip_Object() override;

  Chip_VTable* vtable;  // owned copy of the class's virtual table, or null
  Chip_Type* type_ref;  // the object's type, referenced
  t_CPUWORD size;       // bytes of data
  unsigned char* data;  // member variables, owned (calloc'd, freed with free)
};

// TODO(arrays, strings, events): Chip_Array*, Chip_String and Chip_Event
// join this module in a later issue.

#endif
