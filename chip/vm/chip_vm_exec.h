// The machine's interpreter loop and the decoded code it runs.
//
// The first time a code runs, its instructions are decoded once into a
// compact array, one entry per instruction at the same index: an operation
// and its operands for the commonest instructions (pushes of immediates and
// variables, pops, primitive assignment, int and float arithmetic and
// comparisons, ++ and --, the int branches and goto, calls and returns of
// compiled code: the list in chip_vm_ops.h), which the loop runs inline with
// the register stack's top in a register (their semantics are
// chip_instr_ops.h and chip_instr_call.h, shared with their execute); every
// other instruction is entry CHIP_OP_EXECUTE and runs through its own
// execute. A few runs of instructions are fused into one operation at the
// run's first entry (the second list of chip_vm_ops.h): a comparison and
// the branch on it, a store statement, `i++;`, arithmetic on variables
// stored into a variable (`x + y => z;`, `3 +=> x;`), the end of a loop's
// turn (its step, the goto back and the loop's test, which then goes on to
// the body or past the loop), and a call of a function known when the code
// was emitted, whose code is called without being pushed. A loop of the
// commonest shape (`for (0 => int i; i < n; i++) sum + i => sum;`) thus
// takes two dispatches a turn instead of seven. Indices, jump targets and the instructions themselves (their
// names, dumps, behaviour and the program counter their exceptions report)
// are unchanged: the array is only a faster way to run them.
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

// CHIP_OP_EXECUTE (the instruction's own execute), then the list's
// operations, then the fused ones.
enum Chip_Op : std::uint8_t {
  CHIP_OP_EXECUTE,
#define CHIP_VM_OP_ENUM(op, instr_class, operand) CHIP_OP_##op,
  CHIP_VM_OPS(CHIP_VM_OP_ENUM)
#undef CHIP_VM_OP_ENUM
#define CHIP_VM_FUSED_ENUM(op, span, first, matcher) CHIP_OP_##op,
  CHIP_VM_FUSED(CHIP_VM_FUSED_ENUM)
#undef CHIP_VM_FUSED_ENUM
  CHIP_OP_COUNT
};

struct Chip_Decoded {
  // The loop's handler of op, filled in by the loop itself (the addresses of
  // its labels are its own) before it first runs the code; null until then.
  const void* handler;
  Chip_Op op;
  std::uint8_t span;  // instructions the entry runs: 1, or a fused run's length
  // The fused operations on variables: where each operand lives (the
  // frame, the file, or the entry itself for an immediate), a step's
  // direction and a comparison's truth table (chip_vm_exec.cpp).
  std::uint16_t places;
  std::uint32_t aux;  // a second operand (a call's local depth, an offset)
  union {
    t_CPUWORD word;  // immediate, offset, byte count, target or callee's code
    t_CPFLOAT real;  // immediate double
  };
  // A third operand: a call's held offsets, a jump's target, or an
  // immediate the entry keeps (read where a variable would be).
  t_CPUWORD word2;
  Chip_Instr* instr;  // the instruction (what CHIP_OP_EXECUTE runs)
  // A fused loop's two ways on, as byte offsets into the decoded array:
  // where it goes when its test holds (the loop's body) and when it does
  // not (the loop's end).
  std::uint32_t then_to;
  std::uint32_t else_to;
};

// The code's decoded array (num_instr entries), made on first use.
const Chip_Decoded* chip_decoded(Chip_VM_Code* code);

#endif
