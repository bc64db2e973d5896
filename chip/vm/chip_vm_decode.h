// A code's instructions decoded for the machine's loop.
//
// The first time a code runs, its instructions are decoded once into a
// compact array, one entry per instruction at the same index: an operation
// and its operand for the commonest instructions (pushes of immediates and
// variables, pops, primitive assignment, int and float arithmetic and
// comparisons, ++ and --, the int branches and goto), which the loop runs
// inline with the register stack's top in a register (their semantics are
// chip_instr_ops.h, shared with their execute); every other instruction is
// entry CHIP_OP_EXECUTE and runs through its own execute. Indices, jump
// targets and the instructions themselves (their names, dumps and
// behaviour) are unchanged: the array is only a faster way to run them.
//
// The array belongs to the code (Chip_VM_Code::decoded) and is made on the
// machine's thread when the code first runs; a code's instructions do not
// change once it has run.
#ifndef CHIP_CHIP_VM_DECODE_H
#define CHIP_CHIP_VM_DECODE_H

#include <cstdint>

#include "chip/util/chip_def.h"

class Chip_Instr;
struct Chip_VM_Code;

enum Chip_Op : std::uint8_t {
  CHIP_OP_EXECUTE,  // the instruction's own execute
  // Pushes: the word or double operand; a variable of the frame (mem) or of
  // the file (base) at an offset: its word, its double or its address.
  CHIP_OP_PUSH_IMM,
  CHIP_OP_PUSH_IMM2,
  CHIP_OP_PUSH_MEM,
  CHIP_OP_PUSH_MEM2,
  CHIP_OP_PUSH_MEM_ADDR,
  CHIP_OP_PUSH_BASE,
  CHIP_OP_PUSH_BASE2,
  CHIP_OP_PUSH_BASE_ADDR,
  CHIP_OP_POP,  // operand: bytes
  CHIP_OP_ASSIGN,
  CHIP_OP_ASSIGN2,
  CHIP_OP_ADD_INT,
  CHIP_OP_MINUS_INT,
  CHIP_OP_TIMES_INT,
  CHIP_OP_LT_INT,
  CHIP_OP_GT_INT,
  CHIP_OP_LE_INT,
  CHIP_OP_GE_INT,
  CHIP_OP_EQ_INT,
  CHIP_OP_NEQ_INT,
  CHIP_OP_PREINC_INT,
  CHIP_OP_POSTINC_INT,
  CHIP_OP_PREDEC_INT,
  CHIP_OP_POSTDEC_INT,
  CHIP_OP_ADD_FLOAT,
  CHIP_OP_MINUS_FLOAT,
  CHIP_OP_TIMES_FLOAT,
  CHIP_OP_DIVIDE_FLOAT,
  CHIP_OP_LT_FLOAT,
  CHIP_OP_GT_FLOAT,
  CHIP_OP_LE_FLOAT,
  CHIP_OP_GE_FLOAT,
  CHIP_OP_EQ_FLOAT,
  CHIP_OP_NEQ_FLOAT,
  CHIP_OP_BRANCH_EQ_INT,  // operand: the target index
  CHIP_OP_BRANCH_NEQ_INT,
  CHIP_OP_GOTO,
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
