// Call, return, spork, time and event instructions.
//
// These move a shred between codes and between shreds: a call of compiled
// code (a new frame on the memory stack; execution continues in the callee),
// a call of a native function (made at once, arguments laid out on the
// memory stack), the return, the pre-constructor call of a new object,
// sporking a call as a new shred, advancing time and waiting on an event.
// They are the only instructions that check for stack overflow and, apart
// from Chip_Instr_EOC, the only ones that take the processor from a shred.
//
// Words are pointer-wide (W = sizeof(t_CPWORD) bytes); words(n) is n / W
// rounded up. The register stack holds, bottom to top, for every call:
// the argument words (for a member function `this` is the last of them), the
// callee's Chip_VM_Code* and the caller's local depth L in bytes.
//
// Call header. A call of compiled code leaves five words on the memory stack
// between the caller's frame and the callee's frame base:
//   base - 5W  skip: words between the caller's frame base and the header,
//              words(L) + words(P), P being the word just below the caller's
//              frame base (its header's last word; 0 for file-level code);
//   base - 4W  the caller's Chip_VM_Code*;
//   base - 3W  the return index (the caller's pc + 1);
//   base - 2W  the frame's held object arguments: a pointer to the calling
//              instruction's list of offsets (null when it holds none);
//   base - 1W  A = words(callee's stack_depth), its argument words.
// The callee's arguments (`this` first for a member function) are the first
// words of its frame.
//
// Object arguments. A frame holds a reference on each object argument for as
// long as it lives, so that a callee dropping its argument (`null @=> p`)
// cannot free an object its caller still holds. The call takes the
// references on the words its offset list names (byte offsets in the callee's
// frame, `this` at 0); the return gives them back on whatever those slots
// hold by then (Chip_Instr_Assign_Object keeps a slot's count right when the
// callee reassigns it). Giving back never frees: an object whose last holder
// was the frame is left unheld (count 0), as every new object is while it is
// on the register stack, because it may be the value being returned or an
// object whose pre-constructor is still running. A sporked shred holds its
// object arguments and `this` until the shred ends; those references are
// released then (an object nobody else holds is freed), and so are those of
// frames still open when a shred ends (chip_release_frames, below).
//
// Overflow: every call checks both stacks before writing anything: the new
// frame base (or native argument block) against the memory stack's sp_max,
// the whole frame against the end of the memory stack, the register stack's
// sp against its sp_max, and, for compiled code, what the callee's own
// instructions may push (its reg_depth) against the end of the register
// stack; a shred's first run checks its code in the same way, and a spork
// the child's stack. Native calls push no more than their result, which the
// caller's bound counts. Overflow raises
// "[chip](VM): Exception StackOverflow in shred[id=%d:%s], PC=[%d]\n".
//
// Everything here runs on the machine's thread.
#ifndef CHIP_CHIP_INSTR_CALL_H
#define CHIP_CHIP_INSTR_CALL_H

#include <utility>
#include <vector>

#include "chip/util/chip_def.h"
#include "chip/vm/chip_instr.h"

struct Chip_VM_Code;

// Byte offsets of the object words a frame or a spork holds.
typedef std::vector<t_CPUWORD> Chip_Obj_Offsets;

// Replaces the Chip_Func* on top of the register stack by its code.
class Chip_Instr_Func_To_Code : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// Calls compiled code: pops L and the code, pushes the call header, moves the
// argument words into the new frame and continues at the callee's first
// instruction. obj_offsets: byte offsets, in the callee's frame, of the
// object arguments the frame holds (0 for `this` of a member function); the
// emitter gives them from the called function's signature.
class Chip_Instr_Func_Call : public Chip_Instr {
 public:
  Chip_Instr_Func_Call() = default;
  explicit Chip_Instr_Func_Call(Chip_Obj_Offsets obj_offsets)
      : m_obj_offsets(std::move(obj_offsets)) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  bool makes_temps() const override { return true; }

  const Chip_Obj_Offsets& obj_offsets() const { return m_obj_offsets; }

 private:
  Chip_Obj_Offsets m_obj_offsets;
};

// Calls a native member function or constructor of the code (SELF is the
// first argument word, ARGS the word after it); pushes the first m_val bytes
// of the result: nothing for 0, one word (int, reference) or one double for
// 4 or 8 (the same 8 bytes), two doubles for 16. Native calls hold no
// references: they complete inside the instruction. ret_obj: the result is
// an object, held as a temporary of the statement (a new object the
// function made is freed with the statement unless something stored it).
class Chip_Instr_Func_Call_Member : public Chip_Instr_Unary_Op {
 public:
  explicit Chip_Instr_Func_Call_Member(t_CPUWORD ret_size = 0, t_CPBOOL ret_obj = FALSE)
      : Chip_Instr_Unary_Op(ret_size), m_ret_obj(ret_obj) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  bool makes_temps() const override { return true; }

 private:
  t_CPBOOL m_ret_obj;
};

// Calls a native static function (ARGS is the first argument word); the
// result as for Chip_Instr_Func_Call_Member.
class Chip_Instr_Func_Call_Static : public Chip_Instr_Unary_Op {
 public:
  explicit Chip_Instr_Func_Call_Static(t_CPUWORD ret_size = 0, t_CPBOOL ret_obj = FALSE)
      : Chip_Instr_Unary_Op(ret_size), m_ret_obj(ret_obj) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  bool makes_temps() const override { return true; }

 private:
  t_CPBOOL m_ret_obj;
};

// Returns from compiled code to the caller recorded in the call header, after
// giving back the frame's held object arguments. The return value, if any,
// is already on the register stack.
class Chip_Instr_Func_Return : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// Runs a class's pre-constructor on the new object on top of the register
// stack, which stays there as the value of the expression: a copy of it
// becomes `this` of a call of pre_ctor (native: a member call with result
// size 0; compiled: a plain call holding nothing), whose frame begins
// stack_offset bytes (the caller's local depth) above the caller's frame.
class Chip_Instr_Pre_Constructor : public Chip_Instr {
 public:
  Chip_Instr_Pre_Constructor(Chip_VM_Code* pre_ctor, t_CPUWORD stack_offset)
      : m_pre_ctor(pre_ctor), m_stack_offset(stack_offset) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  bool makes_temps() const override { return true; }

  Chip_VM_Code* pre_ctor() const { return m_pre_ctor; }
  t_CPUWORD stack_offset() const { return m_stack_offset; }
  void set_stack_offset(t_CPUWORD offset) { m_stack_offset = offset; }

 private:
  Chip_VM_Code* m_pre_ctor;
  t_CPUWORD m_stack_offset;
};

// Sporks a call as a child shred. Register stack: the argument bytes (m_val
// of them), `this` (member functions only), the Chip_Func*, the child's code
// on top. The child gets the arguments, `this` and the function on its
// register stack and the parent gets the child (a Chip_VM_Shred*); a child
// that cannot be made ends the parent with OutOfMemory. obj_offsets: byte
// offsets, among the argument bytes, of the object arguments; the child
// holds a reference on each of them and on `this` until it ends.
class Chip_Instr_Spork : public Chip_Instr_Unary_Op {
 public:
  explicit Chip_Instr_Spork(t_CPUWORD arg_bytes = 0, Chip_Obj_Offsets obj_offsets = {})
      : Chip_Instr_Unary_Op(arg_bytes), m_obj_offsets(std::move(obj_offsets)) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  // The child is a temporary of the statement.
  bool makes_temps() const override { return true; }

  const Chip_Obj_Offsets& obj_offsets() const { return m_obj_offsets; }

 private:
  Chip_Obj_Offsets m_obj_offsets;
};

// `=> now` with a time: pops t; t before the shred's now, or not a number,
// raises "[chip](VM): DestTimeNegativeException: '%.6f' in shred[id=%d:%s],
// PC=[%d]\n" (a NaN shows as "nan");
// otherwise the shred sleeps until t, with t pushed back as the expression's
// value (t equal to now only yields).
class Chip_Instr_Time_Advance : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// `=> now` with an event: pops the event and waits on it (Chip_Event::wait);
// a null event raises
// "[chip](VM): NullPointerException: (null Event wait) in shred[id=%d:%s], PC=[%d]\n".
class Chip_Instr_Event_Wait : public Chip_Instr {
 public:
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
};

// Whether code's own pushes (its reg_depth) fit on shred's register stack
// above its current depth.
t_CPBOOL chip_reg_fits(Chip_VM_Shred* shred, Chip_VM_Code* code);
// Ends shred with the StackOverflow exception, at its current pc.
void chip_stack_overflow(Chip_VM_Shred* shred);

// Releases the held object arguments of every compiled-code frame still open
// on shred's memory stack, innermost first (an object only such a frame held
// is freed: a frame that ends with its shred returns nothing), and unwinds
// the memory stack to the start code's frame. For a shred that ends inside calls (stopped by
// an exception, or killed while suspended); the machine is to call it before
// the shred's stacks are freed. Nothing happens for a shred in its start
// code.
void chip_release_frames(Chip_VM_Shred* shred);

#endif
