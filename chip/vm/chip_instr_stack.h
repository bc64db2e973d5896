// Stack, memory, member-access and control instructions, and the stack
// helpers every instruction family shares.
//
// Shared helpers (top of this header): typed pushes and pops on a shred's
// stacks, loads and stores of typed values at raw addresses, and the
// run-time exception reporter. Stack slots are pointer-wide words for int
// and every reference or pointer (an int sign-extended), one double for
// float, time and dur, two doubles for complex and polar; values are copied
// with memcpy, so nothing depends on the alignment of a slot. The helpers
// are inline: they are the hot path of every instruction.
//
// Value kinds: an int word and a double are both 8 bytes wide, so an
// instruction that copies "a value of some type" cannot tell from a byte
// width alone what it copies. Such operands carry a kind tag instead
// (Chip_Slot_Kind: 0 void, 4 a word, 8 a double, 16 two doubles; the same
// numbers as the array kind tags), which chip_slot_kind(type) gives for a
// type. Where a class name fixes the width (..._Mem / Mem2 / Mem4,
// Alloc_Word / 2 / 4, Assign_Primitive / 2 / 4, Pop_Word / 2) the suffix is
// the kind: none a word, 2 a double, 4 two doubles.
//
// Frames: locals live at byte offsets from mem->sp (the base of the running
// code's frame; in a member function offset 0 holds `this`), file-level
// variables at offsets from base_ref->stack, members in the object's data
// block, static members of a class in its namespace's class_data, static
// members of an imported class at fixed addresses.
//
// Run-time exceptions (null object in Dot_Member_Data / Dot_Member_Func)
// print their message, stop the shred and push nothing. Other instructions
// check nothing beyond their internal invariants: the emitter never produces
// a null `this`, a null class or a bad address.
#ifndef CHIP_CHIP_INSTR_STACK_H
#define CHIP_CHIP_INSTR_STACK_H

#include <cstring>

#include "chip/util/chip_def.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_vm.h"

struct Chip_Func;
struct Chip_Type;

// ===========================================================================
// Shared stack helpers.

// Loads and stores of a typed value at a raw address (stack slot, variable,
// member or static data).
template <typename T>
inline T chip_load(const void* addr) {
  T value;
  std::memcpy(&value, addr, sizeof value);
  return value;
}

template <typename T>
inline void chip_store(void* addr, T value) {
  std::memcpy(addr, &value, sizeof value);
}

// Generic push / pop / top of a value of type T (a trivially copyable type).
template <typename T>
inline void chip_push(Chip_Shred_Stack* stack, T value) {
  std::memcpy(stack->sp, &value, sizeof value);
  stack->sp += sizeof value;
}

template <typename T>
inline T chip_pop(Chip_Shred_Stack* stack) {
  stack->sp -= sizeof(T);
  return chip_load<T>(stack->sp);
}

// The value of type T just below sp, left in place.
template <typename T>
inline T chip_top(const Chip_Shred_Stack* stack) {
  return chip_load<T>(stack->sp - sizeof(T));
}

// Words: ints (sign-extended) and references.
inline void chip_push_word(Chip_Shred_Stack* stack, t_CPWORD word) { chip_push(stack, word); }
inline t_CPWORD chip_pop_word(Chip_Shred_Stack* stack) { return chip_pop<t_CPWORD>(stack); }
inline t_CPWORD chip_top_word(const Chip_Shred_Stack* stack) { return chip_top<t_CPWORD>(stack); }

// The language's int: stored sign-extended in a word; the pop keeps the low
// 32 bits (a word written as an int always holds them sign-extended).
inline void chip_push_int(Chip_Shred_Stack* stack, t_CPINT value) {
  chip_push_word(stack, static_cast<t_CPWORD>(value));
}
inline t_CPINT chip_pop_int(Chip_Shred_Stack* stack) {
  return static_cast<t_CPINT>(chip_pop_word(stack));
}

// References and other pointers, as words.
inline void chip_push_ptr(Chip_Shred_Stack* stack, const void* ptr) {
  chip_push_word(stack, reinterpret_cast<t_CPWORD>(ptr));
}
template <typename T>
inline T* chip_pop_ptr(Chip_Shred_Stack* stack) {
  return reinterpret_cast<T*>(chip_pop_word(stack));
}

// float, time, dur.
inline void chip_push_float(Chip_Shred_Stack* stack, t_CPFLOAT value) { chip_push(stack, value); }
inline t_CPFLOAT chip_pop_float(Chip_Shred_Stack* stack) { return chip_pop<t_CPFLOAT>(stack); }

// complex (re, im) and polar (modulus, phase): two doubles.
inline void chip_push_complex(Chip_Shred_Stack* stack, t_CPCOMPLEX value) {
  chip_push(stack, value);
}
inline t_CPCOMPLEX chip_pop_complex(Chip_Shred_Stack* stack) {
  return chip_pop<t_CPCOMPLEX>(stack);
}
inline void chip_push_polar(Chip_Shred_Stack* stack, t_CPPOLAR value) { chip_push(stack, value); }
inline t_CPPOLAR chip_pop_polar(Chip_Shred_Stack* stack) { return chip_pop<t_CPPOLAR>(stack); }

// Ends shred with a run-time exception: prints the message (a printf format
// and its arguments, e.g. "[chip](VM): NullPointerException: shred[id=%d:%s],
// PC=[%d]\n" with shred->id, shred->name.c_str(), shred->pc) through
// EM_printf, clears is_running and sets is_done. The caller returns at once
// and performs nothing more of the instruction.
void chip_runtime_exception(Chip_VM_Shred* shred, c_constr fmt, ...)
    __attribute__((format(printf, 2, 3)));

// Out of memory. An allocation a script causes that fails (std::bad_alloc
// thrown by an instruction or a native function) ends the shred with
// "[chip](VM): OutOfMemory: in shred[id=%d:%s], PC=[%d]\n". Reporting needs
// memory of its own (the log formats and queues the line), so a reserve set
// aside while memory is plentiful is given back first; the machine sets it
// aside again (chip_memory_reserve) once the shred is gone. Should the
// report still fail, a fixed text goes straight to standard error.
void chip_out_of_memory(Chip_VM_Shred* shred);
// Sets the reserve aside unless it is already; FALSE when memory is short.
t_CPBOOL chip_memory_reserve();

// Kind tags of values that are copied by kind.
enum Chip_Slot_Kind : t_CPUWORD {
  CHIP_SLOT_VOID = 0,     // nothing
  CHIP_SLOT_WORD = 4,     // int or any reference: one t_CPWORD
  CHIP_SLOT_FLOAT = 8,    // float, time, dur: one double
  CHIP_SLOT_COMPLEX = 16  // complex, polar: two doubles
};

// The kind tag of a value of type: 0 for void, 16 for complex and polar
// (and their kin), 8 for float, time and dur, 4 for int and every object
// type.
t_CPUWORD chip_slot_kind(Chip_Type* type);

// Bytes a value of the given kind occupies; any other tag is an internal
// error.
t_CPUWORD chip_slot_width(t_CPUWORD kind);

// ===========================================================================
// Register-stack pushes and pops.

// Pushes m_val as one word. An int immediate must be given sign-extended
// (static_cast<t_CPUWORD>(static_cast<t_CPWORD>(i))); pointers as they are.
class Chip_Instr_Reg_Push_Imm : public Chip_Instr_Unary_Op {
 public:
  explicit Chip_Instr_Reg_Push_Imm(t_CPUWORD val = 0) : Chip_Instr_Unary_Op(val) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// Pushes the double m_val.
class Chip_Instr_Reg_Push_Imm2 : public Chip_Instr_Unary_Op2 {
 public:
  explicit Chip_Instr_Reg_Push_Imm2(t_CPFLOAT val = 0.0) : Chip_Instr_Unary_Op2(val) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// Pushes a copy of the top word.
class Chip_Instr_Reg_Dup_Last : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// Pushes the shred's now (a double).
class Chip_Instr_Reg_Push_Now : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// Pushes the shred itself (a reference word).
class Chip_Instr_Reg_Push_Me : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// Pushes the word at mem->sp: `this` of the running member function.
class Chip_Instr_Reg_Push_This : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// Pushes int 1 when float(rand()) * 2^-31 > 0.5, else 0: one rand() per
// execution. m_val is not used.
class Chip_Instr_Reg_Push_Maybe : public Chip_Instr_Unary_Op {
 public:
  explicit Chip_Instr_Reg_Push_Maybe(t_CPUWORD val = 0) : Chip_Instr_Unary_Op(val) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// Pushes the value at address m_val: a word when m_size is CHIP_SLOT_WORD
// (4), a double when it is CHIP_SLOT_FLOAT (8). params(): "%ld" of m_val.
class Chip_Instr_Reg_Push_Deref : public Chip_Instr_Unary_Op {
 public:
  Chip_Instr_Reg_Push_Deref(t_CPUWORD addr, t_CPUWORD size)
      : Chip_Instr_Unary_Op(addr), m_size(size) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;

  t_CPUWORD m_size;  // kind tag: 4 or 8
};

// The operands shared by the Reg_Push_Mem family: m_val, the byte offset of
// the variable, and m_val2, the base flag (non-zero: a file-level variable,
// at base_ref->stack + m_val; zero: a local, at mem->sp + m_val).
// params(): "src=%ld, base=%ld".
class Chip_Instr_Reg_Push_Mem_Op : public Chip_Instr_Unary_Op {
 public:
  Chip_Instr_Reg_Push_Mem_Op(t_CPUWORD offset, t_CPUWORD base)
      : Chip_Instr_Unary_Op(offset), m_val2(base) {}
  const char* params() const override;

  t_CPUWORD m_val2;

 protected:
  unsigned char* address(Chip_VM_Shred* shred) const;
};

// Push the word / the double / the two doubles of the variable.
class Chip_Instr_Reg_Push_Mem : public Chip_Instr_Reg_Push_Mem_Op {
 public:
  Chip_Instr_Reg_Push_Mem(t_CPUWORD offset, t_CPUWORD base)
      : Chip_Instr_Reg_Push_Mem_Op(offset, base) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

class Chip_Instr_Reg_Push_Mem2 : public Chip_Instr_Reg_Push_Mem_Op {
 public:
  Chip_Instr_Reg_Push_Mem2(t_CPUWORD offset, t_CPUWORD base)
      : Chip_Instr_Reg_Push_Mem_Op(offset, base) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

class Chip_Instr_Reg_Push_Mem4 : public Chip_Instr_Reg_Push_Mem_Op {
 public:
  Chip_Instr_Reg_Push_Mem4(t_CPUWORD offset, t_CPUWORD base)
      : Chip_Instr_Reg_Push_Mem_Op(offset, base) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// Pushes the variable's address.
class Chip_Instr_Reg_Push_Mem_Addr : public Chip_Instr_Reg_Push_Mem_Op {
 public:
  Chip_Instr_Reg_Push_Mem_Addr(t_CPUWORD offset, t_CPUWORD base)
      : Chip_Instr_Reg_Push_Mem_Op(offset, base) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// Drop one word / one double.
class Chip_Instr_Reg_Pop_Word : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

class Chip_Instr_Reg_Pop_Word2 : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// Drops m_val words of sizeof(t_CPWORD) bytes (8): one per int, reference,
// float, time or dur, two per complex or polar.
class Chip_Instr_Reg_Pop_Word3 : public Chip_Instr_Unary_Op {
 public:
  explicit Chip_Instr_Reg_Pop_Word3(t_CPUWORD count = 0) : Chip_Instr_Unary_Op(count) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// ===========================================================================
// Memory stack.

// Stores the word m_val at mem->sp + m_offset. params(): "offset=%ld,
// value=%ld".
class Chip_Instr_Mem_Set_Imm : public Chip_Instr {
 public:
  Chip_Instr_Mem_Set_Imm(t_CPUWORD offset, t_CPUWORD val) : m_offset(offset), m_val(val) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  const char* params() const override;

  t_CPUWORD m_offset;
  t_CPUWORD m_val;
};

// Pushes the word m_val on the memory stack.
class Chip_Instr_Mem_Push_Imm : public Chip_Instr_Unary_Op {
 public:
  explicit Chip_Instr_Mem_Push_Imm(t_CPUWORD val = 0) : Chip_Instr_Unary_Op(val) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// An object local declared again (its declaration runs once per pass of a
// loop): the object it still holds from the last pass is released and the
// slot at mem->sp + m_val set to null.
class Chip_Instr_Release_Local : public Chip_Instr_Unary_Op {
 public:
  explicit Chip_Instr_Release_Local(t_CPUWORD offset = 0) : Chip_Instr_Unary_Op(offset) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// End of a statement: the temporaries it made (and those the frames it
// called handed back) are released; whatever stored them holds its own
// reference.
class Chip_Instr_Release_Temps : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// Declaration of a local: zero a word / a double / two doubles at
// mem->sp + m_val and push that address.
class Chip_Instr_Alloc_Word : public Chip_Instr_Unary_Op {
 public:
  explicit Chip_Instr_Alloc_Word(t_CPUWORD offset = 0) : Chip_Instr_Unary_Op(offset) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

class Chip_Instr_Alloc_Word2 : public Chip_Instr_Unary_Op {
 public:
  explicit Chip_Instr_Alloc_Word2(t_CPUWORD offset = 0) : Chip_Instr_Unary_Op(offset) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

class Chip_Instr_Alloc_Word4 : public Chip_Instr_Unary_Op {
 public:
  explicit Chip_Instr_Alloc_Word4(t_CPUWORD offset = 0) : Chip_Instr_Unary_Op(offset) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// Declaration of a member in a pre-constructor: `this` from mem->sp; zero a
// word / a double / two doubles of its data at offset m_val and push that
// address.
class Chip_Instr_Alloc_Member_Word : public Chip_Instr_Unary_Op {
 public:
  explicit Chip_Instr_Alloc_Member_Word(t_CPUWORD offset = 0) : Chip_Instr_Unary_Op(offset) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

class Chip_Instr_Alloc_Member_Word2 : public Chip_Instr_Unary_Op {
 public:
  explicit Chip_Instr_Alloc_Member_Word2(t_CPUWORD offset = 0) : Chip_Instr_Unary_Op(offset) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

class Chip_Instr_Alloc_Member_Word4 : public Chip_Instr_Unary_Op {
 public:
  explicit Chip_Instr_Alloc_Member_Word4(t_CPUWORD offset = 0) : Chip_Instr_Unary_Op(offset) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// ===========================================================================
// Assignment through an address (register stack: the value, then the
// address on top).

// Store a word / a double / two doubles at the address; the value stays on
// the stack.
class Chip_Instr_Assign_Primitive : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

class Chip_Instr_Assign_Primitive2 : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

class Chip_Instr_Assign_Primitive4 : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// Stores the reference; the new object gains a reference before the old
// one loses its own (assigning an object to the variable that holds it is
// safe). The reference stays on the stack.
class Chip_Instr_Assign_Object : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// ===========================================================================
// Member and static access. m_size is a kind tag (Chip_Slot_Kind: 0, 4, 8
// or 16); with m_emit_addr set the address is pushed instead of the value.

// Pops an object; null: "[chip](VM): NullPointerException:
// shred[id=<id>:<name>:(<offset>)], PC=[<pc>]\n" and the shred stops.
// params(): "offset=%ld, size=%ld, emit_addr=%ld".
class Chip_Instr_Dot_Member_Data : public Chip_Instr {
 public:
  Chip_Instr_Dot_Member_Data(t_CPUWORD offset, t_CPUWORD size, t_CPUWORD emit_addr)
      : m_offset(offset), m_size(size), m_emit_addr(emit_addr) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  const char* params() const override;

  t_CPUWORD m_offset;
  t_CPUWORD m_size;
  t_CPUWORD m_emit_addr;
};

// Pops an object and pushes its virtual-table entry m_offset (a
// Chip_Func*); null: "[chip](VM): NullPointerException: shred[id=%d:%s],
// PC=[%d]\n" and the shred stops. params(): "offset=%ld".
class Chip_Instr_Dot_Member_Func : public Chip_Instr {
 public:
  explicit Chip_Instr_Dot_Member_Func(t_CPUWORD offset) : m_offset(offset) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  const char* params() const override;

  t_CPUWORD m_offset;
};

// Pops a class (Chip_Type*): its static data at m_offset. params():
// "offset=%ld, size=%ld, emit_addr=%ld".
class Chip_Instr_Dot_Static_Data : public Chip_Instr {
 public:
  Chip_Instr_Dot_Static_Data(t_CPUWORD offset, t_CPUWORD size, t_CPUWORD emit_addr)
      : m_offset(offset), m_size(size), m_emit_addr(emit_addr) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  const char* params() const override;

  t_CPUWORD m_offset;
  t_CPUWORD m_size;
  t_CPUWORD m_emit_addr;
};

// An imported class's static variable at m_addr; pops nothing. params():
// "addr=%ld, size=%ld, emit_addr=%ld".
class Chip_Instr_Dot_Static_Import_Data : public Chip_Instr {
 public:
  Chip_Instr_Dot_Static_Import_Data(void* addr, t_CPUWORD size, t_CPUWORD emit_addr)
      : m_addr(addr), m_size(size), m_emit_addr(emit_addr) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  const char* params() const override;

  void* m_addr;
  t_CPUWORD m_size;
  t_CPUWORD m_emit_addr;
};

// Replaces the top word (the class) by m_func. params(): "func=%ld".
class Chip_Instr_Dot_Static_Func : public Chip_Instr {
 public:
  explicit Chip_Instr_Dot_Static_Func(Chip_Func* func) : m_func(func) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  const char* params() const override;

  Chip_Func* m_func;
};

// The first (re / modulus) and second (im / phase) double of a complex or
// polar. m_is_mem: the top word is the address of the variable (with
// m_emit_addr the part's address is pushed, else its value); clear: the
// value itself is on top and is replaced by the part (m_emit_addr must then
// be clear). params(): "is_mem=%ld, emit_addr=%ld".
class Chip_Instr_Dot_Cmp_First : public Chip_Instr {
 public:
  Chip_Instr_Dot_Cmp_First(t_CPUWORD is_mem, t_CPUWORD emit_addr)
      : m_is_mem(is_mem), m_emit_addr(emit_addr) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  const char* params() const override;

  t_CPUWORD m_is_mem;
  t_CPUWORD m_emit_addr;
};

class Chip_Instr_Dot_Cmp_Second : public Chip_Instr {
 public:
  Chip_Instr_Dot_Cmp_Second(t_CPUWORD is_mem, t_CPUWORD emit_addr)
      : m_is_mem(is_mem), m_emit_addr(emit_addr) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  const char* params() const override;

  t_CPUWORD m_is_mem;
  t_CPUWORD m_emit_addr;
};

// ===========================================================================
// The machine's audio nodes, pushed as references.

class Chip_Instr_ADC : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

class Chip_Instr_DAC : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// The blackhole.
class Chip_Instr_Bunghole : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// ===========================================================================
// Control.

// End of code: the shred ends normally.
class Chip_Instr_EOC : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// Pops an int n and stores |n| (32-bit, so |INT_MIN| is INT_MIN) as an int
// word in the local at byte offset m_val of the running frame (mem->sp +
// m_val): the counter of a counted loop. The counter is a hidden local, so
// every shred and every call level counts on its own.
class Chip_Instr_Init_Loop_Counter : public Chip_Instr_Unary_Op {
 public:
  explicit Chip_Instr_Init_Loop_Counter(t_CPUWORD offset = 0) : Chip_Instr_Unary_Op(offset) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// The stream operators: they do nothing (the stack and the shred are left
// alone).
class Chip_Instr_IO_in_int : public Chip_Instr_Binary_Op {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

class Chip_Instr_IO_in_float : public Chip_Instr_Binary_Op {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

class Chip_Instr_IO_in_string : public Chip_Instr_Binary_Op {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

class Chip_Instr_IO_out_int : public Chip_Instr_Binary_Op {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

class Chip_Instr_IO_out_float : public Chip_Instr_Binary_Op {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

class Chip_Instr_IO_out_string : public Chip_Instr_Binary_Op {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

#endif
