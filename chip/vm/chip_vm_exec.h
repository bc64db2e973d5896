// The machine's interpreter loop and the decoded code it runs.
//
// The first time a code runs, its instructions are decoded once into a
// compact array, one entry per instruction at the same index: an operation
// and its operand for the commonest instructions (pushes of immediates and
// variables, pops, primitive assignment, int and float arithmetic and
// comparisons, ++ and --, the int branches and goto: the list in
// chip_vm_ops.h), which the loop runs inline with the register stack's top
// in a register (their semantics are chip_instr_ops.h, shared with their
// execute); every other instruction is entry CHIP_OP_EXECUTE and runs
// through its own execute. Indices, jump targets and the instructions
// themselves (their names, dumps and behaviour) are unchanged: the array is
// only a faster way to run them.
//
// The loop (Chip_VM::run_shred and run_decoded, defined with the decoder) is
// threaded: each operation ends by jumping straight to the next one's
// handler. It looks for a stop or an abort when a shred starts running and
// at every jump back and call.
//
// The array belongs to the code (Chip_VM_Code::decoded) and is made on the
// machine's thread when the code first runs; a code's instructions do not
// change once it has run.
#ifndef CHIP_CHIP_VM_EXEC_H
#define CHIP_CHIP_VM_EXEC_H

#include <cstdint>

#include "chip/util/chip_def.h"
#include "chip/vm/chip_vm_ops.h"

class Chip_Instr;
struct Chip_VM_Code;

// CHIP_OP_EXECUTE (the instruction's own execute), then the list's operations.
enum Chip_Op : std::uint8_t {
  CHIP_OP_EXECUTE,
#define CHIP_VM_OP_ENUM(op, instr_class, operand) CHIP_OP_##op,
  CHIP_VM_OPS(CHIP_VM_OP_ENUM)
#undef CHIP_VM_OP_ENUM
  CHIP_OP_COUNT
};

struct Chip_Decoded {
  Chip_Op op;
  union {
    t_CPUWORD word;  // immediate, offset, byte count or target
    t_CPFLOAT real;  // immediate double
  };
  Chip_Instr* instr;  // the instruction (what CHIP_OP_EXECUTE runs)
};

// The code's decoded array (num_instr entries), made on first use.
const Chip_Decoded* chip_decoded(Chip_VM_Code* code);

#endif
