// The binding frame of the native unit-generator modules.
//
// Every native module (osc, xxx, filter, syn, xform, extract, srate) gives
// each of its classes its behaviour as plain functions of the shapes of
// chip/chip_dl.h and registers them from one query function through the
// import interface (chip/chip_import.h). This header is what those modules
// share beyond that:
//
// State. A class with native state declares one hidden member (its name
// begins with "@", so scripts cannot name it) of type "int": one pointer-wide
// word of the object's data that holds the address of the class's state
// record. The import interface returns the member's byte offset, which the
// module keeps in a process-wide offset global (osc_offset_data, ...).
// frame_state() is the one way to read that pointer: it checks that the
// offset was registered and lies inside the object's data, so a binding that
// runs on an object of the wrong class, or before registration, stops the
// engine at the check instead of reading stray memory. The constructor
// stores a new record with frame_set_state(); the destructor takes it back
// with frame_take_state(), which leaves 0 in the member (a destructor that
// finds 0 has nothing to free). Subclasses without their own constructor use
// their parent's member and record.
//
// Arguments and results. A constructor, member function or static function
// receives its declared arguments packed in declaration order in one block:
// an int (sign-extended) or an object reference in one pointer-wide word,
// float, dur and time in one double each. Bindings read them in order with
// the argument reader of chip/chip_dl.h; results go into the
// Chip_DL_Return by declared type (v_int, v_float, v_object); a "void"
// function writes nothing.
//
// Conventions. A tick reads its record through frame_state(), writes exactly
// one sample and returns 1. A setter (ctrl_) reads its one argument, stores
// it after its clamp and returns it as stored; a getter (cget_) returns the
// stored value; both share one language name and differ by argument count.
// A pmsg returns 1 for the messages it knows, 0 otherwise.
//
// Registration, per class: a begin operation (NULL: the query returns FALSE
// at once), frame_import_state() for the state member (-1 takes the error
// path), frame_import_mfun()/frame_import_sfun() for the functions (FALSE
// takes the error path), type_engine_import_class_end(); the error path is
// frame_fail(), which closes the open class and returns FALSE.
//
// Threads: registration runs once on the thread that starts the engine;
// every constructor, destructor, tick and member function on the machine's
// thread. Nothing here takes a lock.
#ifndef CHIP_UGEN_FRAME_H
#define CHIP_UGEN_FRAME_H

#include <initializer_list>

#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/chip_oo.h"

struct Chip_Env;
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

#endif
