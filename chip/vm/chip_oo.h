// Reference-counted object model.
//
// Every object the engine shares between its parts derives from
// Chip_VM_Object: the language's run-time objects (Chip_Object and its
// arrays, strings and events below; shreds and unit generators elsewhere)
// and the compiler's records (types, values, functions, namespaces,
// contexts). An object starts with a
// count of 0; the first holder's add_ref makes it 1 and the release that
// brings it back to 0 hands it to the allocator, which deletes it. Before
// deleting a language object (a Chip_Object whose type has a namespace) the
// allocator runs the native destructors of its class and of each ancestor,
// most derived first, each once and with no shred; they release what the
// object owns while it is still whole. A destructor that throws is reported
// and the others still run. Native destructors must accept an object whose
// constructor never ran (its state members are 0).
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

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "chip/util/chip_def.h"
#include "chip/util/util_thread.h"

struct Chip_Func;
struct Chip_Type;
struct Chip_VM_Shred;
class Chip_VM;

// Reports a failed internal-error check ("file:line: condition") on standard
// error and aborts, after flushing the log (EM_flush) so that what was
// printed before the fault comes out first.
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

  // The object as a language object, or null (what freeing asks of every
  // object, without a dynamic cast).
  virtual struct Chip_Object* as_object() { return nullptr; }

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
  // Link of the allocator's queue of objects waiting to be freed.
  Chip_VM_Object* m_next_free = nullptr;

  static t_CPUWORD our_locks_in_effect;
};

// ---------------------------------------------------------------------------
// The allocator: logs new objects and frees those whose count reached 0.
struct Chip_VM_Alloc {
  static Chip_VM_Alloc* instance();
  // Deletes obj, whose count must be 0, after running the native
  // destructors of a language object's classes (see above). An object freed
  // while another is being freed on the same thread (a member, an element,
  // a linked node let go by a destructor) waits in a queue until that free
  // is done: freeing a long chain of objects takes no deeper a native stack
  // than freeing one. When the outermost free_object returns, everything
  // it let go of is freed.
  void free_object(Chip_VM_Object* obj);

 private:
  Chip_VM_Alloc() = default;
  static Chip_VM_Alloc* our_instance;
};

// ---------------------------------------------------------------------------
// The member functions of a class in slot order (a class's obj_v_table,
// which its objects share).
struct Chip_VTable {
  std::vector<Chip_Func*> funcs;
};

// Every value a script can hold a reference to.
struct Chip_Object : Chip_VM_Object {
  Chip_Object();
  ~Chip_Object() override;
  Chip_Object* as_object() override { return this; }

  // Member variables of at most this many bytes live in the object itself
  // (every object has Object's cached text, one word): making an object is
  // then one allocation.
  static constexpr t_CPUWORD kInlineData = 2 * sizeof(t_CPWORD);

  Chip_VTable* vtable;  // the class's virtual table (shared), or null
  t_CPBOOL owns_vtable;  // vtable is the object's own (deleted with it)
  Chip_Type* type_ref;  // the object's type, referenced, with its keeper
  t_CPUWORD size;       // bytes of data
  // Member variables: inline_data when they fit there, else owned (calloc'd,
  // freed with free); null when there are none.
  unsigned char* data;
  alignas(t_CPWORD) unsigned char inline_data[kInlineData];
};

// Runs the native destructors of obj's class and its ancestors, most derived
// first, each destructor once, through the catching wrapper with no shred.
// Nothing runs when obj has no type or its type has no namespace. The
// allocator calls it once, just before deleting obj.
void chip_run_native_dtors(Chip_Object* obj);

// Takes the object reference out of the pointer-wide word at addr (leaving
// null there) and releases it, if there was one: how a holder that ends (a
// frame, an object, a class's static data) gives back what a slot held.
void chip_release_slot(void* addr);

// ---------------------------------------------------------------------------
// Arrays.
//
// An array has an indexed part (a vector of elements) and an associative part
// (a map from text keys to elements). Chip_Array is the interface the
// instructions and the built-in array class use without knowing the element
// type; three classes store the three element kinds of the language:
//   Chip_Array4   one word per element: ints (sign-extended) or object
//                 references; an object array counts its elements;
//   Chip_Array8   a double per element: float, time and dur;
//   Chip_Array16  two doubles per element: complex and polar.
// The three are one class template, Chip_ArrayOf<T>, over their element
// type; Chip_Array4 adds only the counting of object elements.
// data_type_size() answers the kind tag (4, 8 or 16) rather than the byte
// width, since an int word and a double are both 8 bytes wide here; the tag
// of an element type comes from chip_array_kind.
//
// Indexes are valid from 0 to size() - 1: an index at or past the size is
// refused by get, set and addr, whatever the vector has allocated beyond.
// Slots are zero (0, 0.0, (0,0) or null) until written; a missing key reads
// as zero.
//
// Object arrays (Chip_Array4 with m_is_obj): set takes a reference to what
// it stores; set, zero, pop_back, erase, clear, a shrinking set_size and the
// destructor release what they overwrite or drop. push_back and stores
// through addr take none: the caller takes it.
//
// Arrays belong to the thread that runs the machine.

// Kind tags answered by data_type_size().
enum {
  CHIP_ARRAY_KIND_WORD = 4,     // Chip_Array4
  CHIP_ARRAY_KIND_FLOAT = 8,    // Chip_Array8
  CHIP_ARRAY_KIND_COMPLEX = 16  // Chip_Array16
};

// The kind tag of the array class that stores elements of the given type:
// complex and polar 16; float, time and dur 8; int and every object type 4.
t_CPWORD chip_array_kind(Chip_Type* elem_type);

struct Chip_Array : Chip_Object {
  ~Chip_Array() override;
  // Elements in the indexed part. (This hides Chip_Object::size, the bytes
  // of member data, which is reached through a Chip_Object pointer.)
  virtual t_CPWORD size() = 0;
  // Slots allocated for the indexed part (never less than the size).
  virtual t_CPWORD capacity() = 0;
  // Grows (new elements zero) or shrinks (dropped elements zeroed first,
  // which releases them in an object array); returns the new size.
  virtual t_CPWORD set_size(t_CPWORD size) = 0;
  // set_size(capacity); returns capacity() afterwards.
  virtual t_CPWORD set_capacity(t_CPWORD capacity) = 0;
  // The kind tag: 4, 8 or 16.
  virtual t_CPWORD data_type_size() = 0;
  // 1 if the key is in the associative part, else 0.
  virtual t_CPWORD find(const std::string& key) = 0;
  // Entries removed (1 or 0).
  virtual t_CPWORD erase(const std::string& key) = 0;
  // Every element of the indexed part becomes zero; the size and the map
  // stay.
  virtual void clear() = 0;
};

// The indexed and associative parts over one element type T, and every
// operation the element kinds share; the element classes below derive from
// it. Elements a subclass counts are handed to its hold() when stored by set
// and to its let_go() whenever they are overwritten or dropped (set, zero,
// pop_back, erase, clear, a shrinking set_size); by default neither does
// anything. Each element leaves its container before let_go() sees it, so an
// element's destructor never finds itself still in the array.
template <typename T>
struct Chip_ArrayOf : Chip_Array {
  // Capacity elements, all zero; a negative capacity is an engine fault.
  explicit Chip_ArrayOf(t_CPWORD capacity);
  ~Chip_ArrayOf() override;

  // Address of element i, or null when i is not below the size.
  T* addr(t_CPWORD i);
  // Address of the entry for key, inserted as zero when missing.
  T* addr(const std::string& key);
  // 1 and *val = element i, or 0 (val untouched) when i is out of range.
  t_CPINT get(t_CPWORD i, T* val);
  // Always 1: *val = the entry, or zero when the key is missing (not
  // inserted).
  t_CPINT get(const std::string& key, T* val);
  // 1, or 0 when i is out of range; the new element is held before the one
  // it replaces is let go, so storing an element over itself keeps it.
  t_CPINT set(t_CPWORD i, T val);
  // Appends val; holds nothing (the caller's hold passes to the array).
  t_CPINT push_back(T val);
  // Drops the last element (let go); 0 when empty.
  t_CPINT pop_back();
  // Zeroes elements start..end-1 (each let go); both bounds must lie within
  // the size.
  void zero(t_CPUWORD start, t_CPUWORD end);

  t_CPWORD size() override;
  t_CPWORD capacity() override;
  t_CPWORD set_size(t_CPWORD size) override;
  t_CPWORD set_capacity(t_CPWORD capacity) override;
  t_CPWORD find(const std::string& key) override;
  t_CPWORD erase(const std::string& key) override;
  void clear() override;

  std::vector<T> m_vector;
  std::map<std::string, T> m_map;

 protected:
  // An element set stores (not called for push_back or stores through addr).
  virtual void hold(T) {}
  // An element overwritten or dropped.
  virtual void let_go(T) {}
};

// Defined (and instantiated for the three element types) in chip_oo.cpp.
extern template struct Chip_ArrayOf<t_CPUWORD>;
extern template struct Chip_ArrayOf<t_CPFLOAT>;
extern template struct Chip_ArrayOf<t_CPCOMPLEX>;

// Words: ints or object references. An object array references what set
// stores and releases what it lets go of or still holds when destroyed; an
// int array counts nothing (its words are not references).
struct Chip_Array4 : Chip_ArrayOf<t_CPUWORD> {
  Chip_Array4(t_CPBOOL is_obj, t_CPWORD capacity = 8);
  // An object array releases the elements it still holds.
  ~Chip_Array4() override;

  t_CPWORD data_type_size() override;

  t_CPUWORD m_is_obj;

 protected:
  void hold(t_CPUWORD word) override;
  void let_go(t_CPUWORD word) override;
};

// Doubles: float, time, dur.
struct Chip_Array8 : Chip_ArrayOf<t_CPFLOAT> {
  explicit Chip_Array8(t_CPWORD capacity = 8);
  ~Chip_Array8() override;

  t_CPWORD data_type_size() override;
};

// Pairs of doubles: complex (re, im) and polar (modulus, phase).
struct Chip_Array16 : Chip_ArrayOf<t_CPCOMPLEX> {
  explicit Chip_Array16(t_CPWORD capacity = 8);
  ~Chip_Array16() override;

  t_CPWORD data_type_size() override;
};

// ---------------------------------------------------------------------------
// Strings: the object behind every value of the language's string type.
// Machine thread only.
struct Chip_String : Chip_Object {
  explicit Chip_String(const std::string& s = "");
  ~Chip_String() override;

  void set(const std::string& s) { str = s; }

  std::string str;
};

// ---------------------------------------------------------------------------
// Events.
//
// A shred waits on an event by chipping it to now (wait); signal wakes the
// oldest waiter, broadcast all of them, oldest first. A woken shred finds the
// current time on its register stack, as the value of its chip expression.
//
// A waiting shred holds one reference to the event, taken by wait and
// released when signal wakes the shred or remove takes it off (the shreduler
// removes a blocked shred that is freed), so an event the script drops
// while shreds wait on it stays alive until the last of them leaves.
//
// Threads: wait, signal, broadcast, remove and deliver_queued_broadcast run
// on the machine's thread. queue_broadcast is the one entry for other threads
// (listeners that receive messages): it never touches the shreduler or a
// count, it hands the event to the machine's event queue, and the machine
// calls deliver_queued_broadcast on its own thread during its next pass.
// m_queue_lock guards the waiting queue and the queued-broadcast count; no
// operation holds it while calling into the shreduler or the machine.
//
// While a queued broadcast is undelivered, the event must outlive the pointer
// in the machine's queue: the waiters' references keep it alive when it is
// queued (it is queued only while shreds wait), and should the last waiter
// leave before delivery (removed), its reference is kept as a pin that
// delivery gives back.
class Chip_Event : public Chip_Object {
 public:
  Chip_Event();
  // Shreds still listed are not touched (each of them would hold a
  // reference, so none is left when the event is destroyed).
  ~Chip_Event() override;

  // The shred chips this event to now. When the event's can_wait() answers
  // 0 the shred runs on with now pushed on its register stack; otherwise it
  // stops running, joins the queue and the shreduler's blocked set, and the
  // event gains a reference. Machine thread.
  void wait(Chip_VM_Shred* shred, Chip_VM* vm);
  // Wakes the oldest waiter, if any: reschedules it at now with now pushed
  // on its register stack, and drops its reference. Machine thread.
  void signal();
  // signal() until no shred waits. Machine thread.
  void broadcast();
  // Takes every entry of shred off the queue (the others keep their order),
  // clears the shred's event and drops its reference; TRUE if it waited
  // here. Machine thread (the shreduler's remove_blocked).
  t_CPBOOL remove(Chip_VM_Shred* shred);
  // Asks the machine of the oldest waiter to broadcast this event on its own
  // thread; nothing happens (now or later) when no shred waits, nor while a
  // requested broadcast is still undelivered (that one wakes every waiter).
  // Any thread.
  void queue_broadcast();
  // The machine's delivery of a queued broadcast: broadcast(), then give
  // back the pin (see above) once no queued broadcast is outstanding.
  // Machine thread, for each event taken from the machine's event queue.
  void deliver_queued_broadcast();

  // Number of waiting shreds (under the lock). Any thread.
  size_t num_waiting();

  // Slot of can_wait() in every event class's virtual table; set when the
  // built-in Event class is registered.
  static t_CPWORD our_can_wait;

  std::deque<Chip_VM_Shred*> m_queue;  // waiting shreds, oldest first
  XMutex m_queue_lock;

 private:
  // Drops the reference of one shred that left the queue; kept as the pin
  // while a queued broadcast is outstanding. Machine thread.
  void release_waiter_ref();
  // Asks the event's can_wait() member whether shred must wait.
  t_CPBOOL can_wait(Chip_VM_Shred* shred);

  t_CPUWORD m_queued;  // queued broadcasts not yet delivered (under the lock)
  t_CPBOOL m_pinned;   // a waiter's reference kept for them (machine thread)
};

#endif
