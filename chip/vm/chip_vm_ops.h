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
//   held_offsets   the call's held offsets (null when none): what its
//                  frame's header records
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
  X(GOTO,           Chip_Instr_Goto,               own_word)        \
  X(FUNC_TO_CODE,   Chip_Instr_Func_To_Code,       none)            \
  X(FUNC_CALL,      Chip_Instr_Func_Call,          held_offsets)    \
  X(FUNC_RETURN,    Chip_Instr_Func_Return,        none)

// The fused operations: runs of instructions that the loop runs as one, each
// line X(op, instructions, first, matcher). Where the run's first
// instruction decodes to CHIP_OP_<first>, the matcher (chip_vm_exec.cpp)
// finds its run at that index, and no jump lands inside the run, the entry at
// that index becomes CHIP_OP_<op>, with the operands the matcher read; the
// loop runs it at the label op_<op> and goes on after the run (or, for a
// loop's end, where its test sends it). The other entries of the run keep
// their own operations, never reached. The lines are tried in their order,
// the first that matches wins: a run that contains another's (a loop's step
// and `i++;`) or a narrower form of it (`<` before any comparison) comes
// first. As for the list above, the enum, the table of labels and the
// decoder's table of matchers are generated from this list.
//
// Matchers:
//   direct_call       a call of a known function (the callee of its
//                     Chip_Instr_Func_Call): the function pushed (a push of
//                     it, or of its class and the static function), its
//                     code, the local depth and the call; the callee's code
//                     is called without being pushed
//   compare_else<C>   the int comparison C, a push of 0 and Branch_Eq_int:
//                     a comparison that jumps when it is false
//   var_imm_else<C, B>
//                     the push of an int variable (B: the file's) and of an
//                     int immediate, then compare_else<C>: a loop's test
//                     `i < 100` or a function's `n < 2`
//   store<A, P, B>    the address of a variable (B: the file's), the
//                     assignment A and the pop P of its value: a statement
//                     `value => variable;`
//   step<B>           the address of an int variable (B: the file's), ++
//                     or -- (either form) and the pop of its value: a
//                     statement `i++;`
//   into<O, F, B>     the push of an int (F: a double) variable, the push of
//                     another or of an immediate, the arithmetic O, the
//                     address of a variable, the assignment and the pop of
//                     its value, every variable in the frame (B: the
//                     file's): a statement `x + y => z;` or `x * 0.5 => z;`
//   imm_to<O, F>      the push of an immediate (F: a double), the address of
//                     a variable and the arithmetic assignment O with the
//                     pop of its value: a statement `3 +=> x;`
//   step_loop<B, V, L>
//                     the statement `i++;` (or --) and a goto to a loop's
//                     test of that variable: its push, the push of another
//                     variable (V) or of an immediate, an int comparison
//                     (L: Lt_int, the commonest, tested without the truth
//                     table), the push of 0 and Branch_Eq_int, all the
//                     variables in the frame (B: the file's): the end of a
//                     loop's turn, the step, the test and the way on (the
//                     body or past the loop) in one
//   loop              a goto to a loop's test as above, its variables
//                     anywhere
#define CHIP_VM_FUSED(X)                                                                            \
  X(STEP_LT_LOOP,      4, PUSH_MEM_ADDR,  (step_loop<false, false, true>))                         \
  X(STEP_LT_LOOP_VAR,  4, PUSH_MEM_ADDR,  (step_loop<false, true, true>))                          \
  X(STEP_LT_LOOP_BASE, 4, PUSH_BASE_ADDR, (step_loop<true, false, true>))                          \
  X(STEP_LT_LOOP_BASE_VAR, 4, PUSH_BASE_ADDR, (step_loop<true, true, true>))                       \
  X(STEP_LOOP,         4, PUSH_MEM_ADDR,  (step_loop<false, false, false>))                        \
  X(STEP_LOOP_VAR,     4, PUSH_MEM_ADDR,  (step_loop<false, true, false>))                         \
  X(STEP_LOOP_BASE,    4, PUSH_BASE_ADDR, (step_loop<true, false, false>))                         \
  X(STEP_LOOP_BASE_VAR, 4, PUSH_BASE_ADDR, (step_loop<true, true, false>))                         \
  X(LOOP,              1, GOTO,           loop)                                                     \
  X(ADD_INT_INTO,      6, PUSH_MEM,       (into<Chip_Instr_Add_int, false, false>))                 \
  X(ADD_INT_INTO_BASE, 6, PUSH_BASE,      (into<Chip_Instr_Add_int, false, true>))                  \
  X(MINUS_INT_INTO,    6, PUSH_MEM,       (into<Chip_Instr_Minus_int, false, false>))               \
  X(MINUS_INT_INTO_BASE, 6, PUSH_BASE,    (into<Chip_Instr_Minus_int, false, true>))                \
  X(TIMES_INT_INTO,    6, PUSH_MEM,       (into<Chip_Instr_Times_int, false, false>))               \
  X(TIMES_INT_INTO_BASE, 6, PUSH_BASE,    (into<Chip_Instr_Times_int, false, true>))                \
  X(ADD_FLOAT_INTO,    6, PUSH_MEM2,      (into<Chip_Instr_Add_double, true, false>))               \
  X(ADD_FLOAT_INTO_BASE, 6, PUSH_BASE2,   (into<Chip_Instr_Add_double, true, true>))                \
  X(MINUS_FLOAT_INTO,  6, PUSH_MEM2,      (into<Chip_Instr_Minus_double, true, false>))             \
  X(MINUS_FLOAT_INTO_BASE, 6, PUSH_BASE2, (into<Chip_Instr_Minus_double, true, true>))              \
  X(TIMES_FLOAT_INTO,  6, PUSH_MEM2,      (into<Chip_Instr_Times_double, true, false>))             \
  X(TIMES_FLOAT_INTO_BASE, 6, PUSH_BASE2, (into<Chip_Instr_Times_double, true, true>))              \
  X(DIVIDE_FLOAT_INTO, 6, PUSH_MEM2,      (into<Chip_Instr_Divide_double, true, false>))            \
  X(DIVIDE_FLOAT_INTO_BASE, 6, PUSH_BASE2, (into<Chip_Instr_Divide_double, true, true>))            \
  X(ADD_INT_TO,        4, PUSH_IMM,       (imm_to<Chip_Instr_Add_int_Assign, false>))               \
  X(MINUS_INT_TO,      4, PUSH_IMM,       (imm_to<Chip_Instr_Minus_int_Assign, false>))             \
  X(ADD_FLOAT_TO,      4, PUSH_IMM2,      (imm_to<Chip_Instr_Add_double_Assign, true>))             \
  X(MINUS_FLOAT_TO,    4, PUSH_IMM2,      (imm_to<Chip_Instr_Minus_double_Assign, true>))           \
  X(CALL_FUNC,         4, PUSH_IMM,       (direct_call<1>))                                         \
  X(CALL_STATIC,       5, PUSH_IMM,       (direct_call<2>))                                         \
  X(LT_MEM_IMM_ELSE,   5, PUSH_MEM,       (var_imm_else<Chip_Instr_Lt_int, false>))                 \
  X(GT_MEM_IMM_ELSE,   5, PUSH_MEM,       (var_imm_else<Chip_Instr_Gt_int, false>))                 \
  X(LE_MEM_IMM_ELSE,   5, PUSH_MEM,       (var_imm_else<Chip_Instr_Le_int, false>))                 \
  X(GE_MEM_IMM_ELSE,   5, PUSH_MEM,       (var_imm_else<Chip_Instr_Ge_int, false>))                 \
  X(EQ_MEM_IMM_ELSE,   5, PUSH_MEM,       (var_imm_else<Chip_Instr_Eq_int, false>))                 \
  X(NEQ_MEM_IMM_ELSE,  5, PUSH_MEM,       (var_imm_else<Chip_Instr_Neq_int, false>))                \
  X(LT_BASE_IMM_ELSE,  5, PUSH_BASE,      (var_imm_else<Chip_Instr_Lt_int, true>))                  \
  X(GT_BASE_IMM_ELSE,  5, PUSH_BASE,      (var_imm_else<Chip_Instr_Gt_int, true>))                  \
  X(LE_BASE_IMM_ELSE,  5, PUSH_BASE,      (var_imm_else<Chip_Instr_Le_int, true>))                  \
  X(GE_BASE_IMM_ELSE,  5, PUSH_BASE,      (var_imm_else<Chip_Instr_Ge_int, true>))                  \
  X(EQ_BASE_IMM_ELSE,  5, PUSH_BASE,      (var_imm_else<Chip_Instr_Eq_int, true>))                  \
  X(NEQ_BASE_IMM_ELSE, 5, PUSH_BASE,      (var_imm_else<Chip_Instr_Neq_int, true>))                 \
  X(LT_INT_ELSE,       3, LT_INT,         (compare_else<Chip_Instr_Lt_int>))                        \
  X(GT_INT_ELSE,       3, GT_INT,         (compare_else<Chip_Instr_Gt_int>))                        \
  X(LE_INT_ELSE,       3, LE_INT,         (compare_else<Chip_Instr_Le_int>))                        \
  X(GE_INT_ELSE,       3, GE_INT,         (compare_else<Chip_Instr_Ge_int>))                        \
  X(EQ_INT_ELSE,       3, EQ_INT,         (compare_else<Chip_Instr_Eq_int>))                        \
  X(NEQ_INT_ELSE,      3, NEQ_INT,        (compare_else<Chip_Instr_Neq_int>))                       \
  X(STORE_MEM,         3, PUSH_MEM_ADDR,  (store<Chip_Instr_Assign_Primitive, Chip_Instr_Reg_Pop_Word, false>)) \
  X(STORE_BASE,        3, PUSH_BASE_ADDR, (store<Chip_Instr_Assign_Primitive, Chip_Instr_Reg_Pop_Word, true>)) \
  X(STORE_MEM2,        3, PUSH_MEM_ADDR,  (store<Chip_Instr_Assign_Primitive2, Chip_Instr_Reg_Pop_Word2, false>)) \
  X(STORE_BASE2,       3, PUSH_BASE_ADDR, (store<Chip_Instr_Assign_Primitive2, Chip_Instr_Reg_Pop_Word2, true>)) \
  X(STEP_MEM,          3, PUSH_MEM_ADDR,  (step<false>))                                            \
  X(STEP_BASE,         3, PUSH_BASE_ADDR, (step<true>))
// clang-format on

#endif
