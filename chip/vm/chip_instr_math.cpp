#include "chip/vm/chip_instr_math.h"

#include <cmath>
#include <cstdint>

#include "chip/vm/chip_instr_ops.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_vm.h"

// Stack values are read and written with the shared chip_load / chip_store
// (memcpy: the stacks promise no alignment beyond what the widths give, and
// the copies compile to single loads and stores).
namespace {

using namespace chip_ops;
const size_t PAIR = 2 * sizeof(t_CPFLOAT);

// Two doubles: complex (re, im) or polar (modulus, phase).
struct Pair {
  t_CPFLOAT a;
  t_CPFLOAT b;
};
static_assert(sizeof(Pair) == 2 * sizeof(t_CPFLOAT));
static_assert(sizeof(t_CPCOMPLEX) == sizeof(Pair) && sizeof(t_CPPOLAR) == sizeof(Pair));

// ---------------------------------------------------------------------------
// int arithmetic: 32-bit wrapping (add, minus and times are shared with the
// machine's decoded loop, chip_instr_ops.h).

// Division by zero gives 0 (and the remainder the left operand); a divisor
// of -1 is a negation, which wraps INT_MIN to itself instead of trapping.
inline t_CPINT divide_int(t_CPINT l, t_CPINT r) {
  if (r == 0) return 0;
  if (r == -1) return wrap(0u - bits(l));
  return l / r;
}

inline t_CPINT mod_int(t_CPINT l, t_CPINT r) {
  if (r == 0) return l;
  if (r == -1) return 0;
  return l % r;
}

inline t_CPINT and_int(t_CPINT l, t_CPINT r) { return l & r; }
inline t_CPINT or_int(t_CPINT l, t_CPINT r) { return l | r; }
inline t_CPINT xor_int(t_CPINT l, t_CPINT r) { return l ^ r; }

// Shift counts are the low 8 bits of the right operand; 32 and more shift
// every bit out.
inline uint32_t shift_count(t_CPINT r) { return bits(r) & 0xFFu; }

inline t_CPINT shift_left(t_CPINT l, t_CPINT r) {
  uint32_t n = shift_count(r);
  return n < 32 ? wrap(bits(l) << n) : 0;
}

inline t_CPINT shift_right_logical(t_CPINT l, t_CPINT r) {
  uint32_t n = shift_count(r);
  return n < 32 ? wrap(bits(l) >> n) : 0;
}

inline t_CPINT shift_right_arithmetic(t_CPINT l, t_CPINT r) {
  uint32_t n = shift_count(r);
  if (n < 32) return l >> n;
  return l < 0 ? -1 : 0;
}

// Pops right, replaces left with op(left, right).
template <typename Op>
inline void int_binary(Chip_VM_Shred* shred, Op op) {
  chip_ops::int_binary(shred->reg->sp, op);
}

// Pops the target's address and the value; stores and pushes
// op(target, value).
template <typename Op>
inline void int_assign(Chip_VM_Shred* shred, Op op) {
  unsigned char*& sp = shred->reg->sp;
  sp -= WORD;
  unsigned char* target = load_addr(sp);
  unsigned char* value = sp - WORD;
  t_CPINT result = op(load_int(target), load_int(value));
  store_int(target, result);
  store_int(value, result);
}

// ---------------------------------------------------------------------------
// doubles

template <typename Op>
inline void float_binary(Chip_VM_Shred* shred, Op op) {
  chip_ops::float_binary(shred->reg->sp, op);
}

template <typename Op>
inline void float_assign(Chip_VM_Shred* shred, Op op) {
  unsigned char*& sp = shred->reg->sp;
  sp -= WORD;
  unsigned char* target = load_addr(sp);
  unsigned char* value = sp - FLOAT;
  t_CPFLOAT result = op(chip_load<t_CPFLOAT>(target), chip_load<t_CPFLOAT>(value));
  chip_store<t_CPFLOAT>(target, result);
  chip_store<t_CPFLOAT>(value, result);
}

inline t_CPFLOAT mod_float(t_CPFLOAT l, t_CPFLOAT r) { return std::fmod(l, r); }

// ---------------------------------------------------------------------------
// complex and polar

template <typename Op>
inline void pair_binary(Chip_VM_Shred* shred, Op op) {
  unsigned char*& sp = shred->reg->sp;
  sp -= PAIR;
  Pair right = chip_load<Pair>(sp);
  chip_store<Pair>(sp - PAIR, op(chip_load<Pair>(sp - PAIR), right));
}

template <typename Op>
inline void pair_assign(Chip_VM_Shred* shred, Op op) {
  unsigned char*& sp = shred->reg->sp;
  sp -= WORD;
  unsigned char* target = load_addr(sp);
  unsigned char* value = sp - PAIR;
  Pair result = op(chip_load<Pair>(target), chip_load<Pair>(value));
  chip_store<Pair>(target, result);
  chip_store<Pair>(value, result);
}

inline Pair add_complex(Pair l, Pair r) { return {l.a + r.a, l.b + r.b}; }
inline Pair minus_complex(Pair l, Pair r) { return {l.a - r.a, l.b - r.b}; }
inline Pair times_complex(Pair l, Pair r) { return {l.a * r.a - l.b * r.b, r.a * l.b + l.a * r.b}; }
inline Pair divide_complex(Pair l, Pair r) {
  t_CPFLOAT d = r.a * r.a + r.b * r.b;
  return {(l.a * r.a + l.b * r.b) / d, (l.b * r.a - l.a * r.b) / d};
}

// Sum and difference go through rectangular form; the phase comes back in
// (-pi, pi].
inline Pair add_polar(Pair l, Pair r) {
  t_CPFLOAT x = l.a * std::cos(l.b) + r.a * std::cos(r.b);
  t_CPFLOAT y = l.a * std::sin(l.b) + r.a * std::sin(r.b);
  return {std::hypot(x, y), std::atan2(y, x)};
}
inline Pair minus_polar(Pair l, Pair r) {
  t_CPFLOAT x = l.a * std::cos(l.b) - r.a * std::cos(r.b);
  t_CPFLOAT y = l.a * std::sin(l.b) - r.a * std::sin(r.b);
  return {std::hypot(x, y), std::atan2(y, x)};
}
// Product and quotient stay polar; the phase is not normalised.
inline Pair times_polar(Pair l, Pair r) { return {l.a * r.a, l.b + r.b}; }
inline Pair divide_polar(Pair l, Pair r) { return {l.a / r.a, l.b - r.b}; }

// ---------------------------------------------------------------------------
// comparisons and branches

// Pops right and left values of type T; pushes int 1 or 0.
template <typename T, typename Test>
inline void compare(Chip_VM_Shred* shred, Test test) {
  chip_ops::compare<T>(shred->reg->sp, test);
}

// Pops right and left values of type T; jumps when test holds.
template <typename T, typename Test>
inline void branch(Chip_VM_Shred* shred, t_CPUWORD target, Test test) {
  if (branch_taken<T>(shred->reg->sp, test)) shred->next_pc = static_cast<t_CPUINT>(target);
}


// ---------------------------------------------------------------------------
// conversions

// Truncation toward zero, saturating at the ends of the int range; NaN
// gives 0.
inline t_CPINT float_to_int(t_CPFLOAT value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return static_cast<t_CPINT>(value);
}

// Replaces the top int with a double.
inline void int_to_float_top(unsigned char*& sp) {
  sp -= WORD;
  t_CPFLOAT value = load_int(sp);
  chip_store<t_CPFLOAT>(sp, value);
  sp += FLOAT;
}

// Pushes 0.0 after the top double.
inline void push_zero(unsigned char*& sp) {
  chip_store<t_CPFLOAT>(sp, 0.0);
  sp += FLOAT;
}

// Steps the int variable whose address is on top by delta; pushes the new
// value (pre) or the old one.
inline void step_int(Chip_VM_Shred* shred, t_CPINT delta, bool pre) {
  chip_ops::step_int(shred->reg->sp, delta, pre);
}

}  // namespace

// ---------------------------------------------------------------------------
// int

void Chip_Instr_Add_int::execute(Chip_VM*, Chip_VM_Shred* shred) { int_binary(shred, add_int); }
void Chip_Instr_Minus_int::execute(Chip_VM*, Chip_VM_Shred* shred) { int_binary(shred, minus_int); }
void Chip_Instr_Times_int::execute(Chip_VM*, Chip_VM_Shred* shred) { int_binary(shred, times_int); }
void Chip_Instr_Divide_int::execute(Chip_VM*, Chip_VM_Shred* shred) { int_binary(shred, divide_int); }
void Chip_Instr_Mod_int::execute(Chip_VM*, Chip_VM_Shred* shred) { int_binary(shred, mod_int); }

void Chip_Instr_PreInc_int::execute(Chip_VM*, Chip_VM_Shred* shred) { step_int(shred, 1, true); }
void Chip_Instr_PostInc_int::execute(Chip_VM*, Chip_VM_Shred* shred) { step_int(shred, 1, false); }
void Chip_Instr_PreDec_int::execute(Chip_VM*, Chip_VM_Shred* shred) { step_int(shred, -1, true); }
void Chip_Instr_PostDec_int::execute(Chip_VM*, Chip_VM_Shred* shred) { step_int(shred, -1, false); }

void Chip_Instr_Dec_int_Addr::execute(Chip_VM*, Chip_VM_Shred*) {
  unsigned char* target = reinterpret_cast<unsigned char*>(m_val);
  store_int(target, minus_int(load_int(target), 1));
}

void Chip_Instr_Complement_int::execute(Chip_VM*, Chip_VM_Shred* shred) {
  unsigned char* top = shred->reg->sp - WORD;
  store_int(top, ~load_int(top));
}

void Chip_Instr_Negate_int::execute(Chip_VM*, Chip_VM_Shred* shred) {
  unsigned char* top = shred->reg->sp - WORD;
  store_int(top, minus_int(0, load_int(top)));
}

void Chip_Instr_Not_int::execute(Chip_VM*, Chip_VM_Shred* shred) {
  unsigned char* top = shred->reg->sp - WORD;
  store_int(top, load_int(top) == 0 ? 1 : 0);
}

// ---------------------------------------------------------------------------
// float

void Chip_Instr_Add_double::execute(Chip_VM*, Chip_VM_Shred* shred) { float_binary(shred, add_float); }
void Chip_Instr_Minus_double::execute(Chip_VM*, Chip_VM_Shred* shred) { float_binary(shred, minus_float); }
void Chip_Instr_Times_double::execute(Chip_VM*, Chip_VM_Shred* shred) { float_binary(shred, times_float); }
void Chip_Instr_Divide_double::execute(Chip_VM*, Chip_VM_Shred* shred) { float_binary(shred, divide_float); }
void Chip_Instr_Mod_double::execute(Chip_VM*, Chip_VM_Shred* shred) { float_binary(shred, mod_float); }

void Chip_Instr_Negate_double::execute(Chip_VM*, Chip_VM_Shred* shred) {
  unsigned char* top = shred->reg->sp - FLOAT;
  chip_store<t_CPFLOAT>(top, -chip_load<t_CPFLOAT>(top));
}

// ---------------------------------------------------------------------------
// complex and polar

void Chip_Instr_Add_complex::execute(Chip_VM*, Chip_VM_Shred* shred) { pair_binary(shred, add_complex); }
void Chip_Instr_Minus_complex::execute(Chip_VM*, Chip_VM_Shred* shred) { pair_binary(shred, minus_complex); }
void Chip_Instr_Times_complex::execute(Chip_VM*, Chip_VM_Shred* shred) { pair_binary(shred, times_complex); }
void Chip_Instr_Divide_complex::execute(Chip_VM*, Chip_VM_Shred* shred) { pair_binary(shred, divide_complex); }
void Chip_Instr_Add_polar::execute(Chip_VM*, Chip_VM_Shred* shred) { pair_binary(shred, add_polar); }
void Chip_Instr_Minus_polar::execute(Chip_VM*, Chip_VM_Shred* shred) { pair_binary(shred, minus_polar); }
void Chip_Instr_Times_polar::execute(Chip_VM*, Chip_VM_Shred* shred) { pair_binary(shred, times_polar); }
void Chip_Instr_Divide_polar::execute(Chip_VM*, Chip_VM_Shred* shred) { pair_binary(shred, divide_polar); }

// ---------------------------------------------------------------------------
// assigning forms

void Chip_Instr_Add_int_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { int_assign(shred, add_int); }
void Chip_Instr_Minus_int_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { int_assign(shred, minus_int); }
void Chip_Instr_Times_int_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { int_assign(shred, times_int); }
void Chip_Instr_Divide_int_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { int_assign(shred, divide_int); }
void Chip_Instr_Mod_int_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { int_assign(shred, mod_int); }

void Chip_Instr_Add_double_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { float_assign(shred, add_float); }
void Chip_Instr_Minus_double_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { float_assign(shred, minus_float); }
void Chip_Instr_Times_double_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { float_assign(shred, times_float); }
void Chip_Instr_Divide_double_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { float_assign(shred, divide_float); }
void Chip_Instr_Mod_double_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { float_assign(shred, mod_float); }

void Chip_Instr_Add_complex_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { pair_assign(shred, add_complex); }
void Chip_Instr_Minus_complex_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { pair_assign(shred, minus_complex); }
void Chip_Instr_Times_complex_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { pair_assign(shred, times_complex); }
void Chip_Instr_Divide_complex_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { pair_assign(shred, divide_complex); }
void Chip_Instr_Add_polar_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { pair_assign(shred, add_polar); }
void Chip_Instr_Minus_polar_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { pair_assign(shred, minus_polar); }
void Chip_Instr_Times_polar_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { pair_assign(shred, times_polar); }
void Chip_Instr_Divide_polar_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { pair_assign(shred, divide_polar); }

// ---------------------------------------------------------------------------
// bitwise and logical

void Chip_Instr_Binary_And::execute(Chip_VM*, Chip_VM_Shred* shred) { int_binary(shred, and_int); }
void Chip_Instr_Binary_Or::execute(Chip_VM*, Chip_VM_Shred* shred) { int_binary(shred, or_int); }
void Chip_Instr_Binary_Xor::execute(Chip_VM*, Chip_VM_Shred* shred) { int_binary(shred, xor_int); }
void Chip_Instr_Binary_Shift_Right::execute(Chip_VM*, Chip_VM_Shred* shred) {
  int_binary(shred, shift_right_logical);
}
void Chip_Instr_Binary_Shift_Left::execute(Chip_VM*, Chip_VM_Shred* shred) { int_binary(shred, shift_left); }

void Chip_Instr_Binary_And_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { int_assign(shred, and_int); }
void Chip_Instr_Binary_Or_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { int_assign(shred, or_int); }
void Chip_Instr_Binary_Xor_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) { int_assign(shred, xor_int); }
void Chip_Instr_Binary_Shift_Right_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) {
  int_assign(shred, shift_right_arithmetic);
}
void Chip_Instr_Binary_Shift_Left_Assign::execute(Chip_VM*, Chip_VM_Shred* shred) {
  int_assign(shred, shift_left);
}

void Chip_Instr_And::execute(Chip_VM*, Chip_VM_Shred* shred) {
  int_binary(shred, [](t_CPINT l, t_CPINT r) -> t_CPINT { return l && r; });
}
void Chip_Instr_Or::execute(Chip_VM*, Chip_VM_Shred* shred) {
  int_binary(shred, [](t_CPINT l, t_CPINT r) -> t_CPINT { return l || r; });
}

// ---------------------------------------------------------------------------
// comparisons

void Chip_Instr_Lt_int::execute(Chip_VM*, Chip_VM_Shred* shred) {
  int_binary(shred, lt<t_CPINT>);
}
void Chip_Instr_Gt_int::execute(Chip_VM*, Chip_VM_Shred* shred) {
  int_binary(shred, gt<t_CPINT>);
}
void Chip_Instr_Le_int::execute(Chip_VM*, Chip_VM_Shred* shred) {
  int_binary(shred, le<t_CPINT>);
}
void Chip_Instr_Ge_int::execute(Chip_VM*, Chip_VM_Shred* shred) {
  int_binary(shred, ge<t_CPINT>);
}
void Chip_Instr_Eq_int::execute(Chip_VM*, Chip_VM_Shred* shred) {
  int_binary(shred, eq<t_CPINT>);
}
void Chip_Instr_Neq_int::execute(Chip_VM*, Chip_VM_Shred* shred) {
  int_binary(shred, neq<t_CPINT>);
}

void Chip_Instr_Lt_double::execute(Chip_VM*, Chip_VM_Shred* shred) {
  compare<t_CPFLOAT>(shred, lt<t_CPFLOAT>);
}
void Chip_Instr_Gt_double::execute(Chip_VM*, Chip_VM_Shred* shred) {
  compare<t_CPFLOAT>(shred, gt<t_CPFLOAT>);
}
void Chip_Instr_Le_double::execute(Chip_VM*, Chip_VM_Shred* shred) {
  compare<t_CPFLOAT>(shred, le<t_CPFLOAT>);
}
void Chip_Instr_Ge_double::execute(Chip_VM*, Chip_VM_Shred* shred) {
  compare<t_CPFLOAT>(shred, ge<t_CPFLOAT>);
}
void Chip_Instr_Eq_double::execute(Chip_VM*, Chip_VM_Shred* shred) {
  compare<t_CPFLOAT>(shred, eq<t_CPFLOAT>);
}
void Chip_Instr_Neq_double::execute(Chip_VM*, Chip_VM_Shred* shred) {
  compare<t_CPFLOAT>(shred, neq<t_CPFLOAT>);
}

// ---------------------------------------------------------------------------
// branches

void Chip_Instr_Branch_Eq_int::execute(Chip_VM*, Chip_VM_Shred* shred) {
  branch<t_CPWORD>(shred, m_jmp, int_eq);
}
void Chip_Instr_Branch_Neq_int::execute(Chip_VM*, Chip_VM_Shred* shred) {
  branch<t_CPWORD>(shred, m_jmp, int_neq);
}
void Chip_Instr_Branch_Eq_double::execute(Chip_VM*, Chip_VM_Shred* shred) {
  branch<t_CPFLOAT>(shred, m_jmp, [](t_CPFLOAT l, t_CPFLOAT r) { return l == r; });
}
void Chip_Instr_Branch_Neq_double::execute(Chip_VM*, Chip_VM_Shred* shred) {
  branch<t_CPFLOAT>(shred, m_jmp, [](t_CPFLOAT l, t_CPFLOAT r) { return l != r; });
}
void Chip_Instr_Goto::execute(Chip_VM*, Chip_VM_Shred* shred) {
  shred->next_pc = static_cast<t_CPUINT>(m_jmp);
}

// ---------------------------------------------------------------------------
// conversions

void Chip_Instr_Cast_double2int::execute(Chip_VM*, Chip_VM_Shred* shred) {
  unsigned char*& sp = shred->reg->sp;
  sp -= FLOAT;
  t_CPINT value = float_to_int(chip_load<t_CPFLOAT>(sp));
  store_int(sp, value);
  sp += WORD;
}

void Chip_Instr_Cast_int2double::execute(Chip_VM*, Chip_VM_Shred* shred) {
  int_to_float_top(shred->reg->sp);
}

void Chip_Instr_Cast_int2complex::execute(Chip_VM*, Chip_VM_Shred* shred) {
  int_to_float_top(shred->reg->sp);
  push_zero(shred->reg->sp);
}

// A negative int gives a negative modulus, as the value is taken unchanged.
void Chip_Instr_Cast_int2polar::execute(Chip_VM*, Chip_VM_Shred* shred) {
  int_to_float_top(shred->reg->sp);
  push_zero(shred->reg->sp);
}

void Chip_Instr_Cast_double2complex::execute(Chip_VM*, Chip_VM_Shred* shred) {
  push_zero(shred->reg->sp);
}

void Chip_Instr_Cast_double2polar::execute(Chip_VM*, Chip_VM_Shred* shred) {
  push_zero(shred->reg->sp);
}

void Chip_Instr_Cast_complex2polar::execute(Chip_VM*, Chip_VM_Shred* shred) {
  unsigned char* top = shred->reg->sp - PAIR;
  Pair c = chip_load<Pair>(top);
  chip_store<Pair>(top, {std::sqrt(c.b * c.b + c.a * c.a), std::atan2(c.b, c.a)});
}

void Chip_Instr_Cast_polar2complex::execute(Chip_VM*, Chip_VM_Shred* shred) {
  unsigned char* top = shred->reg->sp - PAIR;
  Pair p = chip_load<Pair>(top);
  chip_store<Pair>(top, {p.a * std::cos(p.b), p.a * std::sin(p.b)});
}
