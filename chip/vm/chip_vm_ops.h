// The machine's quick operations: the one list the decoded loop is made from.
//
// Each line X(op, instruction class, operand) is one operation the loop runs
// inline (chip_vm_exec.h): the instruction of exactly that class decodes to
// CHIP_OP_<op>, with its operand read by the named reader, and the loop runs
// it at the label op_<op> in Chip_VM::run_decoded. The Chip_Op enum, the
// decoder's class table and the loop's table of labels are all generated
// from this list, so they cannot disagree; an operation is added by one line
// here and its handler (the label and its body) in the loop. A line without
// a handler, or a handler without a line, does not compile. Several lines may
// share one handler (the pops), their labels written one above the other.
//
// Operand readers (chip_vm_exec.cpp); each reads from the instruction what
// the handler finds in the entry's operand:
//   none           nothing (0)
//   own_word       the instruction's word: an immediate or a jump's target
//   own_double     the instruction's double immediate
//   frame_offset   a variable's offset in the frame (the class, not for the
//                  file's variables)
//   file_offset    a variable's offset among the file's variables (the same
//                  classes, when they read the file's)
//   word_bytes     the bytes of one word (what the pop drops)
//   double_bytes   the bytes of one double
//   counted_words  the bytes of the instruction's count of words
#ifndef CHIP_CHIP_VM_OPS_H
#define CHIP_CHIP_VM_OPS_H

// clang-format off
#define CHIP_VM_OPS(X)                                              \
  X(PUSH_IMM,       Chip_Instr_Reg_Push_Imm,       own_word)        \
  X(PUSH_IMM2,      Chip_Instr_Reg_Push_Imm2,      own_double)      \
  X(PUSH_MEM,       Chip_Instr_Reg_Push_Mem,       frame_offset)    \
  X(PUSH_MEM2,      Chip_Instr_Reg_Push_Mem2,      frame_offset)    \
  X(PUSH_MEM_ADDR,  Chip_Instr_Reg_Push_Mem_Addr,  frame_offset)    \
  X(PUSH_BASE,      Chip_Instr_Reg_Push_Mem,       file_offset)     \
  X(PUSH_BASE2,     Chip_Instr_Reg_Push_Mem2,      file_offset)     \
  X(PUSH_BASE_ADDR, Chip_Instr_Reg_Push_Mem_Addr,  file_offset)     \
  X(POP,            Chip_Instr_Reg_Pop_Word,       word_bytes)      \
  X(POP2,           Chip_Instr_Reg_Pop_Word2,      double_bytes)    \
  X(POP_WORDS,      Chip_Instr_Reg_Pop_Word3,      counted_words)   \
  X(ASSIGN,         Chip_Instr_Assign_Primitive,   none)            \
  X(ASSIGN2,        Chip_Instr_Assign_Primitive2,  none)            \
  X(ADD_INT,        Chip_Instr_Add_int,            none)            \
  X(MINUS_INT,      Chip_Instr_Minus_int,          none)            \
  X(TIMES_INT,      Chip_Instr_Times_int,          none)            \
  X(LT_INT,         Chip_Instr_Lt_int,             none)            \
  X(GT_INT,         Chip_Instr_Gt_int,             none)            \
  X(LE_INT,         Chip_Instr_Le_int,             none)            \
  X(GE_INT,         Chip_Instr_Ge_int,             none)            \
  X(EQ_INT,         Chip_Instr_Eq_int,             none)            \
  X(NEQ_INT,        Chip_Instr_Neq_int,            none)            \
  X(PREINC_INT,     Chip_Instr_PreInc_int,         none)            \
  X(POSTINC_INT,    Chip_Instr_PostInc_int,        none)            \
  X(PREDEC_INT,     Chip_Instr_PreDec_int,         none)            \
  X(POSTDEC_INT,    Chip_Instr_PostDec_int,        none)            \
  X(ADD_FLOAT,      Chip_Instr_Add_double,         none)            \
  X(MINUS_FLOAT,    Chip_Instr_Minus_double,       none)            \
  X(TIMES_FLOAT,    Chip_Instr_Times_double,       none)            \
  X(DIVIDE_FLOAT,   Chip_Instr_Divide_double,      none)            \
  X(LT_FLOAT,       Chip_Instr_Lt_double,          none)            \
  X(GT_FLOAT,       Chip_Instr_Gt_double,          none)            \
  X(LE_FLOAT,       Chip_Instr_Le_double,          none)            \
  X(GE_FLOAT,       Chip_Instr_Ge_double,          none)            \
  X(EQ_FLOAT,       Chip_Instr_Eq_double,          none)            \
  X(NEQ_FLOAT,      Chip_Instr_Neq_double,         none)            \
  X(BRANCH_EQ_INT,  Chip_Instr_Branch_Eq_int,      own_word)        \
  X(BRANCH_NEQ_INT, Chip_Instr_Branch_Neq_int,     own_word)        \
  X(GOTO,           Chip_Instr_Goto,               own_word)
// clang-format on

#endif
