// The language's built-in classes: Object, @array, string, IO, Shred, Event
// and UGen.
//
// Each class is registered by one init_class_* function that fills the
// already created built-in type record through the import interface
// (chip_import.h): it opens the class on the type, adds its members in
// declaration order and closes it. type_engine_init calls them in turn while
// it starts the type system; a registration that fails closes its class and
// answers FALSE (the import interface printed why).
//
// The members are native functions of the shared shapes (chip_dl.h): the
// object called on, the packed arguments (ints and references one word each,
// floats one double each), the result slot and the calling shred. The
// objects behind the classes are the run-time records of the object model:
// Chip_Array for @array, Chip_String for string, Chip_VM_Shred for Shred,
// Chip_Event for Event and Chip_UGen for UGen. Members that answer a new
// string make it with instantiate_and_initialize_object for the calling
// shred's machine (the process-wide machine without a shred) and hand it
// back unreferenced: the receiver takes the reference.
//
// Object's hidden member "@string" is a cache slot for an object's text
// (null unless something stores a string there); object_toString answers it
// when set and otherwise makes a fresh string each call. Its byte offset in
// every object's data is Object_offset_string, recorded at registration.
//
// Threads: registration runs on the thread that starts the engine; the
// native functions run on the machine's thread.
#ifndef CHIP_CHIP_LANG_H
#define CHIP_CHIP_LANG_H

#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"

struct Chip_Env;
struct Chip_Object;
struct Chip_String;
struct Chip_Type;
struct Chip_VM_Shred;

// Byte offset of Object's "@string" in an object's data; -1 until Object is
// registered.
extern t_CPWORD Object_offset_string;

// ---------------------------------------------------------------------------
// Registration (each TRUE on success; the type is the built-in record).
t_CPBOOL init_class_object(Chip_Env* env, Chip_Type* type);
t_CPBOOL init_class_string(Chip_Env* env, Chip_Type* type);
t_CPBOOL init_class_array(Chip_Env* env, Chip_Type* type);
t_CPBOOL init_class_io(Chip_Env* env, Chip_Type* type);
t_CPBOOL init_class_shred(Chip_Env* env, Chip_Type* type);
// Also stores the virtual-table slot of can_wait() in Chip_Event::our_can_wait.
t_CPBOOL init_class_event(Chip_Env* env, Chip_Type* type);
// Also gives the type its unit-generator description (__ugen_tick and
// __ugen_tick_v, exact in blocks, 1 in, 1 out, 1 analysis in and out),
// replacing one it held before.
t_CPBOOL init_class_ugen(Chip_Env* env, Chip_Type* type);

// ---------------------------------------------------------------------------
// Object
void object_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
// Releases the string cached in "@string", if any.
void object_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED);
// `string toString()`: the cached "@string", else a new string
// "<type name>[]...:<address in lower-case hex>" ("[VOID]" without a type);
// null with "[chip]: Object.toString() out of memory!\n" on standard error
// when no string can be made. SHRED may be null.
void object_toString(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// object_toString as a plain call: the (unreferenced) string, or null.
Chip_String* chip_object_to_string(Chip_Object* object, Chip_VM_Shred* shred);

// ---------------------------------------------------------------------------
// string
void string_length(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void string_upper(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void string_lower(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void string_ltrim(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void string_rtrim(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void string_trim(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void string_toString(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

// ---------------------------------------------------------------------------
// @array
void array_clear(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void array_reset(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void array_pop_back(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void array_get_size(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void array_set_size(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void array_get_capacity_hack(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                             Chip_VM_Shred* SHRED);
void array_find(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void array_erase(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

// ---------------------------------------------------------------------------
// IO: every member is this one abstract function. Calling one is the
// script's mistake: the calling shred ends with
// "[chip](VM): AbstractMethodException: (IO member function) in shred[id=%d:%s], PC=[%d]\n".
void io_dummy(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

// ---------------------------------------------------------------------------
// Shred (SELF is the Chip_VM_Shred the member is called on, SHRED the
// caller).
void shred_clone(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void shred_exit(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void shred_id(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// Only the calling shred yields: on any other shred it does nothing.
void shred_yield(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void shred_running(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void shred_done(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void shred_numArgs(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void shred_getArg(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

// ---------------------------------------------------------------------------
// Event
void event_signal(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void event_broadcast(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// Waiting is done by chipping the event to now; calling wait as a method
// ends the calling shred with "[chip](VM): InvalidMethodException:
// (Event.wait: chip the event to now instead) in shred[id=%d:%s], PC=[%d]\n".
void event_wait(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void event_can_wait(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

// ---------------------------------------------------------------------------
// UGen
// The plain unit generator's tick: its output is its input.
unsigned long __ugen_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED);
// The same for a block.
unsigned long __ugen_tick_v(Chip_Object* SELF, const SAMPLE* in, SAMPLE* out,
                            unsigned long frames, Chip_VM_Shred* SHRED);
void ugen_gain(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void ugen_cget_gain(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void ugen_last(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void ugen_op(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void ugen_cget_op(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// Refuses to change the channel count; its result is the unchanged count.
void ugen_numChannels(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void ugen_cget_numChannels(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                           Chip_VM_Shred* SHRED);
void ugen_chan(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void ugen_connected(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

#endif
