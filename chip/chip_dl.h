// Module interface: the shapes of native functions and the description of a
// unit-generator class.
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
// Native arguments arrive as one packed block: each declared argument right
// after the one before, an int or an object reference in one pointer-wide
// word, float, time and dur as 8-byte doubles. Results go into a
// Chip_DL_Return, of which the caller copies as many bytes as the declared
// return type takes.
//
// Threads: infos are created and filled while classes are registered (the
// thread that starts the engine); the functions they point to run on the
// machine's thread.
//
// TODO(module interface): Chip_DL_Query, Chip_DL_Class, Chip_DL_Func,
// Chip_DL_Value and Chip_DLL, with the registration operations, join this
// module in a later issue.
#ifndef CHIP_CHIP_DL_H
#define CHIP_CHIP_DL_H

#include "chip/chip_def.h"
#include "chip/chip_oo.h"

struct Chip_Object;
struct Chip_UAna;
struct Chip_UAnaBlobProxy;
struct Chip_VM_Shred;

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
// A parameter message; 1 when handled.
typedef unsigned long (*f_pmsg)(Chip_Object* SELF, const char* msg, void* ARGS,
                                Chip_VM_Shred* SHRED);
// One analysis frame into the analyser's blob; the result becomes its valid
// flag.
typedef unsigned long (*f_tock)(Chip_Object* SELF, Chip_UAna* UANA, Chip_UAnaBlobProxy* BLOB,
                                Chip_VM_Shred* SHRED);

// ---------------------------------------------------------------------------
// The description of a unit-generator class.
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
};

#endif
