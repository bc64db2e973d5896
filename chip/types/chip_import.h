// Import interface: how a class without source text enters the type system.
//
// Every class the engine offers natively (the built-in classes, the unit
// generators and analysers, the libraries) is declared here: a begin
// operation opens the class, mvar / svar / mfun / sfun add members in the
// order they are to be declared, class_end closes it. Each addition is
// turned into the syntax-tree fragment the compiler would have built from
// source (a declaration, a bodiless function definition carrying the native
// function) and run through the ordinary scan and check passes, so an
// imported class looks to the rest of the compiler exactly like a compiled
// one. type_engine_add_dll does the same for the classes a module collected
// in its query record (chip_dl.h).
//
// Typical use:
//     Chip_Type* t = type_engine_import_class_begin(env, "Foo", "", env->global(),
//                                                   Foo_ctor, Foo_dtor);
//     Foo_offset_data = type_engine_import_mvar(env, "int", "@data", FALSE);
//     Chip_DL_Func* f = make_new_mfun("float", "gain", Foo_gain);
//     f->add_arg("float", "value");
//     type_engine_import_mfun(env, f);   // the record stays the caller's
//     type_engine_import_class_end(env);
//
// A type string is a dotted path optionally followed by "[]" pairs
// ("float[]", "Object"). Hidden members use names that no script can write
// (starting with '@'). Member offsets returned by mvar are byte offsets into
// a Chip_Object's data; modules keep them in process-wide words.
//
// Deferred functions. While the environment's defer_imports is set (the
// base classes' and the built-in modules' import at start-up), the member and static functions of
// a class opened here are not entered at once: the class records a copy of
// each record (Chip_Namespace::deferred) and enters them, in the order they
// were declared and exactly as the eager path would have, the first time
// anything needs them: a lookup in the class's namespace (a member or
// static function named, an overload resolved, a parent's member checked),
// a script class extending it, or an object of it being made. Its
// ancestors' functions go first, and so its virtual table is the one the
// eager path builds. A program that never touches a class never pays for
// its functions. Member variables, static variables, constructors and the
// unit-generator description are entered at once (their offsets and
// storage are needed while the module loads). Every object's table is
// complete, since making the object completes its class: the machine may
// call through it (an event's can_wait) without any lookup. The compiler
// and the type system are used by one thread at a time (the machine's,
// after start-up), and so is a class's completion.
//
// The interface keeps no state: it works on the environment's class being
// defined (env->class_def, with the class stack), its current namespace
// (with the namespace stack) and its current context, which records the type
// objects it makes. Begin operations may nest. Every operation returns TRUE
// or FALSE, a pointer that is NULL on failure, or for mvar an offset that is
// CHIP_IMPORT_BAD_OFFSET on failure; the reason goes to the error channel at
// line 0. A begin that fails after it opened the class leaves it open: the
// caller abandons the whole module and the compiler rolls the namespace back.
#ifndef CHIP_CHIP_IMPORT_H
#define CHIP_CHIP_IMPORT_H

#include <string>

#include "chip/front/chip_absyn.h"
#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"

struct Chip_Env;
struct Chip_Type;
struct Chip_Namespace;
struct Chip_Deferred_Members;

// "Keep the inherited count" for the ugen / uana begin operations, and the
// failed result of type_engine_import_mvar: all bits set.
enum : unsigned long { CHIP_IMPORT_KEEP = ~0UL, CHIP_IMPORT_BAD_OFFSET = ~0UL };

// Opens an existing type (which must have no member namespace yet) as a
// class in `where`, with an optional native constructor and destructor.
Chip_Type* type_engine_import_class_begin(Chip_Env* env, Chip_Type* type, Chip_Namespace* where,
                                          f_ctor pre_ctor, f_dtor dtor);
// Makes a new class `name` deriving from `parent` ("" : Object) in `where`
// and opens it.
Chip_Type* type_engine_import_class_begin(Chip_Env* env, const char* name, const char* parent,
                                          Chip_Namespace* where, f_ctor pre_ctor, f_dtor dtor);
// The same for a unit generator (parent UGen or a descendant); tick and pmsg
// NULL and counts CHIP_IMPORT_KEEP keep what the parent has. A class that
// keeps its parent's tick keeps its block form and flags too; one that
// brings a tick starts without them (the caller may then set them in the
// type's ugen_info).
Chip_Type* type_engine_import_ugen_begin(Chip_Env* env, const char* name, const char* parent,
                                         Chip_Namespace* where, f_ctor pre_ctor, f_dtor dtor,
                                         f_tick tick, f_pmsg pmsg,
                                         unsigned long num_ins = CHIP_IMPORT_KEEP,
                                         unsigned long num_outs = CHIP_IMPORT_KEEP);
// The same for an analyser (parent UAna or a descendant); tock and the
// analysis counts are not inherited.
Chip_Type* type_engine_import_uana_begin(Chip_Env* env, const char* name, const char* parent,
                                         Chip_Namespace* where, f_ctor pre_ctor, f_dtor dtor,
                                         f_tick tick, f_tock tock, f_pmsg pmsg,
                                         unsigned long num_ins = CHIP_IMPORT_KEEP,
                                         unsigned long num_outs = CHIP_IMPORT_KEEP,
                                         unsigned long num_ins_ana = CHIP_IMPORT_KEEP,
                                         unsigned long num_outs_ana = CHIP_IMPORT_KEEP);

// A member variable of the open class: its byte offset in the object's data,
// or CHIP_IMPORT_BAD_OFFSET. is_const has no effect.
unsigned long type_engine_import_mvar(Chip_Env* env, const char* type, const char* name,
                                      unsigned long is_const);
// A static variable of the open class stored at addr (caller-owned storage
// of the value's width: a t_CPWORD for int and references, a double...).
t_CPBOOL type_engine_import_svar(Chip_Env* env, const char* type, const char* name,
                                 unsigned long is_const, unsigned long addr);
// A member or static function of the open class. The record stays the
// caller's (it may be deleted after the call).
t_CPBOOL type_engine_import_mfun(Chip_Env* env, Chip_DL_Func* mfun);
t_CPBOOL type_engine_import_sfun(Chip_Env* env, Chip_DL_Func* sfun);
// The same for a function whose record is made only when it is entered:
// make(data, form, fn) returns a new record (the import deletes it), so a
// deferred function costs its maker's arguments until it is needed. The
// maker must give the same record every time.
typedef Chip_DL_Func* (*f_make_dl_func)(const void* data, unsigned long form, void* fn);
t_CPBOOL type_engine_import_made_fun(Chip_Env* env, f_make_dl_func make, const void* data,
                                     unsigned long form, void* fn, t_CPBOOL is_static);
// Closes the open class: its object size is fixed and the enclosing class
// and namespace become current again.
t_CPBOOL type_engine_import_class_end(Chip_Env* env);

// Enters the deferred functions of type's class, its ancestors' first:
// nothing to do (TRUE) for a class that recorded none, or that is still
// open. FALSE when one of them failed to enter (its message printed).
t_CPBOOL type_engine_complete_class(Chip_Type* type);
// The same for the class whose member namespace is nspc.
t_CPBOOL type_engine_complete_nspc(Chip_Namespace* nspc);
// Frees a record of deferred functions (null is ignored).
void type_engine_drop_deferred(Chip_Deferred_Members* deferred);

// The classes a module declared in its query record, into the namespace at
// dest ("" : the global namespace): their member and static functions and
// static variables. While imports are deferred the functions are recorded
// by reference to the module's records, which must then stay until the
// environment is shut down (the compiler keeps the modules it loaded).
t_CPBOOL type_engine_add_dll(Chip_Env* env, Chip_DLL* dll, const std::string& dest);

// Syntax-tree fragments of a module function: a bodiless, built-in function
// definition carrying the native function, and its argument list (NULL for
// no arguments or on error). The caller owns what they return.
a_Func_Def make_dll_as_fun(Chip_DL_Func* dl_fun, t_CPBOOL is_static);
a_Arg_List make_dll_arg_list(Chip_DL_Func* dl_fun);

// The native function an imported definition carries, or NULL for a
// definition written in source. Until the syntax tree has a slot of its own
// for it, the pointer rides in the definition's pass_slot, and an imported
// definition also carries an empty code block so that the checker counts it
// as having code; code generation must call the function's native code
// (Chip_Func::code, made by the import) and never emit that block.
void* import_native_func(a_Func_Def def);

#endif
