// The binding frame of the native unit-generator modules.
//
// Every native module (osc, xxx, filter, syn, xform, extract, srate) makes
// its classes known to the language through the import interface
// (chip/types/chip_import.h) and gives them behaviour as native functions of
// the shapes of chip/vm/chip_dl.h. This header is how they all do it: a
// language class is DECLARED by one table row, not written out.
//
// The model. A unit generator's behaviour lives in a plain C++ class
// derived from Frame_Obj (chip/vm/frame_object.h): an initialiser, setters
// that store their value after its clamp and compute what depends on it,
// getters, and a per-sample tick. Such a class builds and tests without a
// machine. Its language class is one Frame_Class_Desc: name, parent, the
// hidden member that holds the object, how to make the object, its tick,
// its pmsg and a table of members:
//
//   const Frame_Member kFooMembers[] = {
//       frame_prop("gain", "float",
//                  [](Frame_Slot& s, double v) { return s.as<Foo>().setGain(v); },
//                  [](Frame_Slot& s) { return s.as<Foo>().gain(); }),
//       frame_method("clear", "void", [](Frame_Slot& s, void*, Chip_DL_Return*) {
//         s.as<Foo>().clear(); }),
//   };
//   const Frame_Class_Desc kFoo = {"Foo", "UGen", "@Foo_data", &Foo_offset_data,
//       [](Chip_Object*) -> Frame_Obj* { return new Foo; },
//       [](Frame_Slot& s, SAMPLE in) { return s.as<Foo>().tick(in); },
//       frame_pmsg_false, FRAME_MEMBERS(kFooMembers)};
//
// frame_import_class(env, &kFoo) registers it; the frame makes the native
// functions itself (one trampoline per registered class and member), so a
// module writes only the class's own side.
//
// Members. A property is a setter and/or a getter registered as
// `type name(type value)` and `type name()`, both crossing as a double: an
// "int" property's value is converted on the way in and out (clamped to the
// int range, NaN as 0), a "dur" is in samples. A method has any return type
// and up to four arguments, read with the argument reader of chip_dl.h, and
// writes its result by its declared type. Aliases are further rows with the
// same functions. A native member (frame_native) is a plain native function
// registered as it is: for members that act on the language object itself
// rather than on a native object (the multichannel classes).
//
// Objects. The hidden member (a name beginning with "@", so scripts cannot
// name it; type "int") holds a Frame_Slot: the native object, the object's
// graph node and the frame's per-object flags. A class with `make` creates
// its object in its constructor; when the member already holds one (a
// parent's constructor ran first) the new object replaces it. A class that
// declares a member without `make` only clears it. Subclasses without a
// member of their own name their parent's member (data_member null, offset
// the parent's). A class with neither member nor offset has no state: its
// tick sees an empty slot. The destructor deletes object and slot and
// writes 0; a destructor that finds 0 does nothing.
//
// Errors. Every call into a native object (make, tick, setters, getters,
// methods) runs inside the frame's guard: a Frame_Error is caught there and
// never reaches the machine. Its message is printed if raising it did not
// print it already; a failing constructor leaves the object empty (it then
// outputs silence and its members answer 0); a failing member call answers
// 0 and the script goes on; a failing tick outputs 0 and the object stays
// silent (its tick is not called again, so the fault prints once) until a
// later setter or method call succeeds. Members of an empty object answer 0.
// A message that a bad parameter would repeat every sample is printed once
// per object with slot.warn_once(bit, ...).
//
// Analysers. A row with a `tock` declares a unit analyser (parent UAna or
// one of its descendants): the class is opened with the import interface's
// analyser begin, with the analysis counts ins_ana / outs_ana, and the
// frame's tock trampoline calls the row's tock with the slot, the analyser
// node (whose upstream blobs it reads: numIncomingUAnae, getIncomingBlob)
// and the analyser's own blob, inside the guard (a failing tock answers 0
// and leaves the blob as it was). The analysis itself belongs to the plain
// class, which takes and fills arrays and so tests without a machine; the
// row only fetches the blobs. A class without state tocks with an empty
// slot, as it ticks.
//
// Blocks. Every declared class renders in blocks too: the frame gives the
// graph a block tick that runs the class's tick frame by frame with one
// guard around the loop, or the row's `tick_block` (a plain loop the
// compiler can keep in registers) where the class has one. A tick that
// depends only on its object and its input is exact in blocks (the row's
// default); one that draws from the shared random generator is declared
// with frame_draws_random, since two such nodes take turns sample by
// sample; a row with `block` 0 renders its graph sample by sample.
//
// Static functions. A frame_static member is a native static function
// (shape f_sfun) registered as it is, with up to four arguments: the
// `compute` functions of the analysers, which act on arrays alone.
//
// Halting. A member whose Frame_Error has haltShred() set answers 0 and
// ends the shred that called it after the current instruction (an invalid
// transform size, a null array where one is required).
//
// Lower level. frame_member(), frame_state() and friends read and write an
// object's members at the offsets the import interface returned (checked:
// an offset that was never registered, or one outside the object's data,
// stops the engine at the check instead of reading stray memory);
// frame_import_mvar/state/mfun/sfun and frame_fail are the registration
// steps the rows are made of, for the classes that need one by hand.
//
// Arguments and results. A constructor, member function or static function
// receives its declared arguments packed in declaration order in one block:
// an int (sign-extended) or an object reference in one pointer-wide word,
// float, dur and time in one double each. Results go into the
// Chip_DL_Return by declared type (v_int, v_float, v_object); a "void"
// function writes nothing.
//
// Threads: registration runs once on the thread that starts the engine;
// every constructor, destructor, tick and member function on the machine's
// thread. Nothing here takes a lock.
#ifndef CHIP_UGEN_FRAME_H
#define CHIP_UGEN_FRAME_H

#include <initializer_list>

#include "chip/types/chip_import.h"
#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/frame_object.h"

struct Chip_Env;
struct Chip_Type;
struct Chip_UGen;

// An offset global before its class is registered (and the import
// interface's failure value).
const t_CPWORD FRAME_NO_OFFSET = -1;

// ---------------------------------------------------------------------------
// Members of an object.

// The storage of self's member of `bytes` bytes at byte offset `offset` of
// its data. Internal-error checks: self not null, offset registered, the
// member inside the data block.
unsigned char* frame_member_addr(Chip_Object* self, t_CPWORD offset, size_t bytes);

// A member of type T (a word, a double or a reference) at offset.
template <typename T>
T& frame_member(Chip_Object* self, t_CPWORD offset) {
  return *reinterpret_cast<T*>(frame_member_addr(self, offset, sizeof(T)));
}

// The state record in self's hidden state member at offset (null when the
// member holds 0).
template <typename T>
T* frame_state(Chip_Object* self, t_CPWORD offset) {
  return reinterpret_cast<T*>(frame_member<t_CPWORD>(self, offset));
}

// Stores the address of a state record in the hidden member.
template <typename T>
void frame_set_state(Chip_Object* self, t_CPWORD offset, T* state) {
  frame_member<t_CPWORD>(self, offset) = reinterpret_cast<t_CPWORD>(state);
}

// Takes the record out of the hidden member, leaving 0 there; the caller
// frees it (nothing to free when the result is null).
template <typename T>
T* frame_take_state(Chip_Object* self, t_CPWORD offset) {
  T* state = frame_state<T>(self, offset);
  frame_set_state<T>(self, offset, nullptr);
  return state;
}

// The graph node of a unit-generator object (every SELF of a unit-generator
// binding is one); checked not null.
Chip_UGen* frame_ugen(Chip_Object* self);

// ---------------------------------------------------------------------------
// Registration helpers (on the open class of env).

// One declared argument of a native function: type name ("int", "float",
// "UGen", "float[]"...) and argument name.
struct Frame_Arg {
  const char* type;
  const char* name;
};

// Declares the member variable `type name` and returns its offset, or
// FRAME_NO_OFFSET on failure.
t_CPWORD frame_import_mvar(Chip_Env* env, const char* type, const char* name);
// Declares the hidden state member `name` (a word of type "int", or the type
// given) and returns its offset, or FRAME_NO_OFFSET on failure.
t_CPWORD frame_import_state(Chip_Env* env, const char* name, const char* type = "int");

// A member function `type name(args...)` served by fn; FALSE on failure.
t_CPBOOL frame_import_mfun(Chip_Env* env, const char* type, const char* name, f_mfun fn,
                           std::initializer_list<Frame_Arg> args = {});
// A static function, likewise.
t_CPBOOL frame_import_sfun(Chip_Env* env, const char* type, const char* name, f_sfun fn,
                           std::initializer_list<Frame_Arg> args = {});

// The error path of a query function after a class was opened: closes it
// and returns FALSE.
t_CPBOOL frame_fail(Chip_Env* env);

// ---------------------------------------------------------------------------
// Declared classes.

// The per-object record in a declared class's hidden member.
struct Frame_Slot {
  Frame_Obj* obj = nullptr;   // the native object; null when none was made
  Chip_UGen* ugen = nullptr;  // the object's graph node
  unsigned warned = 0;        // warn_once() bits already printed
  bool tick_failed = false;   // the tick raised a Frame_Error: silent until a
                              // member call succeeds

  // The native object as its class (the frame only calls a class's
  // functions on objects its own or a subclass's make created).
  template <typename T>
  T& as() {
    return static_cast<T&>(*obj);
  }
  // Prints the message (prefix in the format; the line feed is added) the
  // first time `bit` is used on this object: bits 0..30 are the classes'
  // own, 31 the frame's.
  void warn_once(unsigned bit, const char* format, ...) __attribute__((format(printf, 3, 4)));
};

// Property accessors (the value crosses as a double whatever the type).
typedef double (*Frame_Set)(Frame_Slot& slot, double value);
typedef double (*Frame_Get)(Frame_Slot& slot);
// A method: reads its arguments from args (GET_NEXT_*) and writes its
// result, by its declared type, into ret.
typedef void (*Frame_Method)(Frame_Slot& slot, void* args, Chip_DL_Return* ret);
// Makes the class's native object (self: the language object, for classes
// that keep language objects of their own).
typedef Frame_Obj* (*Frame_Make)(Chip_Object* self);
// One output sample from the input sample.
typedef SAMPLE (*Frame_Tick)(Frame_Slot& slot, SAMPLE in);
// A block of output samples from a block of inputs, each frame exactly as
// the class's tick would make it (in and out may be the same array). It
// must not fail: a class whose tick may raise a Frame_Error keeps the
// frame's loop over its tick.
typedef void (*Frame_Tick_Block)(Frame_Slot& slot, const SAMPLE* in, SAMPLE* out,
                                 unsigned long frames);
// One analysis frame: upstream results read through uana, the analyser's
// own into blob (never null when called).
typedef void (*Frame_Tock)(Frame_Slot& slot, Chip_UAna* uana, Chip_UAnaBlobProxy* blob);

struct Frame_Member {
  const char* name;    // language name
  const char* type;    // "int", "float", "dur" for properties; any type otherwise
  Frame_Set set;       // property setter, or null (no setter)
  Frame_Get get;       // property getter, or null (no getter)
  Frame_Method method; // a method, or null
  f_mfun native;       // a native member registered as it is, or null
  Frame_Arg args[4];   // the method's arguments ({nullptr, nullptr} ends them)
  f_sfun sfun = nullptr;  // a native static function registered as it is, or null
};

// A setter/getter pair `type name(type value)` and `type name()`; either
// may be null.
constexpr Frame_Member frame_prop(const char* name, const char* type, Frame_Set set,
                                  Frame_Get get) {
  return Frame_Member{name, type, set, get, nullptr, nullptr, {}};
}
// A method `type name(args...)` (at most four arguments).
constexpr Frame_Member frame_method(const char* name, const char* type, Frame_Method method,
                                    Frame_Arg a0 = {}, Frame_Arg a1 = {}, Frame_Arg a2 = {},
                                    Frame_Arg a3 = {}) {
  return Frame_Member{name, type, nullptr, nullptr, method, nullptr, {a0, a1, a2, a3}};
}
// A native member function `type name(args...)` registered as it is.
constexpr Frame_Member frame_native(const char* name, const char* type, f_mfun fn,
                                    Frame_Arg a0 = {}, Frame_Arg a1 = {}, Frame_Arg a2 = {},
                                    Frame_Arg a3 = {}) {
  return Frame_Member{name, type, nullptr, nullptr, nullptr, fn, {a0, a1, a2, a3}};
}

// A native static function `type name(args...)` registered as it is.
constexpr Frame_Member frame_static(const char* name, const char* type, f_sfun fn,
                                    Frame_Arg a0 = {}, Frame_Arg a1 = {}, Frame_Arg a2 = {},
                                    Frame_Arg a3 = {}) {
  return Frame_Member{name, type, nullptr, nullptr, nullptr, nullptr, {a0, a1, a2, a3}, fn};
}

// A member variable `type name` the class declares, with the global that
// receives its offset.
struct Frame_Var {
  const char* type;
  const char* name;
  t_CPWORD* offset;
};

struct Frame_Class_Desc {
  const char* name;                 // language class name
  const char* parent;               // "UGen" or a class registered before
  const char* data_member = nullptr;  // "@Foo_data" when the class declares one
  t_CPWORD* offset = nullptr;       // the offset global of the member the class uses
  Frame_Make make = nullptr;        // null: no native object of its own (see above)
  Frame_Tick tick = nullptr;        // null: the parent's tick
  f_pmsg pmsg = nullptr;            // null: the parent's
  const Frame_Member* members = nullptr;
  size_t member_count = 0;
  // Audio inputs and outputs (CHIP_IMPORT_KEEP: the parent's).
  unsigned long ins = CHIP_IMPORT_KEEP;
  unsigned long outs = CHIP_IMPORT_KEEP;
  // A native constructor of a class without a native object (it acts on
  // the language object itself), registered as it is; null: none.
  f_ctor native_ctor = nullptr;
  // Member variables the class declares before its functions.
  const Frame_Var* vars = nullptr;
  size_t var_count = 0;
  // Set: the class is an analyser with this tock (see Analysers above), and
  // its analysis inputs and outputs (CHIP_IMPORT_KEEP: the parent's).
  Frame_Tock tock = nullptr;
  unsigned long ins_ana = CHIP_IMPORT_KEEP;
  unsigned long outs_ana = CHIP_IMPORT_KEEP;
  // The block form of `tick` (null: the frame runs the tick frame by frame)
  // and how the class renders in blocks (CHIP_BLOCK_* of chip_dl.h; see
  // Blocks above). Both go with `tick`: a row without one keeps its
  // parent's.
  Frame_Tick_Block tick_block = nullptr;
  unsigned long block = CHIP_BLOCK_EXACT;
};

// The block tick of a class whose tick is Tick: Tick frame by frame in one
// loop, the same computation in the same order (Tick and what it calls
// inline into the loop where the compiler sees them). For a row whose tick
// cannot raise a Frame_Error: .tick = Tick, .tick_block = frame_block_of<Tick>.
template <Frame_Tick Tick>
void frame_block_of(Frame_Slot& slot, const SAMPLE* in, SAMPLE* out, unsigned long frames) {
  for (unsigned long j = 0; j < frames; j++) out[j] = Tick(slot, in[j]);
}

// The same row with `Tick` as its tick and frame_block_of<Tick> as its
// block tick, for rows written without designators.
template <Frame_Tick Tick>
constexpr Frame_Class_Desc frame_in_blocks(Frame_Class_Desc desc) {
  desc.tick = Tick;
  desc.tick_block = frame_block_of<Tick>;
  return desc;
}

// The row of a class whose tick draws from the process-wide random
// generator (rand()): exact in blocks only as the one such node of a graph.
constexpr Frame_Class_Desc frame_draws_random(Frame_Class_Desc desc) {
  desc.block |= CHIP_BLOCK_SHARED_RANDOM;
  return desc;
}

#define FRAME_MEMBERS(table) table, sizeof(table) / sizeof((table)[0])
// The same for a row written with designated initializers.
#define FRAME_MEMBER_FIELDS(table) .members = table, .member_count = sizeof(table) / sizeof((table)[0])

// The pmsg of classes that accept every message, and of those that know none.
unsigned long frame_pmsg_true(Chip_Object* SELF, const char* MSG, void* ARGS, Chip_VM_Shred* SHRED);
unsigned long frame_pmsg_false(Chip_Object* SELF, const char* MSG, void* ARGS,
                               Chip_VM_Shred* SHRED);

// The slot in self's hidden member at offset (null when empty), and the
// native object in it (null when none).
Frame_Slot* frame_slot(Chip_Object* self, t_CPWORD offset);
Frame_Obj* frame_object(Chip_Object* self, t_CPWORD offset);

// Registers one declared class on env's global namespace: the class (with
// its constructor, destructor, tick and tock trampolines), its member variables,
// its hidden member (offset into *desc->offset), its members. The class's
// type, or null after the import interface's message (an opened class is
// closed again).
Chip_Type* frame_import_class(Chip_Env* env, const Frame_Class_Desc* desc);
// Each class of a table in order; FALSE at the first failure (classes
// before it stay).
t_CPBOOL frame_import_classes(Chip_Env* env, const Frame_Class_Desc* descs, size_t count);

#endif
