// The toolkit module ("syn"): the registration frame through which every
// toolkit class (chip/syn*.h) enters the language as a unit generator.
//
// A language class is DECLARED, not written out: its family source fills a
// Syn_Class_Desc (language name, parent, hidden data member, how to make the
// toolkit object, its tick, and a table of members) and hands its table out
// through one function declared below (syn_envelope_classes ...). syn_query
// walks the module's 52 class names in their fixed order and registers each
// class that some family describes; the rest wait for their families.
//
// Members. A Syn_Member is either a property (a setter and/or a getter on
// the toolkit object, registered as `type name(type value)` then
// `type name()`, both through double: an "int" property's value is
// converted on the way in and out, a "dur" property is in samples) or a
// method (any return type, up to four arguments read with the argument
// reader of chip/chip_dl.h). Aliases are further entries with the same
// functions. The frame makes the native functions itself (one trampoline
// per registered member), so families write only the toolkit side:
//
//   const Syn_Member kFooMembers[] = {
//       syn_prop("gain", "float",
//                [](Syn_Slot& s, double v) { return s.as<Foo>().setGain(v); },
//                [](Syn_Slot& s) { return double(s.as<Foo>().gain()); }),
//       syn_method("clear", "void", [](Syn_Slot& s, void*, Chip_DL_Return*) {
//         s.as<Foo>().clear(); }),
//   };
//   const Syn_Class_Desc kFoo[] = {{"Foo", "UGen", "@Foo_data", &Foo_offset_data,
//       [](Chip_Object*) -> Syn* { return new Foo; },
//       [](Syn_Slot& s, SAMPLE in) { return s.as<Foo>().tick(in); },
//       syn_pmsg_false, SYN_MEMBERS(kFooMembers)}};
//
// Objects. The hidden member ("@Foo_data", type "int") holds a Syn_Slot: the
// toolkit object and the frame's per-object flags. A class with `make`
// creates its toolkit object in its constructor; when the member already
// holds one (a parent's constructor ran first, as Envelope's does before
// ADSR's) the new object replaces it. A class that declares a member
// without `make` (SynInstrument) only clears it. Subclasses without a
// member of their own name their parent's member (data_member null, offset
// the parent's). The destructor deletes object and slot and writes 0; a
// destructor that finds 0 does nothing.
//
// Errors. Every call into a toolkit object (make, tick, setters, getters,
// methods) runs inside the frame's guard: a SynError is caught there and
// never reaches the machine. Its message is printed if handleError did not
// print it already; a failing constructor leaves the object empty (it then
// outputs silence and its members answer 0); a failing member call answers
// 0 and the script goes on; a failing tick outputs 0 and the object stays
// silent (its tick is not called again, so the fault prints once) until a
// later setter or method call succeeds. Members of an empty object answer 0.
//
// Messages that a bad parameter would repeat every sample: a tick calls
// slot.warn_once(bit, ...) (bits 0..30: one message each per object), or
// the toolkit object keeps a SynOnce of its own.
//
// Threads: registration on the thread that starts the engine; everything
// else on the machine's thread. Nothing is locked.
#ifndef CHIP_UGEN_SYN_H
#define CHIP_UGEN_SYN_H

#include <cstddef>

#include "chip/syn/syn.h"
#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/ugen_frame.h"

// ---------------------------------------------------------------------------
// The per-object record in the hidden member.

struct Syn_Slot {
  Syn* obj = nullptr;        // the toolkit object; null when none was made
  unsigned warned = 0;       // warn_once() bits already printed
  bool tick_failed = false;  // the tick raised a SynError: silent until a
                             // member call succeeds

  // The toolkit object as its class (the frame only calls a class's
  // functions on objects its own or a subclass's make created).
  template <typename T>
  T& as() {
    return static_cast<T&>(*obj);
  }
  // Prints the message (prefix in the format) the first time `bit` is used
  // on this object: bits 0..30 are the classes' own, 31 the frame's.
  void warn_once(unsigned bit, const char* format, ...) __attribute__((format(printf, 3, 4)));
};

// ---------------------------------------------------------------------------
// Descriptors.

// Property accessors (the value crosses as a double whatever the type).
typedef double (*Syn_Set)(Syn_Slot& slot, double value);
typedef double (*Syn_Get)(Syn_Slot& slot);
// A method: reads its arguments from args (GET_NEXT_*) and writes its
// result, by its declared type, into ret.
typedef void (*Syn_Method)(Syn_Slot& slot, void* args, Chip_DL_Return* ret);
// Makes the class's toolkit object (self: the language object, for the
// classes that keep language objects of their own).
typedef Syn* (*Syn_Make)(Chip_Object* self);
// One output sample from the input sample.
typedef SAMPLE (*Syn_Tick)(Syn_Slot& slot, SAMPLE in);

struct Syn_Member {
  const char* name;   // language name
  const char* type;   // "int", "float", "dur" for properties; any type for a method
  Syn_Set set;        // property setter, or null (no setter)
  Syn_Get get;        // property getter, or null (no getter)
  Syn_Method method;  // a method (set and get null), or null
  Frame_Arg args[4];  // the method's arguments ({nullptr, nullptr} ends them)
};

// A setter/getter pair `type name(type value)` and `type name()`; either
// may be null.
constexpr Syn_Member syn_prop(const char* name, const char* type, Syn_Set set, Syn_Get get) {
  return Syn_Member{name, type, set, get, nullptr, {}};
}
// A method `type name(args...)` (at most four arguments).
constexpr Syn_Member syn_method(const char* name, const char* type, Syn_Method method,
                                Frame_Arg a0 = {}, Frame_Arg a1 = {}, Frame_Arg a2 = {},
                                Frame_Arg a3 = {}) {
  return Syn_Member{name, type, nullptr, nullptr, method, {a0, a1, a2, a3}};
}

struct Syn_Class_Desc {
  const char* name;         // language class name
  const char* parent;       // "UGen" or a toolkit class registered before
  const char* data_member;  // "@Foo_data" when the class declares one, else null
  t_CPWORD* offset;         // the offset global of the member the class uses
  Syn_Make make;            // null: no toolkit object of its own (see above)
  Syn_Tick tick;            // null: the parent's tick
  f_pmsg pmsg;              // syn_pmsg_true / syn_pmsg_false, or null (the parent's)
  const Syn_Member* members;
  size_t member_count;
};

#define SYN_MEMBERS(table) table, sizeof(table) / sizeof((table)[0])

// The pmsg of classes that accept every message, and of those that know none.
unsigned long syn_pmsg_true(Chip_Object* SELF, const char* MSG, void* ARGS, Chip_VM_Shred* SHRED);
unsigned long syn_pmsg_false(Chip_Object* SELF, const char* MSG, void* ARGS, Chip_VM_Shred* SHRED);

// The slot in self's hidden member at offset (null when empty), and the
// toolkit object in it (null when none).
Syn_Slot* syn_slot(Chip_Object* self, t_CPWORD offset);
Syn* syn_object(Chip_Object* self, t_CPWORD offset);

// ---------------------------------------------------------------------------
// The families. Each returns its descriptors (any order) and their count;
// syn_query registers them in the module's order. A family source defines
// its function; syn_query calls those that exist.

// Envelope, ADSR (chip/ugen_syn_envelope.cpp).
const Syn_Class_Desc* syn_envelope_classes(size_t* count);
// SubNoise (chip/ugen_syn_noise.cpp).
const Syn_Class_Desc* syn_noise_classes(size_t* count);
// JetTabl (chip/ugen_syn_tables.cpp).
const Syn_Class_Desc* syn_tables_classes(size_t* count);
// FilterSyn, OnePole, TwoPole, OneZero, TwoZero, PoleZero.
const Syn_Class_Desc* syn_filter_classes(size_t* count);
// Delay, DelayA, DelayL, Echo.
const Syn_Class_Desc* syn_delay_classes(size_t* count);
// JCRev, NRev, KestRev (and the effects Chorus, PitShift when built).
const Syn_Class_Desc* syn_reverb_classes(size_t* count);

// Offset globals of the classes with a hidden member (FRAME_NO_OFFSET until
// registered). Families declare the rest as `t_CPWORD Foo_offset_data`.
extern t_CPWORD Instrmnt_offset_data;
extern t_CPWORD Envelope_offset_data;
extern t_CPWORD SubNoise_offset_data;
extern t_CPWORD JetTabl_offset_data;

// ---------------------------------------------------------------------------
// The module.

// Copies the query's sample rate into Syn::srate when it is above 0, sets
// little_endian, and registers the classes in the module's order (the
// language class SynInstrument first). TRUE when every described class was
// registered; FALSE at the first failure (classes before it stay).
t_CPBOOL syn_query(Chip_DL_Query* QUERY);
// The module's shutdown hook: closes the sound files scripts left open
// (none until WvOut is built). Ignores its arguments; TRUE.
t_CPBOOL syn_detach(t_CPUINT type, void* data);

// Registers one described class on env's open namespace through the frame
// (what syn_query does for each class it finds); FALSE on failure.
t_CPBOOL syn_import_class(Chip_Env* env, const Syn_Class_Desc* desc);

// The names of the module's classes in registration order, and their count.
const char* const* syn_class_names(size_t* count);

#endif
