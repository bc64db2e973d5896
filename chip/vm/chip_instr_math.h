// Arithmetic, bitwise, logical, comparison, branch and conversion
// instructions.
//
// These compute with the language's primitive values on the shred's register
// stack: int (32-bit signed, kept sign-extended in one pointer-wide word),
// float, time and dur (one double), complex (re, im) and polar (modulus,
// phase in radians), two doubles each. Binary operators pop the right
// operand (on top), then the left, and push the result. The assigning forms
// (`_Assign`) find the value, then on top the address of the target
// variable: they store `target OP value` into the target and push the stored
// value. Conversions work in place on the top of the stack.
//
// None of them raises a run-time exception, and none has behaviour left to
// the platform:
// - int results wrap modulo 2^32 (INT_MAX + 1 is INT_MIN, -INT_MIN is
//   INT_MIN); INT_MIN / -1 gives INT_MIN and INT_MIN % -1 gives 0;
// - division by zero gives a quotient of 0 and a remainder equal to the
//   left operand, so left == (left / right) * right + left % right always
//   holds;
// - a shift count is the low 8 bits of the right operand (0..255, so a
//   negative count acts as a large one); counts of 32 and more shift every
//   bit out: 0 for the left shift and the logical right shift, and for the
//   arithmetic right shift (`Chip_Instr_Binary_Shift_Right_Assign` only) 0
//   for a non-negative target and -1 for a negative one;
// - float to int truncates toward zero and saturates: values beyond the
//   32-bit range give -2147483648 or 2147483647, NaN gives 0.
//
// Operands: the branches and `Chip_Instr_Goto` carry the target index
// (`m_jmp`), `Chip_Instr_Dec_int_Addr` the address of its int variable
// (`m_val`); no other class has operands.
#ifndef CHIP_CHIP_INSTR_MATH_H
#define CHIP_CHIP_INSTR_MATH_H

#include "chip/vm/chip_instr.h"

// Each macro declares one plain class named exactly as given, so name()
// returns that name.
#define CHIP_INSTR_MATH_BINARY(NAME)                         \
  class NAME : public Chip_Instr_Binary_Op {                 \
   public:                                                   \
    void execute(Chip_VM* vm, Chip_VM_Shred* shred) override; \
  };

#define CHIP_INSTR_MATH_PLAIN(NAME)                          \
  class NAME : public Chip_Instr {                           \
   public:                                                   \
    void execute(Chip_VM* vm, Chip_VM_Shred* shred) override; \
  };

#define CHIP_INSTR_MATH_BRANCH(NAME)                               \
  class NAME : public Chip_Instr_Branch_Op {                       \
   public:                                                         \
    explicit NAME(t_CPUWORD jmp = 0) : Chip_Instr_Branch_Op(jmp) {} \
    void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;       \
  };

// ---------------------------------------------------------------------------
// int arithmetic: pop right and left ints, push the int result.
CHIP_INSTR_MATH_BINARY(Chip_Instr_Add_int)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Minus_int)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Times_int)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Divide_int)  // truncated toward zero
CHIP_INSTR_MATH_BINARY(Chip_Instr_Mod_int)     // sign of the left operand

// Pop the address of an int variable; step it by one and push the new value
// (Pre) or push the old value (Post).
CHIP_INSTR_MATH_PLAIN(Chip_Instr_PreInc_int)
CHIP_INSTR_MATH_PLAIN(Chip_Instr_PostInc_int)
CHIP_INSTR_MATH_PLAIN(Chip_Instr_PreDec_int)
CHIP_INSTR_MATH_PLAIN(Chip_Instr_PostDec_int)

// Subtracts 1 from the int variable at address m_val (a loop counter); the
// stacks are untouched.
class Chip_Instr_Dec_int_Addr : public Chip_Instr_Unary_Op {
 public:
  explicit Chip_Instr_Dec_int_Addr(t_CPUWORD addr = 0) : Chip_Instr_Unary_Op(addr) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// Unary int operators, in place on the top int.
CHIP_INSTR_MATH_PLAIN(Chip_Instr_Complement_int)  // ~x
CHIP_INSTR_MATH_PLAIN(Chip_Instr_Negate_int)      // -x, wrapping
CHIP_INSTR_MATH_PLAIN(Chip_Instr_Not_int)         // !x: 1 or 0

// ---------------------------------------------------------------------------
// float (also time and dur): pop right and left doubles, push the result.
CHIP_INSTR_MATH_BINARY(Chip_Instr_Add_double)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Minus_double)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Times_double)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Divide_double)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Mod_double)  // fmod(left, right)
CHIP_INSTR_MATH_PLAIN(Chip_Instr_Negate_double)

// complex and polar: pop right and left (two doubles each), push the result.
CHIP_INSTR_MATH_BINARY(Chip_Instr_Add_complex)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Minus_complex)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Times_complex)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Divide_complex)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Add_polar)    // through rectangular form
CHIP_INSTR_MATH_BINARY(Chip_Instr_Minus_polar)  // through rectangular form
CHIP_INSTR_MATH_BINARY(Chip_Instr_Times_polar)  // (m1 m2, p1 + p2)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Divide_polar) // (m1 / m2, p1 - p2)

// ---------------------------------------------------------------------------
// Assigning forms: value, then the target's address on top; target OP value
// is stored and pushed.
CHIP_INSTR_MATH_BINARY(Chip_Instr_Add_int_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Minus_int_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Times_int_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Divide_int_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Mod_int_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Add_double_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Minus_double_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Times_double_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Divide_double_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Mod_double_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Add_complex_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Minus_complex_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Times_complex_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Divide_complex_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Add_polar_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Minus_polar_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Times_polar_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Divide_polar_Assign)

// ---------------------------------------------------------------------------
// Bitwise operators on the 32-bit patterns of two ints. Shift_Right is
// logical (zeros enter from the top); Shift_Right_Assign is arithmetic.
CHIP_INSTR_MATH_BINARY(Chip_Instr_Binary_And)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Binary_Or)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Binary_Xor)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Binary_Shift_Right)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Binary_Shift_Left)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Binary_And_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Binary_Or_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Binary_Xor_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Binary_Shift_Right_Assign)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Binary_Shift_Left_Assign)

// Logical and / or of two evaluated ints: 1 or 0.
CHIP_INSTR_MATH_BINARY(Chip_Instr_And)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Or)

// ---------------------------------------------------------------------------
// Comparisons: pop right and left, push int 1 or 0. Signed for ints; for
// doubles every comparison with NaN gives 0 except Neq, which gives 1.
CHIP_INSTR_MATH_BINARY(Chip_Instr_Lt_int)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Gt_int)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Le_int)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Ge_int)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Eq_int)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Neq_int)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Lt_double)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Gt_double)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Le_double)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Ge_double)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Eq_double)
CHIP_INSTR_MATH_BINARY(Chip_Instr_Neq_double)

// ---------------------------------------------------------------------------
// Branches: pop right and left and continue at m_jmp when the test holds;
// Goto always continues at m_jmp and leaves the stacks alone.
CHIP_INSTR_MATH_BRANCH(Chip_Instr_Branch_Eq_int)
CHIP_INSTR_MATH_BRANCH(Chip_Instr_Branch_Neq_int)
CHIP_INSTR_MATH_BRANCH(Chip_Instr_Branch_Eq_double)
CHIP_INSTR_MATH_BRANCH(Chip_Instr_Branch_Neq_double)  // also jumps on NaN
CHIP_INSTR_MATH_BRANCH(Chip_Instr_Goto)

// ---------------------------------------------------------------------------
// Conversions of the top value.
CHIP_INSTR_MATH_PLAIN(Chip_Instr_Cast_double2int)      // saturating, NaN to 0
CHIP_INSTR_MATH_PLAIN(Chip_Instr_Cast_int2double)
CHIP_INSTR_MATH_PLAIN(Chip_Instr_Cast_int2complex)     // (value, 0)
CHIP_INSTR_MATH_PLAIN(Chip_Instr_Cast_int2polar)       // (value, 0)
CHIP_INSTR_MATH_PLAIN(Chip_Instr_Cast_double2complex)  // (value, 0)
CHIP_INSTR_MATH_PLAIN(Chip_Instr_Cast_double2polar)    // (value, 0)
CHIP_INSTR_MATH_PLAIN(Chip_Instr_Cast_complex2polar)
CHIP_INSTR_MATH_PLAIN(Chip_Instr_Cast_polar2complex)

#undef CHIP_INSTR_MATH_BINARY
#undef CHIP_INSTR_MATH_PLAIN
#undef CHIP_INSTR_MATH_BRANCH

#endif
