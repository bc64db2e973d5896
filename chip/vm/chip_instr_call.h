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

#include <algorithm>
#include <utility>
#include <vector>

#include "chip/util/chip_def.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_vm_shred.h"

struct Chip_VM_Code;
struct Chip_Func;

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
//
// callee: the function called, when the emitter knows it (a function named
// directly, or a class's static function: the instructions just before the
// call push exactly it), null when it is found at run time (a member
// function through the object, a sporked call). The machine's loop calls a
// known callee without pushing it and its code (chip_vm_exec.h).
class Chip_Instr_Func_Call : public Chip_Instr {
 public:
  Chip_Instr_Func_Call() = default;
  explicit Chip_Instr_Func_Call(Chip_Obj_Offsets obj_offsets, Chip_Func* callee = nullptr)
      : m_obj_offsets(std::move(obj_offsets)), m_callee(callee) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  bool makes_temps() const override { return true; }

  const Chip_Obj_Offsets& obj_offsets() const { return m_obj_offsets; }
  // The offsets the frame holds, null when it holds none (what the call
  // header records).
  const Chip_Obj_Offsets* held() const { return m_obj_offsets.empty() ? nullptr : &m_obj_offsets; }
  Chip_Func* callee() const { return m_callee; }

 private:
  Chip_Obj_Offsets m_obj_offsets;
  Chip_Func* m_callee = nullptr;
};

// Calls a native member function or constructor of the code (SELF is the
// first argument word, ARGS the word after it); pushes the first m_val bytes
// of the result: nothing for 0, one word (int, reference) or one double for
// 4 or 8 (the same 8 bytes), two doubles for 16. Native calls hold no
// references: they complete inside the instruction. ret_obj: the result is
// an object, held as a temporary of the statement (a new object the
// function made is freed with the statement unless something stored it).
//
// The function comes from the object's table, so a script class that
// extends a built-in one may have put its own compiled override of the
// native function there. Such code is called as Chip_Instr_Func_Call calls
// it, its frame holding the words at obj_offsets (`this` at 0 and the
// object arguments); it pushes its own result when it returns, the same
// bytes the native form would have pushed.
class Chip_Instr_Func_Call_Member : public Chip_Instr_Unary_Op {
 public:
  explicit Chip_Instr_Func_Call_Member(t_CPUWORD ret_size = 0, t_CPBOOL ret_obj = FALSE,
                                       Chip_Obj_Offsets obj_offsets = {})
      : Chip_Instr_Unary_Op(ret_size), m_ret_obj(ret_obj), m_obj_offsets(std::move(obj_offsets)) {}
  void execute(Chip_VM* vm, Chip_VM_Shred* shred) override;
  bool makes_temps() const override { return true; }

 private:
  t_CPBOOL m_ret_obj;
  Chip_Obj_Offsets m_obj_offsets;
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

// ---------------------------------------------------------------------------
// Entering and leaving compiled code: the one implementation of the frame
// that both the call and return instructions and the machine's loop use.

// Words of the call header, and each word's place counted back from the
// callee's frame base.
enum : t_CPUWORD { CHIP_CALL_HEADER_WORDS = 5 };
enum Chip_Call_Header_Word : t_CPUWORD {
  CHIP_HDR_SKIP = 5,
  CHIP_HDR_CODE = 4,
  CHIP_HDR_RETURN = 3,
  CHIP_HDR_HELD = 2,
  CHIP_HDR_ARGS = 1
};

inline t_CPWORD chip_header_word(const unsigned char* base, t_CPUWORD which) {
  return chip_load<t_CPWORD>(base - which * sizeof(t_CPWORD));
}

// Builds the frame of a call of compiled code and moves the arguments into
// it: the argument words end at args_top on the register stack (the code
// and the local depth, when pushed, lie above it); call_sp is the register
// stack's top as the call instruction finds it. Writes the header, moves
// the arguments (`this` first for a member function), clears the object
// locals, takes the held references and makes the new frame the memory
// stack's. Returns the new frame base, and the register stack's new top in
// *reg_top; null when either stack would overflow (nothing is written
// then). The shred's code is left to the caller to switch.
inline unsigned char* chip_enter_frame(Chip_VM_Shred* shred, Chip_VM_Code* code,
                                       t_CPUWORD local_depth, const Chip_Obj_Offsets* held,
                                       unsigned char* args_top, const unsigned char* call_sp,
                                       t_CPUINT return_pc, unsigned char** reg_top) {
  constexpr t_CPUWORD W = sizeof(t_CPWORD);
  Chip_Shred_Stack* mem = shred->mem;
  const Chip_Shred_Stack* reg = shred->reg;
  // The word below the frame base is the caller's own argument count (0
  // below file-level code; a spork's start pushes its argument bytes);
  // counting it as bytes only adds slack.
  const t_CPUWORD below = static_cast<t_CPUWORD>(chip_load<t_CPWORD>(mem->sp - W));
  const t_CPUWORD skip = (local_depth + W - 1) / W + (below + W - 1) / W;
  const t_CPUWORD args = (code->stack_depth + W - 1) / W;
  const t_CPUWORD offset =
      static_cast<t_CPUWORD>(mem->sp - mem->stack) + (skip + CHIP_CALL_HEADER_WORDS) * W;
  // The whole frame must fit: its locals lie past its arguments. So must
  // the callee's pushes, above the register stack as the call leaves it.
  // Offsets, not pointers, so that no address beyond a stack is formed.
  const t_CPUWORD reg_left = static_cast<t_CPUWORD>(call_sp - reg->stack) - (2 + args) * W;
  if (offset > static_cast<t_CPUWORD>(mem->sp_max - mem->stack) ||
      std::max(args * W, code->frame_depth) > mem->size - offset || call_sp > reg->sp_max ||
      code->reg_depth > reg->size - reg_left) {
    return nullptr;
  }
  unsigned char* base = mem->stack + offset;
  chip_store<t_CPWORD>(base - CHIP_HDR_SKIP * W, static_cast<t_CPWORD>(skip));
  chip_store<t_CPWORD>(base - CHIP_HDR_CODE * W, reinterpret_cast<t_CPWORD>(shred->code));
  chip_store<t_CPWORD>(base - CHIP_HDR_RETURN * W, static_cast<t_CPWORD>(return_pc));
  chip_store<t_CPWORD>(base - CHIP_HDR_HELD * W, reinterpret_cast<t_CPWORD>(held));
  chip_store<t_CPWORD>(base - CHIP_HDR_ARGS * W, static_cast<t_CPWORD>(args));
  unsigned char* src = args_top - args * W;
  if (args > 0) {
    if (code->need_this) {
      // `this` (the last word) first, the arguments after it in order.
      chip_store<t_CPWORD>(base, chip_load<t_CPWORD>(src + (args - 1) * W));
      for (t_CPUWORD i = 0; i + 1 < args; i++) {
        chip_store<t_CPWORD>(base + (i + 1) * W, chip_load<t_CPWORD>(src + i * W));
      }
    } else {
      for (t_CPUWORD i = 0; i < args; i++) {
        chip_store<t_CPWORD>(base + i * W, chip_load<t_CPWORD>(src + i * W));
      }
    }
  }
  // Object locals start out null: the frame releases what they hold when it
  // ends, and the bytes may hold an earlier frame's words.
  for (t_CPUWORD slot : code->obj_locals) chip_store<t_CPWORD>(base + slot, 0);
  if (held) {
    for (t_CPUWORD slot : *held) {
      Chip_Object* object = reinterpret_cast<Chip_Object*>(chip_load<t_CPWORD>(base + slot));
      if (object) object->add_ref();
    }
  }
  mem->sp = base;
  *reg_top = src;
  return base;
}

// Gives back the references of the frame at base (its held object
// arguments and code's object locals) as it ends: the last one of an
// object becomes a temporary of the caller's statement (at caller_base),
// since the object may be the value being returned or one still being
// constructed; any other is simply dropped.
void chip_give_back_frame(Chip_VM_Shred* shred, Chip_VM_Code* code, unsigned char* base,
                          unsigned char* caller_base);

// Leaves the frame of compiled code `code` (the memory stack's frame): its
// temporaries go to the caller's statement, its references are given back
// (only when code has object locals or the frame holds arguments), and the
// caller's frame becomes the memory stack's. Returns the caller's code and
// its return index in *return_pc; the shred's code is left to the caller
// to switch.
inline Chip_VM_Code* chip_leave_frame(Chip_VM_Shred* shred, Chip_VM_Code* code,
                                      t_CPUINT* return_pc) {
  constexpr t_CPUWORD W = sizeof(t_CPWORD);
  unsigned char* base = shred->mem->sp;
  const t_CPUWORD skip = static_cast<t_CPUWORD>(chip_header_word(base, CHIP_HDR_SKIP));
  unsigned char* caller_base = base - (CHIP_CALL_HEADER_WORDS + skip) * W;
  if (!shred->temps.empty()) chip_pass_temps(shred, base, caller_base);
  if (chip_header_word(base, CHIP_HDR_HELD) || !code->obj_locals.empty()) {
    chip_give_back_frame(shred, code, base, caller_base);
  }
  *return_pc = static_cast<t_CPUINT>(chip_header_word(base, CHIP_HDR_RETURN));
  shred->mem->sp = caller_base;
  return reinterpret_cast<Chip_VM_Code*>(chip_header_word(base, CHIP_HDR_CODE));
}

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
