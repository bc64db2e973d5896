#include "chip/vm/chip_instr_call.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "chip/types/chip_type.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_vm.h"

namespace {

const t_CPUWORD W = sizeof(t_CPWORD);

// n bytes in words, rounded up.
inline t_CPUWORD words(t_CPUWORD n) { return (n + W - 1) / W; }

inline Chip_Object* object_at(const unsigned char* addr) {
  return reinterpret_cast<Chip_Object*>(chip_load<t_CPWORD>(addr));
}

// Whether a native call's argument block, `bytes` long at `offset` bytes
// above the bottom of the memory stack, overflows that stack (its base past
// sp_max, or any of it past the end), or the register stack is past its
// own limit. Checked before anything is written; offsets, not pointers, so
// that no address beyond the stack is ever formed.
inline bool overflows(Chip_VM_Shred* shred, t_CPUWORD offset, t_CPUWORD bytes) {
  const Chip_Shred_Stack* mem = shred->mem;
  return offset > static_cast<t_CPUWORD>(mem->sp_max - mem->stack) || bytes > mem->size - offset ||
         shred->reg->sp > shred->reg->sp_max;
}

// Moves the a argument words on top of the register stack to dest, `this`
// (the last of them) first when this_first is set, and pops them.
inline void move_args(Chip_Shred_Stack* reg, unsigned char* dest, t_CPUWORD a, bool this_first) {
  if (a == 0) return;
  unsigned char* src = reg->sp - a * W;
  if (this_first) {
    std::memcpy(dest, src + (a - 1) * W, W);
    std::memcpy(dest + W, src, (a - 1) * W);
  } else {
    std::memcpy(dest, src, a * W);
  }
  reg->sp = src;
}

// Gives back a frame's reference on object as its frame ends (see
// chip_give_back_frame).
inline void give_back(Chip_VM_Shred* shred, Chip_Object* object, unsigned char* caller_base) {
  if (!object) return;
  if (object->m_ref_count > 1) {
    object->release();
  } else {
    chip_adopt_temp(shred, object, caller_base);
  }
}

// The frame-building part of Chip_Instr_Func_Call, with the offsets of the
// object arguments the frame holds (null: none).
void call_compiled(Chip_VM_Shred* shred, const Chip_Obj_Offsets* held) {
  Chip_Shred_Stack* reg = shred->reg;
  const t_CPUWORD local_depth = static_cast<t_CPUWORD>(chip_top_word(reg));
  Chip_VM_Code* code = reinterpret_cast<Chip_VM_Code*>(chip_load<t_CPWORD>(reg->sp - 2 * W));
  unsigned char* reg_top = nullptr;
  if (!chip_enter_frame(shred, code, local_depth, held, reg->sp - 2 * W, reg->sp, shred->pc + 1,
                        &reg_top)) {
    chip_stack_overflow(shred);
    return;
  }
  reg->sp = reg_top;
  shred->next_pc = 0;
  shred->code = code;
  shred->instr = code->instr;
}

// A native call: member (constructor or member function) or static.
void call_native(Chip_VM_Shred* shred, bool member, t_CPUWORD ret_size, bool ret_obj) {
  Chip_Shred_Stack* mem = shred->mem;
  Chip_Shred_Stack* reg = shred->reg;
  const t_CPUWORD local_depth = static_cast<t_CPUWORD>(chip_top_word(reg));
  Chip_VM_Code* code = reinterpret_cast<Chip_VM_Code*>(chip_load<t_CPWORD>(reg->sp - 2 * W));
  const t_CPUWORD lift = words(local_depth) * W;
  const t_CPUWORD args = words(code->stack_depth);
  const t_CPUWORD offset = static_cast<t_CPUWORD>(mem->sp - mem->stack) + lift;
  if (overflows(shred, offset, args * W)) {
    chip_stack_overflow(shred);
    return;
  }
  unsigned char* base = mem->stack + offset;
  reg->sp -= 2 * W;
  move_args(reg, base, args, member && code->need_this);

  mem->sp = base;
  Chip_DL_Return ret;
  // A native function that throws is reported and stops the shred (the
  // guarded call does both); the stack is restored and nothing is pushed.
  t_CPBOOL ok;
  if (!member) {
    ok = chip_dl_call_sfun(reinterpret_cast<f_sfun>(code->native_func), base, &ret, shred);
  } else if (code->native_func_type == Chip_VM_Code::NATIVE_CTOR) {
    ok = chip_dl_call_ctor(reinterpret_cast<f_ctor>(code->native_func), object_at(base), base + W,
                           shred);
  } else {
    ok = chip_dl_call_mfun(reinterpret_cast<f_mfun>(code->native_func), object_at(base), base + W,
                           &ret, shred);
  }
  mem->sp = base - lift;
  if (!ok) return;

  switch (ret_size) {
    case 0:
      break;
    case 4:
    case 8:
      // A word and a double are the same 8 bytes of the slot.
      if (ret_obj) chip_hold_temp(shred, reinterpret_cast<Chip_VM_Object*>(ret.v_int));
      chip_push_word(reg, ret.v_int);
      break;
    case 16:
      chip_push_complex(reg, ret.v_complex);
      break;
    default:
      CHIP_CHECK(FALSE);
  }
}

}  // namespace

t_CPBOOL chip_reg_fits(Chip_VM_Shred* shred, Chip_VM_Code* code) {
  const Chip_Shred_Stack* reg = shred->reg;
  const t_CPUWORD used = static_cast<t_CPUWORD>(reg->sp - reg->stack);
  return used <= reg->size && code->reg_depth <= reg->size - used;
}

void chip_stack_overflow(Chip_VM_Shred* shred) {
  chip_runtime_exception(shred, "[chip](VM): Exception StackOverflow in shred[id=%d:%s], PC=[%d]\n",
                         static_cast<int>(shred->id), shred->name.c_str(),
                         static_cast<int>(shred->pc));
}

namespace {

// The two calls the pre-constructor instruction makes, built at program
// start.
Chip_Instr_Func_Call g_pre_ctor_call;
Chip_Instr_Func_Call_Member g_pre_ctor_native_call(0);

// TEMPORARY (until a shred can hold references itself, released when it is
// shut down): a sporked shred's start code that holds its spork references.
// It runs the sporked code's instructions (borrowed, not owned) and holds a
// reference on that code and on each held object; the shred keeps it as its
// start code, so it goes, releasing them, when the shred is shut down.
struct Chip_Spork_Code : Chip_VM_Code {
  explicit Chip_Spork_Code(Chip_VM_Code* code) : m_code(code) {
    m_code->add_ref();
    instr = code->instr;
    num_instr = code->num_instr;
    name = code->name;
    stack_depth = code->stack_depth;
    frame_depth = code->frame_depth;
    reg_depth = code->reg_depth;
    need_this = code->need_this;
    obj_locals = code->obj_locals;
    native_func = code->native_func;
    native_func_type = code->native_func_type;
    keeper = code->keeper;
  }

  ~Chip_Spork_Code() override {
    // The instructions are the sporked code's: not deleted here.
    instr = nullptr;
    num_instr = 0;
    for (Chip_Object* object : m_held) object->release();
    m_code->release();
  }

  Chip_VM_Code* m_code;
  std::vector<Chip_Object*> m_held;
};

}  // namespace

// ---------------------------------------------------------------------------

void Chip_Instr_Func_To_Code::execute(Chip_VM*, Chip_VM_Shred* shred) {
  Chip_Func* func = chip_pop_ptr<Chip_Func>(shred->reg);
  CHIP_CHECK(func != NULL);
  chip_push_ptr(shred->reg, func->code);
}

void Chip_Instr_Func_Call::execute(Chip_VM*, Chip_VM_Shred* shred) {
  call_compiled(shred, held());
}

void Chip_Instr_Func_Call_Member::execute(Chip_VM*, Chip_VM_Shred* shred) {
  const Chip_VM_Code* code =
      reinterpret_cast<const Chip_VM_Code*>(chip_load<t_CPWORD>(shred->reg->sp - 2 * W));
  if (!code->native_func) {
    // A script override of the native function.
    call_compiled(shred, m_obj_offsets.empty() ? nullptr : &m_obj_offsets);
    return;
  }
  call_native(shred, true, m_val, m_ret_obj);
}

void Chip_Instr_Func_Call_Static::execute(Chip_VM*, Chip_VM_Shred* shred) {
  call_native(shred, false, m_val, m_ret_obj);
}

void Chip_Instr_Func_Return::execute(Chip_VM*, Chip_VM_Shred* shred) {
  t_CPUINT return_pc = 0;
  Chip_VM_Code* caller = chip_leave_frame(shred, shred->code, &return_pc);
  shred->next_pc = return_pc;
  shred->code = caller;
  shred->instr = caller->instr;
}

void chip_give_back_frame(Chip_VM_Shred* shred, Chip_VM_Code* code, unsigned char* base,
                          unsigned char* caller_base) {
  const auto* held =
      reinterpret_cast<const Chip_Obj_Offsets*>(chip_header_word(base, CHIP_HDR_HELD));
  if (held) {
    for (t_CPUWORD slot : *held) give_back(shred, object_at(base + slot), caller_base);
  }
  for (t_CPUWORD slot : code->obj_locals) give_back(shred, object_at(base + slot), caller_base);
}

void Chip_Instr_Pre_Constructor::execute(Chip_VM* vm, Chip_VM_Shred* shred) {
  Chip_VM_Code* pre_ctor = m_pre_ctor;
  CHIP_CHECK(pre_ctor != NULL);
  Chip_Shred_Stack* reg = shred->reg;
  chip_push_word(reg, chip_top_word(reg));
  chip_push_ptr(reg, pre_ctor);
  chip_push_word(reg, static_cast<t_CPWORD>(m_stack_offset));
  if (pre_ctor->native_func) {
    g_pre_ctor_native_call.execute(vm, shred);
  } else {
    g_pre_ctor_call.execute(vm, shred);
  }
}

void Chip_Instr_Spork::execute(Chip_VM* vm, Chip_VM_Shred* shred) {
  Chip_Shred_Stack* reg = shred->reg;
  Chip_VM_Code* code = chip_pop_ptr<Chip_VM_Code>(reg);
  Chip_Func* func = chip_pop_ptr<Chip_Func>(reg);
  CHIP_CHECK(func != NULL);
  const bool member = func->is_member;
  Chip_Object* self = member ? chip_pop_ptr<Chip_Object>(reg) : nullptr;
  reg->sp -= m_val;
  const unsigned char* args = reg->sp;
  // The child's register stack must take the arguments, `this` and the
  // function: too many of them is this shred's overflow.
  if (m_val + 2 * W > CHIP_VM_REG_STACK_SIZE) {
    chip_stack_overflow(shred);
    return;
  }

  // The child's start code holds its object arguments and `this` (a plain
  // start when there are none).
  Chip_VM_Code* start = code;
  if (self || !m_obj_offsets.empty()) {
    Chip_Spork_Code* holder = new Chip_Spork_Code(code);
    if (self) holder->m_held.push_back(self);
    for (t_CPUWORD slot : m_obj_offsets) {
      Chip_Object* object = object_at(args + slot);
      if (object) holder->m_held.push_back(object);
    }
    for (Chip_Object* object : holder->m_held) object->add_ref();
    start = holder;
  }
  start->add_ref();
  Chip_VM_Shred* child = vm->spork(start, shred);
  start->release();
  if (!child) {
    // Its stacks could not be allocated (reported): the shred that asked
    // for it runs out of memory.
    chip_out_of_memory(shred);
    return;
  }

  Chip_Shred_Stack* to = child->reg;
  std::memcpy(to->sp, args, m_val);
  to->sp += m_val;
  if (member) chip_push_ptr(to, self);
  chip_push_ptr(to, func);
  // Held by the statement: the child may run and end (and be released)
  // before the statement is done with it.
  chip_hold_temp(shred, child);
  chip_push_ptr(reg, child);
}

void Chip_Instr_Time_Advance::execute(Chip_VM* vm, Chip_VM_Shred* shred) {
  t_CPTIME when = chip_pop_float(shred->reg);
  // A time that is not a number (a NaN time or duration) is no time to wake
  // at, as one in the past is not: the same exception. Its sign is dropped
  // so that the message reads "nan" however the NaN was made.
  if (std::isnan(when) || when < shred->now) {
    chip_runtime_exception(
        shred, "[chip](VM): DestTimeNegativeException: '%.6f' in shred[id=%d:%s], PC=[%d]\n",
        std::isnan(when) ? std::fabs(when) : when, static_cast<int>(shred->id),
        shred->name.c_str(), static_cast<int>(shred->pc));
    return;
  }
  vm->shreduler()->shredule(shred, when);
  shred->is_running = FALSE;
  chip_push_float(shred->reg, when);
}

void Chip_Instr_Event_Wait::execute(Chip_VM* vm, Chip_VM_Shred* shred) {
  Chip_Event* event = chip_pop_ptr<Chip_Event>(shred->reg);
  if (!event) {
    chip_runtime_exception(
        shred, "[chip](VM): NullPointerException: (null Event wait) in shred[id=%d:%s], PC=[%d]\n",
        static_cast<int>(shred->id), shred->name.c_str(), static_cast<int>(shred->pc));
    return;
  }
  event->wait(shred, vm);
}

void chip_release_frames(Chip_VM_Shred* shred) {
  if (!shred->mem || !shred->mem->initialized) return;
  unsigned char* base = shred->mem->sp;
  Chip_VM_Code* code = shred->code;
  // Nothing is returned from a frame that ends with its shred: what it
  // alone held is freed.
  while (code && code != shred->start_code) {
    const auto* held = reinterpret_cast<const Chip_Obj_Offsets*>(chip_header_word(base, CHIP_HDR_HELD));
    if (held) {
      for (t_CPUWORD slot : *held) chip_release_slot(base + slot);
    }
    for (t_CPUWORD slot : code->obj_locals) chip_release_slot(base + slot);
    code = reinterpret_cast<Chip_VM_Code*>(chip_header_word(base, CHIP_HDR_CODE));
    base -= (CHIP_CALL_HEADER_WORDS + static_cast<t_CPUWORD>(chip_header_word(base, CHIP_HDR_SKIP))) * W;
  }
  // The shred's own code: its file-level object variables.
  if (code && code == shred->start_code && base == shred->mem->stack) {
    for (t_CPUWORD slot : code->obj_locals) chip_release_slot(base + slot);
  }
  shred->mem->sp = base;
  shred->code = code;
  if (code) shred->instr = code->instr;
}
