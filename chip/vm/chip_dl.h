// Module interface: the shapes of native functions, the description of a
// unit-generator class, the records through which a module declares its
// classes, and the guarded calls of native code.
//
// Native classes give their behaviour to the language as plain functions of
// fixed shapes: constructor, destructor, member and static functions, and,
// for unit generators, tick (one output sample from one input sample), pmsg
// (a parameter message hook) and, for analysers, tock (one analysis frame).
// The per-class Chip_UGen_Info carries a unit-generator class's tick, pmsg
// and tock and its numbers of audio and analysis inputs and outputs; it is
// attached to the class's Chip_Type (counted by the type) and copied into
// every node made of that class.
//
// A module is a query function (its name followed by "_query") bound to a
// Chip_DLL. Running the query hands the module a Chip_DL_Query: a table of
// twelve registration operations, called through as
//     QUERY->begin_class(QUERY, "Foo", "UGen");
//     QUERY->add_mfun(QUERY, Foo_gain, "float", "gain");
//     QUERY->add_arg(QUERY, "float", "value");
//     QUERY->end_class(QUERY);
// which collect Chip_DL_Class, Chip_DL_Func and Chip_DL_Value records. The
// import interface (chip_import.h) turns those records into language
// classes; modules that need member variables, constructors or unit-
// generator hooks call the import interface directly instead, with
// Chip_DL_Func records made by make_new_mfun / make_new_sfun.
//
// Native arguments arrive as one packed block: each declared argument right
// after the one before, an int or an object reference in one pointer-wide
// word (an int sign-extended), float, time and dur as 8-byte doubles,
// complex and polar as two doubles. A native function reads them in order
// through a cursor:
//     void* cur = ARGS;
//     t_CPINT n = GET_NEXT_INT(cur);
//     t_CPFLOAT f = GET_NEXT_FLOAT(cur);
//     Chip_Object* o = GET_NEXT_OBJECT(cur);
// Results go into a Chip_DL_Return, of which the caller copies as many
// bytes as the declared return type takes.
//
// Native code never unwinds through the machine: the call instructions and
// the graph run it through the chip_dl_call_* wrappers below, which catch
// whatever it throws, report it and tell the caller, which then stops the
// offending shred or silences the offending unit generator.
//
// Threads: infos and query records are created and filled while classes are
// registered (the thread that starts the engine); the native functions run
// on the machine's thread.
#ifndef CHIP_CHIP_DL_H
#define CHIP_CHIP_DL_H

#include <cstring>
#include <string>
#include <vector>

#include "chip/util/chip_def.h"
#include "chip/vm/chip_oo.h"

struct Chip_Object;
struct Chip_String;
struct Chip_UAna;
struct Chip_UAnaBlobProxy;
struct Chip_VM_Shred;
struct Chip_DL_Query;

// One audio sample.
typedef float SAMPLE;

// The result slot of a native member or static function: 16 bytes, of which
// the caller reads the int (word), the double, the pair of doubles or the
// object reference by the function's declared return type.
union Chip_DL_Return {
  t_CPWORD v_int;
  t_CPUWORD v_uint;
  t_CPFLOAT v_float;
  t_CPDUR v_dur;
  t_CPTIME v_time;
  t_CPCOMPLEX v_complex;
  t_CPPOLAR v_polar;
  Chip_Object* v_object;
  Chip_String* v_string;

  Chip_DL_Return() : v_complex{0.0, 0.0} {}
};

// Native function shapes (the argument names are those the modules use).
typedef void (*f_ctor)(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
typedef void (*f_dtor)(Chip_Object* SELF, Chip_VM_Shred* SHRED);
typedef void (*f_mfun)(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                       Chip_VM_Shred* SHRED);
typedef void (*f_sfun)(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// One output sample from the combined input; the result is the node's valid
// flag (0: no valid output).
typedef unsigned long (*f_tick)(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED);
// A block of output samples from a block of combined inputs, each frame as
// one tick would make it, in order. in and out may be the same array (each
// input is read before its output is written). Every computed frame is
// valid; the result is their number: `frames`, or the frame at which the
// class's code faulted (reported by the block tick, as chip_dl_tick_fault
// does), from which on the graph silences the node.
typedef unsigned long (*f_tick_v)(Chip_Object* SELF, const SAMPLE* in, SAMPLE* out,
                                  unsigned long frames, Chip_VM_Shred* SHRED);
// A parameter message; 1 when handled.
typedef unsigned long (*f_pmsg)(Chip_Object* SELF, const char* msg, void* ARGS,
                                Chip_VM_Shred* SHRED);
// One analysis frame into the analyser's blob; the result becomes its valid
// flag.
typedef unsigned long (*f_tock)(Chip_Object* SELF, Chip_UAna* UANA, Chip_UAnaBlobProxy* BLOB,
                                Chip_VM_Shred* SHRED);
// A unit-generator control's setter (which also returns the new value) and
// getter: member functions by shape.
typedef f_mfun f_ctrl;
typedef f_mfun f_cget;
// A module's query function: TRUE when the module declared itself.
typedef t_CPBOOL (*f_ck_query)(Chip_DL_Query* QUERY);

// ---------------------------------------------------------------------------
// The description of a unit-generator class.

// How a class's nodes may be rendered a block of frames at a time (the
// `block` flags of Chip_UGen_Info and Chip_UGen).
enum {
  // The tick reads nothing but its node's own state and input, writes
  // nothing but its node's state, and every tick is valid: a block of ticks
  // gives what as many ticks made sample by sample would.
  CHIP_BLOCK_EXACT = 1,
  // The tick draws from the process-wide random generator. Two such nodes
  // take turns sample by sample but draw a block each at a time, so a
  // block is exact only while at most one of them is in the graph.
  CHIP_BLOCK_SHARED_RANDOM = 2,
};

struct Chip_UGen_Info : Chip_VM_Object {
  Chip_UGen_Info();
  ~Chip_UGen_Info() override;

  f_tick tick;                 // NULL: the node keeps its output
  f_pmsg pmsg;                 // NULL: none
  unsigned long num_ins;       // audio inputs (1)
  unsigned long num_outs;      // audio outputs (1)
  f_tock tock;                 // NULL: not an analyser
  unsigned long num_ins_ana;   // analysis inputs (1)
  unsigned long num_outs_ana;  // analysis outputs (1)
  // The block form of tick (NULL: the graph calls tick frame by frame) and
  // the CHIP_BLOCK_* flags (0: rendered sample by sample). Both go with
  // tick: a class that brings its own tick starts without them.
  f_tick_v tick_v;
  unsigned long block;
};

// ---------------------------------------------------------------------------
// Packed-argument reader. Each call reads the next argument at the cursor
// and moves the cursor past it (reads are unaligned-safe).
inline t_CPWORD GET_NEXT_WORD(void*& cursor) {
  t_CPWORD value;
  std::memcpy(&value, cursor, sizeof value);
  cursor = static_cast<unsigned char*>(cursor) + sizeof value;
  return value;
}
inline t_CPINT GET_NEXT_INT(void*& cursor) { return static_cast<t_CPINT>(GET_NEXT_WORD(cursor)); }
inline t_CPUINT GET_NEXT_UINT(void*& cursor) {
  return static_cast<t_CPUINT>(GET_NEXT_WORD(cursor));
}
inline t_CPFLOAT GET_NEXT_FLOAT(void*& cursor) {
  t_CPFLOAT value;
  std::memcpy(&value, cursor, sizeof value);
  cursor = static_cast<unsigned char*>(cursor) + sizeof value;
  return value;
}
inline t_CPTIME GET_NEXT_TIME(void*& cursor) { return GET_NEXT_FLOAT(cursor); }
inline t_CPDUR GET_NEXT_DUR(void*& cursor) { return GET_NEXT_FLOAT(cursor); }
inline t_CPCOMPLEX GET_NEXT_COMPLEX(void*& cursor) {
  t_CPCOMPLEX value;
  std::memcpy(&value, cursor, sizeof value);
  cursor = static_cast<unsigned char*>(cursor) + sizeof value;
  return value;
}
inline t_CPPOLAR GET_NEXT_POLAR(void*& cursor) {
  t_CPPOLAR value;
  std::memcpy(&value, cursor, sizeof value);
  cursor = static_cast<unsigned char*>(cursor) + sizeof value;
  return value;
}
inline Chip_Object* GET_NEXT_OBJECT(void*& cursor) {
  return reinterpret_cast<Chip_Object*>(GET_NEXT_WORD(cursor));
}
inline Chip_String* GET_NEXT_STRING(void*& cursor) {
  return reinterpret_cast<Chip_String*>(GET_NEXT_WORD(cursor));
}

// ---------------------------------------------------------------------------
// Module records.

// A variable or an argument declared by a module.
struct Chip_DL_Value {
  Chip_DL_Value(const std::string& type, const std::string& name, unsigned long is_const = 0,
                void* addr = nullptr);

  std::string name;
  std::string type;
  unsigned long is_const;
  void* addr;  // storage of a static variable, NULL otherwise
};

// A function declared by a module.
struct Chip_DL_Func {
  Chip_DL_Func(const std::string& type, const std::string& name, void* addr);
  ~Chip_DL_Func();
  Chip_DL_Func(const Chip_DL_Func&) = delete;
  Chip_DL_Func& operator=(const Chip_DL_Func&) = delete;

  // Appends an argument (not const, no address); calls in parameter order.
  void add_arg(const std::string& type, const std::string& name);

  std::string name;
  std::string type;  // return type
  void* addr;        // the native function
  std::vector<Chip_DL_Value*> args;  // owned, in declaration order
};

// A unit-generator control (recorded by nobody: controls are imported as
// ordinary member functions).
struct Chip_DL_Ctrl {
  std::string name;
  std::string type;
  f_ctrl ctrl;
  f_cget cget;
};

// A class declared by a module.
struct Chip_DL_Class {
  Chip_DL_Class(const std::string& name, const std::string& parent);
  ~Chip_DL_Class();
  Chip_DL_Class(const Chip_DL_Class&) = delete;
  Chip_DL_Class& operator=(const Chip_DL_Class&) = delete;

  std::string name;
  std::string parent;  // empty: Object
  std::vector<Chip_DL_Func*> ctors;
  Chip_DL_Func* dtor;  // at most one
  std::vector<Chip_DL_Func*> mfuns;
  std::vector<Chip_DL_Func*> sfuns;
  std::vector<Chip_DL_Value*> mvars;
  std::vector<Chip_DL_Value*> svars;
  f_tick ugen_tick;
  f_pmsg ugen_pmsg;
  std::vector<Chip_DL_Ctrl*> ugen_ctrl;
  std::vector<Chip_DL_Class*> classes;  // nested
};

// The registration operations (the query first).
typedef void (*f_setname)(Chip_DL_Query*, const char* name);
typedef void (*f_begin_class)(Chip_DL_Query*, const char* name, const char* parent);
typedef void (*f_add_ctor)(Chip_DL_Query*, f_ctor ctor);
typedef void (*f_add_dtor)(Chip_DL_Query*, f_dtor dtor);
typedef void (*f_add_mfun)(Chip_DL_Query*, f_mfun mfun, const char* type, const char* name);
typedef void (*f_add_sfun)(Chip_DL_Query*, f_sfun sfun, const char* type, const char* name);
typedef void (*f_add_mvar)(Chip_DL_Query*, const char* type, const char* name,
                           unsigned long is_const);
typedef void (*f_add_svar)(Chip_DL_Query*, const char* type, const char* name,
                           unsigned long is_const, void* addr);
typedef void (*f_add_arg)(Chip_DL_Query*, const char* type, const char* name);
typedef void (*f_add_ugen_func)(Chip_DL_Query*, f_tick tick, f_pmsg pmsg);
typedef void (*f_add_ugen_ctrl)(Chip_DL_Query*, f_ctrl ctrl, f_cget cget, const char* type,
                                const char* name);
typedef unsigned long (*f_end_class)(Chip_DL_Query*);

// The record handed to a module's query function.
struct Chip_DL_Query {
  Chip_DL_Query();
  ~Chip_DL_Query();
  Chip_DL_Query(const Chip_DL_Query&) = delete;
  Chip_DL_Query& operator=(const Chip_DL_Query&) = delete;

  // name back to "[noname]"; every top-level class deleted.
  void clear();

  f_setname setname;
  f_begin_class begin_class;
  f_add_ctor add_ctor;
  f_add_dtor add_dtor;
  f_add_mfun add_mfun;
  f_add_sfun add_sfun;
  f_add_mvar add_mvar;
  f_add_svar add_svar;
  f_add_arg add_arg;
  f_add_ugen_func add_ugen_func;
  f_add_ugen_ctrl add_ugen_ctrl;
  f_end_class end_class;

  Chip_DL_Class* curr_class;             // the open class, NULL at top level
  Chip_DL_Func* curr_func;               // what add_arg extends, or NULL
  std::vector<Chip_DL_Class*> classes;   // top-level classes (owned)
  std::vector<Chip_DL_Class*> stack;     // classes enclosing curr_class
  std::string name;                      // "[noname]" until setname
  unsigned long srate;                   // sample rate at construction
  unsigned long bufsize;                 // buffer size at construction
};

// The registration operations themselves (what the table points to).
void cp_setname(Chip_DL_Query* query, const char* name);
void cp_begin_class(Chip_DL_Query* query, const char* name, const char* parent);
void cp_add_ctor(Chip_DL_Query* query, f_ctor ctor);
void cp_add_dtor(Chip_DL_Query* query, f_dtor dtor);
void cp_add_mfun(Chip_DL_Query* query, f_mfun mfun, const char* type, const char* name);
void cp_add_sfun(Chip_DL_Query* query, f_sfun sfun, const char* type, const char* name);
void cp_add_mvar(Chip_DL_Query* query, const char* type, const char* name,
                 unsigned long is_const);
void cp_add_svar(Chip_DL_Query* query, const char* type, const char* name, unsigned long is_const,
                 void* addr);
void cp_add_arg(Chip_DL_Query* query, const char* type, const char* name);
void cp_add_ugen_func(Chip_DL_Query* query, f_tick tick, f_pmsg pmsg);
void cp_add_ugen_ctrl(Chip_DL_Query* query, f_ctrl ctrl, f_cget cget, const char* type,
                      const char* name);
unsigned long cp_end_class(Chip_DL_Query* query);

// New function records with no arguments (the caller owns them), for the
// direct import operations.
Chip_DL_Func* make_new_mfun(const char* type, const char* name, f_mfun mfun);
Chip_DL_Func* make_new_sfun(const char* type, const char* name, f_sfun sfun);

// ---------------------------------------------------------------------------
// A module bound to its query function (every module is linked in: no
// library file is ever opened).
struct Chip_DLL : Chip_VM_Object {
  explicit Chip_DLL(const std::string& id = "");
  ~Chip_DLL() override;

  // Binds the query function; lazy: TRUE at once, else runs query().
  t_CPBOOL load(f_ck_query query_func, t_CPBOOL lazy = FALSE);
  // The filled query record (the query function runs once), or NULL.
  Chip_DL_Query* query();
  // Forgets the query function; FALSE when nothing is bound.
  t_CPBOOL unload();
  const char* name() const { return m_id.c_str(); }
  const char* last_error() const { return m_last_error.c_str(); }

  void* m_handle;  // library handle: always NULL here
  std::string m_last_error;
  std::string m_filename;
  std::string m_id;    // the module's name
  std::string m_func;  // name of the query symbol
  t_CPBOOL m_done_query;
  f_ck_query m_query_func;
  Chip_DL_Query m_query;
};

// ---------------------------------------------------------------------------
// Guarded calls of native code. Each runs the function and answers TRUE;
// when the function throws, the exception is caught and reported and the
// answer is FALSE:
//   ctor, dtor, mfun, sfun: "[chip](VM): NativeException: shred[id=%d:%s],
//     PC=[%d]: %s\n" (the exception's text), and the shred is stopped as by a
//     run-time exception; with no shred only the message is printed
//     ("[chip](VM): NativeException: %s\n");
//   tick, pmsg, tock: "[chip](VM): NativeException: UGen '%s' silenced: %s\n"
//     with the node's type name; the caller silences the node.
// The results of tick, pmsg and tock go to *result (untouched on a throw).
t_CPBOOL chip_dl_call_ctor(f_ctor fn, Chip_Object* self, void* args, Chip_VM_Shred* shred);
t_CPBOOL chip_dl_call_dtor(f_dtor fn, Chip_Object* self, Chip_VM_Shred* shred);
t_CPBOOL chip_dl_call_mfun(f_mfun fn, Chip_Object* self, void* args, Chip_DL_Return* ret,
                           Chip_VM_Shred* shred);
t_CPBOOL chip_dl_call_sfun(f_sfun fn, void* args, Chip_DL_Return* ret, Chip_VM_Shred* shred);
// Prints the tick fault of self for the exception being handled (called
// only from inside a handler).
void chip_dl_tick_fault(Chip_Object* self);
// Inline: the graph calls it once per node and sample, and the guard costs
// nothing until something throws.
inline t_CPBOOL chip_dl_call_tick(f_tick fn, Chip_Object* self, SAMPLE in, SAMPLE* out,
                                  Chip_VM_Shred* shred, unsigned long* result) {
  try {
    unsigned long r = fn(self, in, out, shred);
    if (result) *result = r;
    return TRUE;
  } catch (...) {
    chip_dl_tick_fault(self);
    return FALSE;
  }
}
t_CPBOOL chip_dl_call_pmsg(f_pmsg fn, Chip_Object* self, const char* msg, void* args,
                           Chip_VM_Shred* shred, unsigned long* result);
t_CPBOOL chip_dl_call_tock(f_tock fn, Chip_Object* self, Chip_UAna* uana,
                           Chip_UAnaBlobProxy* blob, Chip_VM_Shred* shred,
                           unsigned long* result);

#endif
