// What the commonest instructions do to the register stack, written once
// over the stack's top pointer (the first free byte) so that the
// instructions' execute and the machine's decoded loop (chip_vm_exec.h),
// which keeps that pointer in a register, run the very same operations.
//
// Values are read and written with memcpy (chip_load / chip_store): the
// stacks promise no alignment beyond what the widths give, and the copies
// compile to single loads and stores. An int is kept sign-extended in a
// word; reading one keeps the low 32 bits. int arithmetic wraps modulo 2^32.
#ifndef CHIP_CHIP_INSTR_OPS_H
#define CHIP_CHIP_INSTR_OPS_H

#include <cstdint>

#include "chip/vm/chip_instr_stack.h"

namespace chip_ops {

constexpr std::size_t WORD = sizeof(t_CPWORD);
constexpr std::size_t FLOAT = sizeof(t_CPFLOAT);

inline t_CPINT word_int(t_CPWORD word) { return static_cast<t_CPINT>(word); }
inline t_CPINT load_int(const unsigned char* p) { return word_int(chip_load<t_CPWORD>(p)); }
inline void store_int(unsigned char* p, t_CPINT value) { chip_store<t_CPWORD>(p, value); }
// The address of a variable, from its word.
inline unsigned char* load_addr(const unsigned char* p) {
  return reinterpret_cast<unsigned char*>(chip_load<t_CPUWORD>(p));
}

// int arithmetic: 32-bit wrapping, computed on the unsigned patterns.
inline t_CPINT wrap(uint32_t bits) { return static_cast<t_CPINT>(bits); }
inline uint32_t bits(t_CPINT value) { return static_cast<uint32_t>(value); }
inline t_CPINT add_int(t_CPINT l, t_CPINT r) { return wrap(bits(l) + bits(r)); }
inline t_CPINT minus_int(t_CPINT l, t_CPINT r) { return wrap(bits(l) - bits(r)); }
inline t_CPINT times_int(t_CPINT l, t_CPINT r) { return wrap(bits(l) * bits(r)); }

inline t_CPFLOAT add_float(t_CPFLOAT l, t_CPFLOAT r) { return l + r; }
inline t_CPFLOAT minus_float(t_CPFLOAT l, t_CPFLOAT r) { return l - r; }
inline t_CPFLOAT times_float(t_CPFLOAT l, t_CPFLOAT r) { return l * r; }
inline t_CPFLOAT divide_float(t_CPFLOAT l, t_CPFLOAT r) { return l / r; }

// Comparisons, as int results (1 or 0), for ints and doubles alike.
template <typename T> inline t_CPINT lt(T l, T r) { return l < r; }
template <typename T> inline t_CPINT gt(T l, T r) { return l > r; }
template <typename T> inline t_CPINT le(T l, T r) { return l <= r; }
template <typename T> inline t_CPINT ge(T l, T r) { return l >= r; }
template <typename T> inline t_CPINT eq(T l, T r) { return l == r; }
template <typename T> inline t_CPINT neq(T l, T r) { return l != r; }
// Words compared as the ints they hold.
inline bool int_eq(t_CPWORD l, t_CPWORD r) { return word_int(l) == word_int(r); }
inline bool int_neq(t_CPWORD l, t_CPWORD r) { return word_int(l) != word_int(r); }

template <typename T>
inline void push(unsigned char*& sp, T value) {
  chip_store<T>(sp, value);
  sp += sizeof(T);
}

// Pops the address on top, then stores the value below it there (the value
// stays).
template <typename T>
inline void assign_top(unsigned char*& sp) {
  sp -= WORD;
  void* addr = reinterpret_cast<void*>(chip_load<t_CPWORD>(sp));
  chip_store<T>(addr, chip_load<T>(sp - sizeof(T)));
}

// Pops the value of type T on top into the variable at addr: a statement
// `value => variable;` (the assignment and the pop of its value).
template <typename T>
inline void pop_into(unsigned char*& sp, unsigned char* addr) {
  sp -= sizeof(T);
  chip_store<T>(addr, chip_load<T>(sp));
}

// Steps the int variable at addr by delta in place: a statement `i++;`.
inline void step_in_place(unsigned char* addr, t_CPINT delta) {
  store_int(addr, add_int(load_int(addr), delta));
}

// Pops right, replaces left with op(left, right).
template <typename Op>
inline void int_binary(unsigned char*& sp, Op op) {
  sp -= WORD;
  t_CPINT right = load_int(sp);
  store_int(sp - WORD, op(load_int(sp - WORD), right));
}

template <typename Op>
inline void float_binary(unsigned char*& sp, Op op) {
  sp -= FLOAT;
  t_CPFLOAT right = chip_load<t_CPFLOAT>(sp);
  chip_store<t_CPFLOAT>(sp - FLOAT, op(chip_load<t_CPFLOAT>(sp - FLOAT), right));
}

// Pops right and left values of type T; pushes the int test(left, right).
template <typename T, typename Test>
inline void compare(unsigned char*& sp, Test test) {
  sp -= 2 * sizeof(T);
  store_int(sp, test(chip_load<T>(sp), chip_load<T>(sp + sizeof(T))) ? 1 : 0);
  sp += WORD;
}

// Pops right and left values of type T; whether a branch on test is taken.
template <typename T, typename Test>
inline bool branch_taken(unsigned char*& sp, Test test) {
  sp -= 2 * sizeof(T);
  return test(chip_load<T>(sp), chip_load<T>(sp + sizeof(T)));
}

// ++ and -- on the int variable whose address is on top: the address is
// replaced by the new value (pre) or the old one (post).
inline void step_int(unsigned char* sp, t_CPINT delta, bool pre) {
  unsigned char* top = sp - WORD;
  unsigned char* target = load_addr(top);
  t_CPINT old = load_int(target);
  t_CPINT stepped = add_int(old, delta);
  store_int(target, stepped);
  store_int(top, pre ? stepped : old);
}

}  // namespace chip_ops

#endif
