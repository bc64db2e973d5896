// Compiled code: the unit the emitter makes and the machine runs.
//
// Chip_VM_Code is a compiled unit (a file's top level or one function): an
// array of instructions plus what a call needs to know about it. It is
// counted by references: a shred holds one on the code it started with.
// Its decoded array (chip_vm_exec.h) is made when it first runs.
#ifndef CHIP_CHIP_VM_CODE_H
#define CHIP_CHIP_VM_CODE_H

#include <string>
#include <vector>

#include "chip/util/chip_def.h"
#include "chip/vm/chip_oo.h"

class Chip_Instr;
struct Chip_Decoded;

// ---------------------------------------------------------------------------
// Compiled code.
struct Chip_VM_Code : Chip_Object {
  // Kind of the native function of an imported function (0 for compiled code).
  enum NativeKind : t_CPUINT {
    NATIVE_NONE = 0,
    NATIVE_CTOR = 1,  // constructor (self, args, shred)
    NATIVE_MFUN = 2,  // member function (self, args, return, shred)
    NATIVE_SFUN = 3,  // static function (args, return, shred)
    NATIVE_DTOR = 4   // destructor (self, shred), run when the object is freed
  };

  // No instructions, count 0, empty name, every other field 0.
  Chip_VM_Code();
  // Deletes every non-null instruction, then the array.
  ~Chip_VM_Code() override;

  Chip_Instr** instr;            // num_instr instructions, owned (new[])
  t_CPUINT num_instr;
  std::string name;
  t_CPUWORD stack_depth;         // bytes of the arguments, `this` included
  t_CPUWORD frame_depth;         // bytes of the whole frame: arguments and locals
  // At most this many bytes are pushed on the register stack by the code's
  // own instructions above the depth at its entry (0 for native code). A
  // call, and a shred's start, refuses to enter the code when they would
  // not fit, so that no expression writes past the end of the stack.
  t_CPUWORD reg_depth;
  t_CPBOOL need_this;            // member function: takes the object pointer
  // Byte offsets in the frame of the local variables that hold objects.
  // Each holds one reference (or null); a call clears them on entry and the
  // frame gives their references back when it ends.
  std::vector<t_CPUWORD> obj_locals;
  void* native_func;             // native function of an imported function
  t_CPUINT native_func_type;     // a NativeKind
  // The instructions decoded for the machine's loop (chip_vm_exec.h),
  // made when the code first runs; owned.
  Chip_Decoded* decoded;
  // The object the code's instructions live as long as (the compilation
  // context of a file's code or of a spork), or null: a shred started from
  // the code holds it too, from its initialisation to its shutdown.
  Chip_VM_Object* keeper = nullptr;
};

#endif
